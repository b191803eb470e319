// The call gate, the record of calls, injected failures and the thread's last error.
#include "CallGate.h"

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "HostControl.h"
#include "HostInternal.h"

namespace host::detail {
namespace {

struct Failure {
  std::string function;
  unsigned remaining;  // calls to go before the one that fails; 0 once a persistent one fired
  DWORD error;
  bool persistent;
};

struct GateState {
  std::mutex mutex;
  std::vector<std::string> calls;
  std::vector<Failure> failures;
};

GateState& State() {
  static GateState* state = new GateState;
  return *state;
}

// How deep this thread is inside stand-in functions: only depth 0 is the system's own call.
thread_local int t_depth = 0;
thread_local DWORD t_lastError = 0;

}  // namespace

CallGate::CallGate(const char* function) {
  if (t_depth++ > 0) return;
  GateState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.calls.emplace_back(function);
  // Every matching failure counts the call; the first one due decides the error.
  for (Failure& failure : state.failures) {
    if (failure.function != function) continue;
    if (failure.remaining > 0 && --failure.remaining > 0) continue;
    if (injected_ == 0) injected_ = failure.error;
  }
  state.failures.erase(std::remove_if(state.failures.begin(), state.failures.end(),
                                      [](const Failure& f) {
                                        return f.remaining == 0 && !f.persistent;
                                      }),
                       state.failures.end());
}

CallGate::~CallGate() { --t_depth; }

bool CallGate::FailsWithLastError() const {
  if (injected_ != 0) t_lastError = injected_;
  return injected_ != 0;
}

void ResetCallGate() {
  GateState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.calls.clear();
  state.failures.clear();
}

}  // namespace host::detail

namespace host {

void FailCall(const std::string& function, unsigned nth, DWORD error, bool persistent) {
  auto& state = detail::State();
  std::lock_guard<std::mutex> lock(state.mutex);
  // The 0th call is taken to mean the next one.
  state.failures.push_back(detail::Failure{function, nth == 0 ? 1 : nth, error, persistent});
}

void ClearFailures() {
  auto& state = detail::State();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.failures.clear();
}

std::vector<std::string> Calls() {
  auto& state = detail::State();
  std::lock_guard<std::mutex> lock(state.mutex);
  return state.calls;
}

void ClearCalls() {
  auto& state = detail::State();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.calls.clear();
}

size_t CallCount(const std::string& function) {
  auto& state = detail::State();
  std::lock_guard<std::mutex> lock(state.mutex);
  return static_cast<size_t>(std::count(state.calls.begin(), state.calls.end(), function));
}

}  // namespace host

// The last error is plumbing, not a call the system makes of the platform: it passes no
// gate, so it is neither recorded nor failable.
DWORD WINAPI GetLastError(void) { return host::detail::t_lastError; }

void WINAPI SetLastError(DWORD error) { host::detail::t_lastError = error; }
