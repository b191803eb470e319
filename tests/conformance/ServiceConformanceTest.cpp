// Events, waits, the system directory and the service control manager, as the service
// program uses them. The scratch service is created, looked at and deleted again; it is
// never started (no service process runs here). Real waits stay well below a second.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "ConformanceSupport.h"
#include "Win32Api.h"

namespace {

constexpr DWORD kSentinelWord = 0xDEADBEEF;
constexpr char kSentinel = '#';

using Clock = std::chrono::steady_clock;

long long MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// ---- Events and waits -------------------------------------------------------------------------

class Events : public ::testing::Test {
 protected:
  void TearDown() override {
    if (event_ != nullptr) CloseHandle(event_);
  }
  HANDLE event_ = nullptr;
};

TEST_F(Events, AnAutomaticResetEventKeepsOneSignalForOneWait) {
  event_ = CreateEventA(nullptr, FALSE, TRUE, nullptr);
  ASSERT_NE(nullptr, event_);
  EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(event_, 0));
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(event_, 0));

  ASSERT_TRUE(SetEvent(event_));
  ASSERT_TRUE(SetEvent(event_));
  EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(event_, 20));
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(event_, 50));
  EXPECT_GE(MillisecondsSince(start), 40);  // the time-out was waited out
}

TEST_F(Events, AManualResetEventStaysSignalledUntilReset) {
  event_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(nullptr, event_);
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(event_, 0));
  ASSERT_TRUE(SetEvent(event_));
  EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(event_, 0));
  EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(event_, 20));
  ASSERT_TRUE(ResetEvent(event_));
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(event_, 0));
}

TEST_F(Events, ASignalFromAnotherThreadEndsAWaitAndIsUsedUp) {
  event_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  ASSERT_NE(nullptr, event_);
  DWORD result = kSentinelWord;
  HANDLE event = event_;
  std::thread waiter([&result, event] { result = WaitForSingleObject(event, 900); });
  Sleep(30);
  ASSERT_TRUE(SetEvent(event_));
  waiter.join();
  EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), result);
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(event_, 0));
}

TEST(Waiting, SleepWaitsAtLeastItsTime) {
  const Clock::time_point start = Clock::now();
  Sleep(50);
  EXPECT_GE(MillisecondsSince(start), 40);
  Sleep(0);
}

// (A closed handle is no test here: Windows hands its value out again at once.)
TEST(Waiting, WaitingOnANullHandleFails) {
  SetLastError(kSentinelWord);
  EXPECT_EQ(WAIT_FAILED, WaitForSingleObject(nullptr, 0));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
  SetLastError(kSentinelWord);
  EXPECT_FALSE(SetEvent(nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
}

// ---- System directory -------------------------------------------------------------------------

TEST(SystemDirectory, TheAnswerIsTheLengthWhenItFitsAndTheSizeNeededWhenNot) {
  char buffer[MAX_PATH + 8];
  std::memset(buffer, kSentinel, sizeof buffer);
  const UINT length = GetSystemDirectoryA(buffer, sizeof buffer);
  ASSERT_GT(length, 3u);
  ASSERT_LT(length, static_cast<UINT>(MAX_PATH));
  const std::string directory(buffer, length);
  EXPECT_EQ('\0', buffer[length]);
  EXPECT_EQ(kSentinel, buffer[length + 1]);
  EXPECT_EQ(":\\", directory.substr(1, 2)) << directory;
  EXPECT_NE('\\', directory.back()) << directory;

  struct Case {
    UINT size;
    UINT answer;
  };
  const Case cases[] = {
      {length + 1, length},  // just room for the terminator
      {length, length + 1},  // one short: the size needed, terminator included
      {1, length + 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    std::memset(buffer, kSentinel, sizeof buffer);
    EXPECT_EQ(c.answer, GetSystemDirectoryA(buffer, c.size));
    if (c.answer == length) {
      EXPECT_EQ(directory, std::string(buffer));
    } else {
      EXPECT_EQ(kSentinel, buffer[0]) << "nothing is copied into too small a buffer";
    }
  }
  EXPECT_EQ(length + 1, GetSystemDirectoryA(nullptr, 0));
}

// ---- Service control manager -------------------------------------------------------------------

class Services : public ::testing::Test {
 protected:
  static constexpr const char* kName = "DorvaneConformanceSvc";
  static constexpr const char* kKey = "System\\CurrentControlSet\\Services\\DorvaneConformanceSvc";
  static constexpr const char* kDisplay = "Dorvane(TM) Conformance Scratch Service";
  static constexpr const char* kImage = "\"C:\\windows\\system32\\dorvane-conformance.exe\"";

  void SetUp() override {
    // The access the install command asks for.
    manager_ = OpenSCManagerA(nullptr, SERVICES_ACTIVE_DATABASEA, SC_MANAGER_CREATE_SERVICE);
    ASSERT_NE(nullptr, manager_) << GetLastError();
    DeleteScratch();
  }
  void TearDown() override {
    if (service_ != nullptr) CloseServiceHandle(service_);
    if (manager_ != nullptr) {
      DeleteScratch();
      CloseServiceHandle(manager_);
    }
  }

  void DeleteScratch() {
    SC_HANDLE service = OpenServiceA(manager_, kName, SERVICE_ALL_ACCESS);
    if (service == nullptr) return;
    DeleteService(service);
    CloseServiceHandle(service);
  }

  SC_HANDLE Create(const char* image) {
    return CreateServiceA(manager_, kName, kDisplay, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                          SERVICE_AUTO_START, SERVICE_ERROR_IGNORE, image, nullptr, nullptr,
                          nullptr, nullptr, nullptr);
  }

  static bool KeyExists() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
      return false;
    }
    RegCloseKey(key);
    return true;
  }

  // The value's type and bytes; type REG_NONE when it cannot be read.
  static std::string Value(const char* name, DWORD* type) {
    *type = REG_NONE;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return "";
    BYTE data[512];
    DWORD size = sizeof data;
    LONG rc = RegQueryValueExA(key, name, nullptr, type, data, &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) {
      *type = REG_NONE;
      return "";
    }
    return std::string(reinterpret_cast<const char*>(data), size);
  }

  static std::string Dword(DWORD value) { return std::string(reinterpret_cast<char*>(&value), 4); }
  static std::string Text(const char* text) { return std::string(text, std::strlen(text) + 1); }

  SC_HANDLE manager_ = nullptr;
  SC_HANDLE service_ = nullptr;
};

TEST_F(Services, CreateServiceRecordsTheServiceInTheRegistry) {
  service_ = Create(kImage);
  ASSERT_NE(nullptr, service_) << GetLastError();

  struct Expected {
    const char* name;
    DWORD type;
    std::string data;
  };
  const Expected values[] = {
      {"Type", REG_DWORD, Dword(SERVICE_WIN32_OWN_PROCESS)},
      {"Start", REG_DWORD, Dword(SERVICE_AUTO_START)},
      {"ErrorControl", REG_DWORD, Dword(SERVICE_ERROR_IGNORE)},
      {"ImagePath", REG_EXPAND_SZ, Text(kImage)},
      {"DisplayName", REG_SZ, Text(kDisplay)},
      {"ObjectName", REG_SZ, Text("LocalSystem")},
  };
  for (const Expected& expected : values) {
    SCOPED_TRACE(expected.name);
    DWORD type = kSentinelWord;
    EXPECT_EQ(expected.data, Value(expected.name, &type));
    if (expected.type == REG_EXPAND_SZ && conformance::IsWine()) {
      // Wine 8 writes the program path as REG_SZ; Windows (and the stand-in) as REG_EXPAND_SZ.
      EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    } else {
      EXPECT_EQ(expected.type, type);
    }
  }

  // A second create fails and leaves the first one's record as it was.
  SetLastError(0);
  SC_HANDLE again = Create("C:\\other.exe");
  EXPECT_EQ(nullptr, again);
  EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_EXISTS), GetLastError());
  if (again != nullptr) CloseServiceHandle(again);
  DWORD type = REG_NONE;
  EXPECT_EQ(Text(kImage), Value("ImagePath", &type));
}

TEST_F(Services, ANewServiceIsStoppedAndCannotBeStopped) {
  service_ = Create(kImage);
  ASSERT_NE(nullptr, service_) << GetLastError();
  SERVICE_STATUS status;
  std::memset(&status, 0xA5, sizeof status);
  ASSERT_TRUE(QueryServiceStatus(service_, &status));
  EXPECT_EQ(static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS), status.dwServiceType);
  EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), status.dwCurrentState);
  EXPECT_EQ(0u, status.dwControlsAccepted);
  EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_NEVER_STARTED), status.dwWin32ExitCode);
  EXPECT_EQ(0u, status.dwCheckPoint);
  EXPECT_EQ(0u, status.dwWaitHint);

  // The stop request fails, and the status comes back all the same.
  std::memset(&status, 0xA5, sizeof status);
  SetLastError(0);
  EXPECT_FALSE(ControlService(service_, SERVICE_CONTROL_STOP, &status));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_NOT_ACTIVE), GetLastError());
  EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), status.dwCurrentState);

  // Service names ignore case.
  SC_HANDLE other = OpenServiceA(manager_, "dorvaneconformancesvc", SERVICE_QUERY_STATUS);
  EXPECT_NE(nullptr, other);
  if (other != nullptr) CloseServiceHandle(other);
}

TEST_F(Services, ADeletedServiceGoesOnceItsHandlesAreClosed) {
  service_ = Create(kImage);
  ASSERT_NE(nullptr, service_) << GetLastError();
  ASSERT_TRUE(DeleteService(service_));
  SetLastError(0);
  EXPECT_FALSE(DeleteService(service_));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE), GetLastError());
  EXPECT_TRUE(KeyExists()) << "marked for deletion while a handle is open";

  ASSERT_TRUE(CloseServiceHandle(service_));
  service_ = nullptr;
  EXPECT_FALSE(KeyExists());
  SetLastError(0);
  EXPECT_EQ(nullptr, OpenServiceA(manager_, kName, SERVICE_QUERY_STATUS));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST), GetLastError());
}

TEST_F(Services, NullHandlesAreRefused) {
  SERVICE_STATUS status;
  SetLastError(0);
  EXPECT_FALSE(QueryServiceStatus(nullptr, &status));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
  SetLastError(0);
  EXPECT_FALSE(ControlService(nullptr, SERVICE_CONTROL_STOP, &status));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
  SetLastError(0);
  EXPECT_FALSE(StartServiceA(nullptr, 0, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
  SetLastError(0);
  EXPECT_FALSE(DeleteService(nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
  SetLastError(0);
  EXPECT_EQ(nullptr, OpenServiceA(nullptr, kName, SERVICE_ALL_ACCESS));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
  SetLastError(0);
  EXPECT_FALSE(CloseServiceHandle(nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
}

}  // namespace
