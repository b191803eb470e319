#include "PwrScheme.h"

#include <cstring>
#include <string>
#include <utility>

#include "PowerInterfaceProbe.h"

namespace {

// Why a setter refuses when the machine lacks what it needs.
const char* Lacking(Capability capability) {
  switch (capability) {
    case Capability::kMonitorSleep:
      return "Monitor Sleep is not supported";
    case Capability::kPowerSuspend:
      return "System is not capable of Power Suspend";
    case Capability::kHibernation:
      return "System/user account is not capable of/configured for Hibernation";
    case Capability::kNone:
      break;
  }
  return "";
}

}  // namespace

PwrScheme::PwrScheme(UINT schemeIndex) : PwrScheme(DefaultPowerInterface(), schemeIndex) {}

PwrScheme::PwrScheme(std::shared_ptr<PowerInterface> powerInterface, UINT schemeIndex)
    : PwrScheme(std::move(powerInterface)) {
  initialiaze(schemeIndex);
}

PwrScheme::PwrScheme() : PwrScheme(DefaultPowerInterface()) {}

// The record is zero until a read succeeds.
PwrScheme::PwrScheme(std::shared_ptr<PowerInterface> powerInterface)
    : index(0),
      policy(),
      asRead(),
      mgmt(powerInterface),
      power(std::move(powerInterface)),
      securityBypass(false),
      forceStandby(false),
      read(false),
      userHalfOnly(false) {}

PwrScheme::PwrScheme(const PwrMgmt& machine)
    : index(0),
      policy(),
      asRead(),
      mgmt(machine.Interface(), machine.Capabilities()),
      power(machine.Interface()),
      securityBypass(false),
      forceStandby(false),
      read(false),
      userHalfOnly(false) {}

PwrScheme::~PwrScheme() = default;

bool PwrScheme::CommittedUserHalfOnly() const { return userHalfOnly; }

bool PwrScheme::initialiaze(UINT schemeIndex) {
  index = schemeIndex;
  if (power->ReadScheme(index, &policy)) {
    asRead = policy;
    read = true;
    return false;
  }
  // Whatever a failed read left behind is not a scheme: keep nothing of it.
  std::memset(&policy, 0, sizeof policy);
  asRead = policy;
  read = false;
  ReportError("PwrScheme initialiaze()");
  return true;
}

bool PwrScheme::IsRead() const { return read; }

void PwrScheme::EnableSecurityBypass() { securityBypass = true; }
void PwrScheme::DisableSecurityBypass() { securityBypass = false; }
void PwrScheme::EnableForceStandby() { forceStandby = true; }
void PwrScheme::DisableForceStandby() { forceStandby = false; }

DWORD PwrScheme::GetTimeOut(const Setting& setting) const {
  return power->GetMinutes(policy, setting.id);
}

bool PwrScheme::Holds(const Setting& setting, DWORD minutes) const {
  return power->Holds(policy, setting.id, minutes);
}

// The machine's lack comes first; then the interface may find the record cannot hold the value.
bool PwrScheme::SetTimeOut(const Setting& setting, DWORD minutes) {
  const char* refusal = Allows(setting.needs) ? power->SetMinutes(policy, setting.id, minutes)
                                              : Lacking(setting.needs);
  if (refusal == nullptr) return false;
  ReportError(std::string("PwrScheme::") + setting.setter + "(): " + refusal);
  return true;
}

bool PwrScheme::MachineAllows(const Setting& setting) const { return Allows(setting.needs); }

WindowsPolicyHold PwrScheme::HeldByWindowsPolicy(const Setting& setting) const {
  return power->HeldByWindowsPolicy(setting.id);
}

bool PwrScheme::Allows(Capability capability) const {
  switch (capability) {
    case Capability::kMonitorSleep:
      return mgmt.IsMonitorSleepSupported();
    case Capability::kPowerSuspend:
      return mgmt.IsPowerSuspendCapable() || forceStandby;
    case Capability::kHibernation:
      return mgmt.IsHibernationAllowed();
    case Capability::kNone:
      break;
  }
  return true;
}

DWORD PwrScheme::GetUserAcVideoTimeOut() const {
  return GetTimeOut(SettingOf<Timeout::kVideo, PowerSource::kAc>());
}
DWORD PwrScheme::GetUserDcVideoTimeOut() const {
  return GetTimeOut(SettingOf<Timeout::kVideo, PowerSource::kDc>());
}
DWORD PwrScheme::GetUserAcStandbyTimeOut() const {
  return GetTimeOut(SettingOf<Timeout::kStandby, PowerSource::kAc>());
}
DWORD PwrScheme::GetUserDcStandbyTimeOut() const {
  return GetTimeOut(SettingOf<Timeout::kStandby, PowerSource::kDc>());
}
DWORD PwrScheme::GetMachAcHibernateTimeOut() const {
  return GetTimeOut(SettingOf<Timeout::kHibernate, PowerSource::kAc>());
}
DWORD PwrScheme::GetMachDcHibernateTimeOut() const {
  return GetTimeOut(SettingOf<Timeout::kHibernate, PowerSource::kDc>());
}
DWORD PwrScheme::GetUserAcSpinDownTimeOut() const {
  return GetTimeOut(SettingOf<Timeout::kSpinDown, PowerSource::kAc>());
}
DWORD PwrScheme::GetUserDcSpinDownTimeOut() const {
  return GetTimeOut(SettingOf<Timeout::kSpinDown, PowerSource::kDc>());
}

bool PwrScheme::SetUserAcVideoTimeOut(DWORD minutes) {
  return SetTimeOut(SettingOf<Timeout::kVideo, PowerSource::kAc>(), minutes);
}
bool PwrScheme::SetUserDcVideoTimeOut(DWORD minutes) {
  return SetTimeOut(SettingOf<Timeout::kVideo, PowerSource::kDc>(), minutes);
}
bool PwrScheme::SetUserAcStandbyTimeOut(DWORD minutes) {
  return SetTimeOut(SettingOf<Timeout::kStandby, PowerSource::kAc>(), minutes);
}
bool PwrScheme::SetUserDcStandbyTimeOut(DWORD minutes) {
  return SetTimeOut(SettingOf<Timeout::kStandby, PowerSource::kDc>(), minutes);
}
bool PwrScheme::SetMachAcHibernateTimeOut(DWORD minutes) {
  return SetTimeOut(SettingOf<Timeout::kHibernate, PowerSource::kAc>(), minutes);
}
bool PwrScheme::SetMachDcHibernateTimeOut(DWORD minutes) {
  return SetTimeOut(SettingOf<Timeout::kHibernate, PowerSource::kDc>(), minutes);
}
bool PwrScheme::SetUserAcSpinDownTimeOut(DWORD minutes) {
  return SetTimeOut(SettingOf<Timeout::kSpinDown, PowerSource::kAc>(), minutes);
}
bool PwrScheme::SetUserDcSpinDownTimeOut(DWORD minutes) {
  return SetTimeOut(SettingOf<Timeout::kSpinDown, PowerSource::kDc>(), minutes);
}

DWORD PwrScheme::GetMachAcStandbyTimeOut() const {
  return power->GetMinutes(policy, {Timeout::kMachineStandby, PowerSource::kAc});
}
DWORD PwrScheme::GetMachDcStandbyTimeOut() const {
  return power->GetMinutes(policy, {Timeout::kMachineStandby, PowerSource::kDc});
}

// Stores the machine's standby time-out (what GetMachAcStandbyTimeOut shows) and answers false,
// so the caller commits the change it asked for. Where the scheme has one standby time-out,
// that is the one it sets.
bool PwrScheme::SetMachAcStandbyTimeOut(DWORD minutes) {
  const std::string name = "PwrScheme::SetMachAcStandbyTimeOut(): ";
  if (!Allows(Capability::kPowerSuspend)) {
    ReportError(name + "System is not capable of Power Suspend in Sleep State S3.");
    return true;
  }
  const char* refusal =
      power->SetMinutes(policy, {Timeout::kMachineStandby, PowerSource::kAc}, minutes);
  if (refusal == nullptr) return false;
  ReportError(name + refusal);
  return true;
}

bool PwrScheme::commit() {
  bool failed = false;
  userHalfOnly = false;
  if (mgmt.CanUserWriteScheme()) {
    switch (power->WriteAndActivate(&index, &policy, asRead)) {
      case PowerInterface::CommitResult::kStored:
        asRead = policy;
        break;
      case PowerInterface::CommitResult::kNotWritten:
        ReportError("PwrScheme::commit() failed. Unable to Write PowerScheme");
        failed = true;
        break;
      case PowerInterface::CommitResult::kNotActivated:
        ReportError("PwrScheme::commit() failed. Unable to Set Active PowerScheme");
        failed = true;
        break;
      case PowerInterface::CommitResult::kNoLongerActive:
        ReportError(
            "PwrScheme::commit() failed. Another PowerScheme became active since it was read; "
            "nothing written");
        failed = true;
        break;
    }
  } else if (!securityBypass ||
             !power->WriteUserCopy(policy, [this] { return mgmt.GetPwrSchemeInUse(); })) {
    // The copy itself cannot fail: a missing key or a refused write leaves things as they were.
    ReportError(
        "PwrScheme::commit(): Current User has insufficient priviledges to write active power "
        "scheme and no override has been set.");
    failed = true;
  } else {
    userHalfOnly = true;
  }

  // The display settings follow the scheme even when it could not be stored.
  power->ApplyDisplayPowerOff(policy);
  return failed;
}
