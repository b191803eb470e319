// Every key path and value name of the registry the update pass reads and writes, in one
// place. The administrator writes the settings roots; the pass only ever writes the backup key.
#ifndef PM_REGISTRYSCHEMA_H
#define PM_REGISTRYSCHEMA_H

namespace schema {

// Settings roots below HKEY_LOCAL_MACHINE, in the order they are tried.
constexpr const char* kPolicyRoot = "Software\\Policies\\Velmorant\\Dorvane";
constexpr const char* kLocalRoot = "Software\\Velmorant\\Dorvane";

// Directly under a settings root.
constexpr const char* kControl = "Control";  // a root counts only when this reads kVerified
constexpr const char* kVerified = "Verify";
constexpr const char* kMajorVersion = "MajorVersion";
constexpr const char* kSettingsScheme = "SettingsScheme";
constexpr const char* kAcceptedScheme = "Simple";  // the one settings scheme there is

// The "Options" subkey of a settings root.
constexpr const char* kOptionsSubKey = "\\Options";  // appended to the root path
constexpr const char* kLog = "Log";
constexpr const char* kLogLevel = "LogLevel";
constexpr const char* kLogFile = "LogFile";
constexpr const char* kSecurityBypass = "SecurityBypass";
constexpr const char* kForceStandby = "ForceStandby";

// The time-outs of the settings scheme, in minutes; only values below this are enforced. Their
// names, and those of their backup values, are the setting table's (pwrlib/SettingTable.h).
constexpr unsigned kEnforcedBelow = 5000;

// The backup key: below HKEY_LOCAL_MACHINE for the service, HKEY_CURRENT_USER for the logon
// tool. It holds the snapshot values of the setting table and, under the policy value's own
// name, the value each enforcing pass replaced.
constexpr const char* kBackupKey = "Software\\Velmorant\\Dorvane\\Backup";

}  // namespace schema

#endif
