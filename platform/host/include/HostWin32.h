// Declarations of the Windows API subset this system uses, for the host build.
//
// Names, types, constants and record layouts are those of the Windows SDK (x86-64, LLP64:
// LONG and DWORD are 32 bits wide). Only what the system calls is declared; the stand-in
// in platform/host implements each function with the Windows semantics the system relies on.
// This folder is what pm_platform publishes of the stand-in, for Win32Api.h: include
// "Win32Api.h" rather than this file.
#ifndef PM_HOST_WIN32_H
#define PM_HOST_WIN32_H

#include <cstddef>
#include <cstdint>

#define WINAPI
#define CALLBACK
#define VOID void

typedef int BOOL;
typedef unsigned char BOOLEAN;
typedef unsigned char BYTE;
typedef unsigned char UCHAR;
typedef char CHAR;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef unsigned int UINT;
typedef uintptr_t ULONG_PTR;
typedef intptr_t LONG_PTR;
typedef ULONG_PTR SIZE_T;
typedef LONG_PTR LPARAM;
typedef wchar_t WCHAR;

typedef BOOL* PBOOL;
typedef BYTE* LPBYTE;
typedef DWORD* LPDWORD;
typedef DWORD* PDWORD;
typedef LONG* PLONG;
typedef UINT* PUINT;
typedef ULONG* PULONG;
typedef void* LPVOID;
typedef void* PVOID;
typedef const void* LPCVOID;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;

typedef void* HANDLE;
typedef HANDLE* PHANDLE;
typedef struct HKEY__* HKEY;
typedef HKEY* PHKEY;
typedef DWORD REGSAM;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

// Error codes.
#define ERROR_SUCCESS 0L
#define NO_ERROR 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_INVALID_DATA 13L
#define ERROR_GEN_FAILURE 31L
#define ERROR_SHARING_VIOLATION 32L
#define ERROR_FILE_EXISTS 80L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_INVALID_NAME 123L
#define ERROR_DISK_FULL 112L
#define ERROR_NEGATIVE_SEEK 131L
#define ERROR_BAD_PATHNAME 161L
#define ERROR_ALREADY_EXISTS 183L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L
#define ERROR_BADKEY 1010L
#define ERROR_CANTOPEN 1011L
#define ERROR_CANTREAD 1012L
#define ERROR_CANTWRITE 1013L
#define ERROR_REGISTRY_CORRUPT 1015L
#define ERROR_REGISTRY_IO_FAILED 1016L
#define ERROR_KEY_DELETED 1018L
#define ERROR_NOACCESS 998L
#define ERROR_INVALID_SPI_VALUE 1439L
#define ERROR_MOD_NOT_FOUND 126L
#define ERROR_PROC_NOT_FOUND 127L
#define ERROR_ACCESS_DISABLED_BY_POLICY 1260L
#define ERROR_CALL_NOT_IMPLEMENTED 120L
#define ERROR_INVALID_FUNCTION 1L
#define ERROR_DIR_NOT_EMPTY 145L
#define ERROR_CANCELLED 1223L
#define ERROR_REVISION_MISMATCH 1306L

DWORD WINAPI GetLastError(void);
void WINAPI SetLastError(DWORD error);

// Registry.
#define HKEY_CLASSES_ROOT ((HKEY)(ULONG_PTR)((LONG)0x80000000))
#define HKEY_CURRENT_USER ((HKEY)(ULONG_PTR)((LONG)0x80000001))
#define HKEY_LOCAL_MACHINE ((HKEY)(ULONG_PTR)((LONG)0x80000002))
#define HKEY_USERS ((HKEY)(ULONG_PTR)((LONG)0x80000003))

#define DELETE 0x00010000L
#define READ_CONTROL 0x00020000L
#define WRITE_DAC 0x00040000L
#define WRITE_OWNER 0x00080000L
#define SYNCHRONIZE 0x00100000L
#define STANDARD_RIGHTS_READ READ_CONTROL
#define STANDARD_RIGHTS_WRITE READ_CONTROL
#define STANDARD_RIGHTS_ALL 0x001F0000L
#define STANDARD_RIGHTS_REQUIRED 0x000F0000L

#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_NOTIFY 0x0010
#define KEY_CREATE_LINK 0x0020
#define KEY_WOW64_64KEY 0x0100
#define KEY_WOW64_32KEY 0x0200
#define KEY_READ 0x20019
#define KEY_WRITE 0x20006
#define KEY_EXECUTE KEY_READ
#define KEY_ALL_ACCESS 0xF003F

#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_DWORD_LITTLE_ENDIAN 4
#define REG_DWORD_BIG_ENDIAN 5
#define REG_MULTI_SZ 7
#define REG_QWORD 11

#define REG_OPTION_NON_VOLATILE 0x00000000L
#define REG_OPTION_VOLATILE 0x00000001L
#define REG_CREATED_NEW_KEY 0x00000001L
#define REG_OPENED_EXISTING_KEY 0x00000002L

typedef struct _SECURITY_ATTRIBUTES {
  DWORD nLength;
  LPVOID lpSecurityDescriptor;
  BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *PSECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

LONG WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                          PHKEY phkResult);
LONG WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass,
                            DWORD dwOptions, REGSAM samDesired,
                            LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                            LPDWORD lpdwDisposition);
LONG WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                             LPBYTE lpData, LPDWORD lpcbData);
LONG WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType,
                           const BYTE* lpData, DWORD cbData);
LONG WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName);
LONG WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey);
// The subkey names only (class and last-write time are not kept: their pointers must be null).
LONG WINAPI RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName,
                          LPDWORD lpReserved, LPSTR lpClass, LPDWORD lpcchClass,
                          struct _FILETIME* lpftLastWriteTime);
LONG WINAPI RegFlushKey(HKEY hKey);
LONG WINAPI RegCloseKey(HKEY hKey);

// Files and error mode.
#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)
#define INVALID_FILE_SIZE ((DWORD)0xFFFFFFFF)
#define INVALID_SET_FILE_POINTER ((DWORD)-1)
#define MAX_PATH 260

#define GENERIC_READ 0x80000000UL
#define GENERIC_WRITE 0x40000000UL
#define GENERIC_EXECUTE 0x20000000UL
#define GENERIC_ALL 0x10000000UL

// Specific file rights.
#define FILE_READ_DATA 0x0001
#define FILE_WRITE_DATA 0x0002
#define FILE_APPEND_DATA 0x0004
#define FILE_READ_ATTRIBUTES 0x0080

#define FILE_SHARE_READ 0x00000001
#define FILE_SHARE_WRITE 0x00000002
#define FILE_SHARE_DELETE 0x00000004

#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5

#define FILE_ATTRIBUTE_READONLY 0x00000001
#define FILE_ATTRIBUTE_HIDDEN 0x00000002
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020
#define FILE_ATTRIBUTE_NORMAL 0x00000080
#define FILE_ATTRIBUTE_REPARSE_POINT 0x00000400

#define FILE_FLAG_OPEN_REPARSE_POINT 0x00200000
#define FILE_FLAG_BACKUP_SEMANTICS 0x02000000

// Security quality of service for an open that reaches a named pipe's server.
#define SECURITY_ANONYMOUS 0x00000000
#define SECURITY_IDENTIFICATION 0x00010000
#define SECURITY_IMPERSONATION 0x00020000
#define SECURITY_DELEGATION 0x00030000
#define SECURITY_SQOS_PRESENT 0x00100000

// GetFinalPathNameByHandleA: the kind of name and of volume.
#define FILE_NAME_NORMALIZED 0x0
#define FILE_NAME_OPENED 0x8
#define VOLUME_NAME_DOS 0x0
#define VOLUME_NAME_GUID 0x1
#define VOLUME_NAME_NT 0x2
#define VOLUME_NAME_NONE 0x4

#define FILE_TYPE_UNKNOWN 0x0000
#define FILE_TYPE_DISK 0x0001
#define FILE_TYPE_CHAR 0x0002
#define FILE_TYPE_PIPE 0x0003

#define FILE_BEGIN 0
#define FILE_CURRENT 1
#define FILE_END 2

#define SEM_FAILCRITICALERRORS 0x0001
#define SEM_NOGPFAULTERRORBOX 0x0002
#define SEM_NOALIGNMENTFAULTEXCEPT 0x0004
#define SEM_NOOPENFILEERRORBOX 0x8000

typedef struct _OVERLAPPED OVERLAPPED, *LPOVERLAPPED;

typedef struct _FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
} FILETIME, *PFILETIME, *LPFILETIME;

typedef struct _BY_HANDLE_FILE_INFORMATION {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD dwVolumeSerialNumber;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD nNumberOfLinks;
  DWORD nFileIndexHigh;
  DWORD nFileIndexLow;
} BY_HANDLE_FILE_INFORMATION, *PBY_HANDLE_FILE_INFORMATION, *LPBY_HANDLE_FILE_INFORMATION;

static_assert(sizeof(BY_HANDLE_FILE_INFORMATION) == 52, "BY_HANDLE_FILE_INFORMATION layout");
static_assert(offsetof(BY_HANDLE_FILE_INFORMATION, nNumberOfLinks) == 40, "nNumberOfLinks offset");

UINT WINAPI SetErrorMode(UINT uMode);
DWORD WINAPI ExpandEnvironmentStringsA(LPCSTR lpSrc, LPSTR lpDst, DWORD nSize);
HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
DWORD WINAPI GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh);
DWORD WINAPI SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh,
                            DWORD dwMoveMethod);
BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                      LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped);
BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                     LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped);
BOOL WINAPI SetEndOfFile(HANDLE hFile);
DWORD WINAPI GetFileType(HANDLE hFile);
BOOL WINAPI GetFileInformationByHandle(HANDLE hFile,
                                       LPBY_HANDLE_FILE_INFORMATION lpFileInformation);
BOOL WINAPI CloseHandle(HANDLE hObject);
BOOL WINAPI DeleteFileA(LPCSTR lpFileName);

// Path names.
DWORD WINAPI GetFullPathNameA(LPCSTR lpFileName, DWORD nBufferLength, LPSTR lpBuffer,
                              LPSTR* lpFilePart);
DWORD WINAPI GetLongPathNameA(LPCSTR lpszShortPath, LPSTR lpszLongPath, DWORD cchBuffer);
DWORD WINAPI GetShortPathNameA(LPCSTR lpszLongPath, LPSTR lpszShortPath, DWORD cchBuffer);

// Windows Vista and later: Windows XP's kernel32.dll does not export these two, so system
// code finds them with GetProcAddress (see LoadLibraryA) and never calls them by name.
typedef enum _FILE_INFO_BY_HANDLE_CLASS {
  FileBasicInfo = 0,
  FileStandardInfo = 1,
  FileNameInfo = 2,
  FileRenameInfo = 3,
  FileDispositionInfo = 4,
} FILE_INFO_BY_HANDLE_CLASS,
    *PFILE_INFO_BY_HANDLE_CLASS;

typedef struct _FILE_DISPOSITION_INFO {
  BOOLEAN DeleteFile;
} FILE_DISPOSITION_INFO, *PFILE_DISPOSITION_INFO;

DWORD WINAPI GetFinalPathNameByHandleA(HANDLE hFile, LPSTR lpszFilePath, DWORD cchFilePath,
                                       DWORD dwFlags);
BOOL WINAPI SetFileInformationByHandle(HANDLE hFile, FILE_INFO_BY_HANDLE_CLASS FileInformationClass,
                                       LPVOID lpFileInformation, DWORD dwBufferSize);

// Debugger output.
void WINAPI OutputDebugStringA(LPCSTR lpOutputString);

// The event log (reporting events under a source) and the name of the user the program runs as.
typedef void* PSID;

#define EVENTLOG_SUCCESS 0x0000
#define EVENTLOG_ERROR_TYPE 0x0001
#define EVENTLOG_WARNING_TYPE 0x0002
#define EVENTLOG_INFORMATION_TYPE 0x0004
#define EVENTLOG_AUDIT_SUCCESS 0x0008
#define EVENTLOG_AUDIT_FAILURE 0x0010

#define RPC_S_SERVER_UNAVAILABLE 1722L

HANDLE WINAPI RegisterEventSourceA(LPCSTR lpUNCServerName, LPCSTR lpSourceName);
BOOL WINAPI ReportEventA(HANDLE hEventLog, WORD wType, WORD wCategory, DWORD dwEventID,
                         PSID lpUserSid, WORD wNumStrings, DWORD dwDataSize, LPCSTR* lpStrings,
                         LPVOID lpRawData);
BOOL WINAPI DeregisterEventSource(HANDLE hEventLog);
BOOL WINAPI GetUserNameA(LPSTR lpBuffer, LPDWORD pcbBuffer);

// Display power-off settings.
#define SPI_GETPOWEROFFTIMEOUT 0x0050
#define SPI_SETPOWEROFFTIMEOUT 0x0052
#define SPI_GETPOWEROFFACTIVE 0x0054
#define SPI_SETPOWEROFFACTIVE 0x0056
#define SPIF_UPDATEINIFILE 0x0001
#define SPIF_SENDWININICHANGE 0x0002
#define SPIF_SENDCHANGE SPIF_SENDWININICHANGE

BOOL WINAPI SystemParametersInfoA(UINT uiAction, UINT uiParam, PVOID pvParam, UINT fWinIni);

// Power profile records (layouts identical to Windows; checked by static_assert below).
typedef enum _SYSTEM_POWER_STATE {
  PowerSystemUnspecified = 0,
  PowerSystemWorking = 1,
  PowerSystemSleeping1 = 2,
  PowerSystemSleeping2 = 3,
  PowerSystemSleeping3 = 4,
  PowerSystemHibernate = 5,
  PowerSystemShutdown = 6,
  PowerSystemMaximum = 7
} SYSTEM_POWER_STATE,
    *PSYSTEM_POWER_STATE;

typedef enum {
  PowerActionNone = 0,
  PowerActionReserved = 1,
  PowerActionSleep = 2,
  PowerActionHibernate = 3,
  PowerActionShutdown = 4,
  PowerActionShutdownReset = 5,
  PowerActionShutdownOff = 6,
  PowerActionWarmEject = 7
} POWER_ACTION,
    *PPOWER_ACTION;

typedef struct {
  POWER_ACTION Action;
  ULONG Flags;
  ULONG EventCode;
} POWER_ACTION_POLICY, *PPOWER_ACTION_POLICY;

typedef struct {
  DWORD Granularity;
  DWORD Capacity;
} BATTERY_REPORTING_SCALE, *PBATTERY_REPORTING_SCALE;

typedef struct {
  BOOLEAN PowerButtonPresent;
  BOOLEAN SleepButtonPresent;
  BOOLEAN LidPresent;
  BOOLEAN SystemS1;
  BOOLEAN SystemS2;
  BOOLEAN SystemS3;
  BOOLEAN SystemS4;
  BOOLEAN SystemS5;
  BOOLEAN HiberFilePresent;
  BOOLEAN FullWake;
  BOOLEAN VideoDimPresent;
  BOOLEAN ApmPresent;
  BOOLEAN UpsPresent;
  BOOLEAN ThermalControl;
  BOOLEAN ProcessorThrottle;
  BYTE ProcessorMinThrottle;
  BYTE ProcessorMaxThrottle;
  BOOLEAN FastSystemS4;
  BOOLEAN Hiberboot;
  BOOLEAN WakeAlarmPresent;
  BOOLEAN AoAc;  // S0 low-power idle ("Modern Standby"); MinGW-w64 calls this byte spare2[2]
  BOOLEAN DiskSpinDown;
  BYTE HiberFileType;
  BOOLEAN AoAcConnectivitySupported;
  BYTE spare3[6];
  BOOLEAN SystemBatteriesPresent;
  BOOLEAN BatteriesAreShortTerm;
  BATTERY_REPORTING_SCALE BatteryScale[3];
  SYSTEM_POWER_STATE AcOnLineWake;
  SYSTEM_POWER_STATE SoftLidWake;
  SYSTEM_POWER_STATE RtcWake;
  SYSTEM_POWER_STATE MinDeviceWakeState;
  SYSTEM_POWER_STATE DefaultLowLatencyWake;
} SYSTEM_POWER_CAPABILITIES, *PSYSTEM_POWER_CAPABILITIES;

typedef struct _USER_POWER_POLICY {
  ULONG Revision;
  POWER_ACTION_POLICY IdleAc;
  POWER_ACTION_POLICY IdleDc;
  ULONG IdleTimeoutAc;
  ULONG IdleTimeoutDc;
  UCHAR IdleSensitivityAc;
  UCHAR IdleSensitivityDc;
  UCHAR ThrottlePolicyAc;
  UCHAR ThrottlePolicyDc;
  SYSTEM_POWER_STATE MaxSleepAc;
  SYSTEM_POWER_STATE MaxSleepDc;
  ULONG Reserved[2];
  ULONG VideoTimeoutAc;
  ULONG VideoTimeoutDc;
  ULONG SpindownTimeoutAc;
  ULONG SpindownTimeoutDc;
  BOOLEAN OptimizeForPowerAc;
  BOOLEAN OptimizeForPowerDc;
  UCHAR FanThrottleToleranceAc;
  UCHAR FanThrottleToleranceDc;
  UCHAR ForcedThrottleAc;
  UCHAR ForcedThrottleDc;
} USER_POWER_POLICY, *PUSER_POWER_POLICY;

typedef struct _MACHINE_POWER_POLICY {
  ULONG Revision;
  SYSTEM_POWER_STATE MinSleepAc;
  SYSTEM_POWER_STATE MinSleepDc;
  SYSTEM_POWER_STATE ReducedLatencySleepAc;
  SYSTEM_POWER_STATE ReducedLatencySleepDc;
  ULONG DozeTimeoutAc;
  ULONG DozeTimeoutDc;
  ULONG DozeS4TimeoutAc;
  ULONG DozeS4TimeoutDc;
  UCHAR MinThrottleAc;
  UCHAR MinThrottleDc;
  UCHAR pad1[2];
  POWER_ACTION_POLICY OverThrottledAc;
  POWER_ACTION_POLICY OverThrottledDc;
} MACHINE_POWER_POLICY, *PMACHINE_POWER_POLICY;

typedef struct _POWER_POLICY {
  USER_POWER_POLICY user;
  MACHINE_POWER_POLICY mach;
} POWER_POLICY, *PPOWER_POLICY;

typedef struct {
  BOOLEAN Enable;
  UCHAR Spare[3];
  ULONG BatteryLevel;
  POWER_ACTION_POLICY PowerPolicy;
  SYSTEM_POWER_STATE MinSystemState;
} SYSTEM_POWER_LEVEL, *PSYSTEM_POWER_LEVEL;

#define NUM_DISCHARGE_POLICIES 4

typedef struct _GLOBAL_USER_POWER_POLICY {
  ULONG Revision;
  POWER_ACTION_POLICY PowerButtonAc;
  POWER_ACTION_POLICY PowerButtonDc;
  POWER_ACTION_POLICY SleepButtonAc;
  POWER_ACTION_POLICY SleepButtonDc;
  POWER_ACTION_POLICY LidCloseAc;
  POWER_ACTION_POLICY LidCloseDc;
  SYSTEM_POWER_LEVEL DischargePolicy[NUM_DISCHARGE_POLICIES];
  ULONG GlobalFlags;
} GLOBAL_USER_POWER_POLICY, *PGLOBAL_USER_POWER_POLICY;

typedef struct _GLOBAL_MACHINE_POWER_POLICY {
  ULONG Revision;
  SYSTEM_POWER_STATE LidOpenWakeAc;
  SYSTEM_POWER_STATE LidOpenWakeDc;
  ULONG BroadcastCapacityResolution;
} GLOBAL_MACHINE_POWER_POLICY, *PGLOBAL_MACHINE_POWER_POLICY;

typedef struct _GLOBAL_POWER_POLICY {
  GLOBAL_USER_POWER_POLICY user;
  GLOBAL_MACHINE_POWER_POLICY mach;
} GLOBAL_POWER_POLICY, *PGLOBAL_POWER_POLICY;

// Called by EnumPwrSchemes for each scheme, with the sizes in bytes of its name and description
// (wide texts, each ending in a zero); FALSE stops the enumeration.
typedef BOOLEAN(CALLBACK* PWRSCHEMESENUMPROC)(UINT uiIndex, DWORD dwName, LPWSTR sName,
                                              DWORD dwDesc, LPWSTR sDesc, PPOWER_POLICY pp,
                                              LPARAM lParam);

static_assert(sizeof(POWER_ACTION_POLICY) == 12, "POWER_ACTION_POLICY layout");
static_assert(sizeof(SYSTEM_POWER_CAPABILITIES) == 76, "SYSTEM_POWER_CAPABILITIES layout");
static_assert(offsetof(SYSTEM_POWER_CAPABILITIES, SystemS3) == 5, "SystemS3 offset");
static_assert(offsetof(SYSTEM_POWER_CAPABILITIES, FastSystemS4) == 17, "FastSystemS4 offset");
static_assert(offsetof(SYSTEM_POWER_CAPABILITIES, AoAc) == 20, "AoAc offset");
static_assert(offsetof(SYSTEM_POWER_CAPABILITIES, DiskSpinDown) == 21, "DiskSpinDown offset");
static_assert(offsetof(SYSTEM_POWER_CAPABILITIES, SystemBatteriesPresent) == 30,
              "SystemBatteriesPresent offset");
static_assert(sizeof(USER_POWER_POLICY) == 80, "USER_POWER_POLICY layout");
static_assert(offsetof(USER_POWER_POLICY, IdleTimeoutAc) == 28, "IdleTimeoutAc offset");
static_assert(offsetof(USER_POWER_POLICY, VideoTimeoutAc) == 56, "VideoTimeoutAc offset");
static_assert(offsetof(USER_POWER_POLICY, SpindownTimeoutDc) == 68, "SpindownTimeoutDc offset");
static_assert(offsetof(USER_POWER_POLICY, ForcedThrottleDc) == 77, "ForcedThrottleDc offset");
static_assert(sizeof(MACHINE_POWER_POLICY) == 64, "MACHINE_POWER_POLICY layout");
static_assert(offsetof(MACHINE_POWER_POLICY, DozeTimeoutAc) == 20, "DozeTimeoutAc offset");
static_assert(offsetof(MACHINE_POWER_POLICY, DozeS4TimeoutDc) == 32, "DozeS4TimeoutDc offset");
static_assert(offsetof(MACHINE_POWER_POLICY, OverThrottledDc) == 52, "OverThrottledDc offset");
static_assert(sizeof(POWER_POLICY) == 144, "POWER_POLICY layout");
static_assert(sizeof(SYSTEM_POWER_LEVEL) == 24, "SYSTEM_POWER_LEVEL layout");
static_assert(sizeof(GLOBAL_USER_POWER_POLICY) == 176, "GLOBAL_USER_POWER_POLICY layout");
static_assert(sizeof(GLOBAL_MACHINE_POWER_POLICY) == 16, "GLOBAL_MACHINE_POWER_POLICY layout");
static_assert(sizeof(GLOBAL_POWER_POLICY) == 192, "GLOBAL_POWER_POLICY layout");

// The power policy Windows applies now, per power source (CallNtPowerInformation with
// SystemPowerPolicyAc or SystemPowerPolicyDc), as the SDK declares it.
typedef struct _SYSTEM_POWER_POLICY {
  DWORD Revision;
  POWER_ACTION_POLICY PowerButton;
  POWER_ACTION_POLICY SleepButton;
  POWER_ACTION_POLICY LidClose;
  SYSTEM_POWER_STATE LidOpenWake;
  DWORD Reserved;
  POWER_ACTION_POLICY Idle;
  DWORD IdleTimeout;
  BYTE IdleSensitivity;
  BYTE DynamicThrottle;
  BYTE Spare2[2];
  SYSTEM_POWER_STATE MinSleep;
  SYSTEM_POWER_STATE MaxSleep;
  SYSTEM_POWER_STATE ReducedLatencySleep;
  DWORD WinLogonFlags;
  DWORD Spare3;
  DWORD DozeS4Timeout;
  DWORD BroadcastCapacityResolution;
  SYSTEM_POWER_LEVEL DischargePolicy[NUM_DISCHARGE_POLICIES];
  DWORD VideoTimeout;
  BOOLEAN VideoDimDisplay;
  DWORD VideoReserved[3];
  DWORD SpindownTimeout;
  BOOLEAN OptimizeForPower;
  BYTE FanThrottleTolerance;
  BYTE ForcedThrottle;
  BYTE MinThrottle;
  POWER_ACTION_POLICY OverThrottled;
} SYSTEM_POWER_POLICY, *PSYSTEM_POWER_POLICY;

static_assert(offsetof(SYSTEM_POWER_POLICY, Idle) == 48, "Idle offset");
static_assert(offsetof(SYSTEM_POWER_POLICY, IdleTimeout) == 60, "IdleTimeout offset");
static_assert(offsetof(SYSTEM_POWER_POLICY, DozeS4Timeout) == 88, "DozeS4Timeout offset");
static_assert(offsetof(SYSTEM_POWER_POLICY, DischargePolicy) == 96, "DischargePolicy offset");
static_assert(offsetof(SYSTEM_POWER_POLICY, VideoTimeout) == 192, "VideoTimeout offset");
static_assert(offsetof(SYSTEM_POWER_POLICY, SpindownTimeout) == 212, "SpindownTimeout offset");
static_assert(offsetof(SYSTEM_POWER_POLICY, OverThrottled) == 220, "OverThrottled offset");
static_assert(sizeof(SYSTEM_POWER_POLICY) == 232, "SYSTEM_POWER_POLICY layout");

// The information levels of CallNtPowerInformation, in the SDK's order; the system asks the
// first two. The function itself, exported by powrprof.dll, is reached through GetProcAddress
// only (see the current scheme functions below) and answers an NTSTATUS, 0 for success.
typedef enum {
  SystemPowerPolicyAc,
  SystemPowerPolicyDc,
  VerifySystemPolicyAc,
  VerifySystemPolicyDc,
  SystemPowerCapabilities,
  SystemBatteryState,
} POWER_INFORMATION_LEVEL;

// Power profile functions (the legacy scheme interface of powrprof), declared as the Windows
// header declares them, for the stand-in and the tests. System code reaches them only through
// GetProcAddress, as on Windows, where the build does not link powrprof and a direct call
// therefore fails to link.
BOOLEAN WINAPI GetPwrCapabilities(PSYSTEM_POWER_CAPABILITIES lpSystemPowerCapabilities);
BOOLEAN WINAPI GetActivePwrScheme(PUINT puiID);
BOOLEAN WINAPI IsPwrHibernateAllowed(void);
BOOLEAN WINAPI CanUserWritePwrScheme(void);
BOOLEAN WINAPI ReadPwrScheme(UINT uiID, PPOWER_POLICY pPowerPolicy);
// The Windows export takes a wide name (required) and description (optional).
BOOLEAN WINAPI WritePwrScheme(PUINT puiID, LPWSTR lpszName, LPWSTR lpszDescription,
                              PPOWER_POLICY lpScheme);
BOOLEAN WINAPI EnumPwrSchemes(PWRSCHEMESENUMPROC lpfn, LPARAM lParam);
BOOLEAN WINAPI SetActivePwrScheme(UINT uiID, PGLOBAL_POWER_POLICY lpGlobalPowerPolicy,
                                  PPOWER_POLICY lpPowerPolicy);

// Power settings of the current scheme interface (Windows Vista and later): schemes, subgroups
// and settings are named by GUIDs. The functions themselves (PowerGetActiveScheme and its
// companions) are not declared: the system reaches them only through GetProcAddress, since a
// program that imports them does not load where they are missing, and so a direct call must
// not build here either.
typedef struct _GUID {
  DWORD Data1;
  WORD Data2;
  WORD Data3;
  BYTE Data4[8];
} GUID;
static_assert(sizeof(GUID) == 16, "GUID layout");

typedef enum _POWER_DATA_ACCESSOR {
  ACCESS_AC_POWER_SETTING_INDEX = 0,
  ACCESS_DC_POWER_SETTING_INDEX = 1,
  ACCESS_SCHEME = 16,
  ACCESS_SUBGROUP = 17,
  ACCESS_INDIVIDUAL_SETTING = 18,
  ACCESS_ACTIVE_SCHEME = 19,
  ACCESS_CREATE_SCHEME = 20
} POWER_DATA_ACCESSOR,
    *PPOWER_DATA_ACCESSOR;

// The user-interface subset (windows, dialogs, message boxes, resources).
#include "HostWin32Ui.h"

// Dynamic-link libraries and local memory (after the user-interface subset, which declares
// HMODULE).
typedef INT_PTR(WINAPI* FARPROC)(void);
typedef HANDLE HLOCAL;
#define LMEM_FIXED 0x0000
#define LMEM_ZEROINIT 0x0040
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)

HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName);
FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName);
BOOL WINAPI FreeLibrary(HMODULE hLibModule);
HLOCAL WINAPI LocalAlloc(UINT uFlags, SIZE_T uBytes);
HLOCAL WINAPI LocalFree(HLOCAL hMem);

// The service control manager, events, waits and sleeps, the system directory.
#include "HostWin32Service.h"

#endif
