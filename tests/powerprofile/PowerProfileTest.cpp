// The legacy power-scheme functions as the system relies on them, written once and run on
// both sides: against the host stand-in, and under Wine against our powrprof.dll.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "SchemeStore.h"
#include "Win32Api.h"

using namespace scheme_store;

namespace {

// Wine's own powrprof answers FALSE to every scheme call. If it was loaded instead of ours
// (DLL not beside the program, or no powrprof=n,b override), say so once and run nothing.
class StandInLoaded : public testing::Environment {
 public:
  void SetUp() override {
    WipeScratch();
    POWER_POLICY written = SamplePolicy(1);
    POWER_POLICY read = SamplePolicy(2);
    UINT id = 9;
    wchar_t name[] = L"Probe";
    bool ok = WritePwrScheme(&id, name, nullptr, &written) && ReadPwrScheme(9, &read) &&
              std::memcmp(&written, &read, sizeof read) == 0;
    WipeScratch();
    ASSERT_TRUE(ok) << "A scheme written with WritePwrScheme does not read back: the stand-in "
                       "power profile is not the one loaded (under Wine: powrprof.dll must be "
                       "beside the program and WINEDLLOVERRIDES=powrprof=n,b set).";
  }
};
testing::Environment* const kStandInLoaded = testing::AddGlobalTestEnvironment(new StandInLoaded);

class PowerProfile : public testing::Test {
 protected:
  void SetUp() override { WipeScratch(); }
  void TearDown() override { WipeScratch(); }
};

TEST_F(PowerProfile, WriteStoresBothHalvesByteForByteInNewKeysWithoutActivating) {
  ASSERT_FALSE(KeyExists(HKEY_CURRENT_USER, kUserPolicies));
  ASSERT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kMachinePolicies));
  POWER_POLICY policy = SamplePolicy(3);
  const POWER_POLICY original = policy;
  UINT id = 4;
  wchar_t name[] = L"Fourth";

  ASSERT_EQ(1, WritePwrScheme(&id, name, nullptr, &policy));

  EXPECT_EQ(4u, id);
  EXPECT_EQ(0, std::memcmp(&original, &policy, sizeof policy)) << "the caller's record changed";
  DWORD type = REG_NONE;
  Bytes data;
  ASSERT_TRUE(GetValue(HKEY_CURRENT_USER, UserKey(4), "Policies", &type, &data));
  EXPECT_EQ(static_cast<DWORD>(REG_BINARY), type);
  EXPECT_EQ(BytesOf(original.user), data);
  ASSERT_TRUE(GetValue(HKEY_LOCAL_MACHINE, MachineKey(4), "Policies", &type, &data));
  EXPECT_EQ(static_cast<DWORD>(REG_BINARY), type);
  EXPECT_EQ(BytesOf(original.mach), data);
  EXPECT_EQ("Fourth", GetText(HKEY_CURRENT_USER, UserKey(4), "Name"));
  EXPECT_EQ("<absent>", GetText(HKEY_CURRENT_USER, UserKey(4), "Description"));
  EXPECT_EQ("<absent>", GetText(HKEY_CURRENT_USER, kUserPowerCfg, "CurrentPowerPolicy"));

  POWER_POLICY read = SamplePolicy(99);
  ASSERT_EQ(1, ReadPwrScheme(4, &read));
  EXPECT_EQ(0, std::memcmp(&original, &read, sizeof read));
}

TEST_F(PowerProfile, WriteReplacesAStoredSchemeAndLeavesTheActiveOneAlone) {
  SeedScheme(2, SamplePolicy(10));
  SeedScheme(5, SamplePolicy(20));
  SetValue(HKEY_CURRENT_USER, kUserPowerCfg, "CurrentPowerPolicy", REG_SZ, TextBytes("5"));

  POWER_POLICY policy = SamplePolicy(30);
  UINT id = 2;
  wchar_t name[] = L"Second";
  ASSERT_EQ(1, WritePwrScheme(&id, name, nullptr, &policy));

  POWER_POLICY read;
  ASSERT_EQ(1, ReadPwrScheme(2, &read));
  EXPECT_EQ(0, std::memcmp(&policy, &read, sizeof read));
  ASSERT_EQ(1, ReadPwrScheme(5, &read));
  POWER_POLICY untouched = SamplePolicy(20);
  EXPECT_EQ(0, std::memcmp(&untouched, &read, sizeof read));
  UINT active = 0;
  ASSERT_EQ(1, GetActivePwrScheme(&active));
  EXPECT_EQ(5u, active);
}

// The name is required, as Windows documents it; the description is optional, and without one
// the stored description stays.
TEST_F(PowerProfile, TheNameIsRequiredAndANullDescriptionKeepsTheStoredOne) {
  POWER_POLICY policy = SamplePolicy(4);
  UINT id = 3;
  wchar_t first[] = L"First";
  wchar_t one[] = L"One";
  wchar_t second[] = L"Second";
  wchar_t empty[] = L"";

  struct Step {
    wchar_t* name;
    wchar_t* description;
    bool written;
    const char* expectedName;
    const char* expectedDescription;
  };
  const Step steps[] = {
      {first, one, true, "First", "One"},
      {second, nullptr, true, "Second", "One"},
      {nullptr, nullptr, false, "Second", "One"},
      {nullptr, empty, false, "Second", "One"},
      {empty, empty, true, "", ""},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(std::string(step.expectedName) + "/" + step.expectedDescription);
    POWER_POLICY written = SamplePolicy(step.written ? 40 : 41);
    SetLastError(0);
    ASSERT_EQ(step.written ? 1 : 0, WritePwrScheme(&id, step.name, step.description, &written));
    if (step.written) {
      policy = written;
    } else {
      EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    }
    EXPECT_EQ(step.expectedName, GetText(HKEY_CURRENT_USER, UserKey(3), "Name"));
    EXPECT_EQ(step.expectedDescription, GetText(HKEY_CURRENT_USER, UserKey(3), "Description"));
    POWER_POLICY read;
    ASSERT_EQ(1, ReadPwrScheme(3, &read));
    EXPECT_EQ(0, std::memcmp(&policy, &read, sizeof read)) << "a refused write changed the scheme";
  }
}

TEST_F(PowerProfile, WriteWithoutAnIdPointerIsRefused) {
  POWER_POLICY policy = SamplePolicy(5);
  wchar_t name[] = L"Nowhere";
  SetLastError(0);
  EXPECT_EQ(0, WritePwrScheme(nullptr, name, nullptr, &policy));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kUserPolicies));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kMachinePolicies));
}

TEST_F(PowerProfile, ReadNeedsBothHalvesAndCreatesNothing) {
  const POWER_POLICY stored = SamplePolicy(6);
  struct Case {
    const char* what;
    bool userKey, userValue, machineKey, machineValue;
  };
  const Case cases[] = {
      {"nothing stored", false, false, false, false},
      {"user half only", true, true, false, false},
      {"machine half only", false, false, true, true},
      {"user key without its value", true, false, true, true},
      {"machine key without its value", true, true, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WipeScratch();
    if (c.userValue) {
      SetValue(HKEY_CURRENT_USER, UserKey(7), "Policies", REG_BINARY, BytesOf(stored.user));
    } else if (c.userKey) {
      SetValue(HKEY_CURRENT_USER, UserKey(7), "Name", REG_SZ, TextBytes("no policies"));
    }
    if (c.machineValue) {
      SetValue(HKEY_LOCAL_MACHINE, MachineKey(7), "Policies", REG_BINARY, BytesOf(stored.mach));
    } else if (c.machineKey) {
      SetValue(HKEY_LOCAL_MACHINE, MachineKey(7), "Other", REG_SZ, TextBytes("x"));
    }

    POWER_POLICY read = SamplePolicy(77);
    const POWER_POLICY before = read;
    SetLastError(0);
    EXPECT_EQ(0, ReadPwrScheme(7, &read));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
    EXPECT_EQ(0, std::memcmp(&before, &read, sizeof read)) << "a failed read changed the record";
    EXPECT_EQ(c.userKey, KeyExists(HKEY_CURRENT_USER, UserKey(7)));
    EXPECT_EQ(c.machineKey, KeyExists(HKEY_LOCAL_MACHINE, MachineKey(7)));
  }
}

TEST_F(PowerProfile, ReadRefusesARecordOfTheWrongSize) {
  const POWER_POLICY stored = SamplePolicy(8);
  struct Case {
    HKEY root;
    size_t size;
  };
  const Case cases[] = {
      {HKEY_CURRENT_USER, 79},  {HKEY_CURRENT_USER, 81},  {HKEY_CURRENT_USER, 0},
      {HKEY_LOCAL_MACHINE, 63}, {HKEY_LOCAL_MACHINE, 65}, {HKEY_LOCAL_MACHINE, 144},
  };
  for (const Case& c : cases) {
    bool user = c.root == HKEY_CURRENT_USER;
    SCOPED_TRACE((user ? "user half of " : "machine half of ") + std::to_string(c.size));
    SeedScheme(1, stored);
    Bytes data(c.size, 0x5A);
    SetValue(c.root, user ? UserKey(1) : MachineKey(1), "Policies", REG_BINARY, data);

    POWER_POLICY read = SamplePolicy(77);
    const POWER_POLICY before = read;
    SetLastError(0);
    EXPECT_EQ(0, ReadPwrScheme(1, &read));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA), GetLastError());
    EXPECT_EQ(0, std::memcmp(&before, &read, sizeof read));
  }
}

TEST_F(PowerProfile, ActiveSchemeIsTheDecimalTextOfCurrentPowerPolicy) {
  struct Case {
    const char* what;
    DWORD type;
    Bytes data;
    bool ok;
    UINT id;
  };
  const Case cases[] = {
      {"REG_SZ", REG_SZ, TextBytes("3"), true, 3},
      {"REG_SZ without terminator", REG_SZ, TextBytes("42", false), true, 42},
      {"REG_EXPAND_SZ", REG_EXPAND_SZ, TextBytes("12"), true, 12},
      {"largest index", REG_SZ, TextBytes("4294967295"), true, 4294967295u},
      {"leading zero", REG_SZ, TextBytes("07"), true, 7},
      {"empty", REG_SZ, TextBytes(""), false, 0},
      {"sign", REG_SZ, TextBytes("-1"), false, 0},
      {"plus sign", REG_SZ, TextBytes("+1"), false, 0},
      {"leading space", REG_SZ, TextBytes(" 3"), false, 0},
      {"trailing letter", REG_SZ, TextBytes("3a"), false, 0},
      {"beyond 32 bits", REG_SZ, TextBytes("4294967296"), false, 0},
      {"REG_DWORD", REG_DWORD, Bytes{3, 0, 0, 0}, false, 0},
      {"REG_BINARY", REG_BINARY, TextBytes("3"), false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(ERROR_SUCCESS,
              SetValue(HKEY_CURRENT_USER, kUserPowerCfg, "CurrentPowerPolicy", c.type, c.data));
    UINT id = 0xABCD;
    EXPECT_EQ(c.ok ? 1 : 0, GetActivePwrScheme(&id));
    EXPECT_EQ(c.ok ? c.id : 0xABCDu, id);
  }
}

TEST_F(PowerProfile, NoActiveSchemeWithoutCurrentPowerPolicy) {
  UINT id = 0xABCD;
  SetLastError(0);
  EXPECT_EQ(0, GetActivePwrScheme(&id));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
  EXPECT_EQ(0xABCDu, id);
}

TEST_F(PowerProfile, SetActiveNeedsAStoredSchemeAndRecordsItsIndex) {
  SetValue(HKEY_CURRENT_USER, kUserPowerCfg, "CurrentPowerPolicy", REG_SZ, TextBytes("0"));
  POWER_POLICY policy = SamplePolicy(9);
  SetValue(HKEY_CURRENT_USER, UserKey(6), "Policies", REG_BINARY, BytesOf(policy.user));

  SetLastError(0);
  EXPECT_EQ(0, SetActivePwrScheme(8, nullptr, &policy)) << "no scheme 8";
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
  EXPECT_EQ(0, SetActivePwrScheme(6, nullptr, &policy)) << "scheme 6 has no machine half";
  EXPECT_EQ("0", GetText(HKEY_CURRENT_USER, kUserPowerCfg, "CurrentPowerPolicy"));

  SeedScheme(42, policy);
  ASSERT_EQ(1, SetActivePwrScheme(42, nullptr, &policy));
  DWORD type = REG_NONE;
  Bytes data;
  ASSERT_TRUE(GetValue(HKEY_CURRENT_USER, kUserPowerCfg, "CurrentPowerPolicy", &type, &data));
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
  EXPECT_EQ(TextBytes("42"), data);
  UINT active = 0;
  ASSERT_EQ(1, GetActivePwrScheme(&active));
  EXPECT_EQ(42u, active);
}

// The records given replace the policy in force, the active scheme's: a record of another
// revision is refused (each half, and the global policy when one is given), one of revision 1
// is what the scheme then holds; without one the stored scheme is activated as it is.
TEST_F(PowerProfile, SetActiveChecksTheRevisionOfTheRecordsItIsGivenAndKeepsThem) {
  const POWER_POLICY stored = SamplePolicy(11);
  SeedScheme(5, stored);
  SetValue(HKEY_CURRENT_USER, kUserPowerCfg, "CurrentPowerPolicy", REG_SZ, TextBytes("0"));

  struct Case {
    const char* what;
    ULONG userRevision, machineRevision, globalUserRevision, globalMachineRevision;
    bool withGlobal;
  };
  const Case refused[] = {
      {"user half of revision 0", 0, 1, 1, 1, false},
      {"machine half of revision 2", 1, 2, 1, 1, false},
      {"global user policy of revision 0", 1, 1, 0, 1, true},
      {"global machine policy of revision 2", 1, 1, 1, 2, true},
  };
  for (const Case& c : refused) {
    SCOPED_TRACE(c.what);
    POWER_POLICY policy = SamplePolicy(12);
    policy.user.Revision = c.userRevision;
    policy.mach.Revision = c.machineRevision;
    GLOBAL_POWER_POLICY global;
    std::memset(&global, 0, sizeof global);
    global.user.Revision = c.globalUserRevision;
    global.mach.Revision = c.globalMachineRevision;
    SetLastError(0);
    EXPECT_EQ(0, SetActivePwrScheme(5, c.withGlobal ? &global : nullptr, &policy));
    EXPECT_EQ(static_cast<DWORD>(ERROR_REVISION_MISMATCH), GetLastError());
    EXPECT_EQ("0", GetText(HKEY_CURRENT_USER, kUserPowerCfg, "CurrentPowerPolicy"));
    POWER_POLICY read;
    ASSERT_EQ(1, ReadPwrScheme(5, &read));
    EXPECT_EQ(0, std::memcmp(&stored, &read, sizeof read));
  }

  ASSERT_EQ(1, SetActivePwrScheme(5, nullptr, nullptr));
  EXPECT_EQ("5", GetText(HKEY_CURRENT_USER, kUserPowerCfg, "CurrentPowerPolicy"));
  POWER_POLICY read;
  ASSERT_EQ(1, ReadPwrScheme(5, &read));
  EXPECT_EQ(0, std::memcmp(&stored, &read, sizeof read));

  POWER_POLICY given = SamplePolicy(13);
  GLOBAL_POWER_POLICY global;
  std::memset(&global, 0, sizeof global);
  global.user.Revision = 1;
  global.mach.Revision = 1;
  ASSERT_EQ(1, SetActivePwrScheme(5, &global, &given));
  ASSERT_EQ(1, ReadPwrScheme(5, &read));
  EXPECT_EQ(0, std::memcmp(&given, &read, sizeof read)) << "the records given were not kept";
}

// What EnumPwrSchemes hands its callback, and what it answers, as the stand-in does it.
struct Enumerated {
  UINT index;
  DWORD nameBytes;
  std::wstring name;
  DWORD descriptionBytes;
  std::wstring description;
  POWER_POLICY policy;
};

struct Enumeration {
  std::vector<Enumerated> found;
  size_t stopAfter = 0;  // 0: never stop
};

BOOLEAN CALLBACK Collect(UINT index, DWORD nameBytes, LPWSTR name, DWORD descriptionBytes,
                         LPWSTR description, PPOWER_POLICY policy, LPARAM context) {
  auto* enumeration = reinterpret_cast<Enumeration*>(context);
  enumeration->found.push_back({index, nameBytes, name, descriptionBytes, description, *policy});
  return enumeration->stopAfter == 0 || enumeration->found.size() < enumeration->stopAfter;
}

TEST_F(PowerProfile, EnumerationGivesEachSchemeItsIndexTextsAndRecords) {
  const POWER_POLICY first = SamplePolicy(21);
  const POWER_POLICY second = SamplePolicy(22);
  SeedScheme(1, first);
  SetValue(HKEY_CURRENT_USER, UserKey(1), "Name", REG_SZ, TextBytes("Home/Office Desk"));
  SetValue(HKEY_CURRENT_USER, UserKey(1), "Description", REG_SZ, TextBytes("For the desk"));
  SeedScheme(42, second);
  SetValue(HKEY_CURRENT_USER, UserKey(42), "Name", REG_SZ, TextBytes("Answer"));
  // A key that names no scheme is passed over.
  SetValue(HKEY_CURRENT_USER, std::string(kUserPolicies) + "\\Other", "Name", REG_SZ,
           TextBytes("not a scheme"));

  Enumeration enumeration;
  const BOOLEAN answer = EnumPwrSchemes(&Collect, reinterpret_cast<LPARAM>(&enumeration));
  RegDeleteKeyA(HKEY_CURRENT_USER, (std::string(kUserPolicies) + "\\Other").c_str());
  ASSERT_EQ(1, answer);

  ASSERT_EQ(enumeration.found.size(), 2u);
  // The order of the keys is the registry's; sorted here by index.
  std::sort(enumeration.found.begin(), enumeration.found.end(),
            [](const Enumerated& a, const Enumerated& b) { return a.index < b.index; });
  const Enumerated& desk = enumeration.found[0];
  EXPECT_EQ(desk.index, 1u);
  EXPECT_EQ(desk.name, L"Home/Office Desk");
  EXPECT_EQ(desk.nameBytes, (desk.name.size() + 1) * sizeof(wchar_t));
  EXPECT_EQ(desk.description, L"For the desk");
  EXPECT_EQ(desk.descriptionBytes, (desk.description.size() + 1) * sizeof(wchar_t));
  EXPECT_EQ(0, std::memcmp(&first, &desk.policy, sizeof first));
  const Enumerated& other = enumeration.found[1];
  EXPECT_EQ(other.index, 42u);
  EXPECT_EQ(other.name, L"Answer");
  EXPECT_EQ(other.description, L"") << "no description stored";
  EXPECT_EQ(other.descriptionBytes, sizeof(wchar_t));
  EXPECT_EQ(0, std::memcmp(&second, &other.policy, sizeof second));
}

// A callback that answers FALSE stops the enumeration. What Windows then answers is not
// documented; the stand-in answers FALSE with ERROR_CANCELLED, as a test written against
// Windows XP expects, so a caller that takes that for a failure is caught.
TEST_F(PowerProfile, EnumerationStopsWhenTheCallbackSaysSo) {
  for (UINT id : {2u, 3u, 4u}) SeedScheme(id, SamplePolicy(static_cast<BYTE>(id)));
  Enumeration enumeration;
  enumeration.stopAfter = 2;
  SetLastError(0);
  EXPECT_EQ(0, EnumPwrSchemes(&Collect, reinterpret_cast<LPARAM>(&enumeration)));
  EXPECT_EQ(static_cast<DWORD>(ERROR_CANCELLED), GetLastError());
  EXPECT_EQ(enumeration.found.size(), 2u);

  // No schemes at all: nothing to call back for.
  WipeScratch();
  Enumeration none;
  EXPECT_EQ(1, EnumPwrSchemes(&Collect, reinterpret_cast<LPARAM>(&none)));
  EXPECT_TRUE(none.found.empty());
}

TEST_F(PowerProfile, CapabilitiesDefaultToADesktopThatCanHibernate) {
  SYSTEM_POWER_CAPABILITIES caps;
  std::memset(&caps, 0xEE, sizeof caps);
  ASSERT_EQ(1, GetPwrCapabilities(&caps));
  EXPECT_EQ(1, caps.SystemS1);
  EXPECT_EQ(1, caps.SystemS3);
  EXPECT_EQ(1, caps.SystemS4);
  EXPECT_EQ(1, caps.SystemS5);
  EXPECT_EQ(1, caps.HiberFilePresent);
  EXPECT_EQ(0, caps.SystemBatteriesPresent);
  EXPECT_EQ(1, IsPwrHibernateAllowed());
}

TEST_F(PowerProfile, CapabilitiesComeFromTheKnobAndDecideHibernation) {
  struct Case {
    BOOLEAN s4, hiberFile, allowed;
  };
  const Case cases[] = {{1, 1, 1}, {1, 0, 0}, {0, 1, 0}, {0, 0, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE("S4 " + std::to_string(c.s4) + " hiberfile " + std::to_string(c.hiberFile));
    SYSTEM_POWER_CAPABILITIES knob;
    BYTE* p = reinterpret_cast<BYTE*>(&knob);
    for (size_t i = 0; i < sizeof knob; ++i) p[i] = static_cast<BYTE>(i % 2);
    knob.SystemS3 = 0;
    knob.SystemS4 = c.s4;
    knob.HiberFilePresent = c.hiberFile;
    ASSERT_EQ(ERROR_SUCCESS, SetValue(HKEY_LOCAL_MACHINE, kMachinePowerCfg, kCapabilitiesKnob,
                                      REG_BINARY, BytesOf(knob)));

    SYSTEM_POWER_CAPABILITIES caps;
    ASSERT_EQ(1, GetPwrCapabilities(&caps));
    EXPECT_EQ(BytesOf(knob), BytesOf(caps));
    EXPECT_EQ(c.allowed, IsPwrHibernateAllowed());
  }
}

TEST_F(PowerProfile, AKnobOfTheWrongSizeFailsTheCapabilityQuery) {
  SetValue(HKEY_LOCAL_MACHINE, kMachinePowerCfg, kCapabilitiesKnob, REG_BINARY, Bytes(75, 1));
  SYSTEM_POWER_CAPABILITIES caps;
  SetLastError(0);
  EXPECT_EQ(0, GetPwrCapabilities(&caps));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA), GetLastError());
  EXPECT_EQ(0, IsPwrHibernateAllowed());
}

TEST_F(PowerProfile, AnAdministratorMayWriteSchemes) { EXPECT_EQ(1, CanUserWritePwrScheme()); }

}  // namespace
