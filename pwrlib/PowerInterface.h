// How the power-scheme library reaches the machine's power schemes. Windows offers two
// interfaces, both in powrprof.dll and both reached through GetProcAddress (the programs import
// nothing from it, so they start on a Windows that lacks either):
//
//   LegacyPowerInterface   GetActivePwrScheme, ReadPwrScheme, WritePwrScheme, ... : Windows
//                          2000 and XP, where they are all there is
//   CurrentPowerInterface  PowerGetActiveScheme, PowerRead/WriteACValueIndex and DC,
//                          PowerSetActiveScheme, PowerSettingAccessCheck,
//                          CallNtPowerInformation: every Windows since Vista, where the legacy
//                          ones are deprecated or gone
//
// PowerInterfaceProbe chooses one. On both, PwrScheme keeps the scheme in its POWER_POLICY
// record; each interface owns the rules by which that record holds a time-out, and gets and
// sets one setting of it in whole minutes.
#ifndef PM_POWERINTERFACE_H
#define PM_POWERINTERFACE_H

#include <functional>

#include "SettingTable.h"
#include "Win32Api.h"

// Minutes and the seconds the record keeps: unsigned 32-bit, a product wraps around, a
// quotient drops the remainder.
inline DWORD ToSeconds(DWORD minutes) { return minutes * 60; }
inline DWORD ToMinutes(ULONG seconds) { return seconds / 60; }

// Whether Windows' own power policy (Group Policy) holds one setting, so that only that policy
// can change it, and the value it holds.
struct WindowsPolicyHold {
  bool held = false;
  bool valueRead = false;  // whether the value in force could be read
  DWORD seconds = 0;       // the value in force, as the policy stores it, in seconds
};

class PowerInterface {
 public:
  // Releases the module its functions came from.
  virtual ~PowerInterface();
  PowerInterface(const PowerInterface&) = delete;
  PowerInterface& operator=(const PowerInterface&) = delete;

  // "legacy", "current" or "none", the word of the probe's debug text and of the compliance
  // report.
  virtual const char* Name() const = 0;

  // GetPwrCapabilities: true when the record was filled.
  virtual bool GetCapabilities(SYSTEM_POWER_CAPABILITIES* capabilities) = 0;
  // The active scheme's index; false when the platform cannot tell (index left alone).
  virtual bool GetActiveScheme(UINT* index) = 0;
  // Whether the machine may hibernate. `known`: capabilities the asker has read already (zeroed
  // when that failed), for an interface that judges from them; null to have them asked afresh.
  virtual bool IsHibernateAllowed(const SYSTEM_POWER_CAPABILITIES* known) = 0;
  virtual bool CanUserWriteScheme() = 0;
  // Fills the record with scheme `index`; false (record left alone) when it cannot be read.
  virtual bool ReadScheme(UINT index, POWER_POLICY* policy) = 0;

  enum class CommitResult {
    kStored,
    kNotWritten,
    kNotActivated,
    kNoLongerActive,  // another scheme became the active one after the read: nothing written
  };
  // Stores the record as scheme `index` and makes it the active scheme. `asRead` is the record
  // as it was read, so an interface that stores settings one by one writes only what changed
  // since.
  virtual CommitResult WriteAndActivate(UINT* index, POWER_POLICY* policy,
                                        const POWER_POLICY& asRead) = 0;
  // After every commit, stored or not: the display's own power-off phase and time-out where the
  // interface keeps them apart from the scheme (the mains monitor time-out of `policy`);
  // nothing where the scheme's display setting is all there is.
  virtual void ApplyDisplayPowerOff(const POWER_POLICY& policy) = 0;
  // Writes the record's user half into this user's own copy of the active scheme (whose index
  // `activeScheme` asks for), for a user who may not write schemes. False when this interface
  // keeps no such copy: nothing is written then and nothing is asked.
  virtual bool WriteUserCopy(const POWER_POLICY& policy,
                             const std::function<UINT()>& activeScheme) = 0;

  // One setting of the record in whole minutes.
  virtual DWORD GetMinutes(const POWER_POLICY& policy, SettingId setting) const = 0;
  // Stores one setting into the record. Null when stored; otherwise the reason the record
  // cannot hold it, and the record is unchanged.
  virtual const char* SetMinutes(POWER_POLICY& policy, SettingId setting, DWORD minutes) const = 0;
  // Whether the record holds exactly `minutes` of the setting: the seconds it keeps are those
  // the setter would store, not merely the same whole minutes (59 seconds is not 0 minutes).
  virtual bool Holds(const POWER_POLICY& policy, SettingId setting, DWORD minutes) const = 0;

  // Whether Windows' own power policy holds the setting, asked before anything is written;
  // never where the interface knows no such policy.
  virtual WindowsPolicyHold HeldByWindowsPolicy(SettingId setting) = 0;
  // The power policy Windows applies now on one power source; false where the interface cannot
  // tell (the record is then left alone).
  virtual bool PolicyInForce(PowerSource source, SYSTEM_POWER_POLICY* policy) = 0;

 protected:
  // `module`: the loaded powrprof.dll the functions came from, freed with the interface; null
  // for none.
  explicit PowerInterface(HMODULE module = nullptr);

 private:
  HMODULE module;
};

#endif
