// The current machine's scheme store of CurrentSchemeStore.h, seeded and read by the host tests
// straight in the stand-in's registry: neither recorded nor subject to injected failures, so a
// test's own set-up and checks never count as calls of the system under test.
#ifndef PM_TESTS_HOSTCURRENTSCHEMESTORE_H
#define PM_TESTS_HOSTCURRENTSCHEMESTORE_H

#include <string>

#include "CurrentSchemeStore.h"
#include "HostControl.h"

namespace current_store {

// The eight time-outs of a scheme, in seconds; hibernation is the total idle time.
struct Timeouts {
  DWORD videoAc, videoDc, standbyAc, standbyDc, hibernateAc, hibernateDc, diskAc, diskDc;
  bool operator==(const Timeouts& o) const {
    return videoAc == o.videoAc && videoDc == o.videoDc && standbyAc == o.standbyAc &&
           standbyDc == o.standbyDc && hibernateAc == o.hibernateAc &&
           hibernateDc == o.hibernateDc && diskAc == o.diskAc && diskDc == o.diskDc;
  }
};

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

inline void SetActive(const std::string& scheme) {
  host::WriteString(HKEY_LOCAL_MACHINE, kSchemes, kActiveValue, scheme);
}

// The active scheme's GUID text, or "<absent>".
inline std::string Active() {
  host::RegValue value;
  if (!host::ReadValue(HKEY_LOCAL_MACHINE, kSchemes, kActiveValue, &value)) return "<absent>";
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
  host::WriteDword(HKEY_LOCAL_MACHINE, PolicyKey(s), SideValue(ac), value);
}

// Group policy chooses the plan: activating any other is refused.
inline void ChoosePlanByPolicy(const std::string& scheme) {
  host::WriteString(HKEY_LOCAL_MACHINE, kPolicySettings, kActiveValue, scheme);
}

}  // namespace current_store

#endif
