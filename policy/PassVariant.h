// What sets the service's pass apart from the logon tool's. Both programs share the pass in
// PolicyPass.cpp; each fixes its variant at build time through its own RunPolicyUpdate.
#ifndef PM_PASSVARIANT_H
#define PM_PASSVARIANT_H

#include "SettingTable.h"
#include "Win32Api.h"

struct PassVariant {
  // Whether the pass writes "Reached beginning/end of PM Update" to the debugger output.
  bool writesDebugTexts;
  // The hive that receives the backup key.
  HKEY backupRoot;
  // Which of the setting table's announcements the pass writes before a change (level 10).
  const char* Setting::*announcement;
  // The program that runs the pass, as its events name it.
  const char* eventProgram;
};

// The service's pass: in the service's account, whose per-user scheme is the default user's.
extern const PassVariant kServicePass;
// The logon tool's pass: in the account of the user who logs on.
extern const PassVariant kLogonPass;

// The pass itself, for either variant.
void RunPolicyPass(const PassVariant& variant);

#endif
