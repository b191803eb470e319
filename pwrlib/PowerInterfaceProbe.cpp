#include "PowerInterfaceProbe.h"

#include <string>

#include "CurrentPowerInterface.h"
#include "LegacyPowerInterface.h"

namespace {

constexpr const char* kDebugPrefix = "Power scheme interface: ";

std::unique_ptr<PowerInterface> Legacy(const std::string& why) {
  OutputDebugStringA((std::string(kDebugPrefix) + "legacy (" + why + ")").c_str());
  return std::make_unique<LegacyPowerInterface>();
}

// Looks up exports of one module, in turn, until the first that is missing.
class Exports {
 public:
  explicit Exports(HMODULE module) : module_(module) {}

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

  // The first export not found, or null.
  const char* Missing() const { return missing_; }

 private:
  HMODULE module_;
  const char* missing_ = nullptr;
};

}  // namespace

std::unique_ptr<PowerInterface> ProbePowerInterface() {
  HMODULE powrprof = LoadLibraryA("powrprof.dll");
  if (powrprof == nullptr) {
    return Legacy("powrprof.dll not loaded, error " + std::to_string(GetLastError()));
  }

  CurrentPowerFunctions fn{};
  Exports exports(powrprof);
  exports.Find("PowerGetActiveScheme", &fn.getActiveScheme);
  exports.Find("PowerReadACValueIndex", &fn.readAcValueIndex);
  exports.Find("PowerReadDCValueIndex", &fn.readDcValueIndex);
  exports.Find("PowerWriteACValueIndex", &fn.writeAcValueIndex);
  exports.Find("PowerWriteDCValueIndex", &fn.writeDcValueIndex);
  exports.Find("PowerSetActiveScheme", &fn.setActiveScheme);
  exports.Find("PowerSettingAccessCheck", &fn.settingAccessCheck);
  if (exports.Missing() != nullptr) {
    FreeLibrary(powrprof);
    return Legacy(std::string("powrprof.dll has no ") + exports.Missing());
  }

  // Exported is not enough: Wine, for one, exports stubs that answer an error.
  GUID* active = nullptr;
  const DWORD rc = fn.getActiveScheme(nullptr, &active);
  const bool answered = rc == ERROR_SUCCESS && active != nullptr;
  if (active != nullptr) LocalFree(active);
  if (!answered) {
    FreeLibrary(powrprof);
    return Legacy("PowerGetActiveScheme failed with error " + std::to_string(rc));
  }

  OutputDebugStringA((std::string(kDebugPrefix) + "current").c_str());
  return std::make_unique<CurrentPowerInterface>(fn);
}
