#include <gtest/gtest.h>

#include <string>

#include "HostCurrentSchemeStore.h"
#include "HostFixture.h"
#include "HostSchemeStore.h"
#include "PowerMachine.h"
#include "PwrMgmt.h"

namespace {

const std::string kActiveFailure =
    "PwrMgmt::GetPwrSchemeInUse() failed. Unable to Get index for current power "
    "scheme->System Error: ";

using PwrMgmtTest = HostFixture;

TEST_F(PwrMgmtTest, SuspendMeansExactlyS3) {
  const struct {
    BOOLEAN s1, s2, s3;
    bool capable;
  } cases[] = {
      {1, 1, 0, false}, {0, 0, 1, true}, {1, 1, 1, true}, {0, 0, 2, false}, {0, 0, 0xFF, false},
  };
  for (const auto& c : cases) {
    SYSTEM_POWER_CAPABILITIES caps = host::DefaultCapabilities();
    caps.SystemS1 = c.s1;
    caps.SystemS2 = c.s2;
    caps.SystemS3 = c.s3;
    host::SetCapabilities(caps);
    PwrMgmt mgmt;
    EXPECT_EQ(mgmt.IsPowerSuspendCapable(), c.capable)
        << "S1 " << int{c.s1} << " S2 " << int{c.s2} << " S3 " << int{c.s3};
    EXPECT_EQ(mgmt.GetErrorText(), "");
  }
}

TEST_F(PwrMgmtTest, CapabilitiesAreQueriedOnceAtConstruction) {
  SYSTEM_POWER_CAPABILITIES caps = host::DefaultCapabilities();
  caps.SystemS3 = 1;
  host::SetCapabilities(caps);
  PwrMgmt mgmt;
  caps.SystemS3 = 0;
  host::SetCapabilities(caps);
  EXPECT_TRUE(mgmt.IsPowerSuspendCapable());
  EXPECT_EQ(host::CallCount(host::gated::GetPwrCapabilities), 1u);
}

TEST_F(PwrMgmtTest, QuestionsAskThePlatformAfresh) {
  PwrMgmt mgmt;
  EXPECT_TRUE(mgmt.IsMonitorSleepSupported());
  EXPECT_TRUE(mgmt.IsHibernationAllowed());
  EXPECT_TRUE(mgmt.CanUserWriteScheme());

  host::SetLimitedUser(true);
  SYSTEM_POWER_CAPABILITIES caps = host::DefaultCapabilities();
  caps.SystemS4 = 0;
  host::SetCapabilities(caps);
  EXPECT_FALSE(mgmt.CanUserWriteScheme());
  EXPECT_FALSE(mgmt.IsHibernationAllowed());
  EXPECT_TRUE(mgmt.IsMonitorSleepSupported());

  host::FailCall(host::gated::CanUserWritePwrScheme, 1, ERROR_ACCESS_DENIED);
  host::SetLimitedUser(false);
  EXPECT_FALSE(mgmt.CanUserWriteScheme());
  EXPECT_TRUE(mgmt.CanUserWriteScheme());
  EXPECT_EQ(mgmt.GetErrorText(), "");
}

TEST_F(PwrMgmtTest, ActiveSchemeIndexOr65535WithTextAndAskedAgain) {
  PwrMgmt mgmt;
  EXPECT_EQ(mgmt.GetPwrSchemeInUse(), 65535u);
  EXPECT_EQ(mgmt.GetErrorText(), kActiveFailure);

  scheme_store::Seed(3, scheme_store::DistinctPolicy());
  scheme_store::SetActive(3);
  EXPECT_EQ(mgmt.GetPwrSchemeInUse(), 3u);
  EXPECT_EQ(host::CallCount(host::gated::GetActivePwrScheme), 2u);

  host::FailCall(host::gated::GetActivePwrScheme, 1, ERROR_FILE_NOT_FOUND);
  PwrMgmt fresh;
  EXPECT_EQ(fresh.GetPwrSchemeInUse(), 65535u);
  EXPECT_EQ(fresh.GetPwrSchemeInUse(), 3u);
  // A later success keeps the text of the failure.
  EXPECT_EQ(fresh.GetErrorText(), kActiveFailure);
}

// The failable form tells a failed query apart from a scheme that has the index 65535.
TEST_F(PwrMgmtTest, QueryOfTheActiveSchemeSaysWhetherThePlatformAnswered) {
  scheme_store::Seed(65535, scheme_store::DistinctPolicy());
  scheme_store::SetActive(65535);
  PwrMgmt mgmt;
  UINT index = 7;
  EXPECT_FALSE(mgmt.QueryPwrSchemeInUse(&index));
  EXPECT_EQ(index, 65535u);
  EXPECT_EQ(mgmt.GetErrorText(), "");

  host::FailCall(host::gated::GetActivePwrScheme, 1, ERROR_FILE_NOT_FOUND);
  index = 7;
  EXPECT_TRUE(mgmt.QueryPwrSchemeInUse(&index));
  EXPECT_EQ(index, 7u);
  EXPECT_EQ(mgmt.GetErrorText(), kActiveFailure);
}

TEST_F(PwrMgmtTest, FailedCapabilityQueryKeepsTheObjectUsable) {
  scheme_store::Seed(4, scheme_store::DistinctPolicy());
  scheme_store::SetActive(4);
  host::FailCall(host::gated::GetPwrCapabilities, 1, ERROR_GEN_FAILURE);
  PwrMgmt mgmt;
  EXPECT_EQ(mgmt.GetErrorText(),
            "PwrMgmt::PwrMgmt() failed. Unable to Get System Power Capabilities->System Error: ");
  EXPECT_TRUE(mgmt.IsMonitorSleepSupported());
  // The record stays zeroed, so the machine counts as not capable of standby.
  EXPECT_FALSE(mgmt.IsPowerSuspendCapable());
  EXPECT_TRUE(mgmt.IsHibernationAllowed());
  EXPECT_TRUE(mgmt.CanUserWriteScheme());
  EXPECT_EQ(mgmt.GetPwrSchemeInUse(), 4u);
}

// A second view of the machine, made from the capabilities another PwrMgmt read (as the update
// pass makes its scheme's), asks for nothing and answers from them alone, hibernation on the
// current interface included, whatever the machine says since. Its source still asks afresh.
TEST_F(PwrMgmtTest, AViewMadeFromKnownCapabilitiesAsksNothing) {
  for (const host::PowerMachine machine :
       {host::PowerMachine::kLegacyOnly, host::PowerMachine::kCurrent}) {
    SCOPED_TRACE(MachineName(machine));
    host::SetCapabilities(host::DefaultCapabilities());
    current_store::SeedDefaults(current_store::kBalanced,
                                {1200, 420, 600, 300, 4200, 2700, 1800, 900});
    current_store::SetActive(current_store::kBalanced);
    const std::shared_ptr<PowerInterface> power = ProbedOn(machine);
    ASSERT_STREQ(power->Name(), machine == host::PowerMachine::kCurrent ? "current" : "legacy");
    PwrMgmt first(power);
    SYSTEM_POWER_CAPABILITIES caps = host::DefaultCapabilities();
    caps.SystemS3 = 0;
    caps.SystemS4 = 0;
    host::SetCapabilities(caps);
    host::ClearCalls();

    PwrMgmt second(first.Interface(), first.Capabilities());

    EXPECT_TRUE(second.IsPowerSuspendCapable());
    if (machine == host::PowerMachine::kCurrent) {
      EXPECT_TRUE(second.IsHibernationAllowed());
      EXPECT_FALSE(first.IsHibernationAllowed());
      EXPECT_EQ(host::CallCount(host::gated::GetPwrCapabilities), 1u);  // the source's question
    } else {
      EXPECT_EQ(host::CallCount(host::gated::GetPwrCapabilities), 0u);
    }
    EXPECT_EQ(second.GetErrorText(), "");
  }
  host::SetPowerMachine(host::PowerMachine::kLegacyOnly);
}

}  // namespace
