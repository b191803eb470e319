// What a pass does with a setting of the table (SettingTable.h). The update pass and the
// compliance check both decide here, so the check answers with the pass's own rule.
#ifndef PM_POLICYSETTINGS_H
#define PM_POLICYSETTINGS_H

#include "PwrScheme.h"
#include "SettingTable.h"
#include "Win32Api.h"

// What a pass does with one setting.
enum class SettingDecision {
  kSame,     // the scheme holds the policy
  kIgnored,  // the policy is absent, holds no number or is out of range
  kChange,   // the setter is called
  // The policy asks for "never" of a state the machine cannot enter (or standby without
  // forced standby): that is already so, and nothing is called.
  kNoSuchState,
  // A nonzero policy for a state the machine cannot enter: the setter is called and refuses.
  kStateNotAvailable,
  // Windows' own power policy holds the setting: not the pass's to change, nothing is called
  // or written for it. `hold` tells the value it holds.
  kHeld,
};

struct SettingPlan {
  SettingDecision decision = SettingDecision::kSame;
  WindowsPolicyHold hold;  // for kHeld
  // For kHeld: the value held is the policy's, to the second.
  bool heldAtPolicy = false;
};

// The one decision per setting. A scheme holds the policy only when its seconds are those the
// setter would store: 59 seconds is not "never", 61 is not one minute. Windows' own policy is asked
// only about a setting the pass would otherwise change, and only once the machine can have the
// state: the access check is asked before anything is written, never found out by writing.
SettingPlan DecideSetting(const Setting& setting, DWORD policy, const PwrScheme& scheme);

// The state a setting's capability names, as the events name it: "standby", "hibernation";
// null for a setting every machine has.
const char* StateName(const Setting& setting);

#endif
