// The test control surface of the user-interface stand-in (HostUiControl.h).
#include "HostUiControl.h"

#include "UiState.h"

namespace host::ui {

using namespace detail;

void Reset() {
  State& s = S();
  uintptr_t next = s.nextHandle;
  std::map<std::string, uintptr_t> resourceHandles = std::move(s.resourceHandles);
  std::map<uintptr_t, std::string> resourceNames = std::move(s.resourceNames);
  s = State();
  s.nextHandle = next;
  s.resourceHandles = std::move(resourceHandles);
  s.resourceNames = std::move(resourceNames);
}

std::string ResourceOf(const void* handle) {
  auto found = S().resourceNames.find(reinterpret_cast<uintptr_t>(handle));
  return found == S().resourceNames.end() ? "" : found->second;
}

bool FindClass(const std::string& name, WindowClass* out) {
  auto found = S().classes.find(Lower(name));
  if (found == S().classes.end()) return false;
  if (out) *out = found->second;
  return true;
}

std::vector<HWND> Windows() { return S().order; }

bool GetWindowInfo(HWND window, WindowInfo* out) {
  auto found = S().windows.find(window);
  if (found == S().windows.end()) return false;
  if (out) *out = found->second.info;
  return true;
}

bool QuitPending(int* exitCode) {
  if (S().quit && exitCode) *exitCode = S().quitCode;
  return S().quit;
}

std::vector<DrawnText> DrawnTexts() { return S().drawn; }

void SetDialogScript(DialogScript script) { S().dialogScript = std::move(script); }

std::vector<DialogRun> Dialogs() { return S().dialogs; }

bool IsDialogOpen(HWND dialog) {
  Window* w = Live(dialog);
  return w && w->info.dialog && !w->ended;
}

namespace {

// The open dialog, or null: an ended or destroyed dialog takes no more input.
Window* OpenDialog(HWND dialog) { return IsDialogOpen(dialog) ? Live(dialog) : nullptr; }

INT_PTR Command(Window& dialog, int id, WORD notification) {
  HWND item = ItemOf(dialog, id).handle;
  return Deliver(dialog, WM_COMMAND, MAKEWPARAM(id, notification), reinterpret_cast<LPARAM>(item));
}

}  // namespace

INT_PTR Click(HWND dialog, int id) {
  Window* w = OpenDialog(dialog);
  return w ? Command(*w, id, BN_CLICKED) : -1;
}

INT_PTR Tick(HWND dialog, int id) {
  Window* w = OpenDialog(dialog);
  if (w == nullptr) return -1;
  Item& item = ItemOf(*w, id);
  item.check = item.check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
  return Command(*w, id, BN_CLICKED);
}

INT_PTR Type(HWND dialog, int id, const std::string& text) {
  Window* w = OpenDialog(dialog);
  if (w == nullptr) return -1;
  ItemOf(*w, id).text = text;
  return Command(*w, id, EN_CHANGE);
}

INT_PTR PressEscape(HWND dialog) {
  Window* w = OpenDialog(dialog);
  return w ? Command(*w, IDCANCEL, BN_CLICKED) : -1;
}

INT_PTR PressCloseBox(HWND dialog) {
  Window* w = OpenDialog(dialog);
  if (w == nullptr) return -1;
  // What the default dialog procedure makes of the close box when the procedure leaves
  // each step to it.
  INT_PTR answer = Deliver(*w, WM_SYSCOMMAND, SC_CLOSE, 0);
  if (answer) return answer;
  answer = Deliver(*w, WM_CLOSE, 0, 0);
  if (answer || !IsDialogOpen(dialog)) return answer;
  return Command(*w, IDCANCEL, BN_CLICKED);
}

INT_PTR SendToDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  Window* w = OpenDialog(dialog);
  return w ? Deliver(*w, message, wParam, lParam) : -1;
}

std::string ItemText(HWND dialog, int id) {
  auto found = S().windows.find(dialog);
  if (found == S().windows.end()) return "";
  auto item = found->second.items.find(id);
  return item == found->second.items.end() ? "" : item->second.text;
}

UINT ItemCheck(HWND dialog, int id) {
  auto found = S().windows.find(dialog);
  if (found == S().windows.end()) return BST_UNCHECKED;
  auto item = found->second.items.find(id);
  return item == found->second.items.end() ? BST_UNCHECKED : item->second.check;
}

std::vector<EndDialogCall> EndDialogs() { return S().endDialogs; }

std::vector<MessageBoxCall> MessageBoxes() { return S().boxes; }

void SetMessageBoxScript(MessageBoxScript script) { S().boxScript = std::move(script); }

std::vector<FatalExit> FatalExits() { return S().fatalExits; }

void SetFatalExitHook(FatalExitHook hook) { S().fatalHook = std::move(hook); }

}  // namespace host::ui
