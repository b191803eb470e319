#include "SettingsKey.h"
#include "TableTest.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "HostFixture.h"

namespace {

class SettingsKeyTest : public HostFixture {};

struct MarkerMustBeExactlyVerifyCase {
  const char* name;
  DWORD type;
  std::string bytes;
  bool verified;
};

class MarkerMustBeExactlyVerify
    : public SettingsKeyTest,
      public ::testing::WithParamInterface<MarkerMustBeExactlyVerifyCase> {
 public:
  static std::vector<MarkerMustBeExactlyVerifyCase> Cases() {
    return {
        {"with its zero", REG_SZ, std::string("Verify", 7), true},
        {"expandable type", REG_EXPAND_SZ, std::string("Verify", 7), true},
        {"without its zero", REG_SZ, "Verify", true},
        {"bytes after a zero", REG_SZ, std::string("Verify\0x", 8), true},
        {"lower case", REG_SZ, std::string("verify", 7), false},
        {"trailing blank", REG_SZ, std::string("Verify ", 8), false},
        {"leading blank", REG_SZ, std::string(" Verify", 8), false},
        {"prefix only", REG_SZ, std::string("Verif", 6), false},
        {"empty", REG_SZ, std::string("", 1), false},
    };
  }
};

TEST_P(MarkerMustBeExactlyVerify, Case) {
  const MarkerMustBeExactlyVerifyCase& c = GetParam();
  SCOPED_TRACE(c.name);
  host::WriteValue(HKEY_LOCAL_MACHINE, "Software\\Root", "Control", c.type,
                   std::vector<uint8_t>(c.bytes.begin(), c.bytes.end()));

  SettingsKey key("Software\\Root");

  EXPECT_EQ(key.IsVerified(), c.verified);
  EXPECT_EQ(host::OpenKeyCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Cases, MarkerMustBeExactlyVerify,
                         ::testing::ValuesIn(MarkerMustBeExactlyVerify::Cases()), CaseName());

TEST_F(SettingsKeyTest, MarkerUnderAnotherNameDoesNotCount) {
  host::WriteString(HKEY_LOCAL_MACHINE, "Software\\Root", "Other", "Verify");
  EXPECT_FALSE(SettingsKey("Software\\Root").IsVerified());
}

TEST_F(SettingsKeyTest, AbsentRootIsNotVerifiedAndReadsAsEmpty) {
  SettingsKey key("Software\\Absent");

  EXPECT_FALSE(key.IsVerified());
  RegKey root = key.OpenSettings();
  EXPECT_EQ(root.GetDwordValue("MajorVersion"), kUnsetReading);
  EXPECT_EQ(root.GetStrValue("SettingsScheme"), "");
  root.CloseKey();
  EXPECT_EQ(host::OpenKeyCount(), 0u);
}

TEST_F(SettingsKeyTest, OpensRootOptionsAndNamedSubkeysByPlainConcatenation) {
  ImportReg(
      "[HKEY_LOCAL_MACHINE\\Software\\Root]\n\"Which\"=dword:00000001\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Root\\Options]\n\"Which\"=dword:00000002\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Root\\Simple]\n\"Which\"=dword:00000003\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Root\\Simple\\Deeper]\n\"Which\"=dword:00000004\n");
  SettingsKey key("Software\\Root");
  struct Case {
    const char* name;
    RegKey opened;
    DWORD which;
  };
  Case cases[] = {
      {"settings", key.OpenSettings(), 1},
      {"options", key.OpenOptions(), 2},
      {"Simple", key.OpenSubKey("Simple"), 3},
      {"Simple\\Deeper", key.OpenSubKey("Simple\\Deeper"), 4},
      {"empty name: the root and a backslash", key.OpenSubKey(""), 1},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.opened.GetDwordValue("Which"), c.which);
    c.opened.CloseKey();
  }
  EXPECT_EQ(host::OpenKeyCount(), 0u);
}

// The pass switches roots by assignment; every open is read-only.
TEST_F(SettingsKeyTest, AssignmentSwitchesTheRootAndKeysAreReadOnly) {
  ImportReg("[HKEY_LOCAL_MACHINE\\Software\\Second]\n\"Control\"=\"Verify\"\n");
  SettingsKey key("Software\\First");
  EXPECT_FALSE(key.IsVerified());

  key = SettingsKey("Software\\Second");

  EXPECT_TRUE(key.IsVerified());
  RegKey root = key.OpenSettings();
  EXPECT_TRUE(root.SetValue("Written", 1u));  // refused: opened for reading
  root.CloseKey();
  EXPECT_FALSE(host::ReadValue(HKEY_LOCAL_MACHINE, "Software\\Second", "Written", nullptr));
}

TEST_F(SettingsKeyTest, DefaultKeyLooksForTheMarkerAtTheHiveRoot) {
  SettingsKey key;
  EXPECT_FALSE(key.IsVerified());
  ImportReg("[HKEY_LOCAL_MACHINE]\n\"Control\"=\"Verify\"\n");
  EXPECT_TRUE(key.IsVerified());
}

}  // namespace
