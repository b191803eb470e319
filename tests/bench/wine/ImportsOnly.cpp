// A program that does nothing but is loaded as the logon tool is: it imports the same DLLs
// (scripts/bench-wine compares the two import lists), so that the logon tool's whole run under
// Wine can be set against the bare cost of starting such a program.
#include "Win32Api.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // Never true: the references only make the linker import each DLL.
  volatile bool never = false;
  if (never) {
    RegCloseKey(nullptr);
    SystemParametersInfoA(0, 0, nullptr, 0);
  }
  return 0;
}
