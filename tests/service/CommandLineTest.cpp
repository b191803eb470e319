// Hollin's command line: only an exact "/Install", "/Uninstall" or "/Status" as the first
// argument is a command; everything else is how the service control manager starts the program.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PassDouble.h"
#include "ServiceHarness.h"

namespace {

class CommandLine : public HostFixture {};

TEST_F(CommandLine, OnlyTheExactFirstArgumentChoosesACommand) {
  struct Case {
    std::vector<std::string> args;
    const char* firstCall;  // what the chosen path does first
    int exitStatus;
  };
  constexpr const char* kInstall = "GetSystemDirectoryA";  // the logon tool's path
  constexpr const char* kUninstall = "OpenSCManagerA";
  constexpr const char* kDispatcher = "StartServiceCtrlDispatcherA";
  const Case cases[] = {
      {{"/Install"}, kInstall, 0},
      {{"/Install", "/Uninstall", "more"}, kInstall, 0},
      // No service to remove on a fresh machine.
      {{"/Uninstall"}, kUninstall, 1},
      {{"/Uninstall", "/Install"}, kUninstall, 1},
      {{}, kDispatcher, 0},
      {{"/install"}, kDispatcher, 0},
      {{"/INSTALL"}, kDispatcher, 0},
      {{"/uninstall"}, kDispatcher, 0},
      {{"/Instal"}, kDispatcher, 0},
      {{"/Installs"}, kDispatcher, 0},
      {{"/Install "}, kDispatcher, 0},
      {{"-Install"}, kDispatcher, 0},
      {{"Install"}, kDispatcher, 0},
      {{""}, kDispatcher, 0},
      {{"more", "/Install"}, kDispatcher, 0},
  };
  for (const Case& c : cases) {
    std::string shown;
    for (const std::string& arg : c.args) shown += " '" + arg + "'";
    SCOPED_TRACE("Hollin.exe" + shown);
    host::Reset();

    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const harness::CommandRun run =
        harness::RunCommand([&c] { return harness::RunHollin(c.args); });
    const std::string printed =
        testing::internal::GetCapturedStdout() + testing::internal::GetCapturedStderr();

    EXPECT_EQ(c.exitStatus, run.exitStatus);
    ASSERT_FALSE(host::Calls().empty());
    EXPECT_EQ(c.firstCall, host::Calls().front());
    EXPECT_EQ("", printed);
    if (c.firstCall == kDispatcher) {
      // Not started by the service control manager: the dispatcher fails and that is all.
      EXPECT_EQ(std::vector<std::string>{kDispatcher}, harness::ServiceCalls());
      EXPECT_EQ(std::vector<std::string>{}, host::DebugOutput());
      EXPECT_FALSE(host::KeyExists(HKEY_LOCAL_MACHINE, harness::kRunKey));
    }
  }
}

// The compliance check answers with its own exit status and is never a setup command: it
// touches neither the service nor the Run value.
TEST_F(CommandLine, StatusRunsTheComplianceCheckAndAnswersItsExitStatus) {
  struct Case {
    std::vector<std::string> args;
    bool isStatus;
  };
  const Case cases[] = {
      {{"/Status"}, true},          {{"/Status", "/Install"}, true}, {{"/status"}, false},
      {{"/STATUS"}, false},         {{"/Status "}, false},           {{"Status"}, false},
      {{"more", "/Status"}, false},
  };
  for (const Case& c : cases) {
    std::string shown;
    for (const std::string& arg : c.args) shown += " '" + arg + "'";
    SCOPED_TRACE("Hollin.exe" + shown);
    host::Reset();
    pass_double::Reset();
    pass_double::SetStatusAnswer(2);

    const int exitStatus = harness::RunHollin(c.args);

    EXPECT_EQ(pass_double::StatusRuns(), c.isStatus ? 1 : 0);
    EXPECT_EQ(exitStatus, c.isStatus ? 2 : 0);
    const std::vector<std::string> dispatcher = {"StartServiceCtrlDispatcherA"};
    EXPECT_EQ(harness::ServiceCalls(), c.isStatus ? std::vector<std::string>{} : dispatcher);
    EXPECT_FALSE(host::KeyExists(HKEY_LOCAL_MACHINE, harness::kRunKey));
  }
}

}  // namespace
