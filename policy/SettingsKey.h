// One candidate settings root below HKEY_LOCAL_MACHINE: answers whether it carries the
// marker that makes it count, and opens it, its "Options" subkey or any named subkey for
// reading. It holds no open key between calls; the keys it opens belong to the caller, who
// closes them with CloseKey.
#ifndef PM_SETTINGSKEY_H
#define PM_SETTINGSKEY_H

#include <string>

#include "PMObject.h"
#include "RegKey.h"

class SettingsKey : public PMObject {
 public:
  SettingsKey();
  explicit SettingsKey(const std::string& path);
  ~SettingsKey() override;

  // True only when the root's "Control" value reads exactly "Verify" (case included).
  bool IsVerified();
  // True when the root exists but this account may not read it: whether it counts cannot be
  // told, so it is not passed over for another.
  bool IsUnreadable();

  // Each answers a key opened for reading; a key that cannot be opened has its failure
  // recorded and reads every value as absent.
  RegKey OpenSettings();
  RegKey OpenOptions();
  // The path, one backslash and name, joined as they stand.
  RegKey OpenSubKey(const std::string& name);

 protected:
  std::string path;  // relative to HKEY_LOCAL_MACHINE, no leading or trailing backslash
};

// Whether a key of the settings exists but could not be opened for reading (access denied): its
// values are not absent but unknown, and a pass fails rather than treat them as absent.
bool IsUnreadableKey(const RegKey& key);
// The error line a pass fails with for such a key:
// "Policy key HKEY_LOCAL_MACHINE\PATH cannot be read, error N".
std::string UnreadableKeyText(const RegKey& key);

#endif
