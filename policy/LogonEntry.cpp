// Binds the logon tool to its variant of the pass.
#include "PassVariant.h"
#include "PolicyUpdate.h"

void RunPolicyUpdate() { RunPolicyPass(kLogonPass); }
