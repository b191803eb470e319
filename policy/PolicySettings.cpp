#include "PolicySettings.h"

#include "RegistrySchema.h"

// Unsigned, so the unset reading of an absent value is always out of range.
bool PassChanges(DWORD policy, DWORD current) {
  return policy != current && policy < schema::kEnforcedBelow;
}
