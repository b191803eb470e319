// Seeds and reads power schemes in the registry layout of a current machine (Windows Vista and
// later) through the host stand-in's control surface, written out here from the published
// layout rather than taken from the stand-in's constants:
//
//   HKLM\SYSTEM\CurrentControlSet\Control\Power\User\PowerSchemes   "ActivePowerScheme" (GUID)
//     \<scheme>\<subgroup>\<setting>                 "ACSettingIndex", "DCSettingIndex"
//   HKLM\SYSTEM\CurrentControlSet\Control\Power\PowerSettings\<subgroup>\<setting>
//     \DefaultPowerSchemeValues\<scheme>             the values of a scheme that sets none
//   HKLM\SOFTWARE\Policies\Microsoft\Power\PowerSettings\<setting>   a side group policy holds
#ifndef PM_TESTS_CURRENTSCHEMESTORE_H
#define PM_TESTS_CURRENTSCHEMESTORE_H

#include <string>

#include "HostControl.h"

namespace current_store {

inline const std::string kSchemes = "SYSTEM\\CurrentControlSet\\Control\\Power\\User\\PowerSchemes";
inline const std::string kSettings = "SYSTEM\\CurrentControlSet\\Control\\Power\\PowerSettings";
inline const std::string kPolicySettings = "SOFTWARE\\Policies\\Microsoft\\Power\\PowerSettings";

// The three plans of a fresh installation.
inline const std::string kBalanced = "381b4222-f694-41f0-9685-ff5bb260df2e";
inline const std::string kHighPerformance = "8c5e7fda-e8bf-4a96-9a85-a6e23a8c635c";
inline const std::string kPowerSaver = "a1841308-3541-4fab-bc81-f71556f20b4a";

struct Setting {
  const char* subgroup;
  const char* setting;
};
inline const Setting kVideoIdle = {"7516b95f-f776-4464-8c53-06167f40cc99",
                                   "3c0bc021-c8a8-4e07-a973-6b14cbcb2b7e"};
inline const Setting kStandbyIdle = {"238c9fa8-0aad-41ed-83f4-97be242c8f20",
                                     "29f6c1db-86da-48c5-9fdb-f2b67b1f44da"};
inline const Setting kHibernateIdle = {"238c9fa8-0aad-41ed-83f4-97be242c8f20",
                                       "9d7815a6-7ee4-497e-8888-515a05f02364"};
inline const Setting kDiskIdle = {"0012ee47-9041-4b5d-9b77-535fba8b1442",
                                  "6738e2c4-e8a5-4a42-b16a-e040e769756e"};
inline const Setting kAllSettings[] = {kVideoIdle, kStandbyIdle, kHibernateIdle, kDiskIdle};

// The eight time-outs of a scheme, in seconds; hibernation is the total idle time.
struct Timeouts {
  DWORD videoAc, videoDc, standbyAc, standbyDc, hibernateAc, hibernateDc, diskAc, diskDc;
  bool operator==(const Timeouts& o) const {
    return videoAc == o.videoAc && videoDc == o.videoDc && standbyAc == o.standbyAc &&
           standbyDc == o.standbyDc && hibernateAc == o.hibernateAc &&
           hibernateDc == o.hibernateDc && diskAc == o.diskAc && diskDc == o.diskDc;
  }
};

inline const char* SideValue(bool ac) { return ac ? "ACSettingIndex" : "DCSettingIndex"; }

inline std::string SettingKey(const Setting& s) {
  return kSettings + "\\" + s.subgroup + "\\" + s.setting;
}
inline std::string SchemeKey(const std::string& scheme) { return kSchemes + "\\" + scheme; }
inline std::string OwnValueKey(const std::string& scheme, const Setting& s) {
  return SchemeKey(scheme) + "\\" + s.subgroup + "\\" + s.setting;
}
inline std::string DefaultValueKey(const std::string& scheme, const Setting& s) {
  return SettingKey(s) + "\\DefaultPowerSchemeValues\\" + scheme;
}

// The scheme's key and its defaults, as a fresh installation holds a plan it has not changed.
inline void SeedDefaults(const std::string& scheme, const Timeouts& t) {
  host::WriteString(HKEY_LOCAL_MACHINE, SchemeKey(scheme), "FriendlyName", "Plan " + scheme);
  const DWORD values[4][2] = {{t.videoAc, t.videoDc},
                              {t.standbyAc, t.standbyDc},
                              {t.hibernateAc, t.hibernateDc},
                              {t.diskAc, t.diskDc}};
  for (int i = 0; i < 4; ++i) {
    for (bool ac : {true, false}) {
      host::WriteDword(HKEY_LOCAL_MACHINE, DefaultValueKey(scheme, kAllSettings[i]), SideValue(ac),
                       values[i][ac ? 0 : 1]);
    }
  }
}

inline void SetOwnValue(const std::string& scheme, const Setting& s, bool ac, DWORD value) {
  host::WriteDword(HKEY_LOCAL_MACHINE, OwnValueKey(scheme, s), SideValue(ac), value);
}

inline void SetActive(const std::string& scheme) {
  host::WriteString(HKEY_LOCAL_MACHINE, kSchemes, "ActivePowerScheme", scheme);
}

// The active scheme's GUID text, or "<absent>".
inline std::string Active() {
  host::RegValue value;
  if (!host::ReadValue(HKEY_LOCAL_MACHINE, kSchemes, "ActivePowerScheme", &value)) {
    return "<absent>";
  }
  std::string text(value.data.begin(), value.data.end());
  return text.substr(0, text.find('\0'));
}

// A REG_DWORD as stored, or 0xFFFFFFFF when absent (or not four bytes).
inline DWORD DwordAt(const std::string& path, const char* name) {
  host::RegValue value;
  if (!host::ReadValue(HKEY_LOCAL_MACHINE, path, name, &value) || value.data.size() != 4) {
    return 0xFFFFFFFF;
  }
  return static_cast<DWORD>(value.data[0]) | static_cast<DWORD>(value.data[1]) << 8 |
         static_cast<DWORD>(value.data[2]) << 16 | static_cast<DWORD>(value.data[3]) << 24;
}

// What the scheme holds for a setting: its own value, else its default.
inline DWORD Stored(const std::string& scheme, const Setting& s, bool ac) {
  const DWORD own = DwordAt(OwnValueKey(scheme, s), SideValue(ac));
  return own != 0xFFFFFFFF ? own : DwordAt(DefaultValueKey(scheme, s), SideValue(ac));
}

inline Timeouts StoredTimeouts(const std::string& scheme) {
  return {Stored(scheme, kVideoIdle, true),     Stored(scheme, kVideoIdle, false),
          Stored(scheme, kStandbyIdle, true),   Stored(scheme, kStandbyIdle, false),
          Stored(scheme, kHibernateIdle, true), Stored(scheme, kHibernateIdle, false),
          Stored(scheme, kDiskIdle, true),      Stored(scheme, kDiskIdle, false)};
}

// Group policy holds one side of a setting: writing it is refused.
inline void HoldByPolicy(const Setting& s, bool ac, DWORD value) {
  host::WriteDword(HKEY_LOCAL_MACHINE, kPolicySettings + "\\" + s.setting, SideValue(ac), value);
}

}  // namespace current_store

#endif
