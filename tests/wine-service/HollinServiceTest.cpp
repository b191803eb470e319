// Hollin as a real service under Wine's service control manager. Hollin.exe, Dorvane_Tool.exe
// and the stand-in powrprof.dll lie in the system directory (the area's setup put them there,
// and gave Hollin.exe the stand-in through its DllOverrides key). Each case starts Hollin.exe
// with CreateProcess on the default schemes and the example policy, and checks its exit status,
// its debug texts and the service's (through a debug-output monitor, by process), the service's
// registration, the Run value, the event source, the log byte for byte, the backup key, the
// scheme store and the service's events (Wine prints them on the session's stderr, which the
// area's setup keeps in the session log).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "DebugMonitor.h"
#include "DorvaneVersion.h"
#include "EventTrace.h"
#include "ExamplePolicy.h"
#include "Files.h"
#include "Programs.h"
#include "Registry.h"
#include "Services.h"

namespace {

using winetest::ProgramRun;
using Texts = std::vector<std::string>;
using winetest::kPassBegins;
using winetest::kPassEnds;
using winetest::kServiceKey;
using winetest::ProcessEnds;
using winetest::QueryService;
using winetest::RemoveService;
using winetest::ServiceState;
using winetest::WaitForState;

// Started by hand without a command, Hollin waits for the dispatcher, which Wine refuses only
// after about ten seconds.
constexpr DWORD kCommandTimeoutMs = 30000;

std::string HollinPath() { return winetest::SystemDir() + "\\Hollin.exe"; }
std::string LogonToolPath() { return winetest::SystemDir() + "\\Dorvane_Tool.exe"; }
constexpr const char* kSourceKey =
    "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\PMevents";
// The stand-in power profile is a Windows 2000/XP machine's.
constexpr const char* kChosenLegacy =
    "Power scheme interface: legacy (powrprof.dll has no PowerGetActiveScheme)";

// The user a service runs as: the local system account on Windows; under Wine every process
// runs as the one user of the prefix.
std::string ServiceUser() {
  if (!winetest::IsWine()) return "SYSTEM";
  char name[257];
  DWORD size = sizeof name;
  return GetUserNameA(name, &size) ? std::string(name) : "?";
}

// The events of the example policy's first pass on the default schemes, in the service's words.
std::string FirstPassEvent() {
  return winetest::Expected(
      pm_events::kPassChangedSettings,
      {"service", ServiceUser(), "6",
       "ACUserMonIdleTime 20 -> 10\r\nACUserStandByIdleTime 0 -> 30\r\n"
       "ACMachHibernateIdleTime 0 -> 90\r\nDCUserStandByIdleTime 5 -> 15\r\n"
       "DCMachHibernateIdleTime 0 -> 60\r\nACUserHDDspindownIdleTime 0 -> 20"});
}
const std::string kStarted =
    winetest::Expected(pm_events::kServiceStarted, {DORVANE_VERSION_TEXT, "legacy"});
const std::string kStopped = winetest::Expected(pm_events::kServiceStopped, {});

// The test's own log path, with a variable for the service to expand.
constexpr const char* kLogFileValue = "%SystemRoot%\\hollin-test.log";
std::string LogPath() { return winetest::WindowsDir() + "\\hollin-test.log"; }

class HollinCommand : public ::testing::Test {
 protected:
  // No service and no Run value; the default schemes and the example policy, logging to the
  // test's own file, which does not exist yet.
  void SetUp() override {
    ASSERT_TRUE(monitor_.Listening());
    ASSERT_EQ("", RemoveService());
    ASSERT_EQ(ERROR_SUCCESS,
              winetest::DeleteValue(HKEY_LOCAL_MACHINE, winetest::kRunKey, winetest::kRunValue));
    ASSERT_EQ("", winetest::SeedDefaultSchemesAndExamplePolicy());
    ASSERT_EQ(ERROR_SUCCESS, winetest::SetText(HKEY_LOCAL_MACHINE, winetest::kOptionsKey, "LogFile",
                                               REG_EXPAND_SZ, kLogFileValue));
    ASSERT_TRUE(winetest::DeleteFileIfPresent(LogPath())) << GetLastError();
    ASSERT_TRUE(winetest::ReadScheme(0, &defaults_)) << "the fixture's scheme 0";
    sessionLogStart_ = winetest::SessionLog().size();
  }

  void TearDown() override { EXPECT_EQ("", RemoveService()); }

  ProgramRun Hollin(const std::vector<std::string>& arguments) {
    return winetest::RunProgram(HollinPath(), arguments, kCommandTimeoutMs);
  }

  // The command ended with `status`, printed nothing and sent exactly `texts` to the debugger.
  void ExpectCommand(winetest::Where where, const ProgramRun& run, DWORD status,
                     const Texts& texts) {
    if (!run.started || !run.ended) {
      ADD_FAILURE_AT(where.file, where.line) << "Hollin.exe: started " << run.started << " (error "
                                             << run.startError << "), ended " << run.ended;
      return;
    }
    EXPECT_TRUE(monitor_.Settle());
    if (run.exitCode != status || !run.output.empty() || monitor_.TextsOf(run.processId) != texts) {
      std::string sent;
      for (const std::string& text : monitor_.TextsOf(run.processId)) sent += "\n    " + text;
      std::string expected;
      for (const std::string& text : texts) expected += "\n    " + text;
      ADD_FAILURE_AT(where.file, where.line)
          << "Hollin.exe: exit status " << run.exitCode << ", expected " << status
          << "\n  output: \"" << run.output << "\"\n  debug texts:" << sent
          << "\n  expected debug texts:" << expected;
    }
  }

  // Installs the service and waits for its first pass to end; the service's state then.
  ServiceState InstallAndWaitForTheFirstPass(winetest::Where where) {
    ExpectCommand(where, Hollin({"/Install"}), 0, {});
    return winetest::ExpectFirstPass(where, monitor_);
  }

  // The events one process of the service reported since the case began (a process id of an
  // earlier case may come again).
  Texts ServiceEvents(DWORD processId) const {
    const std::string log = winetest::SessionLog();
    return winetest::Describe(winetest::EventsOf(
        winetest::ParseEventTrace(log.substr(std::min(sessionLogStart_, log.size()))), processId));
  }

  winetest::DebugMonitor monitor_;
  POWER_POLICY defaults_ = {};
  size_t sessionLogStart_ = 0;
};

// Anything but "/Install" or "/Uninstall" is how the service control manager starts the
// program; started by hand that way, the dispatcher call fails and the program ends quietly.
TEST_F(HollinCommand, InstallInLowerCaseIsNoCommandAndEndsQuietly) {
  ExpectCommand(HERE, Hollin({"/install"}), 0, {});
  EXPECT_FALSE(QueryService().exists);
  EXPECT_NO_REG_KEY(HKEY_LOCAL_MACHINE, kServiceKey);
  EXPECT_NO_REG_VALUE(HKEY_LOCAL_MACHINE, winetest::kRunKey, winetest::kRunValue);
}

// Registered to start automatically in a process of its own under the local system account,
// the program in quotes in the system directory; the logon tool registered in the Run key.
TEST_F(HollinCommand, InstallRegistersTheLogonToolAndCreatesAndStartsTheService) {
  ExpectCommand(HERE, Hollin({"/Install", "extra", "arguments"}), 0, {});

  EXPECT_REG_DWORD(HKEY_LOCAL_MACHINE, kServiceKey, "Start", SERVICE_AUTO_START);
  EXPECT_REG_DWORD(HKEY_LOCAL_MACHINE, kServiceKey, "Type", SERVICE_WIN32_OWN_PROCESS);
  EXPECT_REG_DWORD(HKEY_LOCAL_MACHINE, kServiceKey, "ErrorControl", SERVICE_ERROR_IGNORE);
  // Windows keeps the program as an expandable text, Wine as a plain one.
  EXPECT_REG_TEXT(HKEY_LOCAL_MACHINE, kServiceKey, "ImagePath",
                  winetest::IsWine() ? REG_SZ : REG_EXPAND_SZ, "\"" + HollinPath() + "\"");
  EXPECT_REG_TEXT(HKEY_LOCAL_MACHINE, kServiceKey, "DisplayName", REG_SZ,
                  "Solvenne(TM) Dorvane Power Management Configuration Tool");
  EXPECT_REG_TEXT(HKEY_LOCAL_MACHINE, kServiceKey, "ObjectName", REG_SZ, "LocalSystem");
  EXPECT_REG_TEXT(HKEY_LOCAL_MACHINE, winetest::kRunKey, winetest::kRunValue, REG_EXPAND_SZ,
                  LogonToolPath());
  // The event source: Hollin.exe holds the texts of its error, warning and information events.
  EXPECT_REG_TEXT(HKEY_LOCAL_MACHINE, kSourceKey, "EventMessageFile", REG_EXPAND_SZ, HollinPath());
  EXPECT_REG_DWORD(HKEY_LOCAL_MACHINE, kSourceKey, "TypesSupported", 7);
  EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), WaitForState(SERVICE_RUNNING, 5000).state);
}

// Two seconds after the start, one pass of the service's variant: the machine's backup key,
// the default user's announcements, the two debug texts, and the scheme as the logon tool
// would leave it.
TEST_F(HollinCommand, TheServicesFirstPassAppliesThePolicyAndBacksItUpForTheMachine) {
  const ServiceState service = InstallAndWaitForTheFirstPass(HERE);
  ASSERT_FALSE(HasFailure());
  ASSERT_TRUE(monitor_.Settle());
  // Only this test's own markers besides the service's two texts.
  for (const winetest::DebugText& received : monitor_.All()) {
    if (received.processId == GetCurrentProcessId()) continue;
    EXPECT_EQ(service.processId, received.processId) << "\"" << received.text << "\"";
  }
  // Before them, the power-scheme interface the process found when it started; the pass
  // chooses again.
  EXPECT_EQ((Texts{kChosenLegacy, kPassBegins, kChosenLegacy, kPassEnds}),
            monitor_.TextsOf(service.processId));
  // Its start, with the version and the interface, and what the pass changed.
  EXPECT_EQ((Texts{kStarted, FirstPassEvent()}), ServiceEvents(service.processId));

  EXPECT_FILE_LINES(LogPath(), winetest::FirstPassLog(".Default User"));
  EXPECT_REG_DWORDS_ONLY(HKEY_LOCAL_MACHINE, winetest::kBackupKey, winetest::FirstPassBackup());
  EXPECT_NO_REG_KEY(HKEY_CURRENT_USER, winetest::kBackupKey);
  EXPECT_SCHEME(0, winetest::EnforcedByTheExample(defaults_));
}

// The service exists: creation fails, and the status query then has no service to ask.
TEST_F(HollinCommand, ASecondInstallFailsOnTheExistingService) {
  InstallAndWaitForTheFirstPass(HERE);
  ASSERT_FALSE(HasFailure());
  ExpectCommand(HERE, Hollin({"/Install"}), 1,
                {"CreateService fails!", "QueryServiceStatus fails!"});
  EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), QueryService().state);
}

TEST_F(HollinCommand, UninstallStopsAndDeletesTheServiceAndLeavesTheRunValue) {
  const ServiceState service = InstallAndWaitForTheFirstPass(HERE);
  ASSERT_FALSE(HasFailure());

  ExpectCommand(HERE, Hollin({"/Uninstall"}), 0, {});
  EXPECT_NO_REG_KEY(HKEY_LOCAL_MACHINE, kServiceKey);
  EXPECT_NO_REG_KEY(HKEY_LOCAL_MACHINE, kSourceKey);
  EXPECT_REG_TEXT(HKEY_LOCAL_MACHINE, winetest::kRunKey, winetest::kRunValue, REG_EXPAND_SZ,
                  LogonToolPath());
  EXPECT_TRUE(ProcessEnds(service.processId, 5000)) << "the stop request ends the service";
  EXPECT_EQ((Texts{kStarted, FirstPassEvent(), kStopped}), ServiceEvents(service.processId));
}

// A stop during the two seconds before the first pass ends the service there: its process
// ends without a pass, so nothing is logged, backed up or changed.
TEST_F(HollinCommand, UninstallRightAfterInstallLeavesNoPassRunning) {
  ExpectCommand(HERE, Hollin({"/Install"}), 0, {});
  const ServiceState service = WaitForState(SERVICE_RUNNING, 5000);
  ASSERT_EQ(static_cast<DWORD>(SERVICE_RUNNING), service.state);
  ASSERT_NE(0u, service.processId);

  ExpectCommand(HERE, Hollin({"/Uninstall"}), 0, {});
  EXPECT_TRUE(ProcessEnds(service.processId, 5000)) << "the stop request ends the service";
  ASSERT_TRUE(monitor_.Settle());
  // Only the interface chosen when it started, and its start and stop: no pass.
  EXPECT_EQ(Texts{kChosenLegacy}, monitor_.TextsOf(service.processId));
  EXPECT_EQ((Texts{kStarted, kStopped}), ServiceEvents(service.processId));
  EXPECT_FALSE(winetest::FileExists(LogPath()));
  EXPECT_NO_REG_KEY(HKEY_LOCAL_MACHINE, winetest::kBackupKey);
  EXPECT_SCHEME(0, defaults_);
}

TEST_F(HollinCommand, UninstallWithoutTheServiceReportsEachFailedStep) {
  ExpectCommand(HERE, Hollin({"/Uninstall"}), 1,
                {"OpenService Fails!", "QueryServiceStatus fails!", "DeleteService Fails!"});
}

}  // namespace
