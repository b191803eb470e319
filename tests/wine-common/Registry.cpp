#include "Registry.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "Programs.h"

namespace winetest {

namespace {

constexpr BYTE kSentinelByte = 0xBD;
constexpr DWORD kSentinelType = 0xDEADBEEF;
constexpr DWORD kQueryBufferSize = 4096;

std::string RootName(HKEY root) {
  if (root == HKEY_LOCAL_MACHINE) return "HKLM\\";
  if (root == HKEY_CURRENT_USER) return "HKCU\\";
  return "HKEY?\\";
}

std::string Describe(HKEY root, const std::string& path, const char* name) {
  return RootName(root) + path + (name != nullptr ? std::string(" value \"") + name + "\"" : "");
}

std::string TypeName(DWORD type) {
  switch (type) {
    case REG_SZ:
      return "REG_SZ";
    case REG_EXPAND_SZ:
      return "REG_EXPAND_SZ";
    case REG_BINARY:
      return "REG_BINARY";
    case REG_DWORD:
      return "REG_DWORD";
    case REG_MULTI_SZ:
      return "REG_MULTI_SZ";
    default:
      return "type " + std::to_string(type);
  }
}

// Hex bytes; printable text is shown beside them.
std::string Show(DWORD type, const Bytes& data) {
  std::string hex;
  char two[4];
  for (BYTE b : data) {
    std::snprintf(two, sizeof two, "%02X", b);
    hex += two;
  }
  std::string shown = TypeName(type) + " [" + std::to_string(data.size()) + "] " + hex;
  if (type == REG_DWORD && data.size() == 4) {
    DWORD value;
    std::memcpy(&value, data.data(), 4);
    shown += " (" + std::to_string(value) + ")";
  } else if (type == REG_SZ || type == REG_EXPAND_SZ) {
    shown += " \"";
    for (BYTE b : data) shown += b == 0 ? std::string("\\0") : std::string(1, static_cast<char>(b));
    shown += "\"";
  }
  return shown;
}

// Where two byte strings first differ, for a long binary value.
std::string FirstDifference(const Bytes& expected, const Bytes& found) {
  size_t at = 0;
  while (at < expected.size() && at < found.size() && expected[at] == found[at]) ++at;
  return "\n  first difference at byte " + std::to_string(at);
}

}  // namespace

RegValue QueryValue(HKEY root, const std::string& path, const char* name) {
  RegValue value;
  HKEY key = nullptr;
  value.status = RegOpenKeyExA(root, path.c_str(), 0, KEY_QUERY_VALUE, &key);
  if (value.status != ERROR_SUCCESS) return value;
  BYTE buffer[kQueryBufferSize];
  std::memset(buffer, kSentinelByte, sizeof buffer);
  DWORD type = kSentinelType;
  DWORD size = sizeof buffer;
  value.status = RegQueryValueExA(key, name, nullptr, &type, buffer, &size);
  RegCloseKey(key);
  if (value.status != ERROR_SUCCESS) return value;
  value.type = type;
  size = size < sizeof buffer ? size : sizeof buffer;
  value.data.assign(buffer, buffer + size);
  for (DWORD i = size; i < sizeof buffer; ++i) {
    if (buffer[i] != kSentinelByte) value.tailUntouched = false;
  }
  return value;
}

std::map<std::string, RegValue> ValuesOf(HKEY root, const std::string& path) {
  std::map<std::string, RegValue> values;
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return values;
  for (DWORD index = 0;; ++index) {
    char name[256];
    DWORD nameSize = sizeof name;
    if (RegEnumValueA(key, index, name, &nameSize, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      break;
    }
    values[std::string(name, nameSize)] = RegValue();
  }
  RegCloseKey(key);
  for (auto& entry : values) entry.second = QueryValue(root, path, entry.first.c_str());
  return values;
}

LONG SetValue(HKEY root, const std::string& path, const char* name, DWORD type, const Bytes& data) {
  HKEY key = nullptr;
  LONG status = RegCreateKeyExA(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                KEY_SET_VALUE, nullptr, &key, nullptr);
  if (status != ERROR_SUCCESS) return status;
  status = RegSetValueExA(key, name, 0, type, data.empty() ? nullptr : data.data(),
                          static_cast<DWORD>(data.size()));
  RegCloseKey(key);
  return status;
}

LONG SetDword(HKEY root, const std::string& path, const char* name, DWORD value) {
  return SetValue(root, path, name, REG_DWORD, DwordBytes(value));
}

LONG SetText(HKEY root, const std::string& path, const char* name, DWORD type,
             const std::string& text) {
  return SetValue(root, path, name, type, TextBytes(text));
}

LONG DeleteValue(HKEY root, const std::string& path, const char* name) {
  HKEY key = nullptr;
  LONG status = RegOpenKeyExA(root, path.c_str(), 0, KEY_SET_VALUE, &key);
  if (status == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
  if (status != ERROR_SUCCESS) return status;
  status = RegDeleteValueA(key, name);
  RegCloseKey(key);
  return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
}

ULONGLONG LastWriteTime(HKEY root, const std::string& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return 0;
  FILETIME written = {};
  const LONG status = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                       nullptr, nullptr, nullptr, nullptr, &written);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return 0;
  return static_cast<ULONGLONG>(written.dwHighDateTime) << 32 | written.dwLowDateTime;
}

LONG DeleteTree(HKEY root, const std::string& path) {
  LONG status = RegDeleteTreeA(root, path.c_str());
  return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
}

std::string ImportRegFile(const std::string& unixPath) {
  ProgramRun run = RunProgram(WindowsDir() + "\\regedit.exe", {"/S", WinePathOf(unixPath)});
  if (!run.started) return "regedit did not start (error " + std::to_string(run.startError) + ")";
  if (!run.ended) return "regedit did not end";
  if (run.exitCode != 0) {
    return "regedit /S " + unixPath + ": exit status " + std::to_string(run.exitCode) + "\n" +
           run.output;
  }
  return "";
}

void ExpectValue(Where where, HKEY root, const std::string& path, const char* name, DWORD type,
                 const Bytes& data) {
  RegValue value = QueryValue(root, path, name);
  if (value.status != ERROR_SUCCESS) {
    ADD_FAILURE_AT(where.file, where.line)
        << Describe(root, path, name) << ": not readable (status " << value.status << "), expected "
        << Show(type, data);
    return;
  }
  if (value.type != type || value.data != data) {
    ADD_FAILURE_AT(where.file, where.line)
        << Describe(root, path, name) << "\n  expected " << Show(type, data) << "\n  found    "
        << Show(value.type, value.data) << FirstDifference(data, value.data);
  }
  if (!value.tailUntouched) {
    ADD_FAILURE_AT(where.file, where.line)
        << Describe(root, path, name) << ": the query wrote past the " << value.data.size()
        << " bytes it reported";
  }
}

void ExpectNoValue(Where where, HKEY root, const std::string& path, const char* name) {
  RegValue value = QueryValue(root, path, name);
  if (value.status != ERROR_FILE_NOT_FOUND) {
    ADD_FAILURE_AT(where.file, where.line)
        << Describe(root, path, name) << ": expected no value, found "
        << (value.status == ERROR_SUCCESS ? Show(value.type, value.data)
                                          : "status " + std::to_string(value.status));
  }
}

void ExpectNoKey(Where where, HKEY root, const std::string& path) {
  if (KeyExists(root, path)) {
    std::string names;
    for (const auto& entry : ValuesOf(root, path)) names += " \"" + entry.first + "\"";
    ADD_FAILURE_AT(where.file, where.line)
        << Describe(root, path, nullptr) << ": expected no key, found one with values:" << names;
  }
}

void ExpectDwordsOnly(Where where, HKEY root, const std::string& path,
                      const std::vector<std::pair<std::string, DWORD>>& values) {
  if (!KeyExists(root, path)) {
    ADD_FAILURE_AT(where.file, where.line) << Describe(root, path, nullptr) << ": no such key";
    return;
  }
  std::map<std::string, RegValue> found = ValuesOf(root, path);
  for (const auto& expected : values) {
    auto it = found.find(expected.first);
    if (it == found.end()) {
      ADD_FAILURE_AT(where.file, where.line) << Describe(root, path, expected.first.c_str())
                                             << ": missing, expected REG_DWORD " << expected.second;
      continue;
    }
    const Bytes want = DwordBytes(expected.second);
    if (it->second.type != REG_DWORD || it->second.data != want || !it->second.tailUntouched) {
      ADD_FAILURE_AT(where.file, where.line)
          << Describe(root, path, expected.first.c_str()) << "\n  expected "
          << Show(REG_DWORD, want) << "\n  found    " << Show(it->second.type, it->second.data);
    }
    found.erase(it);
  }
  for (const auto& extra : found) {
    ADD_FAILURE_AT(where.file, where.line)
        << Describe(root, path, extra.first.c_str()) << ": not expected, found "
        << Show(extra.second.type, extra.second.data);
  }
}

}  // namespace winetest
