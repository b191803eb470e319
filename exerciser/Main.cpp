// Process entry and the program-wide objects.
#include "Caskwell.h"
#include "resource.h"

// Constructed before WinMain in this order (capabilities first), destroyed after it in the
// reverse order; the scheme is read later, by CreateMainWindow.
PwrMgmt powerManagement;
PwrScheme powerScheme;

char windowTitle[kTextLength];
char windowClassName[kTextLength];
HINSTANCE instanceHandle;

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showState) {
  LoadStringA(instance, IDS_APP_TITLE, windowTitle, kTextLength);
  LoadStringA(instance, IDS_WINDOW_CLASS, windowClassName, kTextLength);
  RegisterMainWindowClass(instance);

  // CreateMainWindow runs the whole session (the settings dialog) before it answers.
  if (!CreateMainWindow(instance, showState)) return 0;

  HACCEL accelerators = LoadAcceleratorsA(instance, MAKEINTRESOURCEA(IDR_ACCELERATORS));
  MSG message{};
  while (GetMessageA(&message, nullptr, 0, 0)) {
    if (!TranslateAcceleratorA(message.hwnd, accelerators, &message)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
  }
  return static_cast<int>(message.wParam);
}
