// The virtual clock under Sleep and WaitForSingleObject, and the two kinds of event.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "BackgroundThread.h"
#include "HostControl.h"
#include "HostFixture.h"
#include "HostServiceControl.h"
#include "Win32Api.h"

namespace {

constexpr uint64_t kNotYet = ~uint64_t{0};

class Waits : public HostFixture {
 protected:
  void TearDown() override {
    for (HANDLE event : events_) CloseHandle(event);
  }

  HANDLE NewEvent(bool manualReset, bool initialState = false) {
    HANDLE event = CreateEventA(nullptr, manualReset, initialState, nullptr);
    EXPECT_NE(nullptr, event);
    events_.push_back(event);
    return event;
  }

  std::vector<HANDLE> events_;
};

TEST_F(Waits, SleepAndATimedWaitEndExactlyWhenTheClockReachesTheirDeadline) {
  HANDLE event = NewEvent(false);
  host::AdvanceClock(500);  // deadlines count from the clock's reading at the call
  std::atomic<uint64_t> sleptUntil{kNotYet};
  std::atomic<uint64_t> waitedUntil{kNotYet};
  std::atomic<DWORD> waitResult{0};
  BackgroundThread sleeper([&] {
    Sleep(2000);
    sleptUntil = host::ClockNow();
  });
  BackgroundThread waiter([&] {
    waitResult = WaitForSingleObject(event, 600000);
    waitedUntil = host::ClockNow();
  });
  ASSERT_TRUE(host::WaitForBlockedThreads(2));

  host::AdvanceClock(1999);
  EXPECT_EQ(2u, host::BlockedThreadCount());
  host::AdvanceClock(1);
  // The clock has released the sleeper by the time AdvanceClock returns.
  EXPECT_EQ(1u, host::BlockedThreadCount());
  ASSERT_TRUE(sleeper.Join());
  EXPECT_EQ(2500u, sleptUntil);

  host::AdvanceClock(600000 - 2000 - 1);
  EXPECT_EQ(1u, host::BlockedThreadCount());
  EXPECT_FALSE(waiter.Finished());
  host::AdvanceClock(1);
  ASSERT_TRUE(waiter.Join());
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), waitResult);
  EXPECT_EQ(600500u, waitedUntil);
}

TEST_F(Waits, ASignalEndsATimedWaitBeforeItsDeadline) {
  HANDLE event = NewEvent(false);
  std::atomic<DWORD> result{0};
  BackgroundThread waiter([&] { result = WaitForSingleObject(event, 600000); });
  ASSERT_TRUE(host::WaitForBlockedThreads(1));
  host::AdvanceClock(1000);
  ASSERT_TRUE(SetEvent(event));
  ASSERT_TRUE(waiter.Join());
  EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), result);
  EXPECT_EQ(1000u, host::ClockNow());
  // The waiter took the signal.
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(event, 0));
}

TEST_F(Waits, AnAutomaticResetSignalReleasesExactlyOneWaitAndIsUsedUp) {
  HANDLE event = NewEvent(false);
  std::atomic<int> released{0};
  auto wait = [&] {
    if (WaitForSingleObject(event, INFINITE) == WAIT_OBJECT_0) ++released;
  };
  BackgroundThread first(wait);
  BackgroundThread second(wait);
  ASSERT_TRUE(host::WaitForBlockedThreads(2));

  ASSERT_TRUE(SetEvent(event));
  EXPECT_EQ(1u, host::BlockedThreadCount());
  ASSERT_TRUE(SetEvent(event));
  EXPECT_EQ(0u, host::BlockedThreadCount());
  ASSERT_TRUE(first.Join());
  ASSERT_TRUE(second.Join());
  EXPECT_EQ(2, released);
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(event, 0));

  // Without a waiter the event keeps one signal, however often it is set.
  ASSERT_TRUE(SetEvent(event));
  ASSERT_TRUE(SetEvent(event));
  EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(event, 0));
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(event, 0));
  // Created signalled, it holds that one signal.
  HANDLE initially = NewEvent(false, true);
  EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(initially, 0));
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(initially, 0));
}

TEST_F(Waits, AManualResetEventReleasesEveryWaiterAndStaysSignalled) {
  HANDLE event = NewEvent(true);
  std::atomic<int> released{0};
  auto wait = [&] {
    if (WaitForSingleObject(event, 600000) == WAIT_OBJECT_0) ++released;
  };
  BackgroundThread first(wait);
  BackgroundThread second(wait);
  ASSERT_TRUE(host::WaitForBlockedThreads(2));
  ASSERT_TRUE(SetEvent(event));
  EXPECT_EQ(0u, host::BlockedThreadCount());
  ASSERT_TRUE(first.Join());
  ASSERT_TRUE(second.Join());
  EXPECT_EQ(2, released);
  EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(event, 0));
  EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(event, 600000));
  ASSERT_TRUE(ResetEvent(event));
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(event, 0));
}

TEST_F(Waits, ZeroTimeOutsDoNotBlockAndInfiniteOnesIgnoreTheClock) {
  HANDLE event = NewEvent(false);
  Sleep(0);
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(event, 0));
  EXPECT_EQ(0u, host::ClockNow());

  std::atomic<DWORD> result{0};
  BackgroundThread waiter([&] { result = WaitForSingleObject(event, INFINITE); });
  std::thread([] { Sleep(INFINITE); }).detach();  // left behind; Reset abandons it
  ASSERT_TRUE(host::WaitForBlockedThreads(2));
  host::AdvanceClock(uint64_t{1} << 40);
  EXPECT_EQ(2u, host::BlockedThreadCount());
  ASSERT_TRUE(SetEvent(event));
  ASSERT_TRUE(waiter.Join());
  EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), result);
  EXPECT_EQ(1u, host::BlockedThreadCount());
}

TEST_F(Waits, EventCallsOnBadHandlesFailWithInvalidHandle) {
  HANDLE closed = CreateEventA(nullptr, FALSE, TRUE, nullptr);
  ASSERT_TRUE(CloseHandle(closed));
  struct Case {
    const char* what;
    HANDLE handle;
  };
  const Case cases[] = {{"null", nullptr}, {"closed", closed}, {"unknown", (HANDLE)0x77770}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetLastError(0);
    EXPECT_EQ(WAIT_FAILED, WaitForSingleObject(c.handle, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
    SetLastError(0);
    EXPECT_FALSE(SetEvent(c.handle));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
    SetLastError(0);
    EXPECT_FALSE(CloseHandle(c.handle));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
  }
}

TEST_F(Waits, ANamedEventOpensTheSameEventAgain) {
  HANDLE first = CreateEventA(nullptr, TRUE, FALSE, "DorvaneStop");
  ASSERT_NE(nullptr, first);
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), GetLastError());
  HANDLE second = CreateEventA(nullptr, FALSE, FALSE, "DorvaneStop");
  ASSERT_NE(nullptr, second);
  EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());
  EXPECT_NE(first, second);
  ASSERT_TRUE(SetEvent(first));
  // The same manual-reset event: the second handle's creation flags changed nothing.
  EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(second, 0));
  EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(second, 0));
  // The event lives while a handle to it is open.
  ASSERT_TRUE(CloseHandle(first));
  EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(second, 0));
  ASSERT_TRUE(CloseHandle(second));
  HANDLE fresh = CreateEventA(nullptr, TRUE, FALSE, "DorvaneStop");
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), GetLastError());
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(fresh, 0));
  CloseHandle(fresh);
}

TEST_F(Waits, TheRealTimeSafetyWaitsGiveUpWithAMessage) {
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(host::WaitForBlockedThreads(1, 20));
  host::SendServiceControl(SERVICE_CONTROL_STOP);
  EXPECT_FALSE(host::WaitForControlsDelivered(20));
  const std::string messages = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(std::string::npos, messages.find("host::WaitForBlockedThreads: 0 of 1 threads blocked"))
      << messages;
  EXPECT_NE(std::string::npos,
            messages.find("host::WaitForControlsDelivered: 1 control(s) still queued"))
      << messages;
  EXPECT_NE(std::string::npos, messages.find("no dispatcher runs")) << messages;
}

}  // namespace
