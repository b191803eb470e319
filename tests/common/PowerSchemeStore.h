// Seeds power schemes into the stand-in's registry in the Windows 2000/XP layout that the
// legacy power-profile functions read: the user half under HKEY_CURRENT_USER, the machine
// half under HKEY_LOCAL_MACHINE, the active index as decimal text.
#ifndef PM_TESTS_POWERSCHEMESTORE_H
#define PM_TESTS_POWERSCHEMESTORE_H

#include <cstring>
#include <string>
#include <vector>

#include "HostControl.h"

namespace scheme_store {

inline const std::string kUserPolicies = "Control Panel\\PowerCfg\\PowerPolicies";
inline const std::string kMachinePolicies =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Controls Folder\\PowerCfg\\PowerPolicies";
inline const std::string kUserPowerCfg = "Control Panel\\PowerCfg";
inline const std::string kActiveValue = "CurrentPowerPolicy";

inline std::string UserKey(unsigned index) { return kUserPolicies + "\\" + std::to_string(index); }
inline std::string MachineKey(unsigned index) {
  return kMachinePolicies + "\\" + std::to_string(index);
}

template <typename Record>
std::vector<uint8_t> Bytes(const Record& record) {
  std::vector<uint8_t> bytes(sizeof record);
  std::memcpy(bytes.data(), &record, sizeof record);
  return bytes;
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

// Stores both halves of scheme `index` (and its name, which the layout carries).
inline void Seed(unsigned index, const POWER_POLICY& policy) {
  host::WriteString(HKEY_CURRENT_USER, UserKey(index), "Name", "Scheme " + std::to_string(index));
  host::WriteString(HKEY_CURRENT_USER, UserKey(index), "Description", "");
  host::WriteValue(HKEY_CURRENT_USER, UserKey(index), "Policies", REG_BINARY, Bytes(policy.user));
  host::WriteValue(HKEY_LOCAL_MACHINE, MachineKey(index), "Policies", REG_BINARY,
                   Bytes(policy.mach));
}

inline void SetActive(unsigned index) {
  host::WriteString(HKEY_CURRENT_USER, kUserPowerCfg, "CurrentPowerPolicy", std::to_string(index));
}

// The stored user half of scheme `index`, or an empty vector.
inline std::vector<uint8_t> StoredUserHalf(unsigned index) {
  host::RegValue value;
  if (!host::ReadValue(HKEY_CURRENT_USER, UserKey(index), "Policies", &value)) return {};
  return value.data;
}

inline std::vector<uint8_t> StoredMachineHalf(unsigned index) {
  host::RegValue value;
  if (!host::ReadValue(HKEY_LOCAL_MACHINE, MachineKey(index), "Policies", &value)) return {};
  return value.data;
}

}  // namespace scheme_store

#endif
