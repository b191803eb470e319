// The scheme store of a current machine (Windows Vista and later) as the tests know it, and
// helpers over Win32Api.h only, so the same code serves the host tests, the power-profile tests
// under Wine and the Wine program tests:
//
//   HKLM\SYSTEM\CurrentControlSet\Control\Power\User\PowerSchemes   "ActivePowerScheme" (GUID)
//     \<scheme>\<subgroup>\<setting>                 "ACSettingIndex", "DCSettingIndex"
//   HKLM\SYSTEM\CurrentControlSet\Control\Power\PowerSettings\<subgroup>\<setting>
//     \DefaultPowerSchemeValues\<scheme>             the values of a scheme that sets none
//   HKLM\SOFTWARE\Policies\Microsoft\Power\PowerSettings\<setting>   a side group policy holds
//
// Like SchemeStore.h, it is written out here from the published layout rather than taken from
// the stand-in's constants, so that a typo there fails a test. Each GUID is spelled twice, as
// the registry's key names spell it and as the structure the functions take. Host tests that
// seed or read the store without passing the call gate use HostCurrentSchemeStore.h.
#ifndef PM_TESTS_CURRENTSCHEMESTORE_H
#define PM_TESTS_CURRENTSCHEMESTORE_H

#include <string>

#include "SchemeStore.h"
#include "Win32Api.h"

namespace current_store {

using scheme_store::Bytes;
using scheme_store::DwordBytes;

constexpr const char* kUser = "SYSTEM\\CurrentControlSet\\Control\\Power\\User";
constexpr const char* kSchemes = "SYSTEM\\CurrentControlSet\\Control\\Power\\User\\PowerSchemes";
constexpr const char* kSettings = "SYSTEM\\CurrentControlSet\\Control\\Power\\PowerSettings";
constexpr const char* kPolicyPower = "SOFTWARE\\Policies\\Microsoft\\Power";
constexpr const char* kPolicySettings = "SOFTWARE\\Policies\\Microsoft\\Power\\PowerSettings";
constexpr const char* kActiveValue = "ActivePowerScheme";
constexpr const char* kAcValue = "ACSettingIndex";
constexpr const char* kDcValue = "DCSettingIndex";

inline const char* SideValue(bool ac) { return ac ? kAcValue : kDcValue; }

// The three plans of a fresh installation.
constexpr const char* kBalanced = "381b4222-f694-41f0-9685-ff5bb260df2e";
constexpr const char* kHighPerformance = "8c5e7fda-e8bf-4a96-9a85-a6e23a8c635c";
constexpr const char* kPowerSaver = "a1841308-3541-4fab-bc81-f71556f20b4a";
constexpr GUID kBalancedGuid = {
    0x381b4222, 0xf694, 0x41f0, {0x96, 0x85, 0xff, 0x5b, 0xb2, 0x60, 0xdf, 0x2e}};
constexpr GUID kHighPerformanceGuid = {
    0x8c5e7fda, 0xe8bf, 0x4a96, {0x9a, 0x85, 0xa6, 0xe2, 0x3a, 0x8c, 0x63, 0x5c}};
constexpr GUID kPowerSaverGuid = {
    0xa1841308, 0x3541, 0x4fab, {0xbc, 0x81, 0xf7, 0x15, 0x56, 0xf2, 0x0b, 0x4a}};

// A setting and the subgroup it belongs to.
struct Setting {
  const char* subgroup;
  const char* setting;
  GUID subgroupGuid;
  GUID settingGuid;
};

// The four settings the system enforces: turn off the display, sleep (standby), hibernate (the
// total idle time) and turn off the disk, each after so many seconds.
constexpr Setting kVideoIdle = {
    "7516b95f-f776-4464-8c53-06167f40cc99",
    "3c0bc021-c8a8-4e07-a973-6b14cbcb2b7e",
    {0x7516b95f, 0xf776, 0x4464, {0x8c, 0x53, 0x06, 0x16, 0x7f, 0x40, 0xcc, 0x99}},
    {0x3c0bc021, 0xc8a8, 0x4e07, {0xa9, 0x73, 0x6b, 0x14, 0xcb, 0xcb, 0x2b, 0x7e}}};
constexpr Setting kStandbyIdle = {
    "238c9fa8-0aad-41ed-83f4-97be242c8f20",
    "29f6c1db-86da-48c5-9fdb-f2b67b1f44da",
    {0x238c9fa8, 0x0aad, 0x41ed, {0x83, 0xf4, 0x97, 0xbe, 0x24, 0x2c, 0x8f, 0x20}},
    {0x29f6c1db, 0x86da, 0x48c5, {0x9f, 0xdb, 0xf2, 0xb6, 0x7b, 0x1f, 0x44, 0xda}}};
constexpr Setting kHibernateIdle = {
    "238c9fa8-0aad-41ed-83f4-97be242c8f20",
    "9d7815a6-7ee4-497e-8888-515a05f02364",
    {0x238c9fa8, 0x0aad, 0x41ed, {0x83, 0xf4, 0x97, 0xbe, 0x24, 0x2c, 0x8f, 0x20}},
    {0x9d7815a6, 0x7ee4, 0x497e, {0x88, 0x88, 0x51, 0x5a, 0x05, 0xf0, 0x23, 0x64}}};
constexpr Setting kDiskIdle = {
    "0012ee47-9041-4b5d-9b77-535fba8b1442",
    "6738e2c4-e8a5-4a42-b16a-e040e769756e",
    {0x0012ee47, 0x9041, 0x4b5d, {0x9b, 0x77, 0x53, 0x5f, 0xba, 0x8b, 0x14, 0x42}},
    {0x6738e2c4, 0xe8a5, 0x4a42, {0xb1, 0x6a, 0xe0, 0x40, 0xe7, 0x69, 0x75, 0x6e}}};
constexpr Setting kAllSettings[] = {kVideoIdle, kStandbyIdle, kHibernateIdle, kDiskIdle};

// Scratch schemes and one scratch setting, GUIDs no Windows uses; WipeScratch removes them.
constexpr const char* kSchemeA = "11111111-2222-4333-8444-555566667701";
constexpr const char* kSchemeB = "11111111-2222-4333-8444-555566667702";
constexpr GUID kSchemeAGuid = {
    0x11111111, 0x2222, 0x4333, {0x84, 0x44, 0x55, 0x55, 0x66, 0x66, 0x77, 0x01}};
constexpr GUID kSchemeBGuid = {
    0x11111111, 0x2222, 0x4333, {0x84, 0x44, 0x55, 0x55, 0x66, 0x66, 0x77, 0x02}};
constexpr Setting kScratch = {
    "aaaaaaaa-bbbb-4ccc-8ddd-eeeeffff0001",
    "aaaaaaaa-bbbb-4ccc-8ddd-eeeeffff0002",
    {0xaaaaaaaa, 0xbbbb, 0x4ccc, {0x8d, 0xdd, 0xee, 0xee, 0xff, 0xff, 0x00, 0x01}},
    {0xaaaaaaaa, 0xbbbb, 0x4ccc, {0x8d, 0xdd, 0xee, 0xee, 0xff, 0xff, 0x00, 0x02}}};

inline std::string SchemeKey(const std::string& scheme) {
  return std::string(kSchemes) + "\\" + scheme;
}
// The values a scheme sets itself.
inline std::string OwnValueKey(const std::string& scheme, const Setting& s) {
  return SchemeKey(scheme) + "\\" + s.subgroup + "\\" + s.setting;
}
inline std::string SubgroupKey(const Setting& s) {
  return std::string(kSettings) + "\\" + s.subgroup;
}
inline std::string SettingKey(const Setting& s) { return SubgroupKey(s) + "\\" + s.setting; }
// The values a scheme has for a setting until it sets its own.
inline std::string DefaultValueKey(const std::string& scheme, const Setting& s) {
  return SettingKey(s) + "\\DefaultPowerSchemeValues\\" + scheme;
}
inline std::string PolicyKey(const Setting& s) {
  return std::string(kPolicySettings) + "\\" + s.setting;
}

inline void SetDword(const std::string& path, const char* name, DWORD value) {
  scheme_store::SetValue(HKEY_LOCAL_MACHINE, path, name, REG_DWORD, DwordBytes(value));
}

// A scheme's key, as every scheme has one.
inline void SeedScheme(const std::string& scheme) {
  scheme_store::SetValue(HKEY_LOCAL_MACHINE, SchemeKey(scheme), "FriendlyName", REG_SZ,
                         scheme_store::TextBytes("Scratch " + scheme));
}

// The scratch setting, known to the machine, with the defaults of scheme A.
inline void SeedScratchSetting(DWORD acDefault, DWORD dcDefault) {
  SetDword(DefaultValueKey(kSchemeA, kScratch), kAcValue, acDefault);
  SetDword(DefaultValueKey(kSchemeA, kScratch), kDcValue, dcDefault);
}

inline void SetActiveText(const std::string& text) {
  scheme_store::SetValue(HKEY_LOCAL_MACHINE, kSchemes, kActiveValue, REG_SZ,
                         scheme_store::TextBytes(text));
}

inline std::string ActiveText() {
  return scheme_store::GetText(HKEY_LOCAL_MACHINE, kSchemes, kActiveValue);
}

// A value's bytes, or an empty vector when it is absent.
inline Bytes ValueAt(const std::string& path, const char* name) {
  DWORD type = REG_NONE;
  Bytes data;
  if (!scheme_store::GetValue(HKEY_LOCAL_MACHINE, path, name, &type, &data)) return {};
  return data;
}

// Removes every key the scratch schemes and setting may have made, leaves first. Keys that
// were there before and still hold something of the machine's stay (RegDeleteKeyA removes only
// empty keys).
inline void WipeScratch() {
  for (const char* scheme : {kSchemeA, kSchemeB}) {
    const std::string own = OwnValueKey(scheme, kScratch);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, own.c_str());
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, own.substr(0, own.rfind('\\')).c_str());
  }
  for (const char* scheme : {kSchemeA, kSchemeB}) {
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, DefaultValueKey(scheme, kScratch).c_str());
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, SchemeKey(scheme).c_str());
  }
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, (SettingKey(kScratch) + "\\DefaultPowerSchemeValues").c_str());
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, SettingKey(kScratch).c_str());
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, SubgroupKey(kScratch).c_str());
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, PolicyKey(kScratch).c_str());
  scheme_store::DeleteValue(HKEY_LOCAL_MACHINE, kSchemes, kActiveValue);
  for (const char* key : {kPolicySettings, kPolicyPower, kSchemes, kSettings, kUser}) {
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, key);
  }
}

}  // namespace current_store

#endif
