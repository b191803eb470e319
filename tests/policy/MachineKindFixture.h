// Tests that run on both kinds of machine: a legacy one (Windows 2000/XP, the legacy
// power-scheme functions) and a current one (Vista and later, the current functions over their
// own store; some also on a later one that no longer exports the legacy functions). The policy
// means the same on both, so a test expects the same outcome in minutes whatever the machine; only
// how the scheme is seeded and read back differs.
//
// The scheme, active, in minutes: monitor 20/7, standby 10/5, hibernation (total) 70/45, disk
// 30/15. On a legacy machine it is PassFixture's scheme kActiveScheme between its neighbours; on
// a current one the plan kActivePlan, which is not the first the store lists, between two plans
// that hold other values.
#ifndef PM_TESTS_MACHINEKINDFIXTURE_H
#define PM_TESTS_MACHINEKINDFIXTURE_H

#include <gtest/gtest.h>

#include <cctype>
#include <ostream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "HostCurrentSchemeStore.h"
#include "PassFixture.h"
#include "PowerMachine.h"

namespace machine_kind {

using host::PowerMachine;

// The eight time-outs of a scheme, in minutes, in the pass's order of mains, then battery.
struct Minutes {
  DWORD videoAc, standbyAc, hibernateAc, videoDc, standbyDc, hibernateDc, diskAc, diskDc;
  bool operator==(const Minutes& o) const {
    return videoAc == o.videoAc && standbyAc == o.standbyAc && hibernateAc == o.hibernateAc &&
           videoDc == o.videoDc && standbyDc == o.standbyDc && hibernateDc == o.hibernateDc &&
           diskAc == o.diskAc && diskDc == o.diskDc;
  }
};

inline void PrintTo(const Minutes& m, std::ostream* out) {
  *out << "monitor " << m.videoAc << "/" << m.videoDc << ", standby " << m.standbyAc << "/"
       << m.standbyDc << ", hibernation " << m.hibernateAc << "/" << m.hibernateDc << ", disk "
       << m.diskAc << "/" << m.diskDc;
}

inline const Minutes kSeeded = {20, 10, 70, 7, 5, 45, 30, 15};

// The seconds of the active plan as seeded, and of its neighbours.
inline const current_store::Timeouts kSeededSeconds = {1200, 420, 600, 300, 4200, 2700, 1800, 900};
inline current_store::Timeouts NeighbourSeconds(unsigned n) {
  const DWORD more = (n + 1) * 120;
  const current_store::Timeouts& t = kSeededSeconds;
  return {t.videoAc + more,     t.videoDc + more,     t.standbyAc + more, t.standbyDc + more,
          t.hibernateAc + more, t.hibernateDc + more, t.diskAc + more,    t.diskDc + more};
}

// The same scheme on a legacy machine, whose record keeps hibernation as the delay after
// standby: 60 and 40 minutes.
inline POWER_POLICY SeededLegacyPolicy() {
  POWER_POLICY policy = scheme_store::DistinctPolicy();
  policy.mach.DozeS4TimeoutAc = 60 * 60;
  policy.mach.DozeS4TimeoutDc = 40 * 60;
  return policy;
}

// Where each kind of scheme keeps a setting's seconds.
using pass_invariants::LegacySeconds;

inline DWORD& CurrentSeconds(current_store::Timeouts& t, const Setting& setting) {
  const bool ac = setting.id.source == PowerSource::kAc;
  switch (setting.id.timeout) {
    case Timeout::kVideo:
      return ac ? t.videoAc : t.videoDc;
    case Timeout::kStandby:
      return ac ? t.standbyAc : t.standbyDc;
    case Timeout::kHibernate:
      return ac ? t.hibernateAc : t.hibernateDc;
    case Timeout::kSpinDown:
    case Timeout::kMachineStandby:
      break;
  }
  return ac ? t.diskAc : t.diskDc;
}

// A scheme that keeps a setting at `seconds` against a policy of `policy` minutes: the pass
// changes it unless the seconds are exactly the policy's minutes times 60.
struct SecondsCase {
  const char* name;
  DWORD seconds;
  DWORD policy;
  bool changes;
};

inline const SecondsCase kSecondsCases[] = {
    {"0s_policy_0", 0, 0, false},  {"1s_policy_0", 1, 0, true},   {"59s_policy_0", 59, 0, true},
    {"60s_policy_0", 60, 0, true}, {"61s_policy_0", 61, 0, true}, {"0s_policy_1", 0, 1, true},
    {"1s_policy_1", 1, 1, true},   {"59s_policy_1", 59, 1, true}, {"60s_policy_1", 60, 1, false},
    {"61s_policy_1", 61, 1, true},
};

// The minutes of one setting of the table.
inline DWORD MinutesOf(const Minutes& m, const Setting& setting) {
  const bool ac = setting.id.source == PowerSource::kAc;
  switch (setting.id.timeout) {
    case Timeout::kVideo:
      return ac ? m.videoAc : m.videoDc;
    case Timeout::kStandby:
      return ac ? m.standbyAc : m.standbyDc;
    case Timeout::kHibernate:
      return ac ? m.hibernateAc : m.hibernateDc;
    case Timeout::kSpinDown:
    case Timeout::kMachineStandby:
      break;
  }
  return ac ? m.diskAc : m.diskDc;
}

using BackupValues = std::vector<std::pair<std::string, DWORD>>;

// What the policy's own names record in the backup key: the values each change replaced.
inline BackupValues Replaced(const Minutes& m) {
  BackupValues values;
  for (const Setting& setting : kSettings)
    values.emplace_back(setting.policyValue, MinutesOf(m, setting));
  return values;
}

// The snapshot values of a scheme against a policy: for mains, then battery, what the scheme
// holds, then what the policy asks for (UpdatePassTest spells the order out).
inline BackupValues Snapshot(const Minutes& scheme, const Minutes& policy) {
  BackupValues values;
  for (const PowerSource source : {PowerSource::kAc, PowerSource::kDc}) {
    for (const Setting& setting : kSettings) {
      if (setting.id.source == source && setting.snapshotCurrent != nullptr) {
        values.emplace_back(setting.snapshotCurrent, MinutesOf(scheme, setting));
      }
    }
    for (const Setting& setting : kSettings) {
      if (setting.id.source == source && setting.snapshotPolicy != nullptr) {
        values.emplace_back(setting.snapshotPolicy, MinutesOf(policy, setting));
      }
    }
  }
  return values;
}

// The machine of a test's parameter: the machine itself, or the first of a (machine, case) pair.
inline PowerMachine MachineOf(PowerMachine machine) { return machine; }
template <typename Case>
PowerMachine MachineOf(const std::tuple<PowerMachine, Case>& param) {
  return std::get<0>(param);
}

// Param: the machine, or a (machine, case) pair for a table run on both machines.
template <typename Param = PowerMachine>
class MachineKindFixture : public PassFixture, public testing::WithParamInterface<Param> {
 protected:
  void SetUp() override {
    PassFixture::SetUp();
    StartMachine();
  }

  // A current machine's active plan: High performance, listed between Balanced and Power saver.
  static constexpr const char* kActivePlan = current_store::kHighPerformance;

  // The scheme, active, and a program's first look at the machine.
  static void StartMachine() {
    if (Current()) {
      current_store::SeedDefaults(current_store::kBalanced, NeighbourSeconds(0));
      current_store::SeedDefaults(kActivePlan, kSeededSeconds);
      current_store::SeedDefaults(current_store::kPowerSaver, NeighbourSeconds(1));
      current_store::SetActive(kActivePlan);
    } else {
      // The legacy record keeps hibernation as the delay after standby: 60 and 40 minutes.
      SeedSchemes(scheme_store::DistinctPolicy());
    }
    UsePowerMachine(Machine());
  }

  // The seeded scheme with one setting at `seconds`, as the scheme keeps it: on a legacy machine
  // hibernation's seconds are the delay after standby. For hibernation the standby time-out of
  // the same power source is 0 (never) too, so that the total is the hibernation seconds alone
  // on either kind of machine.
  static void SeedSeconds(const Setting& setting, DWORD seconds) {
    const bool ac = setting.id.source == PowerSource::kAc;
    const bool hibernate = setting.id.timeout == Timeout::kHibernate;
    if (Current()) {
      current_store::Timeouts t = kSeededSeconds;
      if (hibernate) (ac ? t.standbyAc : t.standbyDc) = 0;
      CurrentSeconds(t, setting) = seconds;
      current_store::SeedDefaults(kActivePlan, t);
    } else {
      POWER_POLICY policy = SeededLegacyPolicy();
      if (hibernate) (ac ? policy.user.IdleTimeoutAc : policy.user.IdleTimeoutDc) = 0;
      LegacySeconds(policy, setting) = seconds;
      scheme_store::Seed(kActiveScheme, policy);
    }
  }

  // The seconds the active scheme keeps for one setting, as SeedSeconds seeds them.
  static DWORD StoredSeconds(const Setting& setting) {
    if (Current()) {
      current_store::Timeouts t = current_store::StoredTimeouts(kActivePlan);
      return CurrentSeconds(t, setting);
    }
    POWER_POLICY policy = StoredScheme();
    return LegacySeconds(policy, setting);
  }

  void TearDown() override {
    PassFixture::TearDown();
    UsePowerMachine(PowerMachine::kLegacyOnly);
  }

  static PowerMachine Machine() {
    return MachineOf(testing::WithParamInterface<Param>::GetParam());
  }
  // A current machine, with or without the legacy functions beside the current ones.
  static bool Current() {
    return Machine() == PowerMachine::kCurrent || Machine() == PowerMachine::kCurrentWithoutLegacy;
  }

  // The debug text of the probe each pass makes.
  static std::string ProbeText() {
    return Current() ? "Power scheme interface: current" : kLegacyProbeText;
  }

  // The active scheme as stored, in minutes.
  static Minutes StoredMinutes() {
    if (Current()) {
      const current_store::Timeouts t = current_store::StoredTimeouts(kActivePlan);
      return {t.videoAc / 60,   t.standbyAc / 60,   t.hibernateAc / 60, t.videoDc / 60,
              t.standbyDc / 60, t.hibernateDc / 60, t.diskAc / 60,      t.diskDc / 60};
    }
    // Hibernation: standby plus the delay after it; no delay is never.
    const POWER_POLICY p = StoredScheme();
    auto total = [](ULONG standby, ULONG delay) {
      return delay == 0 ? 0 : standby / 60 + delay / 60;
    };
    return {p.user.VideoTimeoutAc / 60,
            p.user.IdleTimeoutAc / 60,
            total(p.user.IdleTimeoutAc, p.mach.DozeS4TimeoutAc),
            p.user.VideoTimeoutDc / 60,
            p.user.IdleTimeoutDc / 60,
            total(p.user.IdleTimeoutDc, p.mach.DozeS4TimeoutDc),
            p.user.SpindownTimeoutAc / 60,
            p.user.SpindownTimeoutDc / 60};
  }

  static size_t Activations() {
    return host::CallCount(Current() ? host::gated::PowerSetActiveScheme
                                     : host::gated::SetActivePwrScheme);
  }

  static std::string PolicyOf(const Minutes& m) {
    std::string text;
    for (const Setting& setting : kSettings) {
      text += Dword(setting.policyValue, MinutesOf(m, setting));
    }
    return text;
  }
};

inline std::string MachineParamName(const testing::TestParamInfo<host::PowerMachine>& info) {
  return MachineName(info.param);
}

// "LegacyOnly_the_case_s_name" for a (machine, case) pair whose case has a `name`.
struct MachineAndCaseName {
  template <typename Case>
  std::string operator()(
      const testing::TestParamInfo<std::tuple<host::PowerMachine, Case>>& info) const {
    std::string name = std::get<1>(info.param).name;
    for (char& c : name) {
      if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    }
    return std::string(MachineName(std::get<0>(info.param))) + "_" + name;
  }
};

}  // namespace machine_kind

#endif
