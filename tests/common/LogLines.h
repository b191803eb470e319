// What a log file may hold: whole "ERROR: "/"INFO: " lines, each ending in CR LF.
#ifndef PM_TESTS_LOGLINES_H
#define PM_TESTS_LOGLINES_H

#include <string>

// Whether text is whole log lines only: each "ERROR: " or "INFO: ", a text without a line
// break, and CR LF. Read line by line, so a log of any length can be checked.
inline bool IsWholeLogLines(const std::string& text) {
  size_t at = 0;
  while (at < text.size()) {
    const size_t end = text.find("\r\n", at);
    if (end == std::string::npos) return false;
    const std::string line = text.substr(at, end - at);
    const bool prefixed = line.compare(0, 7, "ERROR: ") == 0 || line.compare(0, 6, "INFO: ") == 0;
    if (!prefixed || line.find_first_of("\r\n") != std::string::npos) return false;
    at = end + 2;
  }
  return true;
}

// How often `what` occurs in text.
inline size_t Occurrences(const std::string& text, const std::string& what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
    ++count;
  }
  return count;
}

#endif
