// Dorvane_Tool.exe as Windows runs it at logon: the real program, with the stand-in
// powrprof.dll beside it, started with CreateProcess on the six default schemes and the
// example policy. Each run is checked by its exit status, the log file byte for byte, the
// backup key value by value (under HKEY_CURRENT_USER, none under HKEY_LOCAL_MACHINE) and both
// halves of the active scheme whole.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "DebugMonitor.h"
#include "EventTrace.h"
#include "ExamplePolicy.h"
#include "Files.h"
#include "Programs.h"
#include "Registry.h"

namespace {

using winetest::ProgramRun;

constexpr const char* kDesktopKey = "Control Panel\\Desktop";
constexpr const char* kSimpleKey = "Software\\Policies\\Velmorant\\Dorvane\\Simple";

std::string ToolPath() { return winetest::ProgramDir() + "Dorvane_Tool.exe"; }
// Where the example policy's LogFile, %SystemRoot%\Temp\Dorvane.log, points.
std::string LogPath() { return winetest::WindowsDir() + "\\Temp\\Dorvane.log"; }

// Every announcement, setter and the commit of a first pass with the example policy on the
// default scheme 0, at LogLevel 11, in the logon tool's words.
const std::vector<std::string> kFirstPassLog = winetest::FirstPassLog("User");

class LogonToolRun : public ::testing::Test {
 protected:
  // The default schemes and the example policy, without a backup key, a log or a Run value.
  void SetUp() override {
    ASSERT_EQ("", winetest::SeedDefaultSchemesAndExamplePolicy());
    ASSERT_EQ(ERROR_SUCCESS,
              winetest::DeleteValue(HKEY_LOCAL_MACHINE, winetest::kRunKey, winetest::kRunValue));
    ASSERT_TRUE(winetest::DeleteFileIfPresent(LogPath())) << GetLastError();
    ASSERT_TRUE(winetest::ReadScheme(0, &defaults_)) << "the fixture's scheme 0";
  }

  // One run of the tool, which must end with status 0.
  ProgramRun RunTool(winetest::Where where, const std::vector<std::string>& arguments = {}) {
    ProgramRun run = winetest::RunProgram(ToolPath(), arguments);
    if (!run.started || !run.ended || run.exitCode != 0) {
      ADD_FAILURE_AT(where.file, where.line)
          << "Dorvane_Tool.exe: started " << run.started << " (error " << run.startError
          << "), ended " << run.ended << ", exit status " << run.exitCode << "\n"
          << run.output;
    }
    return run;
  }

  // What one pass with the example policy leaves: the whole log, the user's backup key and
  // none for the machine, the enforced scheme.
  void ExpectExamplePolicyEnforced(winetest::Where where) {
    winetest::ExpectFileLines(where, LogPath(), kFirstPassLog);
    winetest::ExpectDwordsOnly(where, HKEY_CURRENT_USER, winetest::kBackupKey,
                               winetest::FirstPassBackup());
    winetest::ExpectNoKey(where, HKEY_LOCAL_MACHINE, winetest::kBackupKey);
    winetest::ExpectScheme(where, 0, winetest::EnforcedByTheExample(defaults_));
  }

  // The debug texts of the run that tell a refused log.
  std::vector<std::string> RefusalsOf(const ProgramRun& run) {
    std::vector<std::string> refusals;
    if (!monitor_.Settle()) {
      ADD_FAILURE() << "the debug texts did not all arrive";
      return refusals;
    }
    for (const std::string& text : monitor_.TextsOf(run.processId)) {
      if (text.rfind("Log file refused, ", 0) == 0) refusals.push_back(text);
    }
    return refusals;
  }

  // Windows' file names do not depend on case, and Wine names C:\windows\temp as it is on disk.
  static std::vector<std::string> Lowered(std::vector<std::string> texts) {
    for (std::string& text : texts) {
      for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return texts;
  }

  // The registry calls of one run of the tool, as Wine's trace of ntdll shows them.
  std::vector<winetest::TracedRegistryCall> RegistryCallsOfARun(winetest::Where where) {
    const winetest::WithWineDebug trace(winetest::kRegistryTraceDebug);
    const size_t start = winetest::StderrLog().size();
    const ProgramRun run = RunTool(where);
    const std::string log = winetest::StderrLog();
    return winetest::RegistryCallsOf(log.substr(std::min(start, log.size())), run.processId);
  }

  POWER_POLICY defaults_ = {};
  winetest::DebugMonitor monitor_;
};

// The names of the values a run set.
std::set<std::string> ValuesSet(const std::vector<winetest::TracedRegistryCall>& calls) {
  std::set<std::string> names;
  for (const winetest::TracedRegistryCall& call : calls) {
    if (call.function == "NtSetValueKey") names.insert(call.valueName);
  }
  return names;
}

TEST_F(LogonToolRun, AppliesTheExamplePolicyToTheUsersSchemeAndBacksItUpForTheUser) {
  ASSERT_TRUE(monitor_.Listening());
  ProgramRun run = RunTool(HERE);
  ExpectExamplePolicyEnforced(HERE);
  // The pass's own debug texts belong to the service's pass alone; the tool only names the
  // power-scheme interface it chose: the stand-in is a Windows 2000/XP machine's.
  ASSERT_TRUE(monitor_.Settle());
  EXPECT_EQ(
      std::vector<std::string>{
          "Power scheme interface: legacy (powrprof.dll has no PowerGetActiveScheme)"},
      monitor_.TextsOf(run.processId));
}

// The commit writes the scheme under its own name and description, which the power profile
// beside the tool requires: a null name would be refused and the scheme left as it was.
TEST_F(LogonToolRun, TheSchemeKeepsItsNameAndDescription) {
  RunTool(HERE);
  ExpectExamplePolicyEnforced(HERE);
  const std::string scheme0 = scheme_store::UserKey(0);
  EXPECT_REG_TEXT(HKEY_CURRENT_USER, scheme0, "Name", REG_SZ, "Home/Office Desk");
  EXPECT_REG_TEXT(HKEY_CURRENT_USER, scheme0, "Description", REG_SZ,
                  "For a computer that stays on mains power at home or in the office.");
}

TEST_F(LogonToolRun, IgnoresItsArguments) {
  RunTool(HERE, {"/Install", "/Uninstall", "-h", "two words"});
  ExpectExamplePolicyEnforced(HERE);
  EXPECT_NO_REG_VALUE(HKEY_LOCAL_MACHINE, winetest::kRunKey, winetest::kRunValue);
}

// The keys of the scheme store and of the display settings, by their times of last write: a
// scheme written or made active again, or a display setting set again, moves one of them.
std::vector<ULONGLONG> StoreAndDisplayTimes() {
  std::vector<ULONGLONG> times;
  for (const auto& [root, path] :
       std::vector<std::pair<HKEY, std::string>>{{HKEY_CURRENT_USER, scheme_store::UserKey(0)},
                                                 {HKEY_LOCAL_MACHINE, scheme_store::MachineKey(0)},
                                                 {HKEY_CURRENT_USER, scheme_store::kUserPowerCfg},
                                                 {HKEY_CURRENT_USER, kDesktopKey}}) {
    times.push_back(winetest::LastWriteTime(root, path));
    EXPECT_NE(times.back(), 0u) << path;
  }
  return times;
}

// Every setting reads back as the first pass set it, hibernation included (standby plus the
// delay after it: 30 + 60 and 15 + 45): the second pass announces, changes and commits nothing
// (no key of the store or of the display settings is written), its snapshot records the
// enforced scheme and the replaced values stay as they were. The third pass finds the snapshot
// as it would write it and writes nothing at all: its backup key keeps its time of last write.
//
// Wine keeps a key's time of last write when a value is set to what it holds already (Windows
// does not), so Wine's trace of the registry calls shows what each run set and flushed: the
// first run's trace must show its writes, the third's none of the values a pass writes. (Wine 8
// traces no flush: the host tests count those.)
TEST_F(LogonToolRun, ASecondPassChangesNothingAndAThirdWritesNothing) {
  const std::vector<winetest::TracedRegistryCall> first = RegistryCallsOfARun(HERE);
  const std::vector<ULONGLONG> enforced = StoreAndDisplayTimes();
  RunTool(HERE);
  EXPECT_EQ(enforced, StoreAndDisplayTimes());
  const ULONGLONG recorded = winetest::LastWriteTime(HKEY_CURRENT_USER, winetest::kBackupKey);
  ASSERT_NE(recorded, 0u);
  const std::vector<winetest::TracedRegistryCall> third = RegistryCallsOfARun(HERE);

  EXPECT_EQ(recorded, winetest::LastWriteTime(HKEY_CURRENT_USER, winetest::kBackupKey));
  EXPECT_EQ(enforced, StoreAndDisplayTimes());
  // What a pass writes: the backup's values, the scheme's halves and its index, the display's.
  std::set<std::string> ours = {"Policies", "CurrentPowerPolicy", "PowerOffActive",
                                "PowerOffTimeOut"};
  for (const auto& value : winetest::ValuesOf(HKEY_CURRENT_USER, winetest::kBackupKey)) {
    ours.insert(value.first);
  }
  const std::set<std::string> setFirst = ValuesSet(first);
  EXPECT_EQ(1u, setFirst.count("CurACUserVideoTimeout")) << "the trace shows no write";
  EXPECT_EQ(1u, setFirst.count("Policies")) << "the trace shows no write";
  std::set<std::string> written;
  for (const std::string& name : ValuesSet(third)) {
    if (ours.count(name) != 0) written.insert(name);
  }
  EXPECT_EQ(std::set<std::string>{}, written);

  std::vector<std::string> log = kFirstPassLog;
  log.push_back("INFO: No setting changed; Power Scheme not committed");
  log.push_back("INFO: No setting changed; Power Scheme not committed");
  EXPECT_FILE_LINES(LogPath(), log);
  EXPECT_REG_DWORDS_ONLY(HKEY_CURRENT_USER, winetest::kBackupKey,
                         {{"CurACUserVideoTimeout", 10},
                          {"CurACUserStandbyTimeout", 30},
                          {"CurACMachHibernateTimeout", 90},
                          {"ACUserVideoTimeoutPolicy", 10},
                          {"ACUserStandbyTimeoutPolicy", 30},
                          {"ACMachHibernateTimeoutPolicy", 90},
                          {"CurDCUserVideoTimeout", 5},
                          {"CurDCUserStandbyTimeout", 15},
                          {"CurDCMachHibernateTimeout", 60},
                          {"DCUserVideoTimeoutPolicy", 5},
                          {"DCUserStandbyTimeoutPolicy", 15},
                          {"DCMachHibernateTimeoutPolicy", 60},
                          {"ACUserMonIdleTime", 20},
                          {"ACUserStandByIdleTime", 0},
                          {"ACMachHibernateIdleTime", 0},
                          {"DCUserStandByIdleTime", 5},
                          {"DCMachHibernateIdleTime", 0},
                          {"ACUserHDDspindownIdleTime", 0}});
  EXPECT_NO_REG_KEY(HKEY_LOCAL_MACHINE, winetest::kBackupKey);
  EXPECT_SCHEME(0, winetest::EnforcedByTheExample(defaults_));
}

// What "reg add" stores without /t: a text, which is no number. The pass reports it once, as
// it reads the policy for the snapshot, in the log and as a warning event, and treats it as
// absent: the monitor is left alone and its policy recorded as unset; everything else is
// enforced as usual.
TEST_F(LogonToolRun, ATimeOutStoredAsTextIsReportedAndLeftAlone) {
  ASSERT_EQ(ERROR_SUCCESS,
            winetest::SetText(HKEY_LOCAL_MACHINE, kSimpleKey, "ACUserMonIdleTime", REG_SZ, "10"));
  char user[257];
  DWORD size = sizeof user;
  ASSERT_TRUE(GetUserNameA(user, &size));
  const winetest::WithEventTrace trace;
  const size_t start = winetest::StderrLog().size();
  const ProgramRun run = RunTool(HERE);
  const std::string trail = winetest::StderrLog();
  const std::vector<std::string> events = winetest::Describe(winetest::EventsOf(
      winetest::ParseEventTrace(trail.substr(std::min(start, trail.size()))), run.processId));
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(
      winetest::Expected(pm_events::kPolicyValueWrongType,
                         {"logon tool", user, std::string("HKEY_LOCAL_MACHINE\\") + kSimpleKey,
                          "ACUserMonIdleTime", "REG_SZ"}),
      events.front());
  EXPECT_EQ(2u, events.size()) << "the warning, then the changes";

  std::vector<std::string> log = {
      "ERROR: Policy value ACUserMonIdleTime is not a REG_DWORD; ignored"};
  for (const std::string& line : kFirstPassLog) {
    if (line.find("Video") == std::string::npos) log.push_back(line);
  }
  EXPECT_FILE_LINES(LogPath(), log);
  std::vector<std::pair<std::string, DWORD>> backup;
  for (const auto& value : winetest::FirstPassBackup()) {
    if (value.first == "ACUserMonIdleTime") continue;  // nothing replaced
    backup.emplace_back(value.first,
                        value.first == "ACUserVideoTimeoutPolicy" ? 0xFFFFFFFF : value.second);
  }
  EXPECT_REG_DWORDS_ONLY(HKEY_CURRENT_USER, winetest::kBackupKey, backup);
  POWER_POLICY expected = winetest::EnforcedByTheExample(defaults_);
  expected.user.VideoTimeoutAc = defaults_.user.VideoTimeoutAc;
  EXPECT_SCHEME(0, expected);
}

// A user who may create files where the log lives can create its name first, as a second
// hard link of a file the pass's account may write. The pass then writes no log, says why in a
// debug text, and does everything else as with a log it cannot open: the other file keeps its
// bytes.
TEST_F(LogonToolRun, ALogNamePlantedAsAHardLinkLeavesTheOtherFileAlone) {
  const std::string other = winetest::WindowsDir() + "\\dorvane-linked.ini";
  const std::string bytes = "[boot]\r\nshell=explorer.exe\r\n";
  ASSERT_TRUE(winetest::WriteFileBytes(other, bytes));
  ASSERT_TRUE(CreateHardLinkA(LogPath().c_str(), other.c_str(), nullptr)) << GetLastError();

  const ProgramRun run = RunTool(HERE);

  std::string after;
  EXPECT_TRUE(winetest::ReadFileBytes(other, &after));
  EXPECT_EQ(bytes, after);
  EXPECT_EQ(RefusalsOf(run), std::vector<std::string>{"Log file refused, hard-link: " + LogPath()});
  EXPECT_REG_DWORDS_ONLY(HKEY_CURRENT_USER, winetest::kBackupKey, winetest::FirstPassBackup());
  EXPECT_NO_REG_KEY(HKEY_LOCAL_MACHINE, winetest::kBackupKey);
  EXPECT_SCHEME(0, winetest::EnforcedByTheExample(defaults_));
  EXPECT_TRUE(DeleteFileA(LogPath().c_str()));
  EXPECT_TRUE(DeleteFileA(other.c_str()));
}

// Each pass reports how it went under the source PMevents, as Wine's trace of the event log
// shows: the time-outs the first pass changed, in the logon tool's and its user's name; nothing
// for a second pass with nothing to change; a rejected version with the log's text.
TEST_F(LogonToolRun, ReportsWhatAPassChangedOrWhyItFailedAndNothingWhenNothingChanged) {
  char user[257];
  DWORD size = sizeof user;
  ASSERT_TRUE(GetUserNameA(user, &size));
  const winetest::WithEventTrace trace;
  // The events one run of the tool reported, from the area's stderr log.
  auto events = [this] {
    const size_t start = winetest::StderrLog().size();
    const ProgramRun run = RunTool(HERE);
    const std::string log = winetest::StderrLog();
    return winetest::Describe(winetest::EventsOf(
        winetest::ParseEventTrace(log.substr(std::min(start, log.size()))), run.processId));
  };

  const std::vector<std::string> first = events();
  const std::vector<std::string> second = events();
  ASSERT_EQ(ERROR_SUCCESS,
            winetest::SetDword(HKEY_LOCAL_MACHINE, winetest::kGroupPolicyKey, "MajorVersion", 0));
  const std::vector<std::string> rejected = events();

  EXPECT_EQ(std::vector<std::string>{winetest::Expected(
                pm_events::kPassChangedSettings,
                {"logon tool", user, "6",
                 "ACUserMonIdleTime 20 -> 10\r\nACUserStandByIdleTime 0 -> 30\r\n"
                 "ACMachHibernateIdleTime 0 -> 90\r\nDCUserStandByIdleTime 5 -> 15\r\n"
                 "DCMachHibernateIdleTime 0 -> 60\r\nACUserHDDspindownIdleTime 0 -> 20"})},
            first);
  EXPECT_EQ(std::vector<std::string>{}, second);
  EXPECT_EQ(std::vector<std::string>{winetest::Expected(
                pm_events::kPassFailed, {"logon tool", user, "Major version NULL"})},
            rejected);
}

// A folder on the log's path that a user made a link to another folder (here a Unix symbolic
// link in the prefix's drive, which Wine follows like a Windows folder link): the file of that
// name behind the link keeps its bytes, no file is left there when there was none, each
// refusal is told, and the rest of the pass goes on.
TEST_F(LogonToolRun, ALogFolderLinkedElsewhereGetsNoByteAndTheRefusalIsTold) {
  const std::string logs = winetest::WindowsDir() + "\\Temp\\dorvane-logs";
  const std::string other = winetest::WindowsDir() + "\\Temp\\dorvane-other";
  const std::string linked = logs + "\\sub";
  const std::string logFile = linked + "\\Dorvane.log";
  const std::string behind = other + "\\Dorvane.log";
  const std::string bytes = "INFO: another program's line\r\n";
  ASSERT_TRUE(CreateDirectoryA(logs.c_str(), nullptr)) << GetLastError();
  ASSERT_TRUE(CreateDirectoryA(other.c_str(), nullptr)) << GetLastError();
  ASSERT_TRUE(winetest::MakeFolderLink(linked, other));
  ASSERT_EQ(ERROR_SUCCESS, winetest::SetText(HKEY_LOCAL_MACHINE, winetest::kOptionsKey, "LogFile",
                                             REG_SZ, logFile));
  const std::string told =
      "Log file refused, final-path-differs: " + logFile + " is \\\\?\\" + behind;

  // A file of that name behind the link.
  ASSERT_TRUE(winetest::WriteFileBytes(behind, bytes));
  ProgramRun run = RunTool(HERE);
  std::string after;
  EXPECT_TRUE(winetest::ReadFileBytes(behind, &after));
  EXPECT_EQ(bytes, after);
  EXPECT_EQ(winetest::FolderEntries(other), std::vector<std::string>{"Dorvane.log"});
  EXPECT_EQ(Lowered(RefusalsOf(run)), Lowered({told}));
  EXPECT_REG_DWORDS_ONLY(HKEY_CURRENT_USER, winetest::kBackupKey, winetest::FirstPassBackup());
  EXPECT_SCHEME(0, winetest::EnforcedByTheExample(defaults_));

  // None: the file the pass creates there is removed again.
  ASSERT_TRUE(DeleteFileA(behind.c_str()));
  run = RunTool(HERE);
  EXPECT_EQ(winetest::FolderEntries(other), std::vector<std::string>{});
  EXPECT_EQ(Lowered(RefusalsOf(run)), Lowered({told}));

  EXPECT_TRUE(winetest::RemoveFolderLink(linked));
  EXPECT_TRUE(RemoveDirectoryA(logs.c_str()));
  EXPECT_TRUE(RemoveDirectoryA(other.c_str()));
}

// Rejected before the scheme is read: one error line, and the registry as it was. The display
// setting, which every commit switches on, shows that no commit ran.
// The policy's texts count only as REG_SZ or REG_EXPAND_SZ. A Control holding "Verify" as a
// REG_MULTI_SZ leaves no root that counts: no log, no backup, no change, and the warning event
// names the value and its type. A SettingsScheme holding the bytes of "Simple" as REG_BINARY is
// rejected as an invalid name, after a line that says why.
TEST_F(LogonToolRun, PolicyTextsOfAnotherTypeReadAsAbsent) {
  char user[257];
  DWORD size = sizeof user;
  ASSERT_TRUE(GetUserNameA(user, &size));
  const winetest::WithEventTrace trace;
  const std::string multi("Verify\0\0", 8);
  ASSERT_EQ(ERROR_SUCCESS,
            winetest::SetValue(HKEY_LOCAL_MACHINE, winetest::kGroupPolicyKey, "Control",
                               REG_MULTI_SZ, winetest::Bytes(multi.begin(), multi.end())));
  size_t start = winetest::StderrLog().size();
  ProgramRun run = RunTool(HERE);
  std::string traceLog = winetest::StderrLog();

  EXPECT_FALSE(winetest::FileExists(LogPath()));
  EXPECT_NO_REG_KEY(HKEY_CURRENT_USER, winetest::kBackupKey);
  EXPECT_SCHEME(0, defaults_);
  EXPECT_EQ(
      std::vector<std::string>{winetest::Expected(
          pm_events::kPolicyValueWrongType,
          {"logon tool", user, std::string("HKEY_LOCAL_MACHINE\\") + winetest::kGroupPolicyKey,
           "Control", "REG_MULTI_SZ"})},
      winetest::Describe(winetest::EventsOf(
          winetest::ParseEventTrace(traceLog.substr(std::min(start, traceLog.size()))),
          run.processId)));

  ASSERT_EQ(ERROR_SUCCESS, winetest::SetText(HKEY_LOCAL_MACHINE, winetest::kGroupPolicyKey,
                                             "Control", REG_SZ, "Verify"));
  const std::string simple = "Simple";
  ASSERT_EQ(ERROR_SUCCESS,
            winetest::SetValue(HKEY_LOCAL_MACHINE, winetest::kGroupPolicyKey, "SettingsScheme",
                               REG_BINARY, winetest::Bytes(simple.begin(), simple.end())));
  RunTool(HERE);

  EXPECT_FILE_LINES(LogPath(),
                    {"ERROR: Policy value SettingsScheme is not a REG_SZ or REG_EXPAND_SZ; ignored",
                     "ERROR: Invalid Scheme Name"});
  EXPECT_NO_REG_KEY(HKEY_CURRENT_USER, winetest::kBackupKey);
  EXPECT_SCHEME(0, defaults_);
}

TEST_F(LogonToolRun, RejectsLayoutVersionZeroWithOneErrorLineAndWritesNothing) {
  ASSERT_EQ(ERROR_SUCCESS,
            winetest::SetDword(HKEY_LOCAL_MACHINE, winetest::kGroupPolicyKey, "MajorVersion", 0));
  ASSERT_EQ(ERROR_SUCCESS,
            winetest::SetDword(HKEY_LOCAL_MACHINE, winetest::kOptionsKey, "LogLevel", 1));
  ASSERT_EQ(ERROR_SUCCESS,
            winetest::SetText(HKEY_CURRENT_USER, kDesktopKey, "PowerOffActive", REG_SZ, "0"));

  RunTool(HERE);

  EXPECT_FILE_LINES(LogPath(), {"ERROR: Major version NULL"});
  EXPECT_NO_REG_KEY(HKEY_CURRENT_USER, winetest::kBackupKey);
  EXPECT_NO_REG_KEY(HKEY_LOCAL_MACHINE, winetest::kBackupKey);
  EXPECT_SCHEME(0, defaults_);
  EXPECT_REG_TEXT(HKEY_CURRENT_USER, kDesktopKey, "PowerOffActive", REG_SZ, "0");
}

}  // namespace
