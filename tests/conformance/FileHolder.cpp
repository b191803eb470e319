// conformance_holder PATH: opens PATH for writing with share mode 0, as the log does, says
// "holding" (or "failed <error>") on stdout, and keeps the file open until its stdin closes.
// The file tests start it to hold a file from a second process.
#include <cstdio>

#include "Win32Api.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: conformance_holder PATH\n");
    return 2;
  }
  HANDLE file =
      CreateFileA(argv[1], GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_ARCHIVE, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    std::printf("failed %lu\n", static_cast<unsigned long>(GetLastError()));
    std::fflush(stdout);
    return 1;
  }
  std::printf("holding\n");
  std::fflush(stdout);
  while (std::getchar() != EOF) {
  }
  CloseHandle(file);
  return 0;
}
