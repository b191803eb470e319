// Passes and the compliance check on the machines fleets run now: laptops with Modern Standby,
// settings held by Windows' own power policy, a plan chosen by that policy, machines that
// cannot hibernate or sleep, a probe that fails once, and another program changing the scheme
// while a pass runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "HostCurrentSchemeStore.h"
#include "MachineKindFixture.h"
#include "PMEventReporter.h"
#include "PolicySettings.h"
#include "ReportedEvents.h"
#include "StatusCommand.h"

namespace {

using host::PowerMachine;
using machine_kind::kSeeded;
using machine_kind::Minutes;
using reported_events::Expected;
using Texts = std::vector<std::string>;

struct StatusRun {
  int exitStatus = -1;
  std::string text;
  bool Has(const std::string& line) const { return text.find(line + "\n") != std::string::npos; }
};

StatusRun RunStatus() {
  testing::internal::CaptureStdout();
  StatusRun run;
  run.exitStatus = RunStatusCommand();
  run.text = testing::internal::GetCapturedStdout();
  return run;
}

template <typename Param = PowerMachine>
class MachinesFixture : public machine_kind::MachineKindFixture<Param> {
 protected:
  void SetUp() override {
    machine_kind::MachineKindFixture<Param>::SetUp();
    ForgetReportedWarnings();
  }
  void TearDown() override {
    ForgetReportedWarnings();
    machine_kind::MachineKindFixture<Param>::TearDown();
  }

  static bool BackedUp(const char* name) {
    const PassFixture::Values values = PassFixture::Backup(HKEY_LOCAL_MACHINE);
    return std::any_of(values.begin(), values.end(),
                       [name](const auto& value) { return value.first == name; });
  }
};

// ---- Modern Standby and machines without a state -------------------------------------------

SYSTEM_POWER_CAPABILITIES Capabilities(BOOLEAN s3, BOOLEAN aoAc, BOOLEAN s4) {
  SYSTEM_POWER_CAPABILITIES caps =
      aoAc ? host::ModernStandbyCapabilities() : host::DefaultCapabilities();
  caps.SystemS3 = s3;
  caps.SystemS4 = s4;
  return caps;
}

// One machine description and policy; what the pass and the check make of it.
struct StateCase {
  const char* name;
  SYSTEM_POWER_CAPABILITIES caps;
  const char* policyValue;
  DWORD minutes;
  // The outcome on a current machine; a legacy one (Windows XP's record, which has no S0
  // low-power idle) differs only where `legacyRefuses` says so.
  bool changed;  // the setter is called and accepts
  bool refused;  // the setter is called and refuses: an ERROR line and event 3001
  bool legacyRefuses;
  const char* verdict;  // the check's before the pass
};

const StateCase kStateCases[] = {
    {"modern standby sets standby without forcing it", Capabilities(0, 1, 1),
     "ACUserStandByIdleTime", 25, true, false, true, "change"},
    {"modern standby sets battery standby", Capabilities(0, 1, 1), "DCUserStandByIdleTime", 3, true,
     false, true, "change"},
    {"neither S3 nor S0 idle refuses standby", Capabilities(0, 0, 1), "ACUserStandByIdleTime", 25,
     false, true, true, "refused"},
    {"standby never without sleep is already so", Capabilities(0, 0, 1), "DCUserStandByIdleTime", 0,
     false, false, false, "no-such-state"},
    {"hibernation never without hibernation is already so", Capabilities(1, 0, 0),
     "ACMachHibernateIdleTime", 0, false, false, false, "no-such-state"},
    {"hibernation nonzero without hibernation is refused", Capabilities(1, 0, 0),
     "DCMachHibernateIdleTime", 60, false, true, true, "refused"},
};

void PrintTo(const StateCase& c, std::ostream* out) { *out << c.name; }

class MachineStates : public MachinesFixture<std::tuple<PowerMachine, StateCase>> {};

TEST_P(MachineStates, ThePassAndTheCheckAgree) {
  const StateCase& c = std::get<1>(GetParam());
  const bool refused = c.refused || (!Current() && c.legacyRefuses);
  const bool changed = c.changed && !refused;
  const Setting* setting = nullptr;
  for (const Setting& s : kSettings) {
    if (std::string(s.policyValue) == c.policyValue) setting = &s;
  }
  ASSERT_NE(setting, nullptr);
  host::SetCapabilities(c.caps);
  SeedPolicy(kPolicyRoot, kVerifiedRoot, Options(11, 1, 0), Dword(c.policyValue, c.minutes));

  const StatusRun before = RunStatus();
  RunPass();
  const StatusRun after = RunStatus();

  const std::string verdict = refused && !c.refused ? "refused" : c.verdict;
  EXPECT_NE(before.text.find(std::string(c.policyValue) + " "), std::string::npos);
  EXPECT_NE(before.text.find("pass=" + verdict), std::string::npos) << before.text;
  const std::string log = LogText();
  EXPECT_EQ(log.find(setting->serviceAnnouncement) != std::string::npos, changed || refused) << log;
  EXPECT_EQ(log.find("ERROR: PwrScheme::" + std::string(setting->setter)) != std::string::npos,
            refused)
      << log;
  // A refused setter and a state already as asked change nothing: nothing is committed.
  EXPECT_NE(log.find(changed ? "INFO: Commiting of Power Scheme() Succeded" : kNothingToCommit),
            std::string::npos)
      << log;
  Minutes expected = kSeeded;
  if (changed) {
    // Only the one setting moves (on a legacy record the hibernation total moves with standby).
    const Minutes stored = StoredMinutes();
    EXPECT_EQ(machine_kind::MinutesOf(stored, *setting), c.minutes);
  } else {
    EXPECT_EQ(StoredMinutes(), expected);
  }
  EXPECT_EQ(BackedUp(c.policyValue), changed || refused);
  const Texts warnings = refused ? Texts{Expected(pm_events::kStateNotAvailable,
                                                  {"service", "Administrator", c.policyValue,
                                                   std::to_string(c.minutes), StateName(*setting)})}
                                 : Texts{};
  Texts reported;
  for (const std::string& event : reported_events::All()) {
    if (event.compare(0, 8, "warning ") == 0) reported.push_back(event);
  }
  EXPECT_EQ(reported, warnings);
  EXPECT_EQ(after.exitStatus, refused ? kStatusDiffers : kStatusComplies) << after.text;
}

INSTANTIATE_TEST_SUITE_P(States, MachineStates,
                         testing::Combine(testing::Values(PowerMachine::kLegacyOnly,
                                                          PowerMachine::kCurrent),
                                          testing::ValuesIn(kStateCases)),
                         machine_kind::MachineAndCaseName());

// ---- Windows' own power policy ---------------------------------------------------------------

// One side of one setting held by Windows' policy, while the policy also changes the monitor's
// mains time-out, which nothing holds.
struct HeldCase {
  const char* name;
  const current_store::Setting* platformSetting;
  bool ac;
  DWORD heldSeconds;
  const char* policyValue;
  DWORD minutes;
  bool atOurValue;
};

const HeldCase kHeldCases[] = {
    {"a held mains index", &current_store::kDiskIdle, true, 600, "ACUserHDDspindownIdleTime", 45,
     false},
    {"a held battery index", &current_store::kStandbyIdle, false, 120, "DCUserStandByIdleTime", 4,
     false},
    {"held at our value", &current_store::kHibernateIdle, true, 5400, "ACMachHibernateIdleTime", 90,
     true},
};

void PrintTo(const HeldCase& c, std::ostream* out) { *out << c.name; }

class HeldSetting : public MachinesFixture<std::tuple<PowerMachine, HeldCase>> {};

TEST_P(HeldSetting, IsLeftAloneWhileTheRestIsEnforced) {
  const HeldCase& c = std::get<1>(GetParam());
  current_store::HoldByPolicy(*c.platformSetting, c.ac, c.heldSeconds);
  SeedStandardPolicy(Dword("ACUserMonIdleTime", 15) + Dword(c.policyValue, c.minutes));

  const StatusRun before = RunStatus();
  host::ClearCalls();
  RunPass();
  const StatusRun after = RunStatus();

  const std::string held = std::string(c.policyValue) +
                           " is held by Windows' own power policy at " +
                           std::to_string(c.heldSeconds / 60) + " minutes";
  const std::string heldLine = c.atOurValue ? "INFO: " + held + ", as this policy asks; left alone"
                                            : "ERROR: " + held + "; this policy asks for " +
                                                  std::to_string(c.minutes) +
                                                  " minutes, which only Windows' policy can set";
  EXPECT_EQ(LogText(), Lines({"INFO: .Default User Video Timeout will be changed",
                              "INFO: SetUserAcVideoTimeOut() Succeded", heldLine,
                              "INFO: Commiting of Power Scheme() Succeded"}));
  // No write was tried for it: the monitor's is the one write.
  EXPECT_EQ(host::CallCount(host::gated::PowerWriteACValueIndex), 1u);
  EXPECT_EQ(host::CallCount(host::gated::PowerWriteDCValueIndex), 0u);
  Minutes expected = kSeeded;
  expected.videoAc = 15;
  EXPECT_EQ(StoredMinutes(), expected);
  EXPECT_EQ(Activations(), 1u);
  EXPECT_FALSE(BackedUp(c.policyValue)) << "nothing was replaced";
  EXPECT_TRUE(BackedUp("ACUserMonIdleTime"));

  Texts events = {Expected(pm_events::kPassChangedSettings,
                           {"service", "Administrator", "1", "ACUserMonIdleTime 20 -> 15"})};
  if (!c.atOurValue) {
    events.insert(events.begin(),
                  Expected(pm_events::kSettingHeldByWindowsPolicy,
                           {"service", "Administrator", c.policyValue,
                            std::to_string(c.heldSeconds / 60), std::to_string(c.minutes)}));
  }
  EXPECT_EQ(reported_events::All(), events);

  const std::string verdict = c.atOurValue ? "held" : "held-elsewhere";
  const std::string field =
      "pass=" + verdict + " windows-policy=" + std::to_string(c.heldSeconds) + "s";
  EXPECT_NE(before.text.find(field), std::string::npos) << before.text;
  EXPECT_NE(after.text.find(field), std::string::npos) << after.text;
  EXPECT_EQ(before.exitStatus, c.atOurValue ? kStatusDiffers : kStatusHeldElsewhere);
  EXPECT_EQ(after.exitStatus, c.atOurValue ? kStatusComplies : kStatusHeldElsewhere);
  EXPECT_TRUE(after.Has(c.atOurValue ? "result: complies" : "result: held-by-windows-policy"))
      << after.text;
}

INSTANTIATE_TEST_SUITE_P(OnCurrentMachines, HeldSetting,
                         testing::Combine(testing::Values(PowerMachine::kCurrent,
                                                          PowerMachine::kCurrentWithoutLegacy),
                                          testing::ValuesIn(kHeldCases)),
                         machine_kind::MachineAndCaseName());

class CurrentMachine : public MachinesFixture<> {};

// A plan chosen by Windows' policy locks the choice of plan, not the plan's settings: they are
// enforced in the plan in force, and nothing is logged as an error.
TEST_P(CurrentMachine, APlanChosenByPolicyIsEnforced) {
  current_store::ChoosePlanByPolicy(kActivePlan);
  const Minutes policy = {15, 25, 90, 3, 4, 60, 45, 0};
  SeedStandardPolicy(PolicyOf(policy));

  RunPass();

  EXPECT_EQ(LogText(), LogOfEveryChange(kServicePass));
  EXPECT_EQ(StoredMinutes(), policy);
  EXPECT_EQ(current_store::Active(), kActivePlan);
  const StatusRun after = RunStatus();
  EXPECT_EQ(after.exitStatus, kStatusComplies) << after.text;
  EXPECT_TRUE(after.Has("write-access: yes")) << after.text;
}

// The interface is chosen at every pass: a pass after one whose probe found the active plan
// unreadable uses the current functions again, and says so.
TEST_P(CurrentMachine, AProbeThatFailedOnceWorksAtTheNextPass) {
  const Minutes policy = {15, 25, 90, 3, 4, 60, 45, 0};
  SeedStandardPolicy(PolicyOf(policy));
  host::FailCall(host::gated::PowerGetActiveScheme, 1, ERROR_GEN_FAILURE);

  RunPass();
  const std::vector<std::string> first = host::DebugOutput();
  EXPECT_EQ(StoredMinutes(), kSeeded);
  host::ClearDebugOutput();
  RunPass();

  ASSERT_GE(first.size(), 2u);
  EXPECT_NE(first[1], ProbeText()) << "the first probe fell back";
  EXPECT_NE(first[1].find("PowerGetActiveScheme failed with error 31"), std::string::npos)
      << first[1];
  EXPECT_EQ(host::DebugOutput(),
            (std::vector<std::string>{"Reached beginning of PM Update", ProbeText(),
                                      "Reached end of PM Update"}));
  EXPECT_EQ(StoredMinutes(), policy);
}

// Another program changes the scheme between the pass's read and its commit: a setting the
// policy leaves alone keeps the other program's value, and a plan switched to stays active,
// with nothing written into either plan and the commit failed.
TEST_P(CurrentMachine, AChangeMadeDuringThePassStays) {
  SeedStandardPolicy(Dword("ACUserMonIdleTime", 15));
  // The commit begins with the right to write the scheme, the pass's second access check (the
  // first asks whether Windows' policy holds the monitor's time-out).
  host::BeforeCall(host::gated::PowerSettingAccessCheck, 2, [] {
    current_store::SetDword(current_store::OwnValueKey(kActivePlan, current_store::kDiskIdle),
                            current_store::kDcValue, 60);
  });

  RunPassBesideAnotherProgram();

  Minutes expected = kSeeded;
  expected.videoAc = 15;
  expected.diskDc = 1;
  EXPECT_EQ(StoredMinutes(), expected);
  EXPECT_NE(LogText().find("INFO: Commiting of Power Scheme() Succeded"), std::string::npos);
}

TEST_P(CurrentMachine, APlanSwitchedToDuringThePassStaysActive) {
  current_store::SeedDefaults(current_store::kPowerSaver,
                              {300, 120, 900, 300, 3600, 1800, 1200, 600});
  const current_store::Timeouts saver = current_store::StoredTimeouts(current_store::kPowerSaver);
  SeedStandardPolicy(Dword("ACUserMonIdleTime", 15));
  host::BeforeCall(host::gated::PowerSettingAccessCheck, 2,
                   [] { current_store::SetActive(current_store::kPowerSaver); });

  RunPassBesideAnotherProgram();

  EXPECT_EQ(current_store::Active(), current_store::kPowerSaver);
  EXPECT_EQ(StoredMinutes(), kSeeded);
  EXPECT_EQ(current_store::StoredTimeouts(current_store::kPowerSaver), saver);
  EXPECT_EQ(LogText(), Lines({"INFO: .Default User Video Timeout will be changed",
                              "INFO: SetUserAcVideoTimeOut() Succeded",
                              "ERROR: PwrScheme::commit() failed. Another PowerScheme became "
                              "active since it was read; nothing written->System Error: "}));
  EXPECT_EQ(Activations(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Only, CurrentMachine,
                         testing::Values(PowerMachine::kCurrent,
                                         PowerMachine::kCurrentWithoutLegacy),
                         machine_kind::MachineParamName);

}  // namespace
