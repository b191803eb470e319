// The service control manager's database: each service's configuration in the registry
// where Windows keeps it, its run state in memory, and the handles to the manager and to
// services with the rights they were opened with.
//
// A service exists while its key exists. DeleteService only marks it: the key goes when the
// last handle to the service is closed and the service is stopped, as on Windows. The host
// starts no processes: StartServiceA marks a service running and a stop request marks it
// stopped (see HostServiceControl.h).
#include <strings.h>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "CallGate.h"
#include "HostInternal.h"
#include "HostServiceControl.h"
#include "RegistryStore.h"

namespace host::detail {
namespace {

constexpr const char* kServicesKey = "System\\CurrentControlSet\\Services\\";
constexpr size_t kMaxServiceName = 256;

constexpr DWORD kGenericRead = static_cast<DWORD>(GENERIC_READ);
constexpr DWORD kGenericWrite = static_cast<DWORD>(GENERIC_WRITE);
constexpr DWORD kGenericExecute = static_cast<DWORD>(GENERIC_EXECUTE);
constexpr DWORD kGenericAll = static_cast<DWORD>(GENERIC_ALL);

// What a user who is not an administrator may open the manager and a service for.
constexpr DWORD kUserManagerRights =
    SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE | SC_MANAGER_QUERY_LOCK_STATUS | READ_CONTROL;
constexpr DWORD kUserServiceRights = SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS |
                                     SERVICE_ENUMERATE_DEPENDENTS | SERVICE_INTERROGATE |
                                     SERVICE_USER_DEFINED_CONTROL | READ_CONTROL;

// The generic rights mapped as Windows maps them for the manager and for services.
struct GenericMapping {
  DWORD read, write, execute, all;
};
constexpr GenericMapping kManagerMapping = {
    READ_CONTROL | SC_MANAGER_ENUMERATE_SERVICE | SC_MANAGER_QUERY_LOCK_STATUS,
    READ_CONTROL | SC_MANAGER_CREATE_SERVICE | SC_MANAGER_MODIFY_BOOT_CONFIG,
    READ_CONTROL | SC_MANAGER_CONNECT | SC_MANAGER_LOCK, SC_MANAGER_ALL_ACCESS};
constexpr GenericMapping kServiceMapping = {
    READ_CONTROL | SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS | SERVICE_INTERROGATE |
        SERVICE_ENUMERATE_DEPENDENTS,
    READ_CONTROL | SERVICE_CHANGE_CONFIG,
    READ_CONTROL | SERVICE_START | SERVICE_STOP | SERVICE_PAUSE_CONTINUE |
        SERVICE_USER_DEFINED_CONTROL,
    SERVICE_ALL_ACCESS};

DWORD MapRights(DWORD access, const GenericMapping& mapping) {
  DWORD out = access & ~(kGenericRead | kGenericWrite | kGenericExecute | kGenericAll);
  if (access & kGenericRead) out |= mapping.read;
  if (access & kGenericWrite) out |= mapping.write;
  if (access & kGenericExecute) out |= mapping.execute;
  if (access & kGenericAll) out |= mapping.all;
  return out;
}

struct OpenScHandle {
  bool manager = false;
  DWORD access = 0;
  std::string service;  // folded name, for a service handle
};

struct ServiceRun {
  SERVICE_STATUS status{};
  bool markedForDelete = false;
};

struct ScmState {
  std::mutex mutex;
  std::unordered_map<uintptr_t, OpenScHandle> handles;
  std::map<std::string, ServiceRun> runs;  // by folded name; made on first use
};

ScmState& State() {
  static ScmState* state = new ScmState;
  return *state;
}

std::string KeyOf(const std::string& name) { return kServicesKey + name; }

bool Exists(const std::string& name) {
  return Registry().KeyExists(Hive::kLocalMachine, KeyOf(name));
}

bool ReadDword(const std::string& name, const char* value, DWORD* out) {
  DWORD type = REG_NONE;
  std::vector<uint8_t> data;
  if (!Registry().ReadValue(Hive::kLocalMachine, KeyOf(name), value, &type, &data) ||
      type != REG_DWORD || data.size() != 4) {
    return false;
  }
  *out = static_cast<DWORD>(data[0] | data[1] << 8 | data[2] << 16 |
                            static_cast<DWORD>(data[3]) << 24);
  return true;
}

// A service that has not run since it was created or since this process began: stopped,
// and, as Windows says of it, never started.
SERVICE_STATUS NeverStarted(const std::string& name) {
  SERVICE_STATUS status{};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  ReadDword(name, "Type", &status.dwServiceType);
  status.dwCurrentState = SERVICE_STOPPED;
  status.dwWin32ExitCode = ERROR_SERVICE_NEVER_STARTED;
  return status;
}

ServiceRun& RunOf(ScmState& s, const std::string& name) {
  const std::string folded = FoldCase(name);
  auto found = s.runs.find(folded);
  if (found != s.runs.end()) return found->second;
  ServiceRun& run = s.runs[folded];
  run.status = NeverStarted(name);
  return run;
}

void SetState(ServiceRun& run, DWORD state) {
  run.status.dwCurrentState = state;
  run.status.dwControlsAccepted =
      state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
  run.status.dwWin32ExitCode = NO_ERROR;
  run.status.dwServiceSpecificExitCode = 0;
  run.status.dwCheckPoint = 0;
  run.status.dwWaitHint = 0;
}

// Removes a service marked for deletion once it is stopped and no handle names it.
void FinishDeletionIfDue(ScmState& s, const std::string& name) {
  const std::string folded = FoldCase(name);
  auto run = s.runs.find(folded);
  if (run == s.runs.end() || !run->second.markedForDelete ||
      run->second.status.dwCurrentState != SERVICE_STOPPED) {
    return;
  }
  for (const auto& handle : s.handles) {
    if (!handle.second.manager && handle.second.service == folded) return;
  }
  Registry().DeleteKeyTree(Hive::kLocalMachine, KeyOf(name));
  s.runs.erase(run);
}

SC_HANDLE NewHandle(ScmState& s, OpenScHandle handle) {
  uintptr_t value = NextHandleValue();
  s.handles[value] = std::move(handle);
  return reinterpret_cast<SC_HANDLE>(value);
}

// The open handle of the wanted kind, or null with ERROR_INVALID_HANDLE.
OpenScHandle* Find(ScmState& s, SC_HANDLE handle, bool manager) {
  auto found = s.handles.find(reinterpret_cast<uintptr_t>(handle));
  if (handle == nullptr || found == s.handles.end() || found->second.manager != manager) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return &found->second;
}

bool Grants(const OpenScHandle& handle, DWORD rights) {
  if ((handle.access & rights) == rights) return true;
  SetLastError(ERROR_ACCESS_DENIED);
  return false;
}

bool ValidName(LPCSTR name) {
  if (name == nullptr || *name == '\0' || std::strlen(name) > kMaxServiceName ||
      std::strpbrk(name, "\\/") != nullptr) {
    SetLastError(ERROR_INVALID_NAME);
    return false;
  }
  return true;
}

std::vector<uint8_t> Text(const std::string& text) {
  std::vector<uint8_t> data(text.begin(), text.end());
  data.push_back(0);
  return data;
}

std::vector<uint8_t> Dword(DWORD value) {
  return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
          static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
}

// A list of zero-terminated texts ended by an empty one, as REG_MULTI_SZ keeps it.
std::vector<uint8_t> TextList(LPCSTR list) {
  std::vector<uint8_t> data;
  for (LPCSTR item = list; *item != '\0'; item += std::strlen(item) + 1) {
    std::vector<uint8_t> one = Text(item);
    data.insert(data.end(), one.begin(), one.end());
  }
  data.push_back(0);
  return data;
}

bool ValidConfiguration(DWORD type, DWORD start, DWORD errorControl) {
  // Drivers are not provided, and only drivers start at boot or with the system.
  const DWORD process = type & ~static_cast<DWORD>(SERVICE_INTERACTIVE_PROCESS);
  const bool ok =
      (process == SERVICE_WIN32_OWN_PROCESS || process == SERVICE_WIN32_SHARE_PROCESS) &&
      start >= SERVICE_AUTO_START && start <= SERVICE_DISABLED &&
      errorControl <= SERVICE_ERROR_CRITICAL;
  if (!ok) SetLastError(ERROR_INVALID_PARAMETER);
  return ok;
}

}  // namespace

void NoteReportedStatus(const std::string& service, const SERVICE_STATUS& status) {
  if (!Exists(service)) return;
  ScmState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  RunOf(s, service).status = status;
  FinishDeletionIfDue(s, service);
}

// The part of CloseServiceHandle that an injected failure does not stop.
BOOL CloseScHandle(SC_HANDLE handle) {
  auto& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  auto found = s.handles.find(reinterpret_cast<uintptr_t>(handle));
  if (handle == nullptr || found == s.handles.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  const std::string service = found->second.service;
  s.handles.erase(found);
  if (!service.empty()) FinishDeletionIfDue(s, service);
  return TRUE;
}

size_t OpenServiceHandleCount() {
  ScmState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.handles.size();
}

void ResetServices() {
  ScmState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.handles.clear();
  s.runs.clear();
}

}  // namespace host::detail

namespace host {

bool ServiceExists(const std::string& name) { return detail::Exists(name); }

DWORD ServiceState(const std::string& name) {
  if (!detail::Exists(name)) return 0;
  auto& s = detail::State();
  std::lock_guard<std::mutex> lock(s.mutex);
  return detail::RunOf(s, name).status.dwCurrentState;
}

void SetServiceState(const std::string& name, DWORD state) {
  if (!detail::Exists(name)) return;
  auto& s = detail::State();
  std::lock_guard<std::mutex> lock(s.mutex);
  detail::SetState(detail::RunOf(s, name), state);
  detail::FinishDeletionIfDue(s, name);
}

}  // namespace host

using host::detail::CallGate;

SC_HANDLE WINAPI OpenSCManagerA(LPCSTR lpMachineName, LPCSTR lpDatabaseName,
                                DWORD dwDesiredAccess) {
  CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<SC_HANDLE>();
  // Only this machine's manager is provided.
  if (lpMachineName != nullptr && *lpMachineName != '\0') {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return nullptr;
  }
  if (lpDatabaseName != nullptr && strcasecmp(lpDatabaseName, SERVICES_ACTIVE_DATABASEA) != 0) {
    SetLastError(ERROR_INVALID_NAME);
    return nullptr;
  }
  const DWORD rights = host::detail::MapRights(dwDesiredAccess, host::detail::kManagerMapping);
  if (host::detail::Registry().LimitedUser() && (rights & ~host::detail::kUserManagerRights) != 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  auto& s = host::detail::State();
  std::lock_guard<std::mutex> lock(s.mutex);
  return host::detail::NewHandle(s, {true, rights | SC_MANAGER_CONNECT, ""});
}

SC_HANDLE WINAPI CreateServiceA(SC_HANDLE hSCManager, LPCSTR lpServiceName, LPCSTR lpDisplayName,
                                DWORD dwDesiredAccess, DWORD dwServiceType, DWORD dwStartType,
                                DWORD dwErrorControl, LPCSTR lpBinaryPathName,
                                LPCSTR lpLoadOrderGroup, LPDWORD lpdwTagId, LPCSTR lpDependencies,
                                LPCSTR lpServiceStartName, LPCSTR /*lpPassword*/) {
  CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<SC_HANDLE>();
  using namespace host::detail;
  auto& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  OpenScHandle* manager = Find(s, hSCManager, true);
  if (manager == nullptr || !Grants(*manager, SC_MANAGER_CREATE_SERVICE) ||
      !ValidName(lpServiceName) ||
      !ValidConfiguration(dwServiceType, dwStartType, dwErrorControl)) {
    return nullptr;
  }
  // Tags order drivers only.
  if (lpBinaryPathName == nullptr || *lpBinaryPathName == '\0' || lpdwTagId != nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const std::string name = lpServiceName;
  if (Exists(name)) {
    SetLastError(RunOf(s, name).markedForDelete ? ERROR_SERVICE_MARKED_FOR_DELETE
                                                : ERROR_SERVICE_EXISTS);
    return nullptr;
  }

  // The values Windows writes, in its types. Without an account the service runs as the
  // local system account, and without a display name it shows its own name.
  const std::string key = KeyOf(name);
  RegistryStore& registry = Registry();
  registry.WriteValue(Hive::kLocalMachine, key, "Type", REG_DWORD, Dword(dwServiceType));
  registry.WriteValue(Hive::kLocalMachine, key, "Start", REG_DWORD, Dword(dwStartType));
  registry.WriteValue(Hive::kLocalMachine, key, "ErrorControl", REG_DWORD, Dword(dwErrorControl));
  registry.WriteValue(Hive::kLocalMachine, key, "ImagePath", REG_EXPAND_SZ, Text(lpBinaryPathName));
  registry.WriteValue(Hive::kLocalMachine, key, "DisplayName", REG_SZ,
                      Text(lpDisplayName != nullptr ? lpDisplayName : name));
  registry.WriteValue(Hive::kLocalMachine, key, "ObjectName", REG_SZ,
                      Text(lpServiceStartName != nullptr ? lpServiceStartName : "LocalSystem"));
  if (lpLoadOrderGroup != nullptr && *lpLoadOrderGroup != '\0') {
    registry.WriteValue(Hive::kLocalMachine, key, "Group", REG_SZ, Text(lpLoadOrderGroup));
  }
  if (lpDependencies != nullptr && *lpDependencies != '\0') {
    registry.WriteValue(Hive::kLocalMachine, key, "DependOnService", REG_MULTI_SZ,
                        TextList(lpDependencies));
  }
  s.runs.erase(FoldCase(name));  // a new service has never run
  RunOf(s, name);
  return NewHandle(s, {false, MapRights(dwDesiredAccess, kServiceMapping), FoldCase(name)});
}

SC_HANDLE WINAPI OpenServiceA(SC_HANDLE hSCManager, LPCSTR lpServiceName, DWORD dwDesiredAccess) {
  CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<SC_HANDLE>();
  using namespace host::detail;
  auto& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (Find(s, hSCManager, true) == nullptr || !ValidName(lpServiceName)) return nullptr;
  if (!Exists(lpServiceName)) {
    SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
    return nullptr;
  }
  const DWORD rights = MapRights(dwDesiredAccess, kServiceMapping);
  if (Registry().LimitedUser() && (rights & ~kUserServiceRights) != 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  return NewHandle(s, {false, rights, FoldCase(lpServiceName)});
}

BOOL WINAPI QueryServiceStatus(SC_HANDLE hService, LPSERVICE_STATUS lpServiceStatus) {
  CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<BOOL>();
  using namespace host::detail;
  auto& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  OpenScHandle* service = Find(s, hService, false);
  if (service == nullptr || !Grants(*service, SERVICE_QUERY_STATUS)) return FALSE;
  if (lpServiceStatus == nullptr) {
    SetLastError(ERROR_INVALID_ADDRESS);
    return FALSE;
  }
  *lpServiceStatus = RunOf(s, service->service).status;
  return TRUE;
}

BOOL WINAPI StartServiceA(SC_HANDLE hService, DWORD /*dwNumServiceArgs*/,
                          LPCSTR* /*lpServiceArgVectors*/) {
  CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<BOOL>();
  using namespace host::detail;
  auto& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  OpenScHandle* service = Find(s, hService, false);
  if (service == nullptr || !Grants(*service, SERVICE_START)) return FALSE;
  ServiceRun& run = RunOf(s, service->service);
  DWORD start = SERVICE_DEMAND_START;
  ReadDword(service->service, "Start", &start);
  DWORD error = NO_ERROR;
  if (run.markedForDelete) {
    error = ERROR_SERVICE_MARKED_FOR_DELETE;
  } else if (start == SERVICE_DISABLED) {
    error = ERROR_SERVICE_DISABLED;
  } else if (run.status.dwCurrentState != SERVICE_STOPPED) {
    error = ERROR_SERVICE_ALREADY_RUNNING;
  }
  if (error != NO_ERROR) {
    SetLastError(error);
    return FALSE;
  }
  // No process is started: the service is taken to be up at once.
  SetState(run, SERVICE_RUNNING);
  return TRUE;
}

BOOL WINAPI ControlService(SC_HANDLE hService, DWORD dwControl, LPSERVICE_STATUS lpServiceStatus) {
  CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<BOOL>();
  using namespace host::detail;
  auto& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  OpenScHandle* service = Find(s, hService, false);
  if (service == nullptr) return FALSE;
  DWORD needed = 0;
  switch (dwControl) {
    case SERVICE_CONTROL_STOP:
      needed = SERVICE_STOP;
      break;
    case SERVICE_CONTROL_PAUSE:
    case SERVICE_CONTROL_CONTINUE:
      needed = SERVICE_PAUSE_CONTINUE;
      break;
    case SERVICE_CONTROL_INTERROGATE:
      needed = SERVICE_INTERROGATE;
      break;
    default:
      if (dwControl < 128 || dwControl > 255) {  // shutdown is the system's own to send
        SetLastError(ERROR_INVALID_SERVICE_CONTROL);
        return FALSE;
      }
      needed = SERVICE_USER_DEFINED_CONTROL;
  }
  if (!Grants(*service, needed)) return FALSE;
  if (lpServiceStatus == nullptr) {
    SetLastError(ERROR_INVALID_ADDRESS);
    return FALSE;
  }
  const std::string name = service->service;
  ServiceRun& run = RunOf(s, name);
  // These failures still hand back the status, as Windows does.
  DWORD error = NO_ERROR;
  if (run.status.dwCurrentState == SERVICE_STOPPED) {
    error = ERROR_SERVICE_NOT_ACTIVE;
  } else if (dwControl == SERVICE_CONTROL_STOP) {
    SetState(run, SERVICE_STOPPED);  // no process to wait for
  } else if (dwControl != SERVICE_CONTROL_INTERROGATE) {
    error = ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
  }
  *lpServiceStatus = run.status;
  if (error != NO_ERROR) {
    SetLastError(error);
    return FALSE;
  }
  FinishDeletionIfDue(s, name);
  return TRUE;
}

BOOL WINAPI DeleteService(SC_HANDLE hService) {
  CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<BOOL>();
  using namespace host::detail;
  auto& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  OpenScHandle* service = Find(s, hService, false);
  if (service == nullptr || !Grants(*service, DELETE)) return FALSE;
  ServiceRun& run = RunOf(s, service->service);
  if (run.markedForDelete) {
    SetLastError(ERROR_SERVICE_MARKED_FOR_DELETE);
    return FALSE;
  }
  run.markedForDelete = true;  // removed when its last handle is closed
  return TRUE;
}

BOOL WINAPI CloseServiceHandle(SC_HANDLE hSCObject) {
  CallGate gate(__func__);
  // Windows releases the handle even when it reports a failure.
  const BOOL closed = host::detail::CloseScHandle(hSCObject);
  if (gate.Fails()) return gate.Answer<BOOL>();
  return closed;
}
