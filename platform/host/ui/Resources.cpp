// Module handle and resources. The host has no resource data beyond the program's string
// table, linked into it as data (see pm_host_string_table); icons, cursors and accelerator
// tables are handles that only name their resource.
#include <algorithm>
#include <cstring>

#include "CallGate.h"
#include "UiState.h"

// The program's string table, generated from its resource script; absent (null) in a
// program without one. The record is the one StringTable.cpp.in defines.
extern "C" {
struct HostStringResource {
  unsigned id;
  const char* text;
};
extern const HostStringResource pm_host_string_table[] __attribute__((weak));
}

namespace host::ui::detail {

namespace {

const char* FindString(UINT id) {
  if (pm_host_string_table == nullptr) return nullptr;
  for (const HostStringResource* entry = pm_host_string_table; entry->text != nullptr; ++entry) {
    if (entry->id == id) return entry->text;
  }
  return nullptr;
}

// The image base a Windows program is usually loaded at; any stable non-null value would do.
constexpr uintptr_t kModuleBase = 0x400000;

void* ResourceHandle(const char* kind, HINSTANCE instance, LPCSTR name) {
  std::string description =
      std::string(instance ? "" : "system ") + kind + " " + ResourceName(name);
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
  host::detail::CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<HMODULE>();
  if (lpModuleName != nullptr) {
    SetLastError(126);  // ERROR_MOD_NOT_FOUND: the host knows only the program itself
    return nullptr;
  }
  return reinterpret_cast<HMODULE>(kModuleBase);
}

int WINAPI LoadStringA(HINSTANCE, UINT uID, LPSTR lpBuffer, int cchBufferMax) {
  host::detail::CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<int>();
  if (lpBuffer == nullptr || cchBufferMax <= 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const char* found = FindString(uID);
  if (found == nullptr) {
    lpBuffer[0] = '\0';
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return 0;
  }
  // Cut to the buffer, always terminated; the answer counts the characters copied.
  size_t count = std::min(std::strlen(found), static_cast<size_t>(cchBufferMax - 1));
  std::memcpy(lpBuffer, found, count);
  lpBuffer[count] = '\0';
  return static_cast<int>(count);
}

HICON WINAPI LoadIconA(HINSTANCE hInstance, LPCSTR lpIconName) {
  host::detail::CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<HICON>();
  return static_cast<HICON>(ResourceHandle("icon", hInstance, lpIconName));
}

HCURSOR WINAPI LoadCursorA(HINSTANCE hInstance, LPCSTR lpCursorName) {
  host::detail::CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<HCURSOR>();
  return static_cast<HCURSOR>(ResourceHandle("cursor", hInstance, lpCursorName));
}

HACCEL WINAPI LoadAcceleratorsA(HINSTANCE hInstance, LPCSTR lpTableName) {
  host::detail::CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<HACCEL>();
  return static_cast<HACCEL>(ResourceHandle("accelerators", hInstance, lpTableName));
}
