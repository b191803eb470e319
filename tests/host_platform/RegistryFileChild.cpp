// host_regfile_child COMMAND...: a host program using the registry through the Reg*A calls
// only, so the registry file named by HOST_REGISTRY_FILE is loaded and saved as in any host
// program. Commands, run in order (keys below HKEY_CURRENT_USER, values REG_SZ):
//   set KEY NAME TEXT   create KEY and set the value
//   get KEY NAME        print the value's text, or <absent>
//   flush               RegFlushKey(HKEY_CURRENT_USER)
//   wait                print "waiting" and go on once stdin is closed
//   crash               end at once, without the exit handlers
//   calls               print how many calls the stand-in has recorded
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <unistd.h>

#include "HostControl.h"
#include "Win32Api.h"

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string command = argv[i];
    if (command == "set" && i + 3 < argc) {
      HKEY key = nullptr;
      if (RegCreateKeyExA(HKEY_CURRENT_USER, argv[i + 1], 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                          &key, nullptr) != ERROR_SUCCESS) {
        return 3;
      }
      const char* text = argv[i + 3];
      RegSetValueExA(key, argv[i + 2], 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                     static_cast<DWORD>(std::strlen(text) + 1));
      RegCloseKey(key);
      i += 3;
    } else if (command == "get" && i + 2 < argc) {
      HKEY key = nullptr;
      char text[256] = {};
      DWORD size = sizeof text - 1;
      bool found =
          RegOpenKeyExA(HKEY_CURRENT_USER, argv[i + 1], 0, KEY_READ, &key) == ERROR_SUCCESS &&
          RegQueryValueExA(key, argv[i + 2], nullptr, nullptr, reinterpret_cast<BYTE*>(text),
                           &size) == ERROR_SUCCESS;
      if (key != nullptr) RegCloseKey(key);
      std::printf("%s\n", found ? text : "<absent>");
      i += 2;
    } else if (command == "flush") {
      RegFlushKey(HKEY_CURRENT_USER);
    } else if (command == "wait") {
      std::printf("waiting\n");
      std::fflush(stdout);
      while (std::getchar() != EOF) {
      }
    } else if (command == "calls") {
      std::printf("%zu\n", host::Calls().size());
    } else if (command == "crash") {
      std::fflush(stdout);
      _exit(0);
    } else {
      std::fprintf(stderr, "host_regfile_child: bad command %s\n", command.c_str());
      return 2;
    }
  }
  return 0;
}
