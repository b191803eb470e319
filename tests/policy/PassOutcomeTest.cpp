// How refusals, a user without the right to write schemes, log levels and platform failures
// show in the log and in what the pass leaves behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "PassFixture.h"
#include "TableTest.h"

namespace {

const std::string kStandbyRefusal =
    "PwrScheme::SetUserAcStandbyTimeOut(): System is not capable of Power Suspend";
const std::string kPrivileges =
    "PwrScheme::commit(): Current User has insufficient priviledges to write active power "
    "scheme and no override has been set.";
const std::string kNote = "INFO: NB: Hibernation not set due to user permissions";
const std::string kCommitted = "INFO: Commiting of Power Scheme() Succeded";

class PassOutcomeTest : public PassFixture {
 protected:
  static void WithoutSuspend() {
    SYSTEM_POWER_CAPABILITIES caps = host::DefaultCapabilities();
    caps.SystemS3 = 0;
    host::SetCapabilities(caps);
  }
};

TEST_F(PassOutcomeTest, RefusedSetterIsLoggedAfterItsBackupAndThePassGoesOn) {
  WithoutSuspend();
  SeedPolicy(kPolicyRoot, kVerifiedRoot, Options(11, 1, 0),
             Dword("ACUserStandByIdleTime", 25) + Dword("DCUserMonIdleTime", 3));

  RunPass();

  EXPECT_EQ(LogText(), Lines({"INFO: .Default User System Standby will be changed",
                              "ERROR: " + kStandbyRefusal + kErrorSuffix,
                              "INFO: .Default User DC Video Timeout will be changed",
                              "INFO: SetUserDcVideoTimeOut() Succeded", kCommitted}));
  const Values backup = Backup(HKEY_LOCAL_MACHINE);
  ASSERT_EQ(backup.size(), 14u);
  EXPECT_EQ(backup[12], (std::pair<std::string, DWORD>("ACUserStandByIdleTime", 10)));
  EXPECT_EQ(backup[13], (std::pair<std::string, DWORD>("DCUserMonIdleTime", 7)));
  const POWER_POLICY stored = StoredScheme();
  EXPECT_EQ(stored.user.IdleTimeoutAc, 600u);  // refused: as before
  EXPECT_EQ(stored.user.VideoTimeoutDc, 180u);
}

// A user who may not write schemes (the logon tool's pass, whose backup key is in the user's
// own hive): with the bypass the per-user half is stored through the override and the note
// about hibernation follows when the mains hibernation policy is nonzero (or absent); without
// the bypass the commit fails and no note follows.
struct LimitedUserCommitsThroughTheBypassOnlyCase {
  const char* name;
  DWORD bypass;
  const char* hibernateLine;      // the mains hibernation policy
  std::vector<std::string> tail;  // log lines after the video change
  bool userHalfStored;
};

class LimitedUserCommitsThroughTheBypassOnly
    : public PassOutcomeTest,
      public ::testing::WithParamInterface<LimitedUserCommitsThroughTheBypassOnlyCase> {
 public:
  static std::vector<LimitedUserCommitsThroughTheBypassOnlyCase> Cases() {
    return {
        {"bypass, hibernation policy set",
         1,
         "\"ACMachHibernateIdleTime\"=dword:00001388\n",
         {kCommitted, kNote},
         true},
        {"bypass, hibernation policy absent", 1, "", {kCommitted, kNote}, true},
        {"bypass, hibernation policy zero",
         1,
         "\"ACMachHibernateIdleTime\"=dword:00000000\n",
         {"INFO: Machine Hibernation will be changed", "INFO: SetMachAcHibernateTimeOut() Succeded",
          kCommitted},
         true},
        {"no bypass",
         0,
         "\"ACMachHibernateIdleTime\"=dword:00001388\n",
         {"ERROR: " + kPrivileges + kErrorSuffix},
         false},
    };
  }
};

TEST_P(LimitedUserCommitsThroughTheBypassOnly, Case) {
  const LimitedUserCommitsThroughTheBypassOnlyCase& c = GetParam();
  SCOPED_TRACE(c.name);
  host::SetLimitedUser(true);
  SeedPolicy(kPolicyRoot, kVerifiedRoot, Options(11, c.bypass, 1),
             Dword("ACUserMonIdleTime", 15) + c.hibernateLine);

  RunPass(kLogonPass);

  std::vector<std::string> lines = {"INFO: User Video Timeout will be changed",
                                    "INFO: SetUserAcVideoTimeOut() Succeded"};
  lines.insert(lines.end(), c.tail.begin(), c.tail.end());
  EXPECT_EQ(LogText(), Lines(lines));
  EXPECT_EQ(StoredScheme().user.VideoTimeoutAc, c.userHalfStored ? 900u : 1200u);
  EXPECT_EQ(scheme_store::StoredMachineHalf(kActiveScheme),
            scheme_store::BytesOf(scheme_store::DistinctPolicy().mach));
  EXPECT_EQ(host::CallCount(host::gated::WritePwrScheme), 0u);
}

INSTANTIATE_TEST_SUITE_P(Cases, LimitedUserCommitsThroughTheBypassOnly,
                         ::testing::ValuesIn(LimitedUserCommitsThroughTheBypassOnly::Cases()),
                         CaseName());

// One pass that writes a line of each level: an announcement (10), a refusal (0) and
// successes (5). A line is written when its level is below "LogLevel".
struct LogLevelChoosesWhichLinesAreWrittenCase {
  DWORD level;
  std::vector<std::string> lines;
};

class LogLevelChoosesWhichLinesAreWritten
    : public PassOutcomeTest,
      public ::testing::WithParamInterface<LogLevelChoosesWhichLinesAreWrittenCase> {
 public:
  static std::vector<LogLevelChoosesWhichLinesAreWrittenCase> Cases() {
    const std::string announcement = "INFO: .Default User System Standby will be changed";
    const std::string refusal = "ERROR: " + kStandbyRefusal + kErrorSuffix;
    const std::string monitor = "INFO: .Default User DC Video Timeout will be changed";
    const std::string monitorDone = "INFO: SetUserDcVideoTimeOut() Succeded";
    return {
        {0, {}},
        {1, {refusal}},
        {5, {refusal}},
        {6, {refusal, monitorDone, kCommitted}},
        {10, {refusal, monitorDone, kCommitted}},
        {11, {announcement, refusal, monitor, monitorDone, kCommitted}},
        {0xFFFFFFFF, {announcement, refusal, monitor, monitorDone, kCommitted}},
    };
  }
};

TEST_P(LogLevelChoosesWhichLinesAreWritten, Case) {
  const LogLevelChoosesWhichLinesAreWrittenCase& c = GetParam();
  SCOPED_TRACE(c.level);
  WithoutSuspend();
  SeedPolicy(kPolicyRoot, kVerifiedRoot, Options(c.level, 1, 0),
             Dword("ACUserStandByIdleTime", 25) + Dword("DCUserMonIdleTime", 3));

  RunPass();

  // A pass with no line due does not even create the file.
  EXPECT_EQ(LogText(), c.lines.empty() ? "<no file>" : Lines(c.lines));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LogLevelChoosesWhichLinesAreWritten,
    ::testing::ValuesIn(LogLevelChoosesWhichLinesAreWritten::Cases()),
    [](const ::testing::TestParamInfo<LogLevelChoosesWhichLinesAreWrittenCase>& info) {
      return "level_" + std::to_string(info.param.level);
    });

struct LogOffCase {
  const char* name;
  const char* options;
};

class LogSwitchedOffOrWithoutPath : public PassOutcomeTest,
                                    public ::testing::WithParamInterface<LogOffCase> {};

const LogOffCase kLogOffCases[] = {
    {"switched off",
     "\"Log\"=dword:00000000\n\"LogLevel\"=dword:0000000b\n\"LogFile\"=\"LOGFILE\"\n"},
    {"no path", "\"Log\"=dword:00000001\n\"LogLevel\"=dword:0000000b\n"},
};

TEST_P(LogSwitchedOffOrWithoutPath, WritesNoFile) {
  SeedPolicy(kPolicyRoot, kVerifiedRoot, GetParam().options, Dword("ACUserMonIdleTime", 15));

  RunPass();

  EXPECT_EQ(LogText(), "<no file>");
  EXPECT_EQ(StoredScheme().user.VideoTimeoutAc, 900u);  // the pass itself goes on
}

INSTANTIATE_TEST_SUITE_P(Options, LogSwitchedOffOrWithoutPath, ::testing::ValuesIn(kLogOffCases),
                         CaseName());

// The log path may name environment variables; "Log" absent counts as on.
TEST_F(PassOutcomeTest, LogPathIsExpandedAndAbsentSwitchMeansOn) {
  SeedPolicy(kPolicyRoot, kVerifiedRoot,
             "\"LogLevel\"=dword:0000000b\n"
             "\"LogFile\"=\"%DORVANE_TEST_LOG_DIR%/dorvane.log\"\n",
             "");
  setenv("DORVANE_TEST_LOG_DIR", dir_.c_str(), 1);

  RunPass();
  unsetenv("DORVANE_TEST_LOG_DIR");

  EXPECT_EQ(LogText(), Lines({kNothingToCommit}));
}

// A backup that could not be kept is reported where it failed, and enforcement goes on. A
// key that cannot be created is reported once, not once for each value it would have held.
struct BackupThatCannotBeWrittenIsReportedAndEnforcementGoesOnCase {
  const char* name;
  std::function<void()> arrange;
  std::vector<std::string> lines;
  size_t backupValues;
};

class BackupThatCannotBeWrittenIsReportedAndEnforcementGoesOn
    : public PassOutcomeTest,
      public ::testing::WithParamInterface<
          BackupThatCannotBeWrittenIsReportedAndEnforcementGoesOnCase> {
 public:
  static std::vector<BackupThatCannotBeWrittenIsReportedAndEnforcementGoesOnCase> Cases() {
    const std::string announcement = "INFO: .Default User Video Timeout will be changed";
    const std::string done = "INFO: SetUserAcVideoTimeOut() Succeded";
    return {
        {"key cannot be created",
         [] { host::FailCall(host::gated::RegCreateKeyExA, 1, ERROR_ACCESS_DENIED); },
         {"ERROR: Backup key Software\\Velmorant\\Dorvane\\Backup cannot be opened or created; "
          "nothing is backed up",
          announcement, done, kCommitted},
         0},
        // The fourth write is the first policy of the snapshot, the thirteenth what the change
        // of the monitor time-out replaced.
        {"two values cannot be written",
         [] {
           host::FailCall(host::gated::RegSetValueExA, 4, ERROR_ACCESS_DENIED);
           host::FailCall(host::gated::RegSetValueExA, 13, ERROR_ACCESS_DENIED);
         },
         {"ERROR: Backup value ACUserVideoTimeoutPolicy cannot be written", announcement,
          "ERROR: Backup value ACUserMonIdleTime cannot be written", done, kCommitted},
         11},
    };
  }
};

TEST_P(BackupThatCannotBeWrittenIsReportedAndEnforcementGoesOn, Case) {
  const BackupThatCannotBeWrittenIsReportedAndEnforcementGoesOnCase& c = GetParam();
  SCOPED_TRACE(c.name);
  SeedStandardPolicy(Dword("ACUserMonIdleTime", 15));
  c.arrange();

  RunPass();

  EXPECT_EQ(LogText(), Lines(c.lines));
  EXPECT_EQ(Backup(HKEY_LOCAL_MACHINE).size(), c.backupValues);
  EXPECT_EQ(StoredScheme().user.VideoTimeoutAc, 900u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BackupThatCannotBeWrittenIsReportedAndEnforcementGoesOn,
    ::testing::ValuesIn(BackupThatCannotBeWrittenIsReportedAndEnforcementGoesOn::Cases()),
    CaseName());

// A backup key whose values may not be set: every value is named, and the log says nothing
// that is not so.
TEST_F(PassOutcomeTest, BackupKeyRefusingEveryValueNamesEachOne) {
  SeedStandardPolicy(Dword("ACUserMonIdleTime", 15));
  host::FailCall(host::gated::RegSetValueExA, 1, ERROR_ACCESS_DENIED, true);

  RunPass();

  std::vector<std::string> lines;
  for (const char* name :
       {"CurACUserVideoTimeout", "CurACUserStandbyTimeout", "CurACMachHibernateTimeout",
        "ACUserVideoTimeoutPolicy", "ACUserStandbyTimeoutPolicy", "ACMachHibernateTimeoutPolicy",
        "CurDCUserVideoTimeout", "CurDCUserStandbyTimeout", "CurDCMachHibernateTimeout",
        "DCUserVideoTimeoutPolicy", "DCUserStandbyTimeoutPolicy", "DCMachHibernateTimeoutPolicy"}) {
    lines.push_back(std::string("ERROR: Backup value ") + name + " cannot be written");
  }
  lines.insert(lines.end(), {"INFO: .Default User Video Timeout will be changed",
                             "ERROR: Backup value ACUserMonIdleTime cannot be written",
                             "INFO: SetUserAcVideoTimeOut() Succeded", kCommitted});
  EXPECT_EQ(LogText(), Lines(lines));
  EXPECT_EQ(StoredScheme().user.VideoTimeoutAc, 900u);
}

TEST_F(PassOutcomeTest, FailedCommitIsLoggedWithoutTheNote) {
  host::SetLimitedUser(false);
  SeedStandardPolicy(Dword("ACUserMonIdleTime", 15));
  host::FailCall(host::gated::WritePwrScheme, 1, ERROR_ACCESS_DENIED);

  RunPass();

  EXPECT_EQ(LogText(),
            Lines({"INFO: .Default User Video Timeout will be changed",
                   "INFO: SetUserAcVideoTimeOut() Succeded",
                   std::string("ERROR: PwrScheme::commit() failed. Unable to Write PowerScheme") +
                       kErrorSuffix}));
  EXPECT_TRUE(SchemeUnchanged());
  EXPECT_EQ(host::DebugOutput().back(), "Reached end of PM Update");
}

// A second pass (the service and the logon tool at once) finds the log held without
// sharing: it cannot log, but enforces all the same.
TEST_F(PassOutcomeTest, LogHeldByAnotherPassIsSkippedNotWaitedFor) {
  SeedStandardPolicy(Dword("ACUserMonIdleTime", 15));
  HANDLE held = CreateFileA(logPath_.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);

  RunPolicyPass(kServicePass);
  CloseHandle(held);

  EXPECT_EQ(LogText(), "");
  EXPECT_EQ(StoredScheme().user.VideoTimeoutAc, 900u);
}

}  // namespace

// A key of the settings that exists but that the account may not read holds a policy that is
// unknown, not absent: the pass logs why it stops, backs nothing up and changes nothing. Without
// a readable Options there is no log to say so (the failure event does, see PassEventsTest).
TEST_F(PassOutcomeTest, AKeyThatCannotBeReadStopsThePass) {
  const std::string root = "Software\\Policies\\Velmorant\\Dorvane";
  const struct {
    const char* key;
    std::string log;  // the log file's text
  } cases[] = {
      {"", Lines({"ERROR: Policy key HKEY_LOCAL_MACHINE\\" + root + " cannot be read, error 5"})},
      {"\\Options", "<no file>"},
      {"\\Simple", Lines({"ERROR: Policy key HKEY_LOCAL_MACHINE\\" + root +
                          "\\Simple cannot be read, error 5"})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.key);
    host::DeleteKeyTree(HKEY_LOCAL_MACHINE, root);
    std::filesystem::remove(logPath_);
    SeedStandardPolicy(AllDiffer());
    ASSERT_TRUE(host::DenyReading(HKEY_LOCAL_MACHINE, root + c.key));

    RunPass();

    EXPECT_EQ(LogText(), c.log);
    EXPECT_FALSE(BackupExists(HKEY_LOCAL_MACHINE));
    EXPECT_TRUE(SchemeUnchanged());
    EXPECT_EQ(0u, host::OpenHandleCount());
  }
}
