// The probe that chooses the power-scheme interface: the current one only when powrprof.dll
// exports every current function and PowerGetActiveScheme answers; the legacy one otherwise,
// with the library unloaded again. One debug text names the choice.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "CurrentPowerInterface.h"
#include "HostFixture.h"
#include "PowerInterfaceProbe.h"
#include "PowerMachine.h"
#include "PwrMgmt.h"
#include "TableTest.h"

namespace {

using Texts = std::vector<std::string>;

const Texts kCurrentFunctions = {"PowerGetActiveScheme",   "PowerReadACValueIndex",
                                 "PowerReadDCValueIndex",  "PowerWriteACValueIndex",
                                 "PowerWriteDCValueIndex", "PowerSetActiveScheme",
                                 "PowerSettingAccessCheck"};

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

  // Probes and answers whether the current interface was chosen.
  static bool ProbeChoosesCurrent() {
    host::ClearCalls();
    host::ClearDebugOutput();
    std::unique_ptr<PowerInterface> chosen = ProbePowerInterface();
    return dynamic_cast<CurrentPowerInterface*>(chosen.get()) != nullptr;
  }
};

TEST_F(ProbeTest, ACurrentMachineGetsTheCurrentInterfaceAndKeepsTheLibraryLoaded) {
  host::SetPowerMachine(host::PowerMachine::kCurrent);

  EXPECT_TRUE(ProbeChoosesCurrent());

  Texts expected = {"LoadLibraryA"};
  expected.insert(expected.end(), kCurrentFunctions.size(), "GetProcAddress");
  expected.insert(expected.end(), {"PowerGetActiveScheme", "LocalFree", "OutputDebugStringA"});
  EXPECT_EQ(expected, host::Calls());
  EXPECT_EQ(Texts{"Power scheme interface: current"}, host::DebugOutput());
  EXPECT_EQ(1u, host::LoadedLibraryCount());
  EXPECT_EQ(0u, host::LocalBlockCount()) << "the active scheme's GUID was not freed";
}

TEST_F(ProbeTest, ALegacyMachineGetsTheLegacyInterfaceAtTheFirstMissingFunction) {
  EXPECT_FALSE(ProbeChoosesCurrent());

  EXPECT_EQ((Texts{"LoadLibraryA", "GetProcAddress", "FreeLibrary", "OutputDebugStringA"}),
            host::Calls());
  EXPECT_EQ(Texts{"Power scheme interface: legacy (powrprof.dll has no PowerGetActiveScheme)"},
            host::DebugOutput());
  EXPECT_EQ(0u, host::LoadedLibraryCount());
}

// A machine whose powrprof.dll lacks any one of the functions gets the legacy interface.
TEST_F(ProbeTest, OneMissingFunctionIsEnough) {
  host::SetPowerMachine(host::PowerMachine::kCurrent);
  for (size_t missing = 0; missing < kCurrentFunctions.size(); ++missing) {
    SCOPED_TRACE(kCurrentFunctions[missing]);
    host::FailCall(host::gated::GetProcAddress, static_cast<unsigned>(missing + 1),
                   ERROR_PROC_NOT_FOUND);

    EXPECT_FALSE(ProbeChoosesCurrent());

    Texts expected = {"LoadLibraryA"};
    expected.insert(expected.end(), missing + 1, "GetProcAddress");
    expected.insert(expected.end(), {"FreeLibrary", "OutputDebugStringA"});
    EXPECT_EQ(expected, host::Calls());
    EXPECT_EQ(Texts{"Power scheme interface: legacy (powrprof.dll has no " +
                    kCurrentFunctions[missing] + ")"},
              host::DebugOutput());
    EXPECT_EQ(0u, host::LoadedLibraryCount());
  }
}

struct ExportedButNotWorkingIsNotEnoughCase {
  const char* what;
  std::function<void()> arrange;
  const char* debugText;
};

class ExportedButNotWorkingIsNotEnough
    : public ProbeTest,
      public ::testing::WithParamInterface<ExportedButNotWorkingIsNotEnoughCase> {
 public:
  static std::vector<ExportedButNotWorkingIsNotEnoughCase> Cases() {
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
  const ExportedButNotWorkingIsNotEnoughCase& c = GetParam();
  SCOPED_TRACE(c.what);
  host::SetPowerMachine(host::PowerMachine::kCurrent);
  c.arrange();

  EXPECT_FALSE(ProbeChoosesCurrent());

  const Texts calls = host::Calls();
  ASSERT_GE(calls.size(), 2u);
  EXPECT_EQ((Texts{"FreeLibrary", "OutputDebugStringA"}), Texts(calls.end() - 2, calls.end()));
  EXPECT_EQ(0u, host::CallCount(host::gated::LocalFree)) << "nothing to free";
  EXPECT_EQ(Texts{c.debugText}, host::DebugOutput());
  EXPECT_EQ(0u, host::LoadedLibraryCount());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ExportedButNotWorkingIsNotEnough,
    ::testing::ValuesIn(ExportedButNotWorkingIsNotEnough::Cases()),
    [](const ::testing::TestParamInfo<ExportedButNotWorkingIsNotEnoughCase>& info) {
      return FitForTestName(info.param.what);
    });

TEST_F(ProbeTest, APowrprofThatDoesNotLoadMeansLegacy) {
  host::SetPowerMachine(host::PowerMachine::kCurrent);
  host::FailCall(host::gated::LoadLibraryA, 1, ERROR_MOD_NOT_FOUND);

  EXPECT_FALSE(ProbeChoosesCurrent());

  EXPECT_EQ((Texts{"LoadLibraryA", "OutputDebugStringA"}), host::Calls());
  EXPECT_EQ(Texts{"Power scheme interface: legacy (powrprof.dll not loaded, error 126)"},
            host::DebugOutput());
}

// The choice is made once: later objects of the library ask no more questions of the module.
TEST_F(ProbeTest, TheLibraryUsesTheChoiceOfItsFirstUse) {
  UsePowerMachine(host::PowerMachine::kCurrent);
  for (int pass = 0; pass < 3; ++pass) {
    PwrMgmt mgmt;
    EXPECT_EQ(0u, mgmt.GetPwrSchemeInUse());
  }
  EXPECT_EQ(0u, host::CallCount(host::gated::LoadLibraryA));
  EXPECT_EQ(0u, host::CallCount(host::gated::GetProcAddress));
  EXPECT_EQ(3u, host::CallCount(host::gated::PowerGetActiveScheme));
  EXPECT_EQ(0u, host::CallCount(host::gated::GetActivePwrScheme));
  EXPECT_EQ(Texts{}, host::DebugOutput());
}

}  // namespace
