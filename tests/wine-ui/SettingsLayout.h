// Caskwell's settings dialog as it must be: every item of its template in creation order
// (which is also the tab order) with kind, text, position and size in dialog units, the rows
// and check boxes by their identifiers in CaskwellControls.h. Both the program file's template
// and the live dialog are checked against this table.
#ifndef PM_WINE_SETTINGSLAYOUT_H
#define PM_WINE_SETTINGSLAYOUT_H

#include <windows.h>

#include <cstring>
#include <string>

#include "CaskwellControls.h"

namespace caskwell {

constexpr const char* kCaption = "Dorvane Power Management Library Test Suite";
constexpr int kNoId = 0xFFFF;  // a text without identifier

enum Kind { kDefButton, kButton, kEdit, kLabel, kTitle, kCheckBox };

struct Control {
  int id;
  Kind kind;
  const char* text;  // for edit boxes the initial content
  int x, y, w, h;
};

constexpr Control kSettingsTemplate[] = {
    {kUserMonitor.get, kDefButton, "Get", 139, 36, 48, 14},
    {IDCANCEL, kButton, "Close", 101, 272, 50, 14},
    {kUserMonitor.display, kEdit, "", 194, 36, 19, 13},
    {kNoId, kLabel, " minutes.", 214, 38, 34, 11},
    {kNoId, kLabel, "Current User Monitor settings...", 33, 38, 100, 11},
    {kUserMonitor.set, kDefButton, "Set to...", 139, 54, 48, 14},
    {kUserMonitor.entry, kEdit, "5", 194, 55, 19, 13},
    {kNoId, kLabel, " minutes.", 214, 57, 34, 11},
    {kNoId, kLabel, "Change User Monitor settings...", 33, 56, 100, 11},
    {kUserStandby.get, kDefButton, "Get", 139, 89, 48, 14},
    {kUserStandby.display, kEdit, "", 193, 89, 19, 13},
    {kNoId, kLabel, " minutes.", 213, 92, 34, 11},
    {kNoId, kLabel, "Current User Standby settings...", 32, 92, 103, 11},
    {kUserStandby.set, kDefButton, "Set to...", 139, 108, 48, 14},
    {kUserStandby.entry, kEdit, "10", 193, 109, 19, 13},
    {kNoId, kLabel, " minutes.", 213, 110, 34, 11},
    {kNoId, kLabel, "Change User Standby settings...", 32, 110, 104, 11},
    {kNoId, kLabel, "Monitor Power Management Settings", 13, 27, 122, 11},
    {kNoId, kTitle, "Power Management Library Test Suite", 6, 1, 251, 19},
    {kNoId, kLabel, "System Standby Power Management Settings", 12, 79, 147, 10},
    {kMachineHibernation.get, kDefButton, "Get", 141, 204, 48, 14},
    {kMachineHibernation.display, kEdit, "", 195, 204, 19, 13},
    {kNoId, kLabel, " minutes.", 215, 207, 34, 11},
    {kNoId, kLabel, "Current Machine Hibernation settings...", 13, 207, 124, 11},
    {kMachineHibernation.set, kDefButton, "Set to...", 141, 223, 48, 14},
    {kMachineHibernation.entry, kEdit, "20", 195, 223, 19, 13},
    {kNoId, kLabel, " minutes.", 215, 224, 34, 11},
    {kNoId, kLabel, "Change Machine Hibernation settings...", 12, 224, 126, 11},
    {kNoId, kLabel, "System Hibernation Settings", 11, 193, 147, 10},
    {kMachineStandby.get, kDefButton, "Get", 139, 147, 48, 14},
    {kMachineStandby.display, kEdit, "", 193, 147, 19, 13},
    {kNoId, kLabel, " minutes.", 213, 150, 34, 11},
    {kNoId, kLabel, "Current Machine Standby settings...", 16, 150, 118, 11},
    {kMachineStandby.set, kDefButton, "Set to...", 139, 166, 48, 14},
    {kMachineStandby.entry, kEdit, "15", 193, 167, 19, 13},
    {kNoId, kLabel, " minutes.", 213, 168, 34, 11},
    {kNoId, kLabel, "Change Machine Standby settings...", 15, 168, 120, 11},
    {kNoId, kLabel, "System Standby Power Management Settings", 11, 136, 147, 10},
    {kAllowUnprivileged, kCheckBox, "Allow Unpriviledged User", 143, 244, 10, 12},
    {kForceStandby, kCheckBox, "Force System Standby", 143, 256, 12, 10},
    {kNoId, kLabel, "Allow Unpriviledged User", 18, 243, 103, 11},
    {kNoId, kLabel, "Force System Standby", 18, 256, 88, 11},
};
constexpr size_t kSettingsItems = sizeof kSettingsTemplate / sizeof kSettingsTemplate[0];

inline const char* ClassOf(Kind kind) {
  switch (kind) {
    case kEdit:
      return "Edit";
    case kLabel:
    case kTitle:
      return "Static";
    default:
      return "Button";
  }
}

inline std::string NameOf(size_t index) {
  const Control& c = kSettingsTemplate[index];
  return "item " + std::to_string(index + 1) + " (" + std::to_string(c.id) + " \"" + c.text + "\")";
}

// Reads a dialog, menu or accelerator resource: words, numbers and texts in order.
struct ResourceReader {
  const BYTE* p;
  WORD Word() {
    WORD w;
    std::memcpy(&w, p, 2);
    p += 2;
    return w;
  }
  DWORD Dword() {
    DWORD d;
    std::memcpy(&d, p, 4);
    p += 4;
    return d;
  }
  short Short() { return static_cast<short>(Word()); }
  // A text or, after 0xFFFF, a number ("#n").
  std::string NameOrNumber() {
    WORD first = Word();
    if (first == 0xFFFF) return "#" + std::to_string(Word());
    std::string text;
    for (WORD c = first; c != 0; c = Word()) text += static_cast<char>(c);
    return text;
  }
  void AlignDword(const BYTE* base) {
    while ((p - base) % 4) ++p;
  }
};

}  // namespace caskwell

#endif
