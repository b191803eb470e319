#include "LegacyPowerInterface.h"

bool LegacyPowerInterface::GetActiveScheme(UINT* index) { return GetActivePwrScheme(index) != 0; }

// The platform's booleans count as yes only when they equal TRUE exactly.
bool LegacyPowerInterface::IsHibernateAllowed() { return IsPwrHibernateAllowed() == 1; }

bool LegacyPowerInterface::CanUserWriteScheme() { return CanUserWritePwrScheme() == 1; }

bool LegacyPowerInterface::ReadScheme(UINT index, POWER_POLICY* policy) {
  return ReadPwrScheme(index, policy) != 0;
}

// The scheme is stored under its index, with no name or description (the stored ones stay),
// and the index is read again for the activation.
PowerInterface::CommitResult LegacyPowerInterface::WriteAndActivate(UINT* index,
                                                                    POWER_POLICY* policy) {
  if (!WritePwrScheme(index, nullptr, nullptr, policy)) return CommitResult::kNotWritten;
  if (!SetActivePwrScheme(*index, nullptr, policy)) return CommitResult::kNotActivated;
  return CommitResult::kStored;
}
