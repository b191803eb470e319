// The service dispatcher of the stand-in: when it runs a ServiceMain, on which thread the
// controls reach the handler, what the status reports record, and how it gives up.
#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "BackgroundThread.h"
#include "HostControl.h"
#include "HostFixture.h"
#include "HostServiceControl.h"
#include "Win32Api.h"

namespace {

constexpr const char* kService = "ProbeService";
constexpr const char* kServiceKey = "System\\CurrentControlSet\\Services\\ProbeService";
constexpr DWORD kInjected = 0x4711;

// What the probe service saw. Never destroyed: a service thread a failing test leaves
// behind may still reach it.
struct ServiceProbe {
  std::mutex mutex;
  int mainRuns = 0;
  DWORD argc = 0;
  std::string argv0;
  bool argvEnds = false;
  std::thread::id mainThread;
  std::vector<DWORD> controls;
  std::vector<std::thread::id> controlThreads;
  std::vector<DWORD> stopSignalErrors;  // 0 for a SetEvent that worked
  SERVICE_STATUS_HANDLE statusHandle = nullptr;
  HANDLE stopEvent = nullptr;
  DWORD state = SERVICE_STOPPED;
  DWORD sleepBeforeRegistering = 0;  // ms
};

ServiceProbe& Probe() {
  static ServiceProbe* probe = new ServiceProbe;
  return *probe;
}

void Report(DWORD state) {
  SERVICE_STATUS status = {SERVICE_WIN32, state, 0, 0, 0, 0, 0};
  SERVICE_STATUS_HANDLE handle;
  {
    std::lock_guard<std::mutex> lock(Probe().mutex);
    Probe().state = state;
    handle = Probe().statusHandle;
  }
  if (state == SERVICE_RUNNING || state == SERVICE_STOP_PENDING) {
    status.dwControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
  }
  SetServiceStatus(handle, &status);
}

// Records the control, reports, and on a stop signals the service thread.
void WINAPI ProbeHandler(DWORD control) {
  DWORD state;
  {
    std::lock_guard<std::mutex> lock(Probe().mutex);
    Probe().controls.push_back(control);
    Probe().controlThreads.push_back(std::this_thread::get_id());
    state = Probe().state;
  }
  if (control != SERVICE_CONTROL_STOP) {
    Report(state);
    return;
  }
  Report(SERVICE_STOP_PENDING);
  BOOL signalled = SetEvent(Probe().stopEvent);
  DWORD error = signalled ? 0 : GetLastError();
  std::lock_guard<std::mutex> lock(Probe().mutex);
  Probe().stopSignalErrors.push_back(error);
}

// Registers, reports running, waits for the stop event, takes a second to stop.
void WINAPI ProbeMain(DWORD argc, LPSTR* argv) {
  DWORD sleep;
  {
    std::lock_guard<std::mutex> lock(Probe().mutex);
    ++Probe().mainRuns;
    Probe().argc = argc;
    Probe().argv0 = argc > 0 && argv[0] != nullptr ? argv[0] : "";
    Probe().argvEnds = argc > 0 && argv[1] == nullptr;
    Probe().mainThread = std::this_thread::get_id();
    sleep = Probe().sleepBeforeRegistering;
  }
  if (sleep != 0) Sleep(sleep);
  SERVICE_STATUS_HANDLE handle = RegisterServiceCtrlHandlerA(kService, ProbeHandler);
  if (handle == nullptr) return;
  {
    std::lock_guard<std::mutex> lock(Probe().mutex);
    Probe().statusHandle = handle;
  }
  Report(SERVICE_RUNNING);
  WaitForSingleObject(Probe().stopEvent, INFINITE);
  Sleep(1000);
  Report(SERVICE_STOPPED);
}

void WINAPI OtherMain(DWORD, LPSTR*) { ADD_FAILURE() << "the other table entry ran"; }

char g_otherName[] = "OtherService";
char g_probeName[] = "ProbeService";
const SERVICE_TABLE_ENTRYA kTable[] = {
    {g_otherName, OtherMain}, {g_probeName, ProbeMain}, {nullptr, nullptr}};

class Dispatcher : public HostFixture {
 protected:
  void SetUp() override {
    HostFixture::SetUp();
    std::lock_guard<std::mutex> lock(Probe().mutex);
    Probe().mainRuns = 0;
    Probe().argc = 0;
    Probe().argv0.clear();
    Probe().argvEnds = false;
    Probe().controls.clear();
    Probe().controlThreads.clear();
    Probe().stopSignalErrors.clear();
    Probe().statusHandle = nullptr;
    Probe().state = SERVICE_STOPPED;
    Probe().sleepBeforeRegistering = 0;
    Probe().stopEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  }

  // Starts the dispatcher on a thread of its own, as the program's main thread would run it.
  void StartDispatcher() {
    dispatcher_ = std::make_unique<BackgroundThread>([this] {
      dispatcherThread_ = std::this_thread::get_id();
      dispatcherResult_ = StartServiceCtrlDispatcherA(kTable);
      dispatcherError_ = GetLastError();
    });
  }

  std::unique_ptr<BackgroundThread> dispatcher_;
  std::thread::id dispatcherThread_;
  BOOL dispatcherResult_ = -1;
  DWORD dispatcherError_ = 0;
};

TEST_F(Dispatcher, WithoutAnArrangedStartOrAMatchingEntryTheDispatcherFailsAtOnce) {
  struct Case {
    const char* arranged;  // null: not started by the service control manager
    const SERVICE_TABLE_ENTRYA* table;
    DWORD error;
  };
  const Case cases[] = {
      {nullptr, kTable, ERROR_FAILED_SERVICE_CONTROLLER_CONNECT},
      {"MissingService", kTable, ERROR_SERVICE_NOT_IN_EXE},
      {kService, nullptr, ERROR_INVALID_PARAMETER},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arranged != nullptr ? c.arranged : "not arranged");
    host::Reset();
    if (c.arranged != nullptr) host::ArrangeServiceStart(c.arranged);
    SetLastError(0);
    EXPECT_FALSE(StartServiceCtrlDispatcherA(c.table));
    EXPECT_EQ(c.error, GetLastError());
    EXPECT_EQ(0, Probe().mainRuns);
  }
  // The failed start used up the arrangement, and no dispatcher runs to register with.
  EXPECT_FALSE(StartServiceCtrlDispatcherA(kTable));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT), GetLastError());
  EXPECT_EQ(nullptr, RegisterServiceCtrlHandlerA(kService, ProbeHandler));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT), GetLastError());
  SERVICE_STATUS status = {SERVICE_WIN32, SERVICE_RUNNING, 0, 0, 0, 0, 0};
  EXPECT_FALSE(SetServiceStatus(nullptr, &status));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
  EXPECT_TRUE(host::ServiceStatusReports().empty());
}

TEST_F(Dispatcher,
       ServiceMainRunsOnItsOwnThreadAndControlsReachTheHandlerInOrderOnTheDispatchersThread) {
  host::WriteDword(HKEY_LOCAL_MACHINE, kServiceKey, "Type", SERVICE_WIN32_OWN_PROCESS);
  host::ArrangeServiceStart("probeservice");  // service names ignore case
  StartDispatcher();

  ASSERT_TRUE(host::WaitForBlockedThreads(1));  // ServiceMain waits for its stop event
  EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), host::ServiceState(kService));
  for (DWORD control : {SERVICE_CONTROL_INTERROGATE, SERVICE_CONTROL_PAUSE,
                        SERVICE_CONTROL_CONTINUE, SERVICE_CONTROL_STOP}) {
    host::SendServiceControl(control);
  }
  ASSERT_TRUE(host::WaitForControlsDelivered());

  // Woken by the stop, ServiceMain takes a (virtual) second to end: the dispatcher waits.
  ASSERT_TRUE(host::WaitForBlockedThreads(1));
  EXPECT_FALSE(dispatcher_->Finished());
  host::AdvanceClock(1000);
  ASSERT_TRUE(dispatcher_->Join());
  EXPECT_EQ(TRUE, dispatcherResult_);

  std::lock_guard<std::mutex> lock(Probe().mutex);
  EXPECT_EQ(1, Probe().mainRuns);
  EXPECT_EQ(1u, Probe().argc);
  EXPECT_EQ(kService, Probe().argv0);  // the table's spelling
  EXPECT_TRUE(Probe().argvEnds);
  EXPECT_NE(dispatcherThread_, Probe().mainThread);
  EXPECT_EQ((std::vector<DWORD>{SERVICE_CONTROL_INTERROGATE, SERVICE_CONTROL_PAUSE,
                                SERVICE_CONTROL_CONTINUE, SERVICE_CONTROL_STOP}),
            Probe().controls);
  EXPECT_EQ(std::vector<std::thread::id>(4, dispatcherThread_), Probe().controlThreads);

  // Every report, whole, with the thread it came from; the last one is the manager's state.
  const DWORD accepting = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
  const SERVICE_STATUS running = {SERVICE_WIN32, SERVICE_RUNNING, accepting, 0, 0, 0, 0};
  const SERVICE_STATUS stopping = {SERVICE_WIN32, SERVICE_STOP_PENDING, accepting, 0, 0, 0, 0};
  const SERVICE_STATUS stopped = {SERVICE_WIN32, SERVICE_STOPPED, 0, 0, 0, 0, 0};
  struct Expected {
    SERVICE_STATUS status;
    bool fromDispatcherThread;
  };
  const Expected expected[] = {{running, false}, {running, true},  {running, true},
                               {running, true},  {stopping, true}, {stopped, false}};
  const std::vector<host::ServiceStatusReport> reports = host::ServiceStatusReports();
  ASSERT_EQ(std::size(expected), reports.size());
  for (size_t i = 0; i < reports.size(); ++i) {
    SCOPED_TRACE(::testing::Message() << "report " << i);
    EXPECT_EQ(0, std::memcmp(&expected[i].status, &reports[i].status, sizeof(SERVICE_STATUS)))
        << "state " << reports[i].status.dwCurrentState;
    EXPECT_EQ(expected[i].fromDispatcherThread, reports[i].fromDispatcherThread);
  }
  EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), host::ServiceState(kService));
  // The program's calls inside the dispatcher are recorded as its own.
  EXPECT_EQ(6u, host::CallCount(host::gated::SetServiceStatus));
  EXPECT_EQ(1u, host::CallCount(host::gated::StartServiceCtrlDispatcherA));
}

TEST_F(Dispatcher, ControlsSentBeforeTheHandlerIsRegisteredWaitForIt) {
  Probe().sleepBeforeRegistering = 1000;
  host::ArrangeServiceStart(kService);
  StartDispatcher();
  host::SendServiceControl(SERVICE_CONTROL_STOP);
  ASSERT_TRUE(host::WaitForBlockedThreads(1));  // in its sleep before registering
  {
    std::lock_guard<std::mutex> lock(Probe().mutex);
    EXPECT_TRUE(Probe().controls.empty());
  }
  host::AdvanceClock(1000);
  ASSERT_TRUE(host::WaitForControlsDelivered());
  {
    std::lock_guard<std::mutex> lock(Probe().mutex);
    EXPECT_EQ(std::vector<DWORD>{SERVICE_CONTROL_STOP}, Probe().controls);
  }
  // The stop is already signalled when ServiceMain comes to wait for it.
  ASSERT_TRUE(host::WaitForBlockedThreads(1));
  host::AdvanceClock(1000);
  ASSERT_TRUE(dispatcher_->Join());
  EXPECT_EQ(TRUE, dispatcherResult_);
}

TEST_F(Dispatcher, TheHandlersCallsCanBeFailedLikeAnyOther) {
  host::ArrangeServiceStart(kService);
  StartDispatcher();
  ASSERT_TRUE(host::WaitForBlockedThreads(1));
  host::FailCall(host::gated::SetEvent, 1, kInjected);
  host::SendServiceControl(SERVICE_CONTROL_STOP);
  ASSERT_TRUE(host::WaitForControlsDelivered());
  // The stop never reached the service thread: it still waits.
  EXPECT_EQ(1u, host::BlockedThreadCount());
  host::SendServiceControl(SERVICE_CONTROL_STOP);
  ASSERT_TRUE(host::WaitForControlsDelivered());
  ASSERT_TRUE(host::WaitForBlockedThreads(1));  // now in its one-second stop
  host::AdvanceClock(1000);
  ASSERT_TRUE(dispatcher_->Join());
  EXPECT_EQ(TRUE, dispatcherResult_);
  std::lock_guard<std::mutex> lock(Probe().mutex);
  EXPECT_EQ((std::vector<DWORD>{kInjected, 0}), Probe().stopSignalErrors);
}

TEST_F(Dispatcher, ADispatcherWhoseServiceNeverEndsGivesUpAfterItsSafetyTimeOut) {
  host::SetDispatcherSafetyTimeout(100);
  host::ArrangeServiceStart(kService);
  ::testing::internal::CaptureStderr();
  StartDispatcher();
  ASSERT_TRUE(dispatcher_->Join());
  const std::string message = ::testing::internal::GetCapturedStderr();
  EXPECT_FALSE(dispatcherResult_);
  EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_REQUEST_TIMEOUT), dispatcherError_);
  EXPECT_NE(std::string::npos,
            message.find("ServiceMain of \"ProbeService\" has not returned after 100 ms"))
      << message;
  // The service thread left behind can no longer report.
  EXPECT_EQ(1u, host::BlockedThreadCount());
  SERVICE_STATUS status = {SERVICE_WIN32, SERVICE_STOPPED, 0, 0, 0, 0, 0};
  EXPECT_FALSE(SetServiceStatus(Probe().statusHandle, &status));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
}

}  // namespace
