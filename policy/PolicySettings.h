// What a pass does with a setting of the table (SettingTable.h). The update pass and the
// compliance check both decide here, so the check answers with the pass's own rule.
#ifndef PM_POLICYSETTINGS_H
#define PM_POLICYSETTINGS_H

#include "PwrScheme.h"
#include "SettingTable.h"
#include "Win32Api.h"

enum class SettingDecision {
  kIgnore,  // the policy is out of range: 5000 and above, the unset reading among them
  kKeep,    // the scheme holds exactly the policy's minutes
  kChange,  // the pass calls the setting's setter
};

// The decision for one setting whose policy reads `policy` (minutes), on the scheme as the pass
// has it at that moment. A scheme holds the policy only when its seconds are those the setter
// would store: 59 seconds is not "never", 61 is not one minute.
SettingDecision DecideSetting(const PwrScheme& scheme, const Setting& setting, DWORD policy);

#endif
