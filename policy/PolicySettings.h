// The eight time-outs the policy enforces, in the order a pass processes them: where each
// one's policy lives, how the scheme reads and changes it, and when a pass changes it. The
// update pass and the compliance check both walk this table, so the check answers with the
// pass's own rules.
#ifndef PM_POLICYSETTINGS_H
#define PM_POLICYSETTINGS_H

#include "PwrScheme.h"
#include "Win32Api.h"

constexpr int kSettingCount = 8;

struct PolicySetting {
  const char* policyValue;  // also the backup value that keeps what a change replaced
  DWORD (PwrScheme::*get)() const;
  bool (PwrScheme::*set)(DWORD minutes);
  const char* successLine;
};

extern const PolicySetting kPolicySettings[kSettingCount];

// Whether a pass changes a setting whose policy reads `policy` while the scheme holds
// `current` (both in minutes): the policy is in range and differs.
bool PassChanges(DWORD policy, DWORD current);

#endif
