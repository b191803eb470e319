// LoadLibraryA, GetProcAddress and FreeLibrary over the stand-in's own powrprof.dll, whose
// exports depend on the kind of machine a test chose, and over kernel32.dll for the functions
// that Windows XP lacks; LocalAlloc and LocalFree.
#include <cctype>
#include <cstdlib>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "CallGate.h"
#include "CurrentPowerExports.h"
#include "HostControl.h"
#include "HostInternal.h"

namespace host::detail {
namespace {

// The libraries the stand-in can load; the values are never dereferenced.
const HMODULE kPowrprof = reinterpret_cast<HMODULE>(uintptr_t{0x7ff10000});
const HMODULE kKernel32 = reinterpret_cast<HMODULE>(uintptr_t{0x7ff20000});

struct ModuleState {
  std::mutex mutex;
  PowerMachine machine = PowerMachine::kLegacyOnly;
  Kernel32 kernel = Kernel32::kVistaAndLater;
  unsigned powrprofLoads = 0;
  unsigned kernel32Loads = 0;
  std::set<void*> localBlocks;
};

ModuleState& State() {
  static ModuleState* state = new ModuleState;
  return *state;
}

// Function pointers of any type travel as FARPROC, as GetProcAddress hands them out.
template <typename Function>
FARPROC Export(Function* function) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

struct NamedExport {
  const char* name;
  FARPROC address;
};

using Exports = std::vector<NamedExport>;

// The tables are made at their first use, so that a program's objects built before main (the
// exerciser's) find them filled.

// Every machine's powrprof.dll.
const Exports& CapabilityExports() {
  static const Exports exports = {
      {"GetPwrCapabilities", Export(&GetPwrCapabilities)},
  };
  return exports;
}

// The legacy scheme functions (on a current machine they fail).
const Exports& LegacyExports() {
  static const Exports exports = {
      {"CanUserWritePwrScheme", Export(&CanUserWritePwrScheme)},
      {"EnumPwrSchemes", Export(&EnumPwrSchemes)},
      {"GetActivePwrScheme", Export(&GetActivePwrScheme)},
      {"IsPwrHibernateAllowed", Export(&IsPwrHibernateAllowed)},
      {"ReadPwrScheme", Export(&ReadPwrScheme)},
      {"SetActivePwrScheme", Export(&SetActivePwrScheme)},
      {"WritePwrScheme", Export(&WritePwrScheme)},
  };
  return exports;
}

// The current functions.
const Exports& CurrentExports() {
  static const Exports exports = {
      {"CallNtPowerInformation", Export(&CallNtPowerInformation)},
      {"PowerGetActiveScheme", Export(&PowerGetActiveScheme)},
      {"PowerReadACValueIndex", Export(&PowerReadACValueIndex)},
      {"PowerReadDCValueIndex", Export(&PowerReadDCValueIndex)},
      {"PowerSetActiveScheme", Export(&PowerSetActiveScheme)},
      {"PowerSettingAccessCheck", Export(&PowerSettingAccessCheck)},
      {"PowerWriteACValueIndex", Export(&PowerWriteACValueIndex)},
      {"PowerWriteDCValueIndex", Export(&PowerWriteDCValueIndex)},
  };
  return exports;
}

// kernel32.dll's functions that system code looks up, since Windows XP has none of them.
const Exports& Kernel32Exports() {
  static const Exports exports = {
      {"GetFinalPathNameByHandleA", Export(&GetFinalPathNameByHandleA)},
      {"SetFileInformationByHandle", Export(&SetFileInformationByHandle)},
  };
  return exports;
}

bool SameLetters(const std::string& a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i] != '\0'; ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return i == a.size() && b[i] == '\0';
}

bool ExportsLegacy(PowerMachine machine) {
  return machine == PowerMachine::kLegacyOnly || machine == PowerMachine::kCurrent;
}

bool ExportsCurrent(PowerMachine machine) {
  return machine == PowerMachine::kCurrent || machine == PowerMachine::kCurrentWithoutLegacy;
}

FARPROC Find(const std::string& wanted, const Exports& exports) {
  for (const NamedExport& e : exports) {
    if (wanted == e.name) return e.address;
  }
  return nullptr;
}

// Export names are case-sensitive, as on Windows.
FARPROC FindExport(const char* name, PowerMachine machine) {
  const std::string wanted = name;
  FARPROC found = Find(wanted, CapabilityExports());
  if (found == nullptr && ExportsLegacy(machine)) found = Find(wanted, LegacyExports());
  if (found == nullptr && ExportsCurrent(machine)) found = Find(wanted, CurrentExports());
  return found;
}

FARPROC FindKernel32Export(const char* name, Kernel32 kernel) {
  if (kernel != Kernel32::kVistaAndLater) return nullptr;
  return Find(name, Kernel32Exports());
}

}  // namespace

bool IsCurrentPowerMachine() {
  ModuleState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  return ExportsCurrent(s.machine);
}

void ResetModules() {
  ModuleState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.machine = PowerMachine::kLegacyOnly;
  s.kernel = Kernel32::kVistaAndLater;
  s.powrprofLoads = 0;
  s.kernel32Loads = 0;
  for (void* block : s.localBlocks) std::free(block);
  s.localBlocks.clear();
}

}  // namespace host::detail

namespace host {

void SetPowerMachine(PowerMachine machine) {
  auto& s = detail::State();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.machine = machine;
}

void SetKernel32(Kernel32 kernel) {
  auto& s = detail::State();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.kernel = kernel;
}

size_t LoadedLibraryCount() {
  auto& s = detail::State();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.powrprofLoads + s.kernel32Loads;
}

size_t LocalBlockCount() {
  auto& s = detail::State();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.localBlocks.size();
}

}  // namespace host

namespace host::detail {

BOOL Unload(HMODULE module) {
  auto& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  unsigned* loads = module == kPowrprof   ? &s.powrprofLoads
                    : module == kKernel32 ? &s.kernel32Loads
                                          : nullptr;
  if (loads == nullptr || *loads == 0) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return FALSE;
  }
  --*loads;
  return TRUE;
}

bool FreeBlock(HLOCAL block) {
  if (block == nullptr) return false;
  auto& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (s.localBlocks.erase(block) == 0) return false;
  std::free(block);
  return true;
}

}  // namespace host::detail

// Only powrprof.dll, on a machine that has one, and kernel32.dll, by their names with or without
// ".dll", in any case; a path is not searched.
HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName) {
  host::detail::CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<HMODULE>();
  if (lpLibFileName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const std::string name = lpLibFileName;
  auto& s = host::detail::State();
  std::lock_guard<std::mutex> lock(s.mutex);
  if ((host::detail::SameLetters(name, "powrprof.dll") ||
       host::detail::SameLetters(name, "powrprof")) &&
      s.machine != host::PowerMachine::kWithoutPowrprof) {
    ++s.powrprofLoads;
    return host::detail::kPowrprof;
  }
  if (host::detail::SameLetters(name, "kernel32.dll") ||
      host::detail::SameLetters(name, "kernel32")) {
    ++s.kernel32Loads;
    return host::detail::kKernel32;
  }
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
  host::detail::CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<FARPROC>();
  auto& s = host::detail::State();
  host::PowerMachine machine;
  host::Kernel32 kernel;
  bool isKernel32 = false;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    isKernel32 = hModule == host::detail::kKernel32 && s.kernel32Loads > 0;
    if (!isKernel32 && (hModule != host::detail::kPowrprof || s.powrprofLoads == 0)) {
      SetLastError(ERROR_MOD_NOT_FOUND);
      return nullptr;
    }
    machine = s.machine;
    kernel = s.kernel;
  }
  // An ordinal (a number below 0x10000 in place of the name) names no export here.
  FARPROC found = IS_INTRESOURCE(lpProcName) ? nullptr
                  : isKernel32               ? host::detail::FindKernel32Export(lpProcName, kernel)
                                             : host::detail::FindExport(lpProcName, machine);
  if (found == nullptr) SetLastError(ERROR_PROC_NOT_FOUND);
  return found;
}

BOOL WINAPI FreeLibrary(HMODULE hLibModule) {
  host::detail::CallGate gate(__func__);
  // Released even when the call reports a failure, as a failed close releases its handle.
  const BOOL unloaded = host::detail::Unload(hLibModule);
  if (gate.Fails()) return gate.Answer<BOOL>();
  return unloaded;
}

HLOCAL WINAPI LocalAlloc(UINT uFlags, SIZE_T uBytes) {
  host::detail::CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<HLOCAL>();
  void* block = (uFlags & LMEM_ZEROINIT) != 0 ? std::calloc(uBytes == 0 ? 1 : uBytes, 1)
                                              : std::malloc(uBytes == 0 ? 1 : uBytes);
  if (block == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  auto& s = host::detail::State();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.localBlocks.insert(block);
  return block;
}

// Answers null when the block was freed, and the block itself when the call failed: a block
// that LocalAlloc never handed out, or an injected failure, which frees the block all the same,
// as a failed close releases its handle.
HLOCAL WINAPI LocalFree(HLOCAL hMem) {
  host::detail::CallGate gate(__func__);
  const bool freed = host::detail::FreeBlock(hMem);
  if (gate.Fails()) return gate.Answer<HLOCAL>(hMem);
  if (hMem == nullptr) return nullptr;
  if (!freed) {
    SetLastError(ERROR_INVALID_HANDLE);
    return hMem;
  }
  return nullptr;
}
