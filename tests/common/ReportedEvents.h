// The events the stand-in's event log took, as texts that compare and print at once:
//   "information 2000: service | Administrator | 1 | ACUserMonIdleTime 20 -> 15"
// The type, the event ID shown to administrators and the insertion strings; the full
// identifier, a category and a source other than "PMevents" are spelled out only when they are
// not what the event of support/PMEvents.h with that ID has.
#ifndef PM_TESTS_REPORTEDEVENTS_H
#define PM_TESTS_REPORTEDEVENTS_H

#include <cstdio>
#include <string>
#include <vector>

#include "HostControl.h"
#include "PMEventSource.h"
#include "PMEvents.h"

namespace reported_events {

inline std::string TypeName(WORD type) {
  switch (type) {
    case EVENTLOG_INFORMATION_TYPE:
      return "information";
    case EVENTLOG_WARNING_TYPE:
      return "warning";
    case EVENTLOG_ERROR_TYPE:
      return "error";
    default:
      return "type " + std::to_string(type);
  }
}

inline std::string Hex(DWORD value) {
  char text[11];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
  return text;
}

inline std::string Describe(const std::string& source, WORD type, WORD category, DWORD id,
                            const std::vector<std::string>& strings) {
  std::string text = TypeName(type) + " " + std::to_string(id & 0xFFFF);
  bool known = false;
  for (const PMEvent& event : pm_events::kAll) known = known || event.id == id;
  if (!known) text += " (" + Hex(id) + ")";
  if (category != 0) text += ", category " + std::to_string(category);
  if (source != kEventSourceName) text += ", source " + source;
  text += ":";
  for (size_t i = 0; i < strings.size(); ++i) text += (i == 0 ? " " : " | ") + strings[i];
  return text;
}

// The expected text of `event` reported with `strings`.
inline std::string Expected(const PMEvent& event, const std::vector<std::string>& strings) {
  return Describe(kEventSourceName, event.type, 0, event.id, strings);
}

// Every event reported since the last reset, in order.
inline std::vector<std::string> All() {
  std::vector<std::string> texts;
  for (const host::ReportedEvent& e : host::ReportedEvents()) {
    texts.push_back(Describe(e.source, e.type, e.category, e.id, e.strings));
  }
  return texts;
}

}  // namespace reported_events

#endif
