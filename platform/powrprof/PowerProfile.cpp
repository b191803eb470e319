// The stand-in power profile over the ANSI registry calls. Every function leaves the caller's
// record untouched when it fails, sets the last error and answers FALSE; nothing here keeps
// state of its own, so a direct registry write is seen by the next call, as on Windows.
#include "PowerProfile.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace powerprofile {
namespace {

// "<base>\<id>": the key of one scheme's half. Room for the longest base and 10 digits.
struct SchemeKey {
  char path[160];
  SchemeKey(const char* base, UINT id) {
    std::snprintf(path, sizeof path, "%s\\%u", base, static_cast<unsigned>(id));
  }
};

BOOLEAN Fail(LONG error) {
  SetLastError(static_cast<DWORD>(error));
  return FALSE;
}

// Reads the record stored as value `name` of root\path into `out`. A record is identified by
// its size alone (Windows does not check the type either): any other size is ERROR_INVALID_DATA.
// Opens for reading only, so a missing key stays missing.
LONG ReadRecord(HKEY root, const char* path, const char* name, void* out, DWORD size) {
  HKEY key = nullptr;
  LONG rc = RegOpenKeyExA(root, path, 0, KEY_QUERY_VALUE, &key);
  if (rc != ERROR_SUCCESS) return rc;
  // One byte more than the record, so that a longer value is seen as such.
  BYTE buffer[sizeof(POWER_POLICY) + 1];
  DWORD type = REG_NONE;
  DWORD got = size + 1;
  rc = RegQueryValueExA(key, name, nullptr, &type, buffer, &got);
  RegCloseKey(key);
  if (rc == ERROR_MORE_DATA) return ERROR_INVALID_DATA;
  if (rc != ERROR_SUCCESS) return rc;
  if (got != size) return ERROR_INVALID_DATA;
  std::memcpy(out, buffer, size);
  return ERROR_SUCCESS;
}

// Both halves of scheme `id`, or the first error met.
LONG ReadBothHalves(UINT id, POWER_POLICY* out) {
  POWER_POLICY policy;
  LONG rc = ReadRecord(HKEY_CURRENT_USER, SchemeKey(kUserPoliciesKey, id).path, kPoliciesValue,
                       &policy.user, sizeof policy.user);
  if (rc != ERROR_SUCCESS) return rc;
  rc = ReadRecord(HKEY_LOCAL_MACHINE, SchemeKey(kMachinePoliciesKey, id).path, kPoliciesValue,
                  &policy.mach, sizeof policy.mach);
  if (rc != ERROR_SUCCESS) return rc;
  *out = policy;
  return ERROR_SUCCESS;
}

// The revision of both halves of a scheme record and of the global policy.
constexpr ULONG kPolicyRevision = 1;

LONG CreateForWriting(HKEY root, const char* path, HKEY* key) {
  return RegCreateKeyExA(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr,
                         key, nullptr);
}

LONG SetText(HKEY key, const char* name, const char* text) {
  return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                        static_cast<DWORD>(std::strlen(text) + 1));
}

// A text value as its bytes up to the first zero; empty when it is absent.
LONG ReadText(HKEY root, const char* path, const char* name, std::string* text) {
  text->clear();
  HKEY key = nullptr;
  LONG rc = RegOpenKeyExA(root, path, 0, KEY_QUERY_VALUE, &key);
  if (rc != ERROR_SUCCESS) return rc;
  DWORD type = REG_NONE;
  DWORD size = 0;
  rc = RegQueryValueExA(key, name, nullptr, &type, nullptr, &size);
  if (rc == ERROR_SUCCESS && size > 0) {
    std::string data(size, '\0');
    rc = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&data[0]), &size);
    if (rc == ERROR_SUCCESS) text->assign(data.c_str(), strnlen(data.c_str(), size));
  }
  RegCloseKey(key);
  return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
}

// Stores both halves of scheme `id`, and the texts that are given. The machine half goes first:
// it is the one a limited user may not write, so a refused write leaves nothing behind.
LONG StoreScheme(UINT id, const char* name, const char* description, const POWER_POLICY& policy) {
  HKEY machine = nullptr;
  LONG rc = CreateForWriting(HKEY_LOCAL_MACHINE, SchemeKey(kMachinePoliciesKey, id).path, &machine);
  if (rc != ERROR_SUCCESS) return rc;
  HKEY user = nullptr;
  rc = CreateForWriting(HKEY_CURRENT_USER, SchemeKey(kUserPoliciesKey, id).path, &user);
  if (rc != ERROR_SUCCESS) {
    RegCloseKey(machine);
    return rc;
  }

  rc = RegSetValueExA(machine, kPoliciesValue, 0, REG_BINARY,
                      reinterpret_cast<const BYTE*>(&policy.mach), sizeof policy.mach);
  if (rc == ERROR_SUCCESS && name != nullptr) rc = SetText(user, kNameValue, name);
  if (rc == ERROR_SUCCESS && description != nullptr) {
    rc = SetText(user, kDescriptionValue, description);
  }
  if (rc == ERROR_SUCCESS) {
    rc = RegSetValueExA(user, kPoliciesValue, 0, REG_BINARY,
                        reinterpret_cast<const BYTE*>(&policy.user), sizeof policy.user);
  }
  // A scheme that was not stored is not reported as written.
  if (rc == ERROR_SUCCESS) rc = RegFlushKey(machine);
  if (rc == ERROR_SUCCESS) rc = RegFlushKey(user);
  RegCloseKey(user);
  RegCloseKey(machine);
  return rc;
}

// The active index is decimal text, REG_SZ or REG_EXPAND_SZ, with or without its terminating
// zero. Anything else (empty, a sign, a space, more than fits in 32 bits) is not an index.
bool ParseIndex(const char* text, DWORD length, UINT* id) {
  DWORD end = 0;
  while (end < length && text[end] != '\0') ++end;
  if (end == 0) return false;
  unsigned long long value = 0;
  for (DWORD i = 0; i < end; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + static_cast<unsigned>(text[i] - '0');
    if (value > 0xFFFFFFFFull) return false;
  }
  *id = static_cast<UINT>(value);
  return true;
}

}  // namespace

SYSTEM_POWER_CAPABILITIES DefaultCapabilities() {
  SYSTEM_POWER_CAPABILITIES caps;
  std::memset(&caps, 0, sizeof caps);
  caps.PowerButtonPresent = TRUE;
  caps.SystemS1 = TRUE;
  caps.SystemS3 = TRUE;
  caps.SystemS4 = TRUE;
  caps.SystemS5 = TRUE;
  caps.HiberFilePresent = TRUE;
  caps.FullWake = TRUE;
  caps.ProcessorMinThrottle = 100;
  caps.ProcessorMaxThrottle = 100;
  caps.DiskSpinDown = TRUE;
  caps.AcOnLineWake = PowerSystemUnspecified;
  caps.SoftLidWake = PowerSystemUnspecified;
  caps.RtcWake = PowerSystemSleeping3;
  caps.MinDeviceWakeState = PowerSystemSleeping1;
  caps.DefaultLowLatencyWake = PowerSystemUnspecified;
  return caps;
}

SYSTEM_POWER_CAPABILITIES ModernStandbyCapabilities() {
  SYSTEM_POWER_CAPABILITIES caps = DefaultCapabilities();
  caps.SleepButtonPresent = TRUE;
  caps.LidPresent = TRUE;
  caps.SystemS1 = FALSE;
  caps.SystemS3 = FALSE;
  SetCapabilitiesAoAc(caps, TRUE);
  caps.SystemBatteriesPresent = TRUE;
  caps.RtcWake = PowerSystemUnspecified;
  caps.MinDeviceWakeState = PowerSystemUnspecified;
  return caps;
}

// The knob exists so tests can describe another machine (laptop, no S3, no hibernation) on
// both sides. A knob of the wrong size answers FALSE, which is also how a test makes the
// capability query fail where failures cannot be injected.
BOOLEAN GetCapabilities(PSYSTEM_POWER_CAPABILITIES caps, bool windowsXpRecord) {
  if (caps == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  SYSTEM_POWER_CAPABILITIES found;
  LONG rc =
      ReadRecord(HKEY_LOCAL_MACHINE, kMachinePowerCfgKey, kCapabilitiesValue, &found, sizeof found);
  if (rc == ERROR_FILE_NOT_FOUND) {
    found = DefaultCapabilities();
  } else if (rc != ERROR_SUCCESS) {
    return Fail(rc);
  }
  if (windowsXpRecord) SetCapabilitiesAoAc(found, FALSE);
  *caps = found;
  return TRUE;
}

BOOLEAN GetActiveScheme(PUINT id) {
  if (id == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  HKEY key = nullptr;
  LONG rc = RegOpenKeyExA(HKEY_CURRENT_USER, kUserPowerCfgKey, 0, KEY_QUERY_VALUE, &key);
  if (rc != ERROR_SUCCESS) return Fail(rc);
  char text[16];
  DWORD type = REG_NONE;
  DWORD length = sizeof text;
  rc = RegQueryValueExA(key, kActiveSchemeValue, nullptr, &type, reinterpret_cast<BYTE*>(text),
                        &length);
  RegCloseKey(key);
  if (rc == ERROR_MORE_DATA) return Fail(ERROR_INVALID_DATA);
  if (rc != ERROR_SUCCESS) return Fail(rc);
  UINT parsed = 0;
  if ((type != REG_SZ && type != REG_EXPAND_SZ) || !ParseIndex(text, length, &parsed)) {
    return Fail(ERROR_INVALID_DATA);
  }
  *id = parsed;
  return TRUE;
}

BOOLEAN IsHibernateAllowed() {
  SYSTEM_POWER_CAPABILITIES caps;
  if (!GetCapabilities(&caps, true)) return FALSE;
  return (caps.SystemS4 && caps.HiberFilePresent) ? TRUE : FALSE;
}

// Windows answers whether the machine key can be opened for writing. That key exists on every
// Windows; where it does not (a fresh stand-in registry) the nearest existing ancestor, at
// last the hive, is asked instead, because whoever may write there may create it. Asking
// never creates a key.
BOOLEAN CanUserWriteScheme() {
  char path[160];
  std::snprintf(path, sizeof path, "%s", kMachinePowerCfgKey);
  for (;;) {
    HKEY key = nullptr;
    LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_WRITE, &key);
    if (rc == ERROR_SUCCESS) {
      RegCloseKey(key);
      return TRUE;
    }
    if (rc != ERROR_FILE_NOT_FOUND || path[0] == '\0') return Fail(rc);
    char* last = std::strrchr(path, '\\');
    *(last != nullptr ? last : path) = '\0';  // the last try is the hive itself
  }
}

BOOLEAN ReadScheme(UINT id, PPOWER_POLICY policy) {
  if (policy == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  LONG rc = ReadBothHalves(id, policy);
  return rc == ERROR_SUCCESS ? TRUE : Fail(rc);
}

BOOLEAN WriteScheme(PUINT id, const char* name, const char* description, PPOWER_POLICY policy) {
  if (id == nullptr || name == nullptr || policy == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  LONG rc = StoreScheme(*id, name, description, *policy);
  return rc == ERROR_SUCCESS ? TRUE : Fail(rc);
}

BOOLEAN SetActiveScheme(UINT id, PGLOBAL_POWER_POLICY global, PPOWER_POLICY policy) {
  if ((policy != nullptr &&
       (policy->user.Revision != kPolicyRevision || policy->mach.Revision != kPolicyRevision)) ||
      (global != nullptr &&
       (global->user.Revision != kPolicyRevision || global->mach.Revision != kPolicyRevision))) {
    return Fail(ERROR_REVISION_MISMATCH);
  }
  POWER_POLICY stored;
  LONG rc = ReadBothHalves(id, &stored);
  if (rc != ERROR_SUCCESS) return Fail(rc);
  // The records given replace the policy in force, which here is the active scheme's; written
  // only where they differ, so that choosing a scheme as it is stored needs no write access.
  if (policy != nullptr && std::memcmp(policy, &stored, sizeof stored) != 0) {
    rc = StoreScheme(id, nullptr, nullptr, *policy);
    if (rc != ERROR_SUCCESS) return Fail(rc);
  }
  HKEY key = nullptr;
  rc = CreateForWriting(HKEY_CURRENT_USER, kUserPowerCfgKey, &key);
  if (rc != ERROR_SUCCESS) return Fail(rc);
  char text[16];
  std::snprintf(text, sizeof text, "%u", static_cast<unsigned>(id));
  rc = SetText(key, kActiveSchemeValue, text);
  if (rc == ERROR_SUCCESS) rc = RegFlushKey(key);
  RegCloseKey(key);
  return rc == ERROR_SUCCESS ? TRUE : Fail(rc);
}

BOOLEAN EnumSchemes(SchemeVisitor visit, void* context) {
  if (visit == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  HKEY key = nullptr;
  LONG rc = RegOpenKeyExA(HKEY_CURRENT_USER, kUserPoliciesKey, 0, KEY_ENUMERATE_SUB_KEYS, &key);
  if (rc == ERROR_FILE_NOT_FOUND) return TRUE;  // no scheme at all
  if (rc != ERROR_SUCCESS) return Fail(rc);
  bool stopped = false;
  for (DWORD i = 0; !stopped; ++i) {
    // Room for every index; a longer name is none.
    char name[16];
    DWORD length = sizeof name;
    rc = RegEnumKeyExA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_MORE_DATA) continue;
    if (rc != ERROR_SUCCESS) break;
    UINT id = 0;
    if (!ParseIndex(name, length, &id)) continue;
    POWER_POLICY policy;
    rc = ReadBothHalves(id, &policy);
    std::string schemeName;
    std::string description;
    const SchemeKey user(kUserPoliciesKey, id);
    if (rc == ERROR_SUCCESS) rc = ReadText(HKEY_CURRENT_USER, user.path, kNameValue, &schemeName);
    if (rc == ERROR_SUCCESS) {
      rc = ReadText(HKEY_CURRENT_USER, user.path, kDescriptionValue, &description);
    }
    if (rc != ERROR_SUCCESS) break;
    stopped = !visit(id, schemeName.c_str(), description.c_str(), &policy, context);
  }
  RegCloseKey(key);
  if (stopped) return Fail(ERROR_CANCELLED);
  return rc == ERROR_NO_MORE_ITEMS ? TRUE : Fail(rc);
}

}  // namespace powerprofile
