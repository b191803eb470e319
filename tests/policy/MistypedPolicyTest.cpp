// Policy numbers stored as something other than a REG_DWORD: each reads as an absent value
// would, and the pass says so once in its log.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "PassFixture.h"
#include "TableTest.h"

namespace {

const std::string kRootPath = "Software\\Policies\\Velmorant\\Dorvane";
const std::string kCommitted = "INFO: Commiting of Power Scheme() Succeded";

std::string NotANumber(const std::string& name) {
  return "ERROR: Policy value " + name + " is not a REG_DWORD; ignored";
}

const std::string kZeroText("0\0", 2);

class MistypedPolicyTest : public PassFixture {
 protected:
  static void Store(const std::string& subKey, const std::string& name, DWORD type,
                    const std::string& bytes) {
    host::WriteValue(HKEY_LOCAL_MACHINE, subKey.empty() ? kRootPath : kRootPath + "\\" + subKey,
                     name, type, std::vector<uint8_t>(bytes.begin(), bytes.end()));
  }
};

// A time-out that is not a number is never enforced and its snapshot policy records the unset
// reading, whatever its bytes would have read as; it is reported once, although the pass
// reads it twice.
struct NotANumberCase {
  const char* name;
  DWORD type;
  std::string data;
};

class TimeOutThatIsNotANumber : public MistypedPolicyTest,
                                public ::testing::WithParamInterface<NotANumberCase> {};

const NotANumberCase kNotNumbers[] = {
    {"text \"5\"", REG_SZ, std::string("5\0", 2)},
    {"text \"0\"", REG_SZ, std::string("0\0", 2)},
    {"text \"10\" without its zero", REG_SZ, "10"},
    {"empty text", REG_SZ, std::string("\0", 1)},
    {"text too long for a number", REG_SZ, std::string("10000\0", 6)},
    {"expandable text", REG_EXPAND_SZ, std::string("5\0", 2)},
    {"multiple texts", REG_MULTI_SZ, std::string("5\0\0", 3)},
    {"four binary bytes", REG_BINARY, std::string("\x0f\0\0\0", 4)},
    {"eight-byte number", REG_QWORD, std::string("\x0f\0\0\0\0\0\0\0", 8)},
    {"empty REG_DWORD", REG_DWORD, ""},
    {"REG_DWORD of eight bytes", REG_DWORD, std::string("\x0f\0\0\0\0\0\0\0", 8)},
};

TEST_P(TimeOutThatIsNotANumber, IsReportedOnceAndLeftAlone) {
  SeedStandardPolicy(Dword("DCUserMonIdleTime", 7));
  Store("Simple", "ACUserMonIdleTime", GetParam().type, GetParam().data);

  RunPass();

  EXPECT_EQ(LogText(), Lines({NotANumber("ACUserMonIdleTime"), kNothingToCommit}));
  EXPECT_TRUE(SchemeUnchanged());
  const Values backup = Backup(HKEY_LOCAL_MACHINE);
  ASSERT_EQ(backup.size(), 12u);
  EXPECT_EQ(backup[3], (std::pair<std::string, DWORD>("ACUserVideoTimeoutPolicy", 0xFFFFFFFF)));
}

INSTANTIATE_TEST_SUITE_P(Types, TimeOutThatIsNotANumber, ::testing::ValuesIn(kNotNumbers),
                         CaseName());

// A REG_DWORD shorter than four bytes is still a number.
TEST_F(MistypedPolicyTest, ShortDwordTimeOutIsEnforced) {
  SeedStandardPolicy(Dword("DCUserMonIdleTime", 7));
  Store("Simple", "ACUserMonIdleTime", REG_DWORD, "\x0f");  // one byte: 15

  RunPass();

  EXPECT_EQ(LogText(), Lines({"INFO: .Default User Video Timeout will be changed",
                              "INFO: SetUserAcVideoTimeOut() Succeded", kCommitted}));
  EXPECT_EQ(StoredScheme().user.VideoTimeoutAc, 15u * 60);
}

// The switches, the log level and the version read as absent ones do: a switch is on, the
// level lets every line through, the version is too high. Values read before the log opens
// are reported as soon as it does; a value read three times is reported once. The log level
// is 6 (no announcements) unless the case spoils it.
struct SwitchesLevelAndVersionReadAsAbsentAndAreReportedCase {
  const char* name;
  std::function<void()> arrange;
  std::vector<std::string> lines;
  std::function<void()> check;
};

class SwitchesLevelAndVersionReadAsAbsentAndAreReported
    : public MistypedPolicyTest,
      public ::testing::WithParamInterface<SwitchesLevelAndVersionReadAsAbsentAndAreReportedCase> {
 public:
  static std::vector<SwitchesLevelAndVersionReadAsAbsentAndAreReportedCase> Cases() {
    return {
        {"Log \"0\": on",
         [] { Store("Options", "Log", REG_SZ, kZeroText); },
         {NotANumber("Log"), "INFO: SetUserAcStandbyTimeOut() Succeded", kCommitted},
         [] {}},
        {"LogLevel \"1\": every line",
         [] { Store("Options", "LogLevel", REG_SZ, std::string("1\0", 2)); },
         {NotANumber("LogLevel"), "INFO: User System Standby will be changed",
          "INFO: SetUserAcStandbyTimeOut() Succeded", kCommitted},
         [] {}},
        {"MajorVersion \"2\": too high",
         [] { Store("", "MajorVersion", REG_SZ, std::string("2\0", 2)); },
         {NotANumber("MajorVersion"), "ERROR: Major version too high"},
         [] { EXPECT_TRUE(SchemeUnchanged()); }},
        {"ForceStandby \"0\" without S3: forced",
         [] {
           SYSTEM_POWER_CAPABILITIES caps = host::DefaultCapabilities();
           caps.SystemS3 = 0;
           host::SetCapabilities(caps);
           Store("Options", "ForceStandby", REG_SZ, kZeroText);
         },
         {NotANumber("ForceStandby"), "INFO: SetUserAcStandbyTimeOut() Succeded", kCommitted},
         [] { EXPECT_EQ(StoredScheme().user.IdleTimeoutAc, 25u * 60); }},
        // A limited user commits through the bypass; the mains hibernation policy, read for the
        // snapshot, for enforcement and for the note, is reported once.
        {"SecurityBypass \"0\" and a hibernation text for a limited user",
         [] {
           host::SetLimitedUser(true);
           Store("Options", "SecurityBypass", REG_SZ, kZeroText);
           Store("Simple", "ACMachHibernateIdleTime", REG_SZ, std::string("90\0", 3));
         },
         {NotANumber("SecurityBypass"), NotANumber("ACMachHibernateIdleTime"),
          "INFO: SetUserAcStandbyTimeOut() Succeded", kCommitted,
          "INFO: NB: Hibernation not set due to user permissions"},
         [] { EXPECT_EQ(StoredScheme().user.IdleTimeoutAc, 25u * 60); }},
    };
  }
};

TEST_P(SwitchesLevelAndVersionReadAsAbsentAndAreReported, Case) {
  const SwitchesLevelAndVersionReadAsAbsentAndAreReportedCase& c = GetParam();
  SCOPED_TRACE(c.name);
  SeedPolicy(kPolicyRoot, kVerifiedRoot, Options(6, 0, 0), Dword("ACUserStandByIdleTime", 25));
  c.arrange();

  // The logon tool's pass, whose backup key a limited user may write.
  RunPass(kLogonPass);

  EXPECT_EQ(LogText(), Lines(c.lines));
  c.check();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SwitchesLevelAndVersionReadAsAbsentAndAreReported,
    ::testing::ValuesIn(SwitchesLevelAndVersionReadAsAbsentAndAreReported::Cases()), CaseName());

// Without a log the reports go nowhere, like every other line.
TEST_F(MistypedPolicyTest, NothingIsReportedWhenTheLogIsOff) {
  SeedPolicy(kPolicyRoot, kVerifiedRoot, "\"Log\"=dword:00000000\n\"LogFile\"=\"LOGFILE\"\n",
             Dword("DCUserMonIdleTime", 7));
  Store("Simple", "ACUserMonIdleTime", REG_SZ, std::string("5\0", 2));

  RunPass();

  EXPECT_EQ(LogText(), "<no file>");
  EXPECT_TRUE(SchemeUnchanged());
}

}  // namespace
