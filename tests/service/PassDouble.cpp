#include "PassDouble.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

#include "HostServiceControl.h"
#include "PolicyUpdate.h"
#include "StatusCommand.h"

namespace pass_double {
namespace {

struct State {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<uint64_t> starts;
  std::vector<uint64_t> ends;
  DWORD duration = 0;
  bool holdNext = false;
  bool held = false;
  int statusAnswer = 0;
  int statusRuns = 0;
  std::string interfaceName = "legacy";
};

// Never destroyed: a service thread that a failing test leaves behind may still reach it.
State& GetState() {
  static State* state = new State;
  return *state;
}

}  // namespace

void Reset() {
  State& s = GetState();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.starts.clear();
  s.ends.clear();
  s.duration = 0;
  s.holdNext = false;
  s.held = false;
  s.statusAnswer = 0;
  s.statusRuns = 0;
  s.interfaceName = "legacy";
  s.changed.notify_all();
}

void SetDuration(DWORD ms) {
  State& s = GetState();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.duration = ms;
}

void HoldNextPass() {
  State& s = GetState();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.holdNext = true;
}

bool WaitUntilHeld(unsigned realTimeoutMs) {
  State& s = GetState();
  std::unique_lock<std::mutex> lock(s.mutex);
  return s.changed.wait_for(lock, std::chrono::milliseconds(realTimeoutMs),
                            [&s] { return s.held; });
}

void Release() {
  State& s = GetState();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.held = false;
  s.changed.notify_all();
}

std::vector<uint64_t> Starts() {
  State& s = GetState();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.starts;
}

std::vector<uint64_t> Ends() {
  State& s = GetState();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.ends;
}

void SetStatusAnswer(int exitStatus) {
  State& s = GetState();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.statusAnswer = exitStatus;
}

int StatusRuns() {
  State& s = GetState();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.statusRuns;
}

void SetPowerInterfaceName(const std::string& name) {
  State& s = GetState();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.interfaceName = name;
}

}  // namespace pass_double

const char* PowerInterfaceName() {
  auto& s = pass_double::GetState();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.interfaceName.c_str();
}

int RunStatusCommand() {
  auto& s = pass_double::GetState();
  std::lock_guard<std::mutex> lock(s.mutex);
  ++s.statusRuns;
  return s.statusAnswer;
}

void RunPolicyUpdate() {
  using pass_double::GetState;
  auto& s = GetState();
  DWORD duration;
  {
    std::unique_lock<std::mutex> lock(s.mutex);
    s.starts.push_back(host::ClockNow());
    duration = s.duration;
    if (s.holdNext) {
      s.holdNext = false;
      s.held = true;
      s.changed.notify_all();
      s.changed.wait(lock, [&s] { return !s.held; });
    }
  }
  if (duration != 0) Sleep(duration);
  std::lock_guard<std::mutex> lock(s.mutex);
  s.ends.push_back(host::ClockNow());
}
