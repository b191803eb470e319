// Appends levelled "ERROR: " and "INFO: " lines (CR LF ended) to one plain-text file.
//
// The log never reports its own failures: when the file cannot be opened, or the path names
// something other than a plain file of its own (a link, a directory, a device), lines are
// dropped; after a write that failed or fell short, the rest of that open's lines are
// dropped, so no line is ever glued to a torn one. The file is held without sharing from Open
// to Close; the destructor does not close it.
#ifndef PM_PMLOG_H
#define PM_PMLOG_H

#include <string>

#include "Win32Api.h"

class PMLog {
 public:
  PMLog();
  virtual ~PMLog();

  // Expands environment references in path and opens (or creates) that file for appending;
  // a link at the path is not followed, and holds no log. A line is written later only when
  // its level is below threshold. A file this log already holds is closed first. When the
  // file's last byte is not a line feed (a line torn by an earlier failed write), the first
  // line written starts on a line of its own.
  void Open(std::string path, DWORD threshold);
  void WriteError(std::string text, DWORD level);
  void WriteInfo(std::string text, DWORD level);
  // Ends the file at the current position and closes it; nothing when no file is open.
  void Close();

 protected:
  HANDLE file;  // INVALID_HANDLE_VALUE when no file is open
  DWORD threshold;
  bool writeFailed;   // a write of this open failed or fell short: write no more
  bool startNewLine;  // the file ends inside a line: end it before the next line

 private:
  HANDLE OpenForAppending(const char* path, bool* readable);
  static bool IsOwnFile(HANDLE opened);
  bool PositionAtEnd(bool readable);
  void WriteLine(const char* prefix, const std::string& text, DWORD level);
};

#endif
