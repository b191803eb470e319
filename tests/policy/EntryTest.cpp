// Each program's RunPolicyUpdate runs the variant it was built with. This file is built
// twice: once linked with the service's entry, once with the logon tool's.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PassFixture.h"
#include "PolicyUpdate.h"

namespace {

class EntryTest : public PassFixture {};

TEST_F(EntryTest, RunPolicyUpdateRunsTheVariantThisProgramCarries) {
  SeedStandardPolicy(Dword("ACUserMonIdleTime", 15));

  RunPolicyUpdate();

#if defined(PM_EXPECT_SERVICE_PASS)
  EXPECT_EQ(host::DebugOutput(),
            (std::vector<std::string>{"Reached beginning of PM Update", kLegacyProbeText,
                                      "Reached end of PM Update"}));
  EXPECT_TRUE(BackupExists(HKEY_LOCAL_MACHINE));
  EXPECT_FALSE(BackupExists(HKEY_CURRENT_USER));
  EXPECT_EQ(LogText().substr(0, 50), "INFO: .Default User Video Timeout will be changed\r");
#else
  EXPECT_EQ(host::DebugOutput(), std::vector<std::string>{kLegacyProbeText});
  EXPECT_TRUE(BackupExists(HKEY_CURRENT_USER));
  EXPECT_FALSE(BackupExists(HKEY_LOCAL_MACHINE));
  EXPECT_EQ(LogText().substr(0, 42), "INFO: User Video Timeout will be changed\r\n");
#endif
  EXPECT_EQ(host::OpenHandleCount(), 0u);
}

}  // namespace
