#include "PolicySettings.h"

#include "RegistrySchema.h"

// Unsigned, so the unset reading of an absent value is always out of range.
SettingDecision DecideSetting(const PwrScheme& scheme, const Setting& setting, DWORD policy) {
  if (policy >= schema::kEnforcedBelow) return SettingDecision::kIgnore;
  return scheme.Holds(setting, policy) ? SettingDecision::kKeep : SettingDecision::kChange;
}
