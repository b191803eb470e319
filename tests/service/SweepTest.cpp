// Hollin swept: "/Install", "/Uninstall" and the service with its real passes, each run
// again with every platform call it makes failing in turn, once and from then on.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "PMEventReporter.h"
#include "ServiceHarness.h"
#include "SweepEveryCall.h"

namespace {

using harness::kRunKey;
using harness::kRunValue;
using harness::kServiceKey;
using harness::kServiceName;

constexpr const char* kOptionsKey = "Software\\Policies\\Velmorant\\Dorvane\\Options";
constexpr const char* kLogonToolPath = "C:\\WINDOWS\\system32\\Dorvane_Tool.exe";
constexpr const char* kHollinPath = "C:\\WINDOWS\\system32\\Hollin.exe";
constexpr const char* kSourceKey =
    "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\PMevents";

class HollinSweep : public HostFixture {
 protected:
  void TearDown() override {
    host::Reset();
    if (!logPath_.empty()) std::remove(logPath_.c_str());
  }

  static std::string RunValue() { return ValueBytes(HKEY_LOCAL_MACHINE, kRunKey, kRunValue); }
  static std::string MessageFile() {
    return ValueBytes(HKEY_LOCAL_MACHINE, kSourceKey, "EventMessageFile");
  }

  // A service as "/Install" leaves it, running, with the logon tool registered.
  static void SeedInstalledService() {
    host::WriteDword(HKEY_LOCAL_MACHINE, kServiceKey, "Type", SERVICE_WIN32_OWN_PROCESS);
    host::WriteDword(HKEY_LOCAL_MACHINE, kServiceKey, "Start", SERVICE_AUTO_START);
    host::WriteDword(HKEY_LOCAL_MACHINE, kServiceKey, "ErrorControl", SERVICE_ERROR_IGNORE);
    host::WriteString(HKEY_LOCAL_MACHINE, kServiceKey, "ImagePath",
                      "\"C:\\WINDOWS\\system32\\Hollin.exe\"");
    host::SetServiceState(kServiceName, SERVICE_RUNNING);
    host::WriteString(HKEY_LOCAL_MACHINE, kRunKey, kRunValue, kLogonToolPath);
    host::WriteString(HKEY_LOCAL_MACHINE, kSourceKey, "EventMessageFile", kHollinPath);
    host::WriteDword(HKEY_LOCAL_MACHINE, kSourceKey, "TypesSupported", 7);
  }

  // Waits, in real time, until the service thread is parked in its sleep or its wait, or the
  // dispatcher has returned; false when neither happens.
  static bool ParkedOrEnded(BackgroundThread& dispatcher) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (host::BlockedThreadCount() == 0 && !dispatcher.Finished()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::yield();
    }
    return true;
  }

  // Starts the service as the service control manager does, lets it run its first pass and,
  // ten minutes later, its second, then asks it to stop; answers whether it ended. A service
  // that has not ended once the stop request is delivered is given the rest of its wait.
  static bool RunServiceForTwoPasses() {
    host::SetDispatcherSafetyTimeout(3000);
    host::ArrangeServiceStart(kServiceName);
    auto exitStatus = std::make_shared<std::atomic<int>>(-1);
    BackgroundThread dispatcher([exitStatus] { *exitStatus = harness::RunHollin({}); });
    for (uint64_t step : {2000u, 600000u}) {
      if (!ParkedOrEnded(dispatcher)) return false;
      if (dispatcher.Finished()) break;
      host::AdvanceClock(step);
    }
    if (!ParkedOrEnded(dispatcher)) return false;
    if (!dispatcher.Finished()) {
      host::SendServiceControl(SERVICE_CONTROL_STOP);
      if (!host::WaitForControlsDelivered() || !ParkedOrEnded(dispatcher)) return false;
      if (!dispatcher.Join(50) && host::BlockedThreadCount() > 0) host::AdvanceClock(600000);
    }
    // Within the dispatcher's safety time-out, after which it would return without its service.
    return dispatcher.Join(2000) && *exitStatus == 0;
  }

  std::string logPath_;
};

TEST_F(HollinSweep, InstallEndsCleanlyAndSucceedsOnlyWhenEveryStepDid) {
  int exitStatus = -1;
  SweepEveryCall(
      {"Hollin /Install", [] { host::Reset(); },
       [&] {
         exitStatus =
             harness::RunCommand([] { return harness::RunHollin({"/Install"}); }).exitStatus;
       },
       [&] {
         EXPECT_TRUE(exitStatus == 0 || exitStatus == 1) << exitStatus;
         EXPECT_EQ(host::OpenHandleCount(), 0u);
         if (exitStatus == 0) {
           EXPECT_EQ(RunValue(), std::string(kLogonToolPath) + '\0');
           EXPECT_EQ(MessageFile(), std::string(kHollinPath) + '\0');
           EXPECT_EQ(ValueBytes(HKEY_LOCAL_MACHINE, kSourceKey, "TypesSupported"),
                     std::string("\x07\0\0\0", 4));
           EXPECT_EQ(host::ServiceState(kServiceName), static_cast<DWORD>(SERVICE_RUNNING));
         }
       }});
}

TEST_F(HollinSweep, UninstallEndsCleanlyLeavesTheRunValueAndSucceedsOnlyWhenTheServiceIsGone) {
  int exitStatus = -1;
  SweepEveryCall({"Hollin /Uninstall",
                  [] {
                    host::Reset();
                    SeedInstalledService();
                  },
                  [&] {
                    exitStatus = harness::RunCommand([] {
                                   return harness::RunHollin({"/Uninstall"});
                                 }).exitStatus;
                  },
                  [&] {
                    EXPECT_TRUE(exitStatus == 0 || exitStatus == 1) << exitStatus;
                    EXPECT_EQ(host::OpenHandleCount(), 0u);
                    EXPECT_EQ(RunValue(), std::string(kLogonToolPath) + '\0');
                    if (exitStatus == 0) {
                      EXPECT_FALSE(host::ServiceExists(kServiceName));
                      EXPECT_FALSE(host::KeyExists(HKEY_LOCAL_MACHINE, kSourceKey));
                    }
                  }});
}

TEST_F(HollinSweep, TheServiceEndsCleanlyWhicheverCallFails) {
  logPath_ = ::testing::TempDir() + "hollin-sweep-" + std::to_string(getpid()) + ".log";
  const std::string earlier = "INFO: earlier\r\n";
  std::string settings;
  bool ended = false;
  SweepEveryCall({"Hollin service, two passes",
                  [&] {
                    host::Reset();
                    ForgetReportedWarnings();
                    std::string error;
                    ASSERT_TRUE(host::ImportRegFile(HOLLIN_SCHEMES_REG, &error)) << error;
                    ASSERT_TRUE(host::ImportRegFile(HOLLIN_POLICY_REG, &error)) << error;
                    host::WriteString(HKEY_LOCAL_MACHINE, kOptionsKey, "LogFile", logPath_);
                    std::ofstream(logPath_, std::ios::binary | std::ios::trunc) << earlier;
                    settings = host::ExportRegText(HKEY_LOCAL_MACHINE,
                                                   "Software\\Policies\\Velmorant\\Dorvane");
                  },
                  [&] { ended = RunServiceForTwoPasses(); },
                  [&] {
                    EXPECT_TRUE(ended) << "the service did not end";
                    EXPECT_EQ(host::OpenHandleCount(), 0u);
                    EXPECT_EQ(host::ExportRegText(HKEY_LOCAL_MACHINE,
                                                  "Software\\Policies\\Velmorant\\Dorvane"),
                              settings);
                    std::ifstream in(logPath_, std::ios::binary);
                    std::ostringstream text;
                    text << in.rdbuf();
                    const std::string log = text.str();
                    EXPECT_EQ(log.compare(0, earlier.size(), earlier), 0) << log;
                    EXPECT_TRUE(IsWholeLogLines(log)) << log;
                  }});
}

}  // namespace
