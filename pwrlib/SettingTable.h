// The time-outs the system enforces: one row per setting, in the order an update pass
// processes them. Everything that names a setting takes it from here: the update pass and the
// compliance check walk the rows, the backup snapshot picks the rows that have snapshot
// values, PwrScheme's named getters and setters are wrappers over the rows, and the build
// lists the rows' policy values for the checks of the Group Policy template and the fuzzing
// dictionary. How each power-scheme interface stores a setting is that interface's own
// mapping, by time-out kind (LegacyPowerInterface.cpp, CurrentPowerInterface.cpp).
#ifndef PM_SETTINGTABLE_H
#define PM_SETTINGTABLE_H

#include <cstddef>
#include <iterator>

// Which time-out of a scheme.
enum class Timeout {
  kVideo,      // monitor (display) sleep
  kStandby,    // system standby (sleep)
  kHibernate,  // hibernation: the whole idle time before the machine hibernates
  kSpinDown,   // hard-disk spin-down
  // The machine's own standby time-out, which only the exerciser shows and sets; no row of the
  // table, since no policy value enforces it.
  kMachineStandby,
};

enum class PowerSource { kAc, kDc };  // mains power, battery

// One time-out of a scheme for one power source: what a power-scheme interface gets and sets.
struct SettingId {
  Timeout timeout;
  PowerSource source;
};

// What a setter asks of the machine before it changes anything.
enum class Capability {
  kNone,
  kMonitorSleep,  // PwrMgmt::IsMonitorSleepSupported
  kPowerSuspend,  // PwrMgmt::IsPowerSuspendCapable, or the scheme's forced standby
  kHibernation,   // PwrMgmt::IsHibernationAllowed
};

struct Setting {
  SettingId id;
  Capability needs;
  // The policy value (REG_DWORD, minutes) under the settings scheme's key; the backup key keeps
  // under the same name the value each change replaced.
  const char* policyValue;
  // The backup snapshot: what the scheme holds ("Cur...") and what the policy asks for
  // ("...Policy"), written before anything changes; null for a setting without them.
  const char* snapshotCurrent;
  const char* snapshotPolicy;
  // The level-10 line before a change: the service's (the default user's part) and the logon
  // tool's (the part of the user who logs on).
  const char* serviceAnnouncement;
  const char* logonAnnouncement;
  // The level-5 line after a change the setter accepted.
  const char* successLine;
  // PwrScheme's setter, whose name begins its refusal texts.
  const char* setter;
};

inline constexpr Setting kSettings[] = {
    {{Timeout::kVideo, PowerSource::kAc},
     Capability::kMonitorSleep,
     "ACUserMonIdleTime",
     "CurACUserVideoTimeout",
     "ACUserVideoTimeoutPolicy",
     ".Default User Video Timeout will be changed",
     "User Video Timeout will be changed",
     "SetUserAcVideoTimeOut() Succeded",
     "SetUserAcVideoTimeOut"},
    {{Timeout::kStandby, PowerSource::kAc},
     Capability::kPowerSuspend,
     "ACUserStandByIdleTime",
     "CurACUserStandbyTimeout",
     "ACUserStandbyTimeoutPolicy",
     ".Default User System Standby will be changed",
     "User System Standby will be changed",
     "SetUserAcStandbyTimeOut() Succeded",
     "SetUserAcStandbyTimeOut"},
    {{Timeout::kHibernate, PowerSource::kAc},
     Capability::kHibernation,
     "ACMachHibernateIdleTime",
     "CurACMachHibernateTimeout",
     "ACMachHibernateTimeoutPolicy",
     "Machine Hibernation will be changed",
     "Machine Hibernation will be changed",
     "SetMachAcHibernateTimeOut() Succeded",
     "SetMachAcHibernateTimeOut"},
    {{Timeout::kVideo, PowerSource::kDc},
     Capability::kMonitorSleep,
     "DCUserMonIdleTime",
     "CurDCUserVideoTimeout",
     "DCUserVideoTimeoutPolicy",
     ".Default User DC Video Timeout will be changed",
     ".Default User DC Video Timeout will be changed",
     "SetUserDcVideoTimeOut() Succeded",
     "SetUserDcVideoTimeOut"},
    {{Timeout::kStandby, PowerSource::kDc},
     Capability::kPowerSuspend,
     "DCUserStandByIdleTime",
     "CurDCUserStandbyTimeout",
     "DCUserStandbyTimeoutPolicy",
     ".Default User DC System Standby will be changed",
     ".Default User DC System Standby will be changed",
     "SetUserDcStandbyTimeOut() Succeded",
     "SetUserDcStandbyTimeOut"},
    {{Timeout::kHibernate, PowerSource::kDc},
     Capability::kHibernation,
     "DCMachHibernateIdleTime",
     "CurDCMachHibernateTimeout",
     "DCMachHibernateTimeoutPolicy",
     ".Default DC Machine Hibernation will be changed",
     ".Default DC Machine Hibernation will be changed",
     "SetMachDcHibernateTimeOut() Succeded",
     "SetMachDcHibernateTimeOut"},
    {{Timeout::kSpinDown, PowerSource::kAc},
     Capability::kNone,
     "ACUserHDDspindownIdleTime",
     nullptr,
     nullptr,
     ".Default User Disk Spindown Timeout will be changed",
     "User Disk Spindown Timeout will be changed",
     "SetUserAcSpinDownTimeOut() Succeded",
     "SetUserAcSpinDownTimeOut"},
    {{Timeout::kSpinDown, PowerSource::kDc},
     Capability::kNone,
     "DCUserHDDspindownIdleTime",
     nullptr,
     nullptr,
     ".Default User DC Disk Spindown Timeout will be changed",
     "User DC Disk Spindown Timeout will be changed",
     "SetUserDcSpinDownTimeOut() Succeded",
     "SetUserDcSpinDownTimeOut"},
};

inline constexpr size_t kSettingCount = std::size(kSettings);
// The schema, the template and the administrators' scripts know eight settings: a row added or
// lost must be a decision, not an accident of editing.
static_assert(kSettingCount == 8, "the policy enforces eight time-outs");

// The row of one time-out; a time-out without a row does not build.
template <Timeout timeout, PowerSource source>
constexpr const Setting& SettingOf() {
  constexpr size_t row = [] {
    size_t i = 0;
    while (i < kSettingCount &&
           !(kSettings[i].id.timeout == timeout && kSettings[i].id.source == source)) {
      ++i;
    }
    return i;
  }();
  static_assert(row < kSettingCount, "no row of the setting table holds this time-out");
  return kSettings[row];
}

#endif
