#include "CurrentPowerProfile.h"

#include <cstdio>
#include <cstring>

namespace powerprofile {
namespace {

const char* IndexValue(PowerSide side) {
  return side == PowerSide::kAc ? kAcIndexValue : kDcIndexValue;
}

std::string SchemeKey(const GUID& scheme) {
  return std::string(kSchemesKey) + "\\" + GuidText(scheme);
}

std::string SchemeSettingKey(const GUID& scheme, const GUID& subgroup, const GUID& setting) {
  return SchemeKey(scheme) + "\\" + GuidText(subgroup) + "\\" + GuidText(setting);
}

std::string SettingKey(const GUID& subgroup, const GUID& setting) {
  return std::string(kSettingsKey) + "\\" + GuidText(subgroup) + "\\" + GuidText(setting);
}

LONG KeyExists(const std::string& path) {
  HKEY key = nullptr;
  LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE, &key);
  if (rc == ERROR_SUCCESS) RegCloseKey(key);
  return rc;
}

// A REG_DWORD value; ERROR_INVALID_DATA for a value of another type or size.
LONG ReadDword(const std::string& path, const char* name, DWORD* out) {
  HKEY key = nullptr;
  LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE, &key);
  if (rc != ERROR_SUCCESS) return rc;
  BYTE data[sizeof(DWORD) + 1];
  DWORD type = REG_NONE;
  DWORD size = sizeof data;
  rc = RegQueryValueExA(key, name, nullptr, &type, data, &size);
  RegCloseKey(key);
  if (rc == ERROR_MORE_DATA) return ERROR_INVALID_DATA;
  if (rc != ERROR_SUCCESS) return rc;
  if (type != REG_DWORD || size != sizeof(DWORD)) return ERROR_INVALID_DATA;
  std::memcpy(out, data, sizeof(DWORD));
  return ERROR_SUCCESS;
}

// Whether the user may write the schemes: whether their key opens for writing.
LONG CheckWriteRight() {
  HKEY key = nullptr;
  LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSchemesKey, 0, KEY_WRITE, &key);
  if (rc == ERROR_SUCCESS) RegCloseKey(key);
  return rc;
}

std::string PolicySettingKey(const GUID& setting) {
  return std::string(kPolicySettingsKey) + "\\" + GuidText(setting);
}

bool FixedByPolicy(PowerSide side, const GUID& setting) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, PolicySettingKey(setting).c_str(), 0, KEY_QUERY_VALUE,
                    &key) != ERROR_SUCCESS) {
    return false;
  }
  const bool fixed =
      RegQueryValueExA(key, IndexValue(side), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
  RegCloseKey(key);
  return fixed;
}

// Whether group policy chooses the plan: its value exists, whatever it holds. `plan` gets the
// plan when the value names one.
bool PlanChosenByPolicy(GUID* plan, bool* named) {
  *named = false;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPolicySettingsKey, 0, KEY_QUERY_VALUE, &key) !=
      ERROR_SUCCESS) {
    return false;
  }
  char text[64];
  DWORD type = REG_NONE;
  DWORD size = sizeof text;
  const LONG rc = RegQueryValueExA(key, kActivePowerSchemeValue, nullptr, &type,
                                   reinterpret_cast<BYTE*>(text), &size);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS && rc != ERROR_MORE_DATA) return false;
  if (rc == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ)) {
    size_t length = 0;
    while (length < size && text[length] != '\0') ++length;
    *named = ParseGuid(text, length, plan);
  }
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// `count` hex digits from text; false on anything else.
bool ParseHex(const char* text, int count, unsigned long long* value) {
  *value = 0;
  for (int i = 0; i < count; ++i) {
    const int digit = HexDigit(text[i]);
    if (digit < 0) return false;
    *value = *value * 16 + static_cast<unsigned>(digit);
  }
  return true;
}

}  // namespace

std::string GuidText(const GUID& guid) {
  char text[37];
  std::snprintf(text, sizeof text, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                static_cast<unsigned>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0],
                guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                guid.Data4[6], guid.Data4[7]);
  return text;
}

bool ParseGuid(const char* text, size_t length, GUID* guid) {
  if (length == 38 && text[0] == '{' && text[37] == '}') {
    ++text;
    length = 36;
  }
  if (length != 36 || text[8] != '-' || text[13] != '-' || text[18] != '-' || text[23] != '-') {
    return false;
  }
  unsigned long long part = 0;
  GUID parsed;
  if (!ParseHex(text, 8, &part)) return false;
  parsed.Data1 = static_cast<DWORD>(part);
  if (!ParseHex(text + 9, 4, &part)) return false;
  parsed.Data2 = static_cast<WORD>(part);
  if (!ParseHex(text + 14, 4, &part)) return false;
  parsed.Data3 = static_cast<WORD>(part);
  const int offsets[8] = {19, 21, 24, 26, 28, 30, 32, 34};
  for (int i = 0; i < 8; ++i) {
    if (!ParseHex(text + offsets[i], 2, &part)) return false;
    parsed.Data4[i] = static_cast<BYTE>(part);
  }
  *guid = parsed;
  return true;
}

DWORD GetActivePowerScheme(HKEY userRoot, GUID** active) {
  if (userRoot != nullptr || active == nullptr) return ERROR_INVALID_PARAMETER;
  HKEY key = nullptr;
  LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSchemesKey, 0, KEY_QUERY_VALUE, &key);
  if (rc != ERROR_SUCCESS) return static_cast<DWORD>(rc);
  char text[64];
  DWORD type = REG_NONE;
  DWORD size = sizeof text;
  rc = RegQueryValueExA(key, kActivePowerSchemeValue, nullptr, &type, reinterpret_cast<BYTE*>(text),
                        &size);
  RegCloseKey(key);
  if (rc == ERROR_MORE_DATA) return ERROR_INVALID_DATA;
  if (rc != ERROR_SUCCESS) return static_cast<DWORD>(rc);
  // The text may come with or without its terminating zero.
  size_t length = 0;
  while (length < size && text[length] != '\0') ++length;
  GUID parsed;
  if ((type != REG_SZ && type != REG_EXPAND_SZ) || !ParseGuid(text, length, &parsed)) {
    return ERROR_INVALID_DATA;
  }
  auto* copy = static_cast<GUID*>(LocalAlloc(LMEM_FIXED, sizeof(GUID)));
  if (copy == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
  *copy = parsed;
  *active = copy;
  return ERROR_SUCCESS;
}

DWORD ReadValueIndex(PowerSide side, HKEY root, const GUID* scheme, const GUID* subgroup,
                     const GUID* setting, LPDWORD index) {
  if (root != nullptr || scheme == nullptr || subgroup == nullptr || setting == nullptr ||
      index == nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  LONG rc = KeyExists(SchemeKey(*scheme));
  if (rc != ERROR_SUCCESS) return static_cast<DWORD>(rc);
  DWORD value = 0;
  rc = ReadDword(SchemeSettingKey(*scheme, *subgroup, *setting), IndexValue(side), &value);
  if (rc == ERROR_FILE_NOT_FOUND) {
    const std::string defaults =
        SettingKey(*subgroup, *setting) + "\\" + kDefaultValuesKey + "\\" + GuidText(*scheme);
    rc = ReadDword(defaults, IndexValue(side), &value);
  }
  if (rc != ERROR_SUCCESS) return static_cast<DWORD>(rc);
  *index = value;
  return ERROR_SUCCESS;
}

DWORD WriteValueIndex(PowerSide side, HKEY root, const GUID* scheme, const GUID* subgroup,
                      const GUID* setting, DWORD index) {
  if (root != nullptr || scheme == nullptr || subgroup == nullptr || setting == nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  LONG rc = KeyExists(SchemeKey(*scheme));
  if (rc == ERROR_SUCCESS) rc = KeyExists(SettingKey(*subgroup, *setting));
  if (rc != ERROR_SUCCESS) return static_cast<DWORD>(rc);
  if (FixedByPolicy(side, *setting)) return ERROR_ACCESS_DISABLED_BY_POLICY;

  HKEY key = nullptr;
  rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, SchemeSettingKey(*scheme, *subgroup, *setting).c_str(),
                       0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, &key, nullptr);
  if (rc != ERROR_SUCCESS) return static_cast<DWORD>(rc);
  rc = RegSetValueExA(key, IndexValue(side), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&index),
                      sizeof index);
  if (rc == ERROR_SUCCESS) RegFlushKey(key);
  RegCloseKey(key);
  return static_cast<DWORD>(rc);
}

DWORD SetActivePowerScheme(HKEY userRoot, const GUID* scheme) {
  if (userRoot != nullptr || scheme == nullptr) return ERROR_INVALID_PARAMETER;
  LONG rc = KeyExists(SchemeKey(*scheme));
  if (rc != ERROR_SUCCESS) return static_cast<DWORD>(rc);
  GUID chosen;
  bool named = false;
  if (PlanChosenByPolicy(&chosen, &named) &&
      !(named && std::memcmp(&chosen, scheme, sizeof chosen) == 0)) {
    return ERROR_ACCESS_DISABLED_BY_POLICY;
  }
  HKEY key = nullptr;
  rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSchemesKey, 0, KEY_SET_VALUE, &key);
  if (rc != ERROR_SUCCESS) return static_cast<DWORD>(rc);
  const std::string text = GuidText(*scheme);
  rc = RegSetValueExA(key, kActivePowerSchemeValue, 0, REG_SZ,
                      reinterpret_cast<const BYTE*>(text.c_str()),
                      static_cast<DWORD>(text.size() + 1));
  if (rc == ERROR_SUCCESS) RegFlushKey(key);
  RegCloseKey(key);
  return static_cast<DWORD>(rc);
}

DWORD SettingAccessCheck(POWER_DATA_ACCESSOR access, const GUID* guid) {
  switch (access) {
    case ACCESS_AC_POWER_SETTING_INDEX:
    case ACCESS_DC_POWER_SETTING_INDEX: {
      if (guid == nullptr) return ERROR_INVALID_PARAMETER;
      const PowerSide side =
          access == ACCESS_AC_POWER_SETTING_INDEX ? PowerSide::kAc : PowerSide::kDc;
      if (FixedByPolicy(side, *guid)) return ERROR_ACCESS_DISABLED_BY_POLICY;
      return static_cast<DWORD>(CheckWriteRight());
    }
    case ACCESS_ACTIVE_SCHEME: {
      GUID chosen;
      bool named = false;
      if (PlanChosenByPolicy(&chosen, &named)) return ERROR_ACCESS_DISABLED_BY_POLICY;
      return static_cast<DWORD>(CheckWriteRight());
    }
    case ACCESS_SCHEME:
    case ACCESS_CREATE_SCHEME:
      return static_cast<DWORD>(CheckWriteRight());
    default:
      return ERROR_INVALID_PARAMETER;
  }
}

namespace {

// The settings CallNtPowerInformation reports, by their published GUIDs.
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

// The value in force: what group policy holds for the side, else the scheme's.
LONG ValueInForce(PowerSide side, const GUID& scheme, const GUID& subgroup, const GUID& setting,
                  DWORD* value) {
  if (FixedByPolicy(side, setting) &&
      ReadDword(PolicySettingKey(setting), IndexValue(side), value) == ERROR_SUCCESS) {
    return ERROR_SUCCESS;
  }
  return static_cast<LONG>(ReadValueIndex(side, nullptr, &scheme, &subgroup, &setting, value));
}

}  // namespace

LONG PowerInformation(POWER_INFORMATION_LEVEL level, PVOID input, ULONG /*inputLength*/,
                      PVOID output, ULONG outputLength) {
  if (level != SystemPowerPolicyAc && level != SystemPowerPolicyDc) return kStatusNotImplemented;
  if (input != nullptr) return kStatusNotImplemented;
  if (output == nullptr || outputLength < sizeof(SYSTEM_POWER_POLICY)) {
    return kStatusBufferTooSmall;
  }
  const PowerSide side = level == SystemPowerPolicyAc ? PowerSide::kAc : PowerSide::kDc;
  GUID* active = nullptr;
  if (GetActivePowerScheme(nullptr, &active) != ERROR_SUCCESS) return kStatusUnsuccessful;
  const GUID scheme = *active;
  LocalFree(active);

  SYSTEM_POWER_POLICY policy;
  std::memset(&policy, 0, sizeof policy);
  policy.Revision = 1;
  if (ValueInForce(side, scheme, kVideoSubgroup, kVideoIdle, &policy.VideoTimeout) !=
          ERROR_SUCCESS ||
      ValueInForce(side, scheme, kSleepSubgroup, kStandbyIdle, &policy.IdleTimeout) !=
          ERROR_SUCCESS ||
      ValueInForce(side, scheme, kSleepSubgroup, kHibernateIdle, &policy.DozeS4Timeout) !=
          ERROR_SUCCESS ||
      ValueInForce(side, scheme, kDiskSubgroup, kDiskIdle, &policy.SpindownTimeout) !=
          ERROR_SUCCESS) {
    return kStatusUnsuccessful;
  }
  policy.Idle.Action = policy.IdleTimeout != 0 ? PowerActionSleep : PowerActionNone;
  std::memcpy(output, &policy, sizeof policy);
  return kStatusSuccess;
}

}  // namespace powerprofile
