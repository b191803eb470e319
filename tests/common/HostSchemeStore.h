// The scheme store of SchemeStore.h, seeded and read by the host tests straight in the
// stand-in's registry: neither recorded nor subject to injected failures, so a test's own
// set-up and checks never count as calls of the system under test.
#ifndef PM_TESTS_HOSTSCHEMESTORE_H
#define PM_TESTS_HOSTSCHEMESTORE_H

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "HostControl.h"
#include "SchemeStore.h"

namespace scheme_store {

// Stores both halves of scheme `index` (and its name, which the layout carries).
inline void Seed(unsigned index, const POWER_POLICY& policy) {
  host::WriteString(HKEY_CURRENT_USER, UserKey(index), "Name", "Scheme " + std::to_string(index));
  host::WriteString(HKEY_CURRENT_USER, UserKey(index), "Description", "");
  host::WriteValue(HKEY_CURRENT_USER, UserKey(index), kPoliciesValue, REG_BINARY,
                   BytesOf(policy.user));
  host::WriteValue(HKEY_LOCAL_MACHINE, MachineKey(index), kPoliciesValue, REG_BINARY,
                   BytesOf(policy.mach));
}

inline void SetActive(unsigned index) {
  host::WriteString(HKEY_CURRENT_USER, kUserPowerCfg, kActiveValue, std::to_string(index));
}

// The stored user half of scheme `index`, or an empty vector.
inline Bytes StoredUserHalf(unsigned index) {
  host::RegValue value;
  if (!host::ReadValue(HKEY_CURRENT_USER, UserKey(index), kPoliciesValue, &value)) return {};
  return value.data;
}

inline Bytes StoredMachineHalf(unsigned index) {
  host::RegValue value;
  if (!host::ReadValue(HKEY_LOCAL_MACHINE, MachineKey(index), kPoliciesValue, &value)) return {};
  return value.data;
}

// Both halves of scheme `index` as stored; a half that is missing or of another size reads
// as zeros, with a failure.
inline POWER_POLICY StoredScheme(unsigned index) {
  POWER_POLICY policy{};
  const Bytes user = StoredUserHalf(index);
  const Bytes mach = StoredMachineHalf(index);
  EXPECT_EQ(user.size(), sizeof policy.user);
  EXPECT_EQ(mach.size(), sizeof policy.mach);
  if (user.size() == sizeof policy.user) std::memcpy(&policy.user, user.data(), user.size());
  if (mach.size() == sizeof policy.mach) std::memcpy(&policy.mach, mach.data(), mach.size());
  return policy;
}

// Replaces both halves of scheme `index` as stored.
inline void StoreScheme(unsigned index, const POWER_POLICY& policy) {
  host::WriteValue(HKEY_CURRENT_USER, UserKey(index), kPoliciesValue, REG_BINARY,
                   BytesOf(policy.user));
  host::WriteValue(HKEY_LOCAL_MACHINE, MachineKey(index), kPoliciesValue, REG_BINARY,
                   BytesOf(policy.mach));
}

// The whole store as .reg text: the per-user and the machine PowerCfg keys.
inline std::string ExportStore() {
  return host::ExportRegText(HKEY_CURRENT_USER, kUserPowerCfg) +
         host::ExportRegText(HKEY_LOCAL_MACHINE, kMachinePowerCfg);
}

}  // namespace scheme_store

#endif
