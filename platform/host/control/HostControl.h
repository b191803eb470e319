// Test control surface of the host stand-in for the Windows API.
//
// Tests (and the host demo) use it to put the stand-in into a known state, to look at what
// the system did, and to make any platform call fail. System code never includes it.
#ifndef PM_HOST_CONTROL_H
#define PM_HOST_CONTROL_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "GatedFunctions.h"
#include "Win32Api.h"

namespace host {

// Forgets every key, value, open handle, injected failure, recorded call, debug text and
// reported event, the error mode and the display settings of the session, restores the default
// capabilities and makes the user an administrator (named "Administrator") again, and records
// calls from then on (see Calls).
// Files on disk are not touched; open file handles are closed. The debug echo stays as it
// was set. It also puts back what HostServiceControl.h controls: the clock (virtual from now
// on, at 0), events, service handles and run states, the dispatcher, its queued controls and
// status reports, and the system directory; it must not be called while a dispatcher runs
// or a thread waits.
void Reset();

// ---- Registry ---------------------------------------------------------------------------

// Imports .reg text ("Windows Registry Editor Version 5.00" or "REGEDIT4"). Supports
// [KEY] and [-KEY] headers, "name"=... and @=... with "text", dword:, hex:, hex(N): and "-"
// (delete). Keys are rooted at HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER (long or short
// form). Returns false and sets *error (when given) on malformed text; nothing is imported
// then.
bool ImportRegText(const std::string& text, std::string* error = nullptr);
bool ImportRegFile(const std::string& path, std::string* error = nullptr);

// Exports the subtree at root\path ("" for the whole hive) as version 5.00 .reg text, keys
// sorted case-insensitively, values in creation order. Empty text when the key is absent.
std::string ExportRegText(HKEY root, const std::string& path);
// Exports both hives.
std::string ExportRegText();
bool ExportRegFile(const std::string& path);

// Direct look at the registry, bypassing handles, access rights and failure injection.
struct RegValue {
  DWORD type = REG_NONE;
  std::vector<uint8_t> data;
};
bool KeyExists(HKEY root, const std::string& path);
bool ReadValue(HKEY root, const std::string& path, const std::string& name, RegValue* out);
void WriteValue(HKEY root, const std::string& path, const std::string& name, DWORD type,
                const std::vector<uint8_t>& data);
void WriteDword(HKEY root, const std::string& path, const std::string& name, DWORD value);
// Writes REG_SZ with its terminating zero.
void WriteString(HKEY root, const std::string& path, const std::string& name,
                 const std::string& text);
void DeleteKeyTree(HKEY root, const std::string& path);
// Makes the existing key at root\path one this account may not read (or, with deny false,
// may again), as an access list that denies reading does on Windows: an open or create of it
// that asks for KEY_QUERY_VALUE, KEY_ENUMERATE_SUB_KEYS or KEY_NOTIFY (KEY_READ does) fails
// with ERROR_ACCESS_DENIED; asking for other rights alone works, and so does opening a key
// below it. Kept in memory only, not in the registry file; Reset() forgets it. False when
// there is no such key (or it is a hive's root).
bool DenyReading(HKEY root, const std::string& path, bool deny = true);
// Number of handles opened by RegOpenKeyExA/RegCreateKeyExA and not yet closed.
size_t OpenKeyCount();

// A limited user: every open or create of an HKEY_LOCAL_MACHINE key that asks for any
// write right fails with ERROR_ACCESS_DENIED (reading still works). This is also what
// makes CanUserWritePwrScheme answer FALSE.
void SetLimitedUser(bool limited);

// Host programs keep their registry in a .reg file named by this environment variable:
// loaded before the first registry call (missing or empty: an empty registry), saved by
// RegFlushKey and at process exit (when something changed). Processes sharing the file see
// what another has saved from their next registry call on, and a save keeps it. Reset()
// ignores the value the variable has at that moment; setting it afterwards binds the
// registry to the file it names, loaded at the next registry use. A read-only file is never
// written; a change that cannot be saved makes RegFlushKey fail with the reason's error.
constexpr const char* kRegistryFileVariable = "HOST_REGISTRY_FILE";

// ---- Files -------------------------------------------------------------------------------

// Gives the existing file or folder at `path` (a host path with at least one slash) a second,
// short name in its folder, as Windows gives a long name an 8.3 name: every file function then
// takes either name, and GetLongPathNameA and GetShortPathNameA translate between them. False
// when nothing is at `path` or the name holds a slash. Reset() forgets every short name.
bool SetShortName(const std::string& path, const std::string& shortName);

// What each CreateFileA call (that passed the gate) was asked for, in order, since the last
// Reset/ClearCalls; recorded while calls are (see RecordCalls).
struct FileOpen {
  std::string path;
  DWORD access = 0;
  DWORD share = 0;
  DWORD disposition = 0;
  DWORD flags = 0;  // dwFlagsAndAttributes
};
std::vector<FileOpen> FileOpens();

// ---- Power profile ------------------------------------------------------------------------

// The capabilities GetPwrCapabilities reports. Stored in the registry (see
// platform/powrprof), so the same knob works for the stand-in powrprof.dll under Wine. On a
// legacy-only machine (Windows XP) the byte of S0 low-power idle is always answered zero.
// The default: a desktop with S1, S3, S4 (hibernation file present) and S5.
SYSTEM_POWER_CAPABILITIES DefaultCapabilities();
// A laptop with Modern Standby: S0 low-power idle in place of S1 to S3, S4 and S5.
SYSTEM_POWER_CAPABILITIES ModernStandbyCapabilities();
void SetCapabilities(const SYSTEM_POWER_CAPABILITIES& caps);

// The kind of machine, by the power-scheme interface its powrprof.dll offers. Reset() makes it
// kLegacyOnly. GetProcAddress finds GetPwrCapabilities wherever powrprof.dll loads.
enum class PowerMachine {
  // Windows 2000/XP: only the legacy functions (GetActivePwrScheme, ReadPwrScheme, ...), over
  // the layout in platform/powrprof/PowerProfile.h. GetProcAddress finds no current function.
  kLegacyOnly,
  // Windows Vista and later: GetProcAddress also finds the current functions
  // (PowerGetActiveScheme, PowerRead/WriteACValueIndex and DC, PowerSetActiveScheme,
  // PowerSettingAccessCheck), over the layout in platform/powrprof/CurrentPowerProfile.h. The
  // six legacy scheme functions fail with ERROR_CALL_NOT_IMPLEMENTED; GetPwrCapabilities works.
  kCurrent,
  // A later Windows that no longer exports the six legacy scheme functions: GetProcAddress
  // finds the current functions and GetPwrCapabilities alone.
  kCurrentWithoutLegacy,
  // No powrprof.dll at all: LoadLibraryA("powrprof.dll") fails with ERROR_MOD_NOT_FOUND.
  kWithoutPowrprof,
};
void SetPowerMachine(PowerMachine machine);

// The Windows whose kernel32.dll LoadLibraryA("kernel32.dll") loads. Reset() makes it
// kVistaAndLater, whose GetProcAddress finds GetFinalPathNameByHandleA and
// SetFileInformationByHandle; Windows XP's exports neither.
enum class Kernel32 { kVistaAndLater, kWindowsXp };
void SetKernel32(Kernel32 kernel);

// How many LoadLibraryA calls (powrprof.dll or kernel32.dll) have no FreeLibrary yet.
size_t LoadedLibraryCount();
// Blocks from LocalAlloc (the GUIDs PowerGetActiveScheme hands out) not yet given to LocalFree.
// Reset() frees them.
size_t LocalBlockCount();

// ---- Failure injection and observation -----------------------------------------------------

// Makes the nth call (1 = the next one) of the function, counted from now, fail with the
// given error; once, or also every call after it when `persistent`. Functions are named by
// their constants in host::gated; the gate table (GatedFunctions.h) gives each one's failure
// shape: what it answers, whether it sets the last error and what else it does (as a rule
// nothing at all; a close still releases its handle, as on Windows).
void FailCall(const FailableFunction& function, unsigned nth, DWORD error, bool persistent = false);
// Makes the nth gated call of any function (1 = the next one), counted from now, fail with
// the given error; once, or also every call after it when `persistent`. A call due to fail
// whose function cannot fail (kRecordedFunctions) goes ahead.
void FailNthCall(unsigned long long nth, DWORD error, bool persistent = false);
// Forgets every failure set, and every action of BeforeCall not yet run.
void ClearFailures();
// Runs `action` just before the nth call (1 = the next one) of the function, counted from now,
// goes ahead: what another program does at that moment, for instance between an update pass's
// read of the scheme and its commit. The action's own platform calls are neither recorded nor
// failed; it runs once, on the calling thread.
void BeforeCall(const FailableFunction& function, unsigned nth, std::function<void()> action);

// Every platform call made since the last Reset/ClearCalls, by function name, in order.
// Calls are recorded from the first Reset on: a program that never resets (a host program
// run from the shell) records nothing, however long it runs. GetLastError and SetLastError
// are not recorded (nor can they be failed).
std::vector<std::string> Calls();
void ClearCalls();
// Turns the record of calls, and the keeping of debug texts (DebugOutput), on or off. Reset()
// turns it on; a test that runs for long and reads neither (the soak) turns it off, so that
// the records do not grow with every pass.
void RecordCalls(bool record);
// How many times the function was called since the last Reset/ClearCalls.
size_t CallCount(const FailableFunction& function);
size_t CallCount(const RecordedFunction& function);

// Handles opened and not yet closed: registry keys, files, events, service control manager
// handles and event sources.
size_t OpenHandleCount();

// Texts passed to OutputDebugStringA since the last Reset/ClearDebugOutput, in order.
std::vector<std::string> DebugOutput();
void ClearDebugOutput();
// Whether OutputDebugStringA also writes each text to stderr (on by default in programs,
// tests switch it off).
void SetDebugEcho(bool echo);

// ---- Event log and the user's name ---------------------------------------------------------

// One event ReportEventA took: the source its handle was registered for, and its arguments.
struct ReportedEvent {
  std::string source;
  WORD type = 0;
  WORD category = 0;
  DWORD id = 0;
  std::vector<std::string> strings;
};
// Events reported since the last Reset/ClearReportedEvents, in order. Kept, like the debug
// texts, only while calls are recorded. RegisterEventSourceA hands out a handle for any source
// on the local computer (Windows writes an unknown source's events to the Application log);
// its handles count in OpenHandleCount until DeregisterEventSource.
std::vector<ReportedEvent> ReportedEvents();
void ClearReportedEvents();

// What GetUserNameA answers. Reset() makes it "Administrator".
void SetUserName(const std::string& name);

}  // namespace host

#endif
