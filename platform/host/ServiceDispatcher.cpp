// The service process's side of the service control manager: the dispatcher, the control
// handler's registration and the status reports (see HostServiceControl.h).
//
// StartServiceCtrlDispatcherA passes the call gate and closes it again before it runs any of
// the program's code, so that the calls ServiceMain and the handler make are recorded and
// can be failed like any other call of the program.
#include <strings.h>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "CallGate.h"
#include "HostInternal.h"
#include "HostServiceControl.h"

namespace host::detail {
namespace {

constexpr unsigned kDefaultSafetyTimeoutMs = 30000;

struct DispatcherState {
  std::mutex mutex;
  // Notified on every change a waiting party may look for.
  std::condition_variable changed;

  bool startArranged = false;
  std::string arrangedService;
  unsigned safetyTimeoutMs = kDefaultSafetyTimeoutMs;

  // The dispatcher that runs, if any. Its number tells its service thread apart from one
  // left behind by an earlier dispatcher.
  bool running = false;
  unsigned long generation = 0;
  std::string serviceName;
  std::thread::id dispatcherThread;
  LPHANDLER_FUNCTION handler = nullptr;
  uintptr_t statusHandle = 0;
  bool serviceMainReturned = false;

  std::deque<DWORD> controls;
  bool delivering = false;
  std::vector<ServiceStatusReport> reports;
};

DispatcherState& State() {
  // Never destroyed: a service thread left behind may still reach it at exit.
  static DispatcherState* state = new DispatcherState;
  return *state;
}

// The arguments ServiceMain gets: argv[0] is the service name, as Windows passes it.
struct ServiceArguments {
  explicit ServiceArguments(const std::string& name) : name(name) {
    argv[0] = &this->name[0];
    argv[1] = nullptr;
  }
  std::string name;
  LPSTR argv[2];
};

const SERVICE_TABLE_ENTRYA* FindEntry(const SERVICE_TABLE_ENTRYA* table, const std::string& name) {
  for (const SERVICE_TABLE_ENTRYA* entry = table; entry->lpServiceName != nullptr; ++entry) {
    if (strcasecmp(entry->lpServiceName, name.c_str()) == 0) return entry;
  }
  return nullptr;
}

// Hands queued controls to the handler until ServiceMain returns; false when the safety
// time-out ran out first.
bool DeliverControls(DispatcherState& s, std::unique_lock<std::mutex>& lock) {
  const auto giveUp =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(s.safetyTimeoutMs);
  for (;;) {
    const bool woken = s.changed.wait_until(lock, giveUp, [&] {
      return s.serviceMainReturned || (s.handler != nullptr && !s.controls.empty());
    });
    if (!woken) return false;
    if (s.serviceMainReturned) return true;
    const DWORD control = s.controls.front();
    s.controls.pop_front();
    s.delivering = true;
    LPHANDLER_FUNCTION handler = s.handler;
    lock.unlock();
    handler(control);
    lock.lock();
    s.delivering = false;
    s.changed.notify_all();
  }
}

// The dispatcher has ended: controls nobody will deliver are dropped.
void EndDispatcher(DispatcherState& s) {
  s.running = false;
  ++s.generation;
  s.handler = nullptr;
  s.statusHandle = 0;
  s.controls.clear();
  s.changed.notify_all();
}

}  // namespace

void ResetServiceDispatcher() {
  DispatcherState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  EndDispatcher(s);
  s.startArranged = false;
  s.arrangedService.clear();
  s.safetyTimeoutMs = kDefaultSafetyTimeoutMs;
  s.serviceName.clear();
  s.serviceMainReturned = false;
  s.delivering = false;
  s.reports.clear();
}

}  // namespace host::detail

namespace host {

void ArrangeServiceStart(const std::string& serviceName) {
  auto& s = detail::State();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.startArranged = true;
  s.arrangedService = serviceName;
}

void SendServiceControl(DWORD control) {
  auto& s = detail::State();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.controls.push_back(control);
  s.changed.notify_all();
}

bool WaitForControlsDelivered(unsigned realTimeoutMs) {
  auto& s = detail::State();
  std::unique_lock<std::mutex> lock(s.mutex);
  if (s.changed.wait_for(lock, std::chrono::milliseconds(realTimeoutMs),
                         [&] { return s.controls.empty() && !s.delivering; })) {
    return true;
  }
  std::fprintf(stderr,
               "host::WaitForControlsDelivered: %zu control(s) still queued%s after %u ms of "
               "real time (%s)\n",
               s.controls.size(), s.delivering ? " and one in the handler" : "", realTimeoutMs,
               !s.running             ? "no dispatcher runs"
               : s.handler == nullptr ? "the service has registered no handler"
                                      : "the handler has not returned");
  return false;
}

void SetDispatcherSafetyTimeout(unsigned realTimeoutMs) {
  auto& s = detail::State();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.safetyTimeoutMs = realTimeoutMs;
}

std::vector<ServiceStatusReport> ServiceStatusReports() {
  auto& s = detail::State();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.reports;
}

}  // namespace host

BOOL WINAPI StartServiceCtrlDispatcherA(const SERVICE_TABLE_ENTRYA* lpServiceStartTable) {
  if (auto failed = host::detail::PassGate(__func__)) return failed.Answer<BOOL>();
  auto& s = host::detail::State();
  std::unique_lock<std::mutex> lock(s.mutex);
  if (s.running) {
    SetLastError(ERROR_SERVICE_ALREADY_RUNNING);
    return FALSE;
  }
  // Not started by the service control manager: Windows answers so at once.
  if (!s.startArranged) {
    SetLastError(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
    return FALSE;
  }
  s.startArranged = false;
  // Windows runs an own-process service whatever its entry is called; the stand-in holds
  // the table to the service's name, which is what the program means to run.
  const SERVICE_TABLE_ENTRYA* entry =
      lpServiceStartTable != nullptr
          ? host::detail::FindEntry(lpServiceStartTable, s.arrangedService)
          : nullptr;
  if (entry == nullptr || entry->lpServiceProc == nullptr) {
    SetLastError(lpServiceStartTable == nullptr ? ERROR_INVALID_PARAMETER
                                                : ERROR_SERVICE_NOT_IN_EXE);
    return FALSE;
  }

  s.running = true;
  const unsigned long generation = ++s.generation;
  s.serviceName = entry->lpServiceName;
  s.dispatcherThread = std::this_thread::get_id();
  s.handler = nullptr;
  s.statusHandle = host::detail::NextHandleValue();
  s.serviceMainReturned = false;

  auto arguments = std::make_shared<host::detail::ServiceArguments>(s.serviceName);
  LPSERVICE_MAIN_FUNCTIONA serviceMain = entry->lpServiceProc;
  std::thread serviceThread([arguments, serviceMain, generation] {
    serviceMain(1, arguments->argv);
    auto& state = host::detail::State();
    std::lock_guard<std::mutex> guard(state.mutex);
    if (state.generation != generation) return;  // left behind: nobody waits for it
    state.serviceMainReturned = true;
    state.changed.notify_all();
  });

  if (!host::detail::DeliverControls(s, lock)) {
    std::fprintf(stderr,
                 "StartServiceCtrlDispatcherA (host stand-in): ServiceMain of \"%s\" has not "
                 "returned after %u ms of real time; the test never stopped the service, or "
                 "never moved the clock on. Its thread is left behind.\n",
                 s.serviceName.c_str(), s.safetyTimeoutMs);
    serviceThread.detach();
    host::detail::EndDispatcher(s);
    SetLastError(ERROR_SERVICE_REQUEST_TIMEOUT);
    return FALSE;
  }
  lock.unlock();
  serviceThread.join();
  lock.lock();
  host::detail::EndDispatcher(s);
  return TRUE;
}

SERVICE_STATUS_HANDLE WINAPI RegisterServiceCtrlHandlerA(LPCSTR lpServiceName,
                                                         LPHANDLER_FUNCTION lpHandlerProc) {
  host::detail::CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<SERVICE_STATUS_HANDLE>();
  auto& s = host::detail::State();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (!s.running) {
    SetLastError(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
    return nullptr;
  }
  if (lpServiceName == nullptr || strcasecmp(lpServiceName, s.serviceName.c_str()) != 0) {
    SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
    return nullptr;
  }
  if (lpHandlerProc == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  s.handler = lpHandlerProc;
  s.changed.notify_all();  // controls sent before now can go out
  return reinterpret_cast<SERVICE_STATUS_HANDLE>(s.statusHandle);
}

BOOL WINAPI SetServiceStatus(SERVICE_STATUS_HANDLE hServiceStatus,
                             LPSERVICE_STATUS lpServiceStatus) {
  host::detail::CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<BOOL>();
  auto& s = host::detail::State();
  std::string service;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    if (hServiceStatus == nullptr || !s.running ||
        reinterpret_cast<uintptr_t>(hServiceStatus) != s.statusHandle) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    if (lpServiceStatus == nullptr) {
      SetLastError(ERROR_INVALID_ADDRESS);
      return FALSE;
    }
    if (lpServiceStatus->dwCurrentState < SERVICE_STOPPED ||
        lpServiceStatus->dwCurrentState > SERVICE_PAUSED) {
      SetLastError(ERROR_INVALID_DATA);
      return FALSE;
    }
    s.reports.push_back(host::ServiceStatusReport{
        *lpServiceStatus, std::this_thread::get_id() == s.dispatcherThread});
    service = s.serviceName;
  }
  host::detail::NoteReportedStatus(service, *lpServiceStatus);
  return TRUE;
}
