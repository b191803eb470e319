// The logon tool's variant of the update pass. Its battery monitor, standby and hibernation
// lines read as the service's do, ".Default" included; the others name the user alone.
#include "PassVariant.h"

const PassVariant kLogonPass = {
    false,
    HKEY_CURRENT_USER,
    {
        "User Video Timeout will be changed",
        "User System Standby will be changed",
        "Machine Hibernation will be changed",
        ".Default User DC Video Timeout will be changed",
        ".Default User DC System Standby will be changed",
        ".Default DC Machine Hibernation will be changed",
        "User Disk Spindown Timeout will be changed",
        "User DC Disk Spindown Timeout will be changed",
    },
    "logon tool",
};
