// State of the host user-interface stand-in. Internal to platform/host/ui.
//
// Everything lives on the program's one user-interface thread, so nothing here is locked.
// Windows are kept in node-based maps and never erased before Reset, so a reference to one
// stays valid while its procedure runs and creates further windows.
#ifndef PM_HOST_UI_STATE_H
#define PM_HOST_UI_STATE_H

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "HostUiControl.h"
#include "HostWin32.h"

namespace host::ui::detail {

struct Item {
  HWND handle = nullptr;
  std::string text;
  UINT check = BST_UNCHECKED;
};

struct Window {
  HWND handle = nullptr;
  WindowInfo info;
  WNDPROC proc = nullptr;     // windows
  DLGPROC dlgProc = nullptr;  // dialogs
  LONG width = 0;
  LONG height = 0;
  // Dialogs: the items by identifier, and how the dialog ended.
  std::map<int, Item> items;
  bool ended = false;
  INT_PTR result = 0;
};

struct State {
  // Handle values are never reused, not even after Reset, so a stale handle stays invalid.
  uintptr_t nextHandle = 0x10000;
  std::map<std::string, WindowClass> classes;  // by lower-case name
  std::map<HWND, Window> windows;              // top-level windows and dialogs
  std::vector<HWND> order;
  std::map<HWND, std::pair<HWND, int>> items;  // item handle -> (dialog, identifier)
  std::map<HDC, HWND> paints;                  // device contexts between Begin/EndPaint
  std::deque<MSG> queue;
  bool quit = false;
  int quitCode = 0;
  std::vector<DrawnText> drawn;
  std::vector<DialogRun> dialogs;
  DialogScript dialogScript;
  std::vector<EndDialogCall> endDialogs;
  std::vector<MessageBoxCall> boxes;
  MessageBoxScript boxScript;
  std::vector<FatalExit> fatalExits;
  FatalExitHook fatalHook;
  // Resources outlive Reset: they belong to the program image.
  std::map<std::string, uintptr_t> resourceHandles;  // description -> handle
  std::map<uintptr_t, std::string> resourceNames;    // handle -> description
};

State& S();

uintptr_t NewHandle();
// The live (created, not destroyed) window or dialog, or null.
Window* Live(HWND window);
// The item of a live window, created on first use: without a dialog template every
// identifier names an item.
Item& ItemOf(Window& window, int id);
// "#129" for a numbered resource, the name otherwise.
std::string ResourceName(LPCSTR name);
std::string Lower(std::string text);

// Calls the window's procedure (the dialog procedure for a dialog) outside any call gate,
// so that the procedure's own platform calls count as the program's.
LRESULT Deliver(Window& window, UINT message, WPARAM wParam, LPARAM lParam);
// Sends WM_DESTROY and WM_NCDESTROY and marks the window destroyed.
void Destroy(Window& window);

}  // namespace host::ui::detail

#endif
