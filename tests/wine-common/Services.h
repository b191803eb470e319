// Hollin's service as the service control manager knows it, through the manager's own calls:
// its state and process, waits for a state or for the process to end, and its removal.
#ifndef PM_WINE_SERVICES_H
#define PM_WINE_SERVICES_H

#include <windows.h>

#include <string>

#include "Where.h"

namespace winetest {

class DebugMonitor;

constexpr const char* kServiceName = "Ulmora_Tarn_Hollin";
constexpr const char* kServiceKey = "System\\CurrentControlSet\\Services\\Ulmora_Tarn_Hollin";
constexpr const char* kServiceDisplayName =
    "Solvenne(TM) Dorvane Power Management Configuration Tool";
// The debug texts of the service's pass.
constexpr const char* kPassBegins = "Reached beginning of PM Update";
constexpr const char* kPassEnds = "Reached end of PM Update";
// How long the service may take to run once it is installed.
constexpr DWORD kServiceStartTimeoutMs = 5000;
// The first pass comes two seconds after the start; this allows for a slow machine.
constexpr DWORD kFirstPassTimeoutMs = 15000;

struct ServiceState {
  bool exists = false;
  DWORD state = 0;
  DWORD processId = 0;
};

ServiceState QueryService();
// Waits up to `timeoutMs` for the service to reach `state` (or to be gone); its state then.
ServiceState WaitForState(DWORD state, DWORD timeoutMs);
// Waits up to `timeoutMs` for a process to end; true also when it is gone already.
bool ProcessEnds(DWORD processId, DWORD timeoutMs);
// Stops and deletes the service when it is there, and waits until its process has ended and
// the service is gone: an automatically starting service left behind would start again with
// the session. The empty text on success, else what failed.
std::string RemoveService();

// The service runs, with a process of its own; its state then. A failure is reported at the
// caller's line.
ServiceState ExpectServiceRunning(Where where);
// The service runs and its first pass ends in time, as `monitor` receives the pass's texts;
// the service's state then. A failure is reported at the caller's line.
ServiceState ExpectFirstPass(Where where, const DebugMonitor& monitor);

}  // namespace winetest

#endif
