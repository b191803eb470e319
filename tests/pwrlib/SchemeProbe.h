// Test access to the fields of PwrScheme.
#ifndef PM_TESTS_SCHEMEPROBE_H
#define PM_TESTS_SCHEMEPROBE_H

#include <cstdint>
#include <vector>

#include "HostSchemeStore.h"
#include "PwrScheme.h"

class SchemeProbe : public PwrScheme {
 public:
  using PwrScheme::PwrScheme;
  SchemeProbe() = default;

  const POWER_POLICY& Policy() const { return policy; }
  // All 144 bytes of the record, padding included.
  std::vector<uint8_t> PolicyBytes() const { return scheme_store::BytesOf(policy); }
  UINT Index() const { return index; }
  bool Bypass() const { return securityBypass; }
  bool Force() const { return forceStandby; }
};

#endif
