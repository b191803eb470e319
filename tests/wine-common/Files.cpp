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

}  // namespace

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
