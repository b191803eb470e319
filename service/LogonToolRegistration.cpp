// The Run value that makes Windows start the logon tool at every logon, for every user.
#include "Hollin.h"
#include "HollinConstants.h"
#include "RegKey.h"
#include "SystemPath.h"

int RegisterLogonTool() {
  char path[kPathBufferSize];
  // Without the system directory there is no path to register: nothing is written.
  if (!BuildSystemPath(path, kLogonToolFile)) {
    ReportSetupError(kRegisterLogonToolFails);
    return 1;
  }

  RegKey runKey(HKEY_LOCAL_MACHINE, kRunKeyPath, 1);  // 1: create when missing
  // A key that could not be created holds no handle, so this write fails as well.
  const bool failed = runKey.SetValue(kRunValueName, path);
  runKey.CloseKey();

  if (failed) {
    ReportSetupError(kRegisterLogonToolFails);
    return 1;
  }
  return 0;
}
