// What stops a pass early: no root carrying the marker, a rejected layout version, a scheme
// name other than "Simple", and a scheme that could not be read.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PassFixture.h"
#include "TableTest.h"

namespace {

using Texts = std::vector<std::string>;
const Texts kBeginOnly = {"Reached beginning of PM Update"};
const Texts kBeginProbe = {"Reached beginning of PM Update", kLegacyProbeText};
const Texts kBeginAndEnd = {"Reached beginning of PM Update", kLegacyProbeText,
                            "Reached end of PM Update"};

class PassGateTest : public PassFixture {};

// The first root whose "Control" is exactly "Verify" is used, whole; the other is ignored.
struct RootCase {
  const char* name;
  const char* policyControl;  // nullptr: no such root
  const char* localControl;
  const char* rootUsed;  // nullptr: no pass
};

class FirstVerifiedRoot : public PassGateTest, public ::testing::WithParamInterface<RootCase> {
 public:
  static std::vector<RootCase> Cases() {
    return {
        {"both verified", "Verify", "Verify", kPolicyRoot},
        {"policy root only", "Verify", nullptr, kPolicyRoot},
        {"lower case", "verify", "Verify", kLocalRoot},
        {"trailing space", "Verify ", "Verify", kLocalRoot},
        {"cut short", "Verif", "Verify", kLocalRoot},
        {"local root only", nullptr, "Verify", kLocalRoot},
        // Bytes after a zero are not part of the text.
        {"upper case, zero inside", "VERIFY", "Verify\\0x", kLocalRoot},
        {"neither exact", "verify", "Verify ", nullptr},
        {"no root", nullptr, nullptr, nullptr},
    };
  }
};

TEST_P(FirstVerifiedRoot, IsTheOnlyOneRead) {
  const RootCase& c = GetParam();
  // Each root asks for a different monitor time-out, so the scheme shows which was read.
  auto seed = [&](const char* root, const char* control, DWORD monitor) {
    if (!control) return;
    std::string marker = control;
    std::string controlLine;
    if (marker.size() > 2 && marker.compare(marker.size() - 3, 3, "\\0x") == 0) {
      // "Verify", a zero byte, then "x", stored as REG_SZ bytes.
      controlLine = "\"Control\"=hex(1):56,00,65,00,72,00,69,00,66,00,79,00,00,00,78,00,00,00\n";
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
    EXPECT_EQ(host::CallCount(host::gated::GetPwrCapabilities), 0u);
  } else {
    const DWORD expected = c.rootUsed == std::string(kPolicyRoot) ? 1 : 2;
    EXPECT_EQ(StoredScheme().user.VideoTimeoutAc, expected * 60);
    EXPECT_EQ(host::DebugOutput(), kBeginAndEnd);
  }
}

INSTANTIATE_TEST_SUITE_P(Markers, FirstVerifiedRoot,
                         ::testing::ValuesIn(FirstVerifiedRoot::Cases()), CaseName());

// Values are never merged: a verified root without time-outs enforces none, even when the
// other root has them.
TEST_F(PassGateTest, VerifiedRootIsNotCompletedFromTheOther) {
  SeedPolicy(kPolicyRoot, kVerifiedRoot, Options(11), "");
  SeedPolicy(kLocalRoot, kVerifiedRoot, Options(11), AllDiffer());

  RunPass();

  EXPECT_TRUE(SchemeUnchanged());
  EXPECT_EQ(LogText(), Lines({kNothingToCommit}));
}

struct VersionCase {
  const char* name;
  const char* versionLine;
  const char* line;  // the one log line of a rejected version; nullptr: accepted
};

class LayoutVersion : public PassGateTest, public ::testing::WithParamInterface<VersionCase> {};

const VersionCase kVersionCases[] = {
    {"zero", "\"MajorVersion\"=dword:00000000\n", "ERROR: Major version NULL"},
    {"one", "\"MajorVersion\"=dword:00000001\n", nullptr},
    {"two", "\"MajorVersion\"=dword:00000002\n", nullptr},
    {"three", "\"MajorVersion\"=dword:00000003\n", "ERROR: Major version too high"},
    {"top bit", "\"MajorVersion\"=dword:80000000\n", "ERROR: Major version too high"},
    {"absent", "", "ERROR: Major version too high"},
};

// Versions one and two are enforced; any other logs one error and touches nothing.
TEST_P(LayoutVersion, IsAcceptedOrLogsOneErrorAndTouchesNothing) {
  const VersionCase& c = GetParam();
  SeedPolicy(kPolicyRoot,
             std::string("\"Control\"=\"Verify\"\n\"SettingsScheme\"=\"Simple\"\n") + c.versionLine,
             Options(c.line != nullptr ? 1 : 11),
             c.line != nullptr ? AllDiffer() : Dword("DCUserHDDspindownIdleTime", 1));

  RunPass();
  if (c.line == nullptr) {
    EXPECT_EQ(StoredScheme().user.SpindownTimeoutDc, 60u);
    return;
  }
  // The log was closed: the next pass opens it again and appends.
  RunPass();

  EXPECT_EQ(LogText(), Lines({c.line, c.line}));
  EXPECT_TRUE(SchemeUnchanged());
  EXPECT_FALSE(BackupExists(HKEY_LOCAL_MACHINE));
  EXPECT_EQ(host::CallCount(host::gated::ReadPwrScheme), 0u);
  EXPECT_EQ(host::CallCount(host::gated::RegCreateKeyExA), 0u);
  EXPECT_EQ(host::CallCount(host::gated::RegSetValueExA), 0u);
  // Returns without the end text.
  EXPECT_EQ(host::DebugOutput(),
            (Texts{kBeginProbe[0], kBeginProbe[1], kBeginProbe[0], kBeginProbe[1]}));
}

INSTANTIATE_TEST_SUITE_P(Versions, LayoutVersion, ::testing::ValuesIn(kVersionCases), CaseName());

struct SchemeNameCase {
  const char* name;
  const char* nameLine;
};

class RejectedSchemeName : public PassGateTest,
                           public ::testing::WithParamInterface<SchemeNameCase> {};

const SchemeNameCase kRejectedNames[] = {
    {"lower case", "\"SettingsScheme\"=\"simple\"\n"},
    {"trailing space", "\"SettingsScheme\"=\"Simple \"\n"},
    {"another", "\"SettingsScheme\"=\"Other\"\n"},
    {"empty", "\"SettingsScheme\"=\"\"\n"},
    {"absent", ""},
};

TEST_P(RejectedSchemeName, IsRejectedAfterTheSchemeIsRead) {
  const std::string rootValues =
      std::string("\"Control\"=\"Verify\"\n\"MajorVersion\"=dword:00000002\n") +
      GetParam().nameLine;
  SeedPolicy(kPolicyRoot, rootValues, Options(11), AllDiffer());
  // A subkey named like the rejected scheme changes nothing either.
  ImportReg(std::string("[") + kPolicyRoot + "\\Other]\n" + AllDiffer());

  RunPass();

  EXPECT_EQ(LogText(), Lines({"ERROR: Invalid Scheme Name"}));
  EXPECT_TRUE(SchemeUnchanged());
  EXPECT_FALSE(BackupExists(HKEY_LOCAL_MACHINE));
  EXPECT_EQ(host::CallCount(host::gated::ReadPwrScheme), 1u);
  EXPECT_EQ(host::CallCount(host::gated::WritePwrScheme), 0u);
  EXPECT_EQ(host::CallCount(host::gated::SystemParametersInfoA), 0u);
  EXPECT_EQ(host::DebugOutput(), kBeginAndEnd);
}

INSTANTIATE_TEST_SUITE_P(Names, RejectedSchemeName, ::testing::ValuesIn(kRejectedNames),
                         CaseName());

// A scheme that was never read holds zeros, not the machine's settings: the pass reports the
// failure and neither enforces nor commits. Without an active scheme none is read at all,
// not even one that happens to exist under the index a failed query answers.
struct UnreadCase {
  const char* name;
  host::FailableFunction failingCall;
  std::string line;
  size_t reads;
};

class UnreadScheme : public PassGateTest, public ::testing::WithParamInterface<UnreadCase> {
 public:
  static std::vector<UnreadCase> Cases() {
    return {
        {"scheme read fails", host::gated::ReadPwrScheme,
         std::string("ERROR: PwrScheme initialiaze()") + kErrorSuffix, 1},
        {"active scheme unknown", host::gated::GetActivePwrScheme,
         std::string("ERROR: PwrMgmt::GetPwrSchemeInUse() failed. Unable to Get index for "
                     "current power scheme") +
             kErrorSuffix,
         0},
    };
  }
};

TEST_P(UnreadScheme, IsReportedAndNeverCommitted) {
  const UnreadCase& c = GetParam();
  scheme_store::Seed(65535, scheme_store::DistinctPolicy());
  SeedStandardPolicy(AllDiffer());
  host::FailCall(c.failingCall, 1, ERROR_FILE_NOT_FOUND);

  RunPass();

  EXPECT_EQ(LogText(), Lines({c.line}));
  EXPECT_TRUE(SchemeUnchanged());
  EXPECT_TRUE(SchemeUnchanged(65535));
  EXPECT_FALSE(BackupExists(HKEY_LOCAL_MACHINE));
  EXPECT_EQ(host::CallCount(host::gated::ReadPwrScheme), c.reads);
  EXPECT_EQ(host::CallCount(host::gated::WritePwrScheme), 0u);
  EXPECT_EQ(host::CallCount(host::gated::SetActivePwrScheme), 0u);
  EXPECT_EQ(host::CallCount(host::gated::SystemParametersInfoA), 0u);
  EXPECT_EQ(host::DebugOutput(), kBeginAndEnd);
}

INSTANTIATE_TEST_SUITE_P(Failures, UnreadScheme, ::testing::ValuesIn(UnreadScheme::Cases()),
                         CaseName());

// Of the debug texts, the logon tool's pass writes the probe's alone.
// Without powrprof.dll there is no power-scheme interface: the pass says so in one error line and
// ends normally, having read and written no scheme.
TEST_F(PassGateTest, WithoutAPowerSchemeInterfaceThePassSaysSoAndChangesNothing) {
  host::SetPowerMachine(host::PowerMachine::kWithoutPowrprof);
  SeedStandardPolicy(AllDiffer());

  RunPass();

  EXPECT_EQ(LogText(),
            Lines({"ERROR: No power scheme interface: powrprof.dll not loaded, error 126"}));
  EXPECT_TRUE(SchemeUnchanged());
  EXPECT_FALSE(BackupExists(HKEY_LOCAL_MACHINE));
  EXPECT_EQ(host::CallCount(host::gated::SystemParametersInfoA), 0u);
  EXPECT_EQ(
      host::DebugOutput(),
      (Texts{kBeginAndEnd[0], "Power scheme interface: none (powrprof.dll not loaded, error 126)",
             kBeginAndEnd[2]}));
}

TEST_F(PassGateTest, LogonVariantWritesNoPassDebugTextOnAnyPath) {
  SeedPolicy(kPolicyRoot, "\"Control\"=\"Verify\"\n", Options(11), "");  // version absent
  RunPass(kLogonPass);
  SeedStandardPolicy(AllDiffer());
  RunPass(kLogonPass);
  host::DeleteKeyTree(HKEY_LOCAL_MACHINE, "Software\\Policies");
  RunPass(kLogonPass);  // no root at all

  EXPECT_EQ(LogText(), Lines({"ERROR: Major version too high"}) + LogOfEveryChange(kLogonPass));
  EXPECT_EQ(host::DebugOutput(), (Texts{kLegacyProbeText, kLegacyProbeText}));
}

}  // namespace
