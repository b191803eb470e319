// The events a program reported, as Wine shows them: Wine 8's event log functions are stubs
// that, with WINEDEBUG=+pid,+eventlog,fixme+advapi, print each ReportEventA call's type and
// identifier and then each insertion string on the process's stderr (Unix's, which Wine leaves
// a started program as its parent's, whatever standard handles it is given). A program the test
// starts gets that setting through its environment (WithEventTrace), and its trace lands in the
// area's stderr log (wine-area start --stderr-log; StderrLog); a service's stderr is the
// session's, which the area's setup started with the setting (wine-area start --winedebug), and
// its trace lands in the session log (SessionLog). The lines carry the process id, so the test
// takes the events of the process it knows.
#ifndef PM_WINE_EVENTTRACE_H
#define PM_WINE_EVENTTRACE_H

#include <windows.h>

#include <string>
#include <vector>

#include "PMEvents.h"

namespace winetest {

// The WINEDEBUG setting that shows every event.
constexpr const char* kEventTraceDebug = "-all,+pid,+eventlog,fixme+advapi";

struct TracedEvent {
  DWORD processId = 0;
  WORD type = 0;
  DWORD id = 0;
  // The strings as reported; one Wine cut short (it shows about 290 characters) ends in "...".
  std::vector<std::string> strings;
};

// Every event in the trace, in order; lines of anything else are skipped.
std::vector<TracedEvent> ParseEventTrace(const std::string& trace);
// The events of one process.
std::vector<TracedEvent> EventsOf(const std::vector<TracedEvent>& events, DWORD processId);

// The event as text: "information 2000: service | root | 1 | ..."; `expected` describes what
// `event` with these strings should look like, cut as Wine cuts a long string.
std::string Describe(const TracedEvent& event);
std::string Expected(const PMEvent& event, const std::vector<std::string>& strings);
std::vector<std::string> Describe(const std::vector<TracedEvent>& events);

// Sets WINEDEBUG to `setting` for the programs this test starts while the object lives.
class WithWineDebug {
 public:
  explicit WithWineDebug(const char* setting);
  ~WithWineDebug();
  WithWineDebug(const WithWineDebug&) = delete;
  WithWineDebug& operator=(const WithWineDebug&) = delete;

 private:
  std::string previous_;
  bool hadPrevious_ = false;
};

// Sets WINEDEBUG for the programs this test starts, so that every event they report shows.
class WithEventTrace : public WithWineDebug {
 public:
  WithEventTrace() : WithWineDebug(kEventTraceDebug) {}
};

// The WINEDEBUG setting that shows every registry call a program makes, as ntdll's calls
// (every registry function of the Win32 API ends in one of them, whichever library made it).
constexpr const char* kRegistryTraceDebug = "-all,+pid,+reg";

// One registry call of a +reg trace: ntdll's function ("NtSetValueKey", "NtFlushKey", ...) and,
// for one that names a value, the value's name.
struct TracedRegistryCall {
  DWORD processId = 0;
  std::string function;
  std::string valueName;
};

// Every ntdll registry call in the trace, in order, of the process `processId`.
std::vector<TracedRegistryCall> RegistryCallsOf(const std::string& trace, DWORD processId);

// What the session's processes (the services among them) wrote to stderr so far; empty when
// the area keeps no session log.
std::string SessionLog();
// What the area's test programs and the programs they started wrote to stderr so far; empty
// when the area keeps no such log.
std::string StderrLog();

}  // namespace winetest

#endif
