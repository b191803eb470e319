// A whole pass with all eight settings changing, and one that finds the policy enforced, swept:
// every platform call it makes fails in turn, once and from then on, and the pass must still
// end cleanly. A pass that finds nothing to change commits nothing, whichever call fails.
#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <string>

#include "HostCurrentSchemeStore.h"
#include "PMEventReporter.h"
#include "PassFixture.h"
#include "PassInvariants.h"
#include "PowerMachine.h"
#include "SweepEveryCall.h"

namespace {

struct PassRun {
  const char* name;
  const PassVariant* variant;
  bool limitedUser;  // commits through the security bypass
  host::PowerMachine machine;
  bool enforced = false;  // the scheme holds the policy and a pass has recorded it
};

void PrintTo(const PassRun& run, std::ostream* out) { *out << run.name; }

class PassSweepTest : public PassFixture, public ::testing::WithParamInterface<PassRun> {
 protected:
  static constexpr const char* kEarlierLines = "INFO: an earlier pass\r\n";

  void TearDown() override {
    PassFixture::TearDown();
    UsePowerMachine(host::PowerMachine::kLegacyOnly);
  }

  static bool Current() { return GetParam().machine == host::PowerMachine::kCurrent; }

  void Prepare() {
    host::Reset();
    host::SetDebugEcho(false);
    ForgetReportedWarnings();
    if (Current()) {
      current_store::SeedDefaults(current_store::kBalanced,
                                  {1200, 420, 600, 300, 4200, 2700, 1800, 900});
      current_store::SetActive(current_store::kBalanced);
    } else {
      scheme_store::Seed(0, scheme_store::DistinctPolicy());
      scheme_store::Seed(1, scheme_store::DistinctPolicy());
      scheme_store::SetActive(0);
    }
    // The library probes the machine as a program does at its first use.
    UsePowerMachine(GetParam().machine);
    host::SetLimitedUser(GetParam().limitedUser);
    if (GetParam().enforced) {
      SeedStandardPolicy(AllEqual());
      RunPolicyPass(*GetParam().variant);
      ForgetReportedWarnings();
    } else {
      SeedStandardPolicy(AllDiffer());
    }
    std::ofstream(logPath_, std::ios::binary | std::ios::trunc) << kEarlierLines;
    invariants_.emplace(logPath_);
  }

  void CheckInvariants() {
    for (const std::string& broken : invariants_->Broken(true)) ADD_FAILURE() << broken;
    if (!GetParam().enforced) return;
    // Nothing the policy asks for differs, so no failure can make anything to commit.
    for (const host::FailableFunction& commit :
         {host::gated::WritePwrScheme, host::gated::SetActivePwrScheme,
          host::gated::PowerWriteACValueIndex, host::gated::PowerWriteDCValueIndex,
          host::gated::PowerSetActiveScheme, host::gated::SystemParametersInfoA}) {
      EXPECT_EQ(host::CallCount(commit), 0u) << commit.name;
    }
  }

  std::optional<pass_invariants::PassInvariants> invariants_;
};

TEST_P(PassSweepTest, EndsCleanlyWhicheverCallFails) {
  const SweepCounts counts =
      SweepEveryCall({std::string("update pass, ") + GetParam().name, [this] { Prepare(); },
                      [] { RunPolicyPass(*GetParam().variant); }, [this] { CheckInvariants(); }});
  // The run without failures changes all eight settings and commits, or reads what it needs to
  // find nothing to change.
  EXPECT_GT(counts.calls, GetParam().enforced ? 50u : 100u);
}

INSTANTIATE_TEST_SUITE_P(
    Variants, PassSweepTest,
    ::testing::Values(
        PassRun{"service, administrator", &kServicePass, false, host::PowerMachine::kLegacyOnly},
        PassRun{"logon tool, administrator", &kLogonPass, false, host::PowerMachine::kLegacyOnly},
        PassRun{"logon tool, limited user", &kLogonPass, true, host::PowerMachine::kLegacyOnly},
        PassRun{"service, current machine", &kServicePass, false, host::PowerMachine::kCurrent},
        PassRun{"logon tool, limited user, current machine", &kLogonPass, true,
                host::PowerMachine::kCurrent},
        PassRun{"service, nothing to change", &kServicePass, false, host::PowerMachine::kLegacyOnly,
                true},
        PassRun{"logon tool, limited user, nothing to change", &kLogonPass, true,
                host::PowerMachine::kLegacyOnly, true},
        PassRun{"service, current machine, nothing to change", &kServicePass, false,
                host::PowerMachine::kCurrent, true}),
    [](const ::testing::TestParamInfo<PassRun>& info) {
      std::string name = info.param.name;
      for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
      }
      return name;
    });

}  // namespace
