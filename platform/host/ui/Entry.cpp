// The host's process entry for a GUI program: what the Windows start-up code does before it
// calls WinMain. Linked into the host build of a program, never into a test.
#include <string>

#include "Win32Api.h"

int main(int argc, char** argv) {
  // The command line after the program's name.
  std::string line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) line += ' ';
    line += argv[i];
  }
  return WinMain(GetModuleHandleA(nullptr), nullptr, line.data(), SW_SHOWDEFAULT);
}
