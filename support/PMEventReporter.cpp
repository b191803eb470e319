#include "PMEventReporter.h"

#include <mutex>
#include <set>
#include <utility>

namespace {

using WarningKey = std::pair<DWORD, std::vector<std::string>>;

// The warnings reported by this process; a report in progress counts, so that two threads do
// not both report the same warning.
struct ReportedWarnings {
  std::mutex mutex;
  std::set<WarningKey> keys;
};

ReportedWarnings& Warnings() {
  static ReportedWarnings* warnings = new ReportedWarnings;
  return *warnings;
}

// False when the warning was reported already; otherwise counts it as reported from now on.
bool Claim(const WarningKey& key) {
  ReportedWarnings& warnings = Warnings();
  std::lock_guard<std::mutex> lock(warnings.mutex);
  return warnings.keys.insert(key).second;
}

void Unclaim(const WarningKey& key) {
  ReportedWarnings& warnings = Warnings();
  std::lock_guard<std::mutex> lock(warnings.mutex);
  warnings.keys.erase(key);
}

bool ReportOnce(const char* source, const PMEvent& event, const std::vector<std::string>& strings) {
  HANDLE log = RegisterEventSourceA(nullptr, source);
  if (log == nullptr) return false;
  std::vector<LPCSTR> pointers;
  for (const std::string& text : strings) pointers.push_back(text.c_str());
  const bool reported =
      ReportEventA(log, event.type, 0, event.id, nullptr, static_cast<WORD>(pointers.size()), 0,
                   pointers.empty() ? nullptr : pointers.data(), nullptr) != FALSE;
  DeregisterEventSource(log);  // nothing more can be done about a failure here
  return reported;
}

}  // namespace

bool PMEventReporter::Report(const PMEvent& event, const std::vector<std::string>& strings) {
  if (strings.size() != event.strings) return false;
  std::vector<std::string> texts;
  for (const std::string& text : strings) texts.push_back(text.substr(0, kLongestString));

  const bool once = event.type == EVENTLOG_WARNING_TYPE;
  const WarningKey key(event.id, texts);
  if (once && !Claim(key)) return true;

  const DWORD lastError = GetLastError();
  const bool reported = ReportOnce(sourceName, event, texts);
  SetLastError(lastError);

  if (once && !reported) Unclaim(key);
  return reported;
}

void ForgetReportedWarnings() {
  ReportedWarnings& warnings = Warnings();
  std::lock_guard<std::mutex> lock(warnings.mutex);
  warnings.keys.clear();
}
