// SystemParametersInfoA for the display power-off settings.
//
// Like Windows, a setting changed without SPIF_UPDATEINIFILE holds for this session (the
// process) only; with the flag it is also written to the user's profile, HKCU
// "Control Panel\Desktop", as REG_SZ text. A query answers the session's value when one was
// set, else what the profile holds (absent: 0). The stand-in writes the profile straight
// into its registry, so the call log shows SystemParametersInfoA alone.
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "CallGate.h"
#include "HostInternal.h"
#include "RegistryStore.h"

namespace host::detail {
namespace {

constexpr const char* kDesktopKey = "Control Panel\\Desktop";
constexpr const char* kActiveValue = "PowerOffActive";
constexpr const char* kTimeOutValue = "PowerOffTimeOut";

struct Session {
  std::mutex mutex;
  bool activeSet = false;
  UINT active = 0;
  bool timeOutSet = false;
  UINT timeOut = 0;
};

Session& State() {
  static Session* session = new Session;
  return *session;
}

void WriteProfile(const char* name, const std::string& text) {
  std::vector<uint8_t> data(text.begin(), text.end());
  data.push_back(0);
  Registry().WriteValue(Hive::kCurrentUser, kDesktopKey, name, REG_SZ, data);
}

UINT ReadProfile(const char* name) {
  std::vector<uint8_t> data;
  if (!Registry().ReadValue(Hive::kCurrentUser, kDesktopKey, name, nullptr, &data)) return 0;
  std::string text(data.begin(), data.end());
  return static_cast<UINT>(std::strtoul(text.c_str(), nullptr, 10));
}

// Stores a setting for the session and, when asked to, in the profile.
void Set(bool Session::*isSet, UINT Session::*field, const char* name, UINT value,
         const std::string& text, UINT flags) {
  Session& session = State();
  {
    std::lock_guard<std::mutex> lock(session.mutex);
    session.*isSet = true;
    session.*field = value;
  }
  if (flags & SPIF_UPDATEINIFILE) WriteProfile(name, text);
}

UINT Get(bool Session::*isSet, UINT Session::*field, const char* name) {
  Session& session = State();
  {
    std::lock_guard<std::mutex> lock(session.mutex);
    if (session.*isSet) return session.*field;
  }
  return ReadProfile(name);
}

}  // namespace

void ResetSystemParameters() {
  Session& session = State();
  std::lock_guard<std::mutex> lock(session.mutex);
  session.activeSet = false;
  session.active = 0;
  session.timeOutSet = false;
  session.timeOut = 0;
}

}  // namespace host::detail

BOOL WINAPI SystemParametersInfoA(UINT uiAction, UINT uiParam, PVOID pvParam, UINT fWinIni) {
  using host::detail::Session;
  host::detail::CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<BOOL>();
  switch (uiAction) {
    case SPI_SETPOWEROFFACTIVE: {
      UINT active = uiParam != 0 ? 1 : 0;
      host::detail::Set(&Session::activeSet, &Session::active, host::detail::kActiveValue, active,
                        active ? "1" : "0", fWinIni);
      return TRUE;
    }
    case SPI_SETPOWEROFFTIMEOUT:
      host::detail::Set(&Session::timeOutSet, &Session::timeOut, host::detail::kTimeOutValue,
                        uiParam, std::to_string(uiParam), fWinIni);
      return TRUE;
    case SPI_GETPOWEROFFACTIVE:
      if (pvParam == nullptr) break;
      *static_cast<BOOL*>(pvParam) =
          host::detail::Get(&Session::activeSet, &Session::active, host::detail::kActiveValue) != 0
              ? TRUE
              : FALSE;
      return TRUE;
    case SPI_GETPOWEROFFTIMEOUT:
      if (pvParam == nullptr) break;
      *static_cast<int*>(pvParam) = static_cast<int>(
          host::detail::Get(&Session::timeOutSet, &Session::timeOut, host::detail::kTimeOutValue));
      return TRUE;
    default:
      SetLastError(ERROR_INVALID_SPI_VALUE);
      return FALSE;
  }
  SetLastError(ERROR_INVALID_PARAMETER);
  return FALSE;
}
