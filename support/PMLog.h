// Appends levelled "ERROR: " and "INFO: " lines (CR LF ended) to one plain-text file.
//
// The log never reports its own failures in the file: when the file cannot be opened, lines
// are dropped; after a write that failed or fell short, the rest of that open's lines are
// dropped, so no line is ever glued to a torn one. The file is held without sharing from the
// first line written to Close; the destructor does not close it.
//
// Only a plain file with no other name, reached by exactly the path given, is written. A path
// in a device namespace (\\.\, \\?\) is refused before any open; after the open, a device, a
// pipe, a folder, a link (hard or symbolic, or another reparse point) and a file whose final
// path is not the path given (a linked folder on the way) are refused, and a file this open
// itself created for it is removed again. Each refusal writes one debug text,
// "Log file refused, REASON: PATH" (see kRefusalDebugPrefix and the reasons below).
#ifndef PM_PMLOG_H
#define PM_PMLOG_H

#include <string>

#include "Win32Api.h"

// The refusals, by the word that names them in the debug text and in `Hollin /Status`.
namespace log_refusal {
constexpr const char* kTooLong = "too-long";                  // over 260 characters expanded
constexpr const char* kDeviceNamespace = "device-namespace";  // \\.\, \\?\ or \??\ paths
constexpr const char* kDevice = "device";                     // a character device (NUL, COM1)
constexpr const char* kPipe = "pipe";
constexpr const char* kFolder = "folder";
constexpr const char* kReparsePoint = "reparse-point";  // a symbolic link or junction, itself
constexpr const char* kHardLink = "hard-link";          // a file with other names
constexpr const char* kFinalPathDiffers = "final-path-differs";  // reached through a link
constexpr const char* kCannotCheck = "cannot-check";  // the checks themselves could not be made
}  // namespace log_refusal

constexpr const char* kRefusalDebugPrefix = "Log file refused, ";

// What a log opened on a path would do, as PMLog::Check tells it.
struct LogTarget {
  enum Verdict {
    kWrites,      // the path leads to a file the log may write, or to where it would create one
    kRefused,     // the log would refuse the path: `reason` is one of log_refusal
    kCannotOpen,  // an ordinary failure (a missing folder, say): `error` is Windows' error
  };
  Verdict verdict = kCannotOpen;
  std::string path;  // the path, environment references expanded (as written when too long)
  const char* reason = nullptr;
  DWORD error = 0;
};

class PMLog {
 public:
  PMLog();
  virtual ~PMLog();

  // Names the file for appending and the threshold: a line is written only when its level is
  // below threshold. A file this log already holds is closed first. Nothing is touched until
  // the first line that is due: then the path's environment references are expanded and that
  // file is opened (or created) when it is a file the log may write (see above), once for this
  // Open, so a log whose lines all fall at or above the threshold never touches the file.
  // When the file's last byte is not a line feed (a line torn by an earlier failed write), the
  // first line written starts on a line of its own.
  void Open(std::string path, DWORD threshold);
  void WriteError(std::string text, DWORD level);
  void WriteInfo(std::string text, DWORD level);
  // Ends the file at the current position and closes it; nothing when no file was opened.
  void Close();
  // Why the last Open refused its path (one of log_refusal), null when it did not; and the path
  // as it was refused (expanded).
  const char* RefusalReason() const;
  const std::string& RefusedPath() const;

  // Tells what Open would do with path, with Open's own checks, without creating, changing or
  // holding anything: an existing file is opened for its attributes only (which no other
  // opener's sharing stops), and for a missing one its folder is checked. Writes no debug text.
  // Whether the account may write the file is not tried.
  static LogTarget Check(std::string path);

 protected:
  HANDLE file;  // INVALID_HANDLE_VALUE when no file is open
  DWORD threshold;
  bool writeFailed;   // a write of this open failed or fell short: write no more
  bool startNewLine;  // the file ends inside a line: end it before the next line
  const char* refusalReason;
  std::string refusedPath;

 private:
  // Opens the file Open named, at the first line due.
  void OpenPending();
  void OpenChecked(const std::string& path);

  bool pending;             // Open named a file that no line has needed yet
  std::string pendingPath;  // that file's path, as Open got it
  static HANDLE OpenForAppending(const char* path, bool* readable, bool* created);
  bool PositionAtEnd(bool readable);
  void WriteLine(const char* prefix, const std::string& text, DWORD level);
};

#endif
