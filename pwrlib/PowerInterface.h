// How the power-scheme library reaches the machine's power schemes. Windows offers two
// interfaces, and a process uses one of them, chosen at its first use by PowerInterfaceProbe:
//
//   LegacyPowerInterface   GetActivePwrScheme, ReadPwrScheme, WritePwrScheme, ... : Windows
//                          2000 and XP, where they are all there is
//   CurrentPowerInterface  PowerGetActiveScheme, PowerRead/WriteACValueIndex and DC,
//                          PowerSetActiveScheme, PowerSettingAccessCheck: every Windows since
//                          Vista, where the legacy ones are deprecated or gone
//
// On both, PwrScheme keeps the scheme in its POWER_POLICY record; the questions at the end say
// where the two read that record differently.
#ifndef PM_POWERINTERFACE_H
#define PM_POWERINTERFACE_H

#include "Win32Api.h"

class PowerInterface {
 public:
  virtual ~PowerInterface();

  // The active scheme's index; false when the platform cannot tell (index left alone).
  virtual bool GetActiveScheme(UINT* index) = 0;
  virtual bool IsHibernateAllowed() = 0;
  virtual bool CanUserWriteScheme() = 0;
  // Fills the record with scheme `index`; false (record left alone) when it cannot be read.
  virtual bool ReadScheme(UINT index, POWER_POLICY* policy) = 0;

  enum class CommitResult { kStored, kNotWritten, kNotActivated };
  // Stores the record as scheme `index` and makes it the active scheme.
  virtual CommitResult WriteAndActivate(UINT* index, POWER_POLICY* policy) = 0;

  // Whether the record's hibernation time-outs (DozeS4Timeout) are the total idle time before
  // hibernating; otherwise they count from entering standby.
  virtual bool KeepsHibernationTotal() const = 0;
  // Whether the record's machine standby time-outs (DozeTimeout) are settings of their own;
  // otherwise the scheme has one standby time-out, the user's (IdleTimeout).
  virtual bool HasMachineStandby() const = 0;
  // Whether each user keeps a copy of the scheme's user half that commit's per-user override
  // can write (HKEY_CURRENT_USER\Control Panel\PowerCfg\PowerPolicies\<index>).
  virtual bool HasPerUserCopy() const = 0;

  // "legacy" or "current", the word the probe's debug text uses.
  virtual const char* Name() const = 0;
};

// The interface of this process: probed at the first call, kept until the process ends.
PowerInterface& ThePowerInterface();

// Probes again and uses the answer from now on. For tests that change the machine under a
// running process; objects built before keep the interface they were built with.
void ChoosePowerInterfaceAgain();

#endif
