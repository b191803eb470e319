// The probe that chooses the power-scheme interface: the current one only when powrprof.dll
// exports every current function and PowerGetActiveScheme answers; else the legacy one when it
// exports every legacy function; else none. One debug text names the choice, and the interface
// chosen holds the library until it is destroyed.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "HostFixture.h"
#include "PowerInterfaceProbe.h"
#include "PowerMachine.h"
#include "PwrMgmt.h"
#include "PwrScheme.h"
#include "TableTest.h"

namespace {

using Texts = std::vector<std::string>;

// In the order the probe looks them up.
const Texts kCurrentFunctions = {
    "PowerGetActiveScheme",    "PowerReadACValueIndex",  "PowerReadDCValueIndex",
    "PowerWriteACValueIndex",  "PowerWriteDCValueIndex", "PowerSetActiveScheme",
    "PowerSettingAccessCheck", "GetPwrCapabilities",     "CallNtPowerInformation"};
const Texts kLegacyFunctions = {
    "GetActivePwrScheme", "ReadPwrScheme",         "WritePwrScheme",        "SetActivePwrScheme",
    "EnumPwrSchemes",     "IsPwrHibernateAllowed", "CanUserWritePwrScheme", "GetPwrCapabilities"};

Texts Repeated(const char* call, size_t times) { return Texts(times, call); }

Texts Concat(std::initializer_list<Texts> parts) {
  Texts all;
  for (const Texts& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

class ProbeTest : public HostFixture {
 protected:
  void SetUp() override {
    HostFixture::SetUp();
    std::string error;
    ASSERT_TRUE(host::ImportRegFile(PM_FIXTURES_DIR "/current-default-schemes.reg", &error))
        << error;
  }
  void TearDown() override {
    host::Reset();
    UsePowerMachine(host::PowerMachine::kLegacyOnly);
  }

  // Probes with a clean record of calls and debug texts.
  static ProbedPowerInterface Probe() {
    host::ClearCalls();
    host::ClearDebugOutput();
    return ProbePowerInterface();
  }
};

TEST_F(ProbeTest, ACurrentMachineGetsTheCurrentInterface) {
  for (host::PowerMachine machine :
       {host::PowerMachine::kCurrent, host::PowerMachine::kCurrentWithoutLegacy}) {
    SCOPED_TRACE(MachineName(machine));
    host::SetPowerMachine(machine);

    ProbedPowerInterface probed = Probe();

    EXPECT_TRUE(probed.found);
    EXPECT_STREQ("current", probed.power->Name());
    EXPECT_EQ("", probed.why);
    EXPECT_EQ(Concat({{"LoadLibraryA"},
                      Repeated("GetProcAddress", kCurrentFunctions.size()),
                      {"PowerGetActiveScheme", "LocalFree", "OutputDebugStringA"}}),
              host::Calls());
    EXPECT_EQ(Texts{"Power scheme interface: current"}, host::DebugOutput());
    EXPECT_EQ(1u, host::LoadedLibraryCount()) << "the interface holds the library";
    EXPECT_EQ(0u, host::LocalBlockCount()) << "the active scheme's GUID was not freed";

    probed.power.reset();
    EXPECT_EQ(0u, host::LoadedLibraryCount()) << "the library outlived its interface";
  }
}

TEST_F(ProbeTest, ALegacyMachineGetsTheLegacyInterfaceAtTheFirstMissingCurrentFunction) {
  ProbedPowerInterface probed = Probe();

  EXPECT_TRUE(probed.found);
  EXPECT_STREQ("legacy", probed.power->Name());
  EXPECT_EQ(Concat({{"LoadLibraryA", "GetProcAddress"},
                    Repeated("GetProcAddress", kLegacyFunctions.size()),
                    {"OutputDebugStringA"}}),
            host::Calls());
  EXPECT_EQ(Texts{"Power scheme interface: legacy (powrprof.dll has no PowerGetActiveScheme)"},
            host::DebugOutput());
  EXPECT_EQ(1u, host::LoadedLibraryCount()) << "the interface holds the library";

  host::ClearCalls();
  probed.power.reset();
  EXPECT_EQ(Texts{"FreeLibrary"}, host::Calls());
  EXPECT_EQ(0u, host::LoadedLibraryCount());
}

// A machine whose powrprof.dll lacks any one of the current functions gets the legacy interface.
TEST_F(ProbeTest, OneMissingCurrentFunctionIsEnough) {
  host::SetPowerMachine(host::PowerMachine::kCurrent);
  for (size_t missing = 0; missing < kCurrentFunctions.size(); ++missing) {
    SCOPED_TRACE(kCurrentFunctions[missing]);
    host::FailCall(host::gated::GetProcAddress, static_cast<unsigned>(missing + 1),
                   ERROR_PROC_NOT_FOUND);

    ProbedPowerInterface probed = Probe();

    EXPECT_STREQ("legacy", probed.power->Name());
    EXPECT_EQ(Concat({{"LoadLibraryA"},
                      Repeated("GetProcAddress", missing + 1 + kLegacyFunctions.size()),
                      {"OutputDebugStringA"}}),
              host::Calls());
    EXPECT_EQ(Texts{"Power scheme interface: legacy (powrprof.dll has no " +
                    kCurrentFunctions[missing] + ")"},
              host::DebugOutput());
  }
  EXPECT_EQ(0u, host::LoadedLibraryCount());
}

struct ExportedButNotWorkingCase {
  const char* name;
  std::function<void()> arrange;
  const char* debugText;
};

class ExportedButNotWorkingIsNotEnough
    : public ProbeTest,
      public ::testing::WithParamInterface<ExportedButNotWorkingCase> {
 public:
  static std::vector<ExportedButNotWorkingCase> Cases() {
    return {
        {"no active scheme in the store", [] { host::DeleteKeyTree(HKEY_LOCAL_MACHINE, "SYSTEM"); },
         "Power scheme interface: legacy (PowerGetActiveScheme failed with error 2)"},
        {"PowerGetActiveScheme refused",
         [] { host::FailCall(host::gated::PowerGetActiveScheme, 1, ERROR_CALL_NOT_IMPLEMENTED); },
         "Power scheme interface: legacy (PowerGetActiveScheme failed with error 120)"},
    };
  }
};

TEST_P(ExportedButNotWorkingIsNotEnough, Case) {
  const ExportedButNotWorkingCase& c = GetParam();
  host::SetPowerMachine(host::PowerMachine::kCurrent);
  c.arrange();

  ProbedPowerInterface probed = Probe();

  EXPECT_STREQ("legacy", probed.power->Name());
  EXPECT_EQ(0u, host::CallCount(host::gated::LocalFree)) << "nothing to free";
  EXPECT_EQ(Texts{c.debugText}, host::DebugOutput());
}

INSTANTIATE_TEST_SUITE_P(Cases, ExportedButNotWorkingIsNotEnough,
                         ::testing::ValuesIn(ExportedButNotWorkingIsNotEnough::Cases()),
                         CaseName());

// Neither interface: the library is let go at once, and the interface chosen fails every call.
struct NoInterfaceCase {
  const char* name;
  host::PowerMachine machine;
  std::function<void()> arrange;
  const char* why;
};

class NoInterface : public ProbeTest, public ::testing::WithParamInterface<NoInterfaceCase> {
 public:
  static std::vector<NoInterfaceCase> Cases() {
    return {
        {"no powrprof.dll", host::PowerMachine::kWithoutPowrprof, [] {},
         "powrprof.dll not loaded, error 126"},
        {"powrprof.dll does not load", host::PowerMachine::kCurrent,
         [] { host::FailCall(host::gated::LoadLibraryA, 1, ERROR_ACCESS_DENIED); },
         "powrprof.dll not loaded, error 5"},
        {"a current machine without legacy functions whose active scheme does not answer",
         host::PowerMachine::kCurrentWithoutLegacy,
         [] { host::DeleteKeyTree(HKEY_LOCAL_MACHINE, "SYSTEM"); },
         "PowerGetActiveScheme failed with error 2; powrprof.dll has no GetActivePwrScheme"},
        {"a legacy machine missing a legacy function", host::PowerMachine::kLegacyOnly,
         [] { host::FailCall(host::gated::GetProcAddress, 3, ERROR_PROC_NOT_FOUND); },
         "powrprof.dll has no PowerGetActiveScheme; powrprof.dll has no ReadPwrScheme"},
    };
  }
};

TEST_P(NoInterface, Case) {
  const NoInterfaceCase& c = GetParam();
  host::SetPowerMachine(c.machine);
  c.arrange();

  ProbedPowerInterface probed = Probe();

  EXPECT_FALSE(probed.found);
  EXPECT_EQ(c.why, probed.why);
  EXPECT_STREQ("none", probed.power->Name());
  EXPECT_EQ(Texts{std::string("Power scheme interface: none (") + c.why + ")"},
            host::DebugOutput());
  EXPECT_EQ(0u, host::LoadedLibraryCount());

  // Objects on it work as on a machine that answers nothing, and reach no platform function.
  host::ClearCalls();
  PwrMgmt mgmt(probed.power);
  EXPECT_EQ(65535u, mgmt.GetPwrSchemeInUse());
  EXPECT_EQ(
      "PwrMgmt::GetPwrSchemeInUse() failed. Unable to Get index for current power "
      "scheme->System Error: ",
      mgmt.GetErrorText());
  EXPECT_FALSE(mgmt.IsPowerSuspendCapable());
  EXPECT_FALSE(mgmt.IsHibernationAllowed());
  EXPECT_FALSE(mgmt.CanUserWriteScheme());
  PwrScheme scheme(probed.power, 0);
  EXPECT_FALSE(scheme.IsRead());
  EXPECT_EQ(Texts{}, host::Calls());
}

INSTANTIATE_TEST_SUITE_P(Cases, NoInterface, ::testing::ValuesIn(NoInterface::Cases()), CaseName());

// Each probe loads the library afresh and each interface lets go of it: probing at every pass
// of a long-running service leaves no references behind.
TEST_F(ProbeTest, EveryProbeLoadsAfreshAndEveryInterfaceLetsGo) {
  for (host::PowerMachine machine :
       {host::PowerMachine::kLegacyOnly, host::PowerMachine::kCurrent}) {
    SCOPED_TRACE(MachineName(machine));
    host::SetPowerMachine(machine);
    std::vector<std::shared_ptr<PowerInterface>> held;
    for (size_t i = 1; i <= 3; ++i) {
      held.push_back(Probe().power);
      EXPECT_EQ(i, host::LoadedLibraryCount());
    }
    held.clear();
    EXPECT_EQ(0u, host::LoadedLibraryCount());
  }
}

// Objects built without an interface share the process's default, probed once (here before the
// first test): they ask no more questions of the module.
TEST_F(ProbeTest, TheDefaultIsProbedOnce) {
  const std::shared_ptr<PowerInterface> first = DefaultPowerInterface();
  for (int i = 0; i < 3; ++i) {
    PwrMgmt mgmt;
    EXPECT_EQ(first, DefaultPowerInterface());
  }
  EXPECT_STREQ("legacy", first->Name());
  EXPECT_EQ(0u, host::CallCount(host::gated::LoadLibraryA));
  EXPECT_EQ(0u, host::CallCount(host::gated::GetProcAddress));
  EXPECT_EQ(Texts{}, host::DebugOutput());
}

}  // namespace
