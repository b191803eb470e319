// What the pieces of the host stand-in share among themselves. Internal to platform/host.
#ifndef PM_HOST_INTERNAL_H
#define PM_HOST_INTERNAL_H

#include <cstdint>
#include <string>

#include "HostWin32.h"

namespace host::detail {

// Registry keys and files draw their handle values from one sequence, so a value never
// names two objects and a handle forgotten by Reset never comes back to life.
uintptr_t NextHandleValue();

// The pieces host::Reset() puts back into their initial state.
void ResetCallGate();
// Whether calls are recorded now (from the first Reset on, unless a test turned it off);
// debug texts are kept only then too.
bool IsRecording();
void ResetDebugOutput();
void ResetFiles();
// Forgets the record of CreateFileA's arguments (host::FileOpens).
void ClearFileOpens();
void ResetSystemParameters();
void ResetWaits();
void ResetServices();
void ResetServiceDispatcher();
void ResetSystemDirectory();
void ResetModules();
void ResetEventLog();

// Whether the test made this a current machine (Modules.cpp): its powrprof.dll then offers
// the current scheme functions, and the legacy scheme functions fail.
bool IsCurrentPowerMachine();

// CloseHandle of a handle that is not a file: true when it named an event (Waits.cpp).
bool CloseEventHandle(HANDLE handle);

// Open handles of each kind, for host::OpenHandleCount.
size_t OpenFileCount();
size_t OpenEventCount();
size_t OpenServiceHandleCount();
size_t OpenEventSourceCount();

// A status the running service reported becomes its state in the service control manager
// (ServiceManager.cpp); ignored when no such service exists.
void NoteReportedStatus(const std::string& service, const SERVICE_STATUS& status);

// The .reg file named by HOST_REGISTRY_FILE (RegistryFile.cpp).
// Binds the registry to the file the variable names now, loading it when the variable
// changed since it was last looked at. Called before every use of the registry.
void SyncRegistryFile();
// Writes the registry to the bound file, if any. ERROR_SUCCESS when the file holds every
// change (or there is no file); otherwise the Windows error that matches why it does not.
LONG SaveRegistryFile();
// Forgets the binding and ignores the variable's present value, so that a value inherited
// from the environment does not leak into a test that starts from an empty registry.
void ResetRegistryFile();

}  // namespace host::detail

#endif
