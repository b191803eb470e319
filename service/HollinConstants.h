// The fixed texts and values of Hollin, the service program: its registration with the
// service control manager, the logon tool's Run value, the failure texts of the two setup
// commands and the timing of the service's run loop.
#ifndef HOLLIN_CONSTANTS_H
#define HOLLIN_CONSTANTS_H

#include <cstddef>

#include "Win32Api.h"

// ---- Registration -----------------------------------------------------------------------

// Names the service in the dispatcher table, at handler registration and for both commands.
constexpr const char* kServiceName = "Ulmora_Tarn_Hollin";
constexpr const char* kServiceDisplayName =
    "Solvenne(TM) Dorvane Power Management Configuration Tool";
// Appended to the system directory: both programs are expected to lie there, wherever the
// command was started from.
constexpr const char* kServiceProgramFile = "\\Hollin.exe";
constexpr const char* kLogonToolFile = "\\Dorvane_Tool.exe";
// Under HKEY_LOCAL_MACHINE: Windows starts the logon tool at every logon through this value.
constexpr const char* kRunKeyPath = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const char* kRunValueName = "Ulmora_Dorvane_Tool";
// Under HKEY_LOCAL_MACHINE: the Application log's event sources. The key of this system's
// source (kEventSourceName, PMEventSource.h) names Hollin.exe as its message file and the three
// event types it reports (error 1, warning 2, information 4).
constexpr const char* kApplicationLogKeyPath =
    "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application";
constexpr const char* kEventMessageFileValue = "EventMessageFile";
constexpr const char* kTypesSupportedValue = "TypesSupported";
constexpr DWORD kTypesSupported =
    EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;

// A program path in the system directory: 260 characters and the terminating zero.
constexpr size_t kPathBufferSize = 261;

// ---- Setup commands ---------------------------------------------------------------------

constexpr const char* kInstallCommand = "/Install";
constexpr const char* kUninstallCommand = "/Uninstall";
// The compliance check: changes nothing, so it is no setup command.
constexpr const char* kStatusCommand = "/Status";

// A setup command ends with kSetupSucceeded only when it reported no failure text.
constexpr int kSetupSucceeded = 0;
constexpr int kSetupFailed = 1;

// Failure texts, sent to the debugger output. The two commands spell some differently.
constexpr const char* kRegisterLogonToolFails = "RegisterLogonTool fails!";
constexpr const char* kInstallOpenSCManagerFails = "OpenSCManager fails!";
constexpr const char* kCreateServiceFails = "CreateService fails!";
constexpr const char* kQueryServiceStatusFails = "QueryServiceStatus fails!";
constexpr const char* kServiceFailedToStart = "Service failed to start!";
constexpr const char* kUninstallOpenSCManagerFails = "OpenSCManager Fails!";
constexpr const char* kOpenServiceFails = "OpenService Fails!";
constexpr const char* kControlServiceFails = "ControlService fails to stop service!";
constexpr const char* kDeleteServiceFails = "DeleteService Fails!";
constexpr const char* kEventSourceRegistrationFails = "Event source registration fails!";
constexpr const char* kEventSourceRemovalFails = "Event source removal fails!";

// A failure text is copied into a buffer of this size before it is sent; texts of
// kLongestFailureText + 1 characters and more are not sent at all.
constexpr size_t kFailureTextBufferSize = 1024;
constexpr size_t kLongestFailureText = 999;

// The pause after a start or stop request, so the service control manager can act on it.
constexpr DWORD kSettlingPauseMs = 500;

// ---- Run loop ---------------------------------------------------------------------------

// Every status report names both process kinds (0x30), although the service is installed
// as an own-process service (0x10).
constexpr DWORD kStatusServiceType = SERVICE_WIN32;
// What the running service accepts: stop and shutdown (5).
constexpr DWORD kAcceptedControls = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
// From the running report to the first pass.
constexpr DWORD kStartDelayMs = 2000;
// From the end of one pass to the start of the next: ten minutes.
constexpr DWORD kPollIntervalMs = 600000;

#endif
