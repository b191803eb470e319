// Looks up the functions of a power-scheme interface in a loaded module, in a fixed order, up
// to the first that is missing, so that a probe can say which one that was.
#ifndef PM_MODULEEXPORTS_H
#define PM_MODULEEXPORTS_H

#include "Win32Api.h"

class ModuleExports {
 public:
  explicit ModuleExports(HMODULE module) : module_(module) {}

  // Fills `slot` with the export `name`, unless an earlier one was missing.
  template <typename Function>
  void Find(const char* name, Function* slot) {
    if (missing_ != nullptr) return;
    FARPROC found = GetProcAddress(module_, name);
    if (found == nullptr) {
      missing_ = name;
      return;
    }
    // Through the one function type that converts to every other without a warning.
    *slot = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(found));
  }

  // The first export not found, or null when every one was.
  const char* Missing() const { return missing_; }

 private:
  HMODULE module_;
  const char* missing_ = nullptr;
};

#endif
