#include "PwrMgmt.h"

#include <utility>

#include "PowerInterfaceProbe.h"

namespace {

// Answered when the active scheme cannot be queried.
constexpr UINT kNoActiveScheme = 65535;

}  // namespace

// The record starts zeroed, so after a failed query the machine counts as not capable of
// standby rather than answering from stray bytes. The capabilities query is the same on both
// power-scheme interfaces.
PwrMgmt::PwrMgmt() : PwrMgmt(DefaultPowerInterface()) {}

PwrMgmt::PwrMgmt(std::shared_ptr<PowerInterface> powerInterface)
    : capabilities(), power(std::move(powerInterface)), fixed(false) {
  if (!power->GetCapabilities(&capabilities)) {
    ReportError("PwrMgmt::PwrMgmt() failed. Unable to Get System Power Capabilities");
  }
}

PwrMgmt::PwrMgmt(std::shared_ptr<PowerInterface> powerInterface,
                 const SYSTEM_POWER_CAPABILITIES& known)
    : capabilities(known), power(std::move(powerInterface)), fixed(true) {}

PwrMgmt::~PwrMgmt() = default;

const std::shared_ptr<PowerInterface>& PwrMgmt::Interface() const { return power; }

const SYSTEM_POWER_CAPABILITIES& PwrMgmt::Capabilities() const { return capabilities; }

UINT PwrMgmt::GetPwrSchemeInUse() {
  UINT index = kNoActiveScheme;
  QueryPwrSchemeInUse(&index);
  return index;
}

bool PwrMgmt::QueryPwrSchemeInUse(UINT* index) {
  UINT active = kNoActiveScheme;
  if (power->GetActiveScheme(&active)) {
    *index = active;
    return false;
  }
  ReportError("PwrMgmt::GetPwrSchemeInUse() failed. Unable to Get index for current power scheme");
  return true;
}

bool PwrMgmt::IsMonitorSleepSupported() const { return true; }

// The platform's booleans count as yes only when they equal TRUE exactly.
bool PwrMgmt::IsPowerSuspendCapable() const {
  return capabilities.SystemS3 == 1 || CapabilitiesAoAc(capabilities) == 1;
}

bool PwrMgmt::IsHibernationAllowed() const {
  return power->IsHibernateAllowed(fixed ? &capabilities : nullptr);
}

bool PwrMgmt::CanUserWriteScheme() const { return power->CanUserWriteScheme(); }
