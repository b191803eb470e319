#include "EventTrace.h"

#include <cstdlib>
#include <regex>
#include <sstream>

#include "Files.h"
#include "Programs.h"

namespace winetest {
namespace {

// Wine shows a string as L"..." with C escapes, a character outside ASCII as \xxxx (four hex
// digits), and cuts a long one after the closing quote with "...".
std::string Unescape(const std::string& shown) {
  std::string text;
  for (size_t i = 0; i < shown.size(); ++i) {
    if (shown[i] != '\\' || i + 1 == shown.size()) {
      text += shown[i];
      continue;
    }
    const char next = shown[++i];
    switch (next) {
      case 'n':
        text += '\n';
        break;
      case 'r':
        text += '\r';
        break;
      case 't':
        text += '\t';
        break;
      default:
        if (std::isxdigit(static_cast<unsigned char>(next)) && i + 3 < shown.size()) {
          text += static_cast<char>(std::stoul(shown.substr(i, 4), nullptr, 16));
          i += 3;
        } else {
          text += next;
        }
    }
  }
  return text;
}

// Wine's debug buffer takes a further character while the escaped text so far is at most 288
// characters long; it adds "..." when two or more characters are left over (one left over is
// dropped without a sign).
std::string AsWineShowsIt(const std::string& text) {
  size_t shown = 0;
  size_t kept = 0;
  long left = static_cast<long>(text.size());
  while (left-- > 0 && shown <= 288) {
    const unsigned char c = static_cast<unsigned char>(text[kept++]);
    if (c == '\r' || c == '\n' || c == '\t' || c == '"' || c == '\\') {
      shown += 2;
    } else if (c < ' ' || c >= 127) {
      shown += 5;
    } else {
      shown += 1;
    }
  }
  return left > 0 ? text.substr(0, kept) + "..." : text.substr(0, kept);
}

std::string TypeName(WORD type) {
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

std::string Describe(WORD type, DWORD id, const std::vector<std::string>& strings) {
  char full[16];
  snprintf(full, sizeof full, "%08lX", static_cast<unsigned long>(id));
  std::string text = TypeName(type) + " " + std::to_string(id & 0xFFFF) + " (" + full + "):";
  for (size_t i = 0; i < strings.size(); ++i) text += (i == 0 ? " " : " | ") + strings[i];
  return text;
}

}  // namespace

std::vector<TracedEvent> ParseEventTrace(const std::string& trace) {
  static const std::regex report(
      R"re(^([0-9a-f]+):([0-9a-f]+):fixme:advapi:ReportEventA \([^,]*,0x([0-9a-f]+),0x[0-9a-f]+,0x([0-9a-f]+),[^,]*,0x([0-9a-f]+),)re");
  static const std::regex string(
      R"re(^([0-9a-f]+):([0-9a-f]+):(?:trace|warn|err):eventlog:ReportEventW L"(.*)"(\.\.\.)?$)re");
  std::vector<TracedEvent> events;
  struct Open {
    std::string thread;
    size_t event;
    size_t left;
  };
  std::vector<Open> open;  // events whose strings are still to come, by thread
  std::istringstream lines(trace);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::smatch match;
    if (std::regex_search(line, match, report)) {
      TracedEvent event;
      event.processId = std::stoul(match[1], nullptr, 16);
      event.type = static_cast<WORD>(std::stoul(match[3], nullptr, 16));
      event.id = std::stoul(match[4], nullptr, 16);
      const size_t count = std::stoul(match[5], nullptr, 16);
      const std::string thread = std::string(match[1]) + ":" + std::string(match[2]);
      events.push_back(event);
      if (count > 0) open.push_back({thread, events.size() - 1, count});
    } else if (std::regex_search(line, match, string)) {
      const std::string thread = std::string(match[1]) + ":" + std::string(match[2]);
      for (auto it = open.begin(); it != open.end(); ++it) {
        if (it->thread != thread) continue;
        std::string text = Unescape(match[3]);
        if (match[4].matched) text += "...";
        events[it->event].strings.push_back(text);
        if (--it->left == 0) open.erase(it);
        break;
      }
    }
  }
  return events;
}

std::vector<TracedEvent> EventsOf(const std::vector<TracedEvent>& events, DWORD processId) {
  std::vector<TracedEvent> of;
  for (const TracedEvent& event : events) {
    if (event.processId == processId) of.push_back(event);
  }
  return of;
}

std::string Describe(const TracedEvent& event) {
  return Describe(event.type, event.id, event.strings);
}

std::vector<std::string> Describe(const std::vector<TracedEvent>& events) {
  std::vector<std::string> texts;
  for (const TracedEvent& event : events) texts.push_back(Describe(event));
  return texts;
}

std::string Expected(const PMEvent& event, const std::vector<std::string>& strings) {
  std::vector<std::string> shown;
  for (const std::string& text : strings) shown.push_back(AsWineShowsIt(text));
  return Describe(event.type, event.id, shown);
}

WithWineDebug::WithWineDebug(const char* setting) {
  char value[256];
  const DWORD length = GetEnvironmentVariableA("WINEDEBUG", value, sizeof value);
  hadPrevious_ = length > 0 && length < sizeof value;
  if (hadPrevious_) previous_.assign(value, length);
  SetEnvironmentVariableA("WINEDEBUG", setting);
}

WithWineDebug::~WithWineDebug() {
  SetEnvironmentVariableA("WINEDEBUG", hadPrevious_ ? previous_.c_str() : nullptr);
}

std::vector<TracedRegistryCall> RegistryCallsOf(const std::string& trace, DWORD processId) {
  // "0118:011c:trace:reg:NtSetValueKey (0x30,L"StandardName",1,0x21f424,48)"
  static const std::regex call(R"re(^([0-9a-f]+):[0-9a-f]+:trace:reg:(Nt[A-Za-z]+) \((.*)$)re");
  static const std::regex name(R"re(^[^,]*,L"((?:[^"\\]|\\.)*)")re");
  std::vector<TracedRegistryCall> calls;
  std::istringstream lines(trace);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::smatch match;
    if (!std::regex_search(line, match, call)) continue;
    if (std::stoul(match[1], nullptr, 16) != processId) continue;
    TracedRegistryCall traced;
    traced.processId = processId;
    traced.function = match[2];
    const std::string arguments = match[3];
    std::smatch named;
    if (std::regex_search(arguments, named, name)) traced.valueName = Unescape(named[1]);
    calls.push_back(traced);
  }
  return calls;
}

namespace {

// The file a variable of the area's environment names, by its Unix path; empty when there is
// none.
std::string AreaLog(const char* variable) {
  char unixPath[MAX_PATH + 1];
  const DWORD length = GetEnvironmentVariableA(variable, unixPath, sizeof unixPath);
  if (length == 0 || length >= sizeof unixPath) return "";
  std::string bytes;
  ReadFileBytes(WinePathOf(std::string(unixPath, length)), &bytes);
  return bytes;
}

}  // namespace

std::string SessionLog() { return AreaLog("DORVANE_WINE_SESSION_LOG"); }

std::string StderrLog() { return AreaLog("DORVANE_WINE_STDERR_LOG"); }

}  // namespace winetest
