// Window classes, windows, the message queue and painting.
//
// Every function passes the call gate first. A function that calls back into the program
// (a window procedure) closes its gate before it does, so the procedure's own platform
// calls are recorded and can be failed like any other call of the program.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "CallGate.h"
#include "UiState.h"

namespace host::ui::detail {

namespace {

// The client area of a window created with the default size: no screen to fit.
constexpr LONG kDefaultWidth = 640;
constexpr LONG kDefaultHeight = 480;
constexpr int kLineHeight = 16;

}  // namespace

State& S() {
  static State state;
  return state;
}

uintptr_t NewHandle() { return S().nextHandle += 4; }

Window* Live(HWND window) {
  auto found = S().windows.find(window);
  if (found == S().windows.end() || found->second.info.destroyed) return nullptr;
  return &found->second;
}

Item& ItemOf(Window& window, int id) {
  Item& item = window.items[id];
  if (item.handle == nullptr) {
    item.handle = reinterpret_cast<HWND>(NewHandle());
    S().items[item.handle] = {window.handle, id};
  }
  return item;
}

std::string ResourceName(LPCSTR name) {
  if (name == nullptr) return "";
  if (IS_INTRESOURCE(name)) return "#" + std::to_string(reinterpret_cast<uintptr_t>(name));
  return name;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

LRESULT Deliver(Window& window, UINT message, WPARAM wParam, LPARAM lParam) {
  HWND handle = window.handle;
  if (window.info.dialog)
    return window.dlgProc ? window.dlgProc(handle, message, wParam, lParam) : 0;
  return window.proc ? window.proc(handle, message, wParam, lParam) : 0;
}

void Destroy(Window& window) {
  window.info.visible = false;
  Deliver(window, WM_DESTROY, 0, 0);
  Deliver(window, WM_NCDESTROY, 0, 0);
  window.info.destroyed = true;
}

}  // namespace host::ui::detail

using namespace host::ui;
using namespace host::ui::detail;

ATOM WINAPI RegisterClassExA(const WNDCLASSEXA* lpwcx) {
  host::detail::CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<ATOM>();
  if (lpwcx == nullptr || lpwcx->cbSize != sizeof(WNDCLASSEXA) || lpwcx->lpszClassName == nullptr ||
      IS_INTRESOURCE(lpwcx->lpszClassName) || lpwcx->lpfnWndProc == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::string key = Lower(lpwcx->lpszClassName);
  if (S().classes.count(key)) {
    SetLastError(ERROR_CLASS_ALREADY_EXISTS);
    return 0;
  }
  WindowClass c;
  c.name = lpwcx->lpszClassName;
  c.style = lpwcx->style;
  c.proc = lpwcx->lpfnWndProc;
  c.classExtra = lpwcx->cbClsExtra;
  c.windowExtra = lpwcx->cbWndExtra;
  c.instance = lpwcx->hInstance;
  c.icon = lpwcx->hIcon;
  c.cursor = lpwcx->hCursor;
  c.background = lpwcx->hbrBackground;
  c.menuName = ResourceName(lpwcx->lpszMenuName);
  c.smallIcon = lpwcx->hIconSm;
  S().classes[key] = c;
  // Class atoms live in 0xC000-0xFFFF.
  return static_cast<ATOM>(0xC000 + S().classes.size());
}

HWND WINAPI CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName, DWORD dwStyle,
                            int, int, int nWidth, int nHeight, HWND hWndParent, HMENU hMenu,
                            HINSTANCE hInstance, LPVOID) {
  if (auto failed = host::detail::PassGate(__func__)) return failed.Answer<HWND>();
  auto found = lpClassName && !IS_INTRESOURCE(lpClassName) ? S().classes.find(Lower(lpClassName))
                                                           : S().classes.end();
  if (found == S().classes.end()) {
    SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
    return nullptr;
  }
  if (hWndParent != nullptr && Live(hWndParent) == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  HWND handle = reinterpret_cast<HWND>(NewHandle());
  Window& w = S().windows[handle];
  w.handle = handle;
  w.proc = found->second.proc;
  w.info.className = found->second.name;
  w.info.title = lpWindowName ? lpWindowName : "";
  w.info.style = dwStyle;
  w.info.exStyle = dwExStyle;
  w.info.parent = hWndParent;
  w.info.instance = hInstance;
  w.info.menuName = hMenu ? "handle" : found->second.menuName;
  w.width = nWidth == CW_USEDEFAULT ? kDefaultWidth : std::max(nWidth, 0);
  w.height = nWidth == CW_USEDEFAULT ? kDefaultHeight : std::max(nHeight, 0);
  S().order.push_back(handle);

  // The creation messages; lParam carries no CREATESTRUCT here.
  if (!Deliver(w, WM_NCCREATE, 0, 0)) {
    w.info.destroyed = true;
    return nullptr;
  }
  if (Deliver(w, WM_CREATE, 0, 0) == -1) {
    Destroy(w);
    return nullptr;
  }
  if (dwStyle & WS_VISIBLE) {
    w.info.visible = true;
    w.info.everVisible = true;
  }
  return handle;
}

BOOL WINAPI ShowWindow(HWND hWnd, int nCmdShow) {
  host::detail::CallGate gate(__func__);
  Window* w = Live(hWnd);
  if (w == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  // The answer is whether the window was visible before.
  BOOL was = w->info.visible ? TRUE : FALSE;
  w->info.visible = nCmdShow != SW_HIDE;
  w->info.everVisible = w->info.everVisible || w->info.visible;
  return was;
}

BOOL WINAPI UpdateWindow(HWND hWnd) {
  host::detail::CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<BOOL>();
  return Live(hWnd) ? TRUE : FALSE;
}

BOOL WINAPI IsWindow(HWND hWnd) {
  host::detail::CallGate gate(__func__);
  return Live(hWnd) || S().items.count(hWnd) ? TRUE : FALSE;
}

BOOL WINAPI DestroyWindow(HWND hWnd) {
  if (auto failed = host::detail::PassGate(__func__)) return failed.Answer<BOOL>();
  Window* w = Live(hWnd);
  if (w == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  Destroy(*w);
  return TRUE;
}

LRESULT WINAPI DefWindowProcA(HWND hWnd, UINT Msg, WPARAM, LPARAM) {
  if (auto failed = host::detail::PassGate(__func__)) return failed.Answer<LRESULT>();
  Window* w = Live(hWnd);
  if (w == nullptr) return 0;
  // Creation goes ahead and closing destroys; nothing else has a default effect here.
  switch (Msg) {
    case WM_NCCREATE:
      return TRUE;
    case WM_CLOSE:
      Destroy(*w);
      return 0;
    default:
      return 0;
  }
}

LRESULT WINAPI SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  if (auto failed = host::detail::PassGate(__func__)) return failed.Answer<LRESULT>();
  Window* w = Live(hWnd);
  if (w == nullptr) {
    // Items take no messages here; their state is reached through the dialog functions.
    if (!S().items.count(hWnd)) SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  return Deliver(*w, Msg, wParam, lParam);
}

BOOL WINAPI PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  host::detail::CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<BOOL>();
  if (hWnd != nullptr && Live(hWnd) == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  S().queue.push_back(MSG{hWnd, Msg, wParam, lParam, 0, {0, 0}});
  return TRUE;
}

void WINAPI PostQuitMessage(int nExitCode) {
  host::detail::CallGate gate(__func__);
  // As on Windows, the quit request is a flag that GetMessageA reports once the queue is
  // empty, not a message that overtakes the ones already posted.
  S().quit = true;
  S().quitCode = nExitCode;
}

BOOL WINAPI GetMessageA(LPMSG lpMsg, HWND hWnd, UINT, UINT) {
  host::detail::CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<BOOL>();
  if (lpMsg == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  State& s = S();
  auto next = std::find_if(s.queue.begin(), s.queue.end(),
                           [hWnd](const MSG& m) { return hWnd == nullptr || m.hwnd == hWnd; });
  if (next != s.queue.end()) {
    *lpMsg = *next;
    s.queue.erase(next);
    return TRUE;
  }
  if (s.quit) {
    s.quit = false;
    *lpMsg = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(s.quitCode), 0, 0, {0, 0}};
    return FALSE;
  }
  // Windows would wait for input that can never come here; say so rather than hang.
  std::fprintf(stderr,
               "GetMessageA: the queue is empty and no quit is pending; the program would wait "
               "for ever\n");
  std::abort();
}

int WINAPI TranslateAcceleratorA(HWND, HACCEL, LPMSG) {
  host::detail::CallGate gate(__func__);
  // No keyboard input reaches the host, so no message is ever an accelerator.
  return 0;
}

BOOL WINAPI TranslateMessage(const MSG*) {
  host::detail::CallGate gate(__func__);
  return FALSE;
}

LRESULT WINAPI DispatchMessageA(const MSG* lpMsg) {
  if (auto failed = host::detail::PassGate(__func__)) return failed.Answer<LRESULT>();
  if (lpMsg == nullptr) return 0;
  Window* w = Live(lpMsg->hwnd);
  if (w == nullptr) return 0;
  return Deliver(*w, lpMsg->message, lpMsg->wParam, lpMsg->lParam);
}

HDC WINAPI BeginPaint(HWND hWnd, LPPAINTSTRUCT lpPaint) {
  host::detail::CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<HDC>();
  Window* w = Live(hWnd);
  if (w == nullptr || lpPaint == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  HDC dc = reinterpret_cast<HDC>(NewHandle());
  S().paints[dc] = hWnd;
  std::memset(lpPaint, 0, sizeof *lpPaint);
  lpPaint->hdc = dc;
  lpPaint->rcPaint = RECT{0, 0, w->width, w->height};
  return dc;
}

BOOL WINAPI EndPaint(HWND, const PAINTSTRUCT* lpPaint) {
  host::detail::CallGate gate(__func__);
  if (lpPaint != nullptr) S().paints.erase(lpPaint->hdc);
  return TRUE;
}

BOOL WINAPI GetClientRect(HWND hWnd, LPRECT lpRect) {
  host::detail::CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<BOOL>();
  Window* w = Live(hWnd);
  if (w == nullptr || lpRect == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  *lpRect = RECT{0, 0, w->width, w->height};
  return TRUE;
}

int WINAPI DrawTextA(HDC hdc, LPCSTR lpchText, int cchText, LPRECT lprc, UINT format) {
  host::detail::CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<int>();
  auto paint = S().paints.find(hdc);
  if (paint == S().paints.end() || lpchText == nullptr || lprc == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  DrawnText drawn;
  drawn.window = paint->second;
  drawn.text =
      cchText < 0 ? std::string(lpchText) : std::string(lpchText, static_cast<size_t>(cchText));
  drawn.rect = *lprc;
  drawn.format = format;
  S().drawn.push_back(drawn);
  return kLineHeight;  // the height of the one line drawn
}
