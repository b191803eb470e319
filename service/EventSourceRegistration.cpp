// The event source's key, for a computer set up with "/Install" rather than the package: the
// Application log finds the texts of this system's events in Hollin.exe through it.
#include <string>

#include "Hollin.h"
#include "HollinConstants.h"
#include "PMEventSource.h"
#include "RegKey.h"

namespace {

std::string SourceKeyPath() {
  return std::string(kApplicationLogKeyPath) + "\\" + kEventSourceName;
}

}  // namespace

bool RegisterEventMessageFile(const char* programPath) {
  RegKey source(HKEY_LOCAL_MACHINE, SourceKeyPath(), 1);  // 1: create when missing
  // A key that could not be created holds no handle, so these writes fail as well.
  bool failed = source.SetValue(kEventMessageFileValue, std::string(programPath));
  failed = source.SetValue(kTypesSupportedValue, kTypesSupported) || failed;
  source.CloseKey();
  return !failed;
}

bool RemoveEventSource() {
  const LONG rc = RegDeleteKeyA(HKEY_LOCAL_MACHINE, SourceKeyPath().c_str());
  return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
}
