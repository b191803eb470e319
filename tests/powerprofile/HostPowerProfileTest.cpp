// What only the host stand-in can show about the power profile: a limited user, injected
// failures, which calls are recorded, and the default-scheme fixture loaded through the
// stand-in's .reg import.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "CurrentSchemeStore.h"
#include "HostControl.h"
#include "SchemeStore.h"
#include "Win32Api.h"

using namespace scheme_store;

namespace {

class HostPowerProfile : public testing::Test {
 protected:
  void SetUp() override {
    host::Reset();
    host::SetDebugEcho(false);
  }
  void TearDown() override { host::Reset(); }
};

TEST_F(HostPowerProfile, ALimitedUserMayNotWriteAndLeavesNothingBehind) {
  POWER_POLICY stored = SamplePolicy(1);
  SeedScheme(2, stored);
  host::SetLimitedUser(true);
  const std::string before = host::ExportRegText();

  SetLastError(0);
  EXPECT_EQ(0, CanUserWritePwrScheme());
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());

  wchar_t name[] = L"Renamed";
  for (UINT target : {2u, 3u}) {
    SCOPED_TRACE("scheme " + std::to_string(target));
    POWER_POLICY changed = SamplePolicy(50);
    UINT id = target;
    SetLastError(0);
    EXPECT_EQ(0, WritePwrScheme(&id, name, name, &changed));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
  }
  EXPECT_EQ(before, host::ExportRegText()) << "a refused write changed the registry";
  EXPECT_EQ(0u, host::OpenKeyCount());

  // Reading and choosing the active scheme need no write access to the machine hive.
  POWER_POLICY read;
  ASSERT_EQ(1, ReadPwrScheme(2, &read));
  EXPECT_EQ(0, std::memcmp(&stored, &read, sizeof read));
  EXPECT_EQ(1, SetActivePwrScheme(2, nullptr, &read));
}

TEST_F(HostPowerProfile, AskingForTheWriteRightCreatesNoKey) {
  ASSERT_FALSE(host::KeyExists(HKEY_LOCAL_MACHINE, kMachinePowerCfg));
  const std::string empty = host::ExportRegText();
  EXPECT_EQ(1, CanUserWritePwrScheme());
  host::SetLimitedUser(true);
  EXPECT_EQ(0, CanUserWritePwrScheme());
  EXPECT_EQ(empty, host::ExportRegText());
  EXPECT_EQ(0u, host::OpenKeyCount());

  // Once the key exists it is the key itself that is asked.
  host::SetLimitedUser(false);
  host::WriteDword(HKEY_LOCAL_MACHINE, kMachinePowerCfg, "Marker", 1);
  EXPECT_EQ(1, CanUserWritePwrScheme());
  host::SetLimitedUser(true);
  EXPECT_EQ(0, CanUserWritePwrScheme());
}

// Each export, called so that it would succeed, with what it must leave unchanged.
struct PowerCall {
  host::FailableFunction function;
  std::function<BOOLEAN()> call;
};

BOOLEAN CALLBACK EachScheme(UINT, DWORD, LPWSTR, DWORD, LPWSTR, PPOWER_POLICY, LPARAM) {
  return TRUE;
}

std::vector<PowerCall> PowerCalls(POWER_POLICY* policy, UINT* id, UINT* active,
                                  SYSTEM_POWER_CAPABILITIES* caps) {
  static wchar_t name[] = L"Scheme";
  return {
      {host::gated::GetPwrCapabilities, [=] { return GetPwrCapabilities(caps); }},
      {host::gated::GetActivePwrScheme, [=] { return GetActivePwrScheme(active); }},
      {host::gated::IsPwrHibernateAllowed, [] { return IsPwrHibernateAllowed(); }},
      {host::gated::CanUserWritePwrScheme, [] { return CanUserWritePwrScheme(); }},
      {host::gated::ReadPwrScheme, [=] { return ReadPwrScheme(1, policy); }},
      {host::gated::WritePwrScheme, [=] { return WritePwrScheme(id, name, nullptr, policy); }},
      {host::gated::SetActivePwrScheme, [=] { return SetActivePwrScheme(1, nullptr, policy); }},
      {host::gated::EnumPwrSchemes, [] { return EnumPwrSchemes(&EachScheme, 0); }},
  };
}

TEST_F(HostPowerProfile, AnInjectedFailureFailsTheCallAndChangesNothing) {
  POWER_POLICY policy = SamplePolicy(3);
  UINT id = 4;
  UINT active = 0;
  SYSTEM_POWER_CAPABILITIES caps;
  for (const PowerCall& c : PowerCalls(&policy, &id, &active, &caps)) {
    SCOPED_TRACE(c.function.name);
    host::Reset();
    SeedScheme(1, SamplePolicy(1));
    host::WriteString(HKEY_CURRENT_USER, kUserPowerCfg, "CurrentPowerPolicy", "1");
    const std::string registry = host::ExportRegText();
    policy = SamplePolicy(3);
    active = 0xABCD;
    std::memset(&caps, 0xEE, sizeof caps);

    host::FailCall(c.function, 1, ERROR_GEN_FAILURE);
    SetLastError(0);
    EXPECT_EQ(0, c.call());
    EXPECT_EQ(static_cast<DWORD>(ERROR_GEN_FAILURE), GetLastError());
    EXPECT_EQ(registry, host::ExportRegText());
    POWER_POLICY untouched = SamplePolicy(3);
    EXPECT_EQ(0, std::memcmp(&untouched, &policy, sizeof policy));
    EXPECT_EQ(0xABCDu, active);
    EXPECT_EQ(0xEE, caps.SystemS3);

    EXPECT_EQ(1, c.call()) << "the failure was injected once only";
  }
}

TEST_F(HostPowerProfile, OnlyThePowerCallsThemselvesAreRecorded) {
  POWER_POLICY policy = SamplePolicy(3);
  UINT id = 1;
  UINT active = 0;
  SYSTEM_POWER_CAPABILITIES caps;
  SeedScheme(1, policy);
  host::WriteString(HKEY_CURRENT_USER, kUserPowerCfg, "CurrentPowerPolicy", "1");
  host::ClearCalls();

  std::vector<std::string> expected;
  for (const PowerCall& c : PowerCalls(&policy, &id, &active, &caps)) {
    EXPECT_EQ(1, c.call()) << c.function.name;
    expected.push_back(c.function.name);
  }
  EXPECT_EQ(expected, host::Calls());
}

// A host program whose registry file cannot be saved must not take a scheme for written or
// activated: both calls fail with the reason the save failed.
TEST_F(HostPowerProfile, WritingOrActivatingFailsWhenTheRegistryFileCannotBeSaved) {
  SeedScheme(1, SamplePolicy(1));
  SeedScheme(2, SamplePolicy(2));
  host::WriteString(HKEY_CURRENT_USER, kUserPowerCfg, "CurrentPowerPolicy", "1");
  const std::string file = "/tmp/dorvane-powerprofile-" + std::to_string(getpid()) + ".reg";
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << host::ExportRegText();
  }
  ASSERT_EQ(0, chmod(file.c_str(), 0444));  // read-only: loaded, never written
  setenv(host::kRegistryFileVariable, file.c_str(), 1);
  testing::internal::CaptureStderr();

  POWER_POLICY changed = SamplePolicy(50);
  UINT id = 2;
  wchar_t name[] = L"Second";
  SetLastError(0);
  EXPECT_EQ(0, WritePwrScheme(&id, name, nullptr, &changed));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
  SetLastError(0);
  EXPECT_EQ(0, SetActivePwrScheme(2, nullptr, &changed));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());

  testing::internal::GetCapturedStderr();
  unsetenv(host::kRegistryFileVariable);
  std::remove(file.c_str());
}

TEST_F(HostPowerProfile, TheCapabilityControlSetsWhatGetPwrCapabilitiesReports) {
  SYSTEM_POWER_CAPABILITIES laptop = host::DefaultCapabilities();
  laptop.SystemS3 = 0;
  laptop.HiberFilePresent = 0;
  laptop.LidPresent = 1;
  laptop.SystemBatteriesPresent = 1;
  host::SetCapabilities(laptop);

  SYSTEM_POWER_CAPABILITIES caps;
  ASSERT_EQ(1, GetPwrCapabilities(&caps));
  EXPECT_EQ(BytesOf(laptop), BytesOf(caps));
  EXPECT_EQ(0, IsPwrHibernateAllowed());

  host::Reset();
  ASSERT_EQ(1, GetPwrCapabilities(&caps));
  EXPECT_EQ(BytesOf(host::DefaultCapabilities()), BytesOf(caps));
}

TEST(DefaultSchemes, TheFixtureHoldsWindowsXpsSixSchemesWithTheFirstActive) {
  host::Reset();
  std::string error;
  ASSERT_TRUE(host::ImportRegFile(PM_FIXTURES_DIR "/default-schemes.reg", &error)) << error;

  UINT active = 0xABCD;
  ASSERT_EQ(1, GetActivePwrScheme(&active));
  EXPECT_EQ(0u, active);

  struct Scheme {
    const char* name;
    ULONG monitor[2], standby[2], disk[2];
  };
  const Scheme schemes[] = {
      {"Home/Office Desk", {1200, 300}, {0, 300}, {0, 600}},
      {"Portable/Laptop", {900, 300}, {1200, 300}, {1800, 300}},
      {"Presentation", {0, 0}, {0, 900}, {0, 300}},
      {"Always On", {1200, 900}, {0, 0}, {0, 1800}},
      {"Minimal Power Management", {900, 300}, {0, 300}, {0, 900}},
      {"Max Battery", {900, 60}, {1200, 120}, {0, 180}},
  };
  for (UINT id = 0; id < 6; ++id) {
    const Scheme& s = schemes[id];
    SCOPED_TRACE(s.name);
    POWER_POLICY p;
    ASSERT_EQ(1, ReadPwrScheme(id, &p));
    EXPECT_EQ(s.name, GetText(HKEY_CURRENT_USER, UserKey(id), "Name"));
    EXPECT_NE("<absent>", GetText(HKEY_CURRENT_USER, UserKey(id), "Description"));
    EXPECT_EQ(1u, p.user.Revision);
    EXPECT_EQ(1u, p.mach.Revision);
    EXPECT_EQ(s.monitor[0], p.user.VideoTimeoutAc);
    EXPECT_EQ(s.monitor[1], p.user.VideoTimeoutDc);
    EXPECT_EQ(s.standby[0], p.user.IdleTimeoutAc);
    EXPECT_EQ(s.standby[1], p.user.IdleTimeoutDc);
    EXPECT_EQ(s.disk[0], p.user.SpindownTimeoutAc);
    EXPECT_EQ(s.disk[1], p.user.SpindownTimeoutDc);
    EXPECT_EQ(s.standby[0] ? PowerActionSleep : PowerActionNone, p.user.IdleAc.Action);
    EXPECT_EQ(s.standby[1] ? PowerActionSleep : PowerActionNone, p.user.IdleDc.Action);
    EXPECT_EQ(PowerSystemSleeping3, p.user.MaxSleepAc);
    EXPECT_EQ(PowerSystemSleeping1, p.mach.MinSleepAc);
    EXPECT_EQ(0u, p.mach.DozeTimeoutAc + p.mach.DozeTimeoutDc);
    EXPECT_EQ(0u, p.mach.DozeS4TimeoutAc + p.mach.DozeS4TimeoutDc);
  }
  POWER_POLICY p;
  EXPECT_EQ(0, ReadPwrScheme(6, &p));
}

// ---- The machine kinds and the current functions ---------------------------------------

using ReadIndex = DWORD(WINAPI*)(HKEY, const GUID*, const GUID*, const GUID*, LPDWORD);
using WriteIndex = DWORD(WINAPI*)(HKEY, const GUID*, const GUID*, const GUID*, DWORD);

template <typename Function>
Function Find(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

const std::vector<const char*> kLegacyNames = {
    "CanUserWritePwrScheme", "EnumPwrSchemes",     "GetActivePwrScheme", "IsPwrHibernateAllowed",
    "ReadPwrScheme",         "SetActivePwrScheme", "WritePwrScheme"};
const std::vector<const char*> kCurrentNames = {"PowerGetActiveScheme",   "PowerReadACValueIndex",
                                                "PowerReadDCValueIndex",  "PowerWriteACValueIndex",
                                                "PowerWriteDCValueIndex", "PowerSetActiveScheme",
                                                "PowerSettingAccessCheck"};

// Every machine that has powrprof.dll exports GetPwrCapabilities; the scheme functions are the
// machine's own.
TEST_F(HostPowerProfile, EachMachineKindExportsItsOwnFunctions) {
  const struct {
    host::PowerMachine machine;
    bool legacy;
    bool current;
  } kMachines[] = {
      {host::PowerMachine::kLegacyOnly, true, false},
      {host::PowerMachine::kCurrent, true, true},
      {host::PowerMachine::kCurrentWithoutLegacy, false, true},
  };
  for (const auto& m : kMachines) {
    SCOPED_TRACE(static_cast<int>(m.machine));
    host::SetPowerMachine(m.machine);
    for (const char* name : {"powrprof.dll", "POWRPROF.DLL", "powrprof"}) {
      HMODULE module = LoadLibraryA(name);
      ASSERT_NE(nullptr, module) << name;
      EXPECT_NE(nullptr, Find<FARPROC>(module, "GetPwrCapabilities"));
      for (const auto& [names, exported] :
           {std::pair{&kLegacyNames, m.legacy}, std::pair{&kCurrentNames, m.current}}) {
        for (const char* function : *names) {
          SetLastError(0);
          EXPECT_EQ(exported, Find<FARPROC>(module, function) != nullptr) << function;
          if (!exported) {
            EXPECT_EQ(DWORD{ERROR_PROC_NOT_FOUND}, GetLastError());
          }
        }
      }
      EXPECT_EQ(nullptr, Find<FARPROC>(module, "powergetactivescheme")) << "names are exact";
      EXPECT_EQ(1u, host::LoadedLibraryCount());
      EXPECT_EQ(TRUE, FreeLibrary(module));
      EXPECT_EQ(0u, host::LoadedLibraryCount());
      EXPECT_EQ(nullptr, Find<FARPROC>(module, "GetPwrCapabilities")) << "after FreeLibrary";
    }
    SetLastError(0);
    EXPECT_EQ(nullptr, LoadLibraryA("user32.dll"));
    EXPECT_EQ(DWORD{ERROR_MOD_NOT_FOUND}, GetLastError());
  }

  // A machine without powrprof.dll loads none.
  host::SetPowerMachine(host::PowerMachine::kWithoutPowrprof);
  SetLastError(0);
  EXPECT_EQ(nullptr, LoadLibraryA("powrprof.dll"));
  EXPECT_EQ(DWORD{ERROR_MOD_NOT_FOUND}, GetLastError());
  EXPECT_EQ(0u, host::LoadedLibraryCount());
}

TEST_F(HostPowerProfile, OnACurrentMachineTheLegacySchemeFunctionsFail) {
  POWER_POLICY policy = SamplePolicy(1);
  SeedScheme(1, policy);
  host::WriteString(HKEY_CURRENT_USER, kUserPowerCfg, "CurrentPowerPolicy", "1");
  host::SetPowerMachine(host::PowerMachine::kCurrent);
  UINT id = 1;
  UINT active = 0;
  SYSTEM_POWER_CAPABILITIES caps;
  const std::string before = host::ExportRegText();

  for (const PowerCall& c : PowerCalls(&policy, &id, &active, &caps)) {
    SetLastError(0);
    if (std::string(c.function.name) == "GetPwrCapabilities") {
      EXPECT_EQ(1, c.call()) << "GetPwrCapabilities is current too";
      continue;
    }
    EXPECT_EQ(0, c.call()) << c.function.name;
    EXPECT_EQ(DWORD{ERROR_CALL_NOT_IMPLEMENTED}, GetLastError()) << c.function.name;
  }
  EXPECT_EQ(before, host::ExportRegText());
}

TEST_F(HostPowerProfile, OnACurrentMachineALimitedUserMayReadButNotChange) {
  std::string error;
  ASSERT_TRUE(host::ImportRegFile(PM_FIXTURES_DIR "/current-default-schemes.reg", &error)) << error;
  host::SetPowerMachine(host::PowerMachine::kCurrent);
  host::SetLimitedUser(true);
  HMODULE powrprof = LoadLibraryA("powrprof.dll");
  const GUID& balanced = current_store::kBalancedGuid;
  const GUID& video = current_store::kVideoIdle.subgroupGuid;
  const GUID& displayOff = current_store::kVideoIdle.settingGuid;
  const std::string before = host::ExportRegText();

  DWORD value = 0;
  EXPECT_EQ(DWORD{ERROR_SUCCESS}, Find<ReadIndex>(powrprof, "PowerReadACValueIndex")(
                                      nullptr, &balanced, &video, &displayOff, &value));
  EXPECT_EQ(600u, value);
  auto check =
      Find<DWORD(WINAPI*)(POWER_DATA_ACCESSOR, const GUID*)>(powrprof, "PowerSettingAccessCheck");
  EXPECT_EQ(DWORD{ERROR_ACCESS_DENIED}, check(ACCESS_ACTIVE_SCHEME, nullptr));
  EXPECT_EQ(DWORD{ERROR_ACCESS_DENIED}, check(ACCESS_AC_POWER_SETTING_INDEX, &displayOff));
  EXPECT_EQ(DWORD{ERROR_ACCESS_DENIED}, Find<WriteIndex>(powrprof, "PowerWriteACValueIndex")(
                                            nullptr, &balanced, &video, &displayOff, 60));
  EXPECT_EQ(DWORD{ERROR_ACCESS_DENIED}, Find<DWORD(WINAPI*)(HKEY, const GUID*)>(
                                            powrprof, "PowerSetActiveScheme")(nullptr, &balanced));
  EXPECT_EQ(before, host::ExportRegText());
  EXPECT_EQ(0u, host::OpenKeyCount());
}

// A failed call is recorded like any other, answers the injected error and leaves its output
// alone; the stand-in's own registry calls and allocations are not recorded.
TEST_F(HostPowerProfile, CurrentCallsAreRecordedAndFailableLikeAnyOther) {
  std::string error;
  ASSERT_TRUE(host::ImportRegFile(PM_FIXTURES_DIR "/current-default-schemes.reg", &error)) << error;
  host::SetPowerMachine(host::PowerMachine::kCurrent);
  HMODULE powrprof = LoadLibraryA("powrprof.dll");
  auto getActive = Find<DWORD(WINAPI*)(HKEY, GUID**)>(powrprof, "PowerGetActiveScheme");
  host::ClearCalls();

  host::FailCall(host::gated::PowerGetActiveScheme, 1, ERROR_GEN_FAILURE);
  GUID sentinel;
  GUID* active = &sentinel;
  EXPECT_EQ(DWORD{ERROR_GEN_FAILURE}, getActive(nullptr, &active));
  EXPECT_EQ(&sentinel, active);
  ASSERT_EQ(DWORD{ERROR_SUCCESS}, getActive(nullptr, &active));
  EXPECT_EQ(1u, host::LocalBlockCount());
  EXPECT_EQ(nullptr, LocalFree(active));
  EXPECT_EQ(0u, host::LocalBlockCount());
  EXPECT_EQ((std::vector<std::string>{"PowerGetActiveScheme", "PowerGetActiveScheme", "LocalFree"}),
            host::Calls());
}

TEST(CurrentDefaultSchemes, TheFixtureHoldsWindows10sThreePlansWithBalancedActive) {
  host::Reset();
  std::string error;
  ASSERT_TRUE(host::ImportRegFile(PM_FIXTURES_DIR "/current-default-schemes.reg", &error)) << error;
  host::SetPowerMachine(host::PowerMachine::kCurrent);
  HMODULE powrprof = LoadLibraryA("powrprof.dll");
  auto getActive = Find<DWORD(WINAPI*)(HKEY, GUID**)>(powrprof, "PowerGetActiveScheme");
  auto readAc = Find<ReadIndex>(powrprof, "PowerReadACValueIndex");
  auto readDc = Find<ReadIndex>(powrprof, "PowerReadDCValueIndex");

  const GUID& balanced = current_store::kBalancedGuid;
  GUID* active = nullptr;
  ASSERT_EQ(DWORD{ERROR_SUCCESS}, getActive(nullptr, &active));
  EXPECT_EQ(0, std::memcmp(active, &balanced, sizeof balanced));
  LocalFree(active);

  struct Plan {
    const char* name;
    GUID guid;
    DWORD display[2], standby[2], hibernate[2], disk[2];
  };
  const Plan plans[] = {
      {"Balanced", balanced, {600, 300}, {1800, 900}, {10800, 10800}, {1200, 600}},
      {"High performance",
       current_store::kHighPerformanceGuid,
       {900, 600},
       {0, 3600},
       {0, 10800},
       {1200, 600}},
      {"Power saver",
       current_store::kPowerSaverGuid,
       {300, 120},
       {900, 600},
       {10800, 10800},
       {1200, 300}},
  };
  for (const Plan& p : plans) {
    SCOPED_TRACE(p.name);
    const struct {
      const current_store::Setting& setting;
      const DWORD* expected;
    } settings[] = {{current_store::kVideoIdle, p.display},
                    {current_store::kStandbyIdle, p.standby},
                    {current_store::kHibernateIdle, p.hibernate},
                    {current_store::kDiskIdle, p.disk}};
    for (const auto& s : settings) {
      const GUID& subgroup = s.setting.subgroupGuid;
      const GUID& setting = s.setting.settingGuid;
      DWORD ac = 7, dc = 7;
      ASSERT_EQ(DWORD{ERROR_SUCCESS}, readAc(nullptr, &p.guid, &subgroup, &setting, &ac));
      ASSERT_EQ(DWORD{ERROR_SUCCESS}, readDc(nullptr, &p.guid, &subgroup, &setting, &dc));
      EXPECT_EQ(s.expected[0], ac);
      EXPECT_EQ(s.expected[1], dc);
    }
  }
  host::Reset();
}

}  // namespace
