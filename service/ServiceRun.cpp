// The service at run time: ServiceMain on the service thread, ServiceCtrlHandler on the
// dispatcher's thread.
#include <atomic>

#include "DorvaneVersion.h"
#include "Hollin.h"
#include "HollinConstants.h"
#include "PMEventReporter.h"
#include "PolicyUpdate.h"

namespace {

// Shared by the two threads without a lock. Each field is one whole word, stored at once,
// and every report sends all fields as they are at that moment.
std::atomic<DWORD> currentState{SERVICE_STOPPED};
std::atomic<DWORD> controlsAccepted{0};
std::atomic<SERVICE_STATUS_HANDLE> statusHandle{nullptr};
std::atomic<HANDLE> stopEvent{nullptr};

// No checkpoint or wait hint is ever sent, in any state; the exit codes stay 0.
void ReportStatus() {
  SERVICE_STATUS status = {};
  status.dwServiceType = kStatusServiceType;
  status.dwCurrentState = currentState;
  status.dwControlsAccepted = controlsAccepted;
  SetServiceStatus(statusHandle, &status);  // a failed report changes nothing here
}

}  // namespace

void WINAPI ServiceMain(DWORD, LPSTR*) {
  currentState = SERVICE_STOPPED;
  controlsAccepted = 0;

  statusHandle = RegisterServiceCtrlHandlerA(kServiceName, ServiceCtrlHandler);
  if (statusHandle == nullptr) return;  // the manager sees the start fail

  currentState = SERVICE_START_PENDING;
  ReportStatus();

  // Automatic reset: one signal ends exactly one wait. Used as it comes: without an event
  // the first wait fails, which ends the loop after one pass.
  stopEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);

  controlsAccepted |= kAcceptedControls;
  currentState = SERVICE_RUNNING;
  ReportStatus();
  PMEventReporter().Report(pm_events::kServiceStarted,
                           {DORVANE_VERSION_TEXT, PowerInterfaceName()});

  // The start delay is a wait on the stop event, so a stop during it ends the service
  // without a pass. Without an event the wait fails at once: the delay is then slept out,
  // and the one pass runs after it.
  const DWORD delay = WaitForSingleObject(stopEvent, kStartDelayMs);
  if (delay == WAIT_FAILED) Sleep(kStartDelayMs);

  // A stop request never cuts a pass short: it signals the event, and the wait after the
  // pass returns at once. Should the signal be lost, the request still holds: no pass starts
  // once it has come, and the service ends when the wait does.
  if (delay != WAIT_OBJECT_0 && currentState != SERVICE_STOP_PENDING) {
    do {
      RunPolicyUpdate();
    } while (WaitForSingleObject(stopEvent, kPollIntervalMs) == WAIT_TIMEOUT &&
             currentState != SERVICE_STOP_PENDING);
  }

  currentState = SERVICE_STOP_PENDING;
  ReportStatus();

  CloseHandle(stopEvent);
  stopEvent = nullptr;

  // Before the last report, since the process may end once the manager has it.
  PMEventReporter().Report(pm_events::kServiceStopped, {});
  controlsAccepted &= ~kAcceptedControls;
  currentState = SERVICE_STOPPED;
  ReportStatus();
}

void WINAPI ServiceCtrlHandler(DWORD control) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
      // All clean-up is the service thread's, once the pass in progress has returned.
      currentState = SERVICE_STOP_PENDING;
      ReportStatus();
      SetEvent(stopEvent);
      break;
    default:
      // Pause, continue and interrogate alike: the status as it is.
      ReportStatus();
      break;
  }
}
