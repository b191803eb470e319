#include "PMLog.h"

#include <cstdint>

namespace {

// Buffer for the expanded path, terminating zero included.
constexpr DWORD kPathBufferSize = 261;

constexpr const char* kLineEnd = "\r\n";

// A symbolic link or junction at the path is opened as itself, never followed.
constexpr DWORD kOpenFlags = FILE_ATTRIBUTE_ARCHIVE | FILE_FLAG_OPEN_REPARSE_POINT;

}  // namespace

PMLog::PMLog()
    : file(INVALID_HANDLE_VALUE), threshold(0), writeFailed(false), startNewLine(false) {}

// The owner closes the file with Close; see the header.
PMLog::~PMLog() = default;

void PMLog::Open(std::string path, DWORD newThreshold) {
  // Reopening must not leave the first file locked until the process ends.
  Close();
  threshold = newThreshold;
  writeFailed = false;
  startNewLine = false;

  // Fail at once on a drive without a medium instead of showing a system dialog.
  const UINT previousMode = SetErrorMode(SEM_FAILCRITICALERRORS);

  char expanded[kPathBufferSize] = {};
  const DWORD needed = ExpandEnvironmentStringsA(path.c_str(), expanded, kPathBufferSize);
  // A path that did not fit would be opened truncated: open nothing instead.
  if (needed != 0 && needed <= kPathBufferSize) {
    bool readable = false;
    file = OpenForAppending(expanded, &readable);
    // Nothing touches a file that is not the log's own, and writing from the start (then
    // cutting the file there on Close) would destroy it.
    if (file != INVALID_HANDLE_VALUE && (!IsOwnFile(file) || !PositionAtEnd(readable))) {
      CloseHandle(file);
      file = INVALID_HANDLE_VALUE;
    }
  }

  SetErrorMode(previousMode);
}

// Read access is asked for too, to see how the file ends. A file the account may append to
// but not read is still opened, for writing only, as it always was.
HANDLE PMLog::OpenForAppending(const char* path, bool* readable) {
  HANDLE opened =
      CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, kOpenFlags, nullptr);
  *readable = opened != INVALID_HANDLE_VALUE;
  if (opened == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED) {
    opened = CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, kOpenFlags, nullptr);
  }
  return opened;
}

// The service writes the log as the local system account, in a folder where users may create
// files. A user who makes the log's name a link to another file (a hard link, a symbolic
// link) would have the service append to that file; so only a plain disk file with no other
// name is written. A file the open has just created is one. Any doubt counts as a link.
bool PMLog::IsOwnFile(HANDLE opened) {
  if (GetFileType(opened) != FILE_TYPE_DISK) return false;
  BY_HANDLE_FILE_INFORMATION info = {};
  if (!GetFileInformationByHandle(opened, &info)) return false;
  constexpr DWORD kNotAPlainFile = FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY;
  return (info.dwFileAttributes & kNotAPlainFile) == 0 && info.nNumberOfLinks == 1;
}

// Moves the write position to the end of the file; false when there is no end to go to.
// Notes on the way whether the last byte ends a line, when the handle may read it; otherwise
// the end is taken as it is.
bool PMLog::PositionAtEnd(bool readable) {
  DWORD sizeHigh = 0;
  const DWORD sizeLow = GetFileSize(file, &sizeHigh);
  // Without the size there is no end to append at; never overwrite or pad the file.
  if (sizeLow == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return false;
  const uint64_t size = static_cast<uint64_t>(sizeHigh) << 32 | sizeLow;

  if (readable && size > 0) {
    const uint64_t last = size - 1;
    LONG lastHigh = static_cast<LONG>(last >> 32);
    char byte = '\n';
    DWORD got = 0;
    // A failure here leaves the end as it is.
    if ((SetFilePointer(file, static_cast<LONG>(last), &lastHigh, FILE_BEGIN) !=
             INVALID_SET_FILE_POINTER ||
         GetLastError() == NO_ERROR) &&
        ReadFile(file, &byte, 1, &got, nullptr) && got == 1) {
      startNewLine = byte != '\n';
    }
  }

  // The high part keeps files of 2 GiB and more positioned at their true end.
  LONG moveHigh = static_cast<LONG>(sizeHigh);
  return SetFilePointer(file, static_cast<LONG>(sizeLow), &moveHigh, FILE_BEGIN) !=
             INVALID_SET_FILE_POINTER ||
         GetLastError() == NO_ERROR;
}

void PMLog::WriteError(std::string text, DWORD level) { WriteLine("ERROR: ", text, level); }

void PMLog::WriteInfo(std::string text, DWORD level) { WriteLine("INFO: ", text, level); }

void PMLog::WriteLine(const char* prefix, const std::string& text, DWORD level) {
  if (file == INVALID_HANDLE_VALUE || writeFailed) return;
  if (level >= threshold) return;
  std::string line = startNewLine ? kLineEnd : "";
  line += prefix;
  line += text;
  line += kLineEnd;
  DWORD written = 0;
  // A full disk leaves part of a line behind; whatever followed would be glued to it.
  if (!WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) ||
      written != line.size()) {
    writeFailed = true;
    return;
  }
  startNewLine = false;
}

void PMLog::Close() {
  if (file == INVALID_HANDLE_VALUE) return;
  SetEndOfFile(file);
  CloseHandle(file);
  file = INVALID_HANDLE_VALUE;
}
