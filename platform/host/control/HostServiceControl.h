// Test control surface of the host stand-in for the service control manager, events, sleeps
// and the clock. host::Reset() (HostControl.h) puts all of it back into its initial state.
//
// The clock. Every Sleep and every timed WaitForSingleObject measures its time-out on one
// clock. After host::Reset() the clock is virtual: it starts at 0 and moves only when a test
// calls AdvanceClock, so a ten-minute wait is tested exactly and without waiting. A program
// that never calls Reset (a host-built program run from the shell) has a clock that follows
// real time, and its sleeps really sleep.
//
// A wait that starts at virtual time t with a time-out of ms ends when the clock reaches
// t + ms, or earlier when its event is signalled. AdvanceClock moves the clock in one step:
// a thread woken by it that waits again counts its new time-out from the clock's new
// reading, so a test that wants a thread to go through two time-outs advances the clock
// twice, and waits in between until the thread blocks again (WaitForBlockedThreads).
//
// The service dispatcher. StartServiceCtrlDispatcherA fails at once, as in a program that
// the service control manager did not start, unless the test arranged a start with
// ArrangeServiceStart. It then runs the arranged service's ServiceMain on a thread of its own
// and delivers the controls the test sends, in order, to the registered handler on the
// dispatcher's thread (the thread that called StartServiceCtrlDispatcherA), and returns once
// ServiceMain has returned. The dispatcher does not filter controls by what the service
// accepts; controls still queued when ServiceMain returns are dropped. What the service
// reports with SetServiceStatus becomes its state in the service control manager.
//
// The service control manager keeps the configuration of each service in the registry, in
// HKEY_LOCAL_MACHINE "System\CurrentControlSet\Services\<name>", as Windows does: a test can
// seed a service with ImportRegText and read what CreateServiceA wrote with ReadValue. Run
// states live in memory. StartServiceA does not start a process: it marks the service
// running. ControlService acts on the recorded state only; it does not reach a dispatcher of
// this process.
//
// Reset() is safe only when no dispatcher runs and no thread waits in Sleep or
// WaitForSingleObject: a dispatcher still running is forgotten, and a thread still waiting is
// abandoned (it never wakes again). System code never includes this header.
#ifndef PM_HOST_SERVICE_CONTROL_H
#define PM_HOST_SERVICE_CONTROL_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Win32Api.h"

namespace host {

// ---- Clock ----------------------------------------------------------------------------------

// Milliseconds on the clock: virtual milliseconds since Reset.
uint64_t ClockNow();
// Moves the virtual clock forward and wakes every sleeper and waiter whose time-out has come.
// Those threads no longer count as blocked when it returns.
void AdvanceClock(uint64_t ms);
// Waits, in real time, until at least `count` threads are blocked in Sleep or
// WaitForSingleObject, so that a test advances the clock only once the service is parked.
// False, with a message on stderr, when that does not happen within realTimeoutMs.
bool WaitForBlockedThreads(size_t count, unsigned realTimeoutMs = 5000);
// How many threads are blocked in Sleep or WaitForSingleObject now.
size_t BlockedThreadCount();

// ---- System directory ------------------------------------------------------------------------

// What GetSystemDirectoryA answers; "C:\WINDOWS\system32" after Reset.
void SetSystemDirectory(const std::string& dir);

// ---- Service dispatcher ----------------------------------------------------------------------

// Makes the next StartServiceCtrlDispatcherA behave as in a process that the service control
// manager started for this service: it runs the table entry of that name.
void ArrangeServiceStart(const std::string& serviceName);
// Queues a control code for the service; the dispatcher delivers queued codes one at a time,
// in order, on its own thread, once the service has registered its handler.
void SendServiceControl(DWORD control);
// Waits, in real time, until no control is queued and the handler has returned from the last
// one. False, with a message on stderr, when that does not happen within realTimeoutMs.
bool WaitForControlsDelivered(unsigned realTimeoutMs = 5000);
// How long, in real time, a dispatcher waits for ServiceMain to return before it gives up:
// it then writes a message to stderr, leaves the service's thread behind and fails with
// ERROR_SERVICE_REQUEST_TIMEOUT, so that a test that never stops its service fails instead
// of hanging. 30 seconds after Reset.
void SetDispatcherSafetyTimeout(unsigned realTimeoutMs);

// Every SetServiceStatus that was accepted since Reset, in order: the whole record, and
// whether it came from the dispatcher's thread (the control handler's) rather than another.
struct ServiceStatusReport {
  SERVICE_STATUS status;
  bool fromDispatcherThread;
};
std::vector<ServiceStatusReport> ServiceStatusReports();

// ---- Service control manager -----------------------------------------------------------------

// Whether the service's key exists (a service marked for deletion exists until it is stopped
// and its last handle is closed).
bool ServiceExists(const std::string& name);
// The service's current state (SERVICE_STOPPED ... SERVICE_PAUSED); 0 when it does not exist.
DWORD ServiceState(const std::string& name);
// Sets the state of an existing service, as if its program had reported it.
void SetServiceState(const std::string& name, DWORD state);

}  // namespace host

#endif
