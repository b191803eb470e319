// A compliant machine is left alone: once the scheme holds the policy and the backup key
// records it, a pass writes nothing anywhere (registry, scheme, display settings, log, event
// log), and a change of the policy then makes the writes of that change and no others. On
// both kinds of machine, for the service, the logon tool and a user who commits through the
// security bypass.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "MachineKindFixture.h"
#include "TableTest.h"

namespace {

using host::PowerMachine;
using machine_kind::Minutes;

// The functions by which a pass changes anything outside itself.
const char* const kWritingFunctions[] = {
    "RegCreateKeyExA",
    "RegSetValueExA",
    "RegDeleteValueA",
    "RegDeleteKeyA",
    "RegFlushKey",
    "CreateFileA",
    "WriteFile",
    "SetEndOfFile",
    "SetFileInformationByHandle",
    "DeleteFileA",
    "WritePwrScheme",
    "SetActivePwrScheme",
    "PowerWriteACValueIndex",
    "PowerWriteDCValueIndex",
    "PowerSetActiveScheme",
    "SystemParametersInfoA",
    "ReportEventA",
};

using Counts = std::map<std::string, size_t>;

// The writing calls among `calls`, by function.
Counts WritesOf(const std::vector<std::string>& calls) {
  Counts writes;
  for (const std::string& call : calls) {
    for (const char* writing : kWritingFunctions) {
      if (call == writing) ++writes[call];
    }
  }
  return writes;
}

Counts Plus(Counts a, const Counts& b) {
  for (const auto& [function, count] : b) a[function] += count;
  return a;
}

struct UnchangedCase {
  const char* name;
  const PassVariant* variant;
  bool limitedUser;  // commits the user half through the security bypass (legacy only)
  // The policy the passes enforce. Through the bypass the machine half is not stored, so there
  // the hibernation totals, and the standby time-outs they count from, are the scheme's own.
  Minutes policy;
};

void PrintTo(const UnchangedCase& c, std::ostream* out) { *out << c.name; }

const UnchangedCase kService = {"service", &kServicePass, false, {15, 25, 90, 3, 4, 60, 45, 0}};
const UnchangedCase kLogonTool = {"logon tool", &kLogonPass, false, {15, 25, 90, 3, 4, 60, 45, 0}};
const UnchangedCase kBypass = {
    "limited user through the bypass", &kLogonPass, true, {15, 10, 70, 3, 5, 45, 45, 0}};

class UnchangedPassTest
    : public machine_kind::MachineKindFixture<std::tuple<PowerMachine, UnchangedCase>> {
 protected:
  static const UnchangedCase& Case() { return std::get<1>(GetParam()); }

  // Two passes: the first enforces the policy, the second records in the snapshot what the
  // scheme now holds. The machine is compliant from then on.
  void MakeCompliant(DWORD logLevel) {
    host::SetLimitedUser(Case().limitedUser);
    SeedStandardPolicy(PolicyOf(Case().policy), logLevel);
    RunPass(*Case().variant);
    RunPass(*Case().variant);
    ASSERT_EQ(StoredMinutes(), Case().policy);
  }

  void SetLogLevel(DWORD level) {
    host::WriteDword(HKEY_LOCAL_MACHINE, std::string(schema::kPolicyRoot) + "\\Options", "LogLevel",
                     level);
  }

  // What a commit writes for a change of the mains monitor time-out alone: the one setting and
  // the activation on a current machine; on a legacy one the scheme, or the user's copy of it,
  // and the display's power-off settings.
  static Counts CommitOfOneMonitorChange() {
    if (Current()) return {{"PowerWriteACValueIndex", 1}, {"PowerSetActiveScheme", 1}};
    const Counts display = {{"SystemParametersInfoA", 2}};
    if (Case().limitedUser) return Plus(display, {{"RegSetValueExA", 1}});
    return Plus(display, {{"WritePwrScheme", 1}, {"SetActivePwrScheme", 1}});
  }
};

TEST_P(UnchangedPassTest, ACompliantMachineIsLeftAlone) {
  MakeCompliant(6);
  const std::string registry = host::ExportRegText();
  const std::string log = LogText();
  host::ClearCalls();
  host::ClearReportedEvents();

  RunPass(*Case().variant);

  // At a level that shows it, the log gets one line, and nothing else is written.
  EXPECT_EQ(WritesOf(host::Calls()),
            (Counts{{"CreateFileA", 1}, {"WriteFile", 1}, {"SetEndOfFile", 1}}));
  EXPECT_EQ(LogText(), log + Lines({kNothingToCommit}));
  EXPECT_EQ(host::ExportRegText(), registry);
  EXPECT_EQ(host::ReportedEvents().size(), 0u);
  // The capabilities are asked for once.
  EXPECT_EQ(host::CallCount(host::gated::GetPwrCapabilities), 1u);

  // Below that level the log file is not even opened.
  SetLogLevel(5);
  const std::string registryAtLevel5 = host::ExportRegText();
  const std::string logAtLevel5 = LogText();
  host::ClearCalls();

  RunPass(*Case().variant);

  EXPECT_EQ(WritesOf(host::Calls()), Counts{});
  EXPECT_EQ(host::FileOpens().size(), 0u);
  EXPECT_EQ(LogText(), logAtLevel5);
  EXPECT_EQ(host::ExportRegText(), registryAtLevel5);
  EXPECT_EQ(StoredMinutes(), Case().policy);
}

// One policy value changes: the snapshot records the new policy, the backup what the change
// replaced, and the scheme is committed; nothing else is written.
TEST_P(UnchangedPassTest, APolicyChangeMakesTheWritesOfThatChangeAlone) {
  MakeCompliant(5);
  const Values before = Backup(Case().variant->backupRoot);
  host::WriteDword(HKEY_LOCAL_MACHINE, std::string(schema::kPolicyRoot) + "\\Simple",
                   "ACUserMonIdleTime", 12);
  host::ClearCalls();

  RunPass(*Case().variant);

  // The key is opened for writing (it exists: nothing to flush), and each of the two values
  // written is flushed.
  const Counts backup = {{"RegCreateKeyExA", 1}, {"RegSetValueExA", 2}, {"RegFlushKey", 2}};
  EXPECT_EQ(WritesOf(host::Calls()),
            Plus(Plus(backup, CommitOfOneMonitorChange()), {{"ReportEventA", 1}}));
  Values expected = before;
  for (auto& [name, value] : expected) {
    if (name == "ACUserVideoTimeoutPolicy") value = 12;
    if (name == "ACUserMonIdleTime") value = 15;
  }
  EXPECT_EQ(Backup(Case().variant->backupRoot), expected);
  Minutes now = Case().policy;
  now.videoAc = 12;
  EXPECT_EQ(StoredMinutes(), now);
  EXPECT_EQ(LogText(), "<no file>");
}

INSTANTIATE_TEST_SUITE_P(Legacy, UnchangedPassTest,
                         testing::Combine(testing::Values(PowerMachine::kLegacyOnly),
                                          testing::Values(kService, kLogonTool, kBypass)),
                         machine_kind::MachineAndCaseName());
// A user who may not write the scheme has no copy of his own to write on a current machine:
// his commits fail, and the machine never becomes compliant.
INSTANTIATE_TEST_SUITE_P(Current, UnchangedPassTest,
                         testing::Combine(testing::Values(PowerMachine::kCurrent),
                                          testing::Values(kService, kLogonTool)),
                         machine_kind::MachineAndCaseName());

}  // namespace
