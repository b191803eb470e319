// Events, Sleep and WaitForSingleObject, all timed on one clock (see HostServiceControl.h):
// virtual after host::Reset(), real time in a program that never resets.
//
// Every blocked thread has a waiter record on the list. The thread that ends a wait (by
// SetEvent, or by moving the clock) takes the record off the list and sets its result, so
// that the number of blocked threads is exact the moment that call returns, before the
// woken thread has even run.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>

#include "CallGate.h"
#include "HostInternal.h"
#include "HostServiceControl.h"

namespace host::detail {
namespace {

using RealClock = std::chrono::steady_clock;

struct Event {
  bool manualReset = false;
  bool signalled = false;
  std::string name;  // empty for an unnamed event
};

// One thread blocked in Sleep or WaitForSingleObject; lives on that thread's stack.
struct Waiter {
  bool timed = false;
  uint64_t deadline = 0;   // on the clock, when timed
  Event* event = nullptr;  // null in Sleep
  bool released = false;
  DWORD result = WAIT_FAILED;
};

struct WaitState {
  std::mutex mutex;
  // Notified whenever a waiter is released or starts to wait.
  std::condition_variable changed;
  bool virtualClock = false;
  uint64_t virtualNow = 0;
  RealClock::time_point origin = RealClock::now();
  std::list<Waiter*> waiters;  // in the order they started to wait
  // Shared so that a wait in progress keeps its event when the handle is closed meanwhile.
  std::unordered_map<uintptr_t, std::shared_ptr<Event>> events;
};

WaitState& State() {
  // Never destroyed: an abandoned waiter may still be blocked on it at exit.
  static WaitState* state = new WaitState;
  return *state;
}

uint64_t NowLocked(const WaitState& s) {
  if (s.virtualClock) return s.virtualNow;
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(RealClock::now() - s.origin).count());
}

void Release(WaitState& s, Waiter* waiter, DWORD result) {
  s.waiters.remove(waiter);
  waiter->released = true;
  waiter->result = result;
  s.changed.notify_all();
}

// Blocks the calling thread until its waiter is released and answers the result. A waiter
// that Reset took off the list is never released: that thread is abandoned.
DWORD Block(std::unique_lock<std::mutex>& lock, WaitState& s, Waiter& waiter) {
  s.waiters.push_back(&waiter);
  s.changed.notify_all();
  while (!waiter.released) {
    if (!s.virtualClock && waiter.timed) {
      s.changed.wait_until(lock, s.origin + std::chrono::milliseconds(waiter.deadline));
      if (!waiter.released && !s.virtualClock && NowLocked(s) >= waiter.deadline) {
        Release(s, &waiter, WAIT_TIMEOUT);
      }
    } else {
      s.changed.wait(lock);
    }
  }
  return waiter.result;
}

Waiter TimedWaiter(const WaitState& s, DWORD milliseconds, Event* event) {
  Waiter waiter;
  waiter.event = event;
  waiter.timed = milliseconds != INFINITE;
  waiter.deadline = NowLocked(s) + milliseconds;
  return waiter;
}

// The event behind handle; null, with ERROR_INVALID_HANDLE as the last error, when the handle
// names no open event.
std::shared_ptr<Event> Lookup(const WaitState& s, HANDLE handle) {
  auto found = s.events.find(reinterpret_cast<uintptr_t>(handle));
  if (found != s.events.end()) return found->second;
  SetLastError(ERROR_INVALID_HANDLE);
  return nullptr;
}

}  // namespace

bool CloseEventHandle(HANDLE handle) {
  WaitState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.events.erase(reinterpret_cast<uintptr_t>(handle)) > 0;
}

size_t OpenEventCount() {
  WaitState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.events.size();
}

void ResetWaits() {
  WaitState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.waiters.clear();
  s.events.clear();
  s.virtualClock = true;
  s.virtualNow = 0;
}

}  // namespace host::detail

namespace host {

uint64_t ClockNow() {
  auto& s = detail::State();
  std::lock_guard<std::mutex> lock(s.mutex);
  return detail::NowLocked(s);
}

void AdvanceClock(uint64_t ms) {
  auto& s = detail::State();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (!s.virtualClock) {  // a program's real-time clock stops where it is and is driven now
    s.virtualNow = detail::NowLocked(s);
    s.virtualClock = true;
  }
  s.virtualNow += ms;
  for (auto it = s.waiters.begin(); it != s.waiters.end();) {
    detail::Waiter* waiter = *it++;
    if (waiter->timed && waiter->deadline <= s.virtualNow) {
      detail::Release(s, waiter, WAIT_TIMEOUT);
    }
  }
}

bool WaitForBlockedThreads(size_t count, unsigned realTimeoutMs) {
  auto& s = detail::State();
  std::unique_lock<std::mutex> lock(s.mutex);
  if (s.changed.wait_for(lock, std::chrono::milliseconds(realTimeoutMs),
                         [&] { return s.waiters.size() >= count; })) {
    return true;
  }
  std::fprintf(stderr,
               "host::WaitForBlockedThreads: %zu of %zu threads blocked in Sleep or "
               "WaitForSingleObject after %u ms of real time\n",
               s.waiters.size(), count, realTimeoutMs);
  return false;
}

size_t BlockedThreadCount() {
  auto& s = detail::State();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.waiters.size();
}

}  // namespace host

using host::detail::CallGate;

HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES /*lpEventAttributes*/, BOOL bManualReset,
                           BOOL bInitialState, LPCSTR lpName) {
  CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<HANDLE>();
  auto& s = host::detail::State();
  std::lock_guard<std::mutex> lock(s.mutex);
  std::shared_ptr<host::detail::Event> event;
  const std::string name = lpName != nullptr ? lpName : "";
  if (!name.empty()) {
    // A second create of a named event opens the one that exists, as it is.
    for (const auto& entry : s.events) {
      if (entry.second->name == name) event = entry.second;
    }
  }
  const bool existed = event != nullptr;
  if (!existed) {
    event = std::make_shared<host::detail::Event>();
    event->manualReset = bManualReset != FALSE;
    event->signalled = bInitialState != FALSE;
    event->name = name;
  }
  uintptr_t value = host::detail::NextHandleValue();
  s.events[value] = event;
  SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return reinterpret_cast<HANDLE>(value);
}

BOOL WINAPI SetEvent(HANDLE hEvent) {
  CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<BOOL>();
  auto& s = host::detail::State();
  std::lock_guard<std::mutex> lock(s.mutex);
  std::shared_ptr<host::detail::Event> event = host::detail::Lookup(s, hEvent);
  if (!event) return FALSE;
  // A manual-reset event releases every waiter and stays signalled; an automatic-reset one
  // hands its signal to the longest waiter, or keeps it for the next wait.
  for (auto it = s.waiters.begin(); it != s.waiters.end();) {
    host::detail::Waiter* waiter = *it++;
    if (waiter->event != event.get()) continue;
    host::detail::Release(s, waiter, WAIT_OBJECT_0);
    if (!event->manualReset) return TRUE;
  }
  event->signalled = true;
  return TRUE;
}

BOOL WINAPI ResetEvent(HANDLE hEvent) {
  CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<BOOL>();
  auto& s = host::detail::State();
  std::lock_guard<std::mutex> lock(s.mutex);
  std::shared_ptr<host::detail::Event> event = host::detail::Lookup(s, hEvent);
  if (!event) return FALSE;
  event->signalled = false;
  return TRUE;
}

DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<DWORD>();
  auto& s = host::detail::State();
  std::unique_lock<std::mutex> lock(s.mutex);
  // Only events can be waited for here.
  std::shared_ptr<host::detail::Event> event = host::detail::Lookup(s, hHandle);
  if (!event) return WAIT_FAILED;
  if (event->signalled) {
    if (!event->manualReset) event->signalled = false;
    return WAIT_OBJECT_0;
  }
  if (dwMilliseconds == 0) return WAIT_TIMEOUT;
  host::detail::Waiter waiter = host::detail::TimedWaiter(s, dwMilliseconds, event.get());
  return host::detail::Block(lock, s, waiter);
}

VOID WINAPI Sleep(DWORD dwMilliseconds) {
  CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<void>();
  if (dwMilliseconds == 0) {  // gives up the rest of the time slice only
    std::this_thread::yield();
    return;
  }
  auto& s = host::detail::State();
  std::unique_lock<std::mutex> lock(s.mutex);
  host::detail::Waiter waiter = host::detail::TimedWaiter(s, dwMilliseconds, nullptr);
  host::detail::Block(lock, s, waiter);
}
