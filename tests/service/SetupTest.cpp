// "/Install" and "/Uninstall": what they register, which steps they take in which order, the
// failure text of each step, and their exit status.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ServiceHarness.h"

namespace {

using harness::kRunKey;
using harness::kRunValue;
using harness::kServiceKey;
using harness::kServiceName;
using harness::RunCommand;
using Texts = std::vector<std::string>;
using Pauses = std::vector<uint64_t>;

constexpr const char* kDisplayName = "Solvenne(TM) Dorvane Power Management Configuration Tool";
constexpr const char* kSourceKey =
    "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\PMevents";
constexpr const char* kHollinPath = "C:\\WINDOWS\\system32\\Hollin.exe";

class Setup : public HostFixture {
 protected:
  // A service as an earlier install left it, in the given state.
  static void SeedService(DWORD state, const std::string& imagePath) {
    host::WriteDword(HKEY_LOCAL_MACHINE, kServiceKey, "Type", SERVICE_WIN32_OWN_PROCESS);
    host::WriteDword(HKEY_LOCAL_MACHINE, kServiceKey, "Start", SERVICE_DEMAND_START);
    host::WriteDword(HKEY_LOCAL_MACHINE, kServiceKey, "ErrorControl", SERVICE_ERROR_IGNORE);
    WriteExpandString(HKEY_LOCAL_MACHINE, kServiceKey, "ImagePath", imagePath);
    host::WriteString(HKEY_LOCAL_MACHINE, kServiceKey, "DisplayName", "Earlier");
    host::WriteString(HKEY_LOCAL_MACHINE, kServiceKey, "ObjectName", "LocalSystem");
    host::SetServiceState(kServiceName, state);
  }

  static void WriteExpandString(HKEY root, const std::string& path, const std::string& name,
                                const std::string& text) {
    host::WriteValue(root, path, name, REG_EXPAND_SZ,
                     std::vector<uint8_t>(text.c_str(), text.c_str() + text.size() + 1));
  }

  // The value's type and its text without the terminating zero; type 0 when absent.
  static std::pair<DWORD, std::string> TextValue(HKEY root, const std::string& path,
                                                 const std::string& name) {
    host::RegValue value;
    if (!host::ReadValue(root, path, name, &value)) return {REG_NONE, ""};
    std::string text(value.data.begin(), value.data.end());
    if (!text.empty() && text.back() == '\0') text.pop_back();
    return {value.type, text};
  }

  static std::pair<DWORD, std::string> ImagePath() {
    return TextValue(HKEY_LOCAL_MACHINE, kServiceKey, "ImagePath");
  }
  static std::pair<DWORD, std::string> RunValue() {
    return TextValue(HKEY_LOCAL_MACHINE, kRunKey, kRunValue);
  }
  static std::pair<DWORD, std::string> MessageFile() {
    return TextValue(HKEY_LOCAL_MACHINE, kSourceKey, "EventMessageFile");
  }
  // The event source as "/Install" registers it.
  static void SeedEventSource() {
    WriteExpandString(HKEY_LOCAL_MACHINE, kSourceKey, "EventMessageFile", kHollinPath);
    host::WriteDword(HKEY_LOCAL_MACHINE, kSourceKey, "TypesSupported", 7);
  }
};

// ---- /Install ------------------------------------------------------------------------------

TEST_F(Setup, InstallRegistersTheLogonToolCreatesAndStartsTheServiceAndPausesHalfASecond) {
  const harness::CommandRun run = RunCommand([] { return harness::RunHollin({"/Install"}); });

  EXPECT_EQ(0, run.exitStatus);
  EXPECT_EQ(Texts{}, host::DebugOutput());
  EXPECT_EQ((Texts{"OpenSCManagerA", "CreateServiceA", "QueryServiceStatus", "StartServiceA",
                   "Sleep", "CloseServiceHandle", "CloseServiceHandle"}),
            harness::ServiceCalls());
  EXPECT_EQ(Pauses{500}, run.pauses);
  EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), host::ServiceState(kServiceName));

  // Own process, automatic start, errors ignored, the local system account.
  EXPECT_EQ(std::string("\x10\0\0\0", 4), ValueBytes(HKEY_LOCAL_MACHINE, kServiceKey, "Type"));
  EXPECT_EQ(std::string("\x02\0\0\0", 4), ValueBytes(HKEY_LOCAL_MACHINE, kServiceKey, "Start"));
  EXPECT_EQ(std::string("\0\0\0\0", 4),
            ValueBytes(HKEY_LOCAL_MACHINE, kServiceKey, "ErrorControl"));
  EXPECT_EQ(std::string(kDisplayName) + '\0',
            ValueBytes(HKEY_LOCAL_MACHINE, kServiceKey, "DisplayName"));
  EXPECT_EQ(std::string("LocalSystem") + '\0',
            ValueBytes(HKEY_LOCAL_MACHINE, kServiceKey, "ObjectName"));
  EXPECT_EQ("\"C:\\WINDOWS\\system32\\Hollin.exe\"", ImagePath().second);

  // The event source: Hollin.exe holds the texts of its events, error, warning and
  // information; the service's own program path, without the quotes.
  EXPECT_EQ(std::make_pair(static_cast<DWORD>(REG_EXPAND_SZ), std::string(kHollinPath)),
            MessageFile());
  EXPECT_EQ(std::string("\x07\0\0\0", 4),
            ValueBytes(HKEY_LOCAL_MACHINE, kSourceKey, "TypesSupported"));

  // The Run value first, then the event source's two values, then the service.
  const Texts calls = host::Calls();
  const auto create = std::find(calls.begin(), calls.end(), "CreateServiceA");
  EXPECT_EQ(3, std::count(calls.begin(), create, "RegSetValueExA"));
  EXPECT_EQ(std::make_pair(static_cast<DWORD>(REG_EXPAND_SZ),
                           std::string("C:\\WINDOWS\\system32\\Dorvane_Tool.exe")),
            RunValue());
}

TEST_F(Setup, InstallReportsEachFailedStepGoesOnAndExitsWithOne) {
  struct Case {
    host::FailableFunction failing;
    Texts debugTexts;
    Texts calls;
    Pauses pauses;
    DWORD stateAfter;  // 0: no service
  };
  const Case cases[] = {
      {host::gated::OpenSCManagerA,
       {"OpenSCManager fails!", "CreateService fails!", "QueryServiceStatus fails!"},
       {"OpenSCManagerA", "CreateServiceA", "QueryServiceStatus", "CloseServiceHandle",
        "CloseServiceHandle"},
       {},
       0},
      {host::gated::CreateServiceA,
       {"CreateService fails!", "QueryServiceStatus fails!"},
       {"OpenSCManagerA", "CreateServiceA", "QueryServiceStatus", "CloseServiceHandle",
        "CloseServiceHandle"},
       {},
       0},
      // The state is unknown, so the new service is not started.
      {host::gated::QueryServiceStatus,
       {"QueryServiceStatus fails!"},
       {"OpenSCManagerA", "CreateServiceA", "QueryServiceStatus", "CloseServiceHandle",
        "CloseServiceHandle"},
       {},
       SERVICE_STOPPED},
      {host::gated::StartServiceA,
       {"Service failed to start!"},
       {"OpenSCManagerA", "CreateServiceA", "QueryServiceStatus", "StartServiceA", "Sleep",
        "CloseServiceHandle", "CloseServiceHandle"},
       {500},
       SERVICE_STOPPED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.failing.name);
    host::Reset();
    host::FailCall(c.failing, 1, ERROR_ACCESS_DENIED);

    const harness::CommandRun run = RunCommand([] { return harness::RunHollin({"/Install"}); });

    EXPECT_EQ(1, run.exitStatus);
    EXPECT_EQ(c.debugTexts, host::DebugOutput());
    EXPECT_EQ(c.calls, harness::ServiceCalls());
    EXPECT_EQ(c.pauses, run.pauses);
    EXPECT_EQ(c.stateAfter, host::ServiceState(kServiceName));
    // Whatever failed later, the Run value was written first.
    EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), RunValue().first);
  }
}

TEST_F(Setup, InstallOverAnExistingServiceLeavesItAsItWas) {
  SeedService(SERVICE_RUNNING, "C:\\Earlier\\Hollin.exe");
  const std::string before = host::ExportRegText(HKEY_LOCAL_MACHINE, kServiceKey);

  const harness::CommandRun run = RunCommand([] { return harness::RunHollin({"/Install"}); });

  EXPECT_EQ(1, run.exitStatus);
  EXPECT_EQ((Texts{"CreateService fails!", "QueryServiceStatus fails!"}), host::DebugOutput());
  EXPECT_EQ(Pauses{}, run.pauses);
  EXPECT_EQ(before, host::ExportRegText(HKEY_LOCAL_MACHINE, kServiceKey));
  EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), host::ServiceState(kServiceName));
  EXPECT_EQ("C:\\WINDOWS\\system32\\Dorvane_Tool.exe", RunValue().second);
}

// The event source is a step of its own: when its key or a value cannot be written, the service
// is still created and started, and the command fails.
TEST_F(Setup, AnEventSourceThatCannotBeRegisteredIsReportedAndTheServiceStillInstalled) {
  const struct Case {
    const char* name;
    const host::FailableFunction& failing;
    unsigned nth;  // counted from the command's start: the Run value's calls come first
  } cases[] = {
      {"the key", host::gated::RegCreateKeyExA, 2},
      {"the message file", host::gated::RegSetValueExA, 2},
      {"the types", host::gated::RegSetValueExA, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    host::Reset();
    host::FailCall(c.failing, c.nth, ERROR_ACCESS_DENIED);

    const harness::CommandRun run = RunCommand([] { return harness::RunHollin({"/Install"}); });

    EXPECT_EQ(1, run.exitStatus);
    EXPECT_EQ(Texts{"Event source registration fails!"}, host::DebugOutput());
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), host::ServiceState(kServiceName));
    EXPECT_EQ(0u, host::OpenKeyCount());
  }
}

// ---- The logon tool's Run value -----------------------------------------------------------

TEST_F(Setup, TheRunValueNamesTheLogonToolInTheSystemDirectoryAndReplacesAnEarlierOne) {
  WriteExpandString(HKEY_LOCAL_MACHINE, kRunKey, kRunValue, "D:\\Elsewhere\\Old.exe");
  WriteExpandString(HKEY_LOCAL_MACHINE, kRunKey, "Other", "C:\\Other.exe");

  EXPECT_EQ(0, RegisterLogonTool());

  EXPECT_EQ(std::make_pair(static_cast<DWORD>(REG_EXPAND_SZ),
                           std::string("C:\\WINDOWS\\system32\\Dorvane_Tool.exe")),
            RunValue());
  EXPECT_EQ("C:\\Other.exe", TextValue(HKEY_LOCAL_MACHINE, kRunKey, "Other").second);
  EXPECT_EQ(Texts{}, host::DebugOutput());
  EXPECT_EQ(0u, host::OpenKeyCount());
}

TEST_F(Setup, ARunValueThatCannotBeWrittenEndsInstallBeforeTheService) {
  for (const host::FailableFunction& failing :
       {host::gated::RegCreateKeyExA, host::gated::RegSetValueExA}) {
    SCOPED_TRACE(failing.name);
    host::Reset();
    host::FailCall(failing, 1, ERROR_ACCESS_DENIED);

    const harness::CommandRun run = RunCommand([] { return harness::RunHollin({"/Install"}); });

    EXPECT_EQ(1, run.exitStatus);
    EXPECT_EQ(Texts{"RegisterLogonTool fails!"}, host::DebugOutput());
    EXPECT_EQ(Texts{}, harness::ServiceCalls());
    EXPECT_EQ(REG_NONE, RunValue().first);
    EXPECT_EQ(0u, host::OpenKeyCount());
  }
}

// ---- Program paths -------------------------------------------------------------------------

// Without the system directory there is no path to register. A path of the file name alone
// would name a program in the root of the current drive, and the service's would run there as
// the local system account: neither is registered, and the command fails.
TEST_F(Setup, ASystemDirectoryThatCannotBeReadRegistersNoPath) {
  const struct Case {
    const char* name;
    unsigned failingRead;  // 1: the logon tool's path, 2: the service's
    Texts debugTexts;
    std::string runValue;
  } cases[] = {
      {"logon tool's path", 1, {"RegisterLogonTool fails!"}, ""},
      {"service's path",
       2,
       {"Event source registration fails!", "CreateService fails!", "QueryServiceStatus fails!"},
       "C:\\WINDOWS\\system32\\Dorvane_Tool.exe"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    host::Reset();
    host::FailCall(host::gated::GetSystemDirectoryA, c.failingRead, ERROR_GEN_FAILURE);

    const harness::CommandRun run = RunCommand([] { return harness::RunHollin({"/Install"}); });

    EXPECT_EQ(1, run.exitStatus);
    EXPECT_EQ(c.debugTexts, host::DebugOutput());
    EXPECT_EQ(c.runValue, RunValue().second);
    EXPECT_EQ(0u, host::CallCount(host::gated::CreateServiceA));
    EXPECT_FALSE(host::ServiceExists(kServiceName));
    EXPECT_FALSE(host::KeyExists(HKEY_LOCAL_MACHINE, kSourceKey));
  }
}

TEST_F(Setup, ProgramPathsAreCutTo260CharactersAndTheServiceProgramIsQuoted) {
  const std::string deep = "C:\\" + std::string(300, 'd');
  const struct Case {
    std::string systemDirectory;
    std::string imagePath;  // between the quotes
    std::string runValue;
  } cases[] = {
      {"C:\\Program Files\\Windows System", "C:\\Program Files\\Windows System\\Hollin.exe",
       "C:\\Program Files\\Windows System\\Dorvane_Tool.exe"},
      // 249 + "\Hollin.exe" is 260: it just fits; the logon tool's path is cut.
      {deep.substr(0, 249), deep.substr(0, 249) + "\\Hollin.exe",
       (deep.substr(0, 249) + "\\Dorvane_Tool.exe").substr(0, 260)},
      {deep.substr(0, 250), (deep.substr(0, 250) + "\\Hollin.exe").substr(0, 260),
       (deep.substr(0, 250) + "\\Dorvane_Tool.exe").substr(0, 260)},
      // A directory of 260 characters leaves no room for any of the file name.
      {deep.substr(0, 260), deep.substr(0, 260), deep.substr(0, 260)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.systemDirectory.size());
    host::Reset();
    host::SetSystemDirectory(c.systemDirectory);

    const harness::CommandRun run = RunCommand([] { return harness::RunHollin({"/Install"}); });

    EXPECT_EQ(0, run.exitStatus);
    EXPECT_EQ(std::make_pair(static_cast<DWORD>(REG_EXPAND_SZ), "\"" + c.imagePath + "\""),
              ImagePath());
    EXPECT_EQ(c.imagePath, MessageFile().second);
    EXPECT_EQ(c.runValue, RunValue().second);
  }
}

// ---- /Uninstall ----------------------------------------------------------------------------

TEST_F(Setup, UninstallStopsARunningServiceOnlyDeletesAStoppedOneAndKeepsTheRunValue) {
  const struct Case {
    DWORD state;
    Texts calls;
    Pauses pauses;
  } cases[] = {
      {SERVICE_RUNNING,
       {"OpenSCManagerA", "OpenServiceA", "QueryServiceStatus", "ControlService", "Sleep",
        "DeleteService", "CloseServiceHandle", "CloseServiceHandle"},
       {500}},
      {SERVICE_STOPPED,
       {"OpenSCManagerA", "OpenServiceA", "QueryServiceStatus", "DeleteService",
        "CloseServiceHandle", "CloseServiceHandle"},
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.state);
    host::Reset();
    SeedService(c.state, "\"C:\\WINDOWS\\system32\\Hollin.exe\"");
    SeedEventSource();
    WriteExpandString(HKEY_LOCAL_MACHINE, kRunKey, kRunValue,
                      "C:\\WINDOWS\\system32\\Dorvane_Tool.exe");

    const harness::CommandRun run = RunCommand([] { return harness::RunHollin({"/Uninstall"}); });

    EXPECT_EQ(0, run.exitStatus);
    EXPECT_EQ(Texts{}, host::DebugOutput());
    EXPECT_EQ(c.calls, harness::ServiceCalls());
    EXPECT_EQ(c.pauses, run.pauses);
    EXPECT_FALSE(host::ServiceExists(kServiceName));
    EXPECT_FALSE(host::KeyExists(HKEY_LOCAL_MACHINE, kSourceKey));
    EXPECT_TRUE(host::KeyExists(HKEY_LOCAL_MACHINE,
                                "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application"));
    EXPECT_EQ("C:\\WINDOWS\\system32\\Dorvane_Tool.exe", RunValue().second);
  }
}

TEST_F(Setup, UninstallReportsEachFailedStepGoesOnAndExitsWithOne) {
  const Texts kAll = {"OpenSCManagerA", "OpenServiceA",       "QueryServiceStatus",
                      "DeleteService",  "CloseServiceHandle", "CloseServiceHandle"};
  const struct Case {
    const host::FailableFunction* failing;  // null: no service to remove
    Texts debugTexts;
    Texts calls;
    Pauses pauses;
  } cases[] = {
      {&host::gated::OpenSCManagerA,
       {"OpenSCManager Fails!", "OpenService Fails!", "QueryServiceStatus fails!",
        "DeleteService Fails!"},
       kAll,
       {}},
      {&host::gated::OpenServiceA,
       {"OpenService Fails!", "QueryServiceStatus fails!", "DeleteService Fails!"},
       kAll,
       {}},
      // The state is unknown, so no stop is sent; the deletion still goes ahead.
      {&host::gated::QueryServiceStatus, {"QueryServiceStatus fails!"}, kAll, {}},
      {&host::gated::ControlService,
       {"ControlService fails to stop service!"},
       {"OpenSCManagerA", "OpenServiceA", "QueryServiceStatus", "ControlService", "Sleep",
        "DeleteService", "CloseServiceHandle", "CloseServiceHandle"},
       {500}},
      {&host::gated::DeleteService,
       {"DeleteService Fails!"},
       {"OpenSCManagerA", "OpenServiceA", "QueryServiceStatus", "ControlService", "Sleep",
        "DeleteService", "CloseServiceHandle", "CloseServiceHandle"},
       {500}},
      {nullptr,
       {"OpenService Fails!", "QueryServiceStatus fails!", "DeleteService Fails!"},
       kAll,
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.failing != nullptr ? c.failing->name : "no service");
    host::Reset();
    if (c.failing != nullptr) {
      SeedService(SERVICE_RUNNING, "\"C:\\WINDOWS\\system32\\Hollin.exe\"");
      host::FailCall(*c.failing, 1, ERROR_ACCESS_DENIED);
    }

    const harness::CommandRun run = RunCommand([] { return harness::RunHollin({"/Uninstall"}); });

    EXPECT_EQ(1, run.exitStatus);
    EXPECT_EQ(c.debugTexts, host::DebugOutput());
    EXPECT_EQ(c.calls, harness::ServiceCalls());
    EXPECT_EQ(c.pauses, run.pauses);
  }
}

// A source that is not there is no failure (the package registers none, for one); a key that
// cannot be deleted is, after the service is gone.
TEST_F(Setup, UninstallRemovesTheEventSourceLastAndFailsOnlyWhenItStays) {
  const struct Case {
    const char* name;
    bool seeded;
    bool deleteFails;
    int exitStatus;
    Texts debugTexts;
  } cases[] = {
      {"no source", false, false, 0, {}},
      {"cannot be deleted", true, true, 1, {"Event source removal fails!"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    host::Reset();
    SeedService(SERVICE_STOPPED, "\"C:\\WINDOWS\\system32\\Hollin.exe\"");
    if (c.seeded) SeedEventSource();
    if (c.deleteFails) host::FailCall(host::gated::RegDeleteKeyA, 1, ERROR_ACCESS_DENIED);

    const harness::CommandRun run = RunCommand([] { return harness::RunHollin({"/Uninstall"}); });

    EXPECT_EQ(c.exitStatus, run.exitStatus);
    EXPECT_EQ(c.debugTexts, host::DebugOutput());
    EXPECT_FALSE(host::ServiceExists(kServiceName));
    EXPECT_EQ(c.seeded, host::KeyExists(HKEY_LOCAL_MACHINE, kSourceKey));
    const Texts calls = host::Calls();
    const auto remove = std::find(calls.begin(), calls.end(), "RegDeleteKeyA");
    EXPECT_EQ(calls.end(), std::find(remove, calls.end(), "DeleteService")) << "not the last step";
  }
}

// ---- Failure texts ------------------------------------------------------------------------

TEST_F(Setup, AFailureTextGoesOutAsItIsUpTo999Characters) {
  const struct Case {
    size_t length;
    bool sent;
  } cases[] = {{0, true}, {24, true}, {999, true}, {1000, false}, {5000, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    host::Reset();
    const std::string text(c.length, 'x');
    ReportSetupError(text.c_str());
    EXPECT_EQ(c.sent ? Texts{text} : Texts{}, host::DebugOutput());
  }
}

}  // namespace
