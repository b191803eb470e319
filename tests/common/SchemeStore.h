// The scheme store as the tests know it: the Windows 2000/XP layout that the legacy
// power-profile functions read and write (the user half of each scheme under
// HKEY_CURRENT_USER, the machine half under HKEY_LOCAL_MACHINE, the active index as decimal
// text), and helpers over Win32Api.h only, so the same code serves the host tests, the
// power-profile tests under Wine and the Wine program tests. The paths and value names are
// spelled out here rather than taken from the profile's own constants: the layout is what
// Windows programs rely on, and a typo in those constants must fail a test. Host tests that
// seed or read the store without passing the call gate use HostSchemeStore.h, on this layout.
#ifndef PM_TESTS_SCHEMESTORE_H
#define PM_TESTS_SCHEMESTORE_H

#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "Win32Api.h"

namespace scheme_store {

constexpr const char* kUserPowerCfg = "Control Panel\\PowerCfg";
constexpr const char* kUserPolicies = "Control Panel\\PowerCfg\\PowerPolicies";
constexpr const char* kMachinePowerCfg =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Controls Folder\\PowerCfg";
constexpr const char* kMachinePolicies =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Controls Folder\\PowerCfg\\PowerPolicies";
constexpr const char* kActiveValue = "CurrentPowerPolicy";
constexpr const char* kPoliciesValue = "Policies";
constexpr const char* kCapabilitiesKnob = "StandInCapabilities";

// The scheme indices the tests use; WipeScratch removes exactly these.
constexpr UINT kScratchIds[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 42};

using Bytes = std::vector<BYTE>;

inline std::string UserKey(UINT id) {
  return std::string(kUserPolicies) + "\\" + std::to_string(id);
}
inline std::string MachineKey(UINT id) {
  return std::string(kMachinePolicies) + "\\" + std::to_string(id);
}

template <typename T>
Bytes BytesOf(const T& record) {
  const BYTE* p = reinterpret_cast<const BYTE*>(&record);
  return Bytes(p, p + sizeof record);
}

inline Bytes TextBytes(const std::string& text, bool terminated = true) {
  Bytes out(text.begin(), text.end());
  if (terminated) out.push_back(0);
  return out;
}

// A REG_DWORD's four bytes, least significant first.
inline Bytes DwordBytes(DWORD value) {
  return {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8), static_cast<BYTE>(value >> 16),
          static_cast<BYTE>(value >> 24)};
}

inline bool KeyExists(HKEY root, const std::string& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

inline LONG SetValue(HKEY root, const std::string& path, const char* name, DWORD type,
                     const Bytes& data) {
  HKEY key = nullptr;
  LONG rc = RegCreateKeyExA(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                            nullptr, &key, nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  rc = RegSetValueExA(key, name, 0, type, data.empty() ? nullptr : data.data(),
                      static_cast<DWORD>(data.size()));
  RegCloseKey(key);
  return rc;
}

// The value's type and bytes; false when the key or the value is missing.
inline bool GetValue(HKEY root, const std::string& path, const char* name, DWORD* type,
                     Bytes* data) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
  DWORD size = 0;
  LONG rc = RegQueryValueExA(key, name, nullptr, type, nullptr, &size);
  if (rc == ERROR_SUCCESS) {
    data->assign(size, 0);
    rc = RegQueryValueExA(key, name, nullptr, type, data->empty() ? nullptr : data->data(), &size);
    data->resize(size);
  }
  RegCloseKey(key);
  return rc == ERROR_SUCCESS;
}

// A REG_SZ value as text (up to its first zero); "<absent>" or "<type N>" otherwise.
inline std::string GetText(HKEY root, const std::string& path, const char* name) {
  DWORD type = REG_NONE;
  Bytes data;
  if (!GetValue(root, path, name, &type, &data)) return "<absent>";
  if (type != REG_SZ) return "<type " + std::to_string(type) + ">";
  std::string text(data.begin(), data.end());
  return text.substr(0, text.find('\0'));
}

inline void DeleteValue(HKEY root, const std::string& path, const char* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
  RegDeleteValueA(key, name);
  RegCloseKey(key);
}

// Removes every scheme key the tests may have made, both PowerPolicies keys (when nothing
// else lives under them), the active index and the capabilities knob. Under Wine the prefix's
// registry outlives the program, so this runs before and after each test.
inline void WipeScratch() {
  for (UINT id : kScratchIds) {
    RegDeleteKeyA(HKEY_CURRENT_USER, UserKey(id).c_str());
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, MachineKey(id).c_str());
  }
  RegDeleteKeyA(HKEY_CURRENT_USER, kUserPolicies);
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, kMachinePolicies);
  DeleteValue(HKEY_CURRENT_USER, kUserPowerCfg, kActiveValue);
  DeleteValue(HKEY_LOCAL_MACHINE, kMachinePowerCfg, kCapabilitiesKnob);
}

// A scheme whose every byte differs from its neighbours', so that a shifted, truncated or
// partly written record cannot pass for it; but for the revision of each half, 1, as every
// record Windows accepts carries it.
inline POWER_POLICY SamplePolicy(BYTE seed) {
  POWER_POLICY policy;
  BYTE* p = reinterpret_cast<BYTE*>(&policy);
  for (size_t i = 0; i < sizeof policy; ++i) p[i] = static_cast<BYTE>(seed + i * 7);
  policy.user.Revision = 1;
  policy.mach.Revision = 1;
  return policy;
}

// A scheme with a distinct value in every member, so a test sees any member that changes.
inline POWER_POLICY DistinctPolicy() {
  POWER_POLICY p;
  std::memset(&p, 0, sizeof p);
  USER_POWER_POLICY& u = p.user;
  u.Revision = 1;
  u.IdleAc = {PowerActionSleep, 0x10000001, 0x20000001};
  u.IdleDc = {PowerActionHibernate, 0x10000002, 0x20000002};
  u.IdleTimeoutAc = 600;
  u.IdleTimeoutDc = 300;
  u.IdleSensitivityAc = 50;
  u.IdleSensitivityDc = 51;
  u.ThrottlePolicyAc = 1;
  u.ThrottlePolicyDc = 2;
  u.MaxSleepAc = PowerSystemSleeping3;
  u.MaxSleepDc = PowerSystemSleeping1;
  u.Reserved[0] = 0x33;
  u.Reserved[1] = 0x44;
  u.VideoTimeoutAc = 1200;
  u.VideoTimeoutDc = 420;
  u.SpindownTimeoutAc = 1800;
  u.SpindownTimeoutDc = 900;
  u.OptimizeForPowerAc = 1;
  u.OptimizeForPowerDc = 1;
  u.FanThrottleToleranceAc = 70;
  u.FanThrottleToleranceDc = 71;
  u.ForcedThrottleAc = 90;
  u.ForcedThrottleDc = 91;
  MACHINE_POWER_POLICY& m = p.mach;
  m.Revision = 1;
  m.MinSleepAc = PowerSystemSleeping1;
  m.MinSleepDc = PowerSystemSleeping2;
  m.ReducedLatencySleepAc = PowerSystemSleeping1;
  m.ReducedLatencySleepDc = PowerSystemWorking;
  m.DozeTimeoutAc = 660;
  m.DozeTimeoutDc = 360;
  m.DozeS4TimeoutAc = 3600;
  m.DozeS4TimeoutDc = 2400;
  m.MinThrottleAc = 40;
  m.MinThrottleDc = 41;
  m.OverThrottledAc = {PowerActionNone, 5, 6};
  m.OverThrottledDc = {PowerActionShutdownOff, 7, 8};
  return p;
}

// A scheme beside the active one: DistinctPolicy with every time-out `n` + 1 times two minutes
// longer and other bytes of its own, so that a pass that reads or writes it instead of the
// active scheme shows in every number.
inline POWER_POLICY NeighbourPolicy(unsigned n) {
  POWER_POLICY p = DistinctPolicy();
  const ULONG more = (n + 1) * 120;
  for (ULONG* timeout : {&p.user.VideoTimeoutAc, &p.user.VideoTimeoutDc, &p.user.IdleTimeoutAc,
                         &p.user.IdleTimeoutDc, &p.user.SpindownTimeoutAc,
                         &p.user.SpindownTimeoutDc, &p.mach.DozeS4TimeoutAc,
                         &p.mach.DozeS4TimeoutDc, &p.mach.DozeTimeoutAc, &p.mach.DozeTimeoutDc}) {
    *timeout += more;
  }
  p.user.Reserved[0] = static_cast<UCHAR>(0x50 + n);
  p.mach.MinThrottleAc = static_cast<UCHAR>(60 + n);
  return p;
}

// Stores a scheme directly in the registry, as a Windows installation would hold it.
inline void SeedScheme(UINT id, const POWER_POLICY& policy) {
  SetValue(HKEY_CURRENT_USER, UserKey(id), kPoliciesValue, REG_BINARY, BytesOf(policy.user));
  SetValue(HKEY_LOCAL_MACHINE, MachineKey(id), kPoliciesValue, REG_BINARY, BytesOf(policy.mach));
}

}  // namespace scheme_store

#endif
