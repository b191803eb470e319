// The setting table against what is written elsewhere of it: its texts, which administrators'
// scripts and the guide rely on, byte for byte (every other test takes them from the table); and
// the fuzzing dictionary, which must hold every policy value for the fuzzer to find it.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <string>

#include "SettingTable.h"

namespace {

struct Texts {
  const char* policyValue;
  const char* snapshotCurrent;
  const char* snapshotPolicy;
  const char* serviceAnnouncement;
  const char* logonAnnouncement;
  const char* successLine;
  const char* setter;
};

std::string Or(const char* text) { return text != nullptr ? text : "(none)"; }

// In the order a pass processes them.
// clang-format off
const Texts kExpected[] = {
    {"ACUserMonIdleTime", "CurACUserVideoTimeout", "ACUserVideoTimeoutPolicy",
     ".Default User Video Timeout will be changed", "User Video Timeout will be changed",
     "SetUserAcVideoTimeOut() Succeded", "SetUserAcVideoTimeOut"},
    {"ACUserStandByIdleTime", "CurACUserStandbyTimeout", "ACUserStandbyTimeoutPolicy",
     ".Default User System Standby will be changed", "User System Standby will be changed",
     "SetUserAcStandbyTimeOut() Succeded", "SetUserAcStandbyTimeOut"},
    {"ACMachHibernateIdleTime", "CurACMachHibernateTimeout", "ACMachHibernateTimeoutPolicy",
     "Machine Hibernation will be changed", "Machine Hibernation will be changed",
     "SetMachAcHibernateTimeOut() Succeded", "SetMachAcHibernateTimeOut"},
    {"DCUserMonIdleTime", "CurDCUserVideoTimeout", "DCUserVideoTimeoutPolicy",
     ".Default User DC Video Timeout will be changed",
     ".Default User DC Video Timeout will be changed",
     "SetUserDcVideoTimeOut() Succeded", "SetUserDcVideoTimeOut"},
    {"DCUserStandByIdleTime", "CurDCUserStandbyTimeout", "DCUserStandbyTimeoutPolicy",
     ".Default User DC System Standby will be changed",
     ".Default User DC System Standby will be changed",
     "SetUserDcStandbyTimeOut() Succeded", "SetUserDcStandbyTimeOut"},
    {"DCMachHibernateIdleTime", "CurDCMachHibernateTimeout", "DCMachHibernateTimeoutPolicy",
     ".Default DC Machine Hibernation will be changed",
     ".Default DC Machine Hibernation will be changed",
     "SetMachDcHibernateTimeOut() Succeded", "SetMachDcHibernateTimeOut"},
    {"ACUserHDDspindownIdleTime", nullptr, nullptr,
     ".Default User Disk Spindown Timeout will be changed",
     "User Disk Spindown Timeout will be changed",
     "SetUserAcSpinDownTimeOut() Succeded", "SetUserAcSpinDownTimeOut"},
    {"DCUserHDDspindownIdleTime", nullptr, nullptr,
     ".Default User DC Disk Spindown Timeout will be changed",
     "User DC Disk Spindown Timeout will be changed",
     "SetUserDcSpinDownTimeOut() Succeded", "SetUserDcSpinDownTimeOut"},
};
// clang-format on

TEST(SettingTableTest, HoldsTheSystemsOwnTexts) {
  ASSERT_EQ(std::size(kExpected), kSettingCount);
  for (size_t i = 0; i < kSettingCount; ++i) {
    const Setting& row = kSettings[i];
    const Texts& expected = kExpected[i];
    SCOPED_TRACE(expected.policyValue);
    EXPECT_STREQ(expected.policyValue, row.policyValue);
    EXPECT_EQ(Or(expected.snapshotCurrent), Or(row.snapshotCurrent));
    EXPECT_EQ(Or(expected.snapshotPolicy), Or(row.snapshotPolicy));
    EXPECT_STREQ(expected.serviceAnnouncement, row.serviceAnnouncement);
    EXPECT_STREQ(expected.logonAnnouncement, row.logonAnnouncement);
    EXPECT_STREQ(expected.successLine, row.successLine);
    EXPECT_STREQ(expected.setter, row.setter);
  }
}

// Each time-out once: two rows of one time-out would enforce it twice, and under two names.
TEST(SettingTableTest, NamesEachTimeOutOnce) {
  std::set<std::pair<Timeout, PowerSource>> ids;
  std::set<std::string> names;
  for (const Setting& row : kSettings) {
    SCOPED_TRACE(row.policyValue);
    EXPECT_TRUE(ids.insert({row.id.timeout, row.id.source}).second);
    EXPECT_NE(row.id.timeout, Timeout::kMachineStandby) << "no policy value enforces it";
    for (const char* name : {row.policyValue, row.snapshotCurrent, row.snapshotPolicy}) {
      if (name != nullptr) {
        EXPECT_TRUE(names.insert(name).second) << name;
      }
    }
  }
}

TEST(SettingTableTest, TheFuzzingDictionaryHoldsEveryPolicyValue) {
  std::ifstream dictionary(PM_FUZZ_DICTIONARY);
  ASSERT_TRUE(dictionary) << PM_FUZZ_DICTIONARY;
  std::set<std::string> tokens;
  for (std::string line; std::getline(dictionary, line);) tokens.insert(line);
  for (const Setting& row : kSettings) {
    EXPECT_EQ(1u, tokens.count(std::string("\"") + row.policyValue + "\""))
        << PM_FUZZ_DICTIONARY << " lacks the line \"" << row.policyValue << "\"";
  }
}

}  // namespace
