// The command line: two setup commands and the compliance check, matched exactly, or the
// service dispatcher.
#include <cstring>

#include "Hollin.h"
#include "HollinConstants.h"
#include "StatusCommand.h"

namespace {

bool IsCommand(const char* argument, const char* command) {
  return std::strcmp(argument, command) == 0;
}

}  // namespace

int HollinMain(int argc, char** argv) {
  // Only the first argument counts; the comparison is exact and case-sensitive.
  if (argc > 1) {
    if (IsCommand(argv[1], kUninstallCommand)) return UninstallService();
    if (IsCommand(argv[1], kInstallCommand)) {
      if (RegisterLogonTool() != 0) return kSetupFailed;
      return InstallService();
    }
    if (IsCommand(argv[1], kStatusCommand)) return RunStatusCommand();
  }

  // How the service control manager starts us. Started any other way, the dispatcher call
  // fails; the program then ends quietly all the same.
  SERVICE_TABLE_ENTRYA table[] = {
      // The table's type asks for writable text; the dispatcher only reads it.
      {const_cast<LPSTR>(kServiceName), ServiceMain},
      {nullptr, nullptr},
  };
  StartServiceCtrlDispatcherA(table);
  return 0;
}
