// The host's legacy power-profile exports: each passes the call gate (recording the call,
// applying an injected failure) and then runs the stand-in power profile shared with
// powrprof.dll. The profile's own registry calls happen inside the gate and are therefore not
// recorded. On a current machine the six scheme functions fail (GetPwrCapabilities, which is
// current too, still works): what they do there is not published, so nothing may rely on them.
#include <string>

#include "../powrprof/PowerProfile.h"
#include "CallGate.h"
#include "HostInternal.h"
#include "HostWin32.h"

namespace {

// The host's ANSI code page is taken as Latin-1: code units above 0xFF have no ANSI form and
// become '?', as a best-fit conversion would do.
std::string ToAnsi(const WCHAR* text) {
  std::string out;
  for (; *text != L'\0'; ++text) {
    auto unit = static_cast<uint32_t>(*text);
    out.push_back(unit <= 0xFF ? static_cast<char>(unit) : '?');
  }
  return out;
}

// ANSI text as wide text, each byte one code unit (the inverse of ToAnsi).
std::wstring ToWide(const char* text) {
  std::wstring out;
  for (; *text != '\0'; ++text)
    out.push_back(static_cast<WCHAR>(static_cast<unsigned char>(*text)));
  return out;
}

// What EnumPwrSchemes hands each scheme to: the caller's callback and value.
struct Enumeration {
  PWRSCHEMESENUMPROC callback;
  LPARAM value;
};

// Each text goes to the callback wide, with its size in bytes, terminating zero included.
BOOLEAN CallBack(UINT id, const char* name, const char* description, PPOWER_POLICY policy,
                 void* context) {
  const auto* enumeration = static_cast<const Enumeration*>(context);
  std::wstring wideName = ToWide(name);
  std::wstring wideDescription = ToWide(description);
  return enumeration->callback(id, static_cast<DWORD>((wideName.size() + 1) * sizeof(WCHAR)),
                               &wideName[0],
                               static_cast<DWORD>((wideDescription.size() + 1) * sizeof(WCHAR)),
                               &wideDescription[0], policy, enumeration->value);
}

// True, with the last error set, for a legacy scheme function on a current machine.
bool NotOnThisMachine() {
  if (!host::detail::IsCurrentPowerMachine()) return false;
  SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return true;
}

}  // namespace

BOOLEAN WINAPI GetPwrCapabilities(PSYSTEM_POWER_CAPABILITIES lpSystemPowerCapabilities) {
  host::detail::CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<BOOLEAN>();
  // A legacy-only machine is Windows XP's, whose record has no S0 low-power idle.
  return powerprofile::GetCapabilities(lpSystemPowerCapabilities,
                                       !host::detail::IsCurrentPowerMachine());
}

BOOLEAN WINAPI GetActivePwrScheme(PUINT puiID) {
  host::detail::CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<BOOLEAN>();
  if (NotOnThisMachine()) return FALSE;
  return powerprofile::GetActiveScheme(puiID);
}

BOOLEAN WINAPI IsPwrHibernateAllowed(void) {
  host::detail::CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<BOOLEAN>();
  if (NotOnThisMachine()) return FALSE;
  return powerprofile::IsHibernateAllowed();
}

BOOLEAN WINAPI CanUserWritePwrScheme(void) {
  host::detail::CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<BOOLEAN>();
  if (NotOnThisMachine()) return FALSE;
  return powerprofile::CanUserWriteScheme();
}

BOOLEAN WINAPI ReadPwrScheme(UINT uiID, PPOWER_POLICY pPowerPolicy) {
  host::detail::CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<BOOLEAN>();
  if (NotOnThisMachine()) return FALSE;
  return powerprofile::ReadScheme(uiID, pPowerPolicy);
}

BOOLEAN WINAPI WritePwrScheme(PUINT puiID, LPWSTR lpszName, LPWSTR lpszDescription,
                              PPOWER_POLICY lpScheme) {
  host::detail::CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<BOOLEAN>();
  if (NotOnThisMachine()) return FALSE;
  std::string name = lpszName != nullptr ? ToAnsi(lpszName) : std::string();
  std::string description = lpszDescription != nullptr ? ToAnsi(lpszDescription) : std::string();
  return powerprofile::WriteScheme(puiID, lpszName != nullptr ? name.c_str() : nullptr,
                                   lpszDescription != nullptr ? description.c_str() : nullptr,
                                   lpScheme);
}

// The callback runs inside this call's gate: what it calls of the stand-in is neither recorded
// nor failed.
BOOLEAN WINAPI EnumPwrSchemes(PWRSCHEMESENUMPROC lpfn, LPARAM lParam) {
  host::detail::CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<BOOLEAN>();
  if (NotOnThisMachine()) return FALSE;
  if (lpfn == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  Enumeration enumeration{lpfn, lParam};
  return powerprofile::EnumSchemes(&CallBack, &enumeration);
}

BOOLEAN WINAPI SetActivePwrScheme(UINT uiID, PGLOBAL_POWER_POLICY lpGlobalPowerPolicy,
                                  PPOWER_POLICY lpPowerPolicy) {
  host::detail::CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<BOOLEAN>();
  if (NotOnThisMachine()) return FALSE;
  return powerprofile::SetActiveScheme(uiID, lpGlobalPowerPolicy, lpPowerPolicy);
}
