// The current scheme exports of the stand-in powrprof.dll of a current machine. Nothing may be
// thrown across an export: a failed allocation is a failed call.
#include <new>

#include "CurrentPowerProfile.h"
#include "Win32Api.h"

using powerprofile::PowerSide;

namespace {

template <typename Call>
DWORD Guarded(Call call) {
  try {
    return call();
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}

}  // namespace

DWORD WINAPI PowerGetActiveScheme(HKEY UserRootPowerKey, GUID** ActivePolicyGuid) {
  return Guarded(
      [&] { return powerprofile::GetActivePowerScheme(UserRootPowerKey, ActivePolicyGuid); });
}

DWORD WINAPI PowerReadACValueIndex(HKEY RootPowerKey, const GUID* SchemeGuid,
                                   const GUID* SubGroupOfPowerSettingsGuid,
                                   const GUID* PowerSettingGuid, LPDWORD AcValueIndex) {
  return Guarded([&] {
    return powerprofile::ReadValueIndex(PowerSide::kAc, RootPowerKey, SchemeGuid,
                                        SubGroupOfPowerSettingsGuid, PowerSettingGuid,
                                        AcValueIndex);
  });
}

DWORD WINAPI PowerReadDCValueIndex(HKEY RootPowerKey, const GUID* SchemeGuid,
                                   const GUID* SubGroupOfPowerSettingsGuid,
                                   const GUID* PowerSettingGuid, LPDWORD DcValueIndex) {
  return Guarded([&] {
    return powerprofile::ReadValueIndex(PowerSide::kDc, RootPowerKey, SchemeGuid,
                                        SubGroupOfPowerSettingsGuid, PowerSettingGuid,
                                        DcValueIndex);
  });
}

DWORD WINAPI PowerWriteACValueIndex(HKEY RootPowerKey, const GUID* SchemeGuid,
                                    const GUID* SubGroupOfPowerSettingsGuid,
                                    const GUID* PowerSettingGuid, DWORD AcValueIndex) {
  return Guarded([&] {
    return powerprofile::WriteValueIndex(PowerSide::kAc, RootPowerKey, SchemeGuid,
                                         SubGroupOfPowerSettingsGuid, PowerSettingGuid,
                                         AcValueIndex);
  });
}

DWORD WINAPI PowerWriteDCValueIndex(HKEY RootPowerKey, const GUID* SchemeGuid,
                                    const GUID* SubGroupOfPowerSettingsGuid,
                                    const GUID* PowerSettingGuid, DWORD DcValueIndex) {
  return Guarded([&] {
    return powerprofile::WriteValueIndex(PowerSide::kDc, RootPowerKey, SchemeGuid,
                                         SubGroupOfPowerSettingsGuid, PowerSettingGuid,
                                         DcValueIndex);
  });
}

DWORD WINAPI PowerSetActiveScheme(HKEY UserRootPowerKey, const GUID* SchemeGuid) {
  return Guarded([&] { return powerprofile::SetActivePowerScheme(UserRootPowerKey, SchemeGuid); });
}

DWORD WINAPI PowerSettingAccessCheck(POWER_DATA_ACCESSOR AccessFlags, const GUID* PowerGuid) {
  return Guarded([&] { return powerprofile::SettingAccessCheck(AccessFlags, PowerGuid); });
}

LONG WINAPI CallNtPowerInformation(POWER_INFORMATION_LEVEL InformationLevel, PVOID InputBuffer,
                                   ULONG InputBufferLength, PVOID OutputBuffer,
                                   ULONG OutputBufferLength) {
  try {
    return powerprofile::PowerInformation(InformationLevel, InputBuffer, InputBufferLength,
                                          OutputBuffer, OutputBufferLength);
  } catch (const std::bad_alloc&) {
    return powerprofile::kStatusUnsuccessful;
  }
}
