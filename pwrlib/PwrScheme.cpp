#include "PwrScheme.h"

#include <cstring>
#include <string>

namespace {

constexpr DWORD kSecondsPerMinute = 60;

// Per-user power policies of the schemes, below HKEY_CURRENT_USER; the scheme's index in
// decimal names its key.
constexpr const char* kUserPoliciesPath = "Control Panel\\PowerCfg\\PowerPolicies\\";
constexpr const char* kUserPoliciesValue = "Policies";

DWORD ToSeconds(DWORD minutes) { return minutes * kSecondsPerMinute; }

DWORD ToMinutes(ULONG seconds) { return seconds / kSecondsPerMinute; }

// The legacy scheme keeps hibernation as the delay after entering standby; the total counts
// from the user standby time-out, as the setters do, so a total set reads back as set. Each
// term is truncated before the sum, and the sum wraps around. No delay means never.
DWORD LegacyHibernateMinutes(ULONG standbySeconds, ULONG delaySeconds) {
  if (delaySeconds == 0) return 0;
  return ToMinutes(standbySeconds) + ToMinutes(delaySeconds);
}

}  // namespace

PwrScheme::PwrScheme(UINT schemeIndex) : PwrScheme() { initialiaze(schemeIndex); }

// The record is zero until a read succeeds.
PwrScheme::PwrScheme()
    : index(0),
      policy(),
      power(ThePowerInterface()),
      securityBypass(false),
      forceStandby(false),
      read(false) {}

PwrScheme::~PwrScheme() = default;

bool PwrScheme::initialiaze(UINT schemeIndex) {
  index = schemeIndex;
  if (power.ReadScheme(index, &policy)) {
    read = true;
    return false;
  }
  // Whatever a failed read left behind is not a scheme: keep nothing of it.
  std::memset(&policy, 0, sizeof policy);
  read = false;
  ReportError("PwrScheme initialiaze()");
  return true;
}

bool PwrScheme::IsRead() const { return read; }

void PwrScheme::EnableSecurityBypass() { securityBypass = true; }
void PwrScheme::DisableSecurityBypass() { securityBypass = false; }
void PwrScheme::EnableForceStandby() { forceStandby = true; }
void PwrScheme::DisableForceStandby() { forceStandby = false; }

DWORD PwrScheme::GetUserAcVideoTimeOut() const { return ToMinutes(policy.user.VideoTimeoutAc); }
DWORD PwrScheme::GetUserDcVideoTimeOut() const { return ToMinutes(policy.user.VideoTimeoutDc); }
DWORD PwrScheme::GetUserAcStandbyTimeOut() const { return ToMinutes(policy.user.IdleTimeoutAc); }
DWORD PwrScheme::GetUserDcStandbyTimeOut() const { return ToMinutes(policy.user.IdleTimeoutDc); }
DWORD PwrScheme::GetMachAcStandbyTimeOut() const {
  return ToMinutes(power.HasMachineStandby() ? policy.mach.DozeTimeoutAc
                                             : policy.user.IdleTimeoutAc);
}
DWORD PwrScheme::GetMachDcStandbyTimeOut() const {
  return ToMinutes(power.HasMachineStandby() ? policy.mach.DozeTimeoutDc
                                             : policy.user.IdleTimeoutDc);
}

DWORD PwrScheme::GetMachAcHibernateTimeOut() const {
  return HibernateMinutes(policy.user.IdleTimeoutAc, policy.mach.DozeS4TimeoutAc);
}
DWORD PwrScheme::GetMachDcHibernateTimeOut() const {
  return HibernateMinutes(policy.user.IdleTimeoutDc, policy.mach.DozeS4TimeoutDc);
}

DWORD PwrScheme::HibernateMinutes(ULONG standbySeconds, ULONG storedSeconds) const {
  if (power.KeepsHibernationTotal()) return ToMinutes(storedSeconds);
  return LegacyHibernateMinutes(standbySeconds, storedSeconds);
}

DWORD PwrScheme::GetUserAcSpinDownTimeOut() const {
  return ToMinutes(policy.user.SpindownTimeoutAc);
}
DWORD PwrScheme::GetUserDcSpinDownTimeOut() const {
  return ToMinutes(policy.user.SpindownTimeoutDc);
}

bool PwrScheme::SetUserAcVideoTimeOut(DWORD minutes) {
  if (!mgmt.IsMonitorSleepSupported()) {
    ReportError("PwrScheme::SetUserAcVideoTimeOut(): Monitor Sleep is not supported");
    return true;
  }
  policy.user.VideoTimeoutAc = ToSeconds(minutes);
  return false;
}

bool PwrScheme::SetUserDcVideoTimeOut(DWORD minutes) {
  if (!mgmt.IsMonitorSleepSupported()) {
    ReportError("PwrScheme::SetUserDcVideoTimeOut(): Monitor Sleep is not supported");
    return true;
  }
  policy.user.VideoTimeoutDc = ToSeconds(minutes);
  return false;
}

bool PwrScheme::SetUserAcStandbyTimeOut(DWORD minutes) {
  return SetStandby(minutes, policy.user.IdleTimeoutAc, policy.user.IdleAc,
                    "PwrScheme::SetUserAcStandbyTimeOut(): System is not capable of Power Suspend");
}

bool PwrScheme::SetUserDcStandbyTimeOut(DWORD minutes) {
  return SetStandby(minutes, policy.user.IdleTimeoutDc, policy.user.IdleDc,
                    "PwrScheme::SetUserDcStandbyTimeOut(): System is not capable of Power Suspend");
}

bool PwrScheme::SetStandby(DWORD minutes, ULONG& timeout, POWER_ACTION_POLICY& idle,
                           const char* refusal) {
  const DWORD seconds = ToSeconds(minutes);
  if (!mgmt.IsPowerSuspendCapable() && !forceStandby) {
    ReportError(refusal);
    return true;
  }
  timeout = seconds;
  // A zero time-out means "never": no idle action. Flags and EventCode stay as read.
  idle.Action = seconds != 0 ? PowerActionSleep : PowerActionNone;
  return false;
}

bool PwrScheme::SetMachAcHibernateTimeOut(DWORD minutes) {
  return SetHibernate(minutes, GetUserAcStandbyTimeOut(), policy.mach.DozeS4TimeoutAc,
                      "PwrScheme::SetMachAcHibernateTimeOut(): System/user account is not "
                      "capable of/configured for Hibernation",
                      "PwrScheme::SetMachAcHibernateTimeOut(): Hibernation time-out is not "
                      "longer than the Standby time-out");
}

bool PwrScheme::SetMachDcHibernateTimeOut(DWORD minutes) {
  return SetHibernate(minutes, GetUserDcStandbyTimeOut(), policy.mach.DozeS4TimeoutDc,
                      "PwrScheme::SetMachDcHibernateTimeOut(): System/user account is not "
                      "capable of/configured for Hibernation",
                      "PwrScheme::SetMachDcHibernateTimeOut(): Hibernation time-out is not "
                      "longer than the Standby time-out");
}

bool PwrScheme::SetHibernate(DWORD minutes, DWORD standbyMinutes, ULONG& timeout,
                             const char* notAllowed, const char* notAfterStandby) {
  // A machine that cannot hibernate refuses whatever the time; that reason comes first.
  if (!mgmt.IsHibernationAllowed()) {
    ReportError(notAllowed);
    return true;
  }
  // The current scheme keeps the total: every total can be stored as it is.
  if (power.KeepsHibernationTotal()) {
    timeout = ToSeconds(minutes);
    return false;
  }
  // The legacy scheme counts from entering standby, so a total that does not come after a
  // standby time-out has no delay to store: a wrapped one would mean 136 years, 0 never.
  if (minutes != 0 && standbyMinutes != 0 && minutes <= standbyMinutes) {
    ReportError(notAfterStandby);
    return true;
  }
  timeout = minutes == 0 ? 0 : ToSeconds(minutes) - ToSeconds(standbyMinutes);
  return false;
}

bool PwrScheme::SetUserAcSpinDownTimeOut(DWORD minutes) {
  policy.user.SpindownTimeoutAc = ToSeconds(minutes);
  return false;
}

bool PwrScheme::SetUserDcSpinDownTimeOut(DWORD minutes) {
  policy.user.SpindownTimeoutDc = ToSeconds(minutes);
  return false;
}

// Stores the machine doze time-out (what GetMachAcStandbyTimeOut shows) and answers false,
// so the caller commits the change it asked for. Where the scheme has one standby time-out,
// that is the one it sets, as the user's standby setter does.
bool PwrScheme::SetMachAcStandbyTimeOut(DWORD minutes) {
  const char* refusal =
      "PwrScheme::SetMachAcStandbyTimeOut(): System is not capable of Power Suspend in Sleep "
      "State S3.";
  if (!power.HasMachineStandby()) {
    return SetStandby(minutes, policy.user.IdleTimeoutAc, policy.user.IdleAc, refusal);
  }
  if (!mgmt.IsPowerSuspendCapable() && !forceStandby) {
    ReportError(refusal);
    return true;
  }
  policy.mach.DozeTimeoutAc = ToSeconds(minutes);
  return false;
}

bool PwrScheme::commit() {
  bool failed = false;
  if (mgmt.CanUserWriteScheme()) {
    switch (power.WriteAndActivate(&index, &policy)) {
      case PowerInterface::CommitResult::kStored:
        break;
      case PowerInterface::CommitResult::kNotWritten:
        ReportError("PwrScheme::commit() failed. Unable to Write PowerScheme");
        failed = true;
        break;
      case PowerInterface::CommitResult::kNotActivated:
        ReportError("PwrScheme::commit() failed. Unable to Set Active PowerScheme");
        failed = true;
        break;
    }
  } else if (securityBypass && power.HasPerUserCopy()) {
    // The override cannot fail: a missing key or a refused write leaves things as they were.
    WriteUserOverride();
  } else {
    ReportError(
        "PwrScheme::commit(): Current User has insufficient priviledges to write active power "
        "scheme and no override has been set.");
    failed = true;
  }

  // The display settings follow the scheme even when it could not be stored.
  SystemParametersInfoA(SPI_SETPOWEROFFACTIVE, 1, nullptr, SPIF_UPDATEINIFILE);
  SystemParametersInfoA(SPI_SETPOWEROFFTIMEOUT, ToSeconds(GetUserAcVideoTimeOut()), nullptr,
                        SPIF_UPDATEINIFILE);
  return failed;
}

// Writes the user half into the active scheme's per-user value (not this scheme's index:
// the active scheme is the one in force). The key is opened, never created, so an unknown
// active index (65535 after a failed query) writes nothing.
void PwrScheme::WriteUserOverride() {
  const std::string path = kUserPoliciesPath + std::to_string(mgmt.GetPwrSchemeInUse());
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) {
    return;
  }
  RegSetValueExA(key, kUserPoliciesValue, 0, REG_BINARY,
                 reinterpret_cast<const BYTE*>(&policy.user), sizeof policy.user);
  RegCloseKey(key);
}
