#include "PowerInterfaceProbe.h"

#include "CurrentPowerInterface.h"
#include "LegacyPowerInterface.h"

namespace {

constexpr const char* kDebugPrefix = "Power scheme interface: ";

// The machine offers no power-scheme interface: every question answers no, nothing can be
// read or written, and the scheme holds no setting.
class NoPowerInterface : public PowerInterface {
 public:
  const char* Name() const override { return "none"; }
  bool GetCapabilities(SYSTEM_POWER_CAPABILITIES*) override { return false; }
  bool GetActiveScheme(UINT*) override { return false; }
  bool IsHibernateAllowed(const SYSTEM_POWER_CAPABILITIES*) override { return false; }
  bool CanUserWriteScheme() override { return false; }
  bool ReadScheme(UINT, POWER_POLICY*) override { return false; }
  CommitResult WriteAndActivate(UINT*, POWER_POLICY*, const POWER_POLICY&) override {
    return CommitResult::kNotWritten;
  }
  void ApplyDisplayPowerOff(const POWER_POLICY&) override {}
  bool WriteUserCopy(const POWER_POLICY&, const std::function<UINT()>&) override { return false; }
  DWORD GetMinutes(const POWER_POLICY&, SettingId) const override { return 0; }
  const char* SetMinutes(POWER_POLICY&, SettingId, DWORD) const override {
    return "No power scheme interface";
  }
  WindowsPolicyHold HeldByWindowsPolicy(SettingId) override { return {}; }
  bool PolicyInForce(PowerSource, SYSTEM_POWER_POLICY*) override { return false; }
  bool Holds(const POWER_POLICY&, SettingId, DWORD) const override { return false; }
};

ProbedPowerInterface Chosen(std::shared_ptr<PowerInterface> power, bool found,
                            const std::string& why) {
  std::string text = std::string(kDebugPrefix) + power->Name();
  if (!why.empty()) text += " (" + why + ")";
  OutputDebugStringA(text.c_str());
  return {std::move(power), found, why};
}

}  // namespace

ProbedPowerInterface ProbePowerInterface() {
  HMODULE powrprof = LoadLibraryA("powrprof.dll");
  if (powrprof == nullptr) {
    return Chosen(std::make_shared<NoPowerInterface>(), false,
                  "powrprof.dll not loaded, error " + std::to_string(GetLastError()));
  }

  std::string notCurrent;
  CurrentPowerFunctions current{};
  if (const char* missing = CurrentPowerInterface::FindFunctions(powrprof, &current)) {
    notCurrent = std::string("powrprof.dll has no ") + missing;
  } else {
    // Exported is not enough: Wine, for one, exports stubs that answer an error.
    GUID* active = nullptr;
    const DWORD rc = current.getActiveScheme(nullptr, &active);
    const bool answered = rc == ERROR_SUCCESS && active != nullptr;
    if (active != nullptr) LocalFree(active);
    if (answered) {
      return Chosen(std::make_shared<CurrentPowerInterface>(powrprof, current), true, "");
    }
    notCurrent = "PowerGetActiveScheme failed with error " + std::to_string(rc);
  }

  LegacyPowerFunctions legacy{};
  if (const char* missing = LegacyPowerInterface::FindFunctions(powrprof, &legacy)) {
    FreeLibrary(powrprof);
    return Chosen(std::make_shared<NoPowerInterface>(), false,
                  notCurrent + "; powrprof.dll has no " + missing);
  }
  return Chosen(std::make_shared<LegacyPowerInterface>(powrprof, legacy), true, notCurrent);
}

// Never destroyed: the library stays loaded for the rest of the process, and nothing reaches
// the platform while the process ends.
std::shared_ptr<PowerInterface> DefaultPowerInterface() {
  static const auto* const chosen =
      new std::shared_ptr<PowerInterface>(ProbePowerInterface().power);
  return *chosen;
}
