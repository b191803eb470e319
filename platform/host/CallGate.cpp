// The call gate, the record of calls, injected failures and the thread's last error.
#include "CallGate.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "HostControl.h"
#include "HostInternal.h"

namespace host::detail {
namespace {

// A failure of one function: the nth call of it from when the failure was set, and with
// `persistent` every later call too.
struct Failure {
  const char* function;
  unsigned remaining;  // calls to go before the one that fails; 0 once a persistent one fired
  DWORD error;
  bool persistent;
};

// A failure of the nth gated call of any function.
struct NthCallFailure {
  bool armed = false;
  unsigned long long remaining = 0;  // as above
  DWORD error = 0;
  bool persistent = false;
};

// Something another program does just before the nth call of one function from when it was
// set (HostControl.h, BeforeCall).
struct Interposed {
  const char* function;
  unsigned remaining;  // calls to go before the one it comes before
  std::function<void()> action;
};

struct GateState {
  std::mutex mutex;
  // Calls are recorded only from the first Reset on, so a program that runs for months (and
  // never resets) does not keep a record of every call it made.
  bool recording = false;
  std::vector<const char*> calls;  // names from the gate table, which lives as long as we do
  std::vector<Failure> failures;
  NthCallFailure nthCall;
  std::vector<Interposed> interposed;
};

GateState& State() {
  static GateState* state = new GateState;
  return *state;
}

// How deep this thread is inside stand-in functions: only depth 0 is the system's own call.
thread_local int t_depth = 0;
thread_local DWORD t_lastError = 0;

// Counts the call against the failure set on every call; answers the error when it is due.
DWORD CountNthCall(NthCallFailure& failure, bool failable) {
  if (!failure.armed) return 0;
  if (failure.remaining > 0 && --failure.remaining > 0) return 0;
  if (!failure.persistent) failure.armed = false;
  // A function that cannot fail goes ahead; a persistent failure stays for the next one.
  return failable ? failure.error : 0;
}

}  // namespace

CallGate::CallGate(const char* function) {
  if (t_depth++ > 0) return;
  const GateEntry& entry = FindGateEntry(function);
  GateState& state = State();
  std::unique_lock<std::mutex> lock(state.mutex);
  // What another program does now runs first, outside the lock, and at this depth, so that its
  // own calls are neither recorded nor failed; then this call goes ahead as usual.
  for (auto it = state.interposed.begin(); it != state.interposed.end(); ++it) {
    if (it->function != entry.name || --it->remaining > 0) continue;
    std::function<void()> action = std::move(it->action);
    state.interposed.erase(it);
    lock.unlock();
    action();
    lock.lock();
    break;
  }
  if (state.recording) state.calls.push_back(entry.name);
  DWORD injected = CountNthCall(state.nthCall, entry.failable != nullptr);
  // Every matching failure counts the call; the first one due decides the error.
  for (Failure& failure : state.failures) {
    if (failure.function != entry.name) continue;
    if (failure.remaining > 0 && --failure.remaining > 0) continue;
    if (injected == 0) injected = failure.error;
  }
  state.failures.erase(
      std::remove_if(state.failures.begin(), state.failures.end(),
                     [](const Failure& f) { return f.remaining == 0 && !f.persistent; }),
      state.failures.end());
  if (injected != 0) verdict_ = GateVerdict(&entry, injected);
}

CallGate::~CallGate() { --t_depth; }

GateVerdict PassGate(const char* function) {
  CallGate gate(function);
  return gate.verdict();
}

bool IsRecording() {
  GateState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  return state.recording;
}

void ResetCallGate() {
  GateState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.recording = true;
  state.calls.clear();
  state.failures.clear();
  state.nthCall = NthCallFailure();
  state.interposed.clear();
}

}  // namespace host::detail

namespace host {
namespace {

// The table's own name for the function, so the record can be compared by address.
const char* TableName(const char* function) { return detail::FindGateEntry(function).name; }

}  // namespace

void FailCall(const FailableFunction& function, unsigned nth, DWORD error, bool persistent) {
  auto& state = detail::State();
  const char* name = TableName(function.name);
  std::lock_guard<std::mutex> lock(state.mutex);
  // The 0th call is taken to mean the next one.
  state.failures.push_back(detail::Failure{name, nth == 0 ? 1 : nth, error, persistent});
}

void FailNthCall(unsigned long long nth, DWORD error, bool persistent) {
  auto& state = detail::State();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.nthCall = detail::NthCallFailure{true, nth == 0 ? 1 : nth, error, persistent};
}

void ClearFailures() {
  auto& state = detail::State();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.failures.clear();
  state.nthCall = detail::NthCallFailure();
  state.interposed.clear();
}

void BeforeCall(const FailableFunction& function, unsigned nth, std::function<void()> action) {
  auto& state = detail::State();
  const char* name = TableName(function.name);
  std::lock_guard<std::mutex> lock(state.mutex);
  state.interposed.push_back(detail::Interposed{name, nth == 0 ? 1 : nth, std::move(action)});
}

std::vector<std::string> Calls() {
  auto& state = detail::State();
  std::lock_guard<std::mutex> lock(state.mutex);
  return std::vector<std::string>(state.calls.begin(), state.calls.end());
}

void RecordCalls(bool record) {
  auto& state = detail::State();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.recording = record;
}

void ClearCalls() {
  {
    auto& state = detail::State();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.calls.clear();
  }
  detail::ClearFileOpens();
}

namespace {

size_t CountCalls(const char* function) {
  const char* name = TableName(function);
  auto& state = detail::State();
  std::lock_guard<std::mutex> lock(state.mutex);
  return static_cast<size_t>(std::count(state.calls.begin(), state.calls.end(), name));
}

}  // namespace

size_t CallCount(const FailableFunction& function) { return CountCalls(function.name); }

size_t CallCount(const RecordedFunction& function) { return CountCalls(function.name); }

}  // namespace host

// The last error is plumbing, not a call the system makes of the platform: it passes no
// gate, so it is neither recorded nor failable.
DWORD WINAPI GetLastError(void) { return host::detail::t_lastError; }

void WINAPI SetLastError(DWORD error) { host::detail::t_lastError = error; }
