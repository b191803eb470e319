// Starting the programs under test as Windows starts them: CreateProcess with a command line,
// a wait with a time-out, the exit status and what the program wrote to stdout and stderr.
#ifndef PM_WINE_PROGRAMS_H
#define PM_WINE_PROGRAMS_H

#include <windows.h>

#include <string>
#include <vector>

namespace winetest {

// The directory of this test program, ending in a backslash: the programs under test and the
// stand-in powrprof.dll are copied beside it.
std::string ProgramDir();
// C:\windows\system32 of the prefix.
std::string SystemDir();
// C:\windows of the prefix.
std::string WindowsDir();
// True under Wine, where a few answers differ from Windows (each use says which).
bool IsWine();
// A Unix path as Wine's programs see it, on drive Z:.
std::string WinePathOf(const std::string& unixPath);

// One argument quoted so that the program's C runtime splits it back as it was.
std::string QuoteArgument(const std::string& argument);

struct ProgramRun {
  bool started = false;  // CreateProcess succeeded
  DWORD startError = 0;  // its last error when it did not
  bool ended = false;    // the program ended within the time-out (it is killed otherwise)
  DWORD exitCode = 0;
  DWORD processId = 0;
  std::string output;  // stdout and stderr, as written
};

// Runs `program` with `arguments` and waits up to `timeoutMs` for it to end.
ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                      DWORD timeoutMs = 60000);

// A program's output split at each CR LF, the C runtime's line end for text it writes to a
// pipe; text after the last CR LF (a line not ended so) is the last line.
std::vector<std::string> OutputLines(const std::string& output);

// A program that runs while the test works with it (a window); killed if still running when
// the object goes.
class RunningProgram {
 public:
  RunningProgram() = default;
  RunningProgram(const RunningProgram&) = delete;
  RunningProgram& operator=(const RunningProgram&) = delete;
  ~RunningProgram();

  // False, with the last error kept in startError(), when it could not be started.
  bool Start(const std::string& program, const std::vector<std::string>& arguments);
  DWORD startError() const { return startError_; }
  DWORD processId() const { return processId_; }
  // Waits up to `timeoutMs` until the program waits for its user's input, none pending.
  bool WaitUntilIdle(DWORD timeoutMs);
  // Waits up to `timeoutMs` for the end; true with its exit status when it ended.
  bool Wait(DWORD timeoutMs, DWORD* exitCode);
  bool Running() const { return process_ != nullptr; }

 private:
  void Kill();

  HANDLE process_ = nullptr;
  DWORD processId_ = 0;
  DWORD startError_ = 0;
};

}  // namespace winetest

#endif
