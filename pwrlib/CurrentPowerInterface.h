// The power schemes through the current power-scheme functions of Windows Vista and later,
// reached through GetProcAddress. A scheme there is a GUID and each time-out a setting of its
// own, with one value for mains power (AC) and one for battery (DC), in seconds. The record of
// PwrScheme holds them as the legacy record would (see the mapping in the .cpp):
//
//   PwrScheme's record            setting (subgroup / setting), AC and DC value index
//   VideoTimeoutAc/Dc             display: turn off after
//   IdleTimeoutAc/Dc              sleep: sleep (standby) after; the scheme's one standby
//                                 time-out, the machine's as well as the user's
//   DozeS4TimeoutAc/Dc            sleep: hibernate after (the record keeps the total idle time;
//                                 HibernateIdle/TotalIdle below say what the setting counts)
//   SpindownTimeoutAc/Dc          disk: turn off after
//
// Every other member of the record is zero. There is no separate machine half and no per-user
// copy: whoever may write the active scheme writes all of it, but for a setting Windows' own
// power policy (Group Policy) holds, which only that policy changes.
//
// Indices: the library names schemes by number, the platform by GUID. The first scheme this
// interface meets as the active one is index 0, the next another one 1, and so on; an index
// keeps naming its scheme for the life of the interface, so a scheme is written where it was
// read even if another became active in between.
#ifndef PM_CURRENTPOWERINTERFACE_H
#define PM_CURRENTPOWERINTERFACE_H

#include <vector>

#include "PowerInterface.h"

// The current functions, as GetProcAddress finds them in powrprof.dll; GetPwrCapabilities and
// CallNtPowerInformation (an NTSTATUS, 0 for success) are current too.
struct CurrentPowerFunctions {
  DWORD(WINAPI* getActiveScheme)(HKEY, GUID**);
  DWORD(WINAPI* readAcValueIndex)(HKEY, const GUID*, const GUID*, const GUID*, LPDWORD);
  DWORD(WINAPI* readDcValueIndex)(HKEY, const GUID*, const GUID*, const GUID*, LPDWORD);
  DWORD(WINAPI* writeAcValueIndex)(HKEY, const GUID*, const GUID*, const GUID*, DWORD);
  DWORD(WINAPI* writeDcValueIndex)(HKEY, const GUID*, const GUID*, const GUID*, DWORD);
  DWORD(WINAPI* setActiveScheme)(HKEY, const GUID*);
  DWORD(WINAPI* settingAccessCheck)(POWER_DATA_ACCESSOR, const GUID*);
  BOOLEAN(WINAPI* getPwrCapabilities)(PSYSTEM_POWER_CAPABILITIES);
  LONG(WINAPI* callNtPowerInformation)(POWER_INFORMATION_LEVEL, PVOID, ULONG, PVOID, ULONG);
};

// What the hibernate-after setting counts, in one place. The SDK's comment on the setting and
// the Group Policy text say: the time since the system went idle, so the setting holds the
// policy's total as it is. Should a machine be found that counts it from entering sleep, these
// two are what changes (subtract and add the standby time-out).
ULONG HibernateIdle(ULONG totalSeconds, ULONG standbySeconds);
ULONG TotalIdle(ULONG hibernateIdleSeconds, ULONG standbySeconds);

class CurrentPowerInterface : public PowerInterface {
 public:
  // Looks the functions up in `module`, in the order of the record above; answers the name of
  // the first one missing, or null when all were found.
  static const char* FindFunctions(HMODULE module, CurrentPowerFunctions* functions);

  // `module` (may be null) is freed with the interface.
  CurrentPowerInterface(HMODULE module, const CurrentPowerFunctions& functions);

  const char* Name() const override { return "current"; }
  bool GetCapabilities(SYSTEM_POWER_CAPABILITIES* capabilities) override;
  bool GetActiveScheme(UINT* index) override;
  // The capabilities' S4 and hibernation file (the documented replacement of
  // IsPwrHibernateAllowed): those the asker knows, else asked afresh.
  bool IsHibernateAllowed(const SYSTEM_POWER_CAPABILITIES* known) override;
  // PowerSettingAccessCheck for the active scheme: it may answer that Windows' own power
  // policy chooses the plan (ERROR_ACCESS_DISABLED_BY_POLICY), which locks the choice of plan,
  // not the plan's settings, and counts as yes; any other failure is no.
  bool CanUserWriteScheme() override;
  bool ReadScheme(UINT index, POWER_POLICY* policy) override;
  // Only while the scheme read is still the active one (else kNoLongerActive, and nothing is
  // written): writes the settings that changed since the read and differ from the stored ones,
  // then PowerSetActiveScheme, without which a change to the active scheme does not take
  // effect. A setting left as read is not written, so a change another program made to it
  // meanwhile stays. All or nothing: when a write or the activation is refused, every setting
  // written so far gets its old value back.
  CommitResult WriteAndActivate(UINT* index, POWER_POLICY* policy,
                                const POWER_POLICY& asRead) override;
  // Nothing: since Vista the display's idle setting is the display power-off, and Windows
  // documents the SystemParametersInfo power-off calls as not supported there.
  void ApplyDisplayPowerOff(const POWER_POLICY&) override {}
  // No per-user copy: answers false.
  bool WriteUserCopy(const POWER_POLICY& policy,
                     const std::function<UINT()>& activeScheme) override;

  // Each setting is stored in minutes times 60 and read back as it is: hibernation as the
  // total, whatever the standby time-out; the machine's standby time-out is the user's.
  DWORD GetMinutes(const POWER_POLICY& policy, SettingId setting) const override;
  const char* SetMinutes(POWER_POLICY& policy, SettingId setting, DWORD minutes) const override;
  // The seconds stored are minutes times 60.
  bool Holds(const POWER_POLICY& policy, SettingId setting, DWORD minutes) const override;

  // PowerSettingAccessCheck for the setting's mains or battery value: Windows' own power policy
  // holds it when the answer is ERROR_ACCESS_DISABLED_BY_POLICY (any other answer is not a
  // hold). The value in force is then read where that policy keeps it, below
  // HKEY_LOCAL_MACHINE\SOFTWARE\Policies\Microsoft\Power\PowerSettings\<setting>, value
  // ACSettingIndex or DCSettingIndex (REG_DWORD, seconds; hibernation as the setting counts).
  WindowsPolicyHold HeldByWindowsPolicy(SettingId setting) override;
  // CallNtPowerInformation, SystemPowerPolicyAc or SystemPowerPolicyDc, with no input (an
  // input would ask Windows to apply it).
  bool PolicyInForce(PowerSource source, SYSTEM_POWER_POLICY* policy) override;

 private:
  bool SchemeAt(UINT index, GUID* scheme) const;

  CurrentPowerFunctions fn;
  std::vector<GUID> schemes;  // by index
};

#endif
