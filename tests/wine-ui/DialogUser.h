// Plays the user of a dialog that another process shows: finds it, types, clicks, ticks and
// answers its message boxes, and reads what it displays. Clicks that open a message box are
// posted, the others sent, so a click returns once the dialog has handled it.
#ifndef PM_WINE_DIALOGUSER_H
#define PM_WINE_DIALOGUSER_H

#include <windows.h>

#include <string>

#include "Where.h"

namespace winetest {

// The visible top-level dialog with this caption, waiting up to `timeoutMs` for it; null if
// none. A dialog becomes visible once it has initialised its controls.
HWND FindDialog(const char* caption, DWORD timeoutMs);

// A window's text. WM_GETTEXT, not GetWindowTextA: across processes the latter does not read
// an edit box.
std::string WindowText(HWND window);
std::string ItemText(HWND dialog, int id);
void Type(HWND dialog, int id, const char* text);
LRESULT CheckState(HWND dialog, int id);

// A click whose handling must end without a message box; a box that comes up instead is
// reported and dismissed, so the test can go on.
void Click(Where where, HWND dialog, int id);

// A click that must bring up a message box without owner, with one button, this caption and
// this text, while the dialog stays enabled; the box is dismissed and must go.
void ClickExpectingBox(Where where, HWND dialog, int id, const char* caption,
                       const std::string& text);

// Closes the dialog with its button `id` and waits up to `timeoutMs` until it is gone.
bool CloseWith(HWND dialog, int id, DWORD timeoutMs);

}  // namespace winetest

#define CLICK(dialog, id) ::winetest::Click(HERE, dialog, id)
#define CLICK_EXPECTING_BOX(dialog, id, caption, text) \
  ::winetest::ClickExpectingBox(HERE, dialog, id, caption, text)

#endif
