#include "Services.h"

#include <gtest/gtest.h>

#include "DebugMonitor.h"

namespace winetest {

ServiceState QueryService() {
  ServiceState found;
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (manager == nullptr) return found;
  SC_HANDLE service = OpenServiceA(manager, kServiceName, SERVICE_QUERY_STATUS);
  if (service != nullptr) {
    found.exists = true;
    SERVICE_STATUS_PROCESS status = {};
    DWORD needed = 0;
    if (QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                             sizeof status, &needed)) {
      found.state = status.dwCurrentState;
      found.processId = status.dwProcessId;
    }
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
  return found;
}

ServiceState WaitForState(DWORD state, DWORD timeoutMs) {
  for (DWORD waited = 0;; waited += 50) {
    ServiceState found = QueryService();
    if (!found.exists || found.state == state || waited >= timeoutMs) return found;
    Sleep(50);
  }
}

bool ProcessEnds(DWORD processId, DWORD timeoutMs) {
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
  if (process == nullptr) return true;
  const bool ended = WaitForSingleObject(process, timeoutMs) == WAIT_OBJECT_0;
  CloseHandle(process);
  return ended;
}

std::string RemoveService() {
  ServiceState state = QueryService();
  if (!state.exists) return "";
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (manager == nullptr) return "OpenSCManager: error " + std::to_string(GetLastError());
  SC_HANDLE service = OpenServiceA(manager, kServiceName, SERVICE_ALL_ACCESS);
  std::string failed;
  if (service == nullptr) {
    failed = "OpenService: error " + std::to_string(GetLastError());
  } else {
    if (state.state != SERVICE_STOPPED) {
      SERVICE_STATUS status;
      ControlService(service, SERVICE_CONTROL_STOP, &status);
      // A pass in progress is finished before the stop.
      if (state.processId != 0 && !ProcessEnds(state.processId, kFirstPassTimeoutMs)) {
        failed = "the service's process did not end";
      }
    }
    if (!DeleteService(service) && GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE) {
      failed = "DeleteService: error " + std::to_string(GetLastError());
    }
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
  for (int i = 0; failed.empty() && i < 100 && QueryService().exists; ++i) Sleep(50);
  if (failed.empty() && QueryService().exists) failed = "the service is still there";
  return failed;
}

ServiceState ExpectServiceRunning(Where where) {
  const ServiceState service = WaitForState(SERVICE_RUNNING, kServiceStartTimeoutMs);
  if (service.state != SERVICE_RUNNING || service.processId == 0) {
    ADD_FAILURE_AT(where.file, where.line) << "the service is not running (exists "
                                           << service.exists << ", state " << service.state << ")";
  }
  return service;
}

ServiceState ExpectFirstPass(Where where, const DebugMonitor& monitor) {
  const ServiceState service = ExpectServiceRunning(where);
  if (service.processId != 0 &&
      !monitor.WaitFor(service.processId, kPassEnds, kFirstPassTimeoutMs)) {
    ADD_FAILURE_AT(where.file, where.line) << "no first pass";
  }
  return service;
}

}  // namespace winetest
