// Caskwell: the interactive exerciser of the power-scheme library. Its settings dialog shows
// and changes four mains-power time-outs of the active power scheme; a hidden main window
// carries the message loop and the command that ends the program.
#ifndef CASKWELL_H
#define CASKWELL_H

#include "PwrMgmt.h"
#include "PwrScheme.h"
#include "Win32Api.h"

// The program's two library objects, alive for the whole run (defined in Main.cpp, in this
// order). The scheme is read at start-up; only the settings dialog's commits write.
extern PwrMgmt powerManagement;
extern PwrScheme powerScheme;

// Filled at start-up: the window title and class name from the string table, and the
// instance for the procedures.
constexpr int kTextLength = 100;
extern char windowTitle[kTextLength];
extern char windowClassName[kTextLength];
extern HINSTANCE instanceHandle;

void RegisterMainWindowClass(HINSTANCE instance);
// True when the program is to run its message loop; false when there is no window.
bool CreateMainWindow(HINSTANCE instance, int showState);

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK SettingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

#endif
