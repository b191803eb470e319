#include "CurrentPowerInterface.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "ModuleExports.h"

namespace {

// Subgroups and settings by their published GUIDs. The SDK's winnt.h declares them too
// (GUID_VIDEO_SUBGROUP, GUID_VIDEO_POWERDOWN_TIMEOUT, GUID_SLEEP_SUBGROUP,
// GUID_STANDBY_TIMEOUT, GUID_HIBERNATE_TIMEOUT, GUID_DISK_SUBGROUP,
// GUID_DISK_POWERDOWN_TIMEOUT; MinGW-w64's with DEFINE_GUID, their storage in libuuid), but
// the host's declarations have none of them: they are spelled out here once for both builds.
constexpr GUID kVideoSubgroup = {
    0x7516b95f, 0xf776, 0x4464, {0x8c, 0x53, 0x06, 0x16, 0x7f, 0x40, 0xcc, 0x99}};
constexpr GUID kVideoIdle = {
    0x3c0bc021, 0xc8a8, 0x4e07, {0xa9, 0x73, 0x6b, 0x14, 0xcb, 0xcb, 0x2b, 0x7e}};
constexpr GUID kSleepSubgroup = {
    0x238c9fa8, 0x0aad, 0x41ed, {0x83, 0xf4, 0x97, 0xbe, 0x24, 0x2c, 0x8f, 0x20}};
constexpr GUID kStandbyIdle = {
    0x29f6c1db, 0x86da, 0x48c5, {0x9f, 0xdb, 0xf2, 0xb6, 0x7b, 0x1f, 0x44, 0xda}};
constexpr GUID kHibernateIdle = {
    0x9d7815a6, 0x7ee4, 0x497e, {0x88, 0x88, 0x51, 0x5a, 0x05, 0xf0, 0x23, 0x64}};
constexpr GUID kDiskSubgroup = {
    0x0012ee47, 0x9041, 0x4b5d, {0x9b, 0x77, 0x53, 0x5f, 0xba, 0x8b, 0x14, 0x42}};
constexpr GUID kDiskIdle = {
    0x6738e2c4, 0xe8a5, 0x4a42, {0xb1, 0x6a, 0xe0, 0x40, 0xe7, 0x69, 0x75, 0x6e}};

// Where the record keeps each time-out, in seconds.
ULONG& Seconds(POWER_POLICY& p, SettingId s) {
  const bool ac = s.source == PowerSource::kAc;
  switch (s.timeout) {
    case Timeout::kVideo:
      return ac ? p.user.VideoTimeoutAc : p.user.VideoTimeoutDc;
    case Timeout::kStandby:
    case Timeout::kMachineStandby:  // one standby time-out
      break;
    case Timeout::kHibernate:  // the total idle time
      return ac ? p.mach.DozeS4TimeoutAc : p.mach.DozeS4TimeoutDc;
    case Timeout::kSpinDown:
      return ac ? p.user.SpindownTimeoutAc : p.user.SpindownTimeoutDc;
  }
  return ac ? p.user.IdleTimeoutAc : p.user.IdleTimeoutDc;
}

ULONG Seconds(const POWER_POLICY& p, SettingId s) {
  return Seconds(const_cast<POWER_POLICY&>(p), s);
}

// The platform's setting of each time-out kind; mains and battery are two values of it.
struct PlatformSetting {
  Timeout timeout;
  const GUID& subgroup;
  const GUID& setting;
};

const PlatformSetting kPlatformSettings[] = {
    {Timeout::kVideo, kVideoSubgroup, kVideoIdle},
    {Timeout::kStandby, kSleepSubgroup, kStandbyIdle},
    {Timeout::kHibernate, kSleepSubgroup, kHibernateIdle},
    {Timeout::kSpinDown, kDiskSubgroup, kDiskIdle},
};

constexpr PowerSource kSources[] = {PowerSource::kAc, PowerSource::kDc};

// Indices stay below 65535, the library's answer for "no active scheme".
constexpr size_t kMaxSchemes = 65535;

bool SameGuid(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

DWORD Read(const CurrentPowerFunctions& fn, const GUID& scheme, const PlatformSetting& setting,
           PowerSource source, DWORD* value) {
  return (source == PowerSource::kAc ? fn.readAcValueIndex : fn.readDcValueIndex)(
      nullptr, &scheme, &setting.subgroup, &setting.setting, value);
}

// Where Windows' own power policy keeps the values it holds.
constexpr const char* kPolicySettingsPath = "SOFTWARE\\Policies\\Microsoft\\Power\\PowerSettings\\";

// "3C0BC021-C8A8-4E07-A973-6B14CBCB2B7E", as that policy names a setting's key.
std::string GuidKeyName(const GUID& g) {
  char text[37];
  std::snprintf(text, sizeof text, "%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                static_cast<unsigned long>(g.Data1), static_cast<unsigned>(g.Data2),
                static_cast<unsigned>(g.Data3), g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3],
                g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return text;
}

const PlatformSetting* PlatformSettingOf(Timeout timeout) {
  // The machine's standby time-out is the scheme's one standby time-out.
  if (timeout == Timeout::kMachineStandby) timeout = Timeout::kStandby;
  for (const PlatformSetting& s : kPlatformSettings) {
    if (s.timeout == timeout) return &s;
  }
  return nullptr;
}

DWORD Write(const CurrentPowerFunctions& fn, const GUID& scheme, const PlatformSetting& setting,
            PowerSource source, DWORD value) {
  return (source == PowerSource::kAc ? fn.writeAcValueIndex : fn.writeDcValueIndex)(
      nullptr, &scheme, &setting.subgroup, &setting.setting, value);
}

}  // namespace

ULONG HibernateIdle(ULONG totalSeconds, ULONG /*standbySeconds*/) { return totalSeconds; }

ULONG TotalIdle(ULONG hibernateIdleSeconds, ULONG /*standbySeconds*/) {
  return hibernateIdleSeconds;
}

const char* CurrentPowerInterface::FindFunctions(HMODULE module, CurrentPowerFunctions* functions) {
  ModuleExports exports(module);
  exports.Find("PowerGetActiveScheme", &functions->getActiveScheme);
  exports.Find("PowerReadACValueIndex", &functions->readAcValueIndex);
  exports.Find("PowerReadDCValueIndex", &functions->readDcValueIndex);
  exports.Find("PowerWriteACValueIndex", &functions->writeAcValueIndex);
  exports.Find("PowerWriteDCValueIndex", &functions->writeDcValueIndex);
  exports.Find("PowerSetActiveScheme", &functions->setActiveScheme);
  exports.Find("PowerSettingAccessCheck", &functions->settingAccessCheck);
  exports.Find("GetPwrCapabilities", &functions->getPwrCapabilities);
  exports.Find("CallNtPowerInformation", &functions->callNtPowerInformation);
  return exports.Missing();
}

CurrentPowerInterface::CurrentPowerInterface(HMODULE module, const CurrentPowerFunctions& functions)
    : PowerInterface(module), fn(functions) {}

bool CurrentPowerInterface::GetCapabilities(SYSTEM_POWER_CAPABILITIES* capabilities) {
  return fn.getPwrCapabilities(capabilities) != 0;
}

// The platform hands the GUID out in memory of its own, for LocalFree.
bool CurrentPowerInterface::GetActiveScheme(UINT* index) {
  GUID* active = nullptr;
  const DWORD rc = fn.getActiveScheme(nullptr, &active);
  if (rc != ERROR_SUCCESS || active == nullptr) {
    if (active != nullptr) LocalFree(active);
    return false;
  }
  const GUID scheme = *active;
  LocalFree(active);
  for (size_t i = 0; i < schemes.size(); ++i) {
    if (SameGuid(schemes[i], scheme)) {
      *index = static_cast<UINT>(i);
      return true;
    }
  }
  if (schemes.size() >= kMaxSchemes) return false;
  schemes.push_back(scheme);
  *index = static_cast<UINT>(schemes.size() - 1);
  return true;
}

bool CurrentPowerInterface::IsHibernateAllowed(const SYSTEM_POWER_CAPABILITIES* known) {
  SYSTEM_POWER_CAPABILITIES asked;
  std::memset(&asked, 0, sizeof asked);
  const SYSTEM_POWER_CAPABILITIES& caps = known != nullptr ? *known : asked;
  if (known == nullptr && !fn.getPwrCapabilities(&asked)) return false;
  return caps.SystemS4 == 1 && caps.HiberFilePresent == 1;
}

bool CurrentPowerInterface::CanUserWriteScheme() {
  const DWORD rc = fn.settingAccessCheck(ACCESS_ACTIVE_SCHEME, nullptr);
  return rc == ERROR_SUCCESS || rc == ERROR_ACCESS_DISABLED_BY_POLICY;
}

bool CurrentPowerInterface::SchemeAt(UINT index, GUID* scheme) const {
  if (index >= schemes.size()) return false;
  *scheme = schemes[index];
  return true;
}

bool CurrentPowerInterface::ReadScheme(UINT index, POWER_POLICY* policy) {
  GUID scheme;
  if (!SchemeAt(index, &scheme)) return false;
  POWER_POLICY read;
  std::memset(&read, 0, sizeof read);
  for (const PlatformSetting& s : kPlatformSettings) {
    for (PowerSource source : kSources) {
      DWORD value = 0;
      if (Read(fn, scheme, s, source, &value) != ERROR_SUCCESS) return false;
      Seconds(read, {s.timeout, source}) = value;
    }
  }
  for (PowerSource source : kSources) {
    ULONG& hibernate = Seconds(read, {Timeout::kHibernate, source});
    hibernate = TotalIdle(hibernate, Seconds(read, {Timeout::kStandby, source}));
  }
  *policy = read;
  return true;
}

PowerInterface::CommitResult CurrentPowerInterface::WriteAndActivate(UINT* index,
                                                                     POWER_POLICY* policy,
                                                                     const POWER_POLICY& asRead) {
  GUID scheme;
  if (!SchemeAt(*index, &scheme)) return CommitResult::kNotWritten;
  // Written only into the scheme in force: another program may have switched plans since the
  // read, and activating this one again would undo that.
  GUID* active = nullptr;
  const DWORD rc = fn.getActiveScheme(nullptr, &active);
  if (rc != ERROR_SUCCESS || active == nullptr) {
    if (active != nullptr) LocalFree(active);
    return CommitResult::kNotWritten;
  }
  const bool stillActive = SameGuid(*active, scheme);
  LocalFree(active);
  if (!stillActive) return CommitResult::kNoLongerActive;

  // The records as the settings hold them.
  POWER_POLICY wanted = *policy;
  POWER_POLICY read = asRead;
  for (PowerSource source : kSources) {
    ULONG& hibernate = Seconds(wanted, {Timeout::kHibernate, source});
    hibernate = HibernateIdle(hibernate, Seconds(wanted, {Timeout::kStandby, source}));
    ULONG& readHibernate = Seconds(read, {Timeout::kHibernate, source});
    readHibernate = HibernateIdle(readHibernate, Seconds(read, {Timeout::kStandby, source}));
  }

  struct Replaced {
    const PlatformSetting* setting;
    PowerSource source;
    DWORD old;
  };
  std::vector<Replaced> replaced;
  // Best effort: a value that cannot be put back now cannot be put back at all.
  auto restore = [&] {
    for (auto r = replaced.rbegin(); r != replaced.rend(); ++r) {
      Write(fn, scheme, *r->setting, r->source, r->old);
    }
  };

  for (const PlatformSetting& s : kPlatformSettings) {
    for (PowerSource source : kSources) {
      const DWORD value = Seconds(wanted, {s.timeout, source});
      // Not changed since the read: another program's change to it, if any, stays.
      if (value == Seconds(read, {s.timeout, source})) continue;
      DWORD stored = 0;
      if (Read(fn, scheme, s, source, &stored) != ERROR_SUCCESS) {
        restore();
        return CommitResult::kNotWritten;
      }
      if (stored == value) continue;
      if (Write(fn, scheme, s, source, value) != ERROR_SUCCESS) {
        restore();
        return CommitResult::kNotWritten;
      }
      replaced.push_back({&s, source, stored});
    }
  }
  if (fn.setActiveScheme(nullptr, &scheme) != ERROR_SUCCESS) {
    restore();
    return CommitResult::kNotActivated;
  }
  return CommitResult::kStored;
}

bool CurrentPowerInterface::WriteUserCopy(const POWER_POLICY&, const std::function<UINT()>&) {
  return false;
}

DWORD CurrentPowerInterface::GetMinutes(const POWER_POLICY& policy, SettingId setting) const {
  return ToMinutes(Seconds(policy, setting));
}

const char* CurrentPowerInterface::SetMinutes(POWER_POLICY& policy, SettingId setting,
                                              DWORD minutes) const {
  Seconds(policy, setting) = ToSeconds(minutes);
  return nullptr;
}

WindowsPolicyHold CurrentPowerInterface::HeldByWindowsPolicy(SettingId setting) {
  WindowsPolicyHold hold;
  const PlatformSetting* platform = PlatformSettingOf(setting.timeout);
  if (platform == nullptr) return hold;
  const bool ac = setting.source == PowerSource::kAc;
  if (fn.settingAccessCheck(ac ? ACCESS_AC_POWER_SETTING_INDEX : ACCESS_DC_POWER_SETTING_INDEX,
                            &platform->setting) != ERROR_ACCESS_DISABLED_BY_POLICY) {
    return hold;
  }
  hold.held = true;
  const std::string path = kPolicySettingsPath + GuidKeyName(platform->setting);
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
    return hold;
  }
  DWORD type = REG_NONE;
  BYTE data[sizeof(DWORD)] = {};
  DWORD size = sizeof data;
  const LONG rc =
      RegQueryValueExA(key, ac ? "ACSettingIndex" : "DCSettingIndex", nullptr, &type, data, &size);
  RegCloseKey(key);
  if (rc == ERROR_SUCCESS && type == REG_DWORD && size == sizeof(DWORD)) {
    hold.valueRead = true;
    std::memcpy(&hold.seconds, data, sizeof(DWORD));
  }
  return hold;
}

bool CurrentPowerInterface::PolicyInForce(PowerSource source, SYSTEM_POWER_POLICY* policy) {
  SYSTEM_POWER_POLICY answered;
  std::memset(&answered, 0, sizeof answered);
  const POWER_INFORMATION_LEVEL level =
      source == PowerSource::kAc ? SystemPowerPolicyAc : SystemPowerPolicyDc;
  if (fn.callNtPowerInformation(level, nullptr, 0, &answered, sizeof answered) != 0) return false;
  *policy = answered;
  return true;
}

bool CurrentPowerInterface::Holds(const POWER_POLICY& policy, SettingId setting,
                                  DWORD minutes) const {
  return Seconds(policy, setting) == ToSeconds(minutes);
}
