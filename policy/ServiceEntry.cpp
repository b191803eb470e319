// Binds the service's program to its variant of the pass.
#include "PassVariant.h"
#include "PolicyUpdate.h"

void RunPolicyUpdate() { RunPolicyPass(kServicePass); }
