// The service's variant of the update pass.
#include "PassVariant.h"

const PassVariant kServicePass = {true, HKEY_LOCAL_MACHINE, &Setting::serviceAnnouncement,
                                  "service"};
