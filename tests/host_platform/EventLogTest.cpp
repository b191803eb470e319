// The stand-in's event log and user name: what a report records for tests, and the calls the
// documented contract refuses.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "HostControl.h"
#include "Win32Api.h"

namespace {

using Strings = std::vector<std::string>;

class EventLog : public ::testing::Test {
 protected:
  void SetUp() override {
    host::Reset();
    host::SetDebugEcho(false);
  }
  void TearDown() override { host::Reset(); }
};

TEST_F(EventLog, EachReportIsKeptWithItsSourceTypeCategoryIdentifierAndStrings) {
  HANDLE ours = RegisterEventSourceA(nullptr, "PMevents");
  HANDLE other = RegisterEventSourceA("", "Other");  // an empty name is the local computer too
  ASSERT_NE(nullptr, ours);
  ASSERT_NE(nullptr, other);
  EXPECT_NE(ours, other);
  LPCSTR two[] = {"first", ""};
  ASSERT_TRUE(
      ReportEventA(ours, EVENTLOG_WARNING_TYPE, 0, 0x80000BB8, nullptr, 2, 0, two, nullptr));
  ASSERT_TRUE(ReportEventA(other, EVENTLOG_ERROR_TYPE, 7, 5, nullptr, 0, 0, nullptr, nullptr));

  const std::vector<host::ReportedEvent> events = host::ReportedEvents();
  ASSERT_EQ(2u, events.size());
  EXPECT_EQ("PMevents", events[0].source);
  EXPECT_EQ(EVENTLOG_WARNING_TYPE, events[0].type);
  EXPECT_EQ(0, events[0].category);
  EXPECT_EQ(0x80000BB8u, events[0].id);
  EXPECT_EQ((Strings{"first", ""}), events[0].strings);
  EXPECT_EQ("Other", events[1].source);
  EXPECT_EQ(EVENTLOG_ERROR_TYPE, events[1].type);
  EXPECT_EQ(7, events[1].category);
  EXPECT_EQ(Strings{}, events[1].strings);

  // Registered sources are handles until they are deregistered.
  EXPECT_EQ(2u, host::OpenHandleCount());
  EXPECT_TRUE(DeregisterEventSource(ours));
  EXPECT_TRUE(DeregisterEventSource(other));
  EXPECT_EQ(0u, host::OpenHandleCount());

  host::ClearReportedEvents();
  EXPECT_TRUE(host::ReportedEvents().empty());
}

TEST_F(EventLog, ReportsAreKeptOnlyWhileCallsAreRecordedAndResetForgetsThem) {
  HANDLE source = RegisterEventSourceA(nullptr, "PMevents");
  host::RecordCalls(false);
  EXPECT_TRUE(
      ReportEventA(source, EVENTLOG_INFORMATION_TYPE, 0, 1, nullptr, 0, 0, nullptr, nullptr));
  EXPECT_TRUE(host::ReportedEvents().empty());
  host::RecordCalls(true);
  EXPECT_TRUE(
      ReportEventA(source, EVENTLOG_INFORMATION_TYPE, 0, 1, nullptr, 0, 0, nullptr, nullptr));
  EXPECT_EQ(1u, host::ReportedEvents().size());

  host::Reset();
  EXPECT_TRUE(host::ReportedEvents().empty());
  EXPECT_EQ(0u, host::OpenHandleCount());
  // A handle from before the reset names nothing now.
  EXPECT_FALSE(DeregisterEventSource(source));
}

TEST_F(EventLog, CallsOutsideTheContractAreRefusedAndRecordNothing) {
  HANDLE source = RegisterEventSourceA(nullptr, "PMevents");
  HANDLE gone = RegisterEventSourceA(nullptr, "PMevents");
  ASSERT_TRUE(DeregisterEventSource(gone));
  const std::string longest(31839, 'x');
  const std::string tooLong(31840, 'x');
  LPCSTR fits[] = {longest.c_str()};
  LPCSTR overlong[] = {tooLong.c_str()};
  LPCSTR withNull[] = {"a", nullptr};
  const BYTE data[] = {1};

  struct Case {
    const char* name;
    std::function<BOOL()> call;
    DWORD error;  // 0: accepted
  };
  const Case cases[] = {
      {"the longest string",
       [&] {
         return ReportEventA(source, EVENTLOG_INFORMATION_TYPE, 0, 1, nullptr, 1, 0, fits, nullptr);
       },
       0},
      {"a string too long",
       [&] {
         return ReportEventA(source, EVENTLOG_INFORMATION_TYPE, 0, 1, nullptr, 1, 0, overlong,
                             nullptr);
       },
       ERROR_INVALID_PARAMETER},
      {"a null string",
       [&] {
         return ReportEventA(source, EVENTLOG_INFORMATION_TYPE, 0, 1, nullptr, 2, 0, withNull,
                             nullptr);
       },
       ERROR_INVALID_PARAMETER},
      {"strings counted but not given",
       [&] {
         return ReportEventA(source, EVENTLOG_INFORMATION_TYPE, 0, 1, nullptr, 1, 0, nullptr,
                             nullptr);
       },
       ERROR_INVALID_PARAMETER},
      {"data counted but not given",
       [&] {
         return ReportEventA(source, EVENTLOG_INFORMATION_TYPE, 0, 1, nullptr, 0, 1, nullptr,
                             nullptr);
       },
       ERROR_INVALID_PARAMETER},
      {"data given",
       [&] {
         return ReportEventA(source, EVENTLOG_INFORMATION_TYPE, 0, 1, nullptr, 0, 1, nullptr,
                             const_cast<BYTE*>(data));
       },
       0},
      {"no such type",
       [&] { return ReportEventA(source, 3, 0, 1, nullptr, 0, 0, nullptr, nullptr); },
       ERROR_INVALID_PARAMETER},
      {"a null handle",
       [&] {
         return ReportEventA(nullptr, EVENTLOG_INFORMATION_TYPE, 0, 1, nullptr, 0, 0, nullptr,
                             nullptr);
       },
       ERROR_INVALID_HANDLE},
      {"a deregistered handle",
       [&] {
         return ReportEventA(gone, EVENTLOG_INFORMATION_TYPE, 0, 1, nullptr, 0, 0, nullptr,
                             nullptr);
       },
       ERROR_INVALID_HANDLE},
      {"deregistering it again", [&] { return DeregisterEventSource(gone); }, ERROR_INVALID_HANDLE},
      {"deregistering null", [&] { return DeregisterEventSource(nullptr); }, ERROR_INVALID_HANDLE},
      {"the Security log",
       [&] { return static_cast<BOOL>(RegisterEventSourceA(nullptr, "security") != nullptr); },
       ERROR_ACCESS_DENIED},
      {"another computer",
       [&] { return static_cast<BOOL>(RegisterEventSourceA("\\\\server", "PMevents") != nullptr); },
       RPC_S_SERVER_UNAVAILABLE},
      {"no source",
       [&] { return static_cast<BOOL>(RegisterEventSourceA(nullptr, nullptr) != nullptr); },
       ERROR_INVALID_PARAMETER},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    host::ClearReportedEvents();
    const size_t handles = host::OpenHandleCount();
    SetLastError(0x5E5E);
    const BOOL answer = c.call();
    if (c.error == 0) {
      EXPECT_TRUE(answer);
      EXPECT_EQ(1u, host::ReportedEvents().size());
    } else {
      EXPECT_FALSE(answer);
      EXPECT_EQ(c.error, GetLastError());
      EXPECT_TRUE(host::ReportedEvents().empty());
      EXPECT_EQ(handles, host::OpenHandleCount());
    }
  }
  EXPECT_TRUE(DeregisterEventSource(source));
}

TEST_F(EventLog, TheUserNameIsTheTestsChoiceAndCountsItsTerminatingZero) {
  char name[32];
  DWORD size = sizeof name;
  ASSERT_TRUE(GetUserNameA(name, &size));
  EXPECT_STREQ("Administrator", name);
  EXPECT_EQ(14u, size);

  host::SetUserName("alice");
  size = sizeof name;
  ASSERT_TRUE(GetUserNameA(name, &size));
  EXPECT_STREQ("alice", name);
  EXPECT_EQ(6u, size);

  // Too small: nothing copied, the size needed.
  char small[5] = "keep";
  size = sizeof small;
  SetLastError(0);
  EXPECT_FALSE(GetUserNameA(small, &size));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
  EXPECT_EQ(6u, size);
  EXPECT_STREQ("keep", small);

  host::Reset();
  size = sizeof name;
  ASSERT_TRUE(GetUserNameA(name, &size));
  EXPECT_STREQ("Administrator", name);
}

}  // namespace
