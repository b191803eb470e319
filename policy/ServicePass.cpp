// The service's variant of the update pass.
#include "PassVariant.h"

const PassVariant kServicePass = {
    true,
    HKEY_LOCAL_MACHINE,
    {
        ".Default User Video Timeout will be changed",
        ".Default User System Standby will be changed",
        "Machine Hibernation will be changed",
        ".Default User DC Video Timeout will be changed",
        ".Default User DC System Standby will be changed",
        ".Default DC Machine Hibernation will be changed",
        ".Default User Disk Spindown Timeout will be changed",
        ".Default User DC Disk Spindown Timeout will be changed",
    },
    "service",
};
