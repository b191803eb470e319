// The main window: registered and created hidden, it is never shown. Start-up reads the
// active scheme and runs the settings dialog from here; the window then ends the program.
#include <string>

#include "Caskwell.h"
#include "resource.h"

namespace {

constexpr const char* kInitErrorCaption = "Power Management Initialization Error";
constexpr const char* kFatalText =
    "The Power management initialization failed to occur and this program will shut down now.";

// Tells the user why, then ends the program: there is no scheme to work on.
void EndForWantOfAScheme(const std::string& text) {
  MessageBoxA(nullptr, text.c_str(), kInitErrorCaption, MB_OK);
  FatalAppExitA(0, kFatalText);
}

}  // namespace

void RegisterMainWindowClass(HINSTANCE instance) {
  WNDCLASSEXA windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = MainWindowProc;
  windowClass.cbClsExtra = 0;
  windowClass.cbWndExtra = 0;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_CASKWELL));
  windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
  windowClass.lpszMenuName = MAKEINTRESOURCEA(IDR_MAINMENU);
  windowClass.lpszClassName = windowClassName;
  windowClass.hIconSm = LoadIconA(instance, MAKEINTRESOURCEA(IDI_SMALL));
  RegisterClassExA(&windowClass);
}

bool CreateMainWindow(HINSTANCE instance, int) {
  instanceHandle = instance;

  // No WS_VISIBLE, and nothing ever shows the window.
  HWND window = CreateWindowExA(0, windowClassName, windowTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                0, CW_USEDEFAULT, 0, nullptr, nullptr, instance, nullptr);
  if (window == nullptr) return false;

  // Only the scheme the platform names as active is read: without an answer no index is
  // tried, so the dialog can never change a scheme that is not in force.
  UINT active = 0;
  if (powerManagement.QueryPwrSchemeInUse(&active)) {
    EndForWantOfAScheme(powerManagement.GetErrorText());
  } else if (powerScheme.initialiaze(active)) {
    EndForWantOfAScheme(powerScheme.GetErrorText());
  }

  // If the dialog cannot be created the program simply ends.
  DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_SETTINGS), nullptr, SettingsDialogProc, 0);

  // The window's destruction posts the quit message that ends the message loop.
  SendMessageA(window, WM_COMMAND, IDM_EXIT, 0);
  return true;
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  char text[kTextLength];
  LoadStringA(instanceHandle, IDS_MAIN_TEXT, text, kTextLength);

  switch (message) {
    case WM_COMMAND:
      // The notification code in the high word plays no part.
      switch (LOWORD(wParam)) {
        case IDM_ABOUT:
          DialogBoxParamA(instanceHandle, MAKEINTRESOURCEA(IDD_ABOUTBOX), window, AboutDialogProc,
                          0);
          return 0;
        case IDM_EXIT:
          DestroyWindow(window);
          return 0;
        case IDM_SETTINGS:
          DialogBoxParamA(instanceHandle, MAKEINTRESOURCEA(IDD_SETTINGS), window,
                          SettingsDialogProc, 0);
          return 0;
        default:
          return DefWindowProcA(window, message, wParam, lParam);
      }
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(window, &paint);
      RECT client;
      GetClientRect(window, &client);
      DrawTextA(dc, text, -1, &client, DT_CENTER);
      EndPaint(window, &paint);
      return 0;
    }
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}
