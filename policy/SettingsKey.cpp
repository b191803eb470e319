#include "SettingsKey.h"

#include "RegistrySchema.h"
#include "Win32Api.h"

SettingsKey::SettingsKey() = default;

SettingsKey::SettingsKey(const std::string& keyPath) : path(keyPath) {}

SettingsKey::~SettingsKey() = default;

bool SettingsKey::IsVerified() {
  RegKey root(HKEY_LOCAL_MACHINE, path);
  const bool verified = root.GetStrValue(schema::kControl) == schema::kVerified;
  root.CloseKey();
  return verified;
}

bool SettingsKey::IsUnreadable() {
  RegKey root(HKEY_LOCAL_MACHINE, path);
  const bool unreadable = IsUnreadableKey(root);
  root.CloseKey();
  return unreadable;
}

bool IsUnreadableKey(const RegKey& key) {
  return key.OpenStatus() != ERROR_SUCCESS && key.OpenStatus() != ERROR_FILE_NOT_FOUND;
}

std::string UnreadableKeyText(const RegKey& key) {
  return "Policy key " + key.Name() + " cannot be read, error " + std::to_string(key.OpenStatus());
}

RegKey SettingsKey::OpenSettings() { return RegKey(HKEY_LOCAL_MACHINE, path); }

RegKey SettingsKey::OpenOptions() {
  return RegKey(HKEY_LOCAL_MACHINE, path + schema::kOptionsSubKey);
}

RegKey SettingsKey::OpenSubKey(const std::string& name) {
  return RegKey(HKEY_LOCAL_MACHINE, path + "\\" + name);
}
