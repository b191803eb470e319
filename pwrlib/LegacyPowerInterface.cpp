#include "LegacyPowerInterface.h"

#include <string>

#include "ModuleExports.h"

namespace {

// Per-user copies of the schemes' user halves, below HKEY_CURRENT_USER; the scheme's index in
// decimal names its key.
constexpr const char* kUserPoliciesPath = "Control Panel\\PowerCfg\\PowerPolicies\\";
constexpr const char* kUserPoliciesValue = "Policies";

constexpr const char* kHibernationNotAfterStandby =
    "Hibernation time-out is not longer than the Standby time-out";

// Where the record keeps each time-out, in seconds.
ULONG& Seconds(POWER_POLICY& p, SettingId s) {
  const bool ac = s.source == PowerSource::kAc;
  switch (s.timeout) {
    case Timeout::kVideo:
      return ac ? p.user.VideoTimeoutAc : p.user.VideoTimeoutDc;
    case Timeout::kStandby:
      return ac ? p.user.IdleTimeoutAc : p.user.IdleTimeoutDc;
    case Timeout::kHibernate:  // the delay after entering standby
      return ac ? p.mach.DozeS4TimeoutAc : p.mach.DozeS4TimeoutDc;
    case Timeout::kSpinDown:
      return ac ? p.user.SpindownTimeoutAc : p.user.SpindownTimeoutDc;
    case Timeout::kMachineStandby:
      break;
  }
  return ac ? p.mach.DozeTimeoutAc : p.mach.DozeTimeoutDc;
}

ULONG Seconds(const POWER_POLICY& p, SettingId s) {
  return Seconds(const_cast<POWER_POLICY&>(p), s);
}

POWER_ACTION_POLICY& IdleAction(POWER_POLICY& p, PowerSource source) {
  return source == PowerSource::kAc ? p.user.IdleAc : p.user.IdleDc;
}

// A scheme's own name and description, as EnumPwrSchemes gives them.
struct SchemeTexts {
  UINT index = 0;
  bool found = false;
  std::wstring name;
  std::wstring description;
  bool hasDescription = false;
};

// A text the callback was given: up to its terminating zero, within its size in bytes (which
// either counts the zero or not, so that both readings give the whole text).
std::wstring TextOf(LPCWSTR text, DWORD bytes) {
  const size_t most = bytes / sizeof(WCHAR);
  size_t length = 0;
  while (length < most && text[length] != L'\0') ++length;
  return std::wstring(text, length);
}

// Keeps the texts of the scheme looked for and stops there. Nothing may be thrown back into
// the platform: a text that cannot be kept leaves the scheme not found.
BOOLEAN CALLBACK KeepTexts(UINT index, DWORD nameBytes, LPWSTR name, DWORD descriptionBytes,
                           LPWSTR description, PPOWER_POLICY, LPARAM context) {
  auto* texts = reinterpret_cast<SchemeTexts*>(context);
  if (index != texts->index) return TRUE;
  if (name == nullptr) return FALSE;
  try {
    texts->name = TextOf(name, nameBytes);
    texts->hasDescription = description != nullptr;
    if (description != nullptr) texts->description = TextOf(description, descriptionBytes);
    texts->found = true;
  } catch (...) {
    texts->found = false;
  }
  return FALSE;
}

}  // namespace

const char* LegacyPowerInterface::FindFunctions(HMODULE module, LegacyPowerFunctions* functions) {
  ModuleExports exports(module);
  exports.Find("GetActivePwrScheme", &functions->getActivePwrScheme);
  exports.Find("ReadPwrScheme", &functions->readPwrScheme);
  exports.Find("WritePwrScheme", &functions->writePwrScheme);
  exports.Find("SetActivePwrScheme", &functions->setActivePwrScheme);
  exports.Find("EnumPwrSchemes", &functions->enumPwrSchemes);
  exports.Find("IsPwrHibernateAllowed", &functions->isPwrHibernateAllowed);
  exports.Find("CanUserWritePwrScheme", &functions->canUserWritePwrScheme);
  exports.Find("GetPwrCapabilities", &functions->getPwrCapabilities);
  return exports.Missing();
}

LegacyPowerInterface::LegacyPowerInterface(HMODULE module, const LegacyPowerFunctions& functions)
    : PowerInterface(module), fn(functions) {}

bool LegacyPowerInterface::GetCapabilities(SYSTEM_POWER_CAPABILITIES* capabilities) {
  return fn.getPwrCapabilities(capabilities) != 0;
}

bool LegacyPowerInterface::GetActiveScheme(UINT* index) {
  return fn.getActivePwrScheme(index) != 0;
}

// The platform's booleans count as yes only when they equal TRUE exactly.
bool LegacyPowerInterface::IsHibernateAllowed(const SYSTEM_POWER_CAPABILITIES*) {
  return fn.isPwrHibernateAllowed() == 1;
}

bool LegacyPowerInterface::CanUserWriteScheme() { return fn.canUserWritePwrScheme() == 1; }

bool LegacyPowerInterface::ReadScheme(UINT index, POWER_POLICY* policy) {
  return fn.readPwrScheme(index, policy) != 0;
}

// The scheme is stored under its index with its own name and description, and the index is
// read again for the activation. What EnumPwrSchemes answers once the callback has stopped it
// is not documented (a test written against Windows XP expects FALSE): the texts found are what
// counts.
PowerInterface::CommitResult LegacyPowerInterface::WriteAndActivate(UINT* index,
                                                                    POWER_POLICY* policy,
                                                                    const POWER_POLICY&) {
  SchemeTexts texts;
  texts.index = *index;
  fn.enumPwrSchemes(&KeepTexts, reinterpret_cast<LPARAM>(&texts));
  if (!texts.found) return CommitResult::kNotWritten;
  if (!fn.writePwrScheme(index, texts.name.data(),
                         texts.hasDescription ? texts.description.data() : nullptr, policy)) {
    return CommitResult::kNotWritten;
  }
  if (!fn.setActivePwrScheme(*index, nullptr, policy)) return CommitResult::kNotActivated;
  return CommitResult::kStored;
}

void LegacyPowerInterface::ApplyDisplayPowerOff(const POWER_POLICY& policy) {
  SystemParametersInfoA(SPI_SETPOWEROFFACTIVE, 1, nullptr, SPIF_UPDATEINIFILE);
  SystemParametersInfoA(SPI_SETPOWEROFFTIMEOUT,
                        ToSeconds(GetMinutes(policy, {Timeout::kVideo, PowerSource::kAc})), nullptr,
                        SPIF_UPDATEINIFILE);
}

// The active scheme's copy, not that of the scheme's own index: the active scheme is the one
// in force. The copy cannot fail: a missing key or a refused write leaves things as they were.
bool LegacyPowerInterface::WriteUserCopy(const POWER_POLICY& policy,
                                         const std::function<UINT()>& activeScheme) {
  const std::string path = kUserPoliciesPath + std::to_string(activeScheme());
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
    RegSetValueExA(key, kUserPoliciesValue, 0, REG_BINARY,
                   reinterpret_cast<const BYTE*>(&policy.user), sizeof policy.user);
    RegCloseKey(key);
  }
  return true;
}

// The total counts from the user standby time-out, as the setter does, so a total set reads
// back as set. Each term is truncated before the sum, and the sum wraps around.
DWORD LegacyPowerInterface::GetMinutes(const POWER_POLICY& policy, SettingId setting) const {
  if (setting.timeout == Timeout::kHibernate) {
    const ULONG delay = Seconds(policy, setting);
    if (delay == 0) return 0;
    return ToMinutes(Seconds(policy, {Timeout::kStandby, setting.source})) + ToMinutes(delay);
  }
  return ToMinutes(Seconds(policy, setting));
}

bool LegacyPowerInterface::Holds(const POWER_POLICY& policy, SettingId setting,
                                 DWORD minutes) const {
  POWER_POLICY stored = policy;
  return SetMinutes(stored, setting, minutes) == nullptr &&
         Seconds(stored, setting) == Seconds(policy, setting);
}

const char* LegacyPowerInterface::SetMinutes(POWER_POLICY& policy, SettingId setting,
                                             DWORD minutes) const {
  switch (setting.timeout) {
    case Timeout::kStandby: {
      const DWORD seconds = ToSeconds(minutes);
      Seconds(policy, setting) = seconds;
      // "Never" has no idle action. Flags and EventCode stay as read.
      IdleAction(policy, setting.source).Action = seconds != 0 ? PowerActionSleep : PowerActionNone;
      return nullptr;
    }
    case Timeout::kHibernate: {
      // The record counts from entering standby, so a total that does not come after a standby
      // time-out has no delay to store: a wrapped one would mean 136 years, 0 never.
      const DWORD standby = ToMinutes(Seconds(policy, {Timeout::kStandby, setting.source}));
      if (minutes != 0 && standby != 0 && minutes <= standby) return kHibernationNotAfterStandby;
      Seconds(policy, setting) = minutes == 0 ? 0 : ToSeconds(minutes) - ToSeconds(standby);
      return nullptr;
    }
    case Timeout::kVideo:
    case Timeout::kSpinDown:
    case Timeout::kMachineStandby:
      break;
  }
  Seconds(policy, setting) = ToSeconds(minutes);
  return nullptr;
}
