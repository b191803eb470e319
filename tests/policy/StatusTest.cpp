// The compliance check on both kinds of machine (MachineKindFixture.h): what it prints, the
// exit status it answers, that it agrees with what a pass then does, and that it changes
// nothing.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "MachineKindFixture.h"
#include "PassVariant.h"
#include "StatusCommand.h"
#include "SweepEveryCall.h"

namespace {

using host::PowerMachine;

// Every report has these keys, in this order: one "setting" per row of the setting table.
const std::vector<std::string> kKeys = [] {
  std::vector<std::string> keys = {
      "format",          "root",          "interface",     "version",     "settings-scheme",
      "security-bypass", "force-standby", "active-scheme", "write-access"};
  keys.insert(keys.end(), kSettingCount, "setting");
  keys.insert(keys.end(), {"windows-applies-ac", "windows-applies-dc", "log", "result"});
  return keys;
}();
constexpr int kFirstSettingLine = 9;

struct StatusRun {
  int exitStatus = -1;
  std::vector<std::string> lines;

  bool Has(const std::string& line) const {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }
  // The verdict of setting i ("same", "change", ...), from its "pass=" field.
  std::string Verdict(size_t i) const {
    const std::string& line = lines.at(kFirstSettingLine + i);
    const size_t at = line.find(" pass=") + 6;
    return line.substr(at, line.find(' ', at) - at);
  }
};

std::ostream& operator<<(std::ostream& out, const StatusRun& run) {
  out << "exit status " << run.exitStatus << ", report:\n";
  for (const std::string& line : run.lines) out << "  " << line << "\n";
  return out;
}

StatusRun RunStatus() {
  testing::internal::CaptureStdout();
  StatusRun run;
  run.exitStatus = RunStatusCommand();
  std::istringstream text(testing::internal::GetCapturedStdout());
  for (std::string line; std::getline(text, line);) run.lines.push_back(line);
  return run;
}

std::vector<std::string> KeysOf(const std::vector<std::string>& lines) {
  std::vector<std::string> keys;
  for (const std::string& line : lines) keys.push_back(line.substr(0, line.find(": ")));
  return keys;
}

// A .reg line of a REG_DWORD value.
std::string DwordLine(const std::string& name, DWORD value) {
  char hex[9];
  std::snprintf(hex, sizeof hex, "%08x", static_cast<unsigned>(value));
  return "\"" + name + "\"=dword:" + hex + "\n";
}

std::string RootValues(const std::string& control, const std::string& version,
                       const std::string& name) {
  return "\"Control\"=\"" + control + "\"\n" + version + name;
}
const std::string kSimple = "\"SettingsScheme\"=\"Simple\"\n";
const std::string kStandardRoot = RootValues("Verify", DwordLine("MajorVersion", 2), kSimple);

// The options with the log off; forced standby as given.
std::string OptionsWith(DWORD forceStandby) {
  return DwordLine("Log", 0) + DwordLine("SecurityBypass", 1) +
         DwordLine("ForceStandby", forceStandby);
}

// The policy the seeded scheme holds.
const std::string kEqual = [] {
  std::string text;
  for (const Setting& setting : kSettings) {
    text += DwordLine(setting.policyValue, machine_kind::MinutesOf(machine_kind::kSeeded, setting));
  }
  return text;
}();

void WithCapabilities(BOOLEAN s3, BOOLEAN s4) {
  SYSTEM_POWER_CAPABILITIES caps = host::DefaultCapabilities();
  caps.SystemS3 = s3;
  caps.SystemS4 = s4;
  host::SetCapabilities(caps);
}
void NoS3(bool) { WithCapabilities(0, 1); }
void NoHibernation(bool) { WithCapabilities(1, 0); }

void LimitedUser(bool) { host::SetLimitedUser(true); }

void NoActiveScheme(bool current) {
  if (current) {
    host::WriteString(HKEY_LOCAL_MACHINE, current_store::kSchemes, "ActivePowerScheme", "none");
  } else {
    host::WriteString(HKEY_CURRENT_USER, scheme_store::kUserPowerCfg, "CurrentPowerPolicy", "none");
  }
}

void SchemeCannotBeRead(bool current) {
  if (current) {
    host::FailCall(host::gated::PowerReadACValueIndex, 1, ERROR_ACCESS_DENIED, true);
  } else {
    host::FailCall(host::gated::ReadPwrScheme, 1, ERROR_ACCESS_DENIED, true);
  }
}

// A policy text stored with another type than REG_SZ or REG_EXPAND_SZ, holding the very bytes
// of the right text.
void StoreMistyped(const std::string& key, const char* name, DWORD type, const std::string& text) {
  const std::string bytes = text + std::string(type == REG_MULTI_SZ ? 2 : 1, '\0');
  host::WriteValue(HKEY_LOCAL_MACHINE, key, name, type,
                   std::vector<uint8_t>(bytes.begin(), bytes.end()));
}
const std::string kPolicyRootPath = "Software\\Policies\\Velmorant\\Dorvane";
void ControlAsMultipleTexts(bool) {
  StoreMistyped(kPolicyRootPath, "Control", REG_MULTI_SZ, "Verify");
}
// The local root is seeded; the group-policy one has all but a text Control.
void PolicyRootWithBinaryControl(bool) {
  StoreMistyped(kPolicyRootPath, "Control", REG_BINARY, "Verify");
  host::WriteDword(HKEY_LOCAL_MACHINE, kPolicyRootPath, "MajorVersion", 2);
  host::WriteString(HKEY_LOCAL_MACHINE, kPolicyRootPath, "SettingsScheme", "Simple");
}
void SchemeNameAsMultipleTexts(bool) {
  StoreMistyped(kPolicyRootPath, "SettingsScheme", REG_MULTI_SZ, "Simple");
}
void LogFileAsBinary(bool) {
  host::WriteDword(HKEY_LOCAL_MACHINE, kPolicyRootPath + "\\Options", "Log", 1);
  StoreMistyped(kPolicyRootPath + "\\Options", "LogFile", REG_BINARY, "C:\\Dorvane.log");
}
// A key of the settings that exists but that the account may not read.
void PolicyRootUnreadable(bool) { host::DenyReading(HKEY_LOCAL_MACHINE, schema::kPolicyRoot); }
void OptionsUnreadable(bool) {
  host::DenyReading(HKEY_LOCAL_MACHINE, std::string(schema::kPolicyRoot) + "\\Options");
}
void SimpleUnreadable(bool) {
  host::DenyReading(HKEY_LOCAL_MACHINE, std::string(schema::kPolicyRoot) + "\\Simple");
}
// The same for the group-policy root, with a local root that counts: the check does not pass
// over the one it cannot read for the other.
void PolicyRootUnreadableBesideALocalRoot(bool) {
  host::WriteString(HKEY_LOCAL_MACHINE, schema::kLocalRoot, "Control", "Verify");
  host::WriteDword(HKEY_LOCAL_MACHINE, schema::kLocalRoot, "MajorVersion", 2);
  host::WriteString(HKEY_LOCAL_MACHINE, schema::kLocalRoot, "SettingsScheme", "Simple");
  PolicyRootUnreadable(false);
}

// The machine has no powrprof.dll: no power-scheme interface at all.
void NoPowrprof(bool) { host::SetPowerMachine(PowerMachine::kWithoutPowrprof); }

class StatusTest : public machine_kind::MachineKindFixture<> {
 protected:
  static std::string InterfaceLine() {
    return std::string("interface: ") + (Current() ? "current" : "legacy");
  }
  // What Windows applies now, from the seeded scheme: only the current interface can tell.
  static std::vector<std::string> AppliedLines() {
    if (!Current()) return {"windows-applies-ac: -", "windows-applies-dc: -"};
    return {"windows-applies-ac: video=1200 sleep=600 hibernate=4200 disk=1800",
            "windows-applies-dc: video=420 sleep=300 hibernate=2700 disk=900"};
  }
};

TEST_P(StatusTest, TheReportNamesEveryPartAndJudgesEverySetting) {
  SeedStandardPolicy(Dword("ACUserMonIdleTime", 15) + Dword("ACUserStandByIdleTime", 10) +
                     "\"DCUserMonIdleTime\"=\"3\"\n" + Dword("DCUserStandByIdleTime", 4) +
                     Dword("DCMachHibernateIdleTime", 60) +
                     Dword("ACUserHDDspindownIdleTime", 5000) +
                     Dword("DCUserHDDspindownIdleTime", 15));

  const StatusRun run = RunStatus();

  EXPECT_EQ(run.exitStatus, kStatusCannotTell);
  std::vector<std::string> expected = {
      "format: 2",
      "root: HKEY_LOCAL_MACHINE\\Software\\Policies\\Velmorant\\Dorvane",
      InterfaceLine(),
      "version: accepted 2",
      "settings-scheme: accepted \"Simple\"",
      "security-bypass: on 1",
      "force-standby: on 1",
      "active-scheme: read",
      "write-access: yes",
      "setting: ACUserMonIdleTime         policy=15          scheme=20         pass=change",
      "setting: ACUserStandByIdleTime     policy=10          scheme=10         pass=same",
      "setting: ACMachHibernateIdleTime   policy=absent      scheme=70         pass=ignored",
      "setting: DCUserMonIdleTime         policy=not-a-dword scheme=7          pass=ignored",
      "setting: DCUserStandByIdleTime     policy=4           scheme=5          pass=change",
      "setting: DCMachHibernateIdleTime   policy=60          scheme=45         pass=change",
      "setting: ACUserHDDspindownIdleTime policy=5000        scheme=30         pass=ignored",
      "setting: DCUserHDDspindownIdleTime policy=15          scheme=15         pass=same",
  };
  for (const std::string& line : AppliedLines()) expected.push_back(line);
  expected.insert(expected.end(), {"log: writes to \"" + logPath_ + "\"",
                                   "result: unknown not-a-dword DCUserMonIdleTime"});
  EXPECT_EQ(run.lines, expected);
}

// One state of the machine and its policy, and the lines of the report that show it.
struct StatusCase {
  const char* name;
  bool localRoot;          // the policy is written under the local root, else the group-policy one
  std::string rootValues;  // the other root is left out
  std::string options;
  std::string simple;
  void (*arrange)(bool currentMachine);  // or null
  std::vector<std::string> expectedLines;
  int exitStatus;
};

// A table is easier to read with one case per paragraph than one field per line.
// clang-format off
const StatusCase kCases[] = {
    {"complies", false, kStandardRoot, OptionsWith(1), kEqual, nullptr,
     {"setting: ACMachHibernateIdleTime   policy=70          scheme=70         pass=same",
      "setting: DCUserHDDspindownIdleTime policy=15          scheme=15         pass=same",
      "log: off", "result: complies"},
     kStatusComplies},
    {"an account that may not write power schemes", false, kStandardRoot, OptionsWith(1), kEqual,
     LimitedUser, {"write-access: no", "result: complies"}, kStatusComplies},
    {"the local root", true, kStandardRoot, OptionsWith(1), kEqual, nullptr,
     {"root: HKEY_LOCAL_MACHINE\\Software\\Velmorant\\Dorvane", "result: complies"},
     kStatusComplies},
    {"no time-outs at all", false, kStandardRoot, OptionsWith(1), "", nullptr,
     {"setting: ACUserMonIdleTime         policy=absent      scheme=20         pass=ignored",
      "result: complies"},
     kStatusComplies},
    {"out of range and unset are ignored", false, kStandardRoot, OptionsWith(1),
     DwordLine("DCUserMonIdleTime", 5000) + DwordLine("DCUserStandByIdleTime", 0xFFFFFFFF),
     nullptr,
     {"setting: DCUserMonIdleTime         policy=5000        scheme=7          pass=ignored",
      "setting: DCUserStandByIdleTime     policy=absent      scheme=5          pass=ignored",
      "result: complies"},
     kStatusComplies},
    // A pass logs an error for each number of another type: the check cannot answer 0, and
    // names the first such value in the order a pass reads them; the settings are still judged.
    {"values of other types cannot be told", false, kStandardRoot, OptionsWith(1),
     "\"ACUserMonIdleTime\"=\"15\"\n\"ACUserStandByIdleTime\"=hex:19,00,00,00\n", nullptr,
     {"setting: ACUserMonIdleTime         policy=not-a-dword scheme=20         pass=ignored",
      "setting: ACUserStandByIdleTime     policy=not-a-dword scheme=10         pass=ignored",
      "result: unknown not-a-dword ACUserMonIdleTime"},
     kStatusCannotTell},
    {"a switch of another type cannot be told", false, kStandardRoot,
     "\"SecurityBypass\"=\"1\"\n" + DwordLine("ForceStandby", 1) + DwordLine("Log", 0), kEqual,
     nullptr,
     {"security-bypass: on not-a-dword",
      "result: unknown not-a-dword SecurityBypass"},
     kStatusCannotTell},
    {"4999 is enforced, 0 too", false, kStandardRoot, OptionsWith(1),
     DwordLine("ACUserMonIdleTime", 4999) + DwordLine("ACUserHDDspindownIdleTime", 0), nullptr,
     {"setting: ACUserMonIdleTime         policy=4999        scheme=20         pass=change",
      "setting: ACUserHDDspindownIdleTime policy=0           scheme=30         pass=change",
      "result: differs"},
     kStatusDiffers},
    {"standby without S3 and not forced is refused", false, kStandardRoot, OptionsWith(0),
     DwordLine("ACUserStandByIdleTime", 25) + DwordLine("DCUserMonIdleTime", 3), NoS3,
     {"force-standby: off 0",
      "setting: ACUserStandByIdleTime     policy=25          scheme=10         pass=refused "
      "reason=PwrScheme::SetUserAcStandbyTimeOut(): System is not capable of Power Suspend",
      "setting: DCUserMonIdleTime         policy=3           scheme=7          pass=change",
      "result: differs"},
     kStatusDiffers},
    {"standby without S3 forced", false, kStandardRoot, OptionsWith(1),
     DwordLine("ACUserStandByIdleTime", 25), NoS3,
     {"force-standby: on 1",
      "setting: ACUserStandByIdleTime     policy=25          scheme=10         pass=change",
      "result: differs"},
     kStatusDiffers},
    {"a refusal alone differs", false, kStandardRoot, OptionsWith(1),
     kEqual + DwordLine("DCMachHibernateIdleTime", 50), NoHibernation,
     {"setting: DCMachHibernateIdleTime   policy=50          scheme=45         pass=refused "
      "reason=PwrScheme::SetMachDcHibernateTimeOut(): System/user account is not capable "
      "of/configured for Hibernation",
      "result: differs"},
     kStatusDiffers},
    {"no root counts", false, RootValues("verify", DwordLine("MajorVersion", 2), kSimple),
     OptionsWith(1), kEqual, nullptr,
     {"root: none", "version: -", "settings-scheme: -", "security-bypass: -", "force-standby: -",
      "active-scheme: read",
      "setting: ACUserMonIdleTime         policy=-           scheme=20         pass=unknown",
      "log: -", "result: unknown no-root"},
     kStatusCannotTell},
    {"version 0", false, RootValues("Verify", DwordLine("MajorVersion", 0), kSimple),
     OptionsWith(1), kEqual, nullptr,
     {"version: rejected 0",
      "setting: ACUserMonIdleTime         policy=20          scheme=20         pass=unknown",
      "result: unknown version-rejected"},
     kStatusCannotTell},
    {"version 3", false, RootValues("Verify", DwordLine("MajorVersion", 3), kSimple),
     OptionsWith(1), kEqual, nullptr, {"version: rejected 3", "result: unknown version-rejected"},
     kStatusCannotTell},
    {"version absent", false, RootValues("Verify", "", kSimple), OptionsWith(1), kEqual, nullptr,
     {"version: rejected absent", "result: unknown version-rejected"}, kStatusCannotTell},
    {"version as text", false, RootValues("Verify", "\"MajorVersion\"=\"2\"\n", kSimple),
     OptionsWith(1), kEqual, nullptr,
     {"version: rejected not-a-dword", "result: unknown version-rejected"}, kStatusCannotTell},
    {"version 1", false, RootValues("Verify", DwordLine("MajorVersion", 1), kSimple),
     OptionsWith(1), kEqual, nullptr, {"version: accepted 1", "result: complies"},
     kStatusComplies},
    {"a scheme name in other letters", false,
     RootValues("Verify", DwordLine("MajorVersion", 2), "\"SettingsScheme\"=\"simple\"\n"),
     OptionsWith(1), kEqual, nullptr,
     {"settings-scheme: rejected \"simple\"",
      "setting: ACUserMonIdleTime         policy=-           scheme=20         pass=unknown",
      "result: unknown settings-scheme-rejected"},
     kStatusCannotTell},
    {"a scheme name with a quote and a backslash", false,
     RootValues("Verify", DwordLine("MajorVersion", 2),
                "\"SettingsScheme\"=\"Sim\\\"ple\\\\\"\n"),
     OptionsWith(1), kEqual, nullptr,
     {"settings-scheme: rejected \"Sim\\\"ple\\\\\"", "result: unknown settings-scheme-rejected"},
     kStatusCannotTell},
    {"no scheme name", false, RootValues("Verify", DwordLine("MajorVersion", 2), ""),
     OptionsWith(1), kEqual, nullptr,
     {"settings-scheme: rejected \"\"", "result: unknown settings-scheme-rejected"},
     kStatusCannotTell},
    {"a Control that is not a text", false, kStandardRoot, OptionsWith(1), kEqual,
     ControlAsMultipleTexts,
     {"root: none", "result: unknown not-a-text Control"},
     kStatusCannotTell},
    {"a group-policy Control that is not a text beside a local root", true, kStandardRoot,
     OptionsWith(1), kEqual, PolicyRootWithBinaryControl,
     {"root: HKEY_LOCAL_MACHINE\\Software\\Velmorant\\Dorvane", "version: accepted 2",
      "result: unknown not-a-text Control"},
     kStatusCannotTell},
    {"a scheme name that is not a text", false, kStandardRoot, OptionsWith(1), kEqual,
     SchemeNameAsMultipleTexts,
     {"settings-scheme: rejected not-a-text", "result: unknown settings-scheme-rejected"},
     kStatusCannotTell},
    {"a log file that is not a text", false, kStandardRoot, OptionsWith(1), kEqual,
     LogFileAsBinary, {"log: off", "result: complies"}, kStatusComplies},
    {"no active scheme", false, kStandardRoot, OptionsWith(1), kEqual, NoActiveScheme,
     {"active-scheme: unknown",
      "setting: ACUserMonIdleTime         policy=20          scheme=-          pass=unknown",
      "result: unknown no-active-scheme"},
     kStatusCannotTell},
    {"no power-scheme interface", false, kStandardRoot, OptionsWith(1), kEqual, NoPowrprof,
     {"interface: none", "active-scheme: unknown", "write-access: no",
      "setting: ACUserMonIdleTime         policy=20          scheme=-          pass=unknown",
      "result: unknown no-power-interface"},
     kStatusCannotTell},
    // A key that exists but may not be read holds values that are unknown, not absent: a pass
    // fails on it.
    {"a group-policy root that cannot be read", false, kStandardRoot, OptionsWith(1), kEqual,
     PolicyRootUnreadable,
     {"root: HKEY_LOCAL_MACHINE\\Software\\Policies\\Velmorant\\Dorvane",
      "version: rejected unreadable",
      "result: unknown key-unreadable "
      "\"HKEY_LOCAL_MACHINE\\\\Software\\\\Policies\\\\Velmorant\\\\Dorvane\" error 5"},
     kStatusCannotTell},
    {"an unreadable group-policy root is not passed over", false, kStandardRoot, OptionsWith(1),
     kEqual, PolicyRootUnreadableBesideALocalRoot,
     {"root: HKEY_LOCAL_MACHINE\\Software\\Policies\\Velmorant\\Dorvane",
      "result: unknown key-unreadable "
      "\"HKEY_LOCAL_MACHINE\\\\Software\\\\Policies\\\\Velmorant\\\\Dorvane\" error 5"},
     kStatusCannotTell},
    {"options that cannot be read", false, kStandardRoot, OptionsWith(1), kEqual,
     OptionsUnreadable,
     {"security-bypass: on unreadable", "force-standby: on unreadable",
      "result: unknown key-unreadable \"HKEY_LOCAL_MACHINE\\\\Software\\\\Policies\\\\"
      "Velmorant\\\\Dorvane\\\\Options\" error 5"},
     kStatusCannotTell},
    {"time-outs that cannot be read", false, kStandardRoot, OptionsWith(1), kEqual,
     SimpleUnreadable,
     {"setting: ACUserMonIdleTime         policy=unreadable  scheme=20         pass=unknown",
      "result: unknown key-unreadable \"HKEY_LOCAL_MACHINE\\\\Software\\\\Policies\\\\"
      "Velmorant\\\\Dorvane\\\\Simple\" error 5"},
     kStatusCannotTell},
    {"an active scheme that cannot be read", false, kStandardRoot, OptionsWith(1), kEqual,
     SchemeCannotBeRead,
     {"active-scheme: unreadable",
      "setting: ACUserMonIdleTime         policy=20          scheme=-          pass=unknown",
      "result: unknown scheme-unreadable"},
     kStatusCannotTell},
};
// clang-format on

void PrintTo(const StatusCase& c, std::ostream* out) { *out << c.name; }

class StatusOfAState
    : public machine_kind::MachineKindFixture<std::tuple<PowerMachine, StatusCase>> {};

TEST_P(StatusOfAState, ShowsInItsLinesAndItsExitStatus) {
  const StatusCase& c = std::get<1>(GetParam());
  SeedPolicy(c.localRoot ? kLocalRoot : kPolicyRoot, c.rootValues, c.options, c.simple);
  if (c.arrange != nullptr) c.arrange(Current());

  const StatusRun run = RunStatus();

  EXPECT_EQ(run.exitStatus, c.exitStatus) << run;
  EXPECT_EQ(KeysOf(run.lines), kKeys) << run;
  for (const std::string& line : c.expectedLines) {
    EXPECT_TRUE(run.Has(line)) << "missing: " << line << "\n" << run;
  }
}

INSTANTIATE_TEST_SUITE_P(States, StatusOfAState,
                         testing::Combine(testing::Values(PowerMachine::kLegacyOnly,
                                                          PowerMachine::kCurrent),
                                          testing::ValuesIn(kCases)),
                         machine_kind::MachineAndCaseName());

// Which setting a pass announced, and whether the scheme then refused it, from the log at level
// 11: each announcement is followed by the setter's success line or its refusal.
struct PassOutcome {
  bool announced[kSettingCount] = {};
  bool refused[kSettingCount] = {};
};

PassOutcome OutcomeOf(const std::string& log) {
  std::vector<std::string> lines;
  std::istringstream text(log);
  for (std::string line; std::getline(text, line);) lines.push_back(line);
  PassOutcome outcome;
  for (size_t i = 0; i < kSettingCount; ++i) {
    const std::string announcement =
        std::string("INFO: ") + kSettings[i].serviceAnnouncement + "\r";
    const auto at = std::find(lines.begin(), lines.end(), announcement);
    if (at == lines.end()) continue;
    outcome.announced[i] = true;
    outcome.refused[i] = at + 1 != lines.end() && (at + 1)->compare(0, 7, "ERROR: ") == 0;
  }
  return outcome;
}

// A policy whose pass the check must foresee.
struct AgreementCase {
  const char* name;
  std::string simple;
  DWORD forceStandby;
  void (*arrange)(bool currentMachine);  // or null
};

const AgreementCase kAgreementCases[] = {
    {"every setting differs",
     DwordLine("ACUserMonIdleTime", 15) + DwordLine("ACUserStandByIdleTime", 25) +
         DwordLine("ACMachHibernateIdleTime", 90) + DwordLine("DCUserMonIdleTime", 3) +
         DwordLine("DCUserStandByIdleTime", 4) + DwordLine("DCMachHibernateIdleTime", 60) +
         DwordLine("ACUserHDDspindownIdleTime", 45) + DwordLine("DCUserHDDspindownIdleTime", 0),
     1, nullptr},
    // On a legacy scheme the total moves with standby, so a hibernation policy equal to the
    // total now still makes the pass change it there.
    {"standby changes under a hibernation total",
     DwordLine("ACUserStandByIdleTime", 25) + DwordLine("ACMachHibernateIdleTime", 70) +
         DwordLine("DCUserStandByIdleTime", 0) + DwordLine("DCMachHibernateIdleTime", 45),
     1, nullptr},
    {"hibernation not after standby",
     DwordLine("ACMachHibernateIdleTime", 10) + DwordLine("DCMachHibernateIdleTime", 3), 1,
     nullptr},
    {"standby and hibernation never",
     DwordLine("ACUserStandByIdleTime", 0) + DwordLine("ACMachHibernateIdleTime", 0), 1, nullptr},
    {"refused by the machine",
     DwordLine("ACUserStandByIdleTime", 25) + DwordLine("ACMachHibernateIdleTime", 90) +
         DwordLine("DCUserMonIdleTime", 3),
     0, [](bool) { WithCapabilities(0, 0); }},
};

void PrintTo(const AgreementCase& c, std::ostream* out) { *out << c.name; }

// The check foresees the pass setting by setting: what it would change is what the pass
// announces, what it finds refused the pass logs as refused. After the pass every change has
// been made, and only the refusals remain.
class StatusForeseesThePass
    : public machine_kind::MachineKindFixture<std::tuple<PowerMachine, AgreementCase>> {};

TEST_P(StatusForeseesThePass, AndFindsItDoneAfterwards) {
  const AgreementCase& c = std::get<1>(GetParam());
  SeedPolicy(kPolicyRoot, kStandardRoot, Options(11, 1, c.forceStandby), c.simple);
  if (c.arrange != nullptr) c.arrange(Current());

  const StatusRun before = RunStatus();
  RunPass();
  const PassOutcome pass = OutcomeOf(LogText());
  const StatusRun after = RunStatus();

  bool refusals = false;
  for (size_t i = 0; i < kSettingCount; ++i) {
    SCOPED_TRACE(kSettings[i].policyValue);
    const std::string foreseen = before.Verdict(i);
    if (pass.announced[i]) {
      EXPECT_EQ(foreseen, pass.refused[i] ? "refused" : "change") << before;
      EXPECT_EQ(after.Verdict(i), pass.refused[i] ? "refused" : "same") << after;
      refusals = refusals || pass.refused[i];
    } else {
      EXPECT_TRUE(foreseen == "same" || foreseen == "ignored") << before;
      EXPECT_EQ(after.Verdict(i), foreseen) << after;
    }
  }
  EXPECT_EQ(before.exitStatus, kStatusDiffers) << before;
  EXPECT_EQ(after.exitStatus, refusals ? kStatusDiffers : kStatusComplies) << after;
}

INSTANTIATE_TEST_SUITE_P(Policies, StatusForeseesThePass,
                         testing::Combine(testing::Values(PowerMachine::kLegacyOnly,
                                                          PowerMachine::kCurrent),
                                          testing::ValuesIn(kAgreementCases)),
                         machine_kind::MachineAndCaseName());

// The check counts a setting as held only in exactly the policy's minutes, as the pass does:
// 59 seconds against a policy of 0 differs. The scheme= field keeps showing whole minutes.
class StatusOfExactSeconds
    : public machine_kind::MachineKindFixture<std::tuple<PowerMachine, machine_kind::SecondsCase>> {
};

TEST_P(StatusOfExactSeconds, CountsOnlyThePolicysMinutesAsHeld) {
  const machine_kind::SecondsCase& c = std::get<1>(GetParam());
  for (size_t i = 0; i < kSettingCount; ++i) {
    const Setting& setting = kSettings[i];
    SCOPED_TRACE(setting.policyValue);
    SeedSeconds(setting, c.seconds);
    host::DeleteKeyTree(HKEY_LOCAL_MACHINE, std::string(schema::kPolicyRoot) + "\\Simple");
    SeedPolicy(kPolicyRoot, kStandardRoot, OptionsWith(1),
               DwordLine(setting.policyValue, c.policy));

    const StatusRun run = RunStatus();

    EXPECT_EQ(run.Verdict(i), c.changes ? "change" : "same") << run;
    EXPECT_EQ(run.exitStatus, c.changes ? kStatusDiffers : kStatusComplies) << run;
    const std::string& line = run.lines.at(kFirstSettingLine + i);
    EXPECT_NE(line.find(" scheme=" + std::to_string(c.seconds / 60) + " "), std::string::npos)
        << line;
  }
}

INSTANTIATE_TEST_SUITE_P(Table, StatusOfExactSeconds,
                         testing::Combine(testing::Values(PowerMachine::kLegacyOnly,
                                                          PowerMachine::kCurrent),
                                          testing::ValuesIn(machine_kind::kSecondsCases)),
                         machine_kind::MachineAndCaseName());

// Legacy schemes keep hibernation after standby, current ones keep the total: a total that does
// not come after standby is refused on the one and stored on the other, as a pass does.
TEST_P(StatusTest, JudgesAHibernationTotalAsTheSchemeKeepsIt) {
  SeedStandardPolicy(Dword("ACMachHibernateIdleTime", 10));

  const StatusRun run = RunStatus();

  if (Current()) {
    EXPECT_TRUE(run.Has(
        "setting: ACMachHibernateIdleTime   policy=10          scheme=70         pass=change"))
        << run;
  } else {
    EXPECT_TRUE(run.Has(
        "setting: ACMachHibernateIdleTime   policy=10          scheme=70         pass=refused "
        "reason=PwrScheme::SetMachAcHibernateTimeOut(): Hibernation time-out is not longer "
        "than the Standby time-out"))
        << run;
  }
}

// The check reads as a pass reads and writes nothing: no log although the policy asks for one,
// no backup, no scheme, no activation, no display setting; the registry stays byte for byte
// as it was. Its calls are all reading calls (no flush either: a key only read is never
// flushed), besides the probe's loading of powrprof.dll and its one debug text.
TEST_P(StatusTest, ChangesNothing) {
  SeedStandardPolicy(AllDiffer());
  const std::string registry = host::ExportRegText();
  host::ClearCalls();

  const StatusRun run = RunStatus();

  EXPECT_EQ(run.exitStatus, kStatusDiffers);
  EXPECT_EQ(host::ExportRegText(), registry);
  EXPECT_EQ(LogText(), "<no file>");
  const std::set<std::string> kReading = {"CallNtPowerInformation",
                                          "RegOpenKeyExA",
                                          "RegQueryValueExA",
                                          "RegCloseKey",
                                          "SetErrorMode",
                                          "ExpandEnvironmentStringsA",
                                          "LoadLibraryA",
                                          "GetProcAddress",
                                          "FreeLibrary",
                                          "GetFullPathNameA",
                                          "CreateFileA",
                                          "GetFileType",
                                          "GetFileInformationByHandle",
                                          "GetFinalPathNameByHandleA",
                                          "GetLongPathNameA",
                                          "CloseHandle",
                                          "GetPwrCapabilities",
                                          "GetActivePwrScheme",
                                          "ReadPwrScheme",
                                          "CanUserWritePwrScheme",
                                          "IsPwrHibernateAllowed",
                                          "PowerGetActiveScheme",
                                          "PowerReadACValueIndex",
                                          "PowerReadDCValueIndex",
                                          "PowerSettingAccessCheck",
                                          "LocalFree",
                                          "LoadLibraryA",
                                          "GetProcAddress",
                                          "FreeLibrary",
                                          "OutputDebugStringA"};
  for (const std::string& call : host::Calls()) {
    EXPECT_EQ(kReading.count(call), 1u) << "a call that is not a read: " << call;
  }
  // The log's file and folder are opened for their attributes alone, never created.
  for (const host::FileOpen& open : host::FileOpens()) {
    EXPECT_EQ(open.access, DWORD{FILE_READ_ATTRIBUTES}) << open.path;
    EXPECT_EQ(open.disposition, DWORD{OPEN_EXISTING}) << open.path;
  }
  EXPECT_EQ(host::DebugOutput(), std::vector<std::string>{ProbeText()});
}

// The log line tells what a pass would do with its log, learnt without writing: the pass
// then does just that, writing where the check said it would and refusing what it refused.
TEST_P(StatusTest, TheLogLineForeseesWhatThePassDoesWithItsLog) {
  ASSERT_EQ(mkdir((dir_ + "/logs").c_str(), 0700), 0);
  ASSERT_EQ(mkdir((dir_ + "/other").c_str(), 0700), 0);
  ASSERT_EQ(symlink((dir_ + "/other").c_str(), (dir_ + "/logs/sub").c_str()), 0);
  const struct {
    const char* what;
    std::string options;
    std::string line;
    std::string written;  // the file the pass writes, or empty
    std::string told;     // the pass's debug text about its log, or empty
  } cases[] = {
      {"the log switched off", "\"Log\"=dword:00000000\n\"LogFile\"=\"LOGFILE\"\n", "log: off", "",
       ""},
      {"no log file named", "\"Log\"=dword:00000001\n", "log: off", "", ""},
      {"a plain file", Options(11), "log: writes to \"" + logPath_ + "\"", logPath_, ""},
      {"a linked folder",
       "\"Log\"=dword:00000001\n\"LogFile\"=\"" + dir_ + "/logs/sub/dorvane.log\"\n",
       "log: refused: final-path-differs", "",
       "Log file refused, final-path-differs: " + dir_ + "/logs/sub/dorvane.log is \\\\?\\" + dir_ +
           "/other/dorvane.log"},
      {"a named pipe", "\"Log\"=dword:00000001\n\"LogFile\"=\"\\\\\\\\.\\\\pipe\\\\x\"\n",
       "log: refused: device-namespace", "", "Log file refused, device-namespace: \\\\.\\pipe\\x"},
      {"a missing folder",
       "\"Log\"=dword:00000001\n\"LogFile\"=\"" + dir_ + "/missing/dorvane.log\"\n",
       "log: cannot open \"" + dir_ + "/missing/dorvane.log\": error 3", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(logPath_);
    SeedPolicy(kPolicyRoot, kVerifiedRoot, c.options, AllDiffer());
    const StatusRun run = RunStatus();
    EXPECT_TRUE(run.Has(c.line)) << run;
    EXPECT_EQ(LogText(), "<no file>");
    EXPECT_TRUE(std::filesystem::is_empty(dir_ + "/other"));

    host::ClearDebugOutput();
    RunPass();
    if (!c.written.empty()) {
      EXPECT_NE(LogText(), "<no file>");
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir_ + "/other"));
    std::vector<std::string> told;
    for (const std::string& text : host::DebugOutput()) {
      if (text.rfind("Log file", 0) == 0) told.push_back(text);
    }
    EXPECT_EQ(told, c.told.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.told});
    host::DeleteKeyTree(HKEY_LOCAL_MACHINE, "Software\\Policies\\Velmorant\\Dorvane");
  }
}

// Whichever platform call fails, once or from then on, the check still prints every line,
// answers 0, 1 or 2, and writes nothing; it leaves no handle, memory or library behind.
TEST_P(StatusTest, AnswersAndWritesNothingWhicheverCallFails) {
  std::string registry;
  size_t libraries = 0;
  StatusRun run;
  const SweepCounts counts = SweepEveryCall(
      {std::string("compliance check, ") + MachineName(GetParam()),
       [&] {
         host::Reset();
         host::SetDebugEcho(false);
         StartMachine();
         SeedStandardPolicy(AllDiffer());
         registry = host::ExportRegText();
         libraries = host::LoadedLibraryCount();
       },
       [&] { run = RunStatus(); },
       [&] {
         EXPECT_TRUE(run.exitStatus == kStatusComplies || run.exitStatus == kStatusDiffers ||
                     run.exitStatus == kStatusCannotTell)
             << run;
         EXPECT_EQ(KeysOf(run.lines), kKeys) << run;
         EXPECT_EQ(host::ExportRegText(), registry) << "the check changed the registry";
         EXPECT_EQ(LogText(), "<no file>");
         EXPECT_EQ(host::OpenHandleCount(), 0u) << "the check left handles open";
         EXPECT_EQ(host::LocalBlockCount(), 0u) << "the check left memory it was given";
         EXPECT_EQ(host::LoadedLibraryCount(), libraries) << "the check left a library loaded";
       }});
  EXPECT_GT(counts.calls, 20u);
}

INSTANTIATE_TEST_SUITE_P(OnEachMachine, StatusTest,
                         testing::Values(PowerMachine::kLegacyOnly, PowerMachine::kCurrent,
                                         PowerMachine::kCurrentWithoutLegacy),
                         machine_kind::MachineParamName);

}  // namespace
