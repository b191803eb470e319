// One power scheme held in memory: read by index, edited in whole minutes (the record keeps
// seconds), and committed back.
//
// initialiaze, the setters and commit answer true when they failed or refused, false when
// they were carried out; a failure or refusal records its text with ReportError. A refused
// setter leaves the scheme unchanged. Getters truncate seconds to whole minutes; minutes are
// multiplied by 60 in unsigned 32-bit arithmetic, wrapping around. How the record holds each
// time-out is the power-scheme interface's (LegacyPowerInterface.h, CurrentPowerInterface.h).
#ifndef PM_PWRSCHEME_H
#define PM_PWRSCHEME_H

#include <memory>

#include "PMObject.h"
#include "PowerInterface.h"
#include "PwrMgmt.h"
#include "SettingTable.h"
#include "Win32Api.h"

class PwrScheme : public PMObject {
 public:
  // Constructs and reads the scheme; a failed read shows in IsRead() and GetErrorText().
  explicit PwrScheme(UINT index);
  PwrScheme(std::shared_ptr<PowerInterface> power, UINT index);
  // Constructs without reading; the owner calls initialiaze.
  PwrScheme();
  explicit PwrScheme(std::shared_ptr<PowerInterface> power);
  // On the machine `machine` describes: its interface, and the capabilities it read, which are
  // not asked for again (the update pass asks once per pass). Constructs without reading.
  explicit PwrScheme(const PwrMgmt& machine);
  // The forms without an interface use the process's default (DefaultPowerInterface). The
  // scheme's own PwrMgmt gets the same interface.
  ~PwrScheme() override;

  // Reads scheme index afresh, discarding uncommitted changes. On failure the record is
  // zeroed and index is kept.
  bool initialiaze(UINT index);
  // True after a successful read, so an owner can refuse to enforce or commit a scheme
  // that was never read.
  bool IsRead() const;

  void EnableSecurityBypass();
  void DisableSecurityBypass();
  void EnableForceStandby();
  void DisableForceStandby();

  // One setting of the table (SettingTable.h): its getter and its setter, which asks the
  // setting's capability first and refuses with "PwrScheme::<setter>(): <reason>".
  DWORD GetTimeOut(const Setting& setting) const;
  bool SetTimeOut(const Setting& setting, DWORD minutes);
  // Whether the machine (or the forced standby) allows the setting's setter to change it: a
  // standby time-out needs sleep, hibernation needs hibernation allowed.
  bool MachineAllows(const Setting& setting) const;
  // Whether Windows' own power policy holds the setting (asked afresh; never on the legacy
  // interface).
  WindowsPolicyHold HeldByWindowsPolicy(const Setting& setting) const;
  // Whether the scheme holds exactly `minutes` of the setting: what its setter would store is
  // what is stored. The getter drops the remainder; this does not (59 seconds is not 0).
  bool Holds(const Setting& setting, DWORD minutes) const;

  DWORD GetUserAcVideoTimeOut() const;
  DWORD GetUserDcVideoTimeOut() const;
  DWORD GetUserAcStandbyTimeOut() const;
  DWORD GetUserDcStandbyTimeOut() const;
  // Where the scheme has one standby time-out (the current interface), the machine's is the
  // user's.
  DWORD GetMachAcStandbyTimeOut() const;
  DWORD GetMachDcStandbyTimeOut() const;
  // Whole idle time before hibernation. Legacy scheme: the user standby time-out plus the
  // delay after it (each in whole minutes), 0 (never) when there is no delay; current scheme:
  // the total it keeps.
  DWORD GetMachAcHibernateTimeOut() const;
  DWORD GetMachDcHibernateTimeOut() const;
  DWORD GetUserAcSpinDownTimeOut() const;
  DWORD GetUserDcSpinDownTimeOut() const;

  bool SetUserAcVideoTimeOut(DWORD minutes);
  bool SetUserDcVideoTimeOut(DWORD minutes);
  bool SetUserAcStandbyTimeOut(DWORD minutes);
  bool SetUserDcStandbyTimeOut(DWORD minutes);
  // minutes is the whole idle time before hibernation; 0 means never. Refused when
  // hibernation is not allowed. The legacy scheme keeps the time from entering standby, so the
  // user standby time-out (whole minutes) is subtracted, and a nonzero total not longer than a
  // nonzero standby time-out is refused; the getters add the standby time-out back. The
  // current scheme keeps the total as it is.
  bool SetMachAcHibernateTimeOut(DWORD minutes);
  bool SetMachDcHibernateTimeOut(DWORD minutes);
  bool SetUserAcSpinDownTimeOut(DWORD minutes);
  bool SetUserDcSpinDownTimeOut(DWORD minutes);
  bool SetMachAcStandbyTimeOut(DWORD minutes);

  // Writes and activates the scheme when the user may write schemes; otherwise, with the
  // security bypass, writes the user half into the user's own copy of the active scheme
  // (only where users keep such a copy: not on the current interface, where the bypass
  // changes nothing). On the current interface only the settings changed since the read are
  // written, and nothing at all when another scheme became the active one meanwhile. Always
  // applies the display power-off afterwards where the interface keeps it apart from the
  // scheme (the legacy one).
  bool commit();
  // Whether the last commit succeeded by writing the user half alone (through the security
  // bypass), so that the machine half, with the hibernation time-outs, was not stored.
  bool CommittedUserHalfOnly() const;

 protected:
  UINT index;
  POWER_POLICY policy;
  POWER_POLICY asRead;  // the record as last read or committed
  PwrMgmt mgmt;
  std::shared_ptr<PowerInterface> power;
  bool securityBypass;
  bool forceStandby;
  bool read;
  bool userHalfOnly;  // the last commit stored the user half alone

 private:
  // Whether the machine (or the forced standby) allows a setter that needs `capability`.
  bool Allows(Capability capability) const;
};

#endif
