// The current power-scheme functions as the system relies on them, written once and run on both
// sides: against the host stand-in made a current machine, and under Wine against the current
// machine's powrprof.dll. The functions are looked up with GetProcAddress, as the system does.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "CurrentSchemeStore.h"
#include "SchemeStore.h"
#include "Win32Api.h"

#ifndef _WIN32
#include "HostControl.h"
#endif

using namespace current_store;

namespace {

// The record of the power policy in force, as the SDK lays it out: the host's declaration and
// MinGW-w64's are both held to it here.
static_assert(offsetof(SYSTEM_POWER_POLICY, Idle) == 48, "Idle");
static_assert(offsetof(SYSTEM_POWER_POLICY, IdleTimeout) == 60, "IdleTimeout");
static_assert(offsetof(SYSTEM_POWER_POLICY, DozeS4Timeout) == 88, "DozeS4Timeout");
static_assert(offsetof(SYSTEM_POWER_POLICY, VideoTimeout) == 192, "VideoTimeout");
static_assert(offsetof(SYSTEM_POWER_POLICY, SpindownTimeout) == 212, "SpindownTimeout");
static_assert(sizeof(SYSTEM_POWER_POLICY) == 232, "SYSTEM_POWER_POLICY");
static_assert(SystemPowerPolicyAc == 0 && SystemPowerPolicyDc == 1, "information levels");

using ReadIndex = DWORD(WINAPI*)(HKEY, const GUID*, const GUID*, const GUID*, LPDWORD);
using WriteIndex = DWORD(WINAPI*)(HKEY, const GUID*, const GUID*, const GUID*, DWORD);

struct Functions {
  DWORD(WINAPI* getActiveScheme)(HKEY, GUID**) = nullptr;
  ReadIndex readAc = nullptr;
  ReadIndex readDc = nullptr;
  WriteIndex writeAc = nullptr;
  WriteIndex writeDc = nullptr;
  DWORD(WINAPI* setActiveScheme)(HKEY, const GUID*) = nullptr;
  DWORD(WINAPI* accessCheck)(POWER_DATA_ACCESSOR, const GUID*) = nullptr;
  LONG(WINAPI* powerInformation)(POWER_INFORMATION_LEVEL, PVOID, ULONG, PVOID, ULONG) = nullptr;
};

template <typename Function>
void Find(HMODULE module, const char* name, Function* slot) {
  *slot = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

Functions fn;

// The scratch setting, as the functions name it.
const GUID& kSubgroup = kScratch.subgroupGuid;
const GUID& kSetting = kScratch.settingGuid;

// Makes the machine a current one (on the host) and finds the functions. Under Wine, Wine's own
// powrprof.dll has no PowerReadACValueIndex: if it was loaded instead of ours, say so once.
class CurrentMachine : public testing::Environment {
 public:
  void SetUp() override {
#ifndef _WIN32
    host::Reset();
    host::SetPowerMachine(host::PowerMachine::kCurrent);
#endif
    HMODULE powrprof = LoadLibraryA("powrprof.dll");
    ASSERT_NE(nullptr, powrprof);
    Find(powrprof, "PowerGetActiveScheme", &fn.getActiveScheme);
    Find(powrprof, "PowerReadACValueIndex", &fn.readAc);
    Find(powrprof, "PowerReadDCValueIndex", &fn.readDc);
    Find(powrprof, "PowerWriteACValueIndex", &fn.writeAc);
    Find(powrprof, "PowerWriteDCValueIndex", &fn.writeDc);
    Find(powrprof, "PowerSetActiveScheme", &fn.setActiveScheme);
    Find(powrprof, "PowerSettingAccessCheck", &fn.accessCheck);
    Find(powrprof, "CallNtPowerInformation", &fn.powerInformation);
    ASSERT_TRUE(fn.getActiveScheme && fn.readAc && fn.readDc && fn.writeAc && fn.writeDc &&
                fn.setActiveScheme && fn.accessCheck && fn.powerInformation)
        << "powrprof.dll lacks a current function: the current machine's stand-in is not the "
           "one loaded (under Wine: platform/current/powrprof.dll must be beside the program "
           "and WINEDLLOVERRIDES=powrprof=n,b set).";
  }
};
testing::Environment* const kCurrentMachine = testing::AddGlobalTestEnvironment(new CurrentMachine);

class CurrentPowerProfile : public testing::Test {
 protected:
  void SetUp() override { WipeScratch(); }
  void TearDown() override { WipeScratch(); }

  static DWORD Read(bool ac, const GUID& scheme, DWORD* value) {
    return (ac ? fn.readAc : fn.readDc)(nullptr, &scheme, &kSubgroup, &kSetting, value);
  }
  static DWORD Write(bool ac, const GUID& scheme, DWORD value) {
    return (ac ? fn.writeAc : fn.writeDc)(nullptr, &scheme, &kSubgroup, &kSetting, value);
  }
};

TEST_F(CurrentPowerProfile, ASchemeReadsItsOwnValueElseItsDefault) {
  SeedScheme(kSchemeA);
  SeedScratchSetting(600, 300);
  SetDword(OwnValueKey(kSchemeA, kScratch), kAcValue, 900);

  DWORD value = 7;
  ASSERT_EQ(DWORD{ERROR_SUCCESS}, Read(true, kSchemeAGuid, &value));
  EXPECT_EQ(900u, value);
  ASSERT_EQ(DWORD{ERROR_SUCCESS}, Read(false, kSchemeAGuid, &value));
  EXPECT_EQ(300u, value);
}

TEST_F(CurrentPowerProfile, AValueThatIsNotThereOrNotANumberIsAnErrorAndLeavesTheOutputAlone) {
  const struct {
    const char* what;
    void (*arrange)();
    DWORD error;
  } cases[] = {
      {"no such scheme", [] { SeedScratchSetting(600, 300); }, ERROR_FILE_NOT_FOUND},
      {"no value and no default", [] { SeedScheme(kSchemeA); }, ERROR_FILE_NOT_FOUND},
      {"a default for another scheme only",
       [] {
         SeedScheme(kSchemeA);
         SetDword(DefaultValueKey(kSchemeB, kScratch), kAcValue, 5);
       },
       ERROR_FILE_NOT_FOUND},
      {"own value of another type",
       [] {
         SeedScheme(kSchemeA);
         SeedScratchSetting(600, 300);
         scheme_store::SetValue(HKEY_LOCAL_MACHINE, OwnValueKey(kSchemeA, kScratch), kAcValue,
                                REG_SZ, scheme_store::TextBytes("900"));
       },
       ERROR_INVALID_DATA},
      {"own value of eight bytes",
       [] {
         SeedScheme(kSchemeA);
         scheme_store::SetValue(HKEY_LOCAL_MACHINE, OwnValueKey(kSchemeA, kScratch), kAcValue,
                                REG_BINARY, Bytes(8, 1));
       },
       ERROR_INVALID_DATA},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WipeScratch();
    c.arrange();
    DWORD value = 7;
    EXPECT_EQ(c.error, Read(true, kSchemeAGuid, &value));
    EXPECT_EQ(7u, value);
  }
}

TEST_F(CurrentPowerProfile, AWriteStoresTheSchemesOwnValueAndKeepsTheDefault) {
  SeedScheme(kSchemeA);
  SeedScheme(kSchemeB);
  SeedScratchSetting(600, 300);

  ASSERT_EQ(DWORD{ERROR_SUCCESS}, Write(true, kSchemeAGuid, 1200));

  EXPECT_EQ(DwordBytes(1200), ValueAt(OwnValueKey(kSchemeA, kScratch), kAcValue));
  DWORD type = REG_NONE;
  Bytes data;
  ASSERT_TRUE(scheme_store::GetValue(HKEY_LOCAL_MACHINE, OwnValueKey(kSchemeA, kScratch), kAcValue,
                                     &type, &data));
  EXPECT_EQ(DWORD{REG_DWORD}, type);
  EXPECT_EQ(DwordBytes(600), ValueAt(DefaultValueKey(kSchemeA, kScratch), kAcValue));
  EXPECT_EQ(Bytes{}, ValueAt(OwnValueKey(kSchemeA, kScratch), kDcValue));
  EXPECT_FALSE(scheme_store::KeyExists(HKEY_LOCAL_MACHINE, OwnValueKey(kSchemeB, kScratch)));
  DWORD value = 0;
  ASSERT_EQ(DWORD{ERROR_SUCCESS}, Read(true, kSchemeAGuid, &value));
  EXPECT_EQ(1200u, value);
  ASSERT_EQ(DWORD{ERROR_SUCCESS}, Read(false, kSchemeAGuid, &value));
  EXPECT_EQ(300u, value);

  ASSERT_EQ(DWORD{ERROR_SUCCESS}, Write(false, kSchemeAGuid, 0));
  EXPECT_EQ(DwordBytes(0), ValueAt(OwnValueKey(kSchemeA, kScratch), kDcValue));
}

TEST_F(CurrentPowerProfile, AWriteToAnUnknownSchemeOrSettingCreatesNothing) {
  SeedScheme(kSchemeA);
  EXPECT_EQ(DWORD{ERROR_FILE_NOT_FOUND}, Write(true, kSchemeAGuid, 60)) << "unknown setting";
  SeedScratchSetting(600, 300);
  EXPECT_EQ(DWORD{ERROR_FILE_NOT_FOUND}, Write(true, kSchemeBGuid, 60)) << "unknown scheme";
  EXPECT_FALSE(scheme_store::KeyExists(HKEY_LOCAL_MACHINE, OwnValueKey(kSchemeA, kScratch)));
  EXPECT_FALSE(scheme_store::KeyExists(HKEY_LOCAL_MACHINE, SchemeKey(kSchemeB)));
}

TEST_F(CurrentPowerProfile, ASideThatGroupPolicyHoldsRefusesWritesAndSaysSo) {
  SeedScheme(kSchemeA);
  SeedScratchSetting(600, 300);
  SetDword(PolicyKey(kScratch), kAcValue, 120);

  EXPECT_EQ(DWORD{ERROR_ACCESS_DISABLED_BY_POLICY}, Write(true, kSchemeAGuid, 60));
  EXPECT_EQ(Bytes{}, ValueAt(OwnValueKey(kSchemeA, kScratch), kAcValue));
  EXPECT_EQ(DWORD{ERROR_ACCESS_DISABLED_BY_POLICY},
            fn.accessCheck(ACCESS_AC_POWER_SETTING_INDEX, &kSetting));

  EXPECT_EQ(DWORD{ERROR_SUCCESS}, fn.accessCheck(ACCESS_DC_POWER_SETTING_INDEX, &kSetting));
  EXPECT_EQ(DWORD{ERROR_SUCCESS}, Write(false, kSchemeAGuid, 60));
  EXPECT_EQ(DWORD{ERROR_SUCCESS}, fn.accessCheck(ACCESS_ACTIVE_SCHEME, nullptr));
}

TEST_F(CurrentPowerProfile, TheActiveSchemeComesAsAGuidToFreeWithLocalFree) {
  SeedScheme(kSchemeA);
  const char* spellings[] = {kSchemeA, "{11111111-2222-4333-8444-555566667701}"};
  for (const char* text : spellings) {
    SCOPED_TRACE(text);
    SetActiveText(text);
    GUID* active = nullptr;
    ASSERT_EQ(DWORD{ERROR_SUCCESS}, fn.getActiveScheme(nullptr, &active));
    ASSERT_NE(nullptr, active);
    EXPECT_EQ(0, std::memcmp(active, &kSchemeAGuid, sizeof kSchemeAGuid));
    EXPECT_EQ(nullptr, LocalFree(active));
  }
  SetActiveText("11111111-2222-4333-8444-5555666677AB");
  GUID* upper = nullptr;
  ASSERT_EQ(DWORD{ERROR_SUCCESS}, fn.getActiveScheme(nullptr, &upper));
  EXPECT_EQ(0xABu, upper->Data4[7]);
  LocalFree(upper);
}

TEST_F(CurrentPowerProfile, NoActiveSchemeOrNoGuidIsAnError) {
  const struct {
    const char* active;  // null: absent
    DWORD error;
  } cases[] = {
      {nullptr, ERROR_FILE_NOT_FOUND},
      {"", ERROR_INVALID_DATA},
      {"11111111-2222-4333-8444-55556666770", ERROR_INVALID_DATA},
      {"11111111-2222-4333-8444+555566667701", ERROR_INVALID_DATA},
      {"1111111g-2222-4333-8444-555566667701", ERROR_INVALID_DATA},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.active ? c.active : "<absent>");
    WipeScratch();
    SeedScheme(kSchemeA);
    if (c.active != nullptr) SetActiveText(c.active);
    GUID sentinel;
    GUID* active = &sentinel;
    EXPECT_EQ(c.error, fn.getActiveScheme(nullptr, &active));
    EXPECT_EQ(&sentinel, active);
  }
}

TEST_F(CurrentPowerProfile, ActivatingWritesTheGuidAndNeedsAnExistingScheme) {
  SeedScheme(kSchemeA);
  SetActiveText(kSchemeA);

  EXPECT_EQ(DWORD{ERROR_FILE_NOT_FOUND}, fn.setActiveScheme(nullptr, &kSchemeBGuid));
  EXPECT_EQ(kSchemeA, ActiveText());

  SeedScheme(kSchemeB);
  ASSERT_EQ(DWORD{ERROR_SUCCESS}, fn.setActiveScheme(nullptr, &kSchemeBGuid));
  EXPECT_EQ(kSchemeB, ActiveText());
}

// Windows' own power policy chooses the plan: the check on the active scheme says so, the chosen
// plan can be made active, and any other plan is refused.
TEST_F(CurrentPowerProfile, APlanChosenByPolicyLocksTheChoiceOfPlan) {
  SeedScheme(kSchemeA);
  SeedScheme(kSchemeB);
  SetActiveText(kSchemeA);
  scheme_store::SetValue(HKEY_LOCAL_MACHINE, kPolicySettings, kActiveValue, REG_SZ,
                         scheme_store::TextBytes(kSchemeA));

  EXPECT_EQ(DWORD{ERROR_ACCESS_DISABLED_BY_POLICY}, fn.accessCheck(ACCESS_ACTIVE_SCHEME, nullptr));
  EXPECT_EQ(DWORD{ERROR_SUCCESS}, fn.setActiveScheme(nullptr, &kSchemeAGuid));
  EXPECT_EQ(DWORD{ERROR_ACCESS_DISABLED_BY_POLICY}, fn.setActiveScheme(nullptr, &kSchemeBGuid));
  EXPECT_EQ(kSchemeA, ActiveText());
  EXPECT_EQ(DWORD{ERROR_SUCCESS}, fn.accessCheck(ACCESS_AC_POWER_SETTING_INDEX, &kSetting))
      << "the plan's settings are not held";
  scheme_store::DeleteValue(HKEY_LOCAL_MACHINE, kPolicySettings, kActiveValue);
}

// The policy in force on each power source: the active scheme's four idle settings, each
// replaced by what Windows' own policy holds for that side. Only reading is offered.
TEST_F(CurrentPowerProfile, ThePolicyInForceIsTheActiveSchemesWithPolicyOverrides) {
  SeedScheme(kSchemeA);
  SetActiveText(kSchemeA);
  const struct {
    const Setting* setting;
    DWORD ac, dc;
  } values[] = {{&kVideoIdle, 600, 300},
                {&kStandbyIdle, 900, 420},
                {&kHibernateIdle, 3600, 1800},
                {&kDiskIdle, 1200, 240}};
  for (const auto& v : values) {
    SetDword(OwnValueKey(kSchemeA, *v.setting), kAcValue, v.ac);
    SetDword(OwnValueKey(kSchemeA, *v.setting), kDcValue, v.dc);
  }
  SetDword(PolicyKey(kStandbyIdle), kDcValue, 60);

  SYSTEM_POWER_POLICY ac;
  SYSTEM_POWER_POLICY dc;
  std::memset(&ac, 0xA5, sizeof ac);
  std::memset(&dc, 0xA5, sizeof dc);
  ASSERT_EQ(0, fn.powerInformation(SystemPowerPolicyAc, nullptr, 0, &ac, sizeof ac));
  ASSERT_EQ(0, fn.powerInformation(SystemPowerPolicyDc, nullptr, 0, &dc, sizeof dc));
  EXPECT_EQ(
      (std::vector<DWORD>{600, 900, 3600, 1200}),
      (std::vector<DWORD>{ac.VideoTimeout, ac.IdleTimeout, ac.DozeS4Timeout, ac.SpindownTimeout}));
  EXPECT_EQ(
      (std::vector<DWORD>{300, 60, 1800, 240}),
      (std::vector<DWORD>{dc.VideoTimeout, dc.IdleTimeout, dc.DozeS4Timeout, dc.SpindownTimeout}));

  SYSTEM_POWER_POLICY untouched;
  std::memset(&untouched, 0xA5, sizeof untouched);
  const SYSTEM_POWER_POLICY before = untouched;
  EXPECT_NE(0,
            fn.powerInformation(SystemPowerPolicyAc, nullptr, 0, &untouched, sizeof untouched - 1));
  EXPECT_NE(0, fn.powerInformation(SystemPowerPolicyAc, nullptr, 0, nullptr, 0));
  EXPECT_EQ(0, std::memcmp(&before, &untouched, sizeof before));

  for (const auto& v : values) {
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, OwnValueKey(kSchemeA, *v.setting).c_str());
    const std::string own = OwnValueKey(kSchemeA, *v.setting);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, own.substr(0, own.rfind('\\')).c_str());
  }
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, PolicyKey(kStandbyIdle).c_str());
}

TEST_F(CurrentPowerProfile, TheReservedRootKeysMustBeNull) {
  SeedScheme(kSchemeA);
  SeedScratchSetting(600, 300);
  SetActiveText(kSchemeA);
  HKEY root = HKEY_LOCAL_MACHINE;
  DWORD value = 0;
  GUID* active = nullptr;
  EXPECT_EQ(DWORD{ERROR_INVALID_PARAMETER}, fn.getActiveScheme(root, &active));
  EXPECT_EQ(DWORD{ERROR_INVALID_PARAMETER},
            fn.readAc(root, &kSchemeAGuid, &kSubgroup, &kSetting, &value));
  EXPECT_EQ(DWORD{ERROR_INVALID_PARAMETER},
            fn.writeDc(root, &kSchemeAGuid, &kSubgroup, &kSetting, 1));
  EXPECT_EQ(DWORD{ERROR_INVALID_PARAMETER}, fn.setActiveScheme(root, &kSchemeAGuid));
  EXPECT_EQ(Bytes{}, ValueAt(OwnValueKey(kSchemeA, kScratch), kDcValue));
}

}  // namespace
