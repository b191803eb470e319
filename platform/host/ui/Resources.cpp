// Module handle and resources. The host has no resource data beyond the string table that
// the program registers (host::ui::SetString); icons, cursors and accelerator tables are
// handles that only name their resource.
#include <algorithm>
#include <cstring>

#include "CallGate.h"
#include "UiState.h"

namespace host::ui::detail {

namespace {

// The image base a Windows program is usually loaded at; any stable non-null value would do.
constexpr uintptr_t kModuleBase = 0x400000;

void* ResourceHandle(const char* kind, HINSTANCE instance, LPCSTR name) {
  std::string description = std::string(instance ? "" : "system ") + kind + " " +
                            ResourceName(name);
  State& s = S();
  auto found = s.resourceHandles.find(description);
  if (found != s.resourceHandles.end()) return reinterpret_cast<void*>(found->second);
  uintptr_t handle = NewHandle();
  s.resourceHandles[description] = handle;
  s.resourceNames[handle] = description;
  return reinterpret_cast<void*>(handle);
}

}  // namespace

}  // namespace host::ui::detail

using namespace host::ui;
using namespace host::ui::detail;

HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName) {
  host::detail::CallGate gate("GetModuleHandleA");
  if (gate.FailsWithLastError()) return nullptr;
  if (lpModuleName != nullptr) {
    SetLastError(126);  // ERROR_MOD_NOT_FOUND: the host knows only the program itself
    return nullptr;
  }
  return reinterpret_cast<HMODULE>(kModuleBase);
}

int WINAPI LoadStringA(HINSTANCE, UINT uID, LPSTR lpBuffer, int cchBufferMax) {
  host::detail::CallGate gate("LoadStringA");
  if (gate.FailsWithLastError()) return 0;
  if (lpBuffer == nullptr || cchBufferMax <= 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  auto found = S().strings.find(uID);
  if (found == S().strings.end()) {
    lpBuffer[0] = '\0';
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return 0;
  }
  // Cut to the buffer, always terminated; the answer counts the characters copied.
  size_t count = std::min(found->second.size(), static_cast<size_t>(cchBufferMax - 1));
  std::memcpy(lpBuffer, found->second.data(), count);
  lpBuffer[count] = '\0';
  return static_cast<int>(count);
}

HICON WINAPI LoadIconA(HINSTANCE hInstance, LPCSTR lpIconName) {
  host::detail::CallGate gate("LoadIconA");
  if (gate.FailsWithLastError()) return nullptr;
  return static_cast<HICON>(ResourceHandle("icon", hInstance, lpIconName));
}

HCURSOR WINAPI LoadCursorA(HINSTANCE hInstance, LPCSTR lpCursorName) {
  host::detail::CallGate gate("LoadCursorA");
  if (gate.FailsWithLastError()) return nullptr;
  return static_cast<HCURSOR>(ResourceHandle("cursor", hInstance, lpCursorName));
}

HACCEL WINAPI LoadAcceleratorsA(HINSTANCE hInstance, LPCSTR lpTableName) {
  host::detail::CallGate gate("LoadAcceleratorsA");
  if (gate.FailsWithLastError()) return nullptr;
  return static_cast<HACCEL>(ResourceHandle("accelerators", hInstance, lpTableName));
}
