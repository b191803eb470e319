#include "DialogUser.h"

#include <gtest/gtest.h>

namespace winetest {

namespace {

constexpr DWORD kBoxTimeoutMs = 10000;

// Any message box up besides `dialog`, or null.
HWND OtherBox(HWND dialog) {
  HWND box = FindWindowA("#32770", nullptr);
  while (box != nullptr && box == dialog) box = FindWindowExA(nullptr, box, "#32770", nullptr);
  return box;
}

bool WaitUntilGone(HWND window, DWORD timeoutMs) {
  for (DWORD waited = 0; IsWindow(window) && waited < timeoutMs; waited += 25) Sleep(25);
  return !IsWindow(window);
}

}  // namespace

HWND FindDialog(const char* caption, DWORD timeoutMs) {
  for (DWORD waited = 0;; waited += 50) {
    HWND found = FindWindowA("#32770", caption);
    if (found != nullptr && IsWindowVisible(found)) return found;
    if (waited >= timeoutMs) return nullptr;
    Sleep(50);
  }
}

std::string WindowText(HWND window) {
  char text[512] = "";
  SendMessageA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  return text;
}

std::string ItemText(HWND dialog, int id) {
  char text[512] = "";
  GetDlgItemTextA(dialog, id, text, sizeof text);
  return text;
}

void Type(HWND dialog, int id, const char* text) { SetDlgItemTextA(dialog, id, text); }

LRESULT CheckState(HWND dialog, int id) {
  return SendMessageA(GetDlgItem(dialog, id), BM_GETCHECK, 0, 0);
}

void Click(Where where, HWND dialog, int id) {
  DWORD_PTR result = 0;
  if (SendMessageTimeoutA(GetDlgItem(dialog, id), BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, kBoxTimeoutMs,
                          &result) != 0) {
    return;
  }
  HWND box = OtherBox(dialog);
  ADD_FAILURE_AT(where.file, where.line)
      << "the click on " << id << " did not end"
      << (box != nullptr ? ": box \"" + WindowText(box) + "\": " + ItemText(box, 0xFFFF) : "");
  if (box != nullptr) PostMessageA(box, WM_COMMAND, IDOK, 0);
}

void ClickExpectingBox(Where where, HWND dialog, int id, const char* caption,
                       const std::string& text) {
  PostMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
  HWND box = FindDialog(caption, kBoxTimeoutMs);
  if (box == nullptr) {
    ADD_FAILURE_AT(where.file, where.line) << "no box \"" << caption << "\"";
    return;
  }
  int buttons = 0;
  for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    char cls[32] = "";
    GetClassNameA(c, cls, sizeof cls);
    if (lstrcmpiA(cls, "Button") == 0) ++buttons;
  }
  const std::string shown = ItemText(box, 0xFFFF);
  if (shown != text || GetWindow(box, GW_OWNER) != nullptr || buttons != 1 ||
      !IsWindowEnabled(dialog)) {
    ADD_FAILURE_AT(where.file, where.line)
        << "box \"" << caption << "\"\n  text     \"" << shown << "\"\n  expected \"" << text
        << "\"\n  owner " << GetWindow(box, GW_OWNER) << " (expected none), buttons " << buttons
        << " (expected 1), dialog enabled " << IsWindowEnabled(dialog) << " (expected 1)";
  }
  PostMessageA(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
  if (!WaitUntilGone(box, 5000)) {
    ADD_FAILURE_AT(where.file, where.line) << "box \"" << caption << "\" not dismissed";
  }
}

bool CloseWith(HWND dialog, int id, DWORD timeoutMs) {
  PostMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
  return WaitUntilGone(dialog, timeoutMs);
}

}  // namespace winetest
