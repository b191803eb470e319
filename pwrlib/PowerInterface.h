// How the power-scheme library reaches the machine's power schemes. Windows offers two
// interfaces, both in powrprof.dll and both reached through GetProcAddress (the programs import
// nothing from it, so they start on a Windows that lacks either):
//
//   LegacyPowerInterface   GetActivePwrScheme, ReadPwrScheme, WritePwrScheme, ... : Windows
//                          2000 and XP, where they are all there is
//   CurrentPowerInterface  PowerGetActiveScheme, PowerRead/WriteACValueIndex and DC,
//                          PowerSetActiveScheme, PowerSettingAccessCheck: every Windows since
//                          Vista, where the legacy ones are deprecated or gone
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

  enum class CommitResult { kStored, kNotWritten, kNotActivated };
  // Stores the record as scheme `index` and makes it the active scheme.
  virtual CommitResult WriteAndActivate(UINT* index, POWER_POLICY* policy) = 0;
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

 protected:
  // `module`: the loaded powrprof.dll the functions came from, freed with the interface; null
  // for none.
  explicit PowerInterface(HMODULE module = nullptr);

 private:
  HMODULE module;
};

#endif
