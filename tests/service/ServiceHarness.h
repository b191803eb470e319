// What the Hollin tests share: running a command or the service on a thread of their own
// while the test drives the stand-in's clock, and reading back what they did.
#ifndef HOLLIN_TESTS_SERVICEHARNESS_H
#define HOLLIN_TESTS_SERVICEHARNESS_H

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "BackgroundThread.h"
#include "Hollin.h"
#include "HostControl.h"
#include "HostFixture.h"
#include "HostServiceControl.h"

namespace harness {

constexpr const char* kServiceName = "Ulmora_Tarn_Hollin";
constexpr const char* kServiceKey = "System\\CurrentControlSet\\Services\\Ulmora_Tarn_Hollin";
constexpr const char* kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const char* kRunValue = "Ulmora_Dorvane_Tool";

// HollinMain with these arguments after the program name.
inline int RunHollin(std::vector<std::string> args) {
  std::vector<char*> argv;
  std::string program = "Hollin.exe";
  argv.push_back(&program[0]);
  for (std::string& arg : args) argv.push_back(&arg[0]);
  argv.push_back(nullptr);
  return HollinMain(static_cast<int>(argv.size() - 1), argv.data());
}

// One setup command run to its end: its answer and the length of each pause it made.
struct CommandRun {
  int exitStatus = -1;
  std::vector<uint64_t> pauses;
};

// Runs the command on a thread of its own and moves the clock through every pause it makes,
// a millisecond at a time, so that each pause is measured exactly.
inline CommandRun RunCommand(std::function<int()> command) {
  auto status = std::make_shared<std::atomic<int>>(-1);
  BackgroundThread thread([command, status] { *status = command(); });
  CommandRun run;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!thread.Finished()) {
    if (std::chrono::steady_clock::now() > deadline) {
      ADD_FAILURE() << "the command did not end";
      return run;
    }
    if (host::BlockedThreadCount() == 0) {
      std::this_thread::yield();
      continue;
    }
    uint64_t paused = 0;
    while (host::BlockedThreadCount() > 0 && paused < 100000) {
      host::AdvanceClock(1);
      ++paused;
    }
    run.pauses.push_back(paused);
  }
  EXPECT_TRUE(thread.Join());
  run.exitStatus = *status;
  return run;
}

// The calls of the service control manager and the pauses, in order; the registry and the
// rest left out.
inline std::vector<std::string> ServiceCalls() {
  static const std::set<std::string> kShown = {"OpenSCManagerA", "CreateServiceA",
                                               "OpenServiceA",   "QueryServiceStatus",
                                               "StartServiceA",  "ControlService",
                                               "DeleteService",  "CloseServiceHandle",
                                               "Sleep",          "StartServiceCtrlDispatcherA"};
  std::vector<std::string> shown;
  for (const std::string& call : host::Calls()) {
    if (kShown.count(call) != 0) shown.push_back(call);
  }
  return shown;
}

// A status report as readable text: "state 4, accepts 5, handler". Anything but the
// fixed type and zero codes, checkpoint and wait hint is spelled out as well.
inline std::string Describe(const host::ServiceStatusReport& report) {
  const SERVICE_STATUS& s = report.status;
  std::string text = "state " + std::to_string(s.dwCurrentState) + ", accepts " +
                     std::to_string(s.dwControlsAccepted) +
                     (report.fromDispatcherThread ? ", handler" : ", service");
  if (s.dwServiceType != 0x30) text += ", type " + std::to_string(s.dwServiceType);
  if (s.dwWin32ExitCode != 0) text += ", exit code " + std::to_string(s.dwWin32ExitCode);
  if (s.dwServiceSpecificExitCode != 0) {
    text += ", service exit code " + std::to_string(s.dwServiceSpecificExitCode);
  }
  if (s.dwCheckPoint != 0) text += ", checkpoint " + std::to_string(s.dwCheckPoint);
  if (s.dwWaitHint != 0) text += ", wait hint " + std::to_string(s.dwWaitHint);
  return text;
}

inline std::vector<std::string> StatusReports() {
  std::vector<std::string> texts;
  for (const host::ServiceStatusReport& report : host::ServiceStatusReports()) {
    texts.push_back(Describe(report));
  }
  return texts;
}

// The reports of a service's life.
inline const std::string kStartPending = "state 2, accepts 0, service";
inline const std::string kRunning = "state 4, accepts 5, service";
inline const std::string kRunningReReported = "state 4, accepts 5, handler";
inline const std::string kStopRequested = "state 3, accepts 5, handler";
inline const std::string kStopPending = "state 3, accepts 5, service";
inline const std::string kStopped = "state 1, accepts 0, service";

}  // namespace harness

#endif
