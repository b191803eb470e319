// What an update pass reports to the event log: one event at its end for each way a pass can
// go (the time-outs it changed, or its failure with the log's text, or nothing), and the
// warnings PassEvents reports, each once per process.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "PassEvents.h"
#include "PassFixture.h"
#include "ReportedEvents.h"
#include "TableTest.h"

namespace {

using Texts = std::vector<std::string>;
using reported_events::Expected;

constexpr const char* kOptionsPath = "Software\\Policies\\Velmorant\\Dorvane\\Options";
constexpr const char* kSimplePath = "Software\\Policies\\Velmorant\\Dorvane\\Simple";
constexpr const char* kOptionsKey =
    "HKEY_LOCAL_MACHINE\\Software\\Policies\\Velmorant\\Dorvane\\Options";
constexpr const char* kSimpleKey =
    "HKEY_LOCAL_MACHINE\\Software\\Policies\\Velmorant\\Dorvane\\Simple";

const std::string kAllEightChanged =
    "ACUserMonIdleTime 20 -> 15\r\nACUserStandByIdleTime 10 -> 25\r\n"
    "ACMachHibernateIdleTime 70 -> 90\r\nDCUserMonIdleTime 7 -> 3\r\n"
    "DCUserStandByIdleTime 5 -> 4\r\nDCMachHibernateIdleTime 45 -> 60\r\n"
    "ACUserHDDspindownIdleTime 30 -> 45\r\nDCUserHDDspindownIdleTime 15 -> 0";

struct PassEventCase {
  const char* name;
  std::function<void(PassFixture&)> arrange;  // seeds the policy and whatever else it needs
  const PassVariant* variant;
  Texts events;
};

class PassReportsHowItWent : public PassFixture,
                             public ::testing::WithParamInterface<PassEventCase> {
 public:
  // Reachable from the cases' arrangements, which get the fixture.
  using PassFixture::AllDiffer;
  using PassFixture::AllEqual;
  using PassFixture::Dword;
  using PassFixture::Options;
  using PassFixture::SeedPolicy;
  using PassFixture::SeedStandardPolicy;

  static void WithoutSuspend() {
    SYSTEM_POWER_CAPABILITIES caps = host::DefaultCapabilities();
    caps.SystemS3 = 0;
    host::SetCapabilities(caps);
  }

  static std::vector<PassEventCase> Cases() {
    const auto root = [](const std::string& values) {
      return [values](PassFixture& f) {
        static_cast<PassReportsHowItWent&>(f).SeedPolicy(kPolicyRoot, values, Options(11),
                                                         AllDiffer());
      };
    };
    const auto allDifferAnd = [](std::function<void()> more) {
      return [more](PassFixture& f) {
        static_cast<PassReportsHowItWent&>(f).SeedStandardPolicy(AllDiffer());
        more();
      };
    };
    const auto failed = [](const std::string& text) {
      return Texts{Expected(pm_events::kPassFailed, {"service", "Administrator", text})};
    };
    return {
        {"every time-out changes",
         allDifferAnd([] {}),
         &kServicePass,
         {Expected(pm_events::kPassChangedSettings,
                   {"service", "Administrator", "8", kAllEightChanged})}},
        {"the logon tool, for its user",
         [](PassFixture& f) {
           static_cast<PassReportsHowItWent&>(f).SeedStandardPolicy(Dword("ACUserMonIdleTime", 15));
           host::SetUserName("alice");
         },
         &kLogonPass,
         {Expected(pm_events::kPassChangedSettings,
                   {"logon tool", "alice", "1", "ACUserMonIdleTime 20 -> 15"})}},
        {"nothing to change",
         [](PassFixture& f) {
           static_cast<PassReportsHowItWent&>(f).SeedStandardPolicy(AllEqual());
         },
         &kServicePass,
         {}},
        {"no settings root", [](PassFixture&) {}, &kServicePass, {}},
        {"version 0",
         root("\"Control\"=\"Verify\"\n\"MajorVersion\"=dword:00000000\n"
              "\"SettingsScheme\"=\"Simple\"\n"),
         &kServicePass, failed("Major version NULL")},
        {"version absent", root("\"Control\"=\"Verify\"\n\"SettingsScheme\"=\"Simple\"\n"),
         &kServicePass, failed("Major version too high")},
        {"another settings scheme",
         root("\"Control\"=\"Verify\"\n\"MajorVersion\"=dword:00000002\n"
              "\"SettingsScheme\"=\"simple\"\n"),
         &kServicePass, failed("Invalid Scheme Name")},
        {"no active scheme", allDifferAnd([] {
           host::FailCall(host::gated::GetActivePwrScheme, 1, ERROR_GEN_FAILURE);
         }),
         &kServicePass,
         failed("PwrMgmt::GetPwrSchemeInUse() failed. Unable to Get index for current power "
                "scheme->System Error: ")},
        {"the scheme cannot be read",
         allDifferAnd([] { host::FailCall(host::gated::ReadPwrScheme, 1, ERROR_GEN_FAILURE); }),
         &kServicePass, failed("PwrScheme initialiaze()->System Error: ")},
        // Whatever the setters did, nothing was stored: the failure alone.
        {"the commit fails",
         allDifferAnd([] { host::FailCall(host::gated::WritePwrScheme, 1, ERROR_GEN_FAILURE); }),
         &kServicePass,
         failed("PwrScheme::commit() failed. Unable to Write PowerScheme->System Error: ")},
        // A refused setting is not among the changes; the others are. A machine without sleep
        // refusing a standby time-out is also a warning.
        {"standby refused",
         [](PassFixture& f) {
           WithoutSuspend();
           static_cast<PassReportsHowItWent&>(f).SeedPolicy(
               kPolicyRoot, kVerifiedRoot, Options(11, 1, 0),
               Dword("ACUserStandByIdleTime", 25) + Dword("DCUserMonIdleTime", 3));
         },
         &kServicePass,
         {Expected(pm_events::kStateNotAvailable,
                   {"service", "Administrator", "ACUserStandByIdleTime", "25", "standby"}),
          Expected(pm_events::kPassChangedSettings,
                   {"service", "Administrator", "1", "DCUserMonIdleTime 7 -> 3"})}},
        // Committed through the security bypass: only the user half is stored, so the
        // hibernation time-outs of the machine half did not change.
        {"the user half alone is stored",
         [](PassFixture& f) {
           host::SetLimitedUser(true);
           static_cast<PassReportsHowItWent&>(f).SeedStandardPolicy(
               Dword("ACUserMonIdleTime", 15) + Dword("ACMachHibernateIdleTime", 0));
         },
         &kLogonPass,
         {Expected(pm_events::kPassChangedSettings,
                   {"logon tool", "Administrator", "1", "ACUserMonIdleTime 20 -> 15"})}},
        {"hibernation alone, not stored",
         [](PassFixture& f) {
           host::SetLimitedUser(true);
           static_cast<PassReportsHowItWent&>(f).SeedStandardPolicy(
               Dword("ACMachHibernateIdleTime", 0));
         },
         &kLogonPass,
         {}},
        // A number of another type is left alone and reported, once, with the key it is in.
        {"a time-out of another type",
         [](PassFixture& f) {
           static_cast<PassReportsHowItWent&>(f).SeedStandardPolicy(
               "\"ACUserMonIdleTime\"=\"15\"\n" + Dword("DCUserMonIdleTime", 3));
         },
         &kServicePass,
         {Expected(pm_events::kPolicyValueWrongType,
                   {"service", "Administrator", kSimpleKey, "ACUserMonIdleTime", "REG_SZ"}),
          Expected(pm_events::kPassChangedSettings,
                   {"service", "Administrator", "1", "DCUserMonIdleTime 7 -> 3"})}},
        // A key that exists but may not be read fails the pass before it acts on readings that
        // are not the policy's; the values read from it on the way are reported as unreadable.
        {"options that cannot be read",
         allDifferAnd([] { host::DenyReading(HKEY_LOCAL_MACHINE, kOptionsPath); }),
         &kServicePass,
         {Expected(pm_events::kPolicyValueUnreadable,
                   {"service", "Administrator", kOptionsKey, "Log", "5"}),
          Expected(pm_events::kPolicyValueUnreadable,
                   {"service", "Administrator", kOptionsKey, "LogLevel", "5"}),
          failed(std::string("Policy key ") + kOptionsKey + " cannot be read, error 5").front()}},
        {"time-outs that cannot be read",
         allDifferAnd([] { host::DenyReading(HKEY_LOCAL_MACHINE, kSimplePath); }), &kServicePass,
         failed(std::string("Policy key ") + kSimpleKey + " cannot be read, error 5")},
        {"the user name unknown",
         allDifferAnd([] { host::FailCall(host::gated::GetUserNameA, 1, ERROR_GEN_FAILURE); }),
         &kServicePass,
         {Expected(pm_events::kPassChangedSettings,
                   {"service", "(unknown)", "8", kAllEightChanged})}},
    };
  }
};

TEST_P(PassReportsHowItWent, Case) {
  ForgetReportedWarnings();
  GetParam().arrange(*this);

  RunPass(*GetParam().variant);

  EXPECT_EQ(GetParam().events, reported_events::All());
  EXPECT_EQ(0u, host::OpenHandleCount());
}

INSTANTIATE_TEST_SUITE_P(Cases, PassReportsHowItWent,
                         ::testing::ValuesIn(PassReportsHowItWent::Cases()), CaseName());

// The pass's event comes once it is over: after the log is closed and before the service's
// closing debug text.
TEST_F(PassFixture, TheEventComesAtTheEndOfThePass) {
  SeedStandardPolicy(AllDiffer());

  RunPass(kServicePass);

  const Texts calls = host::Calls();
  ASSERT_EQ(1, std::count(calls.begin(), calls.end(), "ReportEventA"));
  const auto at = [&calls](const char* call) {
    return std::find(calls.rbegin(), calls.rend(), call).base() - calls.begin() - 1;
  };
  EXPECT_LT(at("WriteFile"), at("ReportEventA")) << "a log line after the report";
  EXPECT_LT(at("ReportEventA"), at("OutputDebugStringA"));
  EXPECT_EQ("Reached end of PM Update", host::DebugOutput().back());
}

// A refused log target is a warning, with the path and the word the debug text gives: here a
// folder where the file should be. The pass goes on without a log.
TEST_F(PassFixture, ARefusedLogIsReportedOnceWithItsReason) {
  ForgetReportedWarnings();
  ASSERT_TRUE(std::filesystem::create_directory(logPath_));
  SeedStandardPolicy(AllEqual());

  RunPass(kServicePass);
  RunPass(kServicePass);

  EXPECT_EQ((Texts{Expected(pm_events::kLogTargetRefused,
                            {"service", "Administrator", logPath_, "folder"})}),
            reported_events::All());
  ForgetReportedWarnings();
}

// ---- PassEvents by itself -----------------------------------------------------------------

class PassEventsTest : public HostFixture {
 protected:
  void SetUp() override {
    HostFixture::SetUp();
    ForgetReportedWarnings();
  }
  void TearDown() override { ForgetReportedWarnings(); }
};

TEST_F(PassEventsTest, EachWarningNamesWhatItIsAboutAndComesOncePerProcess) {
  for (int pass = 0; pass < 2; ++pass) {
    PassEvents events("service");
    events.HeldByWindowsPolicy("ACUserStandByIdleTime", 30, 25);
    events.StateNotAvailable("DCMachHibernateIdleTime", 60, "hibernation");
    events.LogTargetRefused("C:\\Windows\\Temp\\Dorvane.log", "a symbolic link");
    events.PolicyValueWrongType(
        "HKEY_LOCAL_MACHINE\\Software\\Policies\\Velmorant\\Dorvane\\Simple", "ACUserMonIdleTime",
        REG_SZ);
    events.PolicyValueUnreadable("HKEY_LOCAL_MACHINE\\Software\\Policies\\Velmorant\\Dorvane",
                                 "MajorVersion", ERROR_ACCESS_DENIED);
    events.End();
  }

  EXPECT_EQ(
      (Texts{
          Expected(pm_events::kSettingHeldByWindowsPolicy,
                   {"service", "Administrator", "ACUserStandByIdleTime", "30", "25"}),
          Expected(pm_events::kStateNotAvailable,
                   {"service", "Administrator", "DCMachHibernateIdleTime", "60", "hibernation"}),
          Expected(
              pm_events::kLogTargetRefused,
              {"service", "Administrator", "C:\\Windows\\Temp\\Dorvane.log", "a symbolic link"}),
          Expected(pm_events::kPolicyValueWrongType,
                   {"service", "Administrator",
                    "HKEY_LOCAL_MACHINE\\Software\\Policies\\Velmorant\\Dorvane\\Simple",
                    "ACUserMonIdleTime", "REG_SZ"}),
          Expected(
              pm_events::kPolicyValueUnreadable,
              {"service", "Administrator",
               "HKEY_LOCAL_MACHINE\\Software\\Policies\\Velmorant\\Dorvane", "MajorVersion", "5"}),
      }),
      reported_events::All());
  // The user is asked once per pass.
  EXPECT_EQ(2u, host::CallCount(host::gated::GetUserNameA));
}

TEST_F(PassEventsTest, TypesAreNamedAsAdministratorsReadThem) {
  const struct {
    DWORD type;
    const char* name;
  } cases[] = {{REG_NONE, "REG_NONE"},
               {REG_SZ, "REG_SZ"},
               {REG_EXPAND_SZ, "REG_EXPAND_SZ"},
               {REG_BINARY, "REG_BINARY"},
               {REG_DWORD, "REG_DWORD"},
               {REG_DWORD_BIG_ENDIAN, "REG_DWORD_BIG_ENDIAN"},
               {REG_MULTI_SZ, "REG_MULTI_SZ"},
               {REG_QWORD, "REG_QWORD"},
               {6, "6"},
               {0xFFFF0000, "4294901760"}};
  for (const auto& c : cases) EXPECT_EQ(c.name, PassEvents::TypeName(c.type)) << c.type;
}

// A failure reported at the end outweighs the changes; the end starts the next pass afresh.
TEST_F(PassEventsTest, TheEndReportsTheFailureElseTheChangesAndStartsAfresh) {
  PassEvents events("logon tool");
  events.Changed("ACUserMonIdleTime", 20, 15);
  events.Failed("Invalid Scheme Name");
  events.End();
  events.End();
  events.Changed("DCMachHibernateIdleTime", 45, 60);
  events.MachineHalfNotStored();
  events.Changed("DCUserMonIdleTime", 7, 3);
  events.End();

  EXPECT_EQ((Texts{Expected(pm_events::kPassFailed,
                            {"logon tool", "Administrator", "Invalid Scheme Name"}),
                   Expected(pm_events::kPassChangedSettings,
                            {"logon tool", "Administrator", "1", "DCUserMonIdleTime 7 -> 3"})}),
            reported_events::All());
}

}  // namespace
