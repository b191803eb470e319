// Reporting one event: the three calls it makes, the warnings it reports only once per process,
// and failures that change nothing else and are not retried.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "HostFixture.h"
#include "PMEventReporter.h"
#include "ReportedEvents.h"

namespace {

using Texts = std::vector<std::string>;
using reported_events::Expected;

constexpr DWORD kSentinelError = 0x5E5E;

class PMEventReporterTest : public HostFixture {
 protected:
  void SetUp() override {
    HostFixture::SetUp();
    ForgetReportedWarnings();
  }
  void TearDown() override { ForgetReportedWarnings(); }

  PMEventReporter reporter_;
};

TEST_F(PMEventReporterTest, AReportRegistersTheSourceReportsAndDeregistersItAgain) {
  EXPECT_TRUE(reporter_.Report(pm_events::kServiceStarted, {"2.0.694", "legacy"}));
  EXPECT_TRUE(reporter_.Report(pm_events::kServiceStopped, {}));

  EXPECT_EQ((Texts{Expected(pm_events::kServiceStarted, {"2.0.694", "legacy"}),
                   Expected(pm_events::kServiceStopped, {})}),
            reported_events::All());
  EXPECT_EQ((Texts{"RegisterEventSourceA", "ReportEventA", "DeregisterEventSource",
                   "RegisterEventSourceA", "ReportEventA", "DeregisterEventSource"}),
            host::Calls());
  EXPECT_EQ(0u, host::OpenHandleCount());
}

TEST_F(PMEventReporterTest, AWarningIsReportedOncePerProcessInformationAndErrorsEveryTime) {
  const PMEvent& warning = pm_events::kLogTargetRefused;
  const Texts refused = {"service", "SYSTEM", "C:\\x.log", "a symbolic link"};
  const Texts other = {"service", "SYSTEM", "C:\\y.log", "a symbolic link"};
  const Texts failed = {"service", "SYSTEM", "Invalid Scheme Name"};
  for (int pass = 0; pass < 3; ++pass) {
    EXPECT_TRUE(reporter_.Report(warning, refused));
    EXPECT_TRUE(reporter_.Report(pm_events::kPassFailed, failed));
  }
  EXPECT_TRUE(PMEventReporter().Report(warning, refused)) << "another object, the same process";
  EXPECT_TRUE(reporter_.Report(warning, other));

  EXPECT_EQ((Texts{Expected(warning, refused), Expected(pm_events::kPassFailed, failed),
                   Expected(pm_events::kPassFailed, failed),
                   Expected(pm_events::kPassFailed, failed), Expected(warning, other)}),
            reported_events::All());

  // As in a process that has just started.
  ForgetReportedWarnings();
  host::ClearReportedEvents();
  EXPECT_TRUE(reporter_.Report(warning, refused));
  EXPECT_EQ(Texts{Expected(warning, refused)}, reported_events::All());
}

// A failed report is dropped after one try, leaves no handle and the thread's last error as it
// was; a warning that was not reported is tried again at its next report, and only then kept.
TEST_F(PMEventReporterTest, AFailedReportChangesNothingElseAndIsNotRetried) {
  const Texts strings = {"logon tool", "alice", "C:\\x.log", "a folder"};
  const struct Case {
    const host::FailableFunction* failing;
    Texts calls;
  } cases[] = {
      {&host::gated::RegisterEventSourceA, {"RegisterEventSourceA"}},
      {&host::gated::ReportEventA,
       {"RegisterEventSourceA", "ReportEventA", "DeregisterEventSource"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.failing->name);
    host::Reset();
    ForgetReportedWarnings();
    host::FailCall(*c.failing, 1, ERROR_ACCESS_DENIED);
    SetLastError(kSentinelError);

    EXPECT_FALSE(reporter_.Report(pm_events::kLogTargetRefused, strings));

    EXPECT_EQ(kSentinelError, GetLastError());
    EXPECT_EQ(c.calls, host::Calls());
    EXPECT_EQ(0u, host::OpenHandleCount());
    EXPECT_TRUE(host::ReportedEvents().empty());

    EXPECT_TRUE(reporter_.Report(pm_events::kLogTargetRefused, strings));
    EXPECT_TRUE(reporter_.Report(pm_events::kLogTargetRefused, strings));
    EXPECT_EQ(1u, host::ReportedEvents().size());
  }
}

// A failing deregistration still leaves the event reported and no handle behind.
TEST_F(PMEventReporterTest, AFailedDeregistrationLeavesTheReportStanding) {
  host::FailCall(host::gated::DeregisterEventSource, 1, ERROR_GEN_FAILURE);
  EXPECT_TRUE(reporter_.Report(pm_events::kServiceStopped, {}));
  EXPECT_EQ(1u, host::ReportedEvents().size());
  EXPECT_EQ(0u, host::OpenHandleCount());
}

TEST_F(PMEventReporterTest, StringsAreAsManyAsTheEventTakesAndCutToTheLongestTheLogTakes) {
  EXPECT_FALSE(reporter_.Report(pm_events::kServiceStarted, {"2.0.694"}));
  EXPECT_FALSE(reporter_.Report(pm_events::kServiceStopped, {"extra"}));
  EXPECT_TRUE(host::Calls().empty()) << "nothing is reported at all";

  const std::string longest(PMEventReporter::kLongestString, 'x');
  EXPECT_TRUE(reporter_.Report(pm_events::kPassFailed, {"service", "SYSTEM", longest + "yz"}));
  const std::vector<host::ReportedEvent> events = host::ReportedEvents();
  ASSERT_EQ(1u, events.size());
  EXPECT_EQ((Texts{"service", "SYSTEM", longest}), events[0].strings);
}

}  // namespace
