// PwrMgmt and PwrScheme on a current machine (Windows Vista and later), over the stand-in's
// store of Windows 10's three default plans, Balanced active: monitor 10/5, standby 30/15,
// hibernation 180/180 and disk 20/10 minutes.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "HostCurrentSchemeStore.h"
#include "HostFixture.h"
#include "PowerMachine.h"
#include "PwrMgmt.h"
#include "PwrScheme.h"

namespace {

using Texts = std::vector<std::string>;
using current_store::kBalanced;
using current_store::kPowerSaver;
using current_store::Stored;
using current_store::StoredTimeouts;
using current_store::Timeouts;

const std::string kSuffix = "->System Error: ";
const Timeouts kBalancedDefaults = {600, 300, 1800, 900, 10800, 10800, 1200, 600};
const host::FailableFunction kLegacySchemeFunctions[] = {
    host::gated::GetActivePwrScheme,    host::gated::ReadPwrScheme,
    host::gated::WritePwrScheme,        host::gated::SetActivePwrScheme,
    host::gated::CanUserWritePwrScheme, host::gated::IsPwrHibernateAllowed};

class CurrentInterfaceTest : public HostFixture {
 protected:
  void SetUp() override {
    HostFixture::SetUp();
    std::string error;
    ASSERT_TRUE(host::ImportRegFile(PM_FIXTURES_DIR "/current-default-schemes.reg", &error))
        << error;
    power_ = ProbedOn(host::PowerMachine::kCurrent);
    // The interface meets Balanced as the active scheme: it is scheme 0 from now on.
    ASSERT_EQ(0u, PwrMgmt(power_).GetPwrSchemeInUse());
    host::ClearCalls();
  }
  void TearDown() override {
    for (const host::FailableFunction& legacy : kLegacySchemeFunctions) {
      EXPECT_EQ(0u, host::CallCount(legacy))
          << "the current machine's " << legacy.name << " was used";
    }
    power_.reset();
    host::Reset();
    UsePowerMachine(host::PowerMachine::kLegacyOnly);
  }

  static std::string Desktop(const std::string& name) {
    std::string text = ValueBytes(HKEY_CURRENT_USER, "Control Panel\\Desktop", name);
    while (!text.empty() && text.back() == '\0') text.pop_back();
    return text;
  }

  // The interface a program on this machine chooses; every object of a test shares it, as the
  // objects of one pass do.
  std::shared_ptr<PowerInterface> power_;
};

TEST_F(CurrentInterfaceTest, TheActiveSchemeReadsInMinutes) {
  PwrMgmt mgmt(power_);
  PwrScheme scheme(power_, mgmt.GetPwrSchemeInUse());

  ASSERT_TRUE(scheme.IsRead()) << scheme.GetErrorText();
  EXPECT_EQ(10u, scheme.GetUserAcVideoTimeOut());
  EXPECT_EQ(5u, scheme.GetUserDcVideoTimeOut());
  EXPECT_EQ(30u, scheme.GetUserAcStandbyTimeOut());
  EXPECT_EQ(15u, scheme.GetUserDcStandbyTimeOut());
  EXPECT_EQ(180u, scheme.GetMachAcHibernateTimeOut());
  EXPECT_EQ(180u, scheme.GetMachDcHibernateTimeOut());
  EXPECT_EQ(20u, scheme.GetUserAcSpinDownTimeOut());
  EXPECT_EQ(10u, scheme.GetUserDcSpinDownTimeOut());
  // One standby time-out: the machine's is the user's.
  EXPECT_EQ(30u, scheme.GetMachAcStandbyTimeOut());
  EXPECT_EQ(15u, scheme.GetMachDcStandbyTimeOut());
  EXPECT_EQ("", mgmt.GetErrorText());
  EXPECT_EQ(0u, host::LocalBlockCount());
}

// The library names schemes by number: each scheme the interface meets as the active one gets
// the next index and keeps it, so a scheme is written back where it was read, and only while it
// is still the active one: a scheme another program switched away from is not written, nor
// made active again.
TEST_F(CurrentInterfaceTest, AnIndexNamesOneSchemeForTheLifeOfTheProcess) {
  PwrMgmt mgmt(power_);
  EXPECT_EQ(0u, mgmt.GetPwrSchemeInUse());
  PwrScheme balanced(power_, 0);
  current_store::SetActive(kPowerSaver);
  EXPECT_EQ(1u, mgmt.GetPwrSchemeInUse());
  PwrScheme saver(power_, 1);
  EXPECT_EQ(5u, saver.GetUserAcVideoTimeOut());
  current_store::SetActive(kBalanced);
  EXPECT_EQ(0u, mgmt.GetPwrSchemeInUse());

  current_store::SetActive(kPowerSaver);
  ASSERT_FALSE(balanced.SetUserAcVideoTimeOut(12));
  EXPECT_TRUE(balanced.commit());
  EXPECT_EQ(
      "PwrScheme::commit() failed. Another PowerScheme became active since it was read; nothing "
      "written" +
          kSuffix,
      balanced.GetErrorText());
  EXPECT_EQ(kBalancedDefaults, StoredTimeouts(kBalanced));
  EXPECT_EQ(300u, Stored(kPowerSaver, current_store::kVideoIdle, true));
  EXPECT_EQ(kPowerSaver, current_store::Active()) << "the other program's choice stays";

  current_store::SetActive(kBalanced);
  EXPECT_FALSE(balanced.commit()) << balanced.GetErrorText();
  EXPECT_EQ(720u, Stored(kBalanced, current_store::kVideoIdle, true));
  EXPECT_EQ(kBalanced, current_store::Active());

  PwrScheme unknown(power_, 7);
  EXPECT_FALSE(unknown.IsRead());
  EXPECT_EQ("PwrScheme initialiaze()" + kSuffix, unknown.GetErrorText());
}

TEST_F(CurrentInterfaceTest, NoActiveSchemeAnswers65535AndFreesWhatItWasGiven) {
  current_store::SetActive("not a GUID");
  PwrMgmt mgmt(power_);
  EXPECT_EQ(65535u, mgmt.GetPwrSchemeInUse());
  EXPECT_EQ(
      "PwrMgmt::GetPwrSchemeInUse() failed. Unable to Get index for current power scheme" + kSuffix,
      mgmt.GetErrorText());

  current_store::SetActive(kBalanced);
  host::FailCall(host::gated::LocalFree, 1, ERROR_INVALID_HANDLE);
  EXPECT_EQ(0u, mgmt.GetPwrSchemeInUse());
  // A failed LocalFree still frees, as a failed close releases its handle (see the gate table).
  EXPECT_EQ(0u, host::LocalBlockCount());
  EXPECT_EQ(0u, mgmt.GetPwrSchemeInUse());
  EXPECT_EQ(0u, host::LocalBlockCount());
}

// The setting holds the total idle time until hibernation: what is set is stored as it is and
// reads back as it was set, whatever the standby time-out (30 minutes here).
TEST_F(CurrentInterfaceTest, HibernationIsStoredAndReadAsTheTotalIdleTime) {
  const struct {
    const char* what;
    DWORD minutes;
    DWORD stored;    // seconds
    DWORD readBack;  // minutes
  } cases[] = {
      {"never", 0, 0, 0},
      {"below standby", 10, 600, 10},
      {"equal to standby", 30, 1800, 30},
      {"above standby", 90, 5400, 90},
      {"wraps around in seconds", 71582789, 44, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    PwrScheme scheme(power_, 0);
    ASSERT_EQ(30u, scheme.GetUserAcStandbyTimeOut());
    ASSERT_FALSE(scheme.SetMachAcHibernateTimeOut(c.minutes));
    ASSERT_FALSE(scheme.SetMachDcHibernateTimeOut(c.minutes));
    EXPECT_EQ(c.readBack, scheme.GetMachAcHibernateTimeOut());
    ASSERT_FALSE(scheme.commit()) << scheme.GetErrorText();

    EXPECT_EQ(c.stored, Stored(kBalanced, current_store::kHibernateIdle, true));
    EXPECT_EQ(c.stored, Stored(kBalanced, current_store::kHibernateIdle, false));
    PwrScheme reread(power_, 0);
    EXPECT_EQ(c.readBack, reread.GetMachAcHibernateTimeOut());
    EXPECT_EQ(c.readBack, reread.GetMachDcHibernateTimeOut());
    EXPECT_EQ(30u, reread.GetUserAcStandbyTimeOut()) << "standby is not touched";
  }
}

TEST_F(CurrentInterfaceTest, HibernationIsAllowedByTheCapabilitiesAskedAfresh) {
  PwrScheme scheme(power_, 0);
  for (BOOLEAN SYSTEM_POWER_CAPABILITIES::*missing :
       {&SYSTEM_POWER_CAPABILITIES::SystemS4, &SYSTEM_POWER_CAPABILITIES::HiberFilePresent}) {
    SYSTEM_POWER_CAPABILITIES caps = host::DefaultCapabilities();
    caps.*missing = 0;
    host::SetCapabilities(caps);
    EXPECT_TRUE(scheme.SetMachAcHibernateTimeOut(60));
    EXPECT_EQ(
        "PwrScheme::SetMachAcHibernateTimeOut(): System/user account is not capable of/configured "
        "for Hibernation" +
            kSuffix,
        scheme.GetErrorText());
    EXPECT_EQ(180u, scheme.GetMachAcHibernateTimeOut());
  }
  host::SetCapabilities(host::DefaultCapabilities());
  EXPECT_FALSE(scheme.SetMachAcHibernateTimeOut(60));
}

// The exerciser's machine-standby row: there is one standby time-out, and both rows set it.
TEST_F(CurrentInterfaceTest, MachineStandbyIsTheOneStandbyTimeOut) {
  PwrScheme scheme(power_, 0);
  ASSERT_FALSE(scheme.SetMachAcStandbyTimeOut(20));
  EXPECT_EQ(20u, scheme.GetMachAcStandbyTimeOut());
  EXPECT_EQ(20u, scheme.GetUserAcStandbyTimeOut());
  ASSERT_FALSE(scheme.commit());
  EXPECT_EQ(1200u, Stored(kBalanced, current_store::kStandbyIdle, true));
  EXPECT_EQ(900u, Stored(kBalanced, current_store::kStandbyIdle, false));

  SYSTEM_POWER_CAPABILITIES noStandby = host::DefaultCapabilities();
  noStandby.SystemS3 = 0;
  host::SetCapabilities(noStandby);
  PwrScheme onDesktopWithoutS3(power_, 0);
  EXPECT_TRUE(onDesktopWithoutS3.SetMachAcStandbyTimeOut(5));
  EXPECT_EQ(
      "PwrScheme::SetMachAcStandbyTimeOut(): System is not capable of Power Suspend in Sleep "
      "State S3." +
          kSuffix,
      onDesktopWithoutS3.GetErrorText());
  EXPECT_EQ(20u, onDesktopWithoutS3.GetUserAcStandbyTimeOut());
  onDesktopWithoutS3.EnableForceStandby();
  EXPECT_FALSE(onDesktopWithoutS3.SetMachAcStandbyTimeOut(5));
  EXPECT_EQ(5u, onDesktopWithoutS3.GetUserAcStandbyTimeOut());
}

// Only what the setters changed is written (each read first, for a refused commit to put it
// back), and the scheme activated again. The display power-off calls of Windows XP, which
// Windows documents as not supported since Vista, are not made: the display idle setting is
// the display's power-off.
TEST_F(CurrentInterfaceTest, CommitWritesWhatChangedAndActivatesTheScheme) {
  current_store::SetActive(kPowerSaver);
  PwrScheme scheme(power_, PwrMgmt(power_).GetPwrSchemeInUse());
  ASSERT_FALSE(scheme.SetUserAcVideoTimeOut(15));
  ASSERT_FALSE(scheme.SetUserDcSpinDownTimeOut(0));
  ASSERT_FALSE(scheme.SetUserAcStandbyTimeOut(15)) << "what the scheme holds already";
  host::WriteString(HKEY_CURRENT_USER, "Control Panel\\Desktop", "PowerOffActive", "0");
  host::ClearCalls();

  EXPECT_FALSE(scheme.commit());

  EXPECT_EQ((Texts{"PowerSettingAccessCheck", "PowerGetActiveScheme", "LocalFree",
                   "PowerReadACValueIndex", "PowerWriteACValueIndex", "PowerReadDCValueIndex",
                   "PowerWriteDCValueIndex", "PowerSetActiveScheme"}),
            host::Calls());
  EXPECT_EQ((Timeouts{900, 120, 900, 600, 10800, 10800, 1200, 0}), StoredTimeouts(kPowerSaver));
  EXPECT_EQ(kBalancedDefaults, StoredTimeouts(kBalanced));
  EXPECT_FALSE(host::KeyExists(
      HKEY_LOCAL_MACHINE, current_store::OwnValueKey(kPowerSaver, current_store::kStandbyIdle)))
      << "an unchanged setting was written";
  EXPECT_EQ(kPowerSaver, current_store::Active());
  EXPECT_EQ("0", Desktop("PowerOffActive"));
  EXPECT_EQ("", Desktop("PowerOffTimeOut"));
  EXPECT_EQ(0u, host::LocalBlockCount());
}

// A write the platform refuses, or an activation, is a failed commit, and every setting
// already written gets its old value back.
struct RefusedCommit {
  const char* name;
  void (*arrange)();
  const char* error;
};

class RefusedCommitTest : public CurrentInterfaceTest,
                          public testing::WithParamInterface<RefusedCommit> {};

TEST_P(RefusedCommitTest, LeavesNothingHalfWrittenAndCanBeTriedAgain) {
  PwrScheme scheme(power_, 0);
  ASSERT_FALSE(scheme.SetUserAcVideoTimeOut(15));
  ASSERT_FALSE(scheme.SetUserDcStandbyTimeOut(4));
  ASSERT_FALSE(scheme.SetMachAcHibernateTimeOut(90));
  ASSERT_FALSE(scheme.SetUserDcSpinDownTimeOut(0));
  current_store::SetActive(kPowerSaver);
  current_store::SetActive(kBalanced);  // a switch away and back meanwhile changes nothing
  GetParam().arrange();

  EXPECT_TRUE(scheme.commit());

  EXPECT_EQ(GetParam().error + kSuffix, scheme.GetErrorText());
  EXPECT_EQ(kBalancedDefaults, StoredTimeouts(kBalanced));

  // The record is kept, so the commit can be tried again.
  host::ClearFailures();
  host::DeleteKeyTree(HKEY_LOCAL_MACHINE, current_store::kPolicySettings);
  EXPECT_FALSE(scheme.commit()) << scheme.GetErrorText();
  EXPECT_EQ((Timeouts{900, 300, 1800, 240, 5400, 10800, 1200, 0}), StoredTimeouts(kBalanced));
  EXPECT_EQ(kBalanced, current_store::Active());
}

const RefusedCommit kRefusedCommits[] = {
    {"GroupPolicyHoldsTheBatteryDiskTimeOut",
     [] { current_store::HoldByPolicy(current_store::kDiskIdle, false, 300); },
     "PwrScheme::commit() failed. Unable to Write PowerScheme"},
    {"TheSecondWriteIsRefused",
     [] { host::FailCall(host::gated::PowerWriteDCValueIndex, 1, ERROR_ACCESS_DENIED); },
     "PwrScheme::commit() failed. Unable to Write PowerScheme"},
    {"AReadBetweenWritesFails",
     [] { host::FailCall(host::gated::PowerReadDCValueIndex, 2, ERROR_GEN_FAILURE); },
     "PwrScheme::commit() failed. Unable to Write PowerScheme"},
    {"TheActivationIsRefused",
     [] { host::FailCall(host::gated::PowerSetActiveScheme, 1, ERROR_ACCESS_DISABLED_BY_POLICY); },
     "PwrScheme::commit() failed. Unable to Set Active PowerScheme"},
};
INSTANTIATE_TEST_SUITE_P(Cases, RefusedCommitTest, testing::ValuesIn(kRefusedCommits),
                         [](const testing::TestParamInfo<RefusedCommit>& info) {
                           return std::string(info.param.name);
                         });

// There is no per-user copy of the scheme to write: without the right to write the active
// scheme the commit fails, bypass or not, and nothing is written anywhere.
TEST_F(CurrentInterfaceTest, WithoutTheRightToWriteTheBypassChangesNothing) {
  for (bool bypass : {false, true}) {
    SCOPED_TRACE(bypass ? "bypass on" : "bypass off");
    PwrScheme scheme(power_, 0);
    ASSERT_FALSE(scheme.SetUserAcVideoTimeOut(15));
    if (bypass) scheme.EnableSecurityBypass();
    host::SetLimitedUser(true);
    const std::string before = host::ExportRegText(HKEY_LOCAL_MACHINE, "SYSTEM");
    host::ClearCalls();

    EXPECT_TRUE(scheme.commit());

    EXPECT_EQ(
        "PwrScheme::commit(): Current User has insufficient priviledges to write active power "
        "scheme and no override has been set." +
            kSuffix,
        scheme.GetErrorText());
    EXPECT_EQ(Texts{"PowerSettingAccessCheck"}, host::Calls());
    EXPECT_EQ(before, host::ExportRegText(HKEY_LOCAL_MACHINE, "SYSTEM"));
    EXPECT_FALSE(host::KeyExists(HKEY_CURRENT_USER, "Control Panel\\PowerCfg"));
    EXPECT_FALSE(PwrMgmt(power_).CanUserWriteScheme());
    host::SetLimitedUser(false);
  }
}

}  // namespace
