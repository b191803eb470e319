// The control surface of the stand-in: Reset, injected failures and their shapes, the call
// record, debug output, the limited user and direct registry access.
#include <gtest/gtest.h>

#include <unistd.h>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "BackgroundThread.h"
#include "HostControl.h"
#include "HostSchemeStore.h"
#include "HostServiceControl.h"
#include "Win32Api.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Names = std::vector<std::string>;

constexpr DWORD kInjected = 0x4711;
constexpr DWORD kSentinelWord = 0xDEADBEEF;

// A service that ends at once, for the dispatcher to run.
void WINAPI ReturningMain(DWORD, LPSTR*) {}
char g_serviceName[] = "S";
const SERVICE_TABLE_ENTRYA kServiceTable[] = {{g_serviceName, ReturningMain}, {nullptr, nullptr}};

class Control : public ::testing::Test {
 protected:
  void SetUp() override {
    host::Reset();
    host::SetDebugEcho(false);
    path_ = "/tmp/dorvane-host-control-" + std::to_string(getpid()) + ".txt";
    std::remove(path_.c_str());
  }
  void TearDown() override {
    host::Reset();
    std::remove(path_.c_str());
  }

  HANDLE OpenExclusive() {
    return CreateFileA(path_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  }

  static LONG CreateKey(HKEY root, const char* path, REGSAM access, HKEY* key) {
    return RegCreateKeyExA(root, path, 0, nullptr, 0, access, nullptr, key, nullptr);
  }

  std::string path_;
};

TEST_F(Control, ResetPutsEveryPieceBackToItsStartingState) {
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, CreateKey(HKEY_CURRENT_USER, "Software\\Gone", KEY_ALL_ACCESS, &key));
  host::WriteDword(HKEY_LOCAL_MACHINE, "Software\\Gone", "v", 1);
  SYSTEM_POWER_CAPABILITIES caps = host::DefaultCapabilities();
  caps.SystemS3 = FALSE;
  host::SetCapabilities(caps);
  host::AdvanceClock(5000);
  HANDLE event = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  ASSERT_NE(nullptr, manager);
  host::SetLimitedUser(true);
  host::FailCall(host::gated::RegFlushKey, 1, kInjected, true);
  OutputDebugStringA("before");
  SetErrorMode(SEM_FAILCRITICALERRORS);
  SystemParametersInfoA(SPI_SETPOWEROFFACTIVE, 1, nullptr, 0);
  HANDLE file = OpenExclusive();
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  host::ArrangeServiceStart("S");
  host::SendServiceControl(SERVICE_CONTROL_STOP);
  host::SetSystemDirectory("D:\\Elsewhere");
  host::SetDebugEcho(true);

  host::Reset();

  EXPECT_TRUE(host::Calls().empty());
  EXPECT_TRUE(host::DebugOutput().empty());
  EXPECT_EQ(0u, host::OpenKeyCount());
  EXPECT_FALSE(host::KeyExists(HKEY_CURRENT_USER, "Software\\Gone"));
  EXPECT_FALSE(host::KeyExists(HKEY_LOCAL_MACHINE, "Software\\Gone"));
  // An old handle is simply unknown now.
  DWORD size = 0;
  EXPECT_EQ(ERROR_INVALID_HANDLE, RegQueryValueExA(key, "v", nullptr, nullptr, nullptr, &size));
  EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(key));
  // An administrator again, with no failures armed.
  HKEY machine = nullptr;
  EXPECT_EQ(ERROR_SUCCESS,
            CreateKey(HKEY_LOCAL_MACHINE, "Software\\New", KEY_ALL_ACCESS, &machine));
  EXPECT_EQ(ERROR_SUCCESS, RegFlushKey(machine));
  RegCloseKey(machine);
  SYSTEM_POWER_CAPABILITIES now = {};
  ASSERT_TRUE(GetPwrCapabilities(&now));
  EXPECT_TRUE(now.SystemS3);
  EXPECT_EQ(0u, SetErrorMode(0));
  BOOL active = kSentinelWord;
  ASSERT_TRUE(SystemParametersInfoA(SPI_GETPOWEROFFACTIVE, 0, &active, 0));
  EXPECT_EQ(FALSE, active);
  // The file was closed: it opens exclusively again, and the old handle is unknown.
  HANDLE again = OpenExclusive();
  EXPECT_NE(INVALID_HANDLE_VALUE, again);
  EXPECT_FALSE(CloseHandle(file));
  EXPECT_TRUE(CloseHandle(again));
  // The clock starts again; events, service handles, the arranged start and queued controls
  // are forgotten; the system directory is the default one.
  EXPECT_EQ(0u, host::ClockNow());
  EXPECT_EQ(WAIT_FAILED, WaitForSingleObject(event, 0));
  EXPECT_FALSE(CloseServiceHandle(manager));
  EXPECT_FALSE(StartServiceCtrlDispatcherA(kServiceTable));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT), GetLastError());
  EXPECT_TRUE(host::WaitForControlsDelivered(0));
  char directory[64] = {};
  EXPECT_EQ(19u, GetSystemDirectoryA(directory, sizeof directory));
  EXPECT_STREQ("C:\\WINDOWS\\system32", directory);

  // The echo switch is the test's own and stays as it was set.
  ::testing::internal::CaptureStderr();
  OutputDebugStringA("echoed");
  EXPECT_EQ("echoed\n", ::testing::internal::GetCapturedStderr());
}

TEST_F(Control, AFailureHitsTheNthCallCountedFromWhenItIsSetOnceOrFromThenOn) {
  struct Case {
    unsigned nth;
    bool persistent;
    std::vector<bool> fails;  // of the next five calls
  };
  const Case cases[] = {
      {1, false, {true, false, false, false, false}},
      {3, false, {false, false, true, false, false}},
      {2, true, {false, true, true, true, true}},
      {1, true, {true, true, true, true, true}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "nth " << c.nth << (c.persistent ? " persistent" : ""));
    host::Reset();
    // Calls made before the failure is set do not count towards it.
    RegFlushKey(HKEY_CURRENT_USER);
    RegFlushKey(HKEY_CURRENT_USER);
    host::FailCall(host::gated::RegFlushKey, c.nth, kInjected, c.persistent);
    for (size_t i = 0; i < c.fails.size(); ++i) {
      // Calls of other functions do not count either.
      RegCloseKey(HKEY_CURRENT_USER);
      EXPECT_EQ(c.fails[i] ? static_cast<LONG>(kInjected) : ERROR_SUCCESS,
                RegFlushKey(HKEY_CURRENT_USER))
          << "call " << i + 1;
    }
  }
  host::FailCall(host::gated::RegFlushKey, 1, kInjected, true);
  host::ClearFailures();
  EXPECT_EQ(ERROR_SUCCESS, RegFlushKey(HKEY_CURRENT_USER));
}

TEST_F(Control, CallsAreRecordedInOrderAndTheStandInsOwnCallsAreNot) {
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, CreateKey(HKEY_CURRENT_USER, "Software\\K", KEY_ALL_ACCESS, &key));
  const BYTE one[] = {1, 0, 0, 0};
  RegSetValueExA(key, "v", 0, REG_DWORD, one, 4);
  RegFlushKey(key);
  RegCloseKey(key);
  SystemParametersInfoA(SPI_SETPOWEROFFTIMEOUT, 60, nullptr, SPIF_UPDATEINIFILE);
  OutputDebugStringA("note");
  EXPECT_EQ((Names{"RegCreateKeyExA", "RegSetValueExA", "RegFlushKey", "RegCloseKey",
                   "SystemParametersInfoA", "OutputDebugStringA"}),
            host::Calls());
  EXPECT_EQ(1u, host::CallCount(host::gated::RegSetValueExA));
  EXPECT_EQ(0u, host::CallCount(host::gated::RegOpenKeyExA));
  host::ClearCalls();
  EXPECT_TRUE(host::Calls().empty());

  // The power profile reads the registry inside its own call: neither recorded nor able to
  // use up a failure meant for the system's next registry call.
  host::WriteString(HKEY_CURRENT_USER, scheme_store::kUserPowerCfg, scheme_store::kActiveValue,
                    "3");
  host::FailCall(host::gated::RegOpenKeyExA, 1, kInjected);
  UINT active = 0;
  ASSERT_TRUE(GetActivePwrScheme(&active));
  EXPECT_EQ(3u, active);
  EXPECT_EQ((Names{"GetActivePwrScheme"}), host::Calls());
  EXPECT_EQ(static_cast<LONG>(kInjected),
            RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\K", 0, KEY_READ, &key));
}

TEST_F(Control, CallsFromSeveralThreadsAreAllRecorded) {
  constexpr int kPerThread = 500;
  auto work = [] {
    for (int i = 0; i < kPerThread; ++i) {
      HKEY key = nullptr;
      if (CreateKey(HKEY_CURRENT_USER, "Software\\Shared", KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
        DWORD n = static_cast<DWORD>(i);
        RegSetValueExA(key, "n", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&n), 4);
        RegCloseKey(key);
      }
    }
  };
  std::thread a(work), b(work);
  a.join();
  b.join();
  EXPECT_EQ(2u * kPerThread, host::CallCount(host::gated::RegSetValueExA));
  EXPECT_EQ(6u * kPerThread, host::Calls().size());
  EXPECT_EQ(0u, host::OpenKeyCount());
}

// Call depth and last error belong to each thread: a thread inside the power profile (which
// calls the registry itself) hides none of another thread's calls, and neither thread sees
// the other's last error.
TEST_F(Control, EachThreadHasItsOwnCallDepthAndLastError) {
  host::WriteString(HKEY_CURRENT_USER, scheme_store::kUserPowerCfg, scheme_store::kActiveValue,
                    "1");
  constexpr DWORD kCalls = 2000;
  std::atomic<int> foreignErrors{0};
  std::thread profile([&foreignErrors] {
    for (DWORD i = 0; i < kCalls; ++i) {
      SetLastError(0x10000 + i);
      UINT id = 0;
      GetActivePwrScheme(&id);
      if (GetLastError() != 0x10000 + i) ++foreignErrors;
    }
  });
  std::thread registry([&foreignErrors] {
    for (DWORD i = 0; i < kCalls; ++i) {
      SetLastError(i);
      RegFlushKey(HKEY_CURRENT_USER);
      if (GetLastError() != i) ++foreignErrors;
    }
  });
  profile.join();
  registry.join();
  EXPECT_EQ(0, foreignErrors);
  EXPECT_EQ(kCalls, host::CallCount(host::gated::GetActivePwrScheme));
  EXPECT_EQ(kCalls, host::CallCount(host::gated::RegFlushKey));
  EXPECT_EQ(2 * kCalls, host::Calls().size());
}

// A test that runs for long turns the records off: neither the calls nor the debug texts
// (two a pass for the service) may then pile up, and Reset turns both on again.
TEST_F(Control, RecordingTurnedOffKeepsNeitherCallsNorDebugTexts) {
  host::RecordCalls(false);
  host::SetDebugEcho(true);
  ::testing::internal::CaptureStderr();
  OutputDebugStringA("still echoed");
  RegFlushKey(HKEY_CURRENT_USER);
  EXPECT_EQ("still echoed\n", ::testing::internal::GetCapturedStderr());
  host::SetDebugEcho(false);
  EXPECT_TRUE(host::Calls().empty());
  EXPECT_TRUE(host::DebugOutput().empty());

  host::Reset();
  OutputDebugStringA("kept");
  EXPECT_EQ((Names{"OutputDebugStringA"}), host::Calls());
  EXPECT_EQ((Names{"kept"}), host::DebugOutput());
}

TEST_F(Control, DebugOutputKeepsEveryTextAndEchoesOnlyWhenAsked) {
  ::testing::internal::CaptureStderr();
  OutputDebugStringA("first");
  OutputDebugStringA("");
  OutputDebugStringA(nullptr);
  OutputDebugStringA("third line");
  EXPECT_EQ("", ::testing::internal::GetCapturedStderr());
  EXPECT_EQ((Names{"first", "", "third line"}), host::DebugOutput());

  host::ClearDebugOutput();
  host::SetDebugEcho(true);
  ::testing::internal::CaptureStderr();
  OutputDebugStringA("seen");
  EXPECT_EQ("seen\n", ::testing::internal::GetCapturedStderr());
  EXPECT_EQ((Names{"seen"}), host::DebugOutput());
}

TEST_F(Control, ALimitedUserMayReadButNotWriteTheMachineHive) {
  host::WriteDword(HKEY_LOCAL_MACHINE, "Software\\Policy", "v", 1);
  HKEY earlier = nullptr;
  ASSERT_EQ(ERROR_SUCCESS,
            RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Policy", 0, KEY_SET_VALUE, &earlier));
  host::SetLimitedUser(true);

  struct Case {
    REGSAM access;
    LONG open;
  };
  const Case cases[] = {
      {KEY_READ, ERROR_SUCCESS},
      {KEY_QUERY_VALUE, ERROR_SUCCESS},
      {static_cast<REGSAM>(GENERIC_READ), ERROR_SUCCESS},
      {KEY_SET_VALUE, ERROR_ACCESS_DENIED},
      {KEY_CREATE_SUB_KEY, ERROR_ACCESS_DENIED},
      {KEY_WRITE, ERROR_ACCESS_DENIED},
      {KEY_ALL_ACCESS, ERROR_ACCESS_DENIED},
      {KEY_READ | DELETE, ERROR_ACCESS_DENIED},
      {static_cast<REGSAM>(GENERIC_WRITE), ERROR_ACCESS_DENIED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "access 0x" << std::hex << c.access);
    HKEY key = nullptr;
    EXPECT_EQ(c.open, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Policy", 0, c.access, &key));
    if (key != nullptr) RegCloseKey(key);
    key = nullptr;
    EXPECT_EQ(c.open, CreateKey(HKEY_LOCAL_MACHINE, "Software\\Policy", c.access, &key));
    if (key != nullptr) RegCloseKey(key);
    // Creating a missing key is a write whatever the access asked for.
    EXPECT_EQ(ERROR_ACCESS_DENIED, CreateKey(HKEY_LOCAL_MACHINE, "Software\\New", c.access, &key));
  }
  EXPECT_FALSE(host::KeyExists(HKEY_LOCAL_MACHINE, "Software\\New"));
  const BYTE two[] = {2, 0, 0, 0};
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegSetValueExA(HKEY_LOCAL_MACHINE, "x", 0, REG_DWORD, two, 4));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Policy"));

  // A handle opened for writing before keeps its rights; the user's own hive is untouched.
  EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(earlier, "v", 0, REG_DWORD, two, 4));
  RegCloseKey(earlier);
  HKEY user = nullptr;
  EXPECT_EQ(ERROR_SUCCESS, CreateKey(HKEY_CURRENT_USER, "Software\\Mine", KEY_ALL_ACCESS, &user));
  RegCloseKey(user);

  host::SetLimitedUser(false);
  HKEY key = nullptr;
  EXPECT_EQ(ERROR_SUCCESS, CreateKey(HKEY_LOCAL_MACHINE, "Software\\New", KEY_ALL_ACCESS, &key));
  RegCloseKey(key);
}

TEST_F(Control, DirectAccessBypassesHandlesRightsAndTheCallRecord) {
  host::SetLimitedUser(true);
  host::FailCall(host::gated::RegSetValueExA, 1, kInjected, true);
  host::WriteString(HKEY_LOCAL_MACHINE, "A\\B", "s", "text");
  host::WriteDword(HKEY_LOCAL_MACHINE, "A\\B", "d", 0x01020304);
  host::RegValue value;
  ASSERT_TRUE(host::ReadValue(HKEY_LOCAL_MACHINE, "a\\b", "S", &value));
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), value.type);
  EXPECT_EQ((Bytes{'t', 'e', 'x', 't', 0}), value.data);
  ASSERT_TRUE(host::ReadValue(HKEY_LOCAL_MACHINE, "A\\B", "d", &value));
  EXPECT_EQ(static_cast<DWORD>(REG_DWORD), value.type);
  EXPECT_EQ((Bytes{4, 3, 2, 1}), value.data);
  EXPECT_FALSE(host::ReadValue(HKEY_LOCAL_MACHINE, "A\\B", "absent", &value));
  EXPECT_FALSE(host::ReadValue(HKEY_CURRENT_USER, "A\\B", "s", &value));
  EXPECT_TRUE(host::Calls().empty());

  SYSTEM_POWER_CAPABILITIES caps = host::DefaultCapabilities();
  caps.SystemS4 = FALSE;
  host::SetCapabilities(caps);
  ASSERT_TRUE(host::ReadValue(HKEY_LOCAL_MACHINE, scheme_store::kMachinePowerCfg,
                              scheme_store::kCapabilitiesKnob, &value));
  EXPECT_EQ(static_cast<DWORD>(REG_BINARY), value.type);
  ASSERT_EQ(sizeof caps, value.data.size());
  EXPECT_EQ(0, std::memcmp(&caps, value.data.data(), sizeof caps));

  // Deleting a tree leaves its open handles stale.
  host::SetLimitedUser(false);
  HKEY inner = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "A\\B", 0, KEY_READ, &inner));
  EXPECT_EQ(1u, host::OpenKeyCount());
  host::DeleteKeyTree(HKEY_LOCAL_MACHINE, "A");
  EXPECT_FALSE(host::KeyExists(HKEY_LOCAL_MACHINE, "A"));
  DWORD size = 0;
  EXPECT_EQ(ERROR_KEY_DELETED, RegQueryValueExA(inner, "s", nullptr, nullptr, nullptr, &size));
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(inner));
  EXPECT_EQ(0u, host::OpenKeyCount());
  // A predefined root handed back for an empty path is no handle of its own.
  HKEY root = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "", 0, KEY_READ, &root));
  EXPECT_EQ(HKEY_CURRENT_USER, root);
  EXPECT_EQ(0u, host::OpenKeyCount());
}

}  // namespace
