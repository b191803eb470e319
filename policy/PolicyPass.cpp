// The update pass shared by the service and the logon tool (see PassVariant.h for what sets
// them apart). Every object of a pass is created here and released before it returns; keys
// are closed by CloseKey and the log by Close, since their destructors release nothing.
#include <optional>
#include <string>

#include "BackupKey.h"
#include "PMLog.h"
#include "PassEvents.h"
#include "PassRules.h"
#include "PassVariant.h"
#include "PolicyNumbers.h"
#include "PolicySettings.h"
#include "PwrMgmt.h"
#include "PwrScheme.h"
#include "RegKey.h"
#include "RegistrySchema.h"
#include "SettingsKey.h"
#include "Win32Api.h"

namespace {

// Log levels: a line is written when its level is below the policy's "LogLevel".
constexpr DWORD kErrorLevel = 0;
constexpr DWORD kSuccessLevel = 5;
constexpr DWORD kAnnouncementLevel = 10;

// A pass that fails: its error line now, and its event when the pass ends.
void PassFailed(PMLog& log, PassEvents& events, const std::string& text) {
  log.WriteError(text, kErrorLevel);
  events.Failed(text);
}

// The snapshot written before anything changes: what the scheme holds and what the policy
// asks for, mains first, then battery.
struct SnapshotHalf {
  const char* curVideo;
  const char* curStandby;
  const char* curHibernate;
  const char* videoPolicy;
  const char* standbyPolicy;
  const char* hibernatePolicy;
  const PolicySetting& video;
  const PolicySetting& standby;
  const PolicySetting& hibernate;
};

const SnapshotHalf kSnapshot[] = {
    {schema::kCurAcUserVideoTimeout, schema::kCurAcUserStandbyTimeout,
     schema::kCurAcMachHibernateTimeout, schema::kAcUserVideoTimeoutPolicy,
     schema::kAcUserStandbyTimeoutPolicy, schema::kAcMachHibernateTimeoutPolicy, kPolicySettings[0],
     kPolicySettings[1], kPolicySettings[2]},
    {schema::kCurDcUserVideoTimeout, schema::kCurDcUserStandbyTimeout,
     schema::kCurDcMachHibernateTimeout, schema::kDcUserVideoTimeoutPolicy,
     schema::kDcUserStandbyTimeoutPolicy, schema::kDcMachHibernateTimeoutPolicy, kPolicySettings[3],
     kPolicySettings[4], kPolicySettings[5]},
};

void WriteSnapshot(BackupKey& backup, RegKey& schemeKey, const PwrScheme& scheme,
                   PolicyNumbers& numbers) {
  for (const SnapshotHalf& half : kSnapshot) {
    backup.Write(half.curVideo, (scheme.*half.video.get)());
    backup.Write(half.curStandby, (scheme.*half.standby.get)());
    backup.Write(half.curHibernate, (scheme.*half.hibernate.get)());
    backup.Write(half.videoPolicy, numbers.Read(schemeKey, half.video.policyValue));
    backup.Write(half.standbyPolicy, numbers.Read(schemeKey, half.standby.policyValue));
    backup.Write(half.hibernatePolicy, numbers.Read(schemeKey, half.hibernate.policyValue));
  }
}

// Changes every setting whose policy is in range and differs from the scheme. A refusal is
// logged and never stops the others.
void EnforceSettings(const PassVariant& variant, BackupKey& backup, RegKey& schemeKey,
                     PwrScheme& scheme, PMLog& log, PolicyNumbers& numbers, PassEvents& events) {
  // A hibernation total counts from the standby time-out, which this loop changes first. The
  // comparison needs the total as it is now; the backup records what the setting was when
  // the pass began, the value that restores the scheme.
  DWORD found[kSettingCount];
  for (int i = 0; i < kSettingCount; ++i) {
    // Through a reference: GCC's bounds sanitizer misreads `(x.*table[i].get)()`.
    const PolicySetting& setting = kPolicySettings[i];
    found[i] = (scheme.*setting.get)();
  }

  for (int i = 0; i < kSettingCount; ++i) {
    const PolicySetting& setting = kPolicySettings[i];
    const DWORD policy = numbers.Read(schemeKey, setting.policyValue);
    if (!PassChanges(policy, (scheme.*setting.get)())) continue;

    log.WriteInfo(variant.announcements[i], kAnnouncementLevel);
    backup.Write(setting.policyValue, found[i]);
    if ((scheme.*setting.set)(policy)) {
      log.WriteError(scheme.GetErrorText(), kErrorLevel);
    } else {
      log.WriteInfo(setting.successLine, kSuccessLevel);
      events.Changed(setting.policyValue, found[i], policy);
    }
  }
}

void CommitScheme(PwrScheme& scheme, PwrMgmt& mgmt, RegKey& schemeKey, PMLog& log,
                  PolicyNumbers& numbers, PassEvents& events) {
  if (scheme.commit()) {
    PassFailed(log, events, scheme.GetErrorText());
    return;
  }
  log.WriteInfo("Commiting of Power Scheme() Succeded", kSuccessLevel);
  // Without the right to write schemes only the per-user half was stored, so a machine
  // hibernation policy could not take effect; only the mains value is consulted for the note.
  if (!mgmt.CanUserWriteScheme()) {
    events.MachineHalfNotStored();
    if (numbers.Read(schemeKey, schema::kAcMachHibernateIdleTime) != 0) {
      log.WriteInfo("NB: Hibernation not set due to user permissions", kSuccessLevel);
    }
  }
}

// The part of the pass that needs the scheme: from the name check to the commit.
// The backup key is opened into `backup` only once the scheme is known to be enforceable.
void EnforceScheme(const PassVariant& variant, const std::string& schemeName, RegKey& schemeKey,
                   RegKey& options, PwrMgmt& mgmt, PMLog& log, PolicyNumbers& numbers,
                   std::optional<BackupKey>& backup, PassEvents& events) {
  PwrScheme scheme;
  const bool activeUnknown = ReadActiveScheme(mgmt, scheme);
  const DWORD securityBypass = numbers.Read(options, schema::kSecurityBypass);
  const DWORD forceStandby = numbers.Read(options, schema::kForceStandby);
  ApplySwitches(scheme, securityBypass, forceStandby);

  if (!IsAcceptedSchemeName(schemeName)) {
    PassFailed(log, events, "Invalid Scheme Name");
    return;
  }
  // A scheme that was never read holds nothing of the machine's: enforcing against it and
  // committing it would overwrite the active scheme with zeros.
  if (!scheme.IsRead()) {
    // Without an active scheme the query's own failure says more than the read's.
    PassFailed(log, events, activeUnknown ? mgmt.GetErrorText() : scheme.GetErrorText());
    return;
  }

  backup.emplace(variant.backupRoot, log);
  WriteSnapshot(*backup, schemeKey, scheme, numbers);
  EnforceSettings(variant, *backup, schemeKey, scheme, log, numbers, events);
  CommitScheme(scheme, mgmt, schemeKey, log, numbers, events);
}

}  // namespace

void RunPolicyPass(const PassVariant& variant) {
  if (variant.writesDebugTexts) OutputDebugStringA("Reached beginning of PM Update");

  const char* rootPath = ChooseSettingsRoot();
  if (rootPath == nullptr) return;
  SettingsKey settings(rootPath);
  PassEvents events(variant.eventProgram);

  RegKey root = settings.OpenSettings();
  RegKey options = settings.OpenOptions();
  PwrMgmt mgmt;

  PMLog log;
  PolicyNumbers numbers(log);
  if (IsSwitchOn(numbers.Read(options, schema::kLog))) {
    const DWORD threshold = numbers.Read(options, schema::kLogLevel);
    log.Open(options.GetStrValue(schema::kLogFile), threshold);
  }
  numbers.Release();

  const std::string schemeName = root.GetStrValue(schema::kSettingsScheme);
  const DWORD version = numbers.Read(root, schema::kMajorVersion);
  if (!IsAcceptedVersion(version)) {
    PassFailed(log, events, version == 0 ? "Major version NULL" : "Major version too high");
    log.Close();
    events.End();
    root.CloseKey();
    options.CloseKey();
    return;
  }

  // Opened before the name is checked, so an invalid name opens (or fails to open) a subkey
  // of that name.
  RegKey schemeKey = settings.OpenSubKey(schemeName);
  std::optional<BackupKey> backup;
  EnforceScheme(variant, schemeName, schemeKey, options, mgmt, log, numbers, backup, events);

  log.Close();
  events.End();
  if (variant.writesDebugTexts) OutputDebugStringA("Reached end of PM Update");
  root.CloseKey();
  options.CloseKey();
  schemeKey.CloseKey();
  if (backup) backup->Close();
}
