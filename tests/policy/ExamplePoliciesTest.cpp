// The example policies of examples/*.reg, each as an administrator would use it: imported
// whole, it writes only keys and values the update pass reads, with the types it reads,
// and a pass takes it without an error and leaves the active scheme as the file says.
#include <stdlib.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <regex>
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

// ---- Examples that show what the Group Policy template writes ------------------------------

// A value the template writes: its type, and the data it may hold. A fixed value (a policy's
// enabled or disabled value, an item of its list) holds one of `fixed`; an element holds any
// number from `min` to `max`, or any text.
struct TemplateValue {
  DWORD type = REG_NONE;
  std::vector<std::vector<uint8_t>> fixed;
  DWORD min = 0;
  DWORD max = 0xFFFFFFFF;
  std::string policy;  // the template's policy that writes it
};

// What the template writes when a policy is enabled: the policy's own value and every value of
// its elements and its list, all of them together.
struct TemplatePolicy {
  std::string name;
  std::string key;
  std::string valueName;  // empty: the policy has no value of its own
  std::vector<std::pair<std::string, std::string>> together;  // key, value name
};

std::string Attribute(const std::string& element, const std::string& name) {
  const std::regex attribute("\\b" + name + "=\"([^\"]*)\"");
  std::smatch m;
  return std::regex_search(element, m, attribute) ? m[1].str() : std::string();
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::vector<uint8_t> DwordBytes(DWORD value) {
  return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
          static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
}

std::vector<uint8_t> TextBytes(const std::string& text) {
  std::vector<uint8_t> bytes(text.begin(), text.end());
  bytes.push_back(0);
  return bytes;
}

// A fixed value of the template: <decimal value="N"/> or <string>TEXT</string>; none for
// <delete/>.
void AddFixed(const std::string& body, TemplateValue* value) {
  std::smatch m;
  if (std::regex_search(body, m, std::regex("<decimal value=\"([0-9]+)\"/>"))) {
    value->type = REG_DWORD;
    value->fixed.push_back(DwordBytes(static_cast<DWORD>(std::stoul(m[1].str()))));
  } else if (std::regex_search(body, m, std::regex("<string>([^<]*)</string>"))) {
    value->type = REG_SZ;
    value->fixed.push_back(TextBytes(m[1].str()));
  }
}

// The template's values by lower-case "key\\name", and its policies.
void ReadTemplate(std::map<std::string, TemplateValue>* values,
                  std::vector<TemplatePolicy>* policies) {
  std::ifstream in(PM_ADMX_FILE);
  ASSERT_TRUE(in) << PM_ADMX_FILE;
  const std::string admx((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::regex policyElement("<policy\\s[^>]*>[\\s\\S]*?</policy>");
  for (auto p = std::sregex_iterator(admx.begin(), admx.end(), policyElement);
       p != std::sregex_iterator(); ++p) {
    const std::string text = p->str();
    const std::string head = text.substr(0, text.find('>'));
    TemplatePolicy policy{
        Attribute(head, "name"), Attribute(head, "key"), Attribute(head, "valueName"), {}};
    auto value = [&](const std::string& key, const std::string& name) -> TemplateValue& {
      TemplateValue& v = (*values)[Lower(key + "\\" + name)];
      v.policy = policy.name;
      return v;
    };
    std::smatch m;
    if (!policy.valueName.empty()) {
      TemplateValue& own = value(policy.key, policy.valueName);
      for (const char* state : {"enabledValue", "disabledValue"}) {
        const std::regex stateElement(std::string("<") + state + ">([\\s\\S]*?)</" + state + ">");
        if (std::regex_search(text, m, stateElement)) AddFixed(m[1].str(), &own);
      }
    }
    const std::regex element("<(decimal|text)\\s[^>]*valueName=[^>]*/>");
    for (auto e = std::sregex_iterator(text.begin(), text.end(), element);
         e != std::sregex_iterator(); ++e) {
      const std::string tag = e->str();
      TemplateValue& v = value(policy.key, Attribute(tag, "valueName"));
      if ((*e)[1] == "decimal") {
        v.type = REG_DWORD;
        if (!Attribute(tag, "minValue").empty()) v.min = std::stoul(Attribute(tag, "minValue"));
        if (!Attribute(tag, "maxValue").empty()) v.max = std::stoul(Attribute(tag, "maxValue"));
      } else {
        v.type = Attribute(tag, "expandable") == "true" ? REG_EXPAND_SZ : REG_SZ;
      }
      policy.together.push_back({policy.key, Attribute(tag, "valueName")});
    }
    if (std::regex_search(text, m, std::regex("<enabledList>([\\s\\S]*?)</enabledList>"))) {
      const std::string list = m[1].str();
      const std::regex item("<item\\s[^>]*>[\\s\\S]*?</item>");
      for (auto i = std::sregex_iterator(list.begin(), list.end(), item);
           i != std::sregex_iterator(); ++i) {
        const std::string tag = i->str();
        AddFixed(tag, &value(Attribute(tag, "key"), Attribute(tag, "valueName")));
        policy.together.push_back({Attribute(tag, "key"), Attribute(tag, "valueName")});
      }
    }
    policies->push_back(policy);
  }
}

// The examples that say they are what the template writes: each value is one the template
// writes, of the type it writes (a log path expandable, as the template's text element says),
// with data it can write (the switches 1 when enabled, 0 when disabled), and with every value
// the template writes together with it.
const char* const kTemplateExamples[] = {"office-desktop.reg"};

class TemplateExampleTest : public ExamplePoliciesTest {};

TEST_P(TemplateExampleTest, WritesExactlyWhatTheTemplateWrites) {
  std::map<std::string, TemplateValue> values;
  std::vector<TemplatePolicy> policies;
  ReadTemplate(&values, &policies);
  ASSERT_GT(values.size(), 10u);

  const std::string root = schema::kPolicyRoot;
  std::istringstream exported(host::ExportRegText(HKEY_LOCAL_MACHINE, root));
  const std::string hive = "[HKEY_LOCAL_MACHINE\\";
  std::string line, key;
  int checked = 0;
  while (std::getline(exported, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.compare(0, hive.size(), hive) == 0) {
      key = line.substr(hive.size(), line.size() - hive.size() - 1);
      continue;
    }
    if (line.empty() || line[0] != '"') continue;
    const std::string name = line.substr(1, line.find("\"=") - 1);
    const auto known = values.find(Lower(key + "\\" + name));
    if (known == values.end()) {
      ADD_FAILURE() << key << "\\" << name << " is not a value the template writes";
      continue;
    }
    ++checked;
    const TemplateValue& expected = known->second;
    host::RegValue value;
    ASSERT_TRUE(host::ReadValue(HKEY_LOCAL_MACHINE, key, name, &value));
    EXPECT_EQ(value.type, expected.type) << key << "\\" << name;
    if (!expected.fixed.empty()) {
      EXPECT_NE(std::find(expected.fixed.begin(), expected.fixed.end(), value.data),
                expected.fixed.end())
          << key << "\\" << name << " holds data its policy " << expected.policy << " never writes";
    } else if (expected.type == REG_DWORD) {
      ASSERT_EQ(value.data.size(), 4u) << key << "\\" << name;
      const DWORD number = Dword(key, name);
      EXPECT_TRUE(number >= expected.min && number <= expected.max) << key << "\\" << name;
    }
  }
  EXPECT_GT(checked, 0);

  // A policy whose own value is there wrote the rest of its values with it.
  for (const TemplatePolicy& policy : policies) {
    if (policy.valueName.empty()) continue;
    if (!host::ReadValue(HKEY_LOCAL_MACHINE, policy.key, policy.valueName, nullptr)) continue;
    for (const auto& [itemKey, itemName] : policy.together) {
      EXPECT_TRUE(host::ReadValue(HKEY_LOCAL_MACHINE, itemKey, itemName, nullptr))
          << policy.name << " writes " << itemKey << "\\" << itemName << " too";
    }
  }
}

std::vector<std::string> TemplateExampleFiles() {
  std::vector<std::string> files;
  for (const char* name : kTemplateExamples) {
    files.push_back(std::string(PM_EXAMPLES_DIR) + "/" + name);
  }
  return files;
}

INSTANTIATE_TEST_SUITE_P(Examples, TemplateExampleTest, ::testing::ValuesIn(TemplateExampleFiles()),
                         TestName);

}  // namespace
