// Modal dialogs, dialog items, message boxes and the fatal exit.
#include <unistd.h>
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

#include "CallGate.h"
#include "UiState.h"

namespace host::ui::detail {

namespace {

// The window whose items a dialog function addresses, or null with the Windows error.
Window* ItemParent(HWND dialog) {
  Window* w = Live(dialog);
  if (w == nullptr) SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return w;
}

// Windows translates an item's text as Microsoft documents it: blanks at the start skipped, a
// minus sign taken when signed, then decimal digits up to the end of the text or the first
// character that is not one ("12x" is 12). No digit at all, or a value above INT_MAX (signed)
// or UINT_MAX (unsigned), translates nothing; so does one below INT_MIN. What Windows makes of
// a minus sign when unsigned, of a plus sign or of a tab is not documented: the stand-in takes
// none of them (Wine 8 takes all three, as strtoul does), so a caller must refuse them itself.
bool ParseNumber(const std::string& text, bool isSigned, UINT* value) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (isSigned && i < text.size() && text[i] == '-') {
    negative = true;
    ++i;
  }
  const size_t digits = i;
  unsigned long long n = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    n = n * 10 + static_cast<unsigned>(text[i] - '0');
    if (n > 0xFFFFFFFFull) return false;
    ++i;
  }
  if (i == digits) return false;
  if (isSigned) {
    const long long v = negative ? -static_cast<long long>(n) : static_cast<long long>(n);
    if (v < INT_MIN || v > INT_MAX) return false;
    *value = static_cast<UINT>(static_cast<int>(v));
  } else {
    *value = static_cast<UINT>(n);
  }
  return true;
}

}  // namespace

}  // namespace host::ui::detail

using namespace host::ui;
using namespace host::ui::detail;

INT_PTR WINAPI DialogBoxParamA(HINSTANCE hInstance, LPCSTR lpTemplateName, HWND hWndParent,
                               DLGPROC lpDialogFunc, LPARAM dwInitParam) {
  if (auto failed = host::detail::PassGate(__func__)) return failed.Answer<INT_PTR>();
  if (lpTemplateName == nullptr || lpDialogFunc == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  Window* owner = nullptr;
  if (hWndParent != nullptr && (owner = Live(hWndParent)) == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return -1;
  }

  HWND handle = reinterpret_cast<HWND>(NewHandle());
  Window& dialog = S().windows[handle];
  dialog.handle = handle;
  dialog.dlgProc = lpDialogFunc;
  dialog.info.className = "#32770";
  dialog.info.parent = hWndParent;
  dialog.info.instance = hInstance;
  dialog.info.dialog = true;
  S().order.push_back(handle);

  DialogRun run;
  run.dialog = handle;
  run.owner = hWndParent;
  run.instance = hInstance;
  run.templateName = ResourceName(lpTemplateName);
  run.templateId = IS_INTRESOURCE(lpTemplateName)
                       ? static_cast<int>(reinterpret_cast<uintptr_t>(lpTemplateName))
                       : 0;
  run.proc = lpDialogFunc;
  run.initParam = dwInitParam;
  S().dialogs.push_back(run);

  // A modal dialog disables its owner while it runs.
  bool ownerWasEnabled = owner && owner->info.enabled;
  if (owner) owner->info.enabled = false;

  Deliver(dialog, WM_INITDIALOG, 0, dwInitParam);
  if (!dialog.ended) {
    dialog.info.visible = true;
    dialog.info.everVisible = true;
    DialogScript script = S().dialogScript;  // a copy: the script may replace itself
    if (script) {
      script(run);
    } else {
      host::ui::PressCloseBox(handle);
    }
  }

  INT_PTR result = -1;
  if (dialog.ended) {
    result = dialog.result;
  } else {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  }
  Destroy(dialog);
  if (owner && ownerWasEnabled) owner->info.enabled = true;
  return result;
}

BOOL WINAPI EndDialog(HWND hDlg, INT_PTR nResult) {
  host::detail::CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<BOOL>();
  Window* w = Live(hDlg);
  if (w == nullptr || !w->info.dialog) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  S().endDialogs.push_back({hDlg, nResult});
  // The dialog ends when its procedure returns to the modal loop, not at once.
  w->ended = true;
  w->result = nResult;
  w->info.visible = false;
  return TRUE;
}

HWND WINAPI GetDlgItem(HWND hDlg, int nIDDlgItem) {
  host::detail::CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<HWND>();
  Window* w = ItemParent(hDlg);
  return w ? ItemOf(*w, nIDDlgItem).handle : nullptr;
}

BOOL WINAPI SetDlgItemInt(HWND hDlg, int nIDDlgItem, UINT uValue, BOOL bSigned) {
  host::detail::CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<BOOL>();
  Window* w = ItemParent(hDlg);
  if (w == nullptr) return FALSE;
  ItemOf(*w, nIDDlgItem).text =
      bSigned ? std::to_string(static_cast<int>(uValue)) : std::to_string(uValue);
  return TRUE;
}

UINT WINAPI GetDlgItemInt(HWND hDlg, int nIDDlgItem, BOOL* lpTranslated, BOOL bSigned) {
  host::detail::CallGate gate(__func__);
  if (lpTranslated) *lpTranslated = FALSE;
  if (gate.Fails()) return gate.Answer<UINT>();
  Window* w = ItemParent(hDlg);
  if (w == nullptr) return 0;
  UINT value = 0;
  if (!ParseNumber(ItemOf(*w, nIDDlgItem).text, bSigned != FALSE, &value)) return 0;
  if (lpTranslated) *lpTranslated = TRUE;
  return value;
}

BOOL WINAPI SetDlgItemTextA(HWND hDlg, int nIDDlgItem, LPCSTR lpString) {
  host::detail::CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<BOOL>();
  Window* w = ItemParent(hDlg);
  if (w == nullptr) return FALSE;
  ItemOf(*w, nIDDlgItem).text = lpString ? lpString : "";
  return TRUE;
}

UINT WINAPI GetDlgItemTextA(HWND hDlg, int nIDDlgItem, LPSTR lpString, int cchMax) {
  host::detail::CallGate gate(__func__);
  if (lpString && cchMax > 0) lpString[0] = '\0';
  if (gate.Fails()) return gate.Answer<UINT>();
  Window* w = ItemParent(hDlg);
  if (w == nullptr || lpString == nullptr || cchMax <= 0) return 0;
  const std::string& text = ItemOf(*w, nIDDlgItem).text;
  size_t count = std::min(text.size(), static_cast<size_t>(cchMax - 1));
  std::memcpy(lpString, text.data(), count);
  lpString[count] = '\0';
  return static_cast<UINT>(count);
}

BOOL WINAPI CheckDlgButton(HWND hDlg, int nIDButton, UINT uCheck) {
  host::detail::CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<BOOL>();
  Window* w = ItemParent(hDlg);
  if (w == nullptr) return FALSE;
  ItemOf(*w, nIDButton).check = uCheck;
  return TRUE;
}

UINT WINAPI IsDlgButtonChecked(HWND hDlg, int nIDButton) {
  host::detail::CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<UINT>();
  Window* w = ItemParent(hDlg);
  return w ? ItemOf(*w, nIDButton).check : 0;
}

int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType) {
  if (auto failed = host::detail::PassGate(__func__)) return failed.Answer<int>();
  host::ui::MessageBoxCall call;
  call.owner = hWnd;
  call.text = lpText ? lpText : "";
  // Windows captions a box without a caption "Error".
  call.caption = lpCaption ? lpCaption : "Error";
  call.type = uType;
  S().boxes.push_back(call);
  host::ui::MessageBoxScript script = S().boxScript;
  if (script) return script(call);
  std::fprintf(stderr, "MessageBoxA [%s] %s\n", call.caption.c_str(), call.text.c_str());
  return IDOK;
}

void WINAPI FatalAppExitA(UINT uAction, LPCSTR lpMessageText) {
  host::detail::PassGate(__func__);
  host::ui::FatalExit fatal{uAction, lpMessageText ? lpMessageText : ""};
  S().fatalExits.push_back(fatal);
  host::ui::FatalExitHook hook = S().fatalHook;
  if (hook) hook(fatal);
  // The process ends at once: no destructors of static objects, no exit handlers.
  std::fprintf(stderr, "FatalAppExitA: %s\n", fatal.text.c_str());
  std::fflush(stderr);
  _exit(1);
}
