// Linked into every test program that uses the power-scheme library: objects built without an
// interface use the process's default, probed at its first use; here that happens before the
// first test, on the stand-in's default machine (legacy only). The probe's calls and its debug
// text thus come before every test's reset, where a program's would come at its start.
#include <gtest/gtest.h>

#include "HostControl.h"
#include "PowerInterfaceProbe.h"

namespace {

class ProbeBeforeTests : public testing::Environment {
 public:
  void SetUp() override {
    host::Reset();
    host::SetDebugEcho(false);
    DefaultPowerInterface();
  }
};

testing::Environment* const kProbeBeforeTests =
    testing::AddGlobalTestEnvironment(new ProbeBeforeTests);

}  // namespace
