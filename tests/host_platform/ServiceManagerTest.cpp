// The service control manager of the stand-in: what a service's record holds, how start,
// stop and deletion change it, and which handles and rights each call needs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "HostControl.h"
#include "HostFixture.h"
#include "HostServiceControl.h"
#include "Win32Api.h"

namespace {

constexpr const char* kName = "Ulmora_Test_Service";
constexpr const char* kKey = "System\\CurrentControlSet\\Services\\Ulmora_Test_Service";
constexpr const char* kImage = "C:\\WINDOWS\\system32\\Test.exe";
constexpr DWORD kSentinelWord = 0xDEADBEEF;

class ServiceManager : public HostFixture {
 protected:
  void TearDown() override {
    for (SC_HANDLE handle : handles_) CloseServiceHandle(handle);
  }

  SC_HANDLE Manager(DWORD access = SC_MANAGER_ALL_ACCESS) {
    return Keep(OpenSCManagerA(nullptr, SERVICES_ACTIVE_DATABASEA, access));
  }

  SC_HANDLE Create(SC_HANDLE manager, DWORD startType = SERVICE_AUTO_START) {
    return Keep(CreateServiceA(manager, kName, "Test (TM) Service", SERVICE_ALL_ACCESS,
                               SERVICE_WIN32_OWN_PROCESS, startType, SERVICE_ERROR_IGNORE, kImage,
                               nullptr, nullptr, nullptr, nullptr, nullptr));
  }

  SC_HANDLE Open(SC_HANDLE manager, DWORD access = SERVICE_ALL_ACCESS) {
    return Keep(OpenServiceA(manager, kName, access));
  }

  SC_HANDLE Keep(SC_HANDLE handle) {
    if (handle != nullptr) handles_.push_back(handle);
    return handle;
  }

  // Closes a handle the test keeps, so that TearDown does not close it again.
  BOOL Close(SC_HANDLE handle) {
    handles_.erase(std::remove(handles_.begin(), handles_.end(), handle), handles_.end());
    return CloseServiceHandle(handle);
  }

  static SERVICE_STATUS Status(SC_HANDLE service) {
    SERVICE_STATUS status;
    std::memset(&status, 0xA5, sizeof status);
    EXPECT_TRUE(QueryServiceStatus(service, &status));
    return status;
  }

  std::vector<SC_HANDLE> handles_;
};

TEST_F(ServiceManager, CreateServiceWritesTheServiceKeyAndTheServiceStartsStopped) {
  SC_HANDLE service = Create(Manager());
  ASSERT_NE(nullptr, service);
  EXPECT_EQ(
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Ulmora_Test_Service]\r\n"
      "\"Type\"=dword:00000010\r\n"
      "\"Start\"=dword:00000002\r\n"
      "\"ErrorControl\"=dword:00000000\r\n"
      // A REG_EXPAND_SZ, which .reg text writes in UTF-16.
      "\"ImagePath\"=hex(2):43,00,3a,00,5c,00,57,00,49,00,4e,00,44,00,4f,00,57,00,53,00,\\\r\n"
      "  5c,00,73,00,79,00,73,00,74,00,65,00,6d,00,33,00,32,00,5c,00,54,00,65,00,73,\\\r\n"
      "  00,74,00,2e,00,65,00,78,00,65,00,00,00\r\n"
      "\"DisplayName\"=\"Test (TM) Service\"\r\n"
      "\"ObjectName\"=\"LocalSystem\"\r\n\r\n",
      host::ExportRegText(HKEY_LOCAL_MACHINE, kKey));
  EXPECT_EQ(std::string(kImage) + '\0', ValueBytes(HKEY_LOCAL_MACHINE, kKey, "ImagePath"));

  // Stopped, and never started, which Windows reports as the exit code.
  const SERVICE_STATUS expected = {
      SERVICE_WIN32_OWN_PROCESS, SERVICE_STOPPED, 0, ERROR_SERVICE_NEVER_STARTED, 0, 0, 0};
  SERVICE_STATUS status = Status(service);
  EXPECT_EQ(0, std::memcmp(&expected, &status, sizeof status));
  EXPECT_TRUE(host::ServiceExists("ULMORA_TEST_SERVICE"));
  EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), host::ServiceState(kName));
}

TEST_F(ServiceManager, CreatingAServiceThatExistsFailsAndChangesNothing) {
  SC_HANDLE manager = Manager();
  ASSERT_NE(nullptr, Create(manager, SERVICE_DEMAND_START));
  const std::string before = host::ExportRegText();
  SetLastError(0);
  EXPECT_EQ(nullptr, Create(manager, SERVICE_AUTO_START));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_EXISTS), GetLastError());
  EXPECT_EQ(before, host::ExportRegText());

  // A service is its key: one seeded in the registry exists as well.
  ImportReg(
      "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Seeded]\n"
      "\"Type\"=dword:00000020\n");
  EXPECT_EQ(nullptr,
            CreateServiceA(manager, "seeded", nullptr, SERVICE_ALL_ACCESS,
                           SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_IGNORE,
                           kImage, nullptr, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_EXISTS), GetLastError());
  SC_HANDLE seeded = Keep(OpenServiceA(manager, "Seeded", SERVICE_QUERY_STATUS));
  ASSERT_NE(nullptr, seeded);
  EXPECT_EQ(static_cast<DWORD>(0x20), Status(seeded).dwServiceType);
}

TEST_F(ServiceManager, StartAndStopMoveTheRecordedState) {
  SC_HANDLE service = Create(Manager());
  ASSERT_NE(nullptr, service);
  SERVICE_STATUS status;

  std::memset(&status, 0xA5, sizeof status);
  EXPECT_FALSE(ControlService(service, SERVICE_CONTROL_STOP, &status));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_NOT_ACTIVE), GetLastError());
  EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), status.dwCurrentState);  // filled all the same

  ASSERT_TRUE(StartServiceA(service, 0, nullptr));
  EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), host::ServiceState(kName));
  const SERVICE_STATUS running = {SERVICE_WIN32_OWN_PROCESS,
                                  SERVICE_RUNNING,
                                  SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN,
                                  0,
                                  0,
                                  0,
                                  0};
  status = Status(service);
  EXPECT_EQ(0, std::memcmp(&running, &status, sizeof status));
  EXPECT_FALSE(StartServiceA(service, 0, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_ALREADY_RUNNING), GetLastError());

  // The stand-in's running service takes interrogation and stop requests only.
  struct Case {
    DWORD control;
    DWORD error;
  };
  const Case refused[] = {
      {SERVICE_CONTROL_PAUSE, ERROR_SERVICE_CANNOT_ACCEPT_CTRL},
      {SERVICE_CONTROL_CONTINUE, ERROR_SERVICE_CANNOT_ACCEPT_CTRL},
      {SERVICE_CONTROL_SHUTDOWN, ERROR_INVALID_SERVICE_CONTROL},
  };
  for (const Case& c : refused) {
    SCOPED_TRACE(c.control);
    EXPECT_FALSE(ControlService(service, c.control, &status));
    EXPECT_EQ(c.error, GetLastError());
  }
  std::memset(&status, 0xA5, sizeof status);
  EXPECT_TRUE(ControlService(service, SERVICE_CONTROL_INTERROGATE, &status));
  EXPECT_EQ(0, std::memcmp(&running, &status, sizeof status));

  std::memset(&status, 0xA5, sizeof status);
  ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status));
  const SERVICE_STATUS stopped = {SERVICE_WIN32_OWN_PROCESS, SERVICE_STOPPED, 0, 0, 0, 0, 0};
  EXPECT_EQ(0, std::memcmp(&stopped, &status, sizeof status));
  EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), host::ServiceState(kName));

  // The control surface sets the state as a running program would have reported it.
  host::SetServiceState(kName, SERVICE_STOP_PENDING);
  EXPECT_EQ(static_cast<DWORD>(SERVICE_STOP_PENDING), Status(service).dwCurrentState);
  EXPECT_FALSE(StartServiceA(service, 0, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_ALREADY_RUNNING), GetLastError());
  EXPECT_EQ(0u, host::ServiceState("NoSuchService"));
}

TEST_F(ServiceManager, ADisabledServiceDoesNotStart) {
  SC_HANDLE service = Create(Manager(), SERVICE_DISABLED);
  ASSERT_NE(nullptr, service);
  EXPECT_FALSE(StartServiceA(service, 0, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_DISABLED), GetLastError());
  EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), host::ServiceState(kName));
}

TEST_F(ServiceManager, ADeletedServiceGoesWithItsLastHandleOnceStopped) {
  SC_HANDLE manager = Manager();
  SC_HANDLE created = Create(manager);
  SC_HANDLE opened = Open(manager);
  ASSERT_NE(nullptr, opened);
  ASSERT_TRUE(StartServiceA(opened, 0, nullptr));

  ASSERT_TRUE(DeleteService(created));
  EXPECT_FALSE(DeleteService(opened));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE), GetLastError());
  EXPECT_EQ(nullptr, Create(manager));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE), GetLastError());

  // Still running: the key stays when the handles are closed ...
  ASSERT_TRUE(Close(created));
  ASSERT_TRUE(host::ServiceExists(kName));
  SC_HANDLE third = Open(manager, SERVICE_QUERY_STATUS);
  ASSERT_NE(nullptr, third);  // a marked service can still be opened
  ASSERT_TRUE(Close(opened));
  ASSERT_TRUE(Close(third));
  EXPECT_TRUE(host::ServiceExists(kName));
  // ... and goes when the service stops.
  host::SetServiceState(kName, SERVICE_STOPPED);
  EXPECT_FALSE(host::ServiceExists(kName));
  EXPECT_FALSE(host::KeyExists(HKEY_LOCAL_MACHINE, kKey));
  EXPECT_EQ(nullptr, Open(manager));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST), GetLastError());

  // A stopped one goes with its last handle; the name is free again.
  SC_HANDLE again = Create(manager);
  ASSERT_NE(nullptr, again);
  ASSERT_TRUE(DeleteService(again));
  EXPECT_TRUE(host::ServiceExists(kName));
  ASSERT_TRUE(Close(again));
  EXPECT_FALSE(host::ServiceExists(kName));
}

TEST_F(ServiceManager, EveryCallWantsAHandleOfItsKindWithTheRightsItNeeds) {
  SC_HANDLE manager = Manager();
  ASSERT_NE(nullptr, Create(manager));
  SC_HANDLE queryOnly = Open(manager, SERVICE_QUERY_STATUS);
  SC_HANDLE connectOnly = Manager(SC_MANAGER_CONNECT);
  SC_HANDLE closed = OpenServiceA(manager, kName, SERVICE_ALL_ACCESS);
  ASSERT_TRUE(CloseServiceHandle(closed));
  SC_HANDLE managerAsService = manager;
  ASSERT_NE(nullptr, queryOnly);
  ASSERT_NE(nullptr, connectOnly);

  struct Case {
    const char* what;
    std::function<BOOL()> call;
    DWORD error;
  };
  SERVICE_STATUS status;
  auto create = [](SC_HANDLE on) {
    return CreateServiceA(on, "Other", nullptr, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                          SERVICE_AUTO_START, SERVICE_ERROR_IGNORE, kImage, nullptr, nullptr,
                          nullptr, nullptr, nullptr) != nullptr;
  };
  const Case cases[] = {
      {"create on null", [&] { return create(nullptr); }, ERROR_INVALID_HANDLE},
      {"create without the right", [&] { return create(connectOnly); }, ERROR_ACCESS_DENIED},
      {"open on null", [&] { return OpenServiceA(nullptr, kName, SERVICE_ALL_ACCESS) != nullptr; },
       ERROR_INVALID_HANDLE},
      {"open missing",
       [&] { return OpenServiceA(manager, "Missing", SERVICE_ALL_ACCESS) != nullptr; },
       ERROR_SERVICE_DOES_NOT_EXIST},
      {"query null", [&] { return QueryServiceStatus(nullptr, &status); }, ERROR_INVALID_HANDLE},
      {"query closed", [&] { return QueryServiceStatus(closed, &status); }, ERROR_INVALID_HANDLE},
      {"query manager", [&] { return QueryServiceStatus(managerAsService, &status); },
       ERROR_INVALID_HANDLE},
      {"start null", [&] { return StartServiceA(nullptr, 0, nullptr); }, ERROR_INVALID_HANDLE},
      {"start without the right", [&] { return StartServiceA(queryOnly, 0, nullptr); },
       ERROR_ACCESS_DENIED},
      {"control null", [&] { return ControlService(nullptr, SERVICE_CONTROL_STOP, &status); },
       ERROR_INVALID_HANDLE},
      {"stop without the right",
       [&] { return ControlService(queryOnly, SERVICE_CONTROL_STOP, &status); },
       ERROR_ACCESS_DENIED},
      {"delete null", [&] { return DeleteService(nullptr); }, ERROR_INVALID_HANDLE},
      {"delete without the right", [&] { return DeleteService(queryOnly); }, ERROR_ACCESS_DENIED},
      {"close null", [&] { return CloseServiceHandle(nullptr); }, ERROR_INVALID_HANDLE},
      {"close closed", [&] { return CloseServiceHandle(closed); }, ERROR_INVALID_HANDLE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetLastError(kSentinelWord);
    EXPECT_FALSE(c.call());
    EXPECT_EQ(c.error, GetLastError());
  }
  EXPECT_FALSE(host::ServiceExists("Other"));
  EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), host::ServiceState(kName));
  EXPECT_TRUE(host::ServiceExists(kName));
}

TEST_F(ServiceManager, ALimitedUserMayLookButNotCreateOrControl) {
  ASSERT_NE(nullptr, Create(Manager()));
  host::SetLimitedUser(true);
  for (DWORD access :
       {static_cast<DWORD>(SC_MANAGER_CREATE_SERVICE), static_cast<DWORD>(SC_MANAGER_ALL_ACCESS),
        static_cast<DWORD>(GENERIC_ALL)}) {
    SCOPED_TRACE(access);
    SetLastError(0);
    EXPECT_EQ(nullptr, Manager(access));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
  }
  SC_HANDLE manager = Manager(SC_MANAGER_CONNECT);
  ASSERT_NE(nullptr, manager);
  EXPECT_EQ(nullptr, Open(manager, SERVICE_ALL_ACCESS));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
  SC_HANDLE service = Open(manager, SERVICE_QUERY_STATUS | SERVICE_INTERROGATE);
  ASSERT_NE(nullptr, service);
  EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), Status(service).dwCurrentState);
}

}  // namespace
