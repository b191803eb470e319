// Hollin's service as the service control manager knows it, for the program tests that install
// it: its state and process, waiting for a state or for a process to end, and removing it.
#ifndef PM_WINE_SERVICES_H
#define PM_WINE_SERVICES_H

#include <windows.h>

#include <string>

namespace winetest {

constexpr const char* kServiceName = "Ulmora_Tarn_Hollin";

struct ServiceState {
  bool exists = false;
  DWORD state = 0;
  DWORD processId = 0;
};

ServiceState QueryService();
// Waits up to `timeoutMs` for the service to reach `state`; its state then.
ServiceState WaitForState(DWORD state, DWORD timeoutMs);
// Waits up to `timeoutMs` for a process to end; true also when it is gone already.
bool ProcessEnds(DWORD processId, DWORD timeoutMs);
// Stops and deletes the service when it is there, and waits until its process has ended and
// the service is gone: an automatically starting service left behind would start again with
// the session. The empty text on success, else what failed.
std::string RemoveService();

}  // namespace winetest

#endif
