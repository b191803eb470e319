// The compliance check: what an update pass would find and do on this machine, for the account
// that asks, without doing any of it. It reads the policy and the active scheme as a pass does
// and applies the pass's changes to a copy of the scheme held in memory, which is never
// committed: no log, no backup, no scheme and no display setting is written.
#ifndef PM_POLICYSTATUS_H
#define PM_POLICYSTATUS_H

#include <string>

#include "PMLog.h"
#include "PolicySettings.h"
#include "PowerInterface.h"
#include "Win32Api.h"

// One number of the policy as read: `value` is what the pass works with (the unset reading
// when the value is absent or holds no number).
struct PolicyReading {
  enum Kind { kNotRead, kNumber, kAbsent, kNotANumber, kUnreadable };
  Kind kind = kNotRead;
  DWORD value = 0;
  LONG error = ERROR_SUCCESS;  // the registry's error, for kUnreadable
};

// What a pass would do with one setting.
enum class SettingVerdict {
  kUnknown,  // the pass would not get as far as the settings
  kSame,     // the scheme holds the policy
  kIgnored,  // the policy is absent, holds no number or is out of range
  kChange,   // the pass would change it
  kRefused,  // the pass would try, and the scheme would refuse
  // The policy asks for "never" of a state the machine cannot enter: already so.
  kNoSuchState,
  // Windows' own power policy holds the setting at the policy's value: complies.
  kHeld,
  // Windows' own power policy holds the setting at another value (or one that cannot be
  // read): no pass can change it.
  kHeldElsewhere,
};

struct SettingStatus {
  const char* policyValue = nullptr;  // the policy value's name
  PolicyReading policy;
  bool schemeRead = false;
  DWORD scheme = 0;  // minutes, as the active scheme holds it now
  SettingVerdict verdict = SettingVerdict::kUnknown;
  std::string refusal;     // the scheme's failure text, for kRefused
  WindowsPolicyHold hold;  // for kHeld and kHeldElsewhere
};

// What Windows applies now on one power source (the current interface's
// CallNtPowerInformation), in seconds as Windows reports them.
struct AppliedPolicy {
  bool read = false;
  DWORD video = 0;      // VideoTimeout
  DWORD idle = 0;       // IdleTimeout: sleep
  DWORD hibernate = 0;  // DozeS4Timeout
  DWORD disk = 0;       // SpindownTimeout
};

// Why the check cannot tell, in the order a pass would stop.
enum class CannotTell {
  kNo,                  // it can
  kNoRoot,              // no settings root counts: a pass does nothing
  kVersionRejected,     // a pass stops at the layout version
  kKeyUnreadable,       // a key of the settings exists but may not be read: a pass fails
  kSchemeNameRejected,  // a pass stops at the settings scheme's name
  kNoPowerInterface,    // the machine offers no power-scheme interface
  kNoActiveScheme,      // the platform cannot say which scheme is active
  kSchemeUnreadable,    // the active scheme cannot be read
  kValueNotANumber,     // a number the pass reads holds none: the pass logs an error
  kValueUnreadable,     // a number the pass reads cannot be read: the pass logs an error
};

// The log a pass would write.
struct LogStatus {
  enum Kind {
    kNotRead,  // no root counts
    kOff,      // "Log" is 0, or "LogFile" is empty or absent
    kOn,       // `target` tells what becomes of "LogFile"
  };
  Kind kind = kNotRead;
  LogTarget target;
};

struct PolicyStatus {
  const char* root = nullptr;       // below HKEY_LOCAL_MACHINE; null when none counts
  const char* powerInterface = "";  // "legacy", "current" or "none"
  bool powerInterfaceFound = false;
  PolicyReading version;
  bool versionAccepted = false;
  bool schemeNameRead = false;
  std::string schemeName;
  bool schemeNameAccepted = false;
  PolicyReading securityBypass;
  bool securityBypassOn = false;
  PolicyReading forceStandby;
  bool forceStandbyOn = false;
  bool activeSchemeKnown = false;
  bool schemeRead = false;
  bool mayWriteScheme = false;
  SettingStatus settings[kSettingCount];
  LogStatus log;
  AppliedPolicy appliedAc;
  AppliedPolicy appliedDc;
  // A key of the settings that exists but may not be read, as HKEY_LOCAL_MACHINE\..., with the
  // registry's error: the root or Options, and the settings scheme's key.
  std::string unreadableKey;
  LONG unreadableKeyError = ERROR_SUCCESS;
  std::string schemeKeyUnreadable;
  LONG schemeKeyUnreadableError = ERROR_SUCCESS;
  CannotTell cannotTell = CannotTell::kNo;
  // For kKeyUnreadable: the key as HKEY_LOCAL_MACHINE\... and the registry's error; for the
  // two value kinds: the first such value's name (and error), in the order a pass reads them.
  std::string cannotTellWhat;
  LONG cannotTellError = ERROR_SUCCESS;

  // Whether a pass would change a setting or try and be refused.
  bool Differs() const;
  // Whether Windows' own power policy holds a setting at another value than this policy's.
  bool HeldElsewhere() const;
};

PolicyStatus CheckPolicyStatus();

#endif
