// Caskwell's dialogs, menu commands and settings rows by identifier, as the tests know them:
// the host tests work the dialog by these names, the Wine tests hold the program file and the
// live window to them. Spelled out here rather than taken from the program's resource.h, so a
// changed identifier fails a test.
#ifndef PM_TESTS_CASKWELLCONTROLS_H
#define PM_TESTS_CASKWELLCONTROLS_H

#include "Win32Api.h"

namespace caskwell {

constexpr WORD kSettingsDialogId = 129;
constexpr WORD kAboutBoxId = 103;

// Menu commands, as WM_COMMAND carries them.
constexpr WORD kAboutCommand = 104;
constexpr WORD kExitCommand = 105;
constexpr WORD kSettingsCommand = 32771;

// One time-out row of the settings dialog: "Get" fills the display box, "Set to..." applies
// the entry box; a refusal or a failed commit is shown in a message box with the row's caption.
struct Row {
  const char* name;
  int get, display, set, entry;
  const char* errorCaption;
};
constexpr Row kUserMonitor = {"user monitor", 1004, 1003,
                              1005,           1006, "Set User Monitor Timeout Error"};
constexpr Row kUserStandby = {"user standby", 1007, 1008, 1009, 1010, "Set User Standby Error"};
constexpr Row kMachineHibernation = {"machine hibernation",        1011, 1012, 1013, 1014,
                                     "Set Machine Hibernate Error"};
constexpr Row kMachineStandby = {"machine standby",          1016, 1017, 1018, 1019,
                                 "Set Machine Standby Error"};
constexpr Row kRows[] = {kUserMonitor, kUserStandby, kMachineStandby, kMachineHibernation};

// The two check boxes below the rows.
constexpr int kAllowUnprivileged = 1020;
constexpr int kForceStandby = 1021;

}  // namespace caskwell

#endif
