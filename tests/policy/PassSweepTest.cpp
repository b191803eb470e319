// A whole pass with all eight settings changing, and one over a machine that already holds the
// policy, swept: every platform call it makes fails in turn, once and from then on. The run
// without failures must end in the outcome spelled out here; every other run in that same
// outcome or with an ERROR line naming the failure, and never half-done. A pass that finds
// nothing to change commits nothing, whichever call fails.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "HostCurrentSchemeStore.h"
#include "MachineKindFixture.h"
#include "PMEventReporter.h"
#include "PassInvariants.h"
#include "PowerMachine.h"
#include "SweepEveryCall.h"

namespace {

using machine_kind::Minutes;
using pass_invariants::Entry;

struct PassRun {
  const char* name;
  const PassVariant* variant;
  bool limitedUser;  // commits through the security bypass
  host::PowerMachine machine;
  bool tornLog;  // the log ends inside a line
  // The scheme holds the policy, and a pass has recorded it: the pass finds nothing to change.
  bool enforced = false;
};

void PrintTo(const PassRun& run, std::ostream* out) { *out << run.name; }

// The machine of the sweep's parameter, for MachineKindFixture.
host::PowerMachine MachineOf(const PassRun& run) { return run.machine; }

const Minutes kPolicy = {15, 25, 90, 3, 4, 60, 45, 0};

// What a pass leaves: the log's bytes and every entry of both hives.
struct Outcome {
  std::string log;
  std::multiset<Entry> registry;

  static Outcome Now(const std::string& logPath) {
    Outcome outcome;
    outcome.log = pass_invariants::ReadFileBytes(logPath);
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
      for (Entry& entry : pass_invariants::Entries(root)) outcome.registry.insert(std::move(entry));
    }
    return outcome;
  }
};

// The registry entries in `a` and not in `b`, as text.
std::string Missing(const std::multiset<Entry>& a, const std::multiset<Entry>& b) {
  std::vector<Entry> gone;
  std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(gone));
  std::string text;
  for (const Entry& e : gone) text += "\n  [" + e.key + "] " + e.text;
  return text;
}

std::vector<std::string> LinesOf(const std::string& text) {
  std::vector<std::string> lines;
  size_t at = 0;
  for (size_t end = text.find("\r\n"); end != std::string::npos; end = text.find("\r\n", at)) {
    lines.push_back(text.substr(at, end - at));
    at = end + 2;
  }
  return lines;
}

class PassSweepTest : public machine_kind::MachineKindFixture<PassRun> {
 protected:
  static constexpr const char* kEarlierLines = "INFO: an earlier pass\r\n";
  static constexpr const char* kTornLine = "INFO: an earlier pass, torn";

  static const PassRun& Run() { return GetParam(); }

  std::string SeededLog() const {
    return std::string(kEarlierLines) + (Run().tornLog ? kTornLine : "");
  }

  // The world every run starts from, the log aside.
  void SeedWorld() {
    host::Reset();
    host::SetDebugEcho(false);
    ForgetReportedWarnings();
    SeedSchemes(scheme_store::DistinctPolicy());
    StartMachine();
    host::SetLimitedUser(Run().limitedUser);
    if (!Run().enforced) {
      SeedStandardPolicy(PolicyOf(kPolicy));
      return;
    }
    // The scheme's own time-outs as the policy, so that a user who stores the user half alone
    // holds it too; one pass records the snapshot.
    SeedStandardPolicy(PolicyOf(machine_kind::kSeeded));
    RunPolicyPass(*Run().variant);
    ForgetReportedWarnings();
    host::ClearReportedEvents();
  }

  void Prepare() {
    if (!clean_) clean_ = CleanOutcome();
    SeedWorld();
    std::ofstream(logPath_, std::ios::binary | std::ios::trunc) << SeededLog();
    if (!seeded_) seeded_ = Outcome::Now(logPath_);
    invariants_.emplace(logPath_);
  }

  // The outcome of the pass without failures: the world as seeded, changed as spelled out here.
  Outcome CleanOutcome() {
    SeedWorld();
    if (Run().enforced) {
      // Everything as it was, and one line.
      Outcome clean = Outcome::Now("");
      clean.log = SeededLog() + (Run().tornLog ? "\r\n" : "") + Lines({kNothingToCommit});
      return clean;
    }
    const PassVariant& variant = *Run().variant;
    const bool bypass = Run().limitedUser;
    // The backup key: the snapshot, then what each change replaced.
    for (const auto& [name, value] : Concat(machine_kind::Snapshot(machine_kind::kSeeded, kPolicy),
                                            machine_kind::Replaced(machine_kind::kSeeded))) {
      host::WriteDword(variant.backupRoot, schema::kBackupKey, name, value);
    }
    // The scheme: a legacy machine stores both halves, or through the bypass the user's half
    // alone; a current one stores the plan's own values, or nothing through the bypass.
    std::vector<std::string> lines;
    for (const Setting& setting : kSettings) {
      lines.push_back(std::string("INFO: ") + setting.*variant.announcement);
      lines.push_back(std::string("INFO: ") + setting.successLine);
    }
    if (Current()) {
      if (bypass) {
        lines.push_back(
            "ERROR: PwrScheme::commit(): Current User has insufficient priviledges to write "
            "active power scheme and no override has been set.->System Error: ");
      } else {
        for (const Setting& setting : kSettings) {
          const bool ac = setting.id.source == PowerSource::kAc;
          host::WriteDword(
              HKEY_LOCAL_MACHINE, current_store::OwnValueKey(kActivePlan, CurrentSetting(setting)),
              current_store::SideValue(ac), machine_kind::MinutesOf(kPolicy, setting) * 60);
        }
        lines.push_back("INFO: Commiting of Power Scheme() Succeded");
      }
    } else {
      const POWER_POLICY after = SchemeAfterAllDiffer();
      host::WriteValue(HKEY_CURRENT_USER, scheme_store::UserKey(kActiveScheme),
                       scheme_store::kPoliciesValue, REG_BINARY, scheme_store::BytesOf(after.user));
      if (!bypass) {
        host::WriteValue(HKEY_LOCAL_MACHINE, scheme_store::MachineKey(kActiveScheme),
                         scheme_store::kPoliciesValue, REG_BINARY,
                         scheme_store::BytesOf(after.mach));
      }
      lines.push_back("INFO: Commiting of Power Scheme() Succeded");
      if (bypass) lines.push_back("INFO: NB: Hibernation not set due to user permissions");
    }
    // On the legacy interface the display settings follow the scheme in memory, stored or not;
    // the current one makes no display calls.
    if (!Current()) {
      host::WriteString(HKEY_CURRENT_USER, "Control Panel\\Desktop", "PowerOffActive", "1");
      host::WriteString(HKEY_CURRENT_USER, "Control Panel\\Desktop", "PowerOffTimeOut", "900");
    }

    Outcome clean = Outcome::Now("");
    clean.log = SeededLog() + (Run().tornLog ? "\r\n" : "") + Lines(lines);
    return clean;
  }

  static const current_store::Setting& CurrentSetting(const Setting& setting) {
    switch (setting.id.timeout) {
      case Timeout::kVideo:
        return current_store::kVideoIdle;
      case Timeout::kStandby:
        return current_store::kStandbyIdle;
      case Timeout::kHibernate:
        return current_store::kHibernateIdle;
      case Timeout::kSpinDown:
      case Timeout::kMachineStandby:
        break;
    }
    return current_store::kDiskIdle;
  }

  void CheckInvariants() {
    for (const std::string& broken : invariants_->Broken(true)) ADD_FAILURE() << broken;
    if (!Run().enforced) return;
    // Nothing the policy asks for differs, so no failure can make anything to commit.
    for (const host::FailableFunction& commit :
         {host::gated::WritePwrScheme, host::gated::SetActivePwrScheme,
          host::gated::PowerWriteACValueIndex, host::gated::PowerWriteDCValueIndex,
          host::gated::PowerSetActiveScheme, host::gated::SystemParametersInfoA}) {
      EXPECT_EQ(host::CallCount(commit), 0u) << commit.name;
    }
  }

  // The failures a pass does not name in its log, each with the reason. A run whose failures
  // include one of these may end neither in the clean outcome nor with an ERROR line, but
  // never half-done.
  static const char* Unreported(const std::string& function) {
    static const std::map<std::string, const char*> kUnreported = {
        // The pass's own settings (where and whether to log, the policy's numbers): a value
        // that cannot be read is taken as absent, and a key that cannot be opened as empty,
        // so the pass does less, or nothing, and says so in no line.
        {"RegOpenKeyExA", "a key that cannot be opened is read as empty"},
        {"RegQueryValueExA", "a value that cannot be read is read as absent"},
        // The log cannot carry the failure of its own open or of its own writes.
        {"ExpandEnvironmentStringsA", "the log's path; without it there is no log"},
        {"GetFullPathNameA", "the log's path; without it there is no log"},
        {"CreateFileA", "the log's open"},
        {"GetFileType", "the log's check of what it opened"},
        {"GetFileInformationByHandle", "the log's check of what it opened"},
        {"GetFinalPathNameByHandleA", "the log's check of what it opened"},
        {"GetFileSize", "the log's end"},
        {"SetFilePointer", "the log's end"},
        {"ReadFile", "the log's last byte"},
        {"WriteFile", "the log's own line"},
        {"LoadLibraryA", "the functions the log checks its path with"},
        {"GetProcAddress", "the functions the log checks its path with"},
        // What is written stays written: a flush only hastens it to the disk, and a failed
        // one is not checked. A backup value or a scheme whose flush failed is in the
        // registry as the pass wrote it; only its surviving a power cut is unknown.
        {"RegFlushKey", "a flush that fails is not checked"},
        // The display settings follow the scheme after its commit, which the pass has reported
        // already; their own setting is not checked.
        {"SystemParametersInfoA", "the display settings are not checked"},
        // The right to write schemes has no failure of its own: a check that fails is the
        // answer no, and the pass stores what a user without the right may store.
        {"CanUserWritePwrScheme", "a failed check of the right to write is the answer no"},
        {"PowerSettingAccessCheck", "a failed check of the right to write is the answer no"},

    };
    const auto found = kUnreported.find(function);
    return found == kUnreported.end() ? nullptr : found->second;
  }

  static bool IsSnapshotOfPolicy(const std::string& name) {
    for (const Setting& setting : kSettings) {
      if (setting.snapshotPolicy != nullptr &&
          pass_invariants::Lower(setting.snapshotPolicy) == name) {
        return true;
      }
    }
    return false;
  }

  void CheckOutcome(const SweepRun& run) {
    const Outcome now = Outcome::Now(logPath_);
    if (run.failing == 0) {
      EXPECT_EQ(now.log, clean_->log);
      EXPECT_TRUE(now.registry == clean_->registry)
          << "missing:" << Missing(clean_->registry, now.registry)
          << "\nunexpected:" << Missing(now.registry, clean_->registry);
      return;
    }
    // Nothing half-done: every backup value holds either what it held before the pass or what
    // the clean pass leaves in it, so a backup value of a change never attempted, or of another
    // number, shows here. (The scheme store is held value by value by the invariants: each
    // time-out as found or as the policy asks.) A read that failed shows the pass a policy
    // without that value: its snapshot then records the policy as absent, and the display
    // follows the scheme as it stays.
    const bool readFailed =
        std::any_of(run.failed.begin(), run.failed.end(), [](const std::string& function) {
          return function == "RegOpenKeyExA" || function == "RegQueryValueExA";
        });
    for (const Entry& entry : now.registry) {
      const bool backup = entry.key.find("\\backup") != std::string::npos;
      const bool desktop = entry.key.find("control panel\\desktop") != std::string::npos;
      if (!(backup || desktop) || (readFailed && (desktop || IsSnapshotOfPolicy(entry.name)))) {
        continue;
      }
      if (clean_->registry.count(entry) == 0 && seeded_->registry.count(entry) == 0) {
        ADD_FAILURE() << "a value neither as found nor as the clean pass leaves it: [" << entry.key
                      << "] " << entry.text;
      }
    }
    if (now.log == clean_->log && now.registry == clean_->registry) return;

    // The failure is named: an ERROR line the clean pass does not write.
    const std::vector<std::string> cleanLines = LinesOf(clean_->log);
    for (const std::string& line : LinesOf(now.log)) {
      if (line.rfind("ERROR: ", 0) == 0 &&
          std::find(cleanLines.begin(), cleanLines.end(), line) == cleanLines.end()) {
        return;
      }
    }
    for (const std::string& function : run.failed) {
      if (Unreported(function) != nullptr) return;
    }
    // The copy a user without the right to write schemes stores (the security bypass) has no
    // failure of its own: when the active scheme cannot be learnt at the commit, its key not
    // opened or the copy not written, it leaves the scheme as it was and the commit still
    // counts as done. That run is the clean one but for the user's half of the scheme.
    if (Run().limitedUser && !Current() && now.log == clean_->log) {
      const std::string userHalf =
          pass_invariants::Lower("hkey_current_user\\" + scheme_store::UserKey(kActiveScheme));
      auto withSeededHalf = [&](std::multiset<Entry> registry) {
        for (auto it = registry.begin(); it != registry.end();) {
          it = it->key == userHalf && !it->text.empty() ? registry.erase(it) : std::next(it);
        }
        for (const Entry& e : seeded_->registry) {
          if (e.key == userHalf && !e.text.empty()) registry.insert(e);
        }
        return registry;
      };
      if (now.registry == withSeededHalf(clean_->registry)) return;
    }
    ADD_FAILURE() << "the run ended neither in the clean outcome nor with an ERROR line naming "
                     "the failure of "
                  << (run.failed.empty() ? std::string("nothing") : run.failed.front())
                  << "\nlog:\n"
                  << now.log << "\nmissing:" << Missing(clean_->registry, now.registry)
                  << "\nunexpected:" << Missing(now.registry, clean_->registry);
  }

  std::optional<Outcome> clean_;
  std::optional<Outcome> seeded_;  // the world a run starts from
  std::optional<pass_invariants::PassInvariants> invariants_;
};

TEST_P(PassSweepTest, EndsInTheCleanOutcomeOrNamesTheFailure) {
  SweepEveryCall({std::string("update pass, ") + Run().name, [this] { Prepare(); },
                  [] { RunPolicyPass(*Run().variant); }, [this] { CheckInvariants(); },
                  [this](const SweepRun& run) { CheckOutcome(run); }});
}

INSTANTIATE_TEST_SUITE_P(
    Variants, PassSweepTest,
    ::testing::Values(PassRun{"service, administrator", &kServicePass, false,
                              host::PowerMachine::kLegacyOnly, false},
                      PassRun{"logon tool, administrator, torn log", &kLogonPass, false,
                              host::PowerMachine::kLegacyOnly, true},
                      PassRun{"logon tool, limited user", &kLogonPass, true,
                              host::PowerMachine::kLegacyOnly, false},
                      PassRun{"service, current machine, torn log", &kServicePass, false,
                              host::PowerMachine::kCurrent, true},
                      PassRun{"logon tool, limited user, current machine", &kLogonPass, true,
                              host::PowerMachine::kCurrent, false},
                      PassRun{"service, nothing to change", &kServicePass, false,
                              host::PowerMachine::kLegacyOnly, false, true},
                      PassRun{"logon tool, limited user, nothing to change, torn log", &kLogonPass,
                              true, host::PowerMachine::kLegacyOnly, true, true},
                      PassRun{"service, current machine, nothing to change", &kServicePass, false,
                              host::PowerMachine::kCurrent, false, true}),
    [](const ::testing::TestParamInfo<PassRun>& info) {
      std::string name = info.param.name;
      for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
      }
      return name;
    });

}  // namespace
