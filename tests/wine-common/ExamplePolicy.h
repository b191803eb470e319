// The situation both update passes start from in the program tests: the six default schemes
// of a fresh workstation (scheme 0 active) and the example policy, and what a first pass makes
// of them. The service's pass and the logon tool's differ only in where the backup key goes,
// in the wording of some log lines and in the debug texts.
#ifndef PM_WINE_EXAMPLEPOLICY_H
#define PM_WINE_EXAMPLEPOLICY_H

#include <string>
#include <utility>
#include <vector>

#include "SchemeStore.h"
#include "Where.h"

namespace winetest {

constexpr const char* kGroupPolicyKey = "Software\\Policies\\Velmorant\\Dorvane";
constexpr const char* kOptionsKey = "Software\\Policies\\Velmorant\\Dorvane\\Options";
constexpr const char* kBackupKey = "Software\\Velmorant\\Dorvane\\Backup";
constexpr const char* kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const char* kRunValue = "Ulmora_Dorvane_Tool";

// Removes both settings roots and both backup keys, then imports the default schemes and the
// example policy with regedit. The empty text on success, else what failed.
std::string SeedDefaultSchemesAndExamplePolicy();

// Both halves of a stored scheme; false unless both have their record's size.
bool ReadScheme(UINT id, POWER_POLICY* scheme);

// Scheme 0 after a first pass with the example policy: mains monitor 20 -> 10 min, mains
// standby 0 -> 30 min with its idle action now Sleep, battery standby 5 -> 15 min, mains disk
// 0 -> 20 min; battery monitor (5) is already right and the battery disk policy (5000) is out
// of range. Machine half: hibernation 90 and 60 min in total, stored after the standby
// time-out: 60 and 45 min.
POWER_POLICY EnforcedByTheExample(const POWER_POLICY& defaults);

// The backup key after that first pass: the snapshot of the default scheme 0 with the example's
// policy, and the old value of each setting the pass changed, under the policy value's name.
const std::vector<std::pair<std::string, DWORD>>& FirstPassBackup();

// The log of that first pass at LogLevel 11, in the words of a pass that names `user`: the
// service's names the ".Default User", the logon tool's the "User" who logs on.
std::vector<std::string> FirstPassLog(const std::string& user);

// Both halves of scheme `id` are these records, whole, and scheme `id` is the active one.
void ExpectScheme(Where where, UINT id, const POWER_POLICY& expected);

}  // namespace winetest

#define EXPECT_SCHEME(id, expected) ::winetest::ExpectScheme(HERE, id, expected)

#endif
