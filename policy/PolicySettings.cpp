#include "PolicySettings.h"

#include "RegistrySchema.h"

const PolicySetting kPolicySettings[kSettingCount] = {
    {schema::kAcUserMonIdleTime, &PwrScheme::GetUserAcVideoTimeOut,
     &PwrScheme::SetUserAcVideoTimeOut, "SetUserAcVideoTimeOut() Succeded"},
    {schema::kAcUserStandByIdleTime, &PwrScheme::GetUserAcStandbyTimeOut,
     &PwrScheme::SetUserAcStandbyTimeOut, "SetUserAcStandbyTimeOut() Succeded"},
    {schema::kAcMachHibernateIdleTime, &PwrScheme::GetMachAcHibernateTimeOut,
     &PwrScheme::SetMachAcHibernateTimeOut, "SetMachAcHibernateTimeOut() Succeded"},
    {schema::kDcUserMonIdleTime, &PwrScheme::GetUserDcVideoTimeOut,
     &PwrScheme::SetUserDcVideoTimeOut, "SetUserDcVideoTimeOut() Succeded"},
    {schema::kDcUserStandByIdleTime, &PwrScheme::GetUserDcStandbyTimeOut,
     &PwrScheme::SetUserDcStandbyTimeOut, "SetUserDcStandbyTimeOut() Succeded"},
    {schema::kDcMachHibernateIdleTime, &PwrScheme::GetMachDcHibernateTimeOut,
     &PwrScheme::SetMachDcHibernateTimeOut, "SetMachDcHibernateTimeOut() Succeded"},
    {schema::kAcUserHddSpindownIdleTime, &PwrScheme::GetUserAcSpinDownTimeOut,
     &PwrScheme::SetUserAcSpinDownTimeOut, "SetUserAcSpinDownTimeOut() Succeded"},
    {schema::kDcUserHddSpindownIdleTime, &PwrScheme::GetUserDcSpinDownTimeOut,
     &PwrScheme::SetUserDcSpinDownTimeOut, "SetUserDcSpinDownTimeOut() Succeded"},
};

// Unsigned, so the unset reading of an absent value is always out of range.
bool PassChanges(DWORD policy, DWORD current) {
  return policy != current && policy < schema::kEnforcedBelow;
}
