// The example policies of examples/*.reg, each as an administrator would use it: imported
// whole, it writes only keys and values the update pass reads, with the types it reads,
// and a pass takes it without an error and leaves the active scheme as the file says.
#include <stdlib.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "PassFixture.h"

namespace {

std::vector<std::string> ExampleFiles() {
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(PM_EXAMPLES_DIR)) {
    if (entry.path().extension() == ".reg") files.push_back(entry.path().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

// Where a value lives below a settings root, and whether it is text (else a DWORD).
struct SchemaValue {
  std::string subKey;
  std::string name;
  bool text;
};

std::vector<SchemaValue> Schema() {
  const std::string options = schema::kOptionsSubKey;
  const std::string simple = std::string("\\") + schema::kAcceptedScheme;
  std::vector<SchemaValue> values = {{"", schema::kControl, true},
                                     {"", schema::kMajorVersion, false},
                                     {"", schema::kSettingsScheme, true},
                                     {options, schema::kLog, false},
                                     {options, schema::kLogLevel, false},
                                     {options, schema::kLogFile, true},
                                     {options, schema::kSecurityBypass, false},
                                     {options, schema::kForceStandby, false}};
  for (const Setting& setting : kSettings) values.push_back({simple, setting.policyValue, false});
  return values;
}

class ExamplePoliciesTest : public PassFixture, public ::testing::WithParamInterface<std::string> {
 protected:
  void SetUp() override {
    PassFixture::SetUp();
    // The examples name their log with %TEMP% or %SystemRoot%. The host does not translate
    // backslashes, so "<dir>/\Dorvane.log" is a file of that name in the scratch directory.
    for (const char* variable : {"TEMP", "SystemRoot"}) {
      const char* value = getenv(variable);
      saved_.push_back(value ? std::optional<std::string>(value) : std::nullopt);
      setenv(variable, (dir_ + "/").c_str(), 1);
    }
    std::string error;
    ASSERT_TRUE(host::ImportRegFile(GetParam(), &error)) << error;
  }

  void TearDown() override {
    const char* variables[] = {"TEMP", "SystemRoot"};
    for (size_t i = 0; i < saved_.size(); ++i) {
      if (saved_[i]) {
        setenv(variables[i], saved_[i]->c_str(), 1);
      } else {
        unsetenv(variables[i]);
      }
    }
    PassFixture::TearDown();
  }

  // The settings root the example marks; empty when it marks none.
  static std::string MarkedRoot() {
    for (const char* root : {schema::kPolicyRoot, schema::kLocalRoot}) {
      if (ValueBytes(HKEY_LOCAL_MACHINE, root, schema::kControl) ==
          std::string(schema::kVerified) + '\0') {
        return root;
      }
    }
    return "";
  }

  static DWORD Dword(const std::string& key, const std::string& name) {
    host::RegValue value;
    if (!host::ReadValue(HKEY_LOCAL_MACHINE, key, name, &value) || value.data.size() != 4) {
      return 0xFFFFFFFF;
    }
    return value.data[0] | value.data[1] << 8 | value.data[2] << 16 |
           static_cast<DWORD>(value.data[3]) << 24;
  }

 private:
  std::vector<std::optional<std::string>> saved_;
};

TEST_P(ExamplePoliciesTest, WritesOnlyValuesOfTheSchemaWithTheirTypes) {
  const std::string root = MarkedRoot();
  ASSERT_FALSE(root.empty()) << "the example marks no settings root with Control=Verify";
  const std::vector<SchemaValue> schemaValues = Schema();

  // Every key and value the import wrote below either root, from their export.
  int values = 0;
  for (const std::string settingsRoot : {schema::kPolicyRoot, schema::kLocalRoot}) {
    std::istringstream exported(host::ExportRegText(HKEY_LOCAL_MACHINE, settingsRoot));
    const std::string hive = "[HKEY_LOCAL_MACHINE\\";
    std::string line, key;
    while (std::getline(exported, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.compare(0, hive.size(), hive) == 0) {
        key = line.substr(hive.size(), line.size() - hive.size() - 1);
        continue;
      }
      if (line.empty() || line[0] != '"') continue;
      const std::string name = line.substr(1, line.find("\"=") - 1);
      ++values;
      const auto known = std::find_if(
          schemaValues.begin(), schemaValues.end(),
          [&](const SchemaValue& v) { return root + v.subKey == key && v.name == name; });
      if (known == schemaValues.end()) {
        ADD_FAILURE() << key << "\\" << name << " is not a value the pass reads from " << root;
        continue;
      }
      host::RegValue value;
      ASSERT_TRUE(host::ReadValue(HKEY_LOCAL_MACHINE, key, name, &value));
      if (known->text) {
        EXPECT_TRUE(value.type == REG_SZ || value.type == REG_EXPAND_SZ) << key << "\\" << name;
      } else {
        EXPECT_TRUE(value.type == REG_DWORD && value.data.size() == 4) << key << "\\" << name;
      }
    }
  }
  EXPECT_GT(values, 0);
  EXPECT_EQ(std::string(schema::kAcceptedScheme) + '\0',
            ValueBytes(HKEY_LOCAL_MACHINE, root, schema::kSettingsScheme));
  const DWORD version = Dword(root, schema::kMajorVersion);
  EXPECT_TRUE(version == 1 || version == 2) << "MajorVersion " << version;
}

TEST_P(ExamplePoliciesTest, PassAppliesItWithoutAnError) {
  const std::string root = MarkedRoot();
  ASSERT_FALSE(root.empty());
  RunPass();

  // The log the example names, expanded as the pass expands it.
  host::RegValue logFile;
  ASSERT_TRUE(host::ReadValue(HKEY_LOCAL_MACHINE, root + schema::kOptionsSubKey, schema::kLogFile,
                              &logFile));
  char path[1024];
  ASSERT_GT(ExpandEnvironmentStringsA(reinterpret_cast<const char*>(logFile.data.data()), path,
                                      sizeof path),
            0u);
  std::ifstream in(path, std::ios::binary);
  ASSERT_TRUE(in) << "no log at " << path;
  const std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(log.find("ERROR: "), std::string::npos) << log;
  const std::string committed = "INFO: Commiting of Power Scheme() Succeded\r\n";
  EXPECT_TRUE(log.size() >= committed.size() &&
              log.compare(log.size() - committed.size(), committed.size(), committed) == 0)
      << log;

  // The user part of the scheme holds what the example sets (in seconds); what it leaves
  // out, or sets to 5000 and above, stays as seeded.
  const std::string simple = root + "\\" + schema::kAcceptedScheme;
  const USER_POWER_POLICY seeded = scheme_store::DistinctPolicy().user;
  const USER_POWER_POLICY now = StoredScheme().user;
  struct {
    const char* name;
    ULONG USER_POWER_POLICY::*seconds;
  } const settings[] = {{SettingOf<Timeout::kVideo, PowerSource::kAc>().policyValue,
                         &USER_POWER_POLICY::VideoTimeoutAc},
                        {SettingOf<Timeout::kStandby, PowerSource::kAc>().policyValue,
                         &USER_POWER_POLICY::IdleTimeoutAc},
                        {SettingOf<Timeout::kVideo, PowerSource::kDc>().policyValue,
                         &USER_POWER_POLICY::VideoTimeoutDc},
                        {SettingOf<Timeout::kStandby, PowerSource::kDc>().policyValue,
                         &USER_POWER_POLICY::IdleTimeoutDc},
                        {SettingOf<Timeout::kSpinDown, PowerSource::kAc>().policyValue,
                         &USER_POWER_POLICY::SpindownTimeoutAc},
                        {SettingOf<Timeout::kSpinDown, PowerSource::kDc>().policyValue,
                         &USER_POWER_POLICY::SpindownTimeoutDc}};
  for (const auto& setting : settings) {
    const DWORD minutes = Dword(simple, setting.name);
    const ULONG expected =
        minutes < schema::kEnforcedBelow ? minutes * 60 : seeded.*setting.seconds;
    EXPECT_EQ(expected, now.*setting.seconds) << setting.name;
  }
}

std::string TestName(const ::testing::TestParamInfo<std::string>& info) {
  std::string name = std::filesystem::path(info.param).stem().string();
  for (char& c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(Examples, ExamplePoliciesTest, ::testing::ValuesIn(ExampleFiles()),
                         TestName);

}  // namespace
