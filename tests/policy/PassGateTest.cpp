// What stops a pass early: no root carrying the marker, a rejected layout version, a scheme
// name other than "Simple", and a scheme that could not be read.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PassFixture.h"

namespace {

using Texts = std::vector<std::string>;
const Texts kBeginOnly = {"Reached beginning of PM Update"};
const Texts kBeginAndEnd = {"Reached beginning of PM Update", "Reached end of PM Update"};

class PassGateTest : public PassFixture {};

// The first root whose "Control" is exactly "Verify" is used, whole; the other is ignored.
TEST_F(PassGateTest, FirstRootCarryingTheExactMarkerIsTheOnlyOneRead) {
  struct Case {
    const char* policyControl;  // nullptr: no such root
    const char* localControl;
    const char* rootUsed;       // nullptr: no pass
  };
  const Case cases[] = {
      {"Verify", "Verify", kPolicyRoot},
      {"Verify", nullptr, kPolicyRoot},
      {"verify", "Verify", kLocalRoot},
      {"Verify ", "Verify", kLocalRoot},
      {"Verif", "Verify", kLocalRoot},
      {nullptr, "Verify", kLocalRoot},
      {"VERIFY", "Verify\\0x", kLocalRoot},  // bytes after a zero are not part of the text
      {"verify", "Verify ", nullptr},
      {nullptr, nullptr, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.policyControl ? c.policyControl : "-") + " / " +
                 (c.localControl ? c.localControl : "-"));
    TearDown();
    SetUp();
    // Each root asks for a different monitor time-out, so the scheme shows which was read.
    auto seed = [&](const char* root, const char* control, DWORD monitor) {
      if (!control) return;
      std::string marker = control;
      std::string controlLine;
      if (marker.size() > 2 && marker.compare(marker.size() - 3, 3, "\\0x") == 0) {
        // "Verify", a zero byte, then "x", stored as REG_SZ bytes.
        controlLine =
            "\"Control\"=hex(1):56,00,65,00,72,00,69,00,66,00,79,00,00,00,78,00,00,00\n";
      } else {
        controlLine = "\"Control\"=\"" + marker + "\"\n";
      }
      SeedPolicy(root,
                 controlLine + "\"MajorVersion\"=dword:00000002\n\"SettingsScheme\"=\"Simple\"\n",
                 Options(11), Dword("ACUserMonIdleTime", monitor));
    };
    seed(kPolicyRoot, c.policyControl, 1);
    seed(kLocalRoot, c.localControl, 2);

    RunPass();

    if (c.rootUsed == nullptr) {
      EXPECT_TRUE(SchemeUnchanged());
      EXPECT_EQ(LogText(), "<no file>");
      EXPECT_FALSE(BackupExists(HKEY_LOCAL_MACHINE));
      EXPECT_EQ(host::DebugOutput(), kBeginOnly);
      EXPECT_EQ(host::CallCount("GetPwrCapabilities"), 0u);
    } else {
      const DWORD expected = c.rootUsed == std::string(kPolicyRoot) ? 1 : 2;
      EXPECT_EQ(StoredScheme().user.VideoTimeoutAc, expected * 60);
      EXPECT_EQ(host::DebugOutput(), kBeginAndEnd);
    }
  }
}

// Values are never merged: a verified root without time-outs enforces none, even when the
// other root has them.
TEST_F(PassGateTest, VerifiedRootIsNotCompletedFromTheOther) {
  SeedPolicy(kPolicyRoot, kVerifiedRoot, Options(11), "");
  SeedPolicy(kLocalRoot, kVerifiedRoot, Options(11), AllDiffer());

  RunPass();

  EXPECT_TRUE(SchemeUnchanged());
  EXPECT_EQ(LogText(), Lines({"INFO: Commiting of Power Scheme() Succeded"}));
}

TEST_F(PassGateTest, RejectedVersionLogsOneErrorAndTouchesNothing) {
  struct Case {
    const char* versionLine;
    const char* line;
  };
  const Case cases[] = {
      {"\"MajorVersion\"=dword:00000000\n", "ERROR: Major version NULL"},
      {"\"MajorVersion\"=dword:00000003\n", "ERROR: Major version too high"},
      {"\"MajorVersion\"=dword:80000000\n", "ERROR: Major version too high"},
      {"", "ERROR: Major version too high"},  // absent
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    TearDown();
    SetUp();
    SeedPolicy(kPolicyRoot,
               std::string("\"Control\"=\"Verify\"\n\"SettingsScheme\"=\"Simple\"\n") + c.versionLine,
               Options(1), AllDiffer());

    RunPass();
    // The log was closed: the next pass opens it again and appends.
    RunPass();

    EXPECT_EQ(LogText(), Lines({c.line, c.line}));
    EXPECT_TRUE(SchemeUnchanged());
    EXPECT_FALSE(BackupExists(HKEY_LOCAL_MACHINE));
    EXPECT_EQ(host::CallCount("ReadPwrScheme"), 0u);
    EXPECT_EQ(host::CallCount("RegCreateKeyExA"), 0u);
    EXPECT_EQ(host::CallCount("RegSetValueExA"), 0u);
    // Returns without the end text.
    EXPECT_EQ(host::DebugOutput(), (Texts{kBeginOnly[0], kBeginOnly[0]}));
  }
}

TEST_F(PassGateTest, VersionsOneAndTwoAreAccepted) {
  for (DWORD version : {1u, 2u}) {
    SCOPED_TRACE(version);
    TearDown();
    SetUp();
    SeedPolicy(kPolicyRoot,
               "\"Control\"=\"Verify\"\n\"SettingsScheme\"=\"Simple\"\n" +
                   Dword("MajorVersion", version),
               Options(11), Dword("DCUserHDDspindownIdleTime", 1));

    RunPass();

    EXPECT_EQ(StoredScheme().user.SpindownTimeoutDc, 60u);
  }
}

TEST_F(PassGateTest, SchemeNameOtherThanSimpleIsRejectedAfterTheSchemeIsRead) {
  const char* names[] = {"\"SettingsScheme\"=\"simple\"\n", "\"SettingsScheme\"=\"Simple \"\n",
                         "\"SettingsScheme\"=\"Other\"\n", "\"SettingsScheme\"=\"\"\n", ""};
  for (const char* nameLine : names) {
    SCOPED_TRACE(nameLine);
    TearDown();
    SetUp();
    const std::string rootValues =
        std::string("\"Control\"=\"Verify\"\n\"MajorVersion\"=dword:00000002\n") + nameLine;
    SeedPolicy(kPolicyRoot, rootValues, Options(11), AllDiffer());
    // A subkey named like the rejected scheme changes nothing either.
    ImportReg(std::string("[") + kPolicyRoot + "\\Other]\n" + AllDiffer());

    RunPass();

    EXPECT_EQ(LogText(), Lines({"ERROR: Invalid Scheme Name"}));
    EXPECT_TRUE(SchemeUnchanged());
    EXPECT_FALSE(BackupExists(HKEY_LOCAL_MACHINE));
    EXPECT_EQ(host::CallCount("ReadPwrScheme"), 1u);
    EXPECT_EQ(host::CallCount("WritePwrScheme"), 0u);
    EXPECT_EQ(host::CallCount("SystemParametersInfoA"), 0u);
    EXPECT_EQ(host::DebugOutput(), kBeginAndEnd);
  }
}

// A scheme that was never read holds zeros, not the machine's settings: the pass reports the
// failure and neither enforces nor commits. Without an active scheme none is read at all,
// not even one that happens to exist under the index a failed query answers.
TEST_F(PassGateTest, UnreadSchemeIsReportedAndNeverCommitted) {
  struct Case {
    const char* name;
    const char* failingCall;
    std::string line;
    size_t reads;
  };
  const Case cases[] = {
      {"scheme read fails", "ReadPwrScheme",
       std::string("ERROR: PwrScheme initialiaze()") + kErrorSuffix, 1},
      {"active scheme unknown", "GetActivePwrScheme",
       std::string("ERROR: PwrMgmt::GetPwrSchemeInUse() failed. Unable to Get index for current "
                   "power scheme") +
           kErrorSuffix,
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    scheme_store::Seed(65535, scheme_store::DistinctPolicy());
    SeedStandardPolicy(AllDiffer());
    host::FailCall(c.failingCall, 1, ERROR_FILE_NOT_FOUND);

    RunPass();

    EXPECT_EQ(LogText(), Lines({c.line}));
    EXPECT_TRUE(SchemeUnchanged());
    EXPECT_TRUE(SchemeUnchanged(65535));
    EXPECT_FALSE(BackupExists(HKEY_LOCAL_MACHINE));
    EXPECT_EQ(host::CallCount("ReadPwrScheme"), c.reads);
    EXPECT_EQ(host::CallCount("WritePwrScheme"), 0u);
    EXPECT_EQ(host::CallCount("SetActivePwrScheme"), 0u);
    EXPECT_EQ(host::CallCount("SystemParametersInfoA"), 0u);
    EXPECT_EQ(host::DebugOutput(), kBeginAndEnd);
  }
}

TEST_F(PassGateTest, LogonVariantWritesNoDebugTextOnAnyPath) {
  SeedPolicy(kPolicyRoot, "\"Control\"=\"Verify\"\n", Options(11), "");  // version absent
  RunPass(kLogonPass);
  host::DeleteKeyTree(HKEY_LOCAL_MACHINE, "Software\\Policies");
  RunPass(kLogonPass);  // no root at all

  EXPECT_EQ(LogText(), Lines({"ERROR: Major version too high"}));
  EXPECT_TRUE(host::DebugOutput().empty());
}

}  // namespace
