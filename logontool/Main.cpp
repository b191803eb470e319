// Dorvane_Tool: started at every logon through the machine's Run key, it applies the policy
// once in the account of the user who logs on and ends. It opens no window and takes no
// options; whatever the pass meets it handles and logs itself.
#include "PolicyUpdate.h"
#include "Win32Api.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  RunPolicyUpdate();
  return 0;
}
