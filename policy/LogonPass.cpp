// The logon tool's variant of the update pass. Its battery monitor, standby and hibernation
// lines read as the service's do, ".Default" included; the others name the user alone (see
// the setting table).
#include "PassVariant.h"

const PassVariant kLogonPass = {false, HKEY_CURRENT_USER, &Setting::logonAnnouncement,
                                "logon tool"};
