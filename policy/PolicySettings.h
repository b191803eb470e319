// When a pass changes a setting of the table (SettingTable.h). The update pass and the
// compliance check both ask here, so the check answers with the pass's own rule.
#ifndef PM_POLICYSETTINGS_H
#define PM_POLICYSETTINGS_H

#include "SettingTable.h"
#include "Win32Api.h"

// Whether a pass changes a setting whose policy reads `policy` while the scheme holds
// `current` (both in minutes): the policy is in range and differs.
bool PassChanges(DWORD policy, DWORD current);

#endif
