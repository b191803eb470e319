// Whole passes on both kinds of machine (MachineKindFixture.h): each test expects the same log,
// backup key and scheme in minutes whatever the machine.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "HostCurrentSchemeStore.h"
#include "MachineKindFixture.h"

namespace {

using host::PowerMachine;
using machine_kind::kSeeded;
using machine_kind::Minutes;
using machine_kind::Replaced;
using machine_kind::Snapshot;

class MachineKindPassTest : public machine_kind::MachineKindFixture<> {};

TEST_P(MachineKindPassTest, TheServicePassEnforcesEverySetting) {
  const Minutes policy = {15, 25, 90, 3, 4, 60, 45, 0};
  SeedStandardPolicy(PolicyOf(policy));

  RunPass(kServicePass);

  EXPECT_EQ(LogText(), LogOfEveryChange(kServicePass));
  EXPECT_EQ(Backup(HKEY_LOCAL_MACHINE), Concat(Snapshot(kSeeded, policy), Replaced(kSeeded)));
  EXPECT_EQ(StoredMinutes(), policy);
  EXPECT_EQ(Activations(), 1u);
  // One look at the machine serves the pass, its hibernation setters included.
  EXPECT_EQ(host::CallCount(host::gated::GetPwrCapabilities), 1u);
  EXPECT_EQ(host::DebugOutput(),
            (std::vector<std::string>{"Reached beginning of PM Update", ProbeText(),
                                      "Reached end of PM Update"}));
}

TEST_P(MachineKindPassTest, TheLogonPassEnforcesEverySettingAndKeepsItsBackupInTheUsersHive) {
  const Minutes policy = {15, 25, 90, 3, 4, 60, 45, 0};
  SeedStandardPolicy(PolicyOf(policy));

  RunPass(kLogonPass);

  EXPECT_EQ(LogText(), LogOfEveryChange(kLogonPass));
  EXPECT_EQ(Backup(HKEY_CURRENT_USER), Concat(Snapshot(kSeeded, policy), Replaced(kSeeded)));
  EXPECT_FALSE(BackupExists(HKEY_LOCAL_MACHINE));
  EXPECT_EQ(StoredMinutes(), policy);
  EXPECT_EQ(host::DebugOutput(), std::vector<std::string>{ProbeText()});
}

TEST_P(MachineKindPassTest, APolicyTheSchemeAlreadyHoldsIsRecordedButNotCommitted) {
  SeedStandardPolicy(PolicyOf(kSeeded));

  RunPass();

  EXPECT_EQ(LogText(), Lines({kNothingToCommit}));
  EXPECT_EQ(Backup(HKEY_LOCAL_MACHINE), Snapshot(kSeeded, kSeeded));
  EXPECT_EQ(StoredMinutes(), kSeeded);
  EXPECT_EQ(Activations(), 0u);
  EXPECT_EQ(host::CallCount(host::gated::SystemParametersInfoA), 0u);
}

// After one pass the scheme holds the policy: the next announces nothing, changes nothing and
// leaves what the backup recorded of the first pass's changes.
TEST_P(MachineKindPassTest, ASecondPassWithTheSamePolicyChangesNothing) {
  const Minutes policy = {15, 25, 90, 3, 4, 60, 45, 0};
  SeedStandardPolicy(PolicyOf(policy));
  RunPass();
  const std::string firstLog = LogText();
  const Values firstBackup = Backup(HKEY_LOCAL_MACHINE);

  RunPass();

  EXPECT_EQ(LogText(), firstLog + Lines({kNothingToCommit}));
  const Values backup = Backup(HKEY_LOCAL_MACHINE);
  EXPECT_EQ(Values(backup.begin() + 12, backup.end()),
            Values(firstBackup.begin() + 12, firstBackup.end()));
  EXPECT_EQ(Values(backup.begin(), backup.begin() + 12), Snapshot(policy, policy));
  EXPECT_EQ(StoredMinutes(), policy);
}

TEST_P(MachineKindPassTest, ARefusedSetterIsLoggedAndTheOthersStillApply) {
  SYSTEM_POWER_CAPABILITIES caps = host::DefaultCapabilities();
  caps.SystemS3 = 0;
  caps.SystemS4 = 0;
  host::SetCapabilities(caps);
  SeedPolicy(kPolicyRoot, kVerifiedRoot, Options(11, 1, 0),
             Dword("ACUserStandByIdleTime", 25) + Dword("ACMachHibernateIdleTime", 90) +
                 Dword("DCUserMonIdleTime", 3));

  RunPass();

  EXPECT_EQ(LogText(),
            Lines({"INFO: .Default User System Standby will be changed",
                   "ERROR: PwrScheme::SetUserAcStandbyTimeOut(): System is not capable of Power "
                   "Suspend->System Error: ",
                   "INFO: Machine Hibernation will be changed",
                   "ERROR: PwrScheme::SetMachAcHibernateTimeOut(): System/user account is not "
                   "capable of/configured for Hibernation->System Error: ",
                   "INFO: .Default User DC Video Timeout will be changed",
                   "INFO: SetUserDcVideoTimeOut() Succeded",
                   "INFO: Commiting of Power Scheme() Succeded"}));
  Minutes expected = kSeeded;
  expected.videoDc = 3;
  EXPECT_EQ(StoredMinutes(), expected);
}

TEST_P(MachineKindPassTest, ASchemeThatCannotBeReadIsNeitherEnforcedNorCommitted) {
  if (Current()) {
    host::WriteString(HKEY_LOCAL_MACHINE, current_store::kSchemes, "ActivePowerScheme", "none");
  } else {
    host::WriteString(HKEY_CURRENT_USER, scheme_store::kUserPowerCfg, "CurrentPowerPolicy", "none");
  }
  SeedStandardPolicy(PolicyOf({15, 25, 90, 3, 4, 60, 45, 0}));

  RunPass();

  // Where the current functions do not answer, the probe falls back on the legacy ones, which
  // find no active scheme either; a machine without them has no interface at all.
  EXPECT_EQ(LogText(),
            Lines({Machine() == PowerMachine::kCurrentWithoutLegacy
                       ? "ERROR: No power scheme interface: PowerGetActiveScheme failed with "
                         "error 13; powrprof.dll has no GetActivePwrScheme"
                       : "ERROR: PwrMgmt::GetPwrSchemeInUse() failed. Unable to Get index for "
                         "current power scheme->System Error: "}));
  EXPECT_FALSE(BackupExists(HKEY_LOCAL_MACHINE));
  EXPECT_EQ(StoredMinutes(), kSeeded);
  EXPECT_EQ(Activations(), 0u);
  EXPECT_EQ(host::CallCount(host::gated::SystemParametersInfoA), 0u);
}

// The one deliberate difference: a legacy scheme keeps hibernation as the delay after standby
// and has no delay to store for a total that does not come after it, while a current scheme
// keeps any total. Either way a second pass changes nothing.
TEST_P(MachineKindPassTest, AHibernationTotalNotAfterStandbyIsStoredWhereTheSchemeCanHoldIt) {
  SeedStandardPolicy(Dword("ACMachHibernateIdleTime", 10));

  RunPass();
  RunPass();

  const std::string announcement = "INFO: Machine Hibernation will be changed";
  const std::string committed = "INFO: Commiting of Power Scheme() Succeded";
  Minutes expected = kSeeded;
  if (Current()) {
    EXPECT_EQ(LogText(), Lines({announcement, "INFO: SetMachAcHibernateTimeOut() Succeded",
                                committed, kNothingToCommit}));
    expected.hibernateAc = 10;
  } else {
    // A refused setter stores nothing: there is nothing to commit.
    const std::string refusal =
        "ERROR: PwrScheme::SetMachAcHibernateTimeOut(): Hibernation time-out is not longer than "
        "the Standby time-out->System Error: ";
    EXPECT_EQ(LogText(), Lines({announcement, refusal, kNothingToCommit, announcement, refusal,
                                kNothingToCommit}));
    EXPECT_EQ(Activations(), 0u);
  }
  EXPECT_EQ(StoredMinutes(), expected);
}

INSTANTIATE_TEST_SUITE_P(OnEachMachine, MachineKindPassTest,
                         testing::Values(PowerMachine::kLegacyOnly, PowerMachine::kCurrent,
                                         PowerMachine::kCurrentWithoutLegacy),
                         machine_kind::MachineParamName);

// A setting counts as enforced only when the scheme keeps exactly the policy's minutes in
// seconds: 59 seconds is not "never" and 61 not one minute, so the pass changes both. What it
// logs, backs up and reports keeps counting whole minutes (59 seconds backs up as 0).
class ExactSeconds
    : public machine_kind::MachineKindFixture<std::tuple<PowerMachine, machine_kind::SecondsCase>> {
};

TEST_P(ExactSeconds, AreWhatCountsAsEnforced) {
  const machine_kind::SecondsCase& c = std::get<1>(GetParam());
  for (const Setting& setting : kSettings) {
    SCOPED_TRACE(setting.policyValue);
    SeedSeconds(setting, c.seconds);
    host::DeleteKeyTree(HKEY_LOCAL_MACHINE, schema::kBackupKey);
    host::DeleteKeyTree(HKEY_LOCAL_MACHINE, std::string(schema::kPolicyRoot) + "\\Simple");
    std::filesystem::remove(logPath_);
    SeedStandardPolicy(Dword(setting.policyValue, c.policy));
    host::ClearReportedEvents();

    RunPass();

    const std::string committed = "INFO: Commiting of Power Scheme() Succeded";
    DWORD backedUp = 0;
    bool backedUpFound = false;
    for (const auto& value : Backup(HKEY_LOCAL_MACHINE)) {
      if (value.first == setting.policyValue) {
        backedUp = value.second;
        backedUpFound = true;
      }
    }
    if (c.changes) {
      EXPECT_EQ(LogText(), Lines({std::string("INFO: ") + setting.serviceAnnouncement,
                                  std::string("INFO: ") + setting.successLine, committed}));
      EXPECT_EQ(StoredSeconds(setting), c.policy * 60);
      EXPECT_TRUE(backedUpFound);
      EXPECT_EQ(backedUp, c.seconds / 60) << "the backup counts whole minutes";
      const std::vector<host::ReportedEvent> events = host::ReportedEvents();
      ASSERT_EQ(events.size(), 1u);
      EXPECT_EQ(events[0].strings.back(), std::string(setting.policyValue) + " " +
                                              std::to_string(c.seconds / 60) + " -> " +
                                              std::to_string(c.policy));
    } else {
      EXPECT_EQ(LogText(), Lines({kNothingToCommit}));
      EXPECT_EQ(StoredSeconds(setting), c.seconds);
      EXPECT_FALSE(backedUpFound);
      EXPECT_TRUE(host::ReportedEvents().empty());
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Table, ExactSeconds,
                         testing::Combine(testing::Values(PowerMachine::kLegacyOnly,
                                                          PowerMachine::kCurrent),
                                          testing::ValuesIn(machine_kind::kSecondsCases)),
                         machine_kind::MachineAndCaseName());

// What only a current machine does: a write the platform refuses fails the commit, with
// nothing half-written, and the security bypass has nothing to write.
class CurrentMachinePassTest : public MachineKindPassTest {};

TEST_P(CurrentMachinePassTest, AWriteThePlatformRefusesFailsTheCommitAndChangesNothing) {
  // The second write, the disk's, after the monitor's.
  host::FailCall(host::gated::PowerWriteACValueIndex, 2, ERROR_ACCESS_DENIED);
  SeedStandardPolicy(Dword("ACUserMonIdleTime", 15) + Dword("ACUserHDDspindownIdleTime", 45));

  RunPass();

  EXPECT_EQ(
      LogText(),
      Lines({"INFO: .Default User Video Timeout will be changed",
             "INFO: SetUserAcVideoTimeOut() Succeded",
             "INFO: .Default User Disk Spindown Timeout will be changed",
             "INFO: SetUserAcSpinDownTimeOut() Succeded",
             "ERROR: PwrScheme::commit() failed. Unable to Write PowerScheme->System Error: "}));
  EXPECT_EQ(StoredMinutes(), kSeeded);
  EXPECT_EQ(Activations(), 0u);
}

TEST_P(CurrentMachinePassTest, AUserWhoMayNotWriteTheSchemeFailsTheCommitBypassOrNot) {
  host::SetLimitedUser(true);
  SeedStandardPolicy(Dword("ACUserMonIdleTime", 15));

  RunPass(kLogonPass);

  EXPECT_EQ(
      LogText(),
      Lines({"INFO: User Video Timeout will be changed", "INFO: SetUserAcVideoTimeOut() Succeded",
             "ERROR: PwrScheme::commit(): Current User has insufficient priviledges to "
             "write active power scheme and no override has been set.->System Error: "}));
  EXPECT_EQ(StoredMinutes(), kSeeded);
  // Nor is the legacy store's per-user copy written.
  EXPECT_TRUE(SchemeUnchanged());
}

INSTANTIATE_TEST_SUITE_P(OnlyThere, CurrentMachinePassTest, testing::Values(PowerMachine::kCurrent),
                         machine_kind::MachineParamName);

}  // namespace
