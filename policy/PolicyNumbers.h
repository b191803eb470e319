// Reads the numbers of the policy for one pass and reports each one that is stored as
// something other than a number (a time-out written as text, for instance), or that the
// registry would not give: such a value reads as if it were absent, and the administrator
// should learn why it had no effect.
#ifndef PM_POLICYNUMBERS_H
#define PM_POLICYNUMBERS_H

#include <set>
#include <string>
#include <vector>

#include "PMLog.h"
#include "PassEvents.h"
#include "RegKey.h"
#include "Win32Api.h"

class PolicyNumbers {
 public:
  // Reports go to log, but only once Release is called: the log's own switches are read
  // before it opens, and their reports must not be lost. Each report is also a warning event.
  PolicyNumbers(PMLog& log, PassEvents& events);

  // The value as RegKey::GetDwordValue reads it. A value that exists but holds no number, or
  // that cannot be read (its key exists but may not be read, say), is reported once per pass,
  // however often it is read.
  DWORD Read(RegKey& key, const char* name);
  // Writes the reports held so far; later ones are written as they are found.
  void Release();

 private:
  PMLog& log;
  PassEvents& events;
  bool holding;
  std::set<std::string> reported;
  std::vector<std::string> waiting;
};

#endif
