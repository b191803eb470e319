// What one update pass reports to the event log (the events of support/PMEvents.h). The pass
// tells it what happened as it goes; at its end one event says how the pass went: a failure
// with the text the log got, else the time-outs it changed, else nothing at all (most passes
// find nothing to change). Warnings are reported when they are met, each at most once per
// process. Every event names the program that ran the pass and the user it ran as.
//
// A report that fails changes nothing of the pass (see PMEventReporter).
#ifndef PM_PASSEVENTS_H
#define PM_PASSEVENTS_H

#include <string>
#include <vector>

#include "PMEventReporter.h"
#include "Win32Api.h"

class PassEvents {
 public:
  // `program`: "service" or "logon tool", as the events name it.
  explicit PassEvents(const char* program);

  // A time-out the pass changed: its policy value's name, its minutes when the pass began and
  // the minutes it was set to.
  void Changed(const char* setting, DWORD before, DWORD after);
  // The commit stored only the scheme's user half (Windows 2000/XP, committed through the
  // security bypass): the hibernation time-outs, kept in the machine half, did not change.
  void MachineHalfNotStored();
  // The pass failed with the text its log gets; the end reports this instead of any change.
  void Failed(const std::string& text);

  // Warnings.
  // Windows' own power policy holds the setting at `heldMinutes`.
  void HeldByWindowsPolicy(const char* setting, DWORD heldMinutes, DWORD policyMinutes);
  // The computer cannot enter `state` ("standby", "hibernation"), which the nonzero policy
  // time-out asks for.
  void StateNotAvailable(const char* setting, DWORD policyMinutes, const char* state);
  // The log file named by the policy is refused, for the reason given.
  void LogTargetRefused(const std::string& path, const std::string& reason);
  // A policy value is of type `type`, not the type it must have (a number or a text).
  void PolicyValueWrongType(const std::string& key, const std::string& name, DWORD type);
  // A policy value cannot be read; `error` is the registry's answer.
  void PolicyValueUnreadable(const std::string& key, const std::string& name, LONG error);

  // The end of the pass: reports the failure, else the changes, else nothing.
  void End();

  // A registry type as administrators read it: "REG_SZ", ..., or the number.
  static std::string TypeName(DWORD type);

 private:
  struct Change {
    std::string setting;
    DWORD before;
    DWORD after;
  };

  void Report(const PMEvent& event, std::vector<std::string> facts);
  // The user the pass runs as, asked once; "(unknown)" when Windows does not say.
  const std::string& User();

  const char* program_;
  std::string user_;
  bool userAsked_ = false;
  std::vector<Change> changes_;
  bool failed_ = false;
  std::string failure_;
  PMEventReporter reporter_;
};

#endif
