// The power schemes through the legacy power-profile functions, the only ones Windows 2000 and
// XP have: each question and each step is one call, as the library has always made them.
//
// The record is the platform's own POWER_POLICY, kept as the functions read and write it:
// every time-out in seconds; hibernation as the delay after entering standby (the library's
// total is the user standby time-out plus that delay); a machine half of its own with its own
// standby (doze) time-out; and, in each user's registry, a copy of the user half that a user
// who may not write schemes can still write.
#ifndef PM_LEGACYPOWERINTERFACE_H
#define PM_LEGACYPOWERINTERFACE_H

#include "PowerInterface.h"

// What EnumPwrSchemes calls for each scheme: its index, the sizes in bytes and the wide texts
// of its name and description, its records and the caller's value; FALSE stops it.
using SchemeEnumCallback = BOOLEAN(CALLBACK*)(UINT, DWORD, LPWSTR, DWORD, LPWSTR, PPOWER_POLICY,
                                              LPARAM);

// The legacy functions, as GetProcAddress finds them in powrprof.dll.
struct LegacyPowerFunctions {
  BOOLEAN(WINAPI* getActivePwrScheme)(PUINT);
  BOOLEAN(WINAPI* readPwrScheme)(UINT, PPOWER_POLICY);
  BOOLEAN(WINAPI* writePwrScheme)(PUINT, LPWSTR, LPWSTR, PPOWER_POLICY);
  BOOLEAN(WINAPI* setActivePwrScheme)(UINT, PGLOBAL_POWER_POLICY, PPOWER_POLICY);
  BOOLEAN(WINAPI* enumPwrSchemes)(SchemeEnumCallback, LPARAM);
  BOOLEAN(WINAPI* isPwrHibernateAllowed)(void);
  BOOLEAN(WINAPI* canUserWritePwrScheme)(void);
  BOOLEAN(WINAPI* getPwrCapabilities)(PSYSTEM_POWER_CAPABILITIES);
};

class LegacyPowerInterface : public PowerInterface {
 public:
  // Looks the functions up in `module`, in the order of the record above; answers the name of
  // the first one missing, or null when all were found.
  static const char* FindFunctions(HMODULE module, LegacyPowerFunctions* functions);

  // `module` (may be null) is freed with the interface.
  LegacyPowerInterface(HMODULE module, const LegacyPowerFunctions& functions);

  const char* Name() const override { return "legacy"; }
  bool GetCapabilities(SYSTEM_POWER_CAPABILITIES* capabilities) override;
  bool GetActiveScheme(UINT* index) override;
  // IsPwrHibernateAllowed, asked afresh; the capabilities play no part.
  bool IsHibernateAllowed(const SYSTEM_POWER_CAPABILITIES* known) override;
  bool CanUserWriteScheme() override;
  bool ReadScheme(UINT index, POWER_POLICY* policy) override;
  // The whole record, whatever changed: the functions store a scheme whole. WritePwrScheme
  // needs the scheme's name (and takes its description): both are the scheme's own, as
  // EnumPwrSchemes gives them, so that the commit keeps them. A scheme whose name cannot be had
  // is not written.
  CommitResult WriteAndActivate(UINT* index, POWER_POLICY* policy,
                                const POWER_POLICY& asRead) override;
  // SystemParametersInfoA: the power-off phase on, and its time-out the mains monitor
  // time-out in whole minutes, persisted without a broadcast. (Windows documents both as
  // supported on Windows XP for 32-bit programs only, and not at all since Vista; they are
  // kept on this interface alone, as the library has always made them, and their results are
  // not looked at.)
  void ApplyDisplayPowerOff(const POWER_POLICY& policy) override;
  // HKEY_CURRENT_USER\Control Panel\PowerCfg\PowerPolicies\<active index>, value "Policies":
  // opened, never created, so an unknown active index writes nothing. Always answers true.
  bool WriteUserCopy(const POWER_POLICY& policy,
                     const std::function<UINT()>& activeScheme) override;

  // Hibernation reads as the standby time-out plus the delay (each in whole minutes; no delay
  // is never) and is stored as the total minus the standby time-out: a nonzero total not longer
  // than a nonzero standby time-out has no delay to store and is refused. A standby time-out
  // also sets the idle action: sleep, or none for 0 (never).
  DWORD GetMinutes(const POWER_POLICY& policy, SettingId setting) const override;
  const char* SetMinutes(POWER_POLICY& policy, SettingId setting, DWORD minutes) const override;
  // The seconds the setter would store are those stored (for hibernation, the delay after
  // standby as it would be counted from the standby time-out now); a total the setter would
  // refuse is not held.
  bool Holds(const POWER_POLICY& policy, SettingId setting, DWORD minutes) const override;

  // Windows 2000/XP know no power policy of their own over a scheme's settings, and the
  // functions tell nothing of the policy in force.
  WindowsPolicyHold HeldByWindowsPolicy(SettingId) override { return {}; }
  bool PolicyInForce(PowerSource, SYSTEM_POWER_POLICY*) override { return false; }

 private:
  LegacyPowerFunctions fn;
};

#endif
