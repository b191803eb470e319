// What an update pass decides before it changes anything: which settings root counts, whether
// its layout version and settings scheme are accepted, which scheme is enforced and how the
// policy's two switches set it up. The pass and the compliance check both decide here.
#ifndef PM_PASSRULES_H
#define PM_PASSRULES_H

#include <string>

#include "PwrMgmt.h"
#include "PwrScheme.h"
#include "Win32Api.h"

// The path (below HKEY_LOCAL_MACHINE) of the first settings root whose marker is right: the
// group-policy root, else the local root; null when neither counts. A root that exists but may
// not be read is chosen where it stands (it may be the one that counts), and a pass fails on it.
const char* ChooseSettingsRoot();

// 1 and 2 are accepted; 0 and 3 and above (the unset reading among them) are not.
bool IsAcceptedVersion(DWORD version);
// "Simple" exactly: same bytes, same case.
bool IsAcceptedSchemeName(const std::string& name);

// Reads the active scheme into `scheme`. Only the scheme the platform names as active is
// read: any other would be enforced and made active in its place. True when the platform
// cannot say which scheme is active; nothing is read then. A read that failed shows in
// scheme.IsRead().
bool ReadActiveScheme(PwrMgmt& mgmt, PwrScheme& scheme);

// A switch of "Options" is on when its reading is nonzero (an absent one reads as on).
bool IsSwitchOn(DWORD reading);
// Sets the scheme's security bypass and forced standby from the policy's readings.
void ApplySwitches(PwrScheme& scheme, DWORD securityBypass, DWORD forceStandby);

#endif
