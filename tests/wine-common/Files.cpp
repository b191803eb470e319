#include "Files.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>

namespace winetest {

namespace {

// Line ends and other control bytes made visible, one line of the file per line.
std::string Visible(const std::string& bytes) {
  std::string shown = "    ";
  for (char c : bytes) {
    if (c == '\r') {
      shown += "\\r";
    } else if (c == '\n') {
      shown += "\\n\n    ";
    } else if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) {
      char code[8];
      std::snprintf(code, sizeof code, "\\x%02X", static_cast<unsigned char>(c));
      shown += code;
    } else {
      shown += c;
    }
  }
  return shown;
}

// The Unix path of a Windows path; empty when Wine cannot say.
std::string UnixPath(const std::string& path) {
  typedef char*(CDECL * UnixFileName)(LPCWSTR);
  auto unixFileName = reinterpret_cast<UnixFileName>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  WCHAR wide[MAX_PATH + 1];
  if (unixFileName == nullptr ||
      MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH + 1) == 0) {
    return std::string();
  }
  char* unixPath = unixFileName(wide);
  if (unixPath == nullptr) return std::string();
  std::string result = unixPath;
  HeapFree(GetProcessHeap(), 0, unixPath);
  return result;
}

// Runs a Unix shell command. Wine starts a program named by a Z: path but hands back no
// handle to wait on, so the shell leaves the file `marker` (a Windows path) once the command
// has succeeded; false when it has not within ten seconds.
bool RunUnixShell(const std::string& command, const std::string& marker) {
  const std::string unixMarker = UnixPath(marker);
  if (unixMarker.empty()) return false;
  std::string commandLine = "sh -c \"" + command + " && : >'" + unixMarker + "'\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  if (!CreateProcessA("Z:\\bin\\sh", &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &info)) {
    return false;
  }
  for (int waited = 0; waited < 10000; waited += 20) {
    if (GetFileAttributesA(marker.c_str()) != INVALID_FILE_ATTRIBUTES) {
      DeleteFileA(marker.c_str());
      return true;
    }
    Sleep(20);
  }
  return false;
}

}  // namespace

bool MakeFolderLink(const std::string& link, const std::string& target) {
  const std::string unixLink = UnixPath(link);
  const std::string unixTarget = UnixPath(target);
  if (unixLink.empty() || unixTarget.empty()) return false;
  return RunUnixShell("ln -s '" + unixTarget + "' '" + unixLink + "'", link + ".made");
}

bool RemoveFolderLink(const std::string& link) {
  const std::string unixLink = UnixPath(link);
  if (unixLink.empty()) return false;
  return RunUnixShell("rm -f '" + unixLink + "'", link + ".gone");
}

std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    const std::string name = found.cFileName;
    if (name != "." && name != "..") names.push_back(name);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return names;
}

bool ReadFileBytes(const std::string& path, std::string* bytes) {
  bytes->clear();
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool good = true;
  char buffer[4096];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr)) {
      good = false;
      break;
    }
    if (got == 0) break;
    bytes->append(buffer, got);
  }
  CloseHandle(file);
  return good;
}

bool WriteFileBytes(const std::string& path, const std::string& bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool good =
      WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
      written == bytes.size();
  return CloseHandle(file) && good;
}

bool DeleteFileIfPresent(const std::string& path) {
  return DeleteFileA(path.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND;
}

bool FileExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void ExpectFileLines(Where where, const std::string& path, const std::vector<std::string>& lines) {
  std::string expected;
  for (const std::string& line : lines) expected += line + "\r\n";
  std::string found;
  if (!ReadFileBytes(path, &found)) {
    ADD_FAILURE_AT(where.file, where.line)
        << path << ": not readable (error " << GetLastError() << "), expected:\n"
        << Visible(expected);
    return;
  }
  if (found != expected) {
    ADD_FAILURE_AT(where.file, where.line) << path << " differs\n  expected:\n"
                                           << Visible(expected) << "\n  found:\n"
                                           << Visible(found);
  }
}

}  // namespace winetest
