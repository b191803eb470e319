// Hollin, the service program: its entry, the two setup commands and the service itself.
#ifndef HOLLIN_H
#define HOLLIN_H

#include "Win32Api.h"

// The process entry's work: "/Install", "/Uninstall" or "/Status" as the first argument runs
// that command and answers its exit status; anything else hands the service to the service
// control manager and answers 0 once the dispatcher returns. main exits with the answer.
int HollinMain(int argc, char** argv);

// Writes the Run value that makes Windows start the logon tool at every logon. Answers
// non-zero, after reporting "RegisterLogonTool fails!", when the value could not be written.
int RegisterLogonTool();

// Registers the event source with Hollin.exe in the system directory as its message file,
// creates the service (automatic start, in the system directory, local system account) and
// starts it. Answers kSetupFailed when any step reported a failure text.
int InstallService();

// Stops the service when it runs, deletes it and removes the event source; the Run value
// stays. Answers kSetupFailed when any step reported a failure text.
int UninstallService();

// Writes the event source's key: `programPath` as its message file and the types it reports.
// False when the key or a value could not be written.
bool RegisterEventMessageFile(const char* programPath);

// Removes the event source's key. True also when there is none.
bool RemoveEventSource();

// Sends one failure text to the debugger output, as it is: no line end, no error code.
void ReportSetupError(const char* text);

// The service's entry in the dispatcher table: reports the service running and applies the
// policy two seconds later and then every ten minutes until stopped; a stop within the first
// two seconds ends it without a pass. Runs on the service thread; both arguments are ignored.
void WINAPI ServiceMain(DWORD argc, LPSTR* argv);

// Receives control requests on the dispatcher's thread: stop and shutdown wake the service
// thread to end; any other request re-reports the status as it is.
void WINAPI ServiceCtrlHandler(DWORD control);

#endif
