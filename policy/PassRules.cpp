#include "PassRules.h"

#include "RegistrySchema.h"
#include "SettingsKey.h"

namespace {

constexpr DWORD kFirstRejectedVersion = 3;

}  // namespace

const char* ChooseSettingsRoot() {
  for (const char* root : {schema::kPolicyRoot, schema::kLocalRoot}) {
    SettingsKey key(root);
    if (key.IsVerified() || key.IsUnreadable()) return root;
  }
  return nullptr;
}

bool IsAcceptedVersion(DWORD version) { return version != 0 && version < kFirstRejectedVersion; }

bool IsAcceptedSchemeName(const std::string& name) { return name == schema::kAcceptedScheme; }

bool ReadActiveScheme(PwrMgmt& mgmt, PwrScheme& scheme) {
  UINT active = 0;
  const bool activeUnknown = mgmt.QueryPwrSchemeInUse(&active);
  if (!activeUnknown) scheme.initialiaze(active);
  return activeUnknown;
}

bool IsSwitchOn(DWORD reading) { return reading != 0; }

void ApplySwitches(PwrScheme& scheme, DWORD securityBypass, DWORD forceStandby) {
  if (IsSwitchOn(securityBypass)) {
    scheme.EnableSecurityBypass();
  } else {
    scheme.DisableSecurityBypass();
  }
  if (IsSwitchOn(forceStandby)) {
    scheme.EnableForceStandby();
  } else {
    scheme.DisableForceStandby();
  }
}
