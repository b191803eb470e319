// Reads the numbers of the policy for one pass and reports each one that is stored as
// something other than a number (a time-out written as text, for instance): such a value
// reads as if it were absent, and the administrator should learn why it had no effect.
#ifndef PM_POLICYNUMBERS_H
#define PM_POLICYNUMBERS_H

#include <set>
#include <string>
#include <vector>

#include "PMLog.h"
#include "RegKey.h"
#include "Win32Api.h"

class PolicyNumbers {
 public:
  // Reports go to log, but only once Release is called: the log's own switches are read
  // before it opens, and their reports must not be lost.
  explicit PolicyNumbers(PMLog& log);

  // The value as RegKey::GetDwordValue reads it. A value that exists but holds no number is
  // reported once per pass, however often it is read.
  DWORD Read(RegKey& key, const char* name);
  // Writes the reports held so far; later ones are written as they are found.
  void Release();

 private:
  PMLog& log;
  bool holding;
  std::set<std::string> reported;
  std::vector<std::string> waiting;
};

#endif
