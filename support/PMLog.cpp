#include "PMLog.h"

#include <cstdint>
#include <utility>

#include "PMLogPath.h"

namespace {

// Buffer for the expanded path, terminating zero included.
constexpr DWORD kPathBufferSize = 261;

constexpr const char* kLineEnd = "\r\n";

// A symbolic link or junction at the path is opened as itself, never followed; a pipe's
// server, should the path reach one, may identify the caller but never act as it.
constexpr DWORD kOpenFlags = FILE_ATTRIBUTE_ARCHIVE | FILE_FLAG_OPEN_REPARSE_POINT |
                             SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;

// Opening an existing file and creating a missing one are two calls, so that the log knows
// when it created the file; another process may create or delete it in between, so the pair
// is tried a few times.
constexpr int kOpenAttempts = 3;

// For what is only looked at: a folder opens too, followed (the folder a file would be
// created in) or, with kOpenFlags, as itself.
constexpr DWORD kFolderFlags =
    FILE_FLAG_BACKUP_SEMANTICS | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens what is at the path for its attributes alone: no data, so no other opener's sharing
// stops it and it changes nothing. Never follows a link at the end.
HANDLE OpenAttributes(const std::string& path) {
  return CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                     kOpenFlags | kFolderFlags, nullptr);
}

// Why a path is refused; no reason: it is not.
struct Refusal {
  const char* reason = nullptr;
  std::string detail;  // for the debug text: what was found, or which call failed
  explicit operator bool() const { return reason != nullptr; }
};

Refusal Refuse(const char* reason, std::string detail = std::string()) {
  return Refusal{reason, std::move(detail)};
}

Refusal CallFailed(const char* function, DWORD error) {
  return Refuse(log_refusal::kCannotCheck,
                std::string("(") + function + " failed with error " + std::to_string(error) + ")");
}

// The answer of a path function that writes into a buffer of `size` characters and answers
// the length written, or the size needed (terminating zero included) when it does not fit,
// or 0 on failure. The text, or empty with the error.
template <typename Call>
std::string PathAnswer(Call call, DWORD* error) {
  std::string buffer(MAX_PATH + 1, '\0');
  for (int attempt = 0; attempt < 3; ++attempt) {
    const DWORD answer = call(&buffer[0], static_cast<DWORD>(buffer.size()));
    if (answer == 0) {
      *error = GetLastError();
      return std::string();
    }
    // Some answer the length with the terminating zero (GetFinalPathNameByHandleA on Vista):
    // the text ends at its zero.
    if (answer < buffer.size()) return std::string(buffer.c_str());
    buffer.assign(answer + 1, '\0');
  }
  *error = ERROR_INSUFFICIENT_BUFFER;
  return std::string();
}

// GetFinalPathNameByHandleA and SetFileInformationByHandle came with Windows Vista; the
// programs still start on Windows XP, so they are looked up, never imported.
class KernelFunctions {
 public:
  KernelFunctions() = default;
  KernelFunctions(const KernelFunctions&) = delete;
  KernelFunctions& operator=(const KernelFunctions&) = delete;
  ~KernelFunctions() {
    if (module_ != nullptr) FreeLibrary(module_);
  }

  // Loads both; a refusal when either is missing.
  Refusal Load() {
    module_ = LoadLibraryA("kernel32.dll");
    if (module_ == nullptr) {
      return Refuse(log_refusal::kCannotCheck,
                    "(kernel32.dll not loaded, error " + std::to_string(GetLastError()) + ")");
    }
    if (!Find("GetFinalPathNameByHandleA", &finalPathName)) {
      return Refuse(log_refusal::kCannotCheck, "(kernel32.dll has no GetFinalPathNameByHandleA)");
    }
    if (!Find("SetFileInformationByHandle", &setInformation)) {
      return Refuse(log_refusal::kCannotCheck, "(kernel32.dll has no SetFileInformationByHandle)");
    }
    return Refusal();
  }

  decltype(&GetFinalPathNameByHandleA) finalPathName = nullptr;
  decltype(&SetFileInformationByHandle) setInformation = nullptr;

 private:
  template <typename Function>
  bool Find(const char* name, Function* slot) {
    FARPROC found = GetProcAddress(module_, name);
    if (found == nullptr) return false;
    // Through the one function type that converts to every other without a warning.
    *slot = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(found));
    return true;
  }

  HMODULE module_ = nullptr;
};

// A log's path from the text of the policy to the judgement of what it opened.
class LogPath {
 public:
  // Expands the text and refuses what must not be opened at all.
  explicit LogPath(const std::string& text) {
    char expanded[kPathBufferSize] = {};
    const DWORD needed = ExpandEnvironmentStringsA(text.c_str(), expanded, kPathBufferSize);
    if (needed == 0) {
      expanded_ = text;
      const DWORD error = GetLastError();
      failed_ = error != NO_ERROR ? error : static_cast<DWORD>(ERROR_INVALID_DATA);
      return;
    }
    // A path that did not fit would be opened truncated: open nothing instead.
    if (needed > kPathBufferSize) {
      expanded_ = text;
      refused_ = Refuse(log_refusal::kTooLong);
      return;
    }
    expanded_ = expanded;
    // What CreateFileA answers for an empty path.
    if (expanded_.empty()) {
      failed_ = ERROR_PATH_NOT_FOUND;
      return;
    }
    if (IsInDeviceNamespace(expanded_)) {
      refused_ = Refuse(log_refusal::kDeviceNamespace);
      return;
    }
    refused_ = kernel_.Load();
    if (refused_) return;
    // What the open makes of the path: the current folder before a relative one, "." and
    // ".." resolved, slashes made backslashes, trailing dots and blanks dropped.
    DWORD error = 0;
    full_ = PathAnswer(
        [this](LPSTR buffer, DWORD size) {
          return GetFullPathNameA(expanded_.c_str(), size, buffer, nullptr);
        },
        &error);
    if (full_.empty()) refused_ = CallFailed("GetFullPathNameA", error);
  }

  // The expanded text (as written when it could not be expanded).
  const std::string& Expanded() const { return expanded_; }
  // Nothing can be opened, for an ordinary reason (an empty path): the error, or 0.
  DWORD Failed() const { return failed_; }
  // Refused before any open.
  const Refusal& Refused() const { return refused_; }

  // The folder of the file, as a path that opens it.
  std::string Folder() const {
    size_t end = full_.size();
    while (end > 0 && !IsPathSeparator(full_[end - 1])) --end;
    // Keep the separator of a root (C:\, /), without which it names something else.
    const size_t cut = end > 1 && full_[end - 2] != ':' ? end - 1 : end;
    return full_.substr(0, cut);
  }

  // What was opened at the path: a plain disk file with no other name, and with the path as
  // its final path.
  Refusal Judge(HANDLE opened) const {
    SetLastError(NO_ERROR);
    const DWORD type = GetFileType(opened);
    if (type == FILE_TYPE_CHAR) return Refuse(log_refusal::kDevice);
    if (type == FILE_TYPE_PIPE) return Refuse(log_refusal::kPipe);
    if (type != FILE_TYPE_DISK) {
      const DWORD error = GetLastError();
      return error == NO_ERROR ? Refuse(log_refusal::kDevice) : CallFailed("GetFileType", error);
    }
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!GetFileInformationByHandle(opened, &info)) {
      return CallFailed("GetFileInformationByHandle", GetLastError());
    }
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return Refuse(log_refusal::kFolder);
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      return Refuse(log_refusal::kReparsePoint);
    }
    if (info.nNumberOfLinks != 1) return Refuse(log_refusal::kHardLink);
    return JudgeFinalPath(opened, full_);
  }

  // The folder of a file not yet there: reached by its own path, as the file would be.
  Refusal JudgeFolder(HANDLE folder) const { return JudgeFinalPath(folder, Folder()); }

  // Removes the file behind `opened` once it is closed.
  void DeleteOnClose(HANDLE opened) const {
    FILE_DISPOSITION_INFO info = {TRUE};
    kernel_.setInformation(opened, FileDispositionInfo, &info, sizeof info);
  }

 private:
  Refusal JudgeFinalPath(HANDLE opened, const std::string& path) const {
    DWORD error = 0;
    const std::string finalPath = PathAnswer(
        [this, opened](LPSTR buffer, DWORD size) {
          return kernel_.finalPathName(opened, buffer, size,
                                       FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        },
        &error);
    if (finalPath.empty()) return CallFailed("GetFinalPathNameByHandleA", error);
    if (IsFinalPathOf(finalPath, path)) return Refusal();
    // The final path has long names; the policy's path may have short (8.3) ones.
    const std::string longPath = PathAnswer(
        [&path](LPSTR buffer, DWORD size) { return GetLongPathNameA(path.c_str(), buffer, size); },
        &error);
    if (!longPath.empty() && IsFinalPathOf(finalPath, longPath)) return Refusal();
    return Refuse(log_refusal::kFinalPathDiffers, "is " + finalPath);
  }

  std::string expanded_;
  std::string full_;
  DWORD failed_ = 0;
  Refusal refused_;
  KernelFunctions kernel_;
};

void TellRefusal(const LogPath& path, const Refusal& refusal) {
  std::string text = std::string(kRefusalDebugPrefix) + refusal.reason + ": " + path.Expanded();
  if (!refusal.detail.empty()) text += " " + refusal.detail;
  OutputDebugStringA(text.c_str());
}

}  // namespace

PMLog::PMLog()
    : file(INVALID_HANDLE_VALUE),
      threshold(0),
      writeFailed(false),
      startNewLine(false),
      refusalReason(nullptr),
      pending(false) {}

// The owner closes the file with Close; see the header.
PMLog::~PMLog() = default;

// The service writes the log as the local system account, in a folder where users may create
// files. A user who makes the log's name, or a folder on its way, a link to somewhere else
// would have the service append to another file; so only a plain disk file with no other
// name, whose final path is the path asked for, is written. Any doubt counts as a link.
//
// Most passes find nothing to change and have no line due at the administrator's level: the
// file is opened only for the first line that is, so such a pass leaves it alone entirely.
void PMLog::Open(std::string path, DWORD newThreshold) {
  // Reopening must not leave the first file locked until the process ends.
  Close();
  threshold = newThreshold;
  writeFailed = false;
  startNewLine = false;
  refusalReason = nullptr;
  refusedPath.clear();
  pendingPath = std::move(path);
  pending = true;
}

void PMLog::OpenPending() {
  pending = false;
  // Fail at once on a drive without a medium instead of showing a system dialog.
  const UINT previousMode = SetErrorMode(SEM_FAILCRITICALERRORS);
  OpenChecked(pendingPath);
  SetErrorMode(previousMode);
  pendingPath.clear();
}

// Opens the path into `file` when it holds a file the log may write; otherwise tells why not,
// when it is a refusal.
void PMLog::OpenChecked(const std::string& path) {
  const LogPath logPath(path);
  Refusal refusal = logPath.Refused();
  if (!refusal && logPath.Failed() == 0) {
    bool readable = false;
    bool created = false;
    HANDLE opened = OpenForAppending(logPath.Expanded().c_str(), &readable, &created);
    // A folder opens as a file for no one: whether that is why, its attributes tell.
    if (opened == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED) {
      HANDLE attributes = OpenAttributes(logPath.Expanded());
      if (attributes != INVALID_HANDLE_VALUE) {
        refusal = logPath.Judge(attributes);
        CloseHandle(attributes);
      }
    }
    if (opened != INVALID_HANDLE_VALUE) {
      refusal = logPath.Judge(opened);
      if (refusal) {
        // Whatever the path led to keeps what it was: what this open created goes again.
        if (created) logPath.DeleteOnClose(opened);
        CloseHandle(opened);
      } else {
        file = opened;
        // Writing from the start (then cutting the file there on Close) would destroy it.
        if (!PositionAtEnd(readable)) {
          CloseHandle(file);
          file = INVALID_HANDLE_VALUE;
        }
      }
    }
  }
  if (refusal) {
    TellRefusal(logPath, refusal);
    refusalReason = refusal.reason;
    refusedPath = logPath.Expanded();
  }
}

const char* PMLog::RefusalReason() const { return refusalReason; }

const std::string& PMLog::RefusedPath() const { return refusedPath; }

// Read access is asked for too, to see how the file ends. A file the account may append to
// but not read is still opened, for writing only, as it always was. A file this open creates
// may also be deleted through its handle: when what it created turns out to be elsewhere than
// asked, it is removed through the handle, never by its name, which may lead elsewhere again.
HANDLE PMLog::OpenForAppending(const char* path, bool* readable, bool* created) {
  *created = false;
  for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
    HANDLE opened = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                kOpenFlags, nullptr);
    *readable = opened != INVALID_HANDLE_VALUE;
    if (opened == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED) {
      opened = CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, kOpenFlags, nullptr);
    }
    if (opened != INVALID_HANDLE_VALUE) return opened;
    if (GetLastError() != ERROR_FILE_NOT_FOUND) return INVALID_HANDLE_VALUE;

    opened = CreateFileA(path, GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                         kOpenFlags, nullptr);
    if (opened != INVALID_HANDLE_VALUE) {
      *readable = true;
      *created = true;
      return opened;
    }
    if (GetLastError() != ERROR_FILE_EXISTS) return INVALID_HANDLE_VALUE;
  }
  return INVALID_HANDLE_VALUE;
}

LogTarget PMLog::Check(std::string path) {
  const UINT previousMode = SetErrorMode(SEM_FAILCRITICALERRORS);
  const LogPath logPath(path);
  LogTarget target;
  target.path = logPath.Expanded();
  Refusal refusal = logPath.Refused();
  if (!refusal && logPath.Failed() != 0) {
    target.error = logPath.Failed();
  } else if (!refusal) {
    HANDLE opened = OpenAttributes(target.path);
    DWORD error = GetLastError();
    if (opened != INVALID_HANDLE_VALUE) {
      refusal = logPath.Judge(opened);
      CloseHandle(opened);
    } else if (error == ERROR_FILE_NOT_FOUND) {
      // The file would be created: in this folder, reached by its own path.
      opened = CreateFileA(logPath.Folder().c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                           OPEN_EXISTING, kFolderFlags, nullptr);
      error = GetLastError();
      if (opened != INVALID_HANDLE_VALUE) {
        refusal = logPath.JudgeFolder(opened);
        CloseHandle(opened);
      }
    }
    if (opened == INVALID_HANDLE_VALUE) {
      target.error = error;
    } else {
      target.verdict = LogTarget::kWrites;
    }
  }
  if (refusal) {
    target.verdict = LogTarget::kRefused;
    target.reason = refusal.reason;
  }
  SetErrorMode(previousMode);
  return target;
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
    // A last byte the log may read but cannot may end inside a line: a first line written
    // as it is could be glued to a torn one, and one started anew could leave an empty line.
    // The file is let go untouched, as without its size.
    if ((SetFilePointer(file, static_cast<LONG>(last), &lastHigh, FILE_BEGIN) ==
             INVALID_SET_FILE_POINTER &&
         GetLastError() != NO_ERROR) ||
        !ReadFile(file, &byte, 1, &got, nullptr) || got != 1) {
      return false;
    }
    startNewLine = byte != '\n';
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
  if (level >= threshold) return;
  if (pending) OpenPending();
  if (file == INVALID_HANDLE_VALUE || writeFailed) return;
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
  pending = false;
  pendingPath.clear();
  if (file == INVALID_HANDLE_VALUE) return;
  SetEndOfFile(file);
  CloseHandle(file);
  file = INVALID_HANDLE_VALUE;
}
