#include "PolicySettings.h"

#include "RegistrySchema.h"

SettingPlan DecideSetting(const Setting& setting, DWORD policy, const PwrScheme& scheme) {
  SettingPlan plan;
  // Unsigned, so the unset reading of an absent value is always out of range.
  if (policy >= schema::kEnforcedBelow) {
    plan.decision = SettingDecision::kIgnored;
    return plan;
  }
  if (scheme.Holds(setting, policy)) {
    plan.decision = SettingDecision::kSame;
    return plan;
  }
  if (!scheme.MachineAllows(setting)) {
    plan.decision =
        policy == 0 ? SettingDecision::kNoSuchState : SettingDecision::kStateNotAvailable;
    return plan;
  }
  plan.hold = scheme.HeldByWindowsPolicy(setting);
  if (plan.hold.held) {
    plan.decision = SettingDecision::kHeld;
    plan.heldAtPolicy = plan.hold.valueRead && plan.hold.seconds == ToSeconds(policy);
    return plan;
  }
  plan.decision = SettingDecision::kChange;
  return plan;
}

const char* StateName(const Setting& setting) {
  switch (setting.needs) {
    case Capability::kPowerSuspend:
      return "standby";
    case Capability::kHibernation:
      return "hibernation";
    case Capability::kNone:
    case Capability::kMonitorSleep:
      break;
  }
  return nullptr;
}
