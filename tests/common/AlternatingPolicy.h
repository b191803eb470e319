// A policy whose eight time-outs all change from one pass to the next, for the host programs
// that run many passes (the soak, the benchmark): two sets of time-outs in minutes that differ
// in every value and from the default schemes, hibernation after standby in both, written
// straight into the stand-in's registry (neither recorded nor failed).
#ifndef PM_TESTS_ALTERNATINGPOLICY_H
#define PM_TESTS_ALTERNATINGPOLICY_H

#include <string>

#include "HostControl.h"
#include "RegistrySchema.h"

// The set for pass `pass`: the first for even passes, the second for odd ones.
inline void SetAlternatingPolicy(unsigned long pass) {
  static const char* const kNames[] = {
      schema::kAcUserMonIdleTime,         schema::kAcUserStandByIdleTime,
      schema::kAcMachHibernateIdleTime,   schema::kDcUserMonIdleTime,
      schema::kDcUserStandByIdleTime,     schema::kDcMachHibernateIdleTime,
      schema::kAcUserHddSpindownIdleTime, schema::kDcUserHddSpindownIdleTime};
  static const DWORD kSets[2][8] = {{10, 30, 90, 5, 15, 60, 20, 10},
                                    {11, 31, 95, 6, 16, 65, 21, 11}};
  const std::string simple = std::string(schema::kPolicyRoot) + "\\" + schema::kAcceptedScheme;
  for (int i = 0; i < 8; ++i) {
    host::WriteDword(HKEY_LOCAL_MACHINE, simple, kNames[i], kSets[pass % 2][i]);
  }
}

#endif
