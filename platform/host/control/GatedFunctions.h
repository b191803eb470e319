// The gate table: every Windows function of the host stand-in passes the call gate, which
// records the call and applies injected failures (HostControl.h). Each one is listed here
// once, with what an injected failure makes it do; the gate finds a function's entry by the
// function's own name, and a function missing here stops the program at its first call.
//
// Tests name a function by its constant in host::gated (host::gated::RegOpenKeyExA), so a
// misspelt name does not compile; kFailableFunctions and kRecordedFunctions list the table.
#ifndef PM_HOST_GATED_FUNCTIONS_H
#define PM_HOST_GATED_FUNCTIONS_H

#include <cstddef>

namespace host {

// What a function answers when an injected failure makes it fail.
enum class FailureAnswer {
  kTheError,     // the injected error itself, as the registry functions report theirs
  kZero,         // FALSE, 0 or a null handle
  kMinusOne,     // all bits set: INVALID_HANDLE_VALUE, INVALID_FILE_SIZE, WAIT_FAILED, -1
  kNothing,      // a function without a result
  kItsArgument,  // the argument it was given back, as LocalFree reports a failure
};

// Whether a failing call makes the injected error the thread's last error.
enum class LastError { kSet, kKept };

// What else a failing call does. Whatever is not named here it leaves as it was: no
// out-parameter is written, nothing is created, changed or removed.
enum class FailureEffect {
  kNone,
  kClearsOutput,    // empties its output first, as Windows does (GetDlgItemInt, GetDlgItemTextA)
  kReleasesHandle,  // a close: Windows releases the handle even when it reports a failure (the
                    // stand-in frees a library or a memory block alike)
  kReturnsAtOnce,   // Sleep: no time passes
  kRunsNothing,     // StartServiceCtrlDispatcherA: no service runs; an arranged start stays
};

// A function an injected failure can make fail, with the shape of that failure.
struct FailableFunction {
  const char* name;
  FailureAnswer answer;
  LastError lastError;
  FailureEffect effect;
};

// A function that is recorded but cannot be made to fail: Windows gives it no way to report
// a failure, or it never returns.
struct RecordedFunction {
  const char* name;
};

// X(name, answer, last error, effect), by the part of the stand-in that provides it.
#define HOST_FAILABLE_FUNCTIONS(X)                           \
  /* Registry */                                             \
  X(RegOpenKeyExA, kTheError, kKept, kNone)                  \
  X(RegCreateKeyExA, kTheError, kKept, kNone)                \
  X(RegQueryValueExA, kTheError, kKept, kNone)               \
  X(RegSetValueExA, kTheError, kKept, kNone)                 \
  X(RegDeleteValueA, kTheError, kKept, kNone)                \
  X(RegDeleteKeyA, kTheError, kKept, kNone)                  \
  X(RegEnumKeyExA, kTheError, kKept, kNone)                  \
  X(RegFlushKey, kTheError, kKept, kNone)                    \
  X(RegCloseKey, kTheError, kKept, kReleasesHandle)          \
  /* Files and the environment */                            \
  X(SetErrorMode, kZero, kSet, kNone)                        \
  X(ExpandEnvironmentStringsA, kZero, kSet, kNone)           \
  X(CreateFileA, kMinusOne, kSet, kNone)                     \
  X(GetFileSize, kMinusOne, kSet, kNone)                     \
  X(SetFilePointer, kMinusOne, kSet, kNone)                  \
  X(WriteFile, kZero, kSet, kNone)                           \
  X(ReadFile, kZero, kSet, kNone)                            \
  X(SetEndOfFile, kZero, kSet, kNone)                        \
  X(GetFileType, kZero, kSet, kNone)                         \
  X(GetFileInformationByHandle, kZero, kSet, kNone)          \
  X(CloseHandle, kZero, kSet, kReleasesHandle)               \
  X(DeleteFileA, kZero, kSet, kNone)                         \
  X(GetFullPathNameA, kZero, kSet, kNone)                    \
  X(GetLongPathNameA, kZero, kSet, kNone)                    \
  X(GetShortPathNameA, kZero, kSet, kNone)                   \
  X(GetFinalPathNameByHandleA, kZero, kSet, kNone)           \
  X(SetFileInformationByHandle, kZero, kSet, kNone)          \
  X(GetSystemDirectoryA, kZero, kSet, kNone)                 \
  /* Debug output and display settings */                    \
  X(OutputDebugStringA, kNothing, kSet, kNone)               \
  /* Event log and the user's name */                        \
  X(RegisterEventSourceA, kZero, kSet, kNone)                \
  X(ReportEventA, kZero, kSet, kNone)                        \
  X(DeregisterEventSource, kZero, kSet, kReleasesHandle)     \
  X(GetUserNameA, kZero, kSet, kNone)                        \
  X(SystemParametersInfoA, kZero, kSet, kNone)               \
  /* Power profile */                                        \
  X(GetPwrCapabilities, kZero, kSet, kNone)                  \
  X(GetActivePwrScheme, kZero, kSet, kNone)                  \
  X(IsPwrHibernateAllowed, kZero, kSet, kNone)               \
  X(CanUserWritePwrScheme, kZero, kSet, kNone)               \
  X(ReadPwrScheme, kZero, kSet, kNone)                       \
  X(WritePwrScheme, kZero, kSet, kNone)                      \
  X(SetActivePwrScheme, kZero, kSet, kNone)                  \
  X(EnumPwrSchemes, kZero, kSet, kNone)                      \
  /* Current power-scheme interface; loading powrprof.dll */ \
  X(PowerGetActiveScheme, kTheError, kKept, kNone)           \
  X(PowerReadACValueIndex, kTheError, kKept, kNone)          \
  X(PowerReadDCValueIndex, kTheError, kKept, kNone)          \
  X(PowerWriteACValueIndex, kTheError, kKept, kNone)         \
  X(PowerWriteDCValueIndex, kTheError, kKept, kNone)         \
  X(PowerSetActiveScheme, kTheError, kKept, kNone)           \
  X(PowerSettingAccessCheck, kTheError, kKept, kNone)        \
  X(CallNtPowerInformation, kTheError, kKept, kNone)         \
  X(LoadLibraryA, kZero, kSet, kNone)                        \
  X(GetProcAddress, kZero, kSet, kNone)                      \
  X(FreeLibrary, kZero, kSet, kReleasesHandle)               \
  X(LocalAlloc, kZero, kSet, kNone)                          \
  X(LocalFree, kItsArgument, kSet, kReleasesHandle)          \
  /* Events and waits */                                     \
  X(CreateEventA, kZero, kSet, kNone)                        \
  X(SetEvent, kZero, kSet, kNone)                            \
  X(ResetEvent, kZero, kSet, kNone)                          \
  X(WaitForSingleObject, kMinusOne, kSet, kNone)             \
  X(Sleep, kNothing, kSet, kReturnsAtOnce)                   \
  /* Service control manager and dispatcher */               \
  X(OpenSCManagerA, kZero, kSet, kNone)                      \
  X(CreateServiceA, kZero, kSet, kNone)                      \
  X(OpenServiceA, kZero, kSet, kNone)                        \
  X(QueryServiceStatus, kZero, kSet, kNone)                  \
  X(StartServiceA, kZero, kSet, kNone)                       \
  X(ControlService, kZero, kSet, kNone)                      \
  X(DeleteService, kZero, kSet, kNone)                       \
  X(CloseServiceHandle, kZero, kSet, kReleasesHandle)        \
  X(StartServiceCtrlDispatcherA, kZero, kSet, kRunsNothing)  \
  X(RegisterServiceCtrlHandlerA, kZero, kSet, kNone)         \
  X(SetServiceStatus, kZero, kSet, kNone)                    \
  /* User interface: resources */                            \
  X(GetModuleHandleA, kZero, kSet, kNone)                    \
  X(LoadStringA, kZero, kSet, kNone)                         \
  X(LoadIconA, kZero, kSet, kNone)                           \
  X(LoadCursorA, kZero, kSet, kNone)                         \
  X(LoadAcceleratorsA, kZero, kSet, kNone)                   \
  /* User interface: windows, messages and painting */       \
  X(RegisterClassExA, kZero, kSet, kNone)                    \
  X(CreateWindowExA, kZero, kSet, kNone)                     \
  X(UpdateWindow, kZero, kSet, kNone)                        \
  X(DestroyWindow, kZero, kSet, kNone)                       \
  X(DefWindowProcA, kZero, kKept, kNone)                     \
  X(SendMessageA, kZero, kSet, kNone)                        \
  X(PostMessageA, kZero, kSet, kNone)                        \
  X(GetMessageA, kMinusOne, kSet, kNone)                     \
  X(DispatchMessageA, kZero, kKept, kNone)                   \
  X(BeginPaint, kZero, kSet, kNone)                          \
  X(GetClientRect, kZero, kSet, kNone)                       \
  X(DrawTextA, kZero, kSet, kNone)                           \
  /* User interface: dialogs and message boxes */            \
  X(DialogBoxParamA, kMinusOne, kSet, kNone)                 \
  X(EndDialog, kZero, kSet, kNone)                           \
  X(GetDlgItem, kZero, kSet, kNone)                          \
  X(SetDlgItemInt, kZero, kSet, kNone)                       \
  X(GetDlgItemInt, kZero, kSet, kClearsOutput)               \
  X(SetDlgItemTextA, kZero, kSet, kNone)                     \
  X(GetDlgItemTextA, kZero, kSet, kClearsOutput)             \
  X(CheckDlgButton, kZero, kSet, kNone)                      \
  X(IsDlgButtonChecked, kZero, kSet, kNone)                  \
  X(MessageBoxA, kZero, kSet, kNone)

#define HOST_RECORDED_FUNCTIONS(X) \
  X(ShowWindow)                    \
  X(IsWindow)                      \
  X(PostQuitMessage)               \
  X(TranslateAcceleratorA)         \
  X(TranslateMessage)              \
  X(EndPaint)                      \
  X(FatalAppExitA)

namespace gated {

#define HOST_GATED_FAILABLE_CONSTANT(name, answer, lastError, effect)                        \
  inline constexpr FailableFunction name{#name, FailureAnswer::answer, LastError::lastError, \
                                         FailureEffect::effect};
#define HOST_GATED_RECORDED_CONSTANT(name) inline constexpr RecordedFunction name{#name};
HOST_FAILABLE_FUNCTIONS(HOST_GATED_FAILABLE_CONSTANT)
HOST_RECORDED_FUNCTIONS(HOST_GATED_RECORDED_CONSTANT)
#undef HOST_GATED_FAILABLE_CONSTANT
#undef HOST_GATED_RECORDED_CONSTANT

}  // namespace gated

#define HOST_GATED_FAILABLE_ENTRY(name, answer, lastError, effect) gated::name,
#define HOST_GATED_RECORDED_ENTRY(name) gated::name,
inline constexpr FailableFunction kFailableFunctions[] = {
    HOST_FAILABLE_FUNCTIONS(HOST_GATED_FAILABLE_ENTRY)};
inline constexpr RecordedFunction kRecordedFunctions[] = {
    HOST_RECORDED_FUNCTIONS(HOST_GATED_RECORDED_ENTRY)};
#undef HOST_GATED_FAILABLE_ENTRY
#undef HOST_GATED_RECORDED_ENTRY

}  // namespace host

#endif
