// RunPolicyUpdate for the service tests, in place of the update pass (and RunStatusCommand in
// place of the compliance check, PowerInterfaceName in place of the pass's). It records the
// clock's reading when each pass starts and ends; a pass can be made to take virtual time
// (it sleeps on the stand-in's clock) or to wait, in real time, until the test releases it.
#ifndef HOLLIN_TESTS_PASSDOUBLE_H
#define HOLLIN_TESTS_PASSDOUBLE_H

#include <cstdint>
#include <string>
#include <vector>

#include "Win32Api.h"

namespace pass_double {

// No passes recorded, no duration, nothing held.
void Reset();
// Every later pass sleeps this long (virtual milliseconds) before it ends.
void SetDuration(DWORD ms);
// The next pass waits, once started, until Release.
void HoldNextPass();
// Waits, in real time, until a pass is held; false when none is by then.
bool WaitUntilHeld(unsigned realTimeoutMs = 5000);
void Release();

// Clock readings of every pass that started, and of every pass that ended, in order.
std::vector<uint64_t> Starts();
std::vector<uint64_t> Ends();

// RunStatusCommand in place of the compliance check: counts its runs and answers this status
// (0 after Reset).
void SetStatusAnswer(int exitStatus);
int StatusRuns();

// PowerInterfaceName in place of the pass's: answers this name ("legacy" after Reset).
void SetPowerInterfaceName(const std::string& name);

}  // namespace pass_double

#endif
