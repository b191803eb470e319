#include "PMLog.h"

namespace {

// Buffer for the expanded path, terminating zero included.
constexpr DWORD kPathBufferSize = 261;

}  // namespace

PMLog::PMLog() : file(INVALID_HANDLE_VALUE), threshold(0) {}

// The owner closes the file with Close; see the header.
PMLog::~PMLog() = default;

void PMLog::Open(std::string path, DWORD newThreshold) {
  // Reopening must not leave the first file locked until the process ends.
  Close();
  threshold = newThreshold;

  // Fail at once on a drive without a medium instead of showing a system dialog.
  const UINT previousMode = SetErrorMode(SEM_FAILCRITICALERRORS);

  char expanded[kPathBufferSize] = {};
  const DWORD needed = ExpandEnvironmentStringsA(path.c_str(), expanded, kPathBufferSize);
  // A path that did not fit would be opened truncated: open nothing instead.
  if (needed != 0 && needed <= kPathBufferSize) {
    file = CreateFileA(expanded, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_ARCHIVE,
                       nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      DWORD sizeHigh = 0;
      const DWORD sizeLow = GetFileSize(file, &sizeHigh);
      if (sizeLow == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) {
        // Without the size there is no end to append at; never overwrite or pad the file.
        CloseHandle(file);
        file = INVALID_HANDLE_VALUE;
      } else {
        // The high part keeps files of 2 GiB and more positioned at their true end.
        LONG moveHigh = static_cast<LONG>(sizeHigh);
        if (SetFilePointer(file, static_cast<LONG>(sizeLow), &moveHigh, FILE_BEGIN) ==
                INVALID_SET_FILE_POINTER &&
            GetLastError() != NO_ERROR) {
          // Writing from the start, and cutting the file there on Close, would destroy it.
          CloseHandle(file);
          file = INVALID_HANDLE_VALUE;
        }
      }
    }
  }

  SetErrorMode(previousMode);
}

void PMLog::WriteError(std::string text, DWORD level) { WriteLine("ERROR: ", text, level); }

void PMLog::WriteInfo(std::string text, DWORD level) { WriteLine("INFO: ", text, level); }

void PMLog::WriteLine(const char* prefix, const std::string& text, DWORD level) {
  if (file == INVALID_HANDLE_VALUE) return;
  if (level >= threshold) return;
  std::string line = prefix;
  line += text;
  line += "\r\n";
  DWORD written = 0;
  WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

void PMLog::Close() {
  if (file == INVALID_HANDLE_VALUE) return;
  SetEndOfFile(file);
  CloseHandle(file);
  file = INVALID_HANDLE_VALUE;
}
