// The event log as a program reports to it (RegisterEventSourceA, ReportEventA,
// DeregisterEventSource), kept for tests to read, and GetUserNameA.
//
// Windows writes an event of a source it does not know to the Application log, so any source
// may be registered; only the local computer is reachable. Each event taken is recorded with
// the source its handle was registered for, while calls are recorded.
#include <strings.h>

#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "CallGate.h"
#include "HostControl.h"
#include "HostInternal.h"

namespace host::detail {
namespace {

constexpr const char* kDefaultUserName = "Administrator";
// The longest insertion string Windows takes, in characters.
constexpr size_t kLongestInsertionString = 31839;

struct EventLogState {
  std::mutex mutex;
  std::unordered_map<uintptr_t, std::string> sources;  // open handle -> its source
  std::vector<ReportedEvent> events;
  std::string userName = kDefaultUserName;
};

EventLogState& State() {
  static EventLogState* state = new EventLogState;
  return *state;
}

bool IsEventType(WORD type) {
  switch (type) {
    case EVENTLOG_SUCCESS:
    case EVENTLOG_ERROR_TYPE:
    case EVENTLOG_WARNING_TYPE:
    case EVENTLOG_INFORMATION_TYPE:
    case EVENTLOG_AUDIT_SUCCESS:
    case EVENTLOG_AUDIT_FAILURE:
      return true;
    default:
      return false;
  }
}

}  // namespace

void ResetEventLog() {
  EventLogState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.sources.clear();
  s.events.clear();
  s.userName = kDefaultUserName;
}

size_t OpenEventSourceCount() {
  EventLogState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.sources.size();
}

}  // namespace host::detail

namespace host {

std::vector<ReportedEvent> ReportedEvents() {
  auto& s = detail::State();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.events;
}

void ClearReportedEvents() {
  auto& s = detail::State();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.events.clear();
}

void SetUserName(const std::string& name) {
  auto& s = detail::State();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.userName = name;
}

}  // namespace host

HANDLE WINAPI RegisterEventSourceA(LPCSTR lpUNCServerName, LPCSTR lpSourceName) {
  host::detail::CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<HANDLE>();
  // No other computer can be reached.
  if (lpUNCServerName != nullptr && *lpUNCServerName != '\0') {
    SetLastError(RPC_S_SERVER_UNAVAILABLE);
    return nullptr;
  }
  if (lpSourceName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  // The Security log takes no events this way.
  if (strcasecmp(lpSourceName, "Security") == 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  auto& s = host::detail::State();
  const uintptr_t value = host::detail::NextHandleValue();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.sources[value] = lpSourceName;
  return reinterpret_cast<HANDLE>(value);
}

BOOL WINAPI ReportEventA(HANDLE hEventLog, WORD wType, WORD wCategory, DWORD dwEventID,
                         PSID /*lpUserSid*/, WORD wNumStrings, DWORD dwDataSize, LPCSTR* lpStrings,
                         LPVOID lpRawData) {
  host::detail::CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<BOOL>();
  host::ReportedEvent event;
  {
    auto& s = host::detail::State();
    std::lock_guard<std::mutex> lock(s.mutex);
    auto found = s.sources.find(reinterpret_cast<uintptr_t>(hEventLog));
    if (found == s.sources.end()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    event.source = found->second;
  }
  if (!host::detail::IsEventType(wType) || (wNumStrings != 0 && lpStrings == nullptr) ||
      (dwDataSize != 0 && lpRawData == nullptr)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  for (WORD i = 0; i < wNumStrings; ++i) {
    if (lpStrings[i] == nullptr ||
        strnlen(lpStrings[i], host::detail::kLongestInsertionString + 1) >
            host::detail::kLongestInsertionString) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    event.strings.emplace_back(lpStrings[i]);
  }
  event.type = wType;
  event.category = wCategory;
  event.id = dwEventID;
  if (host::detail::IsRecording()) {
    auto& s = host::detail::State();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.events.push_back(std::move(event));
  }
  return TRUE;
}

BOOL WINAPI DeregisterEventSource(HANDLE hEventLog) {
  host::detail::CallGate gate(__func__);
  auto& s = host::detail::State();
  std::lock_guard<std::mutex> lock(s.mutex);
  const bool known = s.sources.erase(reinterpret_cast<uintptr_t>(hEventLog)) > 0;
  if (gate.Fails()) return gate.Answer<BOOL>();
  if (!known) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

BOOL WINAPI GetUserNameA(LPSTR lpBuffer, LPDWORD pcbBuffer) {
  host::detail::CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<BOOL>();
  if (pcbBuffer == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::string name;
  {
    auto& s = host::detail::State();
    std::lock_guard<std::mutex> lock(s.mutex);
    name = s.userName;
  }
  // The size in characters, the terminating zero counted, both when it fits and when it does
  // not.
  const auto needed = static_cast<DWORD>(name.size() + 1);
  if (lpBuffer == nullptr || *pcbBuffer < needed) {
    *pcbBuffer = needed;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memcpy(lpBuffer, name.c_str(), needed);
  *pcbBuffer = needed;
  return TRUE;
}
