// Registry helpers for the tests of the current power-scheme functions, over Win32Api.h only,
// so the same tests run against the host stand-in and, under Wine, against the current
// machine's powrprof.dll. The layout is spelt out here, not taken from the stand-in.
#ifndef PM_TESTS_CURRENTSTORE_H
#define PM_TESTS_CURRENTSTORE_H

#include <string>
#include <vector>

#include "SchemeStore.h"
#include "Win32Api.h"

namespace currentstore {

using scheme_store::Bytes;

constexpr const char* kPower = "SYSTEM\\CurrentControlSet\\Control\\Power";
constexpr const char* kUser = "SYSTEM\\CurrentControlSet\\Control\\Power\\User";
constexpr const char* kSchemes = "SYSTEM\\CurrentControlSet\\Control\\Power\\User\\PowerSchemes";
constexpr const char* kSettings = "SYSTEM\\CurrentControlSet\\Control\\Power\\PowerSettings";
constexpr const char* kPolicyPower = "SOFTWARE\\Policies\\Microsoft\\Power";
constexpr const char* kPolicySettings = "SOFTWARE\\Policies\\Microsoft\\Power\\PowerSettings";

// Scratch schemes and one scratch setting, GUIDs no Windows uses.
constexpr GUID kSchemeA = {
    0x11111111, 0x2222, 0x4333, {0x84, 0x44, 0x55, 0x55, 0x66, 0x66, 0x77, 0x01}};
constexpr GUID kSchemeB = {
    0x11111111, 0x2222, 0x4333, {0x84, 0x44, 0x55, 0x55, 0x66, 0x66, 0x77, 0x02}};
constexpr GUID kSubgroup = {
    0xaaaaaaaa, 0xbbbb, 0x4ccc, {0x8d, 0xdd, 0xee, 0xee, 0xff, 0xff, 0x00, 0x01}};
constexpr GUID kSetting = {
    0xaaaaaaaa, 0xbbbb, 0x4ccc, {0x8d, 0xdd, 0xee, 0xee, 0xff, 0xff, 0x00, 0x02}};
constexpr const char* kSchemeAText = "11111111-2222-4333-8444-555566667701";
constexpr const char* kSchemeBText = "11111111-2222-4333-8444-555566667702";
constexpr const char* kSubgroupText = "aaaaaaaa-bbbb-4ccc-8ddd-eeeeffff0001";
constexpr const char* kSettingText = "aaaaaaaa-bbbb-4ccc-8ddd-eeeeffff0002";

inline const char* SideValue(bool ac) { return ac ? "ACSettingIndex" : "DCSettingIndex"; }

inline std::string SchemeKey(const char* scheme) { return std::string(kSchemes) + "\\" + scheme; }
inline std::string OwnKey(const char* scheme) {
  return SchemeKey(scheme) + "\\" + kSubgroupText + "\\" + kSettingText;
}
inline std::string SettingKey() {
  return std::string(kSettings) + "\\" + kSubgroupText + "\\" + kSettingText;
}
inline std::string DefaultKey(const char* scheme) {
  return SettingKey() + "\\DefaultPowerSchemeValues\\" + scheme;
}
inline std::string PolicyKey() { return std::string(kPolicySettings) + "\\" + kSettingText; }

inline Bytes DwordBytes(DWORD value) {
  return {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8), static_cast<BYTE>(value >> 16),
          static_cast<BYTE>(value >> 24)};
}

inline void SetDword(const std::string& path, const char* name, DWORD value) {
  scheme_store::SetValue(HKEY_LOCAL_MACHINE, path, name, REG_DWORD, DwordBytes(value));
}

// A scheme's key, as every scheme has one.
inline void SeedScheme(const char* scheme) {
  scheme_store::SetValue(HKEY_LOCAL_MACHINE, SchemeKey(scheme), "FriendlyName", REG_SZ,
                         scheme_store::TextBytes(std::string("Scratch ") + scheme));
}

// The scratch setting, known to the machine, with the defaults of scheme A.
inline void SeedSetting(DWORD acDefault, DWORD dcDefault) {
  SetDword(DefaultKey(kSchemeAText), "ACSettingIndex", acDefault);
  SetDword(DefaultKey(kSchemeAText), "DCSettingIndex", dcDefault);
}

inline void SetActiveText(const std::string& text) {
  scheme_store::SetValue(HKEY_LOCAL_MACHINE, kSchemes, "ActivePowerScheme", REG_SZ,
                         scheme_store::TextBytes(text));
}

inline std::string ActiveText() {
  return scheme_store::GetText(HKEY_LOCAL_MACHINE, kSchemes, "ActivePowerScheme");
}

// A value's bytes, or an empty vector when it is absent.
inline Bytes ValueAt(const std::string& path, const char* name) {
  DWORD type = REG_NONE;
  Bytes data;
  if (!scheme_store::GetValue(HKEY_LOCAL_MACHINE, path, name, &type, &data)) return {};
  return data;
}

// Removes every key the tests may have made, leaves first. Keys that were there before and
// still hold something of the machine's stay (RegDeleteKeyA removes only empty keys).
inline void Wipe() {
  const std::string own[] = {OwnKey(kSchemeAText), OwnKey(kSchemeBText)};
  for (const std::string& key : own) {
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str());
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.substr(0, key.rfind('\\')).c_str());
  }
  for (const char* scheme : {kSchemeAText, kSchemeBText}) {
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, DefaultKey(scheme).c_str());
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, SchemeKey(scheme).c_str());
  }
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, (SettingKey() + "\\DefaultPowerSchemeValues").c_str());
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, SettingKey().c_str());
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, (std::string(kSettings) + "\\" + kSubgroupText).c_str());
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, PolicyKey().c_str());
  scheme_store::DeleteValue(HKEY_LOCAL_MACHINE, kSchemes, "ActivePowerScheme");
  for (const char* key : {kPolicySettings, kPolicyPower, kSchemes, kSettings, kUser}) {
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, key);
  }
}

}  // namespace currentstore

#endif
