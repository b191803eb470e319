// What an update pass must leave as it found it, whatever the registry held and whichever
// platform call failed. Taken before the pass, checked after it; the broken invariants come
// back as texts, so the sweep of the pass (GoogleTest) and the fuzzing harness share them:
//
//   - every key, file, event and service handle the pass opened is closed, every block the
//     platform handed it is freed, and no library is left loaded;
//   - nothing in the registry changes but the backup keys, the display settings and, of the
//     scheme store, the time-outs of the active scheme, and those only when that scheme could
//     be read before the pass (a scheme that was never read is never written); no key appears
//     in the store but the active scheme's own settings of a current machine, and the active
//     scheme stays the one it was;
//   - each time-out of the active scheme holds what it held or exactly what the policy asks
//     for (a legacy hibernation delay: the total asked for less the standby time-out stored);
//   - each backup value the pass wrote records what it should: a snapshot value what the
//     active scheme held when the pass began, or what the policy asks for (as read: a value
//     that is missing or no number reads as unset); a value named after a policy value what
//     the scheme held before that change, and only for a change the policy asks for;
//   - the log holds what it held before, then whole lines (after a CR LF where the earlier
//     text ended within a line); files the pass must not write (a link's target) are as they
//     were.
#ifndef PM_TESTS_PASSINVARIANTS_H
#define PM_TESTS_PASSINVARIANTS_H

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "CurrentSchemeStore.h"
#include "HostControl.h"
#include "LogLines.h"
#include "RegistrySchema.h"
#include "SchemeStore.h"
#include "SettingTable.h"

namespace pass_invariants {

inline std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// One line of a registry export: a key ("[path]", value empty) or one value of it, with the
// continuation lines of a long value joined. Key paths and value names in lower case, as the
// registry compares them.
struct Entry {
  std::string key;
  std::string name;
  std::string text;  // the value as exported; empty for the key itself
  bool operator<(const Entry& other) const {
    return std::tie(key, name, text) < std::tie(other.key, other.name, other.text);
  }
  bool operator==(const Entry& other) const {
    return key == other.key && name == other.name && text == other.text;
  }
};

inline std::vector<Entry> Entries(HKEY root) {
  std::vector<Entry> entries;
  std::istringstream text(host::ExportRegText(root, ""));
  std::string key;
  for (std::string line; std::getline(text, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      key = Lower(line.substr(1, line.size() - 2));
      entries.push_back({key, "", ""});
    } else if (!line.empty() && (line[0] == '"' || line[0] == '@')) {
      const size_t close = line[0] == '@' ? 0 : line.find("\"=");
      const std::string name = line[0] == '@' ? "@" : line.substr(1, close - 1);
      entries.push_back({key, Lower(name), line});
    } else if (!line.empty() && !entries.empty() && !entries.back().text.empty()) {
      entries.back().text += "\n" + line;
    }
  }
  return entries;
}

inline std::string HiveName(HKEY root) {
  return root == HKEY_LOCAL_MACHINE ? "hkey_local_machine\\" : "hkey_current_user\\";
}

inline bool IsAtOrBelow(const std::string& key, const std::string& path) {
  return key == path || key.compare(0, path.size() + 1, path + "\\") == 0;
}

// The value's bytes up to its first zero.
inline std::string TextUpToZero(const host::RegValue& value) {
  std::string text(value.data.begin(), value.data.end());
  return text.substr(0, text.find('\0'));
}

// The legacy store's active index, read as liberally as any reader could: decimal digits up to
// the first zero, whatever the type.
inline std::optional<unsigned long long> LegacyActiveIndex() {
  host::RegValue value;
  if (!host::ReadValue(HKEY_CURRENT_USER, scheme_store::kUserPowerCfg, scheme_store::kActiveValue,
                       &value)) {
    return std::nullopt;
  }
  const std::string text = TextUpToZero(value);
  if (text.empty() || text.size() > 10) return std::nullopt;
  unsigned long long index = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    index = index * 10 + static_cast<unsigned>(c - '0');
  }
  if (index > 0xFFFFFFFFull) return std::nullopt;
  return index;
}

inline size_t ValueSize(HKEY root, const std::string& path, const char* name) {
  host::RegValue value;
  return host::ReadValue(root, path, name, &value) ? value.data.size() : 0;
}

// The current store's active scheme as lower-case GUID text, braces or not, whatever the type.
inline std::optional<std::string> CurrentActiveScheme() {
  host::RegValue value;
  if (!host::ReadValue(HKEY_LOCAL_MACHINE, current_store::kSchemes, "ActivePowerScheme", &value)) {
    return std::nullopt;
  }
  std::string text = TextUpToZero(value);
  if (text.size() == 38 && text.front() == '{' && text.back() == '}') {
    text = text.substr(1, 36);
  }
  if (text.size() != 36) return std::nullopt;
  for (size_t i = 0; i < text.size(); ++i) {
    const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash ? text[i] != '-' : !std::isxdigit(static_cast<unsigned char>(text[i]))) {
      return std::nullopt;
    }
  }
  return Lower(text);
}

// A setting side of a current scheme reads from the scheme's own REG_DWORD when it has one,
// else from the setting's default for that scheme.
inline bool IsDword(HKEY root, const std::string& path, const char* name, bool* present) {
  host::RegValue value;
  *present = host::ReadValue(root, path, name, &value);
  return *present && value.type == REG_DWORD && value.data.size() == sizeof(DWORD);
}

inline bool CurrentSchemeReadable(const std::string& scheme) {
  if (!host::KeyExists(HKEY_LOCAL_MACHINE, current_store::SchemeKey(scheme))) return false;
  for (const current_store::Setting& setting : current_store::kAllSettings) {
    for (bool ac : {true, false}) {
      bool present = false;
      const char* side = current_store::SideValue(ac);
      if (IsDword(HKEY_LOCAL_MACHINE, current_store::OwnValueKey(scheme, setting), side,
                  &present)) {
        continue;
      }
      if (present) return false;
      if (!IsDword(HKEY_LOCAL_MACHINE, current_store::DefaultValueKey(scheme, setting), side,
                   &present)) {
        return false;
      }
    }
  }
  return true;
}

// The policy name of the current store's setting `i` of kAllSettings, side 0 AC, 1 DC.
inline const char* CurrentPolicyName(int i, int side) {
  constexpr Timeout kKinds[] = {Timeout::kVideo, Timeout::kStandby, Timeout::kHibernate,
                                Timeout::kSpinDown};
  const PowerSource source = side == 0 ? PowerSource::kAc : PowerSource::kDc;
  for (const Setting& setting : kSettings) {
    if (setting.id.timeout == kKinds[i] && setting.id.source == source) return setting.policyValue;
  }
  return "";
}

// What a setting side of a current scheme reads as (its own value, else its default), or
// nothing when it cannot be read.
inline std::optional<DWORD> CurrentValue(const std::string& scheme,
                                         const current_store::Setting& setting, bool ac) {
  for (const std::string& path : {current_store::OwnValueKey(scheme, setting),
                                  current_store::DefaultValueKey(scheme, setting)}) {
    host::RegValue value;
    if (!host::ReadValue(HKEY_LOCAL_MACHINE, path, current_store::SideValue(ac), &value)) continue;
    if (value.type != REG_DWORD || value.data.size() != sizeof(DWORD)) return std::nullopt;
    DWORD number = 0;
    std::memcpy(&number, value.data.data(), sizeof number);
    return number;
  }
  return std::nullopt;
}

// Every number in seconds a policy value of that name could ask for, under either settings
// root: read as the pass reads a number (one to four bytes, the missing high bytes zero),
// whatever its type, so that nothing the pass may write is missed.
inline std::set<DWORD> PolicyMinutes(const char* name) {
  std::set<DWORD> minutes;
  for (const char* root : {schema::kPolicyRoot, schema::kLocalRoot}) {
    host::RegValue value;
    const std::string path = std::string(root) + "\\" + schema::kAcceptedScheme;
    if (!host::ReadValue(HKEY_LOCAL_MACHINE, path, name, &value)) continue;
    if (value.data.empty() || value.data.size() > sizeof(DWORD)) continue;
    DWORD number = 0;
    std::memcpy(&number, value.data.data(), value.data.size());
    minutes.insert(number);
  }
  return minutes;
}

inline std::set<DWORD> PolicySeconds(const char* name) {
  std::set<DWORD> seconds;
  for (const char* root : {schema::kPolicyRoot, schema::kLocalRoot}) {
    host::RegValue value;
    const std::string path = std::string(root) + "\\" + schema::kAcceptedScheme;
    if (!host::ReadValue(HKEY_LOCAL_MACHINE, path, name, &value)) continue;
    if (value.data.empty() || value.data.size() > sizeof(DWORD)) continue;
    DWORD minutes = 0;
    std::memcpy(&minutes, value.data.data(), value.data.size());
    seconds.insert(minutes * 60u);
  }
  return seconds;
}

// The member of a legacy record a setting is stored in (hibernation: the delay after standby).
inline ULONG& LegacySeconds(POWER_POLICY& p, const Setting& setting) {
  const bool ac = setting.id.source == PowerSource::kAc;
  switch (setting.id.timeout) {
    case Timeout::kVideo:
      return ac ? p.user.VideoTimeoutAc : p.user.VideoTimeoutDc;
    case Timeout::kStandby:
      return ac ? p.user.IdleTimeoutAc : p.user.IdleTimeoutDc;
    case Timeout::kHibernate:
      return ac ? p.mach.DozeS4TimeoutAc : p.mach.DozeS4TimeoutDc;
    case Timeout::kSpinDown:
      return ac ? p.user.SpindownTimeoutAc : p.user.SpindownTimeoutDc;
    case Timeout::kMachineStandby:
      break;
  }
  return ac ? p.mach.DozeTimeoutAc : p.mach.DozeTimeoutDc;
}
inline ULONG LegacySeconds(const POWER_POLICY& p, const Setting& setting) {
  return LegacySeconds(const_cast<POWER_POLICY&>(p), setting);
}

// A setting of a legacy record in minutes, as the system reads it: hibernation is the standby
// time-out plus the delay after it, each truncated to minutes, and never when there is no delay.
inline DWORD LegacyMinutes(const POWER_POLICY& p, const Setting& setting) {
  const ULONG seconds = LegacySeconds(p, setting);
  if (setting.id.timeout != Timeout::kHibernate) return seconds / 60;
  if (seconds == 0) return 0;
  const ULONG standby =
      setting.id.source == PowerSource::kAc ? p.user.IdleTimeoutAc : p.user.IdleTimeoutDc;
  return standby / 60 + seconds / 60;
}

// The current store's setting that holds a setting of the table.
inline const current_store::Setting& CurrentSettingOf(const Setting& setting) {
  switch (setting.id.timeout) {
    case Timeout::kVideo:
      return current_store::kAllSettings[0];
    case Timeout::kStandby:
      return current_store::kAllSettings[1];
    case Timeout::kHibernate:
      return current_store::kAllSettings[2];
    case Timeout::kSpinDown:
    case Timeout::kMachineStandby:
      break;
  }
  return current_store::kAllSettings[3];
}

// A legacy record with every member the eight settings change set to zero.
inline std::vector<uint8_t> UntouchedMembers(POWER_POLICY policy) {
  USER_POWER_POLICY& user = policy.user;
  user.VideoTimeoutAc = user.VideoTimeoutDc = 0;
  user.IdleTimeoutAc = user.IdleTimeoutDc = 0;
  user.IdleAc.Action = user.IdleDc.Action = PowerActionNone;
  user.SpindownTimeoutAc = user.SpindownTimeoutDc = 0;
  policy.mach.DozeS4TimeoutAc = policy.mach.DozeS4TimeoutDc = 0;
  return scheme_store::BytesOf(policy);
}

inline std::string ReadFileBytes(const std::string& path, bool* exists = nullptr) {
  std::ifstream in(path, std::ios::binary);
  if (exists != nullptr) *exists = static_cast<bool>(in);
  std::ostringstream out;
  if (in) out << in.rdbuf();
  return out.str();
}

class PassInvariants {
 public:
  // Takes the state a pass starts from: call once the world is seeded, just before the pass.
  // `watched` are files the pass must not write at all.
  explicit PassInvariants(std::string logPath, std::vector<std::string> watched = {})
      : logPath_(std::move(logPath)), watchedPaths_(std::move(watched)) {
    if (auto index = LegacyActiveIndex()) {
      legacyActive_ = index;
      const std::string id = std::to_string(*index);
      legacyReadable_ =
          ValueSize(HKEY_CURRENT_USER, scheme_store::kUserPolicies + std::string("\\") + id,
                    scheme_store::kPoliciesValue) == sizeof(USER_POWER_POLICY) &&
          ValueSize(HKEY_LOCAL_MACHINE, scheme_store::kMachinePolicies + std::string("\\") + id,
                    scheme_store::kPoliciesValue) == sizeof(MACHINE_POWER_POLICY);
    }
    if (auto scheme = CurrentActiveScheme()) {
      currentActive_ = scheme;
      currentReadable_ = CurrentSchemeReadable(*scheme);
      if (currentReadable_) {
        for (int i = 0; i < 4; ++i) {
          for (int side = 0; side < 2; ++side) {
            const bool ac = side == 0;
            currentValues_[i][side] = *CurrentValue(*scheme, current_store::kAllSettings[i], ac);
            currentAllowed_[i][side] = PolicySeconds(CurrentPolicyName(i, side));
            currentAllowed_[i][side].insert(currentValues_[i][side]);
          }
        }
      }
    }
    registry_ = Registry();
    legacyScheme_ = LegacyActiveMembers();
    legacyBefore_ = LegacyActiveRecord();
    backup_ = BackupEntries();
    log_ = ReadFileBytes(logPath_, &logExisted_);
    for (const std::string& path : watchedPaths_) watched_.push_back(ReadFileBytes(path));
    libraries_ = host::LoadedLibraryCount();
  }

  // The invariants the pass broke, as texts; empty when it kept them all. `failuresInjected`
  // says whether a platform call was made to fail during the pass.
  std::vector<std::string> Broken(bool failuresInjected = false) const {
    std::vector<std::string> broken;
    if (host::OpenHandleCount() != 0) {
      broken.push_back("the pass left " + std::to_string(host::OpenHandleCount()) +
                       " handles open");
    }
    if (host::LocalBlockCount() != 0) broken.push_back("the pass left memory it was given");
    if (host::LoadedLibraryCount() != libraries_)
      broken.push_back("the pass left a library loaded");
    CheckRegistry(&broken);
    CheckLog(failuresInjected, &broken);
    for (size_t i = 0; i < watchedPaths_.size(); ++i) {
      if (ReadFileBytes(watchedPaths_[i]) != watched_[i]) {
        broken.push_back("the pass wrote " + watchedPaths_[i]);
      }
    }
    return broken;
  }

 private:
  // Every entry of both hives but those a pass may change.
  std::vector<Entry> Registry() const {
    std::vector<Entry> kept;
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
      for (Entry& entry : Entries(root)) {
        if (!MayChange(root, entry)) kept.push_back(std::move(entry));
      }
    }
    return kept;
  }

  bool MayChange(HKEY root, const Entry& entry) const {
    const std::string hive = HiveName(root);
    if (IsAtOrBelow(entry.key, hive + Lower(schema::kBackupKey))) return true;
    if (entry.key == hive + "control panel\\desktop") return true;
    // Keys outside the store come and go only as parents of the backup key or the display
    // settings; in the store no key may appear but those below.
    const bool inStore =
        IsAtOrBelow(entry.key, "hkey_current_user\\" + Lower(scheme_store::kUserPowerCfg)) ||
        IsAtOrBelow(entry.key, "hkey_local_machine\\" + Lower(scheme_store::kMachinePowerCfg)) ||
        IsAtOrBelow(entry.key, "hkey_local_machine\\system\\currentcontrolset\\control\\power") ||
        IsAtOrBelow(entry.key, "hkey_local_machine\\" + Lower(current_store::kPolicySettings));
    if (entry.text.empty() && !inStore) return true;

    if (legacyActive_) {
      const std::string id = std::to_string(*legacyActive_);
      // Activating the active scheme again may write its index anew; which one it is shows below.
      if (entry.key == "hkey_current_user\\" + Lower(scheme_store::kUserPowerCfg) &&
          entry.name == Lower(scheme_store::kActiveValue)) {
        return true;
      }
      const bool legacyHalf =
          entry.key == "hkey_current_user\\" + Lower(scheme_store::kUserPolicies) + "\\" + id ||
          entry.key == "hkey_local_machine\\" + Lower(scheme_store::kMachinePolicies) + "\\" + id;
      if (legacyReadable_ && legacyHalf && entry.name == "policies") return true;
    }
    if (currentActive_) {
      if (entry.key == "hkey_local_machine\\" + Lower(current_store::kSchemes) &&
          entry.name == "activepowerscheme") {
        return true;
      }
      if (currentReadable_) {
        const std::string scheme =
            "hkey_local_machine\\" + Lower(current_store::SchemeKey(*currentActive_));
        for (const current_store::Setting& setting : current_store::kAllSettings) {
          const std::string group = scheme + "\\" + setting.subgroup;
          const std::string own = group + "\\" + setting.setting;
          if (entry.key == group && entry.text.empty()) return true;
          if (entry.key == own && (entry.text.empty() || entry.name == "acsettingindex" ||
                                   entry.name == "dcsettingindex")) {
            return true;
          }
        }
      }
    }
    return false;
  }

  // Both halves of the active legacy scheme, but for what the settings change; empty when the
  // scheme is not readable.
  std::vector<uint8_t> LegacyActiveMembers() const {
    if (!legacyActive_ || !legacyReadable_) return {};
    const std::string id = std::to_string(*legacyActive_);
    host::RegValue user, mach;
    POWER_POLICY policy;
    std::memset(&policy, 0, sizeof policy);
    if (!host::ReadValue(HKEY_CURRENT_USER, scheme_store::kUserPolicies + std::string("\\") + id,
                         scheme_store::kPoliciesValue, &user) ||
        !host::ReadValue(HKEY_LOCAL_MACHINE,
                         scheme_store::kMachinePolicies + std::string("\\") + id,
                         scheme_store::kPoliciesValue, &mach) ||
        user.data.size() != sizeof policy.user || mach.data.size() != sizeof policy.mach) {
      return {1};  // matches no readable record
    }
    std::memcpy(&policy.user, user.data.data(), sizeof policy.user);
    std::memcpy(&policy.mach, mach.data.data(), sizeof policy.mach);
    return UntouchedMembers(policy);
  }

  void CheckRegistry(std::vector<std::string>* broken) const {
    const std::vector<Entry> now = Registry();
    if (now != registry_) {
      std::multiset<Entry> before(registry_.begin(), registry_.end());
      std::multiset<Entry> after(now.begin(), now.end());
      std::string what = "the registry changed where no pass writes:";
      int shown = 0;
      for (const Entry& e : registry_) {
        if (after.count(e) == 0 && shown++ < 4) what += "\n  gone: [" + e.key + "] " + e.text;
      }
      for (const Entry& e : now) {
        if (before.count(e) == 0 && shown++ < 8) what += "\n  new:  [" + e.key + "] " + e.text;
      }
      if (shown == 0) what += " (the order of values changed)";
      broken->push_back(what);
    }
    if (legacyActive_ && LegacyActiveIndex() != legacyActive_) {
      broken->push_back("another legacy scheme was made active");
    }
    if (currentActive_ && CurrentActiveScheme() != currentActive_) {
      broken->push_back("another current scheme was made active");
    }
    if (LegacyActiveMembers() != legacyScheme_) {
      broken->push_back("the active legacy scheme changed in members no setting changes");
    }
    CheckCurrentValues(broken);
    CheckLegacyValues(broken);
    CheckBackup(broken);
  }

  // The active legacy scheme's record, both halves, when it is readable.
  std::optional<POWER_POLICY> LegacyActiveRecord() const {
    if (!legacyActive_ || !legacyReadable_) return std::nullopt;
    const std::string id = std::to_string(*legacyActive_);
    host::RegValue user, mach;
    if (!host::ReadValue(HKEY_CURRENT_USER, scheme_store::kUserPolicies + std::string("\\") + id,
                         scheme_store::kPoliciesValue, &user) ||
        !host::ReadValue(HKEY_LOCAL_MACHINE,
                         scheme_store::kMachinePolicies + std::string("\\") + id,
                         scheme_store::kPoliciesValue, &mach) ||
        user.data.size() != sizeof(USER_POWER_POLICY) ||
        mach.data.size() != sizeof(MACHINE_POWER_POLICY)) {
      return std::nullopt;
    }
    POWER_POLICY policy;
    std::memcpy(&policy.user, user.data.data(), sizeof policy.user);
    std::memcpy(&policy.mach, mach.data.data(), sizeof policy.mach);
    return policy;
  }

  // Each time-out of the active legacy scheme holds what it held or exactly what the policy
  // asks for; a hibernation delay is the total asked for less the standby time-out stored.
  void CheckLegacyValues(std::vector<std::string>* broken) const {
    if (!legacyBefore_) return;
    const std::optional<POWER_POLICY> now = LegacyActiveRecord();
    if (!now) return;  // the record's size changed: LegacyActiveMembers has said so
    for (const Setting& setting : kSettings) {
      const ULONG stored = LegacySeconds(*now, setting);
      if (stored == LegacySeconds(*legacyBefore_, setting)) continue;
      bool asked = false;
      for (const DWORD minutes : PolicyMinutes(setting.policyValue)) {
        if (setting.id.timeout != Timeout::kHibernate) {
          asked = asked || stored == minutes * 60u;
        } else {
          const ULONG standby = setting.id.source == PowerSource::kAc ? now->user.IdleTimeoutAc
                                                                      : now->user.IdleTimeoutDc;
          asked = asked || stored == (minutes == 0 ? 0u : minutes * 60u - standby / 60 * 60);
        }
      }
      if (!asked) {
        broken->push_back(std::string("the active legacy scheme's ") + setting.policyValue +
                          " setting holds " + std::to_string(stored) +
                          " seconds, neither what it held nor what the policy asks for");
      }
    }
  }

  // What the active scheme held of a setting when the pass began, in minutes, by each store
  // that could be read (the pass reads one of them).
  std::set<DWORD> FoundMinutes(const Setting& setting) const {
    std::set<DWORD> found;
    if (legacyBefore_) found.insert(LegacyMinutes(*legacyBefore_, setting));
    if (currentActive_ && currentReadable_) {
      const int i = static_cast<int>(&CurrentSettingOf(setting) - current_store::kAllSettings);
      found.insert(currentValues_[i][setting.id.source == PowerSource::kAc ? 0 : 1] / 60);
    }
    return found;
  }

  // Whether the scheme as found held the setting in whole minutes: one that held 59 or 61
  // seconds is changed even where the policy's minutes equal the minutes it reports.
  bool FoundInWholeMinutes(const Setting& setting) const {
    if (legacyBefore_ && setting.id.timeout != Timeout::kHibernate &&
        LegacySeconds(*legacyBefore_, setting) % 60 != 0) {
      return false;
    }
    if (currentActive_ && currentReadable_) {
      const int i = static_cast<int>(&CurrentSettingOf(setting) - current_store::kAllSettings);
      if (currentValues_[i][setting.id.source == PowerSource::kAc ? 0 : 1] % 60 != 0) return false;
    }
    return true;
  }

  // The values of both backup keys, as exported.
  static std::vector<Entry> BackupEntries() {
    std::vector<Entry> entries;
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
      const std::string key = HiveName(root) + Lower(schema::kBackupKey);
      for (Entry& entry : Entries(root)) {
        if (entry.key == key && !entry.text.empty()) entries.push_back(std::move(entry));
      }
    }
    return entries;
  }

  // Each backup value the pass wrote (new, or other than it was) records what it should.
  void CheckBackup(std::vector<std::string>* broken) const {
    for (const Entry& entry : BackupEntries()) {
      if (std::find(backup_.begin(), backup_.end(), entry) != backup_.end()) continue;
      const size_t dword = entry.text.find("=dword:");
      if (dword == std::string::npos) {
        broken->push_back("a backup value is no REG_DWORD: " + entry.text);
        continue;
      }
      const DWORD value = static_cast<DWORD>(std::stoul(entry.text.substr(dword + 7), nullptr, 16));
      for (const Setting& setting : kSettings) {
        const std::set<DWORD> found = FoundMinutes(setting);
        if (found.empty()) continue;  // no scheme to judge by
        const std::set<DWORD> policy = PolicyMinutes(setting.policyValue);
        const auto what = [&](const char* record) {
          return std::string("the backup value ") + entry.text + " is not " + record;
        };
        if (setting.snapshotCurrent != nullptr && entry.name == Lower(setting.snapshotCurrent) &&
            found.count(value) == 0) {
          broken->push_back(what("what the scheme held when the pass began"));
        }
        if (setting.snapshotPolicy != nullptr && entry.name == Lower(setting.snapshotPolicy) &&
            policy.count(value) == 0 && value != 0xFFFFFFFFu) {
          broken->push_back(what("what the policy asks for"));
        }
        if (entry.name == Lower(setting.policyValue)) {
          if (found.count(value) == 0) {
            broken->push_back(what("what the scheme held before the change"));
          }
          // A change is made only where the policy asks for other than the scheme holds, to the
          // second. (A
          // hibernation total is compared once the standby time-out is set: not judged here.)
          const bool whole = FoundInWholeMinutes(setting);
          const bool asked = std::any_of(policy.begin(), policy.end(), [&](DWORD minutes) {
            return (minutes != value || !whole) && minutes < schema::kEnforcedBelow;
          });
          if (setting.id.timeout != Timeout::kHibernate && !asked) {
            broken->push_back(what("of a change the policy asks for"));
          }
        }
      }
    }
  }

  // Each time-out of the active current scheme holds what it held or what the policy asks for:
  // a scheme committed without being read would show other numbers (zeros).
  void CheckCurrentValues(std::vector<std::string>* broken) const {
    if (!currentActive_ || !currentReadable_) return;
    for (int i = 0; i < 4; ++i) {
      for (int side = 0; side < 2; ++side) {
        const std::optional<DWORD> now =
            CurrentValue(*currentActive_, current_store::kAllSettings[i], side == 0);
        if (!now || currentAllowed_[i][side].count(*now) == 0) {
          broken->push_back(std::string("the active current scheme's ") +
                            CurrentPolicyName(i, side) + " setting holds " +
                            (now ? std::to_string(*now) : "no number") +
                            ", neither what it held nor what the policy asks for");
        }
      }
    }
  }

  void CheckLog(bool failuresInjected, std::vector<std::string>* broken) const {
    bool exists = false;
    const std::string now = ReadFileBytes(logPath_, &exists);
    if (!exists) {
      if (logExisted_) broken->push_back("the log file is gone");
      return;
    }
    if (now.compare(0, log_.size(), log_) != 0) {
      broken->push_back("the log lost what it held:\n" + now);
      return;
    }
    std::string added = now.substr(log_.size());
    // A line is never glued to a torn one, unless reading the last byte was what failed.
    const bool torn = !log_.empty() && log_.back() != '\n';
    if (torn && !added.empty()) {
      if (added.compare(0, 2, "\r\n") == 0) {
        added.erase(0, 2);
      } else if (!failuresInjected) {
        broken->push_back("a line was glued to the torn last line:\n" + now);
      }
    }
    if (!IsWholeLogLines(added)) broken->push_back("a log line is not whole:\n" + now);
  }

  std::string logPath_;
  std::vector<std::string> watchedPaths_;
  std::optional<unsigned long long> legacyActive_;
  bool legacyReadable_ = false;
  std::optional<std::string> currentActive_;
  bool currentReadable_ = false;
  DWORD currentValues_[4][2] = {};
  std::set<DWORD> currentAllowed_[4][2];
  std::vector<Entry> registry_;
  std::vector<uint8_t> legacyScheme_;
  std::optional<POWER_POLICY> legacyBefore_;
  std::vector<Entry> backup_;
  std::string log_;
  bool logExisted_ = false;
  std::vector<std::string> watched_;
  size_t libraries_ = 0;
};

}  // namespace pass_invariants

#endif
