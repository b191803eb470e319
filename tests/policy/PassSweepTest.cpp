// A whole pass with all eight settings changing, swept: every platform call it makes fails
// in turn, once and from then on, and the pass must still end cleanly.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "HostCurrentSchemeStore.h"
#include "PassFixture.h"
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
    settingsBefore_ = SettingsRoots();
    activeBefore_ = Current() ? current_store::Active()
                              : ValueBytes(HKEY_CURRENT_USER, scheme_store::kUserPowerCfg,
                                           scheme_store::kActiveValue);
    librariesBefore_ = host::LoadedLibraryCount();
  }

  void CheckInvariants() {
    EXPECT_EQ(host::OpenHandleCount(), 0u) << "the pass left handles open";
    EXPECT_EQ(host::LocalBlockCount(), 0u) << "the pass left memory it was given";
    EXPECT_EQ(host::LoadedLibraryCount(), librariesBefore_) << "the pass left a library loaded";
    EXPECT_EQ(SettingsRoots(), settingsBefore_) << "the pass wrote to a settings root";
    const std::string log = LogText();
    EXPECT_EQ(log.compare(0, std::string(kEarlierLines).size(), kEarlierLines), 0)
        << "the log lost what it held:\n"
        << log;
    EXPECT_TRUE(IsWholeLogLines(log)) << "a log line is not whole:\n" << log;
    if (Current()) {
      EXPECT_EQ(current_store::Active(), activeBefore_) << "another scheme was activated";
      return;
    }
    // A scheme that was never read is all zeros: written or activated, it would show in the
    // members no setting changes, or as another active scheme.
    EXPECT_EQ(
        ValueBytes(HKEY_CURRENT_USER, scheme_store::kUserPowerCfg, scheme_store::kActiveValue),
        activeBefore_);
    for (unsigned index : {0u, 1u}) {
      EXPECT_EQ(UntouchedMembers(StoredScheme(index)),
                UntouchedMembers(scheme_store::DistinctPolicy()))
          << "scheme " << index << " holds what no pass writes";
    }
    EXPECT_EQ(host::ExportRegText(HKEY_CURRENT_USER, scheme_store::UserKey(65535)), "");
  }

  // Every value below both settings roots, as "[key] value line", leaving out the backup
  // key below the local root (creating it creates its parents, which hold no value).
  static std::string SettingsRoots() {
    const std::string backup = std::string("[HKEY_LOCAL_MACHINE\\") + schema::kBackupKey;
    std::string values;
    for (const char* root : {schema::kPolicyRoot, schema::kLocalRoot}) {
      std::istringstream text(host::ExportRegText(HKEY_LOCAL_MACHINE, root));
      std::string key;
      for (std::string line; std::getline(text, line);) {
        if (!line.empty() && line[0] == '[') key = line;
        const bool isValue = !line.empty() && (line[0] == '"' || line[0] == '@');
        if (isValue && key.compare(0, backup.size(), backup) != 0) values += key + " " + line;
      }
    }
    return values;
  }

  // The scheme's bytes with every member the eight settings change set to zero.
  static std::vector<uint8_t> UntouchedMembers(POWER_POLICY p) {
    p.user.VideoTimeoutAc = p.user.VideoTimeoutDc = 0;
    p.user.IdleTimeoutAc = p.user.IdleTimeoutDc = 0;
    p.user.IdleAc.Action = p.user.IdleDc.Action = PowerActionNone;
    p.user.SpindownTimeoutAc = p.user.SpindownTimeoutDc = 0;
    p.mach.DozeS4TimeoutAc = p.mach.DozeS4TimeoutDc = 0;
    return scheme_store::BytesOf(p);
  }

  std::string settingsBefore_;
  std::string activeBefore_;
  size_t librariesBefore_ = 0;
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
