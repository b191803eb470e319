// OutputDebugStringA: kept for tests to read while calls are recorded, and echoed to stderr
// where a debugger would have shown it. A program that runs for long and keeps no record (a
// host program run from the shell) keeps no text either.
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "CallGate.h"
#include "HostControl.h"
#include "HostInternal.h"

namespace host::detail {
namespace {

struct DebugState {
  std::mutex mutex;
  std::vector<std::string> texts;
  bool echo = true;
};

DebugState& State() {
  static DebugState* state = new DebugState;
  return *state;
}

}  // namespace

// The echo switch is the test's choice and survives Reset.
void ResetDebugOutput() {
  DebugState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.texts.clear();
}

}  // namespace host::detail

namespace host {

std::vector<std::string> DebugOutput() {
  auto& state = detail::State();
  std::lock_guard<std::mutex> lock(state.mutex);
  return state.texts;
}

void ClearDebugOutput() { detail::ResetDebugOutput(); }

void SetDebugEcho(bool echo) {
  auto& state = detail::State();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.echo = echo;
}

}  // namespace host

void WINAPI OutputDebugStringA(LPCSTR lpOutputString) {
  host::detail::CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<void>();
  if (lpOutputString == nullptr) return;
  auto& state = host::detail::State();
  const bool keep = host::detail::IsRecording();
  bool echo;
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    if (keep) state.texts.emplace_back(lpOutputString);
    echo = state.echo;
  }
  if (echo) std::fprintf(stderr, "%s\n", lpOutputString);
}
