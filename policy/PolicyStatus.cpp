#include "PolicyStatus.h"

#include "PassRules.h"
#include "PowerInterfaceProbe.h"
#include "PwrMgmt.h"
#include "PwrScheme.h"
#include "RegKey.h"
#include "RegistrySchema.h"
#include "SettingsKey.h"

namespace {

// The number as the pass reads it, and what kind of reading it was. A REG_DWORD holding the
// unset reading itself counts as absent: the pass cannot tell the two apart either.
PolicyReading ReadNumber(RegKey& key, const char* name) {
  PolicyReading reading;
  const DwordReading read = key.ReadDword(name);
  reading.value = read.value;
  if (read.notANumber) {
    reading.kind = PolicyReading::kNotANumber;
  } else if (read.status != ERROR_SUCCESS && read.status != ERROR_FILE_NOT_FOUND) {
    reading.kind = PolicyReading::kUnreadable;
    reading.error = read.status;
  } else if (reading.value == kUnsetReading) {
    reading.kind = PolicyReading::kAbsent;
  } else {
    reading.kind = PolicyReading::kNumber;
  }
  return reading;
}

// The first number, in the order a pass reads them, of which a pass would log that it is no
// number or cannot be read.
void NoteBadReading(PolicyStatus& status, const char* name, const PolicyReading& reading) {
  if (status.cannotTell != CannotTell::kNo) return;
  if (reading.kind == PolicyReading::kNotANumber) {
    status.cannotTell = CannotTell::kValueNotANumber;
  } else if (reading.kind == PolicyReading::kUnreadable) {
    status.cannotTell = CannotTell::kValueUnreadable;
    status.cannotTellError = reading.error;
  } else {
    return;
  }
  status.cannotTellWhat = name;
}

// The log as a pass would open it, checked without creating or writing it.
LogStatus CheckLog(PolicyStatus& status, RegKey& options) {
  LogStatus log;
  const std::string file = options.GetStrValue(schema::kLogFile);
  const PolicyReading logSwitch = ReadNumber(options, schema::kLog);
  NoteBadReading(status, schema::kLog, logSwitch);
  if (IsSwitchOn(logSwitch.value)) {
    NoteBadReading(status, schema::kLogLevel, ReadNumber(options, schema::kLogLevel));
  }
  if (!IsSwitchOn(logSwitch.value) || file.empty()) {
    log.kind = LogStatus::kOff;
    return log;
  }
  log.kind = LogStatus::kOn;
  log.target = PMLog::Check(file);
  return log;
}

// The root's values, its switches (set on the scheme, as a pass sets them) and, under an
// accepted settings scheme, the eight time-outs.
void ReadPolicy(PolicyStatus& status, PwrScheme& scheme) {
  SettingsKey settings(status.root);
  RegKey root = settings.OpenSettings();
  RegKey options = settings.OpenOptions();

  for (const RegKey* key : {&root, &options}) {
    if (IsUnreadableKey(*key) && status.unreadableKey.empty()) {
      status.unreadableKey = key->Name();
      status.unreadableKeyError = key->OpenStatus();
    }
  }
  status.log = CheckLog(status, options);
  status.schemeName = root.GetStrValue(schema::kSettingsScheme);
  status.schemeNameRead = true;
  status.schemeNameAccepted = IsAcceptedSchemeName(status.schemeName);
  status.version = ReadNumber(root, schema::kMajorVersion);
  NoteBadReading(status, schema::kMajorVersion, status.version);
  status.versionAccepted = IsAcceptedVersion(status.version.value);
  status.securityBypass = ReadNumber(options, schema::kSecurityBypass);
  NoteBadReading(status, schema::kSecurityBypass, status.securityBypass);
  status.securityBypassOn = IsSwitchOn(status.securityBypass.value);
  status.forceStandby = ReadNumber(options, schema::kForceStandby);
  NoteBadReading(status, schema::kForceStandby, status.forceStandby);
  status.forceStandbyOn = IsSwitchOn(status.forceStandby.value);
  ApplySwitches(scheme, status.securityBypass.value, status.forceStandby.value);

  if (status.schemeNameAccepted) {
    RegKey schemeKey = settings.OpenSubKey(status.schemeName);
    if (IsUnreadableKey(schemeKey)) {
      status.schemeKeyUnreadable = schemeKey.Name();
      status.schemeKeyUnreadableError = schemeKey.OpenStatus();
    }
    for (SettingStatus& setting : status.settings) {
      setting.policy = ReadNumber(schemeKey, setting.policyValue);
      NoteBadReading(status, setting.policyValue, setting.policy);
    }
    schemeKey.CloseKey();
  }
  root.CloseKey();
  options.CloseKey();
}

// Why the check cannot tell, in the order a pass stops; then a number the pass would log as no
// number or unreadable, which does not stop a pass but makes it log an error.
void WhyNot(PolicyStatus& status) {
  const CannotTell badValue = status.cannotTell;
  auto unreadableKey = [&status](const std::string& key, LONG error) {
    status.cannotTell = CannotTell::kKeyUnreadable;
    status.cannotTellWhat = key;
    status.cannotTellError = error;
  };
  if (status.root == nullptr) {
    status.cannotTell = CannotTell::kNoRoot;
  } else if (!status.unreadableKey.empty()) {
    unreadableKey(status.unreadableKey, status.unreadableKeyError);
  } else if (!status.versionAccepted) {
    status.cannotTell = CannotTell::kVersionRejected;
  } else if (!status.schemeNameAccepted) {
    status.cannotTell = CannotTell::kSchemeNameRejected;
  } else if (!status.schemeKeyUnreadable.empty()) {
    unreadableKey(status.schemeKeyUnreadable, status.schemeKeyUnreadableError);
  } else if (!status.powerInterfaceFound) {
    status.cannotTell = CannotTell::kNoPowerInterface;
  } else if (!status.activeSchemeKnown) {
    status.cannotTell = CannotTell::kNoActiveScheme;
  } else if (!status.schemeRead) {
    status.cannotTell = CannotTell::kSchemeUnreadable;
  } else {
    status.cannotTell = badValue;
  }
}

// The pass's walk over the settings, on the scheme in memory, with the pass's own decision for
// each: each setting is compared with the scheme as the changes before it left it (a legacy
// hibernation total moves with standby), and a change goes through the scheme's own setter,
// which may refuse it.
void JudgeSettings(PolicyStatus& status, PwrScheme& scheme) {
  for (size_t i = 0; i < kSettingCount; ++i) {
    const Setting& setting = kSettings[i];
    SettingStatus& judged = status.settings[i];
    const DWORD policy = judged.policy.value;
    const SettingPlan plan = DecideSetting(setting, policy, scheme);
    switch (plan.decision) {
      case SettingDecision::kSame:
        judged.verdict = SettingVerdict::kSame;
        continue;
      case SettingDecision::kIgnored:
        judged.verdict = SettingVerdict::kIgnored;
        continue;
      case SettingDecision::kNoSuchState:
        judged.verdict = SettingVerdict::kNoSuchState;
        continue;
      case SettingDecision::kHeld:
        judged.hold = plan.hold;
        judged.verdict = plan.heldAtPolicy ? SettingVerdict::kHeld : SettingVerdict::kHeldElsewhere;
        continue;
      case SettingDecision::kChange:
      case SettingDecision::kStateNotAvailable:
        break;
    }
    if (scheme.SetTimeOut(setting, policy)) {
      judged.verdict = SettingVerdict::kRefused;
      judged.refusal = scheme.GetErrorText();
    } else {
      judged.verdict = SettingVerdict::kChange;
    }
  }
}

AppliedPolicy Applied(PowerInterface& power, PowerSource source) {
  AppliedPolicy applied;
  SYSTEM_POWER_POLICY policy;
  if (!power.PolicyInForce(source, &policy)) return applied;
  applied.read = true;
  applied.video = policy.VideoTimeout;
  applied.idle = policy.IdleTimeout;
  applied.hibernate = policy.DozeS4Timeout;
  applied.disk = policy.SpindownTimeout;
  return applied;
}

}  // namespace

bool PolicyStatus::Differs() const {
  for (const SettingStatus& setting : settings) {
    if (setting.verdict == SettingVerdict::kChange || setting.verdict == SettingVerdict::kRefused) {
      return true;
    }
  }
  return false;
}

bool PolicyStatus::HeldElsewhere() const {
  for (const SettingStatus& setting : settings) {
    if (setting.verdict == SettingVerdict::kHeldElsewhere) return true;
  }
  return false;
}

PolicyStatus CheckPolicyStatus() {
  PolicyStatus status;
  for (size_t i = 0; i < kSettingCount; ++i) {
    status.settings[i].policyValue = kSettings[i].policyValue;
  }

  status.root = ChooseSettingsRoot();
  // The interface a pass would choose now.
  const ProbedPowerInterface probed = ProbePowerInterface();
  PwrMgmt mgmt(probed.power);
  status.powerInterface = probed.power->Name();
  status.powerInterfaceFound = probed.found;
  status.mayWriteScheme = mgmt.CanUserWriteScheme();
  status.appliedAc = Applied(*probed.power, PowerSource::kAc);
  status.appliedDc = Applied(*probed.power, PowerSource::kDc);

  // Never committed: the setters below change this copy alone.
  PwrScheme scheme(probed.power);
  status.activeSchemeKnown = !ReadActiveScheme(mgmt, scheme);
  status.schemeRead = scheme.IsRead();
  if (status.schemeRead) {
    for (size_t i = 0; i < kSettingCount; ++i) {
      status.settings[i].schemeRead = true;
      status.settings[i].scheme = scheme.GetTimeOut(kSettings[i]);
    }
  }

  if (status.root != nullptr) ReadPolicy(status, scheme);
  WhyNot(status);
  // A number the pass would log about does not stop it: what it would do is still shown.
  if (status.cannotTell == CannotTell::kNo || status.cannotTell == CannotTell::kValueNotANumber ||
      status.cannotTell == CannotTell::kValueUnreadable) {
    JudgeSettings(status, scheme);
  }
  return status;
}
