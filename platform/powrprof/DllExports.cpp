// The legacy exports of the stand-in powrprof.dll that Wine loads in place of its stub. Built
// with UNICODE, so the header declares WritePwrScheme with wide texts, as the real export takes
// them.
//
// Built twice: for a legacy machine (Windows 2000/XP), where these are the only exports and
// they work; and, with POWRPROF_CURRENT_MACHINE, for a current machine (Vista and later), which
// still exports them but whose behaviour there is not published: the six scheme functions
// then fail with ERROR_CALL_NOT_IMPLEMENTED, so nothing can come to rely on them.
// GetPwrCapabilities is current on both and works on both.
#include <string>

#include "PowerProfile.h"
#include "Win32Api.h"

namespace {

#ifdef POWRPROF_CURRENT_MACHINE
constexpr bool kLegacySchemeFunctionsWork = false;
#else
constexpr bool kLegacySchemeFunctionsWork = true;
#endif

// True (with the last error set) when a legacy scheme function must fail on this machine.
bool LegacySchemeCallFails() {
  if (kLegacySchemeFunctionsWork) return false;
  SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return true;
}

// Wide text to the ANSI code page; false when it cannot be converted.
bool ToAnsi(LPCWSTR text, std::string* out) {
  int size = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return false;
  out->assign(static_cast<size_t>(size), '\0');
  if (WideCharToMultiByte(CP_ACP, 0, text, -1, &(*out)[0], size, nullptr, nullptr) != size) {
    return false;
  }
  out->resize(static_cast<size_t>(size) - 1);
  return true;
}

// ANSI text in the ANSI code page as wide text; false when it cannot be converted.
bool ToWide(const char* text, std::wstring* out) {
  int size = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  if (size <= 0) return false;
  out->assign(static_cast<size_t>(size), L'\0');
  if (MultiByteToWideChar(CP_ACP, 0, text, -1, &(*out)[0], size) != size) return false;
  out->resize(static_cast<size_t>(size) - 1);
  return true;
}

// What EnumPwrSchemes hands each scheme to: the caller's callback and value.
struct Enumeration {
  PWRSCHEMESENUMPROC callback;
  LPARAM value;
};

// Each text goes to the callback wide, with its size in bytes, terminating zero included. A
// text that cannot be converted stops the enumeration.
BOOLEAN CallBack(UINT id, const char* name, const char* description, PPOWER_POLICY policy,
                 void* context) {
  const auto* enumeration = static_cast<const Enumeration*>(context);
  std::wstring wideName;
  std::wstring wideDescription;
  if (!ToWide(name, &wideName) || !ToWide(description, &wideDescription)) return FALSE;
  return enumeration->callback(id, static_cast<DWORD>((wideName.size() + 1) * sizeof(WCHAR)),
                               &wideName[0],
                               static_cast<DWORD>((wideDescription.size() + 1) * sizeof(WCHAR)),
                               &wideDescription[0], policy, enumeration->value);
}

}  // namespace

// A legacy machine is Windows XP's, whose record has no S0 low-power idle.
BOOLEAN WINAPI GetPwrCapabilities(PSYSTEM_POWER_CAPABILITIES lpSystemPowerCapabilities) {
  return powerprofile::GetCapabilities(lpSystemPowerCapabilities, kLegacySchemeFunctionsWork);
}

BOOLEAN WINAPI GetActivePwrScheme(PUINT puiID) {
  if (LegacySchemeCallFails()) return FALSE;
  return powerprofile::GetActiveScheme(puiID);
}

BOOLEAN WINAPI IsPwrHibernateAllowed(VOID) {
  if (LegacySchemeCallFails()) return FALSE;
  return powerprofile::IsHibernateAllowed();
}

BOOLEAN WINAPI CanUserWritePwrScheme(VOID) {
  if (LegacySchemeCallFails()) return FALSE;
  return powerprofile::CanUserWriteScheme();
}

BOOLEAN WINAPI ReadPwrScheme(UINT uiID, PPOWER_POLICY pPowerPolicy) {
  if (LegacySchemeCallFails()) return FALSE;
  return powerprofile::ReadScheme(uiID, pPowerPolicy);
}

BOOLEAN WINAPI WritePwrScheme(PUINT puiID, LPWSTR lpszName, LPWSTR lpszDescription,
                              PPOWER_POLICY lpScheme) {
  if (LegacySchemeCallFails()) return FALSE;
  // Nothing may be thrown across the export; a failed allocation is a failed call.
  try {
    std::string name;
    std::string description;
    if ((lpszName != nullptr && !ToAnsi(lpszName, &name)) ||
        (lpszDescription != nullptr && !ToAnsi(lpszDescription, &description))) {
      return FALSE;  // the conversion has set the last error
    }
    return powerprofile::WriteScheme(puiID, lpszName != nullptr ? name.c_str() : nullptr,
                                     lpszDescription != nullptr ? description.c_str() : nullptr,
                                     lpScheme);
  } catch (...) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
}

BOOLEAN WINAPI EnumPwrSchemes(PWRSCHEMESENUMPROC lpfn, LPARAM lParam) {
  if (LegacySchemeCallFails()) return FALSE;
  if (lpfn == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  // Nothing may be thrown across the export; a failed allocation is a failed call.
  try {
    Enumeration enumeration{lpfn, lParam};
    return powerprofile::EnumSchemes(&CallBack, &enumeration);
  } catch (...) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
}

BOOLEAN WINAPI SetActivePwrScheme(UINT uiID, PGLOBAL_POWER_POLICY lpGlobalPowerPolicy,
                                  PPOWER_POLICY lpPowerPolicy) {
  if (LegacySchemeCallFails()) return FALSE;
  return powerprofile::SetActiveScheme(uiID, lpGlobalPowerPolicy, lpPowerPolicy);
}
