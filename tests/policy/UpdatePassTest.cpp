// Whole passes over a verified policy: what the log, the backup key, the scheme store, the
// display settings and the debugger output hold afterwards, in both variants.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PassFixture.h"
#include "TableTest.h"

namespace {

const std::string kDesktop = "Control Panel\\Desktop";

class UpdatePassTest : public PassFixture {
 protected:
  static std::string Desktop(const std::string& name) {
    std::string text = ValueBytes(HKEY_CURRENT_USER, kDesktop, name);
    while (!text.empty() && text.back() == '\0') text.pop_back();
    return text;
  }

  // The twelve snapshot values of the seeded scheme against AllDiffer().
  static Values SnapshotOfAllDiffer() {
    return {{"CurACUserVideoTimeout", 20},      {"CurACUserStandbyTimeout", 10},
            {"CurACMachHibernateTimeout", 70},  {"ACUserVideoTimeoutPolicy", 15},
            {"ACUserStandbyTimeoutPolicy", 25}, {"ACMachHibernateTimeoutPolicy", 90},
            {"CurDCUserVideoTimeout", 7},       {"CurDCUserStandbyTimeout", 5},
            {"CurDCMachHibernateTimeout", 45},  {"DCUserVideoTimeoutPolicy", 3},
            {"DCUserStandbyTimeoutPolicy", 4},  {"DCMachHibernateTimeoutPolicy", 60}};
  }

  // What each change of AllDiffer() replaced, under the policy value's name.
  static Values ReplacedByAllDiffer() {
    return {{"ACUserMonIdleTime", 20},         {"ACUserStandByIdleTime", 10},
            {"ACMachHibernateIdleTime", 70},   {"DCUserMonIdleTime", 7},
            {"DCUserStandByIdleTime", 5},      {"DCMachHibernateIdleTime", 45},
            {"ACUserHDDspindownIdleTime", 30}, {"DCUserHDDspindownIdleTime", 15}};
  }
};

TEST_F(UpdatePassTest, ServicePassEnforcesEverySettingAndRecordsItInTheMachineHive) {
  SeedStandardPolicy(AllDiffer());

  RunPass(kServicePass);

  EXPECT_EQ(LogText(), LogOfEveryChange(kServicePass));
  EXPECT_EQ(Backup(HKEY_LOCAL_MACHINE), Concat(SnapshotOfAllDiffer(), ReplacedByAllDiffer()));
  EXPECT_FALSE(BackupExists(HKEY_CURRENT_USER));
  EXPECT_EQ(scheme_store::StoredUserHalf(kActiveScheme),
            scheme_store::BytesOf(SchemeAfterAllDiffer().user));
  EXPECT_EQ(scheme_store::StoredMachineHalf(kActiveScheme),
            scheme_store::BytesOf(SchemeAfterAllDiffer().mach));
  EXPECT_EQ(Desktop("PowerOffActive"), "1");
  EXPECT_EQ(Desktop("PowerOffTimeOut"), "900");
  EXPECT_EQ(host::DebugOutput(),
            (std::vector<std::string>{"Reached beginning of PM Update", kLegacyProbeText,
                                      "Reached end of PM Update"}));
  // The policy itself is only ever read.
  for (const std::string& call : host::Calls()) EXPECT_NE(call, "RegDeleteValueA");
}

TEST_F(UpdatePassTest, LogonPassNamesTheUserAndRecordsInTheUsersHive) {
  SeedStandardPolicy(AllDiffer());

  RunPass(kLogonPass);

  EXPECT_EQ(LogText(), LogOfEveryChange(kLogonPass));
  EXPECT_EQ(Backup(HKEY_CURRENT_USER), Concat(SnapshotOfAllDiffer(), ReplacedByAllDiffer()));
  EXPECT_FALSE(BackupExists(HKEY_LOCAL_MACHINE));
  EXPECT_EQ(scheme_store::StoredUserHalf(kActiveScheme),
            scheme_store::BytesOf(SchemeAfterAllDiffer().user));
  EXPECT_EQ(scheme_store::StoredMachineHalf(kActiveScheme),
            scheme_store::BytesOf(SchemeAfterAllDiffer().mach));
  EXPECT_EQ(host::DebugOutput(), std::vector<std::string>{kLegacyProbeText});
}

// Nothing to change: the snapshot is recorded, and the scheme is neither written nor activated,
// nor are the display settings touched.
TEST_F(UpdatePassTest, PolicyEqualToTheSchemeIsRecordedButNotCommitted) {
  SeedStandardPolicy(AllEqual());

  RunPass();

  EXPECT_EQ(LogText(), Lines({kNothingToCommit}));
  EXPECT_EQ(Backup(HKEY_LOCAL_MACHINE), (Values{{"CurACUserVideoTimeout", 20},
                                                {"CurACUserStandbyTimeout", 10},
                                                {"CurACMachHibernateTimeout", 70},
                                                {"ACUserVideoTimeoutPolicy", 20},
                                                {"ACUserStandbyTimeoutPolicy", 10},
                                                {"ACMachHibernateTimeoutPolicy", 70},
                                                {"CurDCUserVideoTimeout", 7},
                                                {"CurDCUserStandbyTimeout", 5},
                                                {"CurDCMachHibernateTimeout", 45},
                                                {"DCUserVideoTimeoutPolicy", 7},
                                                {"DCUserStandbyTimeoutPolicy", 5},
                                                {"DCMachHibernateTimeoutPolicy", 45}}));
  EXPECT_EQ(host::CallCount(host::gated::WritePwrScheme), 0u);
  EXPECT_EQ(host::CallCount(host::gated::SetActivePwrScheme), 0u);
  EXPECT_EQ(host::CallCount(host::gated::SystemParametersInfoA), 0u);
  EXPECT_FALSE(host::KeyExists(HKEY_CURRENT_USER, kDesktop));
  EXPECT_TRUE(SchemeUnchanged());
}

// A recorded value is left alone only when it is a REG_DWORD of the very bytes the pass would
// write; anything else under its name is replaced, so the key ends as writing every value would
// leave it. The key is opened for writing only for a value to write.
struct RecordedValueCase {
  const char* name;
  DWORD type;
  std::vector<uint8_t> data;  // of "CurACUserVideoTimeout", whose snapshot is 20 (0x14)
  bool written;
};

class RecordedValue : public UpdatePassTest,
                      public ::testing::WithParamInterface<RecordedValueCase> {};

TEST_P(RecordedValue, IsKeptOnlyWhenItHoldsWhatThePassWouldWrite) {
  const RecordedValueCase& c = GetParam();
  SeedStandardPolicy(AllEqual());
  RunPass();
  host::WriteValue(HKEY_LOCAL_MACHINE, schema::kBackupKey, "CurACUserVideoTimeout", c.type, c.data);
  const Values recorded = {
      {"CurACUserVideoTimeout", 20},      {"CurACUserStandbyTimeout", 10},
      {"CurACMachHibernateTimeout", 70},  {"ACUserVideoTimeoutPolicy", 20},
      {"ACUserStandbyTimeoutPolicy", 10}, {"ACMachHibernateTimeoutPolicy", 70},
      {"CurDCUserVideoTimeout", 7},       {"CurDCUserStandbyTimeout", 5},
      {"CurDCMachHibernateTimeout", 45},  {"DCUserVideoTimeoutPolicy", 7},
      {"DCUserStandbyTimeoutPolicy", 5},  {"DCMachHibernateTimeoutPolicy", 45}};
  host::ClearCalls();

  RunPass();

  EXPECT_EQ(Backup(HKEY_LOCAL_MACHINE), recorded);
  EXPECT_EQ(host::CallCount(host::gated::RegCreateKeyExA), c.written ? 1u : 0u);
  EXPECT_EQ(host::CallCount(host::gated::RegSetValueExA), c.written ? 1u : 0u);
  EXPECT_EQ(host::CallCount(host::gated::RegFlushKey), c.written ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RecordedValue,
    ::testing::Values(RecordedValueCase{"the same number", REG_DWORD, {0x14, 0, 0, 0}, false},
                      RecordedValueCase{"another number", REG_DWORD, {0x15, 0, 0, 0}, true},
                      RecordedValueCase{"two bytes of it", REG_DWORD, {0x14, 0}, true},
                      RecordedValueCase{"its bytes as binary", REG_BINARY, {0x14, 0, 0, 0}, true},
                      RecordedValueCase{"text", REG_SZ, {'2', '0', 0}, true}),
    CaseName());

// A record that is gone is made again, whole: the key is created (and flushed, as new) and
// each of the twelve snapshot values written and flushed.
TEST_F(UpdatePassTest, ABackupKeyThatIsGoneIsMadeAgainWhole) {
  SeedStandardPolicy(AllEqual());
  RunPass();
  const Values recorded = Backup(HKEY_LOCAL_MACHINE);
  ASSERT_EQ(recorded.size(), 12u);
  host::DeleteKeyTree(HKEY_LOCAL_MACHINE, schema::kBackupKey);
  host::ClearCalls();

  RunPass();

  EXPECT_EQ(Backup(HKEY_LOCAL_MACHINE), recorded);
  EXPECT_EQ(host::CallCount(host::gated::RegCreateKeyExA), 1u);
  EXPECT_EQ(host::CallCount(host::gated::RegSetValueExA), 12u);
  EXPECT_EQ(host::CallCount(host::gated::RegFlushKey), 13u);
}

// A scheme holds a policy only in exactly its minutes: 90 seconds is not one minute, and the
// pass sets 60. What it records of the old value counts whole minutes, as the getters do.
TEST_F(UpdatePassTest, SchemeMustHoldThePolicysMinutesExactly) {
  POWER_POLICY scheme = scheme_store::DistinctPolicy();
  scheme.user.VideoTimeoutAc = 90;  // one and a half minutes
  scheme_store::Seed(kActiveScheme, scheme);
  SeedStandardPolicy(Dword("ACUserMonIdleTime", 1));

  RunPass();

  EXPECT_EQ(LogText(), Lines({"INFO: .Default User Video Timeout will be changed",
                              "INFO: SetUserAcVideoTimeOut() Succeded",
                              "INFO: Commiting of Power Scheme() Succeded"}));
  EXPECT_EQ(StoredScheme().user.VideoTimeoutAc, 60u);
  const Values backup = Backup(HKEY_LOCAL_MACHINE);
  EXPECT_EQ(backup.front(), (std::pair<std::string, DWORD>("CurACUserVideoTimeout", 1)));
  EXPECT_EQ(backup.back(), (std::pair<std::string, DWORD>("ACUserMonIdleTime", 1)));
}

// Below 5000 minutes a policy is enforced; from 5000 on, or when absent, it is left alone.
struct OnlyPoliciesBelowFiveThousandMinutesAreEnforcedCase {
  const char* policyLine;
  DWORD snapshotPolicy;  // what "ACUserVideoTimeoutPolicy" records
  bool enforced;
};

class OnlyPoliciesBelowFiveThousandMinutesAreEnforced
    : public UpdatePassTest,
      public ::testing::WithParamInterface<OnlyPoliciesBelowFiveThousandMinutesAreEnforcedCase> {
 public:
  static std::vector<OnlyPoliciesBelowFiveThousandMinutesAreEnforcedCase> Cases() {
    return {
        {"\"ACUserMonIdleTime\"=dword:00001387\n", 4999, true},
        {"\"ACUserMonIdleTime\"=dword:00001388\n", 5000, false},
        {"\"ACUserMonIdleTime\"=dword:ffffffff\n", 0xFFFFFFFF, false},
        {"", 0xFFFFFFFF, false},  // absent: the unset reading
    };
  }
};

TEST_P(OnlyPoliciesBelowFiveThousandMinutesAreEnforced, Case) {
  const OnlyPoliciesBelowFiveThousandMinutesAreEnforcedCase& c = GetParam();
  SCOPED_TRACE(c.policyLine);
  // Another value keeps the subkey present when the case leaves its own value out.
  SeedStandardPolicy(std::string(c.policyLine) + Dword("DCUserHDDspindownIdleTime", 15));

  RunPass();

  const Values backup = Backup(HKEY_LOCAL_MACHINE);
  ASSERT_GE(backup.size(), 12u);
  EXPECT_EQ(backup[3],
            (std::pair<std::string, DWORD>("ACUserVideoTimeoutPolicy", c.snapshotPolicy)));
  if (c.enforced) {
    EXPECT_EQ(StoredScheme().user.VideoTimeoutAc, 4999u * 60);
    EXPECT_EQ(LogText(), Lines({"INFO: .Default User Video Timeout will be changed",
                                "INFO: SetUserAcVideoTimeOut() Succeded",
                                "INFO: Commiting of Power Scheme() Succeded"}));
    EXPECT_EQ(backup.back(), (std::pair<std::string, DWORD>("ACUserMonIdleTime", 20)));
  } else {
    EXPECT_TRUE(SchemeUnchanged());
    EXPECT_EQ(LogText(), Lines({kNothingToCommit}));
    EXPECT_EQ(backup.size(), 12u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OnlyPoliciesBelowFiveThousandMinutesAreEnforced,
    ::testing::ValuesIn(OnlyPoliciesBelowFiveThousandMinutesAreEnforced::Cases()),
    [](const ::testing::TestParamInfo<OnlyPoliciesBelowFiveThousandMinutesAreEnforcedCase>& info) {
      if (info.param.policyLine[0] == '\0') return std::string("absent");
      return std::to_string(info.param.snapshotPolicy) + "_minutes";
    });

// Every setting reads back as the pass set it, hibernation included (its total counts from
// the standby time-out the same pass has just set): a second pass finds nothing to change
// and leaves the record of what the first one replaced as it was.
class SecondPassWithTheSamePolicy : public UpdatePassTest,
                                    public ::testing::WithParamInterface<const PassVariant*> {};

TEST_P(SecondPassWithTheSamePolicy, ChangesNothing) {
  const PassVariant* variant = GetParam();
  SeedStandardPolicy(AllDiffer());
  RunPass(*variant);
  const std::string firstLog = LogText();
  const HKEY hive = variant->backupRoot;

  RunPass(*variant);

  EXPECT_EQ(LogText(), firstLog + Lines({kNothingToCommit}));
  Values snapshot = SnapshotOfAllDiffer();
  for (auto& [name, value] : snapshot) {
    if (name.compare(0, 3, "Cur") != 0) continue;
    for (const auto& [policyName, policy] : Values{{"CurACUserVideoTimeout", 15},
                                                   {"CurACUserStandbyTimeout", 25},
                                                   {"CurACMachHibernateTimeout", 90},
                                                   {"CurDCUserVideoTimeout", 3},
                                                   {"CurDCUserStandbyTimeout", 4},
                                                   {"CurDCMachHibernateTimeout", 60}}) {
      if (name == policyName) value = policy;
    }
  }
  EXPECT_EQ(Backup(hive), Concat(snapshot, ReplacedByAllDiffer()));
  EXPECT_EQ(scheme_store::StoredUserHalf(kActiveScheme),
            scheme_store::BytesOf(SchemeAfterAllDiffer().user));
  EXPECT_EQ(scheme_store::StoredMachineHalf(kActiveScheme),
            scheme_store::BytesOf(SchemeAfterAllDiffer().mach));
}

INSTANTIATE_TEST_SUITE_P(Variants, SecondPassWithTheSamePolicy,
                         ::testing::Values(&kServicePass, &kLogonPass),
                         [](const ::testing::TestParamInfo<const PassVariant*>& info) {
                           return std::string(info.param == &kServicePass ? "service"
                                                                          : "logon_tool");
                         });

// The scheme's hibernation total (10 + 60 minutes) already equals the policy, but the pass
// first moves standby to 25 minutes, which would carry the total to 85: hibernation is set
// again so that the total stays 70, and the record shows the 70 the pass began with.
TEST_F(UpdatePassTest, HibernationKeepsItsTotalWhenThePassMovesStandby) {
  SeedStandardPolicy(Dword("ACUserStandByIdleTime", 25) + Dword("ACMachHibernateIdleTime", 70));

  RunPass();

  EXPECT_EQ(LogText(), Lines({"INFO: .Default User System Standby will be changed",
                              "INFO: SetUserAcStandbyTimeOut() Succeded",
                              "INFO: Machine Hibernation will be changed",
                              "INFO: SetMachAcHibernateTimeOut() Succeded",
                              "INFO: Commiting of Power Scheme() Succeded"}));
  EXPECT_EQ(StoredScheme().mach.DozeS4TimeoutAc, 45u * 60);
  const Values backup = Backup(HKEY_LOCAL_MACHINE);
  ASSERT_EQ(backup.size(), 14u);
  EXPECT_EQ(backup[13], (std::pair<std::string, DWORD>("ACMachHibernateIdleTime", 70)));
}

TEST_F(UpdatePassTest, MissingSchemeSubkeyRecordsTheSnapshotWithUnsetPolicies) {
  SeedPolicy(kPolicyRoot, kVerifiedRoot, Options(11), "");

  RunPass();

  EXPECT_EQ(LogText(), Lines({kNothingToCommit}));
  EXPECT_TRUE(SchemeUnchanged());
  EXPECT_EQ(Backup(HKEY_LOCAL_MACHINE), (Values{{"CurACUserVideoTimeout", 20},
                                                {"CurACUserStandbyTimeout", 10},
                                                {"CurACMachHibernateTimeout", 70},
                                                {"ACUserVideoTimeoutPolicy", 0xFFFFFFFF},
                                                {"ACUserStandbyTimeoutPolicy", 0xFFFFFFFF},
                                                {"ACMachHibernateTimeoutPolicy", 0xFFFFFFFF},
                                                {"CurDCUserVideoTimeout", 7},
                                                {"CurDCUserStandbyTimeout", 5},
                                                {"CurDCMachHibernateTimeout", 45},
                                                {"DCUserVideoTimeoutPolicy", 0xFFFFFFFF},
                                                {"DCUserStandbyTimeoutPolicy", 0xFFFFFFFF},
                                                {"DCMachHibernateTimeoutPolicy", 0xFFFFFFFF}}));
}

// Without "Options" logging is on with an empty path (nothing is written) and both switches
// are on: a limited user on a machine without suspend still gets standby and the override.
TEST_F(UpdatePassTest, MissingOptionsMeansNoLogAndBothSwitchesOn) {
  SYSTEM_POWER_CAPABILITIES caps = host::DefaultCapabilities();
  caps.SystemS3 = 0;
  host::SetCapabilities(caps);
  host::SetLimitedUser(true);
  SeedPolicy(kPolicyRoot, kVerifiedRoot, "", Dword("ACUserStandByIdleTime", 25));

  RunPass();

  EXPECT_EQ(LogText(), "<no file>");
  EXPECT_EQ(StoredScheme().user.IdleTimeoutAc, 25u * 60);  // forced, and stored by the override
  EXPECT_EQ(host::CallCount(host::gated::WritePwrScheme), 0u);
}

}  // namespace
