// Appends levelled "ERROR: " and "INFO: " lines (CR LF ended) to one plain-text file.
//
// The log never reports its own failures: when the file cannot be opened or written, lines
// are dropped. The file is held without sharing from Open to Close; the destructor does not
// close it.
#ifndef PM_PMLOG_H
#define PM_PMLOG_H

#include <string>

#include "Win32Api.h"

class PMLog {
 public:
  PMLog();
  virtual ~PMLog();

  // Expands environment references in path and opens (or creates) that file for appending.
  // A line is written later only when its level is below threshold. A file this log
  // already holds is closed first.
  void Open(std::string path, DWORD threshold);
  void WriteError(std::string text, DWORD level);
  void WriteInfo(std::string text, DWORD level);
  // Ends the file at the current position and closes it; nothing when no file is open.
  void Close();

 protected:
  HANDLE file;  // INVALID_HANDLE_VALUE when no file is open
  DWORD threshold;

 private:
  void WriteLine(const char* prefix, const std::string& text, DWORD level);
};

#endif
