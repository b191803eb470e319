// The host's current scheme functions: each passes the call gate (recording the call, applying
// an injected failure, which it answers as its result) and then runs the stand-in current
// power profile shared with the current machine's powrprof.dll.
#include "../powrprof/CurrentPowerProfile.h"
#include "CallGate.h"
#include "CurrentPowerExports.h"

using powerprofile::PowerSide;

DWORD WINAPI PowerGetActiveScheme(HKEY UserRootPowerKey, GUID** ActivePolicyGuid) {
  host::detail::CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<DWORD>();
  return powerprofile::GetActivePowerScheme(UserRootPowerKey, ActivePolicyGuid);
}

DWORD WINAPI PowerReadACValueIndex(HKEY RootPowerKey, const GUID* SchemeGuid,
                                   const GUID* SubGroupOfPowerSettingsGuid,
                                   const GUID* PowerSettingGuid, LPDWORD AcValueIndex) {
  host::detail::CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<DWORD>();
  return powerprofile::ReadValueIndex(PowerSide::kAc, RootPowerKey, SchemeGuid,
                                      SubGroupOfPowerSettingsGuid, PowerSettingGuid, AcValueIndex);
}

DWORD WINAPI PowerReadDCValueIndex(HKEY RootPowerKey, const GUID* SchemeGuid,
                                   const GUID* SubGroupOfPowerSettingsGuid,
                                   const GUID* PowerSettingGuid, LPDWORD DcValueIndex) {
  host::detail::CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<DWORD>();
  return powerprofile::ReadValueIndex(PowerSide::kDc, RootPowerKey, SchemeGuid,
                                      SubGroupOfPowerSettingsGuid, PowerSettingGuid, DcValueIndex);
}

DWORD WINAPI PowerWriteACValueIndex(HKEY RootPowerKey, const GUID* SchemeGuid,
                                    const GUID* SubGroupOfPowerSettingsGuid,
                                    const GUID* PowerSettingGuid, DWORD AcValueIndex) {
  host::detail::CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<DWORD>();
  return powerprofile::WriteValueIndex(PowerSide::kAc, RootPowerKey, SchemeGuid,
                                       SubGroupOfPowerSettingsGuid, PowerSettingGuid, AcValueIndex);
}

DWORD WINAPI PowerWriteDCValueIndex(HKEY RootPowerKey, const GUID* SchemeGuid,
                                    const GUID* SubGroupOfPowerSettingsGuid,
                                    const GUID* PowerSettingGuid, DWORD DcValueIndex) {
  host::detail::CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<DWORD>();
  return powerprofile::WriteValueIndex(PowerSide::kDc, RootPowerKey, SchemeGuid,
                                       SubGroupOfPowerSettingsGuid, PowerSettingGuid, DcValueIndex);
}

DWORD WINAPI PowerSetActiveScheme(HKEY UserRootPowerKey, const GUID* SchemeGuid) {
  host::detail::CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<DWORD>();
  return powerprofile::SetActivePowerScheme(UserRootPowerKey, SchemeGuid);
}

DWORD WINAPI PowerSettingAccessCheck(POWER_DATA_ACCESSOR AccessFlags, const GUID* PowerGuid) {
  host::detail::CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<DWORD>();
  return powerprofile::SettingAccessCheck(AccessFlags, PowerGuid);
}

LONG WINAPI CallNtPowerInformation(POWER_INFORMATION_LEVEL InformationLevel, PVOID InputBuffer,
                                   ULONG InputBufferLength, PVOID OutputBuffer,
                                   ULONG OutputBufferLength) {
  host::detail::CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<LONG>();
  return powerprofile::PowerInformation(InformationLevel, InputBuffer, InputBufferLength,
                                        OutputBuffer, OutputBufferLength);
}
