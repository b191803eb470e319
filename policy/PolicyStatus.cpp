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
  bool notANumber = false;
  reading.value = key.GetDwordValue(name, &notANumber);
  if (notANumber) {
    reading.kind = PolicyReading::kNotANumber;
  } else if (reading.value == kUnsetReading) {
    reading.kind = PolicyReading::kAbsent;
  } else {
    reading.kind = PolicyReading::kNumber;
  }
  return reading;
}

// The log as a pass would open it, checked without creating or writing it.
LogStatus CheckLog(RegKey& options) {
  LogStatus log;
  const std::string file = options.GetStrValue(schema::kLogFile);
  if (!IsSwitchOn(ReadNumber(options, schema::kLog).value) || file.empty()) {
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

  status.schemeName = root.GetStrValue(schema::kSettingsScheme);
  status.schemeNameRead = true;
  status.schemeNameAccepted = IsAcceptedSchemeName(status.schemeName);
  status.version = ReadNumber(root, schema::kMajorVersion);
  status.versionAccepted = IsAcceptedVersion(status.version.value);
  status.securityBypass = ReadNumber(options, schema::kSecurityBypass);
  status.securityBypassOn = IsSwitchOn(status.securityBypass.value);
  status.forceStandby = ReadNumber(options, schema::kForceStandby);
  status.forceStandbyOn = IsSwitchOn(status.forceStandby.value);
  ApplySwitches(scheme, status.securityBypass.value, status.forceStandby.value);
  status.log = CheckLog(options);

  if (status.schemeNameAccepted) {
    RegKey schemeKey = settings.OpenSubKey(status.schemeName);
    for (SettingStatus& setting : status.settings) {
      setting.policy = ReadNumber(schemeKey, setting.policyValue);
    }
    schemeKey.CloseKey();
  }
  root.CloseKey();
  options.CloseKey();
}

CannotTell WhyNot(const PolicyStatus& status) {
  if (status.root == nullptr) return CannotTell::kNoRoot;
  if (!status.versionAccepted) return CannotTell::kVersionRejected;
  if (!status.schemeNameAccepted) return CannotTell::kSchemeNameRejected;
  if (!status.powerInterfaceFound) return CannotTell::kNoPowerInterface;
  if (!status.activeSchemeKnown) return CannotTell::kNoActiveScheme;
  if (!status.schemeRead) return CannotTell::kSchemeUnreadable;
  return CannotTell::kNo;
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
  status.cannotTell = WhyNot(status);
  if (status.cannotTell == CannotTell::kNo) JudgeSettings(status, scheme);
  return status;
}
