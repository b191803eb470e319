// The exports of the stand-in powrprof.dll that Wine loads in place of its stub. Built with
// UNICODE, so the header declares WritePwrScheme with wide texts, as the real export takes them.
#include <string>

#include "PowerProfile.h"
#include "Win32Api.h"

namespace {

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

}  // namespace

BOOLEAN WINAPI GetPwrCapabilities(PSYSTEM_POWER_CAPABILITIES lpSystemPowerCapabilities) {
  return powerprofile::GetCapabilities(lpSystemPowerCapabilities);
}

BOOLEAN WINAPI GetActivePwrScheme(PUINT puiID) { return powerprofile::GetActiveScheme(puiID); }

BOOLEAN WINAPI IsPwrHibernateAllowed(VOID) { return powerprofile::IsHibernateAllowed(); }

BOOLEAN WINAPI CanUserWritePwrScheme(VOID) { return powerprofile::CanUserWriteScheme(); }

BOOLEAN WINAPI ReadPwrScheme(UINT uiID, PPOWER_POLICY pPowerPolicy) {
  return powerprofile::ReadScheme(uiID, pPowerPolicy);
}

BOOLEAN WINAPI WritePwrScheme(PUINT puiID, LPWSTR lpszName, LPWSTR lpszDescription,
                              PPOWER_POLICY lpScheme) {
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

BOOLEAN WINAPI SetActivePwrScheme(UINT uiID, PGLOBAL_POWER_POLICY lpGlobalPowerPolicy,
                                  PPOWER_POLICY lpPowerPolicy) {
  return powerprofile::SetActiveScheme(uiID, lpGlobalPowerPolicy, lpPowerPolicy);
}
