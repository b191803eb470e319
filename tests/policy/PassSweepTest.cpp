// A whole pass with all eight settings changing, swept: every platform call it makes fails
// in turn, once and from then on, and the pass must still end cleanly.
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
    SeedStandardPolicy(AllDiffer());
    std::ofstream(logPath_, std::ios::binary | std::ios::trunc) << kEarlierLines;
    invariants_.emplace(logPath_);
  }

  void CheckInvariants() {
    for (const std::string& broken : invariants_->Broken(true)) ADD_FAILURE() << broken;
  }

  std::optional<pass_invariants::PassInvariants> invariants_;
};

TEST_P(PassSweepTest, EndsCleanlyWhicheverCallFails) {
  const SweepCounts counts =
      SweepEveryCall({std::string("update pass, ") + GetParam().name, [this] { Prepare(); },
                      [] { RunPolicyPass(*GetParam().variant); }, [this] { CheckInvariants(); }});
  // The run without failures changes all eight settings and commits.
  EXPECT_GT(counts.calls, 100u);
}

INSTANTIATE_TEST_SUITE_P(
    Variants, PassSweepTest,
    ::testing::Values(
        PassRun{"service, administrator", &kServicePass, false, host::PowerMachine::kLegacyOnly},
        PassRun{"logon tool, administrator", &kLogonPass, false, host::PowerMachine::kLegacyOnly},
        PassRun{"logon tool, limited user", &kLogonPass, true, host::PowerMachine::kLegacyOnly},
        PassRun{"service, current machine", &kServicePass, false, host::PowerMachine::kCurrent},
        PassRun{"logon tool, limited user, current machine", &kLogonPass, true,
                host::PowerMachine::kCurrent}),
    [](const ::testing::TestParamInfo<PassRun>& info) {
      std::string name = info.param.name;
      for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
      }
      return name;
    });

}  // namespace
