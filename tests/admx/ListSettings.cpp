// Prints the setting table for the template check: one line per setting, in the table's
// order, "POLICY-VALUE SNAPSHOT-CURRENT SNAPSHOT-POLICY" separated by tabs, "-" for a
// snapshot value the setting does not have.
#include <cstdio>

#include "SettingTable.h"

int main() {
  for (const Setting& setting : kSettings) {
    std::printf("%s\t%s\t%s\n", setting.policyValue,
                setting.snapshotCurrent != nullptr ? setting.snapshotCurrent : "-",
                setting.snapshotPolicy != nullptr ? setting.snapshotPolicy : "-");
  }
  return 0;
}
