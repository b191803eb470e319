// Test control surface of the host stand-in for the Windows user interface.
//
// The stand-in keeps windows, dialogs and their items in memory on the calling thread (a
// program has one user-interface thread). There is no screen and no keyboard: the user is a
// test-supplied script that runs while a modal dialog is open and acts on it through the
// functions below, and message boxes answer from a script too. System code never includes
// this header.
#ifndef PM_HOST_UI_CONTROL_H
#define PM_HOST_UI_CONTROL_H

#include <functional>
#include <string>
#include <vector>

#include "Win32Api.h"

namespace host::ui {

// Forgets every window, class, posted message, recorded box, dialog run and drawn text, and
// removes the scripts and the fatal-exit hook. The program's string table is data linked into
// it (pm_host_string_table in platform/host/ui/CMakeLists.txt) and never changes.
void Reset();

// ---- Resources ------------------------------------------------------------------------------

// The resource a handle from LoadIconA, LoadCursorA or LoadAcceleratorsA names: "icon",
// "cursor" or "accelerators" and its number ("#107"), or its name; system resources (a null
// instance) carry the prefix "system ". Empty for an unknown handle.
std::string ResourceOf(const void* handle);

// ---- Windows ----------------------------------------------------------------------------

struct WindowClass {
  std::string name;
  UINT style = 0;
  WNDPROC proc = nullptr;
  int classExtra = 0;
  int windowExtra = 0;
  HINSTANCE instance = nullptr;
  HICON icon = nullptr;
  HCURSOR cursor = nullptr;
  HBRUSH background = nullptr;
  std::string menuName;  // "#109" for a numbered resource; empty for none
  HICON smallIcon = nullptr;
};
// The registered class of that name (case-insensitive), or false.
bool FindClass(const std::string& name, WindowClass* out);

struct WindowInfo {
  std::string className;
  std::string title;
  DWORD style = 0;
  DWORD exStyle = 0;
  HWND parent = nullptr;  // owner of a top-level window or dialog
  HINSTANCE instance = nullptr;
  std::string menuName;  // the window's menu: given, or its class's
  bool dialog = false;
  bool visible = false;      // WS_VISIBLE at creation or a later ShowWindow
  bool everVisible = false;  // visible at any moment of its life
  bool enabled = true;       // an owner is disabled while its modal dialog runs
  bool destroyed = false;
};
// Every top-level window and dialog created since Reset, in order (items are not listed).
std::vector<HWND> Windows();
bool GetWindowInfo(HWND window, WindowInfo* out);

// Whether PostQuitMessage was called and not yet retrieved by GetMessageA, and its code.
bool QuitPending(int* exitCode = nullptr);

// Texts drawn with DrawTextA, in order.
struct DrawnText {
  HWND window = nullptr;  // the window whose BeginPaint gave the device context
  std::string text;
  RECT rect{};
  UINT format = 0;
};
std::vector<DrawnText> DrawnTexts();

// ---- Dialogs ------------------------------------------------------------------------------

struct DialogRun {
  HWND dialog = nullptr;
  HWND owner = nullptr;
  HINSTANCE instance = nullptr;
  int templateId = 0;        // the template's number, 0 for a named template
  std::string templateName;  // "#129", or the name
  DLGPROC proc = nullptr;
  LPARAM initParam = 0;
};

// The user of every modal dialog: DialogBoxParamA sends WM_INITDIALOG, then calls the
// script, then ends. A dialog the script leaves open makes DialogBoxParamA answer -1 (on
// Windows the call would never return). Without a script the user closes the dialog with
// its close box at once.
using DialogScript = std::function<void(const DialogRun&)>;
void SetDialogScript(DialogScript script);
// Every modal dialog run since Reset, in order.
std::vector<DialogRun> Dialogs();

// Whether the dialog is still running (created, not ended by EndDialog).
bool IsDialogOpen(HWND dialog);

// User actions on an open dialog; each answers what the dialog procedure answered, or -1
// when the dialog is not open (nothing is sent then).
// A push button: WM_COMMAND (id, BN_CLICKED).
INT_PTR Click(HWND dialog, int id);
// An automatic check box: its state toggles between checked and unchecked, then
// WM_COMMAND (id, BN_CLICKED).
INT_PTR Tick(HWND dialog, int id);
// Typing into an edit box: the text is replaced, then WM_COMMAND (id, EN_CHANGE).
INT_PTR Type(HWND dialog, int id, const std::string& text);
// Esc: WM_COMMAND (IDCANCEL, BN_CLICKED), as the dialog manager sends it.
INT_PTR PressEscape(HWND dialog);
// The caption's close box: WM_SYSCOMMAND SC_CLOSE, and if the procedure leaves it to the
// default handling, WM_CLOSE, and then WM_COMMAND (IDCANCEL, BN_CLICKED), as the default
// dialog procedure does.
INT_PTR PressCloseBox(HWND dialog);
// Any message straight to the dialog procedure.
INT_PTR SendToDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// An item's text and check state as the dialog holds them (empty and BST_UNCHECKED for an
// item nothing has set).
std::string ItemText(HWND dialog, int id);
UINT ItemCheck(HWND dialog, int id);

struct EndDialogCall {
  HWND dialog = nullptr;
  INT_PTR result = 0;
};
std::vector<EndDialogCall> EndDialogs();

// ---- Message boxes and the fatal exit -------------------------------------------------------

struct MessageBoxCall {
  HWND owner = nullptr;
  std::string text;
  std::string caption;
  UINT type = 0;
};
// Every MessageBoxA since Reset, in order.
std::vector<MessageBoxCall> MessageBoxes();

// Answers each box (and may act on dialogs meanwhile, as a user can while a box without
// owner is shown). Without a script a box answers IDOK and its caption and text go to stderr.
using MessageBoxScript = std::function<int(const MessageBoxCall&)>;
void SetMessageBoxScript(MessageBoxScript script);

struct FatalExit {
  UINT action = 0;
  std::string text;
};
// Every FatalAppExitA since Reset (only ever seen when a hook stopped the exit).
std::vector<FatalExit> FatalExits();

// Called by FatalAppExitA after recording it; it must not return (a test throws an
// exception of its own and catches it around the code under test). Without a hook, or
// when the hook returns, FatalAppExitA writes the text to stderr and ends the process at
// once with status 1, running no destructors and no exit handlers.
using FatalExitHook = std::function<void(const FatalExit&)>;
void SetFatalExitHook(FatalExitHook hook);

}  // namespace host::ui

#endif
