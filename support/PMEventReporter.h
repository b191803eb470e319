// Reports events to the Application log under this system's source, "PMevents".
//
// Each report registers the source, reports the event and deregisters it again, so no handle
// outlives a report. A report that fails (the source cannot be registered, or the event log
// refuses the event) is dropped: it changes nothing else, the thread's last error included,
// and is never tried again in a loop; a later report of the same event tries afresh.
//
// A warning is reported at most once per process for the same event and insertion strings, so
// a service that meets the same condition every ten minutes reports it once per start, and the
// logon tool once per logon. Information and errors are reported every time.
#ifndef PM_PMEVENTREPORTER_H
#define PM_PMEVENTREPORTER_H

#include <string>
#include <vector>

#include "PMEventSource.h"
#include "PMEvents.h"

class PMEventReporter : public PMEventSource {
 public:
  // The longest insertion string the event log takes, in characters; longer ones are cut.
  static constexpr size_t kLongestString = 31839;

  // Reports `event` with its insertion strings, which must be exactly as many as the event
  // takes (nothing is reported otherwise). True when the event is in the log: reported now,
  // or a warning this process reported before.
  bool Report(const PMEvent& event, const std::vector<std::string>& strings);
};

// Forgets which warnings this process has reported, as if it had just started. For tests,
// which run many passes and services in one process.
void ForgetReportedWarnings();

#endif
