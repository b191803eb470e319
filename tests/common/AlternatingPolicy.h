// A policy whose eight time-outs all change from one pass to the next, for the host programs
// that run many passes (the soak, the benchmark): two sets of time-outs in minutes that differ
// in every value and from the default schemes, hibernation after standby in both, written
// straight into the stand-in's registry (neither recorded nor failed).
#ifndef PM_TESTS_ALTERNATINGPOLICY_H
#define PM_TESTS_ALTERNATINGPOLICY_H

#include <string>

#include <iterator>

#include "HostControl.h"
#include "RegistrySchema.h"
#include "SettingTable.h"

// The set for pass `pass`: the first for even passes, the second for odd ones. One value per
// row of the setting table, in its order.
inline void SetAlternatingPolicy(unsigned long pass) {
  static const DWORD kEven[] = {10, 30, 90, 5, 15, 60, 20, 10};
  static const DWORD kOdd[] = {11, 31, 95, 6, 16, 65, 21, 11};
  static_assert(std::size(kEven) == kSettingCount && std::size(kOdd) == kSettingCount,
                "one value of each set per setting");
  const std::string simple = std::string(schema::kPolicyRoot) + "\\" + schema::kAcceptedScheme;
  for (size_t i = 0; i < kSettingCount; ++i) {
    host::WriteDword(HKEY_LOCAL_MACHINE, simple, kSettings[i].policyValue,
                     (pass % 2 == 0 ? kEven : kOdd)[i]);
  }
}

#endif
