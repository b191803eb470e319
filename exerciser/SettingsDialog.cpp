// The settings dialog (dialog 129): four rows, each with a "Get" button that shows a
// mains-power time-out of the program's scheme in minutes and a "Set to..." button that
// applies the entry box through the row's setter and commits it; two check boxes drive the
// scheme's flags. The dialog keeps no state of its own beyond its items.
#include <cctype>

#include "Caskwell.h"
#include "resource.h"

namespace {

struct Row {
  int getButton;
  int displayBox;
  DWORD (PwrScheme::*get)() const;
  int setButton;
  int entryBox;
  bool (PwrScheme::*set)(DWORD);
  const char* failureCaption;
  UINT initialEntry;
};

const Row kRows[] = {
    {IDC_USER_MONITOR_GET, IDC_USER_MONITOR_SHOW, &PwrScheme::GetUserAcVideoTimeOut,
     IDC_USER_MONITOR_SET, IDC_USER_MONITOR_ENTRY, &PwrScheme::SetUserAcVideoTimeOut,
     "Set User Monitor Timeout Error", 5},
    {IDC_USER_STANDBY_GET, IDC_USER_STANDBY_SHOW, &PwrScheme::GetUserAcStandbyTimeOut,
     IDC_USER_STANDBY_SET, IDC_USER_STANDBY_ENTRY, &PwrScheme::SetUserAcStandbyTimeOut,
     "Set User Standby Error", 10},
    {IDC_MACH_STANDBY_GET, IDC_MACH_STANDBY_SHOW, &PwrScheme::GetMachAcStandbyTimeOut,
     IDC_MACH_STANDBY_SET, IDC_MACH_STANDBY_ENTRY, &PwrScheme::SetMachAcStandbyTimeOut,
     "Set Machine Standby Error", 15},
    {IDC_MACH_HIBERNATE_GET, IDC_MACH_HIBERNATE_SHOW, &PwrScheme::GetMachAcHibernateTimeOut,
     IDC_MACH_HIBERNATE_SET, IDC_MACH_HIBERNATE_ENTRY, &PwrScheme::SetMachAcHibernateTimeOut,
     "Set Machine Hibernate Error", 20},
};

constexpr const char* kNotWholeMinutes =
    "The new time-out must be a whole number of minutes from 0 to 4294967295.";

// Longer than any number that fits in 32 bits with blanks around it; a longer text is not a
// number of minutes anyway, and GetDlgItemInt refuses it too.
constexpr int kEntryTextLength = 64;

// Blanks, decimal digits, blanks. GetDlgItemInt alone is not enough: on some platforms it
// takes a sign or stops at the first non-digit.
bool IsWholeNumberText(const char* text) {
  const char* p = text;
  while (*p == ' ') ++p;
  const char* digits = p;
  while (std::isdigit(static_cast<unsigned char>(*p))) ++p;
  if (p == digits) return false;
  while (*p == ' ') ++p;
  return *p == '\0';
}

// Reads the entry box as a number of minutes; false (and a box saying so) when it is not one.
bool ReadEntry(HWND dialog, const Row& row, DWORD* minutes) {
  BOOL translated = FALSE;
  UINT value = GetDlgItemInt(dialog, row.entryBox, &translated, FALSE);
  char text[kEntryTextLength];
  GetDlgItemTextA(dialog, row.entryBox, text, kEntryTextLength);
  if (!translated || !IsWholeNumberText(text)) {
    MessageBoxA(nullptr, kNotWholeMinutes, row.failureCaption, MB_OK);
    return false;
  }
  *minutes = value;
  return true;
}

void Initialise(HWND dialog) {
  for (const Row& row : kRows) SetDlgItemInt(dialog, row.entryBox, row.initialEntry, FALSE);
  // Both check boxes start cleared; the flags follow them whatever they were before.
  powerScheme.DisableSecurityBypass();
  powerScheme.DisableForceStandby();
}

void Show(HWND dialog, const Row& row) {
  SetDlgItemInt(dialog, row.displayBox, (powerScheme.*row.get)(), FALSE);
}

// True when the change is committed. A refusal or a failed commit shows the scheme's
// failure text in a box without owner, so the dialog stays usable meanwhile. The display
// box is left alone: "Get" shows what the scheme now holds.
bool Apply(HWND dialog, const Row& row) {
  DWORD minutes = 0;
  if (!ReadEntry(dialog, row, &minutes)) return false;
  if (!(powerScheme.*row.set)(minutes) && !powerScheme.commit()) return true;
  MessageBoxA(nullptr, powerScheme.GetErrorText().c_str(), row.failureCaption, MB_OK);
  return false;
}

void FollowCheckBox(HWND dialog, int box) {
  bool ticked = IsDlgButtonChecked(dialog, box) == BST_CHECKED;
  if (box == IDC_ALLOW_UNPRIVILEGED) {
    ticked ? powerScheme.EnableSecurityBypass() : powerScheme.DisableSecurityBypass();
  } else {
    ticked ? powerScheme.EnableForceStandby() : powerScheme.DisableForceStandby();
  }
}

INT_PTR Command(HWND dialog, int id) {
  if (id == IDCANCEL) {
    EndDialog(dialog, IDCANCEL);
    return TRUE;
  }
  for (const Row& row : kRows) {
    if (id == row.getButton) {
      Show(dialog, row);
      return TRUE;
    }
    if (id == row.setButton) return Apply(dialog, row) ? TRUE : FALSE;
  }
  if (id == IDC_ALLOW_UNPRIVILEGED || id == IDC_FORCE_STANDBY) FollowCheckBox(dialog, id);
  // Everything else, the edit boxes' notifications included, is taken and ignored.
  return TRUE;
}

}  // namespace

INT_PTR CALLBACK SettingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      Initialise(dialog);
      return TRUE;  // the system places the focus
    case WM_COMMAND:
      // The notification code in the high word plays no part.
      return Command(dialog, LOWORD(wParam));
    default:
      return FALSE;
  }
}
