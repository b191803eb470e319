// Hollin with the real update pass (the service's variant), started through the dispatcher:
// one whole pass two seconds after the start, then a stop.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "DorvaneVersion.h"
#include "PMEventReporter.h"
#include "PolicyUpdate.h"
#include "ReportedEvents.h"
#include "ServiceHarness.h"

namespace {

constexpr const char* kBackupKey = "Software\\Velmorant\\Dorvane\\Backup";
constexpr const char* kOptionsKey = "Software\\Policies\\Velmorant\\Dorvane\\Options";

class RealPass : public HostFixture {
 protected:
  void SetUp() override {
    HostFixture::SetUp();
    ForgetReportedWarnings();
  }
};

TEST_F(RealPass, TheServiceAppliesThePolicyTwoSecondsAfterStartAndSaysSoInTheDebugOutput) {
  std::string error;
  ASSERT_TRUE(host::ImportRegFile(HOLLIN_SCHEMES_REG, &error)) << error;
  ASSERT_TRUE(host::ImportRegFile(HOLLIN_POLICY_REG, &error)) << error;
  host::WriteDword(HKEY_LOCAL_MACHINE, kOptionsKey, "Log", 0);  // no log file on the host

  host::ArrangeServiceStart(harness::kServiceName);
  auto exitStatus = std::make_shared<std::atomic<int>>(-1);
  BackgroundThread dispatcher([exitStatus] { *exitStatus = harness::RunHollin({}); });
  ASSERT_TRUE(host::WaitForBlockedThreads(1));
  host::AdvanceClock(1999);
  // The start event names the interface a pass would choose; the pass chooses again.
  const std::string probe =
      "Power scheme interface: legacy (powrprof.dll has no PowerGetActiveScheme)";
  EXPECT_EQ(std::vector<std::string>{probe}, host::DebugOutput());
  host::AdvanceClock(1);
  ASSERT_TRUE(host::WaitForBlockedThreads(1));  // the pass is over, the wait has begun
  host::SendServiceControl(SERVICE_CONTROL_STOP);
  ASSERT_TRUE(dispatcher.Join());
  EXPECT_EQ(0, *exitStatus);

  EXPECT_EQ((std::vector<std::string>{probe, "Reached beginning of PM Update", probe,
                                      "Reached end of PM Update"}),
            host::DebugOutput());
  // The service's pass keeps its backup in the machine hive: the monitor time-out it
  // replaced (20 minutes) and the policy (10).
  EXPECT_EQ(std::string("\x14\0\0\0", 4),
            ValueBytes(HKEY_LOCAL_MACHINE, kBackupKey, "ACUserMonIdleTime"));
  EXPECT_EQ(std::string("\x0a\0\0\0", 4),
            ValueBytes(HKEY_LOCAL_MACHINE, kBackupKey, "ACUserVideoTimeoutPolicy"));
  EXPECT_FALSE(host::KeyExists(HKEY_CURRENT_USER, kBackupKey));

  // Its start, with the interface its passes use (a legacy machine), what the pass changed
  // (of the default scheme, all but the battery monitor, already at 5 minutes, and the battery
  // disk, whose 5000 minutes are out of range), and its stop.
  EXPECT_EQ(
      (std::vector<std::string>{
          reported_events::Expected(pm_events::kServiceStarted, {DORVANE_VERSION_TEXT, "legacy"}),
          reported_events::Expected(
              pm_events::kPassChangedSettings,
              {"service", "Administrator", "6",
               "ACUserMonIdleTime 20 -> 10\r\nACUserStandByIdleTime 0 -> 30\r\n"
               "ACMachHibernateIdleTime 0 -> 90\r\nDCUserStandByIdleTime 5 -> 15\r\n"
               "DCMachHibernateIdleTime 0 -> 60\r\nACUserHDDspindownIdleTime 0 -> 20"}),
          reported_events::Expected(pm_events::kServiceStopped, {})}),
      reported_events::All());
}

// "Hollin /Status" on the example policy: a first look finds what the service's pass then
// changes, and after that pass the machine complies.
TEST_F(RealPass, TheStatusCommandFindsTheMachineCompliantAfterTheServicesPass) {
  std::string error;
  ASSERT_TRUE(host::ImportRegFile(HOLLIN_SCHEMES_REG, &error)) << error;
  ASSERT_TRUE(host::ImportRegFile(HOLLIN_POLICY_REG, &error)) << error;
  host::WriteDword(HKEY_LOCAL_MACHINE, kOptionsKey, "Log", 0);  // no log file on the host
  auto status = [] {
    testing::internal::CaptureStdout();
    const int exitStatus = harness::RunHollin({"/Status"});
    const std::string report = testing::internal::GetCapturedStdout();
    return std::make_pair(exitStatus, report.substr(report.rfind("result: ")));
  };

  EXPECT_EQ(status(), std::make_pair(1, std::string("result: differs\n")));
  RunPolicyUpdate();
  EXPECT_EQ(status(), std::make_pair(0, std::string("result: complies\n")));
}

}  // namespace
