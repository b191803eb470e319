// "/Install": registers the event source, creates the service and starts it. Every step is
// tried, also after a failed one, and each failure is reported with its own text.
#include <string>

#include "Hollin.h"
#include "HollinConstants.h"
#include "SetupReport.h"
#include "SystemPath.h"

namespace {

// In quotes, so that a system directory with spaces cannot make the service control manager
// run a program at the first space ("C:\Program.exe") as the local system account.
std::string QuotedProgramPath(const char* path) { return "\"" + std::string(path) + "\""; }

}  // namespace

int InstallService() {
  SetupReport report;

  // Without the system directory neither the event source nor the service is registered: the
  // program would be "\Hollin.exe" in the root of the current drive, for the service run as the
  // local system account.
  char path[kPathBufferSize];
  const bool havePath = BuildSystemPath(path, kServiceProgramFile);

  // Before the service starts, so that its first events find their texts.
  if (!havePath || !RegisterEventMessageFile(path)) report.Fail(kEventSourceRegistrationFails);

  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE);
  if (manager == nullptr) report.Fail(kInstallOpenSCManagerFails);

  SC_HANDLE service = nullptr;
  if (havePath) {
    const std::string programPath = QuotedProgramPath(path);
    // No group, tag, dependencies, account or password: the local system account.
    service = CreateServiceA(manager, kServiceName, kServiceDisplayName, SERVICE_ALL_ACCESS,
                             SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_IGNORE,
                             programPath.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
  }
  if (service == nullptr) report.Fail(kCreateServiceFails);

  SERVICE_STATUS status = {};
  if (!QueryServiceStatus(service, &status)) {
    // The state is unknown: starting blindly could hit a service that already runs.
    report.Fail(kQueryServiceStatusFails);
  } else if (status.dwCurrentState == SERVICE_STOPPED) {
    if (!StartServiceA(service, 0, nullptr)) report.Fail(kServiceFailedToStart);
    Sleep(kSettlingPauseMs);
  }

  CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return report.ExitStatus();
}
