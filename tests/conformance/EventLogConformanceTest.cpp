// Reporting an event under a source, and the name of the user, as the event reports of the
// update pass and the service use them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ConformanceSupport.h"
#include "Win32Api.h"

namespace {

TEST(EventLogConformance, ASourceIsRegisteredReportedUnderAndDeregistered) {
  HANDLE source = RegisterEventSourceA(nullptr, "PMevents");
  ASSERT_NE(nullptr, source);
  LPCSTR strings[] = {"conformance", "second string"};
  EXPECT_TRUE(ReportEventA(source, EVENTLOG_INFORMATION_TYPE, 0, 0x400003E8, nullptr, 2, 0, strings,
                           nullptr));
  EXPECT_TRUE(
      ReportEventA(source, EVENTLOG_WARNING_TYPE, 0, 0x80000BB8, nullptr, 0, 0, nullptr, nullptr));
  EXPECT_TRUE(
      ReportEventA(source, EVENTLOG_ERROR_TYPE, 0, 0xC00007D1, nullptr, 1, 0, strings, nullptr));
  EXPECT_TRUE(DeregisterEventSource(source));
}

// Windows' contract takes only handles RegisterEventSource gave. Wine 8's functions are stubs
// that take any handle, the null one included, and answer TRUE.
TEST(EventLogConformance, ANullHandleIsRefused) {
  const BOOL reported =
      ReportEventA(nullptr, EVENTLOG_INFORMATION_TYPE, 0, 1, nullptr, 0, 0, nullptr, nullptr);
  const BOOL deregistered = DeregisterEventSource(nullptr);
  if (conformance::IsWine()) {
    EXPECT_TRUE(reported);
    EXPECT_TRUE(deregistered);
  } else {
    EXPECT_FALSE(reported);
    EXPECT_FALSE(deregistered);
  }
}

// The size counts the terminating zero, both when the name fits and when it does not.
TEST(UserNameConformance, TheSizeCountsTheTerminatingZeroAndATooSmallBufferGetsNothing) {
  char name[257];
  std::memset(name, '#', sizeof name);
  DWORD size = sizeof name;
  ASSERT_TRUE(GetUserNameA(name, &size)) << GetLastError();
  const size_t length = strnlen(name, sizeof name);
  ASSERT_LT(length, sizeof name);
  EXPECT_GT(length, 0u);
  EXPECT_EQ(length + 1, size);

  char small[2] = {'#', '#'};
  DWORD smallSize = sizeof small;
  if (length + 1 > sizeof small) {
    SetLastError(0);
    EXPECT_FALSE(GetUserNameA(small, &smallSize));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
    EXPECT_EQ(size, smallSize);
  }
}

}  // namespace
