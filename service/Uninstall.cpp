// "/Uninstall": stops the service when it runs, deletes it and removes the event source. Every
// step is tried, also after a failed one, and each failure is reported with its own text. The
// Run value stays.
#include "Hollin.h"
#include "HollinConstants.h"
#include "SetupReport.h"

int UninstallService() {
  SetupReport report;

  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE);
  if (manager == nullptr) report.Fail(kUninstallOpenSCManagerFails);

  SC_HANDLE service = OpenServiceA(manager, kServiceName, SERVICE_ALL_ACCESS);
  if (service == nullptr) report.Fail(kOpenServiceFails);

  SERVICE_STATUS status = {};
  if (!QueryServiceStatus(service, &status)) {
    // The state is unknown: no stop request is sent on a guess.
    report.Fail(kQueryServiceStatusFails);
  } else if (status.dwCurrentState != SERVICE_STOPPED) {
    if (!ControlService(service, SERVICE_CONTROL_STOP, &status)) {
      report.Fail(kControlServiceFails);
    }
    // The service is given this pause to stop, and no more.
    Sleep(kSettlingPauseMs);
  }

  if (!DeleteService(service)) report.Fail(kDeleteServiceFails);

  CloseServiceHandle(service);
  CloseServiceHandle(manager);

  // Last: the stopping service still reports its end under the source.
  if (!RemoveEventSource()) report.Fail(kEventSourceRemovalFails);
  return report.ExitStatus();
}
