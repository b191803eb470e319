// The power schemes through the current power-scheme functions of Windows Vista and later,
// reached through GetProcAddress (never imported: a program that imports them does not start
// on Windows XP). A scheme there is a GUID and each time-out a setting of its own, in seconds:
//
//   PwrScheme's record            setting (subgroup / setting), AC and DC value index
//   VideoTimeoutAc/Dc             display: turn off after
//   IdleTimeoutAc/Dc              sleep: sleep (standby) after
//   DozeS4TimeoutAc/Dc            sleep: hibernate after (the record keeps the total idle time;
//                                 HibernateIdle/TotalIdle below say what the setting counts)
//   SpindownTimeoutAc/Dc          disk: turn off after
//
// Every other member of the record is zero. There is no separate machine half and no per-user
// copy: whoever may write the active scheme writes all of it.
//
// Indices: the library names schemes by number, the platform by GUID. The first scheme this
// process meets as the active one is index 0, the next another one 1, and so on; an index
// keeps naming its scheme for the life of the process, so a scheme is written where it was
// read even if another became active in between.
#ifndef PM_CURRENTPOWERINTERFACE_H
#define PM_CURRENTPOWERINTERFACE_H

#include <vector>

#include "PowerInterface.h"

// The current functions, as GetProcAddress finds them in powrprof.dll.
struct CurrentPowerFunctions {
  DWORD(WINAPI* getActiveScheme)(HKEY, GUID**);
  DWORD(WINAPI* readAcValueIndex)(HKEY, const GUID*, const GUID*, const GUID*, LPDWORD);
  DWORD(WINAPI* readDcValueIndex)(HKEY, const GUID*, const GUID*, const GUID*, LPDWORD);
  DWORD(WINAPI* writeAcValueIndex)(HKEY, const GUID*, const GUID*, const GUID*, DWORD);
  DWORD(WINAPI* writeDcValueIndex)(HKEY, const GUID*, const GUID*, const GUID*, DWORD);
  DWORD(WINAPI* setActiveScheme)(HKEY, const GUID*);
  DWORD(WINAPI* settingAccessCheck)(POWER_DATA_ACCESSOR, const GUID*);
};

// What the hibernate-after setting counts, in one place. The SDK's comment on the setting and
// the Group Policy text say: the time since the system went idle, so the setting holds the
// policy's total as it is. Should a machine be found that counts it from entering sleep, these
// two are what changes (subtract and add the standby time-out).
ULONG HibernateIdle(ULONG totalSeconds, ULONG standbySeconds);
ULONG TotalIdle(ULONG hibernateIdleSeconds, ULONG standbySeconds);

class CurrentPowerInterface : public PowerInterface {
 public:
  explicit CurrentPowerInterface(const CurrentPowerFunctions& functions);

  bool GetActiveScheme(UINT* index) override;
  // The capabilities' S4 and hibernation file, asked afresh (the documented replacement of
  // IsPwrHibernateAllowed).
  bool IsHibernateAllowed() override;
  // Whether PowerSettingAccessCheck lets this user change the active scheme: no group policy
  // holds it and the power policy's permissions allow it.
  bool CanUserWriteScheme() override;
  bool ReadScheme(UINT index, POWER_POLICY* policy) override;
  // Writes the settings that differ from the stored ones, then PowerSetActiveScheme, without
  // which a change to the active scheme does not take effect. All or nothing: when a write or
  // the activation is refused, every setting written so far gets its old value back.
  CommitResult WriteAndActivate(UINT* index, POWER_POLICY* policy) override;

  bool KeepsHibernationTotal() const override { return true; }
  bool HasMachineStandby() const override { return false; }
  bool HasPerUserCopy() const override { return false; }
  const char* Name() const override { return "current"; }

 private:
  DWORD Read(const GUID& scheme, const GUID& subgroup, const GUID& setting, bool ac,
             DWORD* value) const;
  DWORD Write(const GUID& scheme, const GUID& subgroup, const GUID& setting, bool ac,
              DWORD value) const;
  bool SchemeAt(UINT index, GUID* scheme) const;

  CurrentPowerFunctions fn;
  std::vector<GUID> schemes;  // by index
};

#endif
