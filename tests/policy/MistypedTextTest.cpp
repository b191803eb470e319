// The policy's texts ("Control", "SettingsScheme", "LogFile") count only when stored as REG_SZ
// or REG_EXPAND_SZ. Of any other type, even one holding the very bytes of the right text, a
// text reads as absent: the root does not count, the scheme name is rejected, no log is
// written. The pass says so in its log where it has one, and in a warning event.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PMEventReporter.h"
#include "PassFixture.h"
#include "ReportedEvents.h"
#include "TableTest.h"

namespace {

using Texts = std::vector<std::string>;
using reported_events::Expected;

const std::string kPolicyPath = "Software\\Policies\\Velmorant\\Dorvane";
const std::string kLocalPath = "Software\\Velmorant\\Dorvane";
const std::string kCommitted = "INFO: Commiting of Power Scheme() Succeded";

std::string WrongTypeEvent(const std::string& key, const std::string& name,
                           const std::string& type) {
  return Expected(pm_events::kPolicyValueWrongType,
                  {"service", "Administrator", "HKEY_LOCAL_MACHINE\\" + key, name, type});
}

// A text stored with another type: the type, its name as the event gives it, and what follows
// the right text's bytes, which would read as that text if the type were not looked at.
struct Mistyped {
  const char* name;
  DWORD type;
  const char* typeName;
  std::string tail;
  std::string bytes(const std::string& text) const { return text + tail; }
};

const Mistyped kMistyped[] = {
    {"multiple texts", REG_MULTI_SZ, "REG_MULTI_SZ", std::string("\0\0", 2)},
    {"binary bytes of the text", REG_BINARY, "REG_BINARY", ""},
    {"binary bytes of the text and its zero", REG_BINARY, "REG_BINARY", std::string("\0", 1)},
    {"no type", REG_NONE, "REG_NONE", std::string("\0", 1)},
    {"REG_DWORD of the text", REG_DWORD, "REG_DWORD", std::string("\0", 1)},
};

class MistypedTextTest : public PassFixture, public ::testing::WithParamInterface<Mistyped> {
 protected:
  void SetUp() override {
    PassFixture::SetUp();
    ForgetReportedWarnings();
  }
  void TearDown() override {
    ForgetReportedWarnings();
    PassFixture::TearDown();
  }

  static void Store(const std::string& key, const char* name, DWORD type,
                    const std::string& bytes) {
    host::WriteValue(HKEY_LOCAL_MACHINE, key, name, type,
                     std::vector<uint8_t>(bytes.begin(), bytes.end()));
  }
};

// The group-policy root with a "Control" of another type does not count. With no other root
// the pass stops there, as without any root: no log, no backup, no change; only the event
// tells why.
TEST_P(MistypedTextTest, ControlOfAnotherTypeLeavesNoRootToEnforce) {
  SeedStandardPolicy(AllDiffer());
  Store(kPolicyPath, "Control", GetParam().type, GetParam().bytes("Verify"));

  RunPass();

  EXPECT_EQ(LogText(), "<no file>");
  EXPECT_TRUE(SchemeUnchanged());
  EXPECT_FALSE(BackupExists(HKEY_LOCAL_MACHINE));
  EXPECT_EQ(host::DebugOutput(), Texts{"Reached beginning of PM Update"});
  EXPECT_EQ(reported_events::All(),
            Texts{WrongTypeEvent(kPolicyPath, "Control", GetParam().typeName)});
}

// With a local root that counts, the pass enforces it, and its log says first why the
// group-policy root did not count.
TEST_P(MistypedTextTest, ControlOfAnotherTypeLeavesTheLocalRootToCount) {
  SeedStandardPolicy(Dword("ACUserMonIdleTime", 15), 6, kLocalRoot);
  SeedPolicy(kPolicyRoot, kVerifiedRoot, "", Dword("ACUserMonIdleTime", 25));
  Store(kPolicyPath, "Control", GetParam().type, GetParam().bytes("Verify"));

  RunPass();

  EXPECT_EQ(LogText(),
            Lines({"ERROR: Policy value Control under HKEY_LOCAL_MACHINE\\" + kPolicyPath +
                       " is not a REG_SZ or REG_EXPAND_SZ; the root does not count",
                   "INFO: SetUserAcVideoTimeOut() Succeded", kCommitted}));
  EXPECT_EQ(StoredScheme().user.VideoTimeoutAc, 15u * 60);
  EXPECT_EQ(reported_events::All(),
            (Texts{WrongTypeEvent(kPolicyPath, "Control", GetParam().typeName),
                   Expected(pm_events::kPassChangedSettings,
                            {"service", "Administrator", "1", "ACUserMonIdleTime 20 -> 15"})}));
}

// "SettingsScheme" of another type is rejected as an absent name is: nothing is written.
TEST_P(MistypedTextTest, SettingsSchemeOfAnotherTypeIsRejected) {
  SeedStandardPolicy(AllDiffer());
  Store(kPolicyPath, "SettingsScheme", GetParam().type, GetParam().bytes("Simple"));

  RunPass();

  EXPECT_EQ(LogText(),
            Lines({"ERROR: Policy value SettingsScheme is not a REG_SZ or REG_EXPAND_SZ; ignored",
                   "ERROR: Invalid Scheme Name"}));
  EXPECT_TRUE(SchemeUnchanged());
  EXPECT_FALSE(BackupExists(HKEY_LOCAL_MACHINE));
  EXPECT_EQ(reported_events::All(),
            (Texts{WrongTypeEvent(kPolicyPath, "SettingsScheme", GetParam().typeName),
                   Expected(pm_events::kPassFailed,
                            {"service", "Administrator", "Invalid Scheme Name"})}));
}

// "LogFile" of another type names no log: the pass enforces the policy and writes no file,
// not even where the bytes would lead.
TEST_P(MistypedTextTest, LogFileOfAnotherTypeNamesNoLog) {
  SeedStandardPolicy(Dword("ACUserMonIdleTime", 15));
  Store(kPolicyPath + "\\Options", "LogFile", GetParam().type, GetParam().bytes(logPath_));

  RunPass();

  EXPECT_EQ(LogText(), "<no file>");
  EXPECT_EQ(StoredScheme().user.VideoTimeoutAc, 15u * 60);
  EXPECT_EQ(reported_events::All(),
            (Texts{WrongTypeEvent(kPolicyPath + "\\Options", "LogFile", GetParam().typeName),
                   Expected(pm_events::kPassChangedSettings,
                            {"service", "Administrator", "1", "ACUserMonIdleTime 20 -> 15"})}));
}

INSTANTIATE_TEST_SUITE_P(Types, MistypedTextTest, ::testing::ValuesIn(kMistyped), CaseName());

// Both text types count, each of the three values: an administrator may write either (reg add
// /t REG_EXPAND_SZ, the template's expandable log path).
TEST_F(MistypedTextTest, ExpandableTextsCountAsTexts) {
  SeedStandardPolicy(Dword("ACUserMonIdleTime", 15), 6);
  Store(kPolicyPath, "Control", REG_EXPAND_SZ, std::string("Verify\0", 7));
  Store(kPolicyPath, "SettingsScheme", REG_EXPAND_SZ, std::string("Simple\0", 7));
  Store(kPolicyPath + "\\Options", "LogFile", REG_EXPAND_SZ, logPath_ + '\0');

  RunPass();

  EXPECT_EQ(LogText(), Lines({"INFO: SetUserAcVideoTimeOut() Succeded", kCommitted}));
  EXPECT_EQ(StoredScheme().user.VideoTimeoutAc, 15u * 60);
  EXPECT_EQ(reported_events::All(),
            Texts{Expected(pm_events::kPassChangedSettings,
                           {"service", "Administrator", "1", "ACUserMonIdleTime 20 -> 15"})});
}

}  // namespace
