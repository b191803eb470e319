// "Hollin /Status" as a management system runs it: the real Hollin.exe, with the stand-in
// powrprof.dll beside it, started with CreateProcess on the six default schemes and the example
// policy, its report read from a pipe. Each case checks the exit status, the report line by
// line (each ended by CR LF) and that the check wrote nothing: no log, no backup key, the
// scheme as it was, and no debug text but the choice of the power-scheme interface (a refused
// log is told in the report alone).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DebugMonitor.h"
#include "ExamplePolicy.h"
#include "Files.h"
#include "Programs.h"
#include "Registry.h"

namespace {

using winetest::ProgramRun;
using Lines = std::vector<std::string>;

std::string HollinPath() { return winetest::ProgramDir() + "Hollin.exe"; }
std::string ToolPath() { return winetest::ProgramDir() + "Dorvane_Tool.exe"; }
// Where the example policy's LogFile, %SystemRoot%\Temp\Dorvane.log, points.
std::string LogPath() { return winetest::WindowsDir() + "\\Temp\\Dorvane.log"; }

// The report's lines before the settings, for the example policy on the stand-in.
const Lines kHead = {
    "format: 2",
    "root: HKEY_LOCAL_MACHINE\\Software\\Policies\\Velmorant\\Dorvane",
    "interface: legacy",
    "version: accepted 2",
    "settings-scheme: accepted \"Simple\"",
    "security-bypass: on 1",
    "force-standby: on 1",
    "active-scheme: read",
    "write-access: yes",
};

// The example policy against the default scheme 0, before a pass and after one.
const Lines kSettingsBeforeAPass = {
    "setting: ACUserMonIdleTime         policy=10          scheme=20         pass=change",
    "setting: ACUserStandByIdleTime     policy=30          scheme=0          pass=change",
    "setting: ACMachHibernateIdleTime   policy=90          scheme=0          pass=change",
    "setting: DCUserMonIdleTime         policy=5           scheme=5          pass=same",
    "setting: DCUserStandByIdleTime     policy=15          scheme=5          pass=change",
    "setting: DCMachHibernateIdleTime   policy=60          scheme=0          pass=change",
    "setting: ACUserHDDspindownIdleTime policy=20          scheme=0          pass=change",
    "setting: DCUserHDDspindownIdleTime policy=5000        scheme=10         pass=ignored",
    "windows-applies-ac: -",
    "windows-applies-dc: -",
    "log: writes to \"C:\\\\windows\\\\Temp\\\\Dorvane.log\"",
    "result: differs",
};
const Lines kSettingsAfterAPass = {
    "setting: ACUserMonIdleTime         policy=10          scheme=10         pass=same",
    "setting: ACUserStandByIdleTime     policy=30          scheme=30         pass=same",
    "setting: ACMachHibernateIdleTime   policy=90          scheme=90         pass=same",
    "setting: DCUserMonIdleTime         policy=5           scheme=5          pass=same",
    "setting: DCUserStandByIdleTime     policy=15          scheme=15         pass=same",
    "setting: DCMachHibernateIdleTime   policy=60          scheme=60         pass=same",
    "setting: ACUserHDDspindownIdleTime policy=20          scheme=20         pass=same",
    "setting: DCUserHDDspindownIdleTime policy=5000        scheme=10         pass=ignored",
    "windows-applies-ac: -",
    "windows-applies-dc: -",
    "log: writes to \"C:\\\\windows\\\\Temp\\\\Dorvane.log\"",
    "result: complies",
};

Lines Concat(Lines a, const Lines& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class HollinStatus : public ::testing::Test {
 protected:
  // The default schemes and the example policy, without a backup key or a log.
  void SetUp() override {
    ASSERT_TRUE(monitor_.Listening());
    ASSERT_EQ("", winetest::SeedDefaultSchemesAndExamplePolicy());
    ASSERT_TRUE(winetest::DeleteFileIfPresent(LogPath())) << GetLastError();
    ASSERT_TRUE(winetest::ReadScheme(0, &defaults_)) << "the fixture's scheme 0";
  }

  // One /Status run, which must end with `exitStatus`; its report's lines.
  Lines RunStatus(winetest::Where where, DWORD exitStatus) {
    const ProgramRun run = winetest::RunProgram(HollinPath(), {"/Status"});
    if (!run.started || !run.ended || run.exitCode != exitStatus) {
      ADD_FAILURE_AT(where.file, where.line)
          << "Hollin.exe /Status: started " << run.started << " (error " << run.startError
          << "), ended " << run.ended << ", exit status " << run.exitCode << " (expected "
          << exitStatus << ")\n"
          << run.output;
    }
    if (run.output.size() < 2 || run.output.compare(run.output.size() - 2, 2, "\r\n") != 0) {
      ADD_FAILURE_AT(where.file, where.line) << "the report does not end in CR LF:\n" << run.output;
    }
    if (monitor_.Settle()) {
      const Lines debug = monitor_.TextsOf(run.processId);
      if (debug != Lines{"Power scheme interface: legacy (powrprof.dll has no "
                         "PowerGetActiveScheme)"}) {
        ADD_FAILURE_AT(where.file, where.line)
            << "debug texts: " << ::testing::PrintToString(debug);
      }
    }
    return winetest::OutputLines(run.output);
  }

  POWER_POLICY defaults_ = {};
  winetest::DebugMonitor monitor_;
};

// Before any pass the default scheme 0 differs from the example in six settings; the check
// says which and leaves them as they are.
TEST_F(HollinStatus, BeforeAPassReportsWhatAPassWouldChangeAndChangesNothing) {
  const Lines report = RunStatus(HERE, 1);

  EXPECT_EQ(report, Concat(kHead, kSettingsBeforeAPass));
  EXPECT_FALSE(winetest::FileExists(LogPath())) << "the check wrote a log";
  EXPECT_NO_REG_KEY(HKEY_CURRENT_USER, winetest::kBackupKey);
  EXPECT_NO_REG_KEY(HKEY_LOCAL_MACHINE, winetest::kBackupKey);
  EXPECT_SCHEME(0, defaults_);
}

TEST_F(HollinStatus, AfterALogonPassTheMachineComplies) {
  const ProgramRun pass = winetest::RunProgram(ToolPath(), {});
  ASSERT_TRUE(pass.ended && pass.exitCode == 0) << pass.exitCode << "\n" << pass.output;

  const Lines report = RunStatus(HERE, 0);

  EXPECT_EQ(report, Concat(kHead, kSettingsAfterAPass));
  EXPECT_SCHEME(0, winetest::EnforcedByTheExample(defaults_));
}

// Without the marker no root counts and a pass would do nothing: the check cannot tell.
TEST_F(HollinStatus, WithoutARootItCannotTell) {
  ASSERT_EQ(ERROR_SUCCESS,
            winetest::DeleteValue(HKEY_LOCAL_MACHINE, winetest::kGroupPolicyKey, "Control"));

  const Lines report = RunStatus(HERE, 2);

  ASSERT_EQ(report.size(), 21u);
  EXPECT_EQ(report[1], "root: none");
  EXPECT_EQ(report[3], "version: -");
  EXPECT_EQ(report[9],
            "setting: ACUserMonIdleTime         policy=-           scheme=20         pass=unknown");
  EXPECT_EQ(report[19], "log: -");
  EXPECT_EQ(report[20], "result: unknown no-root");
  EXPECT_SCHEME(0, defaults_);
}

// The log line tells what a pass would do with the log, learnt without creating or writing
// anything: through a folder linked elsewhere (a Unix symbolic link in the prefix's drive) and
// by a pipe's name it would write nothing; in a missing folder it could open nothing.
TEST_F(HollinStatus, TheLogLineTellsARefusedLogWithoutWritingIt) {
  const std::string logs = winetest::WindowsDir() + "\\Temp\\dorvane-status-logs";
  const std::string other = winetest::WindowsDir() + "\\Temp\\dorvane-status-other";
  ASSERT_TRUE(CreateDirectoryA(logs.c_str(), nullptr)) << GetLastError();
  ASSERT_TRUE(CreateDirectoryA(other.c_str(), nullptr)) << GetLastError();
  ASSERT_TRUE(winetest::MakeFolderLink(logs + "\\sub", other));
  const struct {
    std::string logFile;
    std::string line;
  } cases[] = {
      {logs + "\\sub\\Dorvane.log", "log: refused: final-path-differs"},
      {"\\\\.\\pipe\\dorvane", "log: refused: device-namespace"},
      {logs + "\\missing\\Dorvane.log",
       "log: cannot open \"C:\\\\windows\\\\Temp\\\\dorvane-status-logs\\\\missing\\\\"
       "Dorvane.log\": error 3"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.logFile);
    ASSERT_EQ(ERROR_SUCCESS, winetest::SetText(HKEY_LOCAL_MACHINE, winetest::kOptionsKey, "LogFile",
                                               REG_SZ, c.logFile));

    const Lines report = RunStatus(HERE, 1);

    ASSERT_EQ(report.size(), 21u);
    EXPECT_EQ(report[19], c.line);
    EXPECT_EQ(report[20], "result: differs");
    EXPECT_EQ(winetest::FolderEntries(other), Lines{});
    EXPECT_EQ(winetest::FolderEntries(logs), Lines{"sub"});
  }
  EXPECT_SCHEME(0, defaults_);
  EXPECT_TRUE(winetest::RemoveFolderLink(logs + "\\sub"));
  EXPECT_TRUE(RemoveDirectoryA(logs.c_str()));
  EXPECT_TRUE(RemoveDirectoryA(other.c_str()));
}

}  // namespace
