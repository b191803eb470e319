// The events this system reports to the Application log under the source "PMevents", one
// constant each: its identifier in the message table of Hollin.exe (service/HollinEvents.mc,
// whose texts Event Viewer shows), its type and how many insertion strings it takes (%1 to %n,
// in the order each comment gives). The low 16 bits of an identifier are the event ID that
// Event Viewer and wevtutil show; the top two bits repeat the type.
//
// Identifiers never change once released: administrators filter on them. The message file and
// this header are kept in step by the CTest check event_messages (tests/events).
#ifndef PM_PMEVENTS_H
#define PM_PMEVENTS_H

#include "Win32Api.h"

struct PMEvent {
  DWORD id;      // the message identifier, reported as the event's identifier
  WORD type;     // EVENTLOG_INFORMATION_TYPE, EVENTLOG_WARNING_TYPE or EVENTLOG_ERROR_TYPE
  WORD strings;  // the number of insertion strings the message takes
};

namespace pm_events {

// ---- The service (Hollin) ------------------------------------------------------------------

// 1000: the service runs. %1 the version ("2.0.694"), %2 the power-scheme interface its passes
// use ("current" or "legacy").
inline constexpr PMEvent kServiceStarted{0x400003E8, EVENTLOG_INFORMATION_TYPE, 2};
// 1001: the service stops.
inline constexpr PMEvent kServiceStopped{0x400003E9, EVENTLOG_INFORMATION_TYPE, 0};

// ---- An update pass (the service's or the logon tool's) ------------------------------------
// Every pass event begins with %1 the program that ran the pass ("service" or "logon tool")
// and %2 the user it ran as.

// 2000: the pass changed the active power scheme. %3 how many time-outs it changed, %4 one
// line per time-out: its policy value's name, the minutes before and after ("ACUserMonIdleTime
// 20 -> 15"), lines separated by CR LF.
inline constexpr PMEvent kPassChangedSettings{0x400007D0, EVENTLOG_INFORMATION_TYPE, 4};
// 2001: the pass failed; the scheme is not brought to the policy. %3 the failure text its
// log gets.
inline constexpr PMEvent kPassFailed{0xC00007D1, EVENTLOG_ERROR_TYPE, 3};

// ---- Warnings of a pass: each one at most once per process ---------------------------------

// 3000: Windows' own power policy holds a setting at another value. %3 the policy value's
// name, %4 the minutes Windows' policy holds, %5 the minutes this policy asks for.
inline constexpr PMEvent kSettingHeldByWindowsPolicy{0x80000BB8, EVENTLOG_WARNING_TYPE, 5};
// 3001: the policy asks for a nonzero time-out of a state the computer cannot enter. %3 the
// policy value's name, %4 its minutes, %5 the state ("standby" or "hibernation").
inline constexpr PMEvent kStateNotAvailable{0x80000BB9, EVENTLOG_WARNING_TYPE, 5};
// 3002: the log file named by the policy is refused. %3 the path, %4 why.
inline constexpr PMEvent kLogTargetRefused{0x80000BBA, EVENTLOG_WARNING_TYPE, 4};
// 3003: a policy value is not of its type: a number that is not a REG_DWORD, a text that is
// neither a REG_SZ nor a REG_EXPAND_SZ. %3 its key, %4 its name, %5 the type it has ("REG_SZ",
// ...).
inline constexpr PMEvent kPolicyValueWrongType{0x80000BBB, EVENTLOG_WARNING_TYPE, 5};
// 3004: a policy value cannot be read. %3 its key, %4 its name, %5 the Windows error code.
inline constexpr PMEvent kPolicyValueUnreadable{0x80000BBC, EVENTLOG_WARNING_TYPE, 5};

// Every event, for tests that go through them all.
inline constexpr PMEvent kAll[] = {
    kServiceStarted,
    kServiceStopped,
    kPassChangedSettings,
    kPassFailed,
    kSettingHeldByWindowsPolicy,
    kStateNotAvailable,
    kLogTargetRefused,
    kPolicyValueWrongType,
    kPolicyValueUnreadable,
};

// The event ID shown by Event Viewer and wevtutil: the identifier's low 16 bits.
constexpr DWORD ShownId(const PMEvent& event) { return event.id & 0xFFFF; }

}  // namespace pm_events

#endif
