// The service at run time, started as the service control manager starts it: the status it
// reports, when its passes run, and how stop and shutdown end it.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <vector>

#include "DorvaneVersion.h"
#include "PMEventReporter.h"
#include "PassDouble.h"
#include "ReportedEvents.h"
#include "ServiceHarness.h"

namespace {

using harness::kRunning;
using harness::kRunningReReported;
using harness::kStartPending;
using harness::kStopped;
using harness::kStopPending;
using harness::kStopRequested;
using Times = std::vector<uint64_t>;
using Texts = std::vector<std::string>;

class ServiceRun : public HostFixture {
 protected:
  void SetUp() override {
    HostFixture::SetUp();
    pass_double::Reset();
    ForgetReportedWarnings();
  }

  // Hollin without arguments, in a process the service control manager started for it.
  void StartService() {
    host::ArrangeServiceStart(harness::kServiceName);
    *exitStatus_ = -1;
    auto exitStatus = exitStatus_;
    dispatcher_ =
        std::make_unique<BackgroundThread>([exitStatus] { *exitStatus = harness::RunHollin({}); });
  }

  // Once the service thread is parked in its sleep or its wait, moves the clock on.
  static void AdvanceWhenParked(uint64_t ms) {
    ASSERT_TRUE(host::WaitForBlockedThreads(1));
    host::AdvanceClock(ms);
  }

  static void Control(DWORD control) {
    host::SendServiceControl(control);
    ASSERT_TRUE(host::WaitForControlsDelivered());
  }

  // The dispatcher has returned, and the process would exit with status 0.
  void ExpectEnded() {
    ASSERT_TRUE(dispatcher_->Join()) << "the service did not stop";
    EXPECT_EQ(0, *exitStatus_);
  }

  std::shared_ptr<std::atomic<int>> exitStatus_ = std::make_shared<std::atomic<int>>(-1);
  std::unique_ptr<BackgroundThread> dispatcher_;
};

TEST_F(ServiceRun, StopAndShutdownAlikeEndTheServiceAfterItsReportsInOrder) {
  const DWORD controls[] = {SERVICE_CONTROL_STOP, SERVICE_CONTROL_SHUTDOWN};
  for (DWORD control : controls) {
    SCOPED_TRACE(control);
    host::Reset();
    pass_double::Reset();
    StartService();
    AdvanceWhenParked(2000);
    ASSERT_TRUE(host::WaitForBlockedThreads(1));  // waiting for the next pass
    Control(control);
    ExpectEnded();

    EXPECT_EQ((Texts{kStartPending, kRunning, kStopRequested, kStopPending, kStopped}),
              harness::StatusReports());
    EXPECT_EQ(Times{2000}, pass_double::Starts());
    EXPECT_EQ(2000u, host::ClockNow());
    EXPECT_EQ(1u, host::CallCount(host::gated::CreateEventA));
    EXPECT_EQ(1u, host::CallCount(host::gated::CloseHandle));
  }
}

TEST_F(ServiceRun, InterrogatePauseContinueAndUnknownControlsReReportTheStatusUnchanged) {
  StartService();
  AdvanceWhenParked(2000);
  ASSERT_TRUE(host::WaitForBlockedThreads(1));
  const DWORD controls[] = {SERVICE_CONTROL_INTERROGATE, SERVICE_CONTROL_PAUSE,
                            SERVICE_CONTROL_CONTINUE, 128};
  for (DWORD control : controls) {
    Control(control);
  }
  EXPECT_EQ(Times{2000}, pass_double::Starts());
  EXPECT_FALSE(dispatcher_->Finished());

  Control(SERVICE_CONTROL_STOP);
  ExpectEnded();
  EXPECT_EQ((Texts{kStartPending, kRunning, kRunningReReported, kRunningReReported,
                   kRunningReReported, kRunningReReported, kStopRequested, kStopPending, kStopped}),
            harness::StatusReports());
}

TEST_F(ServiceRun, PassesStartTwoSecondsAfterRunningAndTenMinutesAfterThePreviousPassEnded) {
  constexpr DWORD kPass = 90000;  // each pass takes a minute and a half
  pass_double::SetDuration(kPass);
  StartService();

  AdvanceWhenParked(1999);
  EXPECT_EQ(1u, host::BlockedThreadCount());
  EXPECT_EQ(Times{}, pass_double::Starts());
  host::AdvanceClock(1);
  AdvanceWhenParked(kPass);  // the first pass ends

  AdvanceWhenParked(599999);
  EXPECT_EQ(1u, host::BlockedThreadCount());
  EXPECT_EQ(Times{2000}, pass_double::Starts());
  host::AdvanceClock(1);
  AdvanceWhenParked(kPass);  // the second pass ends
  ASSERT_TRUE(host::WaitForBlockedThreads(1));

  Control(SERVICE_CONTROL_STOP);
  ExpectEnded();
  EXPECT_EQ((Times{2000, 2000 + kPass + 600000}), pass_double::Starts());
  EXPECT_EQ((Times{2000 + kPass, 2000 + 2 * kPass + 600000}), pass_double::Ends());
  EXPECT_EQ((Texts{kStartPending, kRunning, kStopRequested, kStopPending, kStopped}),
            harness::StatusReports());
}

// The start delay is a wait on the stop event: a stop or shutdown at its first or its last
// millisecond ends the service there, without a pass.
TEST_F(ServiceRun, AStopDuringTheStartDelayEndsTheServiceWithoutAPass) {
  const struct {
    DWORD control;
    uint64_t after;
  } cases[] = {
      {SERVICE_CONTROL_STOP, 0}, {SERVICE_CONTROL_STOP, 1999}, {SERVICE_CONTROL_SHUTDOWN, 1000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.control) + " after " + std::to_string(c.after) + " ms");
    host::Reset();
    pass_double::Reset();
    StartService();
    ASSERT_TRUE(host::WaitForBlockedThreads(1));  // in the start delay
    host::AdvanceClock(c.after);
    ASSERT_TRUE(host::WaitForBlockedThreads(1));
    Control(c.control);
    ExpectEnded();

    EXPECT_EQ(Times{}, pass_double::Starts());
    EXPECT_EQ(c.after, host::ClockNow());
    EXPECT_EQ((Texts{kStartPending, kRunning, kStopRequested, kStopPending, kStopped}),
              harness::StatusReports());
    EXPECT_EQ(1u, host::CallCount(host::gated::CloseHandle));
    EXPECT_EQ(0u, host::CallCount(host::gated::Sleep));
  }
}

// The service's start and its stop are events of their own: the start, with the version and
// the power-scheme interface of its passes, once it runs; the stop before its last status
// report, after which the process may end. A stop in the start delay ends both all the same.
TEST_F(ServiceRun, ReportsItsStartOnceItRunsAndItsStopBeforeItReportsStopped) {
  const struct {
    const char* name;
    const char* interfaceName;
    uint64_t stopAfter;  // ms after the start
    Times passes;
  } cases[] = {{"after a pass", "current", 2000, {2000}},
               {"in the start delay", "legacy", 1000, {}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    host::Reset();
    pass_double::Reset();
    pass_double::SetPowerInterfaceName(c.interfaceName);
    StartService();
    AdvanceWhenParked(c.stopAfter);
    ASSERT_TRUE(host::WaitForBlockedThreads(1));
    Control(SERVICE_CONTROL_STOP);
    ExpectEnded();

    EXPECT_EQ(c.passes, pass_double::Starts());
    EXPECT_EQ((Texts{reported_events::Expected(pm_events::kServiceStarted,
                                               {DORVANE_VERSION_TEXT, c.interfaceName}),
                     reported_events::Expected(pm_events::kServiceStopped, {})}),
              reported_events::All());
    Texts order;
    for (const std::string& call : host::Calls()) {
      if (call == "SetServiceStatus" || call == "ReportEventA") order.push_back(call);
    }
    EXPECT_EQ((Texts{"SetServiceStatus", "SetServiceStatus", "ReportEventA", "SetServiceStatus",
                     "SetServiceStatus", "ReportEventA", "SetServiceStatus"}),
              order);
    EXPECT_EQ((Texts{kStartPending, kRunning, kStopRequested, kStopPending, kStopped}),
              harness::StatusReports());
  }
}

// A delay whose wait fails is slept out instead; the service then runs as usual.
TEST_F(ServiceRun, AFailedStartDelayWaitIsSleptOutAndThePassesGoOn) {
  host::FailCall(host::gated::WaitForSingleObject, 1, ERROR_INVALID_HANDLE);
  StartService();
  AdvanceWhenParked(1999);
  EXPECT_EQ(Times{}, pass_double::Starts());
  host::AdvanceClock(1);
  AdvanceWhenParked(600000);
  ASSERT_TRUE(host::WaitForBlockedThreads(1));

  Control(SERVICE_CONTROL_STOP);
  ExpectEnded();
  EXPECT_EQ((Times{2000, 602000}), pass_double::Starts());
  EXPECT_EQ(1u, host::CallCount(host::gated::Sleep));
}

TEST_F(ServiceRun, AStopDuringAPassReportsStopPendingAtOnceAndStoppedOnlyAfterThePass) {
  pass_double::HoldNextPass();
  StartService();
  AdvanceWhenParked(2000);
  ASSERT_TRUE(pass_double::WaitUntilHeld());

  Control(SERVICE_CONTROL_STOP);
  Control(SERVICE_CONTROL_INTERROGATE);  // stop pending stays what it is
  EXPECT_EQ((Texts{kStartPending, kRunning, kStopRequested, kStopRequested}),
            harness::StatusReports());
  EXPECT_FALSE(dispatcher_->Finished());
  EXPECT_EQ(Times{}, pass_double::Ends());

  pass_double::Release();
  ExpectEnded();
  EXPECT_EQ(Times{2000}, pass_double::Starts());
  EXPECT_EQ(Times{2000}, pass_double::Ends());
  EXPECT_EQ(
      (Texts{kStartPending, kRunning, kStopRequested, kStopRequested, kStopPending, kStopped}),
      harness::StatusReports());
}

// The start delay is then slept, since there is nothing to wait on.
TEST_F(ServiceRun, WithoutAStopEventExactlyOnePassRunsAndTheServiceStops) {
  host::FailCall(host::gated::CreateEventA, 1, ERROR_NOT_ENOUGH_MEMORY);
  StartService();
  AdvanceWhenParked(1999);
  EXPECT_EQ(Times{}, pass_double::Starts());
  AdvanceWhenParked(1);
  ExpectEnded();
  EXPECT_EQ(Times{2000}, pass_double::Starts());
  EXPECT_EQ(1u, host::CallCount(host::gated::Sleep));
  EXPECT_EQ(2000u, host::ClockNow());
  EXPECT_EQ((Texts{kStartPending, kRunning, kStopPending, kStopped}), harness::StatusReports());
}

TEST_F(ServiceRun, AFailedHandlerRegistrationEndsTheServiceWithoutAnyReport) {
  host::FailCall(host::gated::RegisterServiceCtrlHandlerA, 1, ERROR_INVALID_NAME);
  StartService();
  ExpectEnded();
  EXPECT_EQ(Texts{}, harness::StatusReports());
  EXPECT_EQ(Texts{}, reported_events::All());
  EXPECT_EQ(Times{}, pass_double::Starts());
  EXPECT_EQ(0u, host::CallCount(host::gated::SetServiceStatus));
  EXPECT_EQ(0u, host::CallCount(host::gated::CreateEventA));
  EXPECT_EQ(0u, host::CallCount(host::gated::Sleep));
}

TEST_F(ServiceRun, AFailedStatusReportIsIgnored) {
  host::FailCall(host::gated::SetServiceStatus, 1, ERROR_INVALID_DATA);  // start pending is lost
  StartService();
  AdvanceWhenParked(2000);
  ASSERT_TRUE(host::WaitForBlockedThreads(1));
  Control(SERVICE_CONTROL_STOP);
  ExpectEnded();
  EXPECT_EQ((Texts{kRunning, kStopRequested, kStopPending, kStopped}), harness::StatusReports());
  EXPECT_EQ(Times{2000}, pass_double::Starts());
}

// A stop request whose wake-up signal is lost still holds: no further pass starts, and the
// service stops when its wait ends.
TEST_F(ServiceRun, AStopWhoseSignalIsLostEndsTheServiceWhenItsWaitEnds) {
  StartService();
  AdvanceWhenParked(2000);
  ASSERT_TRUE(host::WaitForBlockedThreads(1));  // waiting for the next pass
  host::FailCall(host::gated::SetEvent, 1, ERROR_INVALID_HANDLE);
  Control(SERVICE_CONTROL_STOP);
  EXPECT_FALSE(dispatcher_->Finished());

  AdvanceWhenParked(600000);
  ExpectEnded();
  EXPECT_EQ(Times{2000}, pass_double::Starts());
  EXPECT_EQ((Texts{kStartPending, kRunning, kStopRequested, kStopPending, kStopped}),
            harness::StatusReports());
}

}  // namespace
