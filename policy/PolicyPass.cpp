// The update pass shared by the service and the logon tool (see PassVariant.h for what sets
// them apart). Every object of a pass is created here and released before it returns; what the
// pass opens is closed in one place, PassEnd, on every return.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "BackupKey.h"
#include "PMLog.h"
#include "PassEvents.h"
#include "PassRules.h"
#include "PassVariant.h"
#include "PolicyNumbers.h"
#include "PolicySettings.h"
#include "PowerInterfaceProbe.h"
#include "PwrMgmt.h"
#include "PwrScheme.h"
#include "RegKey.h"
#include "RegistrySchema.h"
#include "SettingTable.h"
#include "SettingsKey.h"
#include "Win32Api.h"

namespace {

// Log levels: a line is written when its level is below the policy's "LogLevel".
constexpr DWORD kErrorLevel = 0;
constexpr DWORD kSuccessLevel = 5;
constexpr DWORD kAnnouncementLevel = 10;

constexpr PowerSource kSources[] = {PowerSource::kAc, PowerSource::kDc};

// Written instead of the commit's success line by a pass that changed no setting: the scheme
// is then neither written nor activated, and the display settings are left alone.
constexpr const char* kNothingToCommit = "No setting changed; Power Scheme not committed";

// What a pass has opened, closed when the pass returns, however it returns: the log by Close,
// then each key by CloseKey (their destructors release nothing). In between, the pass's event
// and the service's end text, once the pass has got as far as writing it: after the log is
// closed, so that whoever waits for either finds the log whole and free.
struct PassEnd {
  explicit PassEnd(PassEvents& passEvents) : events(passEvents) {}
  PassEnd(const PassEnd&) = delete;
  PassEnd& operator=(const PassEnd&) = delete;
  ~PassEnd() {
    log.Close();
    // The log's path is checked when its first line is due, so a refusal is known only now;
    // a pass with no line due never looked at the path.
    if (log.RefusalReason() != nullptr) {
      events.LogTargetRefused(log.RefusedPath(), log.RefusalReason());
    }
    events.End();
    if (endText != nullptr) OutputDebugStringA(endText);
    for (std::optional<RegKey>* key : {&root, &options, &schemeKey}) {
      if (*key) (*key)->CloseKey();
    }
    if (backup) backup->Close();
  }

  PassEvents& events;
  PMLog log;
  std::optional<RegKey> root;
  std::optional<RegKey> options;
  std::optional<RegKey> schemeKey;
  std::optional<BackupKey> backup;
  const char* endText = nullptr;
};

// What the error line about a text of another type says of it.
constexpr const char* kNotATextEnding = "is not a REG_SZ or REG_EXPAND_SZ";

// A key below HKEY_LOCAL_MACHINE as the events name it.
std::string KeyName(const std::string& path) { return "HKEY_LOCAL_MACHINE\\" + path; }

// A text of the policy: of any type but REG_SZ and REG_EXPAND_SZ it reads as absent, and the
// pass says so in its log (when it is open) and in a warning event.
std::string ReadText(RegKey& key, const std::string& keyPath, const char* name, PassEnd& end) {
  bool notAText = false;
  DWORD type = REG_NONE;
  const std::string text = key.GetStrValue(name, &notAText, &type);
  if (notAText) {
    end.log.WriteError(std::string("Policy value ") + name + " " + kNotATextEnding + "; ignored",
                       kErrorLevel);
    end.events.PolicyValueWrongType(KeyName(keyPath), name, type);
  }
  return text;
}

// The policy's time-outs, each read from the scheme key once per pass, when the pass first
// needs it (so a value that holds no number is reported where it always was).
class PolicyTimeouts {
 public:
  PolicyTimeouts(RegKey& schemeKey, PolicyNumbers& policyNumbers)
      : key(schemeKey), numbers(policyNumbers) {}

  DWORD Of(const Setting& setting) {
    std::optional<DWORD>& value = values[&setting - kSettings];
    if (!value) value = numbers.Read(key, setting.policyValue);
    return *value;
  }

 private:
  RegKey& key;
  PolicyNumbers& numbers;
  std::optional<DWORD> values[kSettingCount];
};

// A pass that fails: its error line now, and its event when the pass ends.
void PassFailed(PassEnd& end, const std::string& text) {
  end.log.WriteError(text, kErrorLevel);
  end.events.Failed(text);
}

// The snapshot written before anything changes: for mains, then battery, what the scheme
// holds and then what the policy asks for, for each setting that has snapshot values.
void WriteSnapshot(BackupKey& backup, const PwrScheme& scheme, PolicyTimeouts& policy) {
  for (const PowerSource source : kSources) {
    for (const Setting& setting : kSettings) {
      if (setting.id.source == source && setting.snapshotCurrent != nullptr) {
        backup.Write(setting.snapshotCurrent, scheme.GetTimeOut(setting));
      }
    }
    for (const Setting& setting : kSettings) {
      if (setting.id.source == source && setting.snapshotPolicy != nullptr) {
        backup.Write(setting.snapshotPolicy, policy.Of(setting));
      }
    }
  }
}

// The value Windows' own power policy holds, as a log line gives it.
std::string HeldValue(const WindowsPolicyHold& hold) {
  if (!hold.valueRead) return "a value that cannot be read";
  if (hold.seconds % 60 != 0) return std::to_string(hold.seconds) + " seconds";
  return std::to_string(ToMinutes(hold.seconds)) + " minutes";
}

// A setting Windows' own power policy holds: one line, an error when it holds another value
// than this policy's (no pass can change it), and then the warning event.
void ReportHeld(const Setting& setting, DWORD policy, const SettingPlan& plan, PMLog& log,
                PassEvents& events) {
  const std::string text = std::string(setting.policyValue) +
                           " is held by Windows' own power policy at " + HeldValue(plan.hold);
  if (plan.heldAtPolicy) {
    log.WriteInfo(text + ", as this policy asks; left alone", kSuccessLevel);
    return;
  }
  log.WriteError(text + "; this policy asks for " + std::to_string(policy) +
                     " minutes, which only Windows' policy can set",
                 kErrorLevel);
  if (plan.hold.valueRead) {
    events.HeldByWindowsPolicy(setting.policyValue, ToMinutes(plan.hold.seconds), policy);
  }
}

// Changes every setting whose policy is in range and differs from the scheme, but for those
// Windows' own power policy holds and a "never" of a state the machine cannot enter (already
// so). A refusal is logged and never stops the others. Whether any setter stored a value: a
// refused one stores nothing (a state the machine cannot enter among them), a held setting is
// not set at all, and a setting the pass moves and then moves back has still been stored.
bool EnforceSettings(const PassVariant& variant, BackupKey& backup, PwrScheme& scheme, PMLog& log,
                     PolicyTimeouts& timeouts, PassEvents& events) {
  // A hibernation total counts from the standby time-out, which this loop changes first. The
  // comparison needs the total as it is now; the backup records what the setting was when
  // the pass began, the value that restores the scheme.
  DWORD found[kSettingCount];
  for (size_t i = 0; i < kSettingCount; ++i) found[i] = scheme.GetTimeOut(kSettings[i]);

  bool changed = false;
  for (size_t i = 0; i < kSettingCount; ++i) {
    const Setting& setting = kSettings[i];
    const DWORD policy = timeouts.Of(setting);
    const SettingPlan plan = DecideSetting(setting, policy, scheme);
    switch (plan.decision) {
      case SettingDecision::kSame:
      case SettingDecision::kIgnored:
      case SettingDecision::kNoSuchState:
        continue;
      case SettingDecision::kHeld:
        // Nothing changes, so nothing is replaced: no backup value.
        ReportHeld(setting, policy, plan, log, events);
        continue;
      case SettingDecision::kChange:
      case SettingDecision::kStateNotAvailable:
        break;
    }

    log.WriteInfo(setting.*variant.announcement, kAnnouncementLevel);
    backup.Write(setting.policyValue, found[i]);
    if (scheme.SetTimeOut(setting, policy)) {
      log.WriteError(scheme.GetErrorText(), kErrorLevel);
      if (plan.decision == SettingDecision::kStateNotAvailable) {
        events.StateNotAvailable(setting.policyValue, policy, StateName(setting));
      }
    } else {
      changed = true;
      log.WriteInfo(setting.successLine, kSuccessLevel);
      events.Changed(setting.policyValue, found[i], policy);
    }
  }
  return changed;
}

void CommitScheme(PwrScheme& scheme, PolicyTimeouts& timeouts, PassEnd& end) {
  if (scheme.commit()) {
    PassFailed(end, scheme.GetErrorText());
    return;
  }
  end.log.WriteInfo("Commiting of Power Scheme() Succeded", kSuccessLevel);
  // Without the right to write schemes only the per-user half was stored, so a machine
  // hibernation policy could not take effect; only the mains value is consulted for the note.
  if (scheme.CommittedUserHalfOnly()) {
    end.events.MachineHalfNotStored();
    if (timeouts.Of(SettingOf<Timeout::kHibernate, PowerSource::kAc>()) != 0) {
      end.log.WriteInfo("NB: Hibernation not set due to user permissions", kSuccessLevel);
    }
  }
}

// The part of the pass that needs the scheme: from the name check to the commit.
void EnforceScheme(const PassVariant& variant, const std::string& schemeName,
                   const ProbedPowerInterface& probed, PwrMgmt& mgmt, PolicyNumbers& numbers,
                   PassEnd& end) {
  // The pass's machine: its capabilities are asked for once.
  PwrScheme scheme(mgmt);
  const bool activeUnknown = ReadActiveScheme(mgmt, scheme);
  const DWORD securityBypass = numbers.Read(*end.options, schema::kSecurityBypass);
  const DWORD forceStandby = numbers.Read(*end.options, schema::kForceStandby);
  ApplySwitches(scheme, securityBypass, forceStandby);

  if (!IsAcceptedSchemeName(schemeName)) {
    PassFailed(end, "Invalid Scheme Name");
    return;
  }
  // Time-outs that cannot be read are unknown, not absent.
  if (IsUnreadableKey(*end.schemeKey)) {
    PassFailed(end, UnreadableKeyText(*end.schemeKey));
    return;
  }
  if (!probed.found) {
    PassFailed(end, "No power scheme interface: " + probed.why);
    return;
  }
  // A scheme that was never read holds nothing of the machine's: enforcing against it and
  // committing it would overwrite the active scheme with zeros.
  if (!scheme.IsRead()) {
    // Without an active scheme the query's own failure says more than the read's.
    PassFailed(end, activeUnknown ? mgmt.GetErrorText() : scheme.GetErrorText());
    return;
  }

  // The backup key is opened only once the scheme is known to be enforceable.
  BackupKey& backup = end.backup.emplace(variant.backupRoot, end.log);
  PolicyTimeouts timeouts(*end.schemeKey, numbers);
  WriteSnapshot(backup, scheme, timeouts);
  // A scheme the pass did not change is as it was read: writing it back and activating it
  // again would only tell every program that watches the power settings of a change.
  if (EnforceSettings(variant, backup, scheme, end.log, timeouts, end.events)) {
    CommitScheme(scheme, timeouts, end);
  } else {
    end.log.WriteInfo(kNothingToCommit, kSuccessLevel);
  }
}

}  // namespace

void RunPolicyPass(const PassVariant& variant) {
  if (variant.writesDebugTexts) OutputDebugStringA("Reached beginning of PM Update");

  // A root whose "Control" is not a text does not count. Without any root there is no log to
  // say so in; the warning event says it all the same.
  PassEvents events(variant.eventProgram);
  std::vector<MistypedControl> mistypedControls;
  const char* rootPath = ChooseSettingsRoot(&mistypedControls);
  for (const MistypedControl& control : mistypedControls) {
    events.PolicyValueWrongType(KeyName(control.root), schema::kControl, control.type);
  }
  if (rootPath == nullptr) return;
  SettingsKey settings(rootPath);

  // Chosen afresh at every pass. Declared before what the pass opens, so that it is released
  // last, and powrprof.dll with it.
  ProbedPowerInterface probed;
  PassEnd end(events);
  end.root.emplace(settings.OpenSettings());
  end.options.emplace(settings.OpenOptions());
  probed = ProbePowerInterface();
  PwrMgmt mgmt(probed.power);

  PolicyNumbers numbers(end.log, events);
  if (IsSwitchOn(numbers.Read(*end.options, schema::kLog))) {
    const DWORD threshold = numbers.Read(*end.options, schema::kLogLevel);
    const std::string optionsPath = std::string(rootPath) + schema::kOptionsSubKey;
    end.log.Open(ReadText(*end.options, optionsPath, schema::kLogFile, end), threshold);
  }
  numbers.Release();
  for (const MistypedControl& control : mistypedControls) {
    end.log.WriteError(std::string("Policy value ") + schema::kControl + " under " +
                           KeyName(control.root) + " " + kNotATextEnding +
                           "; the root does not count",
                       kErrorLevel);
  }

  // A root or Options key that cannot be read leaves the version, the scheme's name and the
  // switches unknown: the pass stops before it would act on readings that are not the policy's.
  for (const RegKey* key : {&*end.root, &*end.options}) {
    if (IsUnreadableKey(*key)) {
      PassFailed(end, UnreadableKeyText(*key));
      return;
    }
  }

  const std::string schemeName = ReadText(*end.root, rootPath, schema::kSettingsScheme, end);
  const DWORD version = numbers.Read(*end.root, schema::kMajorVersion);
  if (!IsAcceptedVersion(version)) {
    PassFailed(end, version == 0 ? "Major version NULL" : "Major version too high");
    return;
  }

  if (variant.writesDebugTexts) end.endText = "Reached end of PM Update";
  // Opened before the name is checked, so an invalid name opens (or fails to open) a subkey
  // of that name.
  end.schemeKey.emplace(settings.OpenSubKey(schemeName));
  EnforceScheme(variant, schemeName, probed, mgmt, numbers, end);
}
