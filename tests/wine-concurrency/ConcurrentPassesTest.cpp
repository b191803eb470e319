// The service's pass and the logon tool's at the same time, under Wine: the real Hollin.exe
// as a service and the real Dorvane_Tool.exe, four at a time, on one policy and one log.
// Hollin.exe, Dorvane_Tool.exe and the stand-in powrprof.dll lie in the system directory (the
// area's setup put them there and gave both programs the stand-in through DllOverrides).
//
// Each round installs the service, whose first pass comes two seconds later, and keeps
// starting logon tools, four at a time, until that pass is over and some more have run; then
// the service is removed. Afterwards every log line is whole, both backup records (the service's
// in the machine hive, the logon tools' in the user's) hold the twelve snapshot values of an
// enforced scheme, and the active scheme holds the policy. A pass that opens the log while
// another holds it writes no line at all: the count of passes that logged nothing shows that
// passes overlapped, and the case fails when none did.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "DebugMonitor.h"
#include "ExamplePolicy.h"
#include "Files.h"
#include "LogLines.h"
#include "Programs.h"
#include "Registry.h"
#include "Services.h"

namespace {

constexpr int kRounds = 3;
// Logon tools started at once, and groups of them started in each round once the service's
// pass is over. Under Wine a process takes far longer to start than a pass takes to run, so
// the more start together the more passes overlap.
constexpr int kToolsAtOnce = 4;
constexpr int kGroupsAfterThePass = 10;
constexpr const char* kLogFileValue = "%SystemRoot%\\concurrency-test.log";
// The last line of every pass that could open the log: it committed a change, or found none.
constexpr const char* kCommitLine = "INFO: Commiting of Power Scheme() Succeded\r\n";
constexpr const char* kUnchangedLine = "INFO: No setting changed; Power Scheme not committed\r\n";

constexpr const char* kSimpleKey = "Software\\Policies\\Velmorant\\Dorvane\\Simple";

std::string LogPath() { return winetest::WindowsDir() + "\\concurrency-test.log"; }
std::string SystemProgram(const char* name) { return winetest::SystemDir() + "\\" + name; }

class ConcurrentPasses : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(monitor_.Listening());
    ASSERT_EQ("", winetest::RemoveService());
    ASSERT_EQ("", winetest::SeedDefaultSchemesAndExamplePolicy());
    ASSERT_EQ(ERROR_SUCCESS, winetest::SetText(HKEY_LOCAL_MACHINE, winetest::kOptionsKey, "LogFile",
                                               REG_EXPAND_SZ, kLogFileValue));
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
      winetest::DeleteTree(root, winetest::kBackupKey);
    }
    ASSERT_TRUE(winetest::DeleteFileIfPresent(LogPath())) << GetLastError();
    ASSERT_TRUE(winetest::ReadScheme(0, &defaults_)) << "the fixture's scheme 0";
  }

  void TearDown() override {
    EXPECT_EQ("", winetest::RemoveService());
    winetest::DeleteFileIfPresent(LogPath());
  }

  // The battery disk time-out, which the example leaves alone (5000), asked for anew before
  // each group: the scheme's own minutes, then one more, in turn, so that a pass of every group
  // has a setting to change. That pass holds the log from its announcement through the commit;
  // one that finds nothing to change holds it only for its last line, too briefly for the
  // passes of a run to be sure to meet.
  void AskForBatteryDisk(bool changed) {
    const DWORD minutes = defaults_.user.SpindownTimeoutDc / 60 + (changed ? 1 : 0);
    ASSERT_EQ(ERROR_SUCCESS, winetest::SetDword(HKEY_LOCAL_MACHINE, kSimpleKey,
                                                "DCUserHDDspindownIdleTime", minutes));
  }

  // Logon tools started at once; false when any did not start or end normally.
  bool RunGroup() {
    winetest::RunningProgram tools[kToolsAtOnce];
    for (winetest::RunningProgram& tool : tools) {
      if (!tool.Start(SystemProgram("Dorvane_Tool.exe"), {})) return false;
    }
    bool normally = true;
    for (winetest::RunningProgram& tool : tools) {
      DWORD status = 1;
      normally = tool.Wait(30000, &status) && status == 0 && normally;
    }
    return normally;
  }

  // Each of the twelve snapshot values holds the enforced scheme: the policy, in minutes.
  void ExpectCompleteBackup(HKEY root, const char* whose) {
    const struct {
      const char* name;
      DWORD minutes;
    } kSnapshot[] = {
        {"CurACUserVideoTimeout", 10},      {"CurACUserStandbyTimeout", 30},
        {"CurACMachHibernateTimeout", 90},  {"ACUserVideoTimeoutPolicy", 10},
        {"ACUserStandbyTimeoutPolicy", 30}, {"ACMachHibernateTimeoutPolicy", 90},
        {"CurDCUserVideoTimeout", 5},       {"CurDCUserStandbyTimeout", 15},
        {"CurDCMachHibernateTimeout", 60},  {"DCUserVideoTimeoutPolicy", 5},
        {"DCUserStandbyTimeoutPolicy", 15}, {"DCMachHibernateTimeoutPolicy", 60},
    };
    for (const auto& value : kSnapshot) {
      SCOPED_TRACE(std::string(whose) + " backup value " + value.name);
      EXPECT_REG_DWORD(root, winetest::kBackupKey, value.name, value.minutes);
    }
  }

  winetest::DebugMonitor monitor_;
  POWER_POLICY defaults_ = {};
};

TEST_F(ConcurrentPasses, TheServiceAndLogonToolsAtOnceKeepTheLogWholeAndEachBackupComplete) {
  int servicePasses = 0;
  int toolPasses = 0;
  int groups = 0;
  for (int round = 0; round < kRounds; ++round) {
    const winetest::ProgramRun install =
        winetest::RunProgram(SystemProgram("Hollin.exe"), {"/Install"}, 30000);
    ASSERT_TRUE(install.ended && install.exitCode == 0) << "Hollin /Install, round " << round;
    const winetest::ServiceState service = winetest::WaitForState(SERVICE_RUNNING, 5000);
    ASSERT_NE(0u, service.processId) << "the service is not running, round " << round;
    // Logon tools through the service's start delay and its first pass, then some more.
    int after = 0;
    const DWORD deadline = GetTickCount() + winetest::kFirstPassTimeoutMs;
    while (after < kGroupsAfterThePass) {
      AskForBatteryDisk(++groups % 2 == 1);
      ASSERT_TRUE(RunGroup()) << "a logon tool did not end normally, round " << round;
      toolPasses += kToolsAtOnce;
      const std::vector<std::string> texts = monitor_.TextsOf(service.processId);
      const bool passOver =
          std::find(texts.begin(), texts.end(), winetest::kPassEnds) != texts.end();
      if (passOver) {
        ++after;
      } else {
        ASSERT_LT(static_cast<LONG>(GetTickCount() - deadline), 0) << "no pass of the service";
      }
    }
    ++servicePasses;
    ASSERT_EQ("", winetest::RemoveService());
  }
  // The battery disk time-out back as the scheme had it, for the check of the scheme below.
  AskForBatteryDisk(false);
  ASSERT_TRUE(RunGroup()) << "a logon tool did not end normally";
  toolPasses += kToolsAtOnce;

  std::string log;
  ASSERT_TRUE(winetest::ReadFileBytes(LogPath(), &log));
  EXPECT_TRUE(IsWholeLogLines(log)) << log;
  // Every pass that could open the log ends it with one of the two last lines.
  const int passes = servicePasses + toolPasses;
  const int logged =
      static_cast<int>(Occurrences(log, kCommitLine) + Occurrences(log, kUnchangedLine));
  const int dropped = passes - logged;
  std::cout << "[ PASSES   ] " << servicePasses << " of the service, " << toolPasses
            << " of logon tools; " << dropped << " found the log held by another pass\n";
  RecordProperty("passes", passes);
  RecordProperty("passes_that_found_the_log_held", dropped);
  EXPECT_GE(logged, 1);
  EXPECT_GE(dropped, 1) << "no two passes overlapped: the run shows nothing";

  ExpectCompleteBackup(HKEY_LOCAL_MACHINE, "the service's");
  ExpectCompleteBackup(HKEY_CURRENT_USER, "the logon tools'");
  EXPECT_SCHEME(0, winetest::EnforcedByTheExample(defaults_));
}

}  // namespace
