// Linked into every test program that uses the power-scheme library: the library chooses its
// interface at its first use in a process, and here that happens before the first test, on
// the stand-in's default machine (legacy only). The probe's calls and its debug text thus come
// before every test's reset, where a program's would come at the start of its first pass.
#include <gtest/gtest.h>

#include "HostControl.h"
#include "PowerInterface.h"

namespace {

class ProbeBeforeTests : public testing::Environment {
 public:
  void SetUp() override {
    host::Reset();
    host::SetDebugEcho(false);
    ChoosePowerInterfaceAgain();
  }
};

testing::Environment* const kProbeBeforeTests =
    testing::AddGlobalTestEnvironment(new ProbeBeforeTests);

}  // namespace
