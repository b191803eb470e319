// What the conformance tests need beyond the system's own calls: a scratch directory, the
// environment, telling Wine apart, the handles a test keeps open, and a second process. Test-only
// code, so it may look at the platform it is built for.
#ifndef PM_CONFORMANCE_SUPPORT_H
#define PM_CONFORMANCE_SUPPORT_H

#include <string>
#include <vector>

#include "Win32Api.h"

#ifdef _WIN32
#include <sddl.h>
#endif

#ifndef _WIN32
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cstdlib>

#include "ChildProcess.h"
#include "HostControl.h"
#endif

namespace conformance {

// True under Wine, where a few answers differ from Windows (each use says which).
inline bool IsWine() {
#ifdef _WIN32
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
  return false;
#endif
}

inline std::string ScratchDir() {
#ifdef _WIN32
  char path[MAX_PATH + 1];
  DWORD n = GetTempPathA(sizeof path, path);
  return std::string(path, n);
#else
  const char* tmp = std::getenv("TMPDIR");
  std::string dir = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
  return dir.back() == '/' ? dir : dir + "/";
#endif
}

inline char PathSeparator() {
#ifdef _WIN32
  return '\\';
#else
  return '/';
#endif
}

inline unsigned long ProcessId() {
#ifdef _WIN32
  return GetCurrentProcessId();
#else
  return static_cast<unsigned long>(getpid());
#endif
}

inline void SetEnv(const char* name, const char* value) {
#ifdef _WIN32
  SetEnvironmentVariableA(name, value);
#else
  if (value != nullptr) {
    setenv(name, value, 1);
  } else {
    unsetenv(name);
  }
#endif
}

// The directory this test program was started from (with a trailing separator).
inline std::string ProgramDir() {
#ifdef _WIN32
  char path[MAX_PATH + 1];
  DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  std::string self(path, n);
#else
  char path[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path);
  std::string self(path, n > 0 ? static_cast<size_t>(n) : 0);
#endif
  return self.substr(0, self.find_last_of(PathSeparator()) + 1);
}

// The null device, as a path CreateFileA opens.
inline const char* NullDevice() {
#ifdef _WIN32
  return "NUL";
#else
  return "/dev/null";
#endif
}

// Gives the file at `existing` the second name `link`; false when that cannot be done.
inline bool MakeHardLink(const std::string& link, const std::string& existing) {
#ifdef _WIN32
  return CreateHardLinkA(link.c_str(), existing.c_str(), nullptr) != FALSE;
#else
  return ::link(existing.c_str(), link.c_str()) == 0;
#endif
}

#ifdef _WIN32
// The Unix path of a Windows path under Wine; empty when Wine cannot say.
inline std::string WineUnixPath(const std::string& path) {
  typedef char*(CDECL * UnixFileName)(LPCWSTR);
  auto unixFileName = reinterpret_cast<UnixFileName>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  WCHAR wide[MAX_PATH + 1];
  if (unixFileName == nullptr ||
      MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH + 1) == 0) {
    return std::string();
  }
  char* unixPath = unixFileName(wide);
  if (unixPath == nullptr) return std::string();
  std::string result = unixPath;
  HeapFree(GetProcessHeap(), 0, unixPath);
  return result;
}

// Under Wine, runs a Unix shell command as a user with a shell would. Wine starts a Unix
// program named by a Z: path but hands back no handle to wait on, so the shell leaves the
// file `marker` (a Windows path) once the command has succeeded; false when it has not
// within ten seconds.
inline bool RunUnixShell(const std::string& command, const std::string& marker) {
  const std::string unixMarker = WineUnixPath(marker);
  if (unixMarker.empty()) return false;
  std::string commandLine = "sh -c \"" + command + " && : >'" + unixMarker + "'\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  if (!CreateProcessA("Z:\\bin\\sh", &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &info)) {
    return false;
  }
  for (int waited = 0; waited < 10000; waited += 20) {
    if (GetFileAttributesA(marker.c_str()) != INVALID_FILE_ATTRIBUTES) {
      DeleteFileA(marker.c_str());
      return true;
    }
    Sleep(20);
  }
  return false;
}
#endif

// Makes the existing key root\path one that every account is denied reading (querying values,
// enumerating subkeys, notification), as an administrator can with its access list; the key
// may still be opened for other rights, and deleted. False when that cannot be done.
inline bool DenyReading(HKEY root, const std::string& path) {
#ifdef _WIN32
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  // Everyone: denied KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS | KEY_NOTIFY, allowed all else.
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(
          "D:(D;;0x19;;;WD)(A;;KA;;;WD)", SDDL_REVISION_1, &descriptor, nullptr)) {
    return false;
  }
  HKEY key = nullptr;
  LONG rc = RegOpenKeyExA(root, path.c_str(), 0, WRITE_DAC, &key);
  if (rc == ERROR_SUCCESS) {
    rc = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor);
    RegCloseKey(key);
  }
  LocalFree(descriptor);
  return rc == ERROR_SUCCESS;
#else
  return host::DenyReading(root, path);
#endif
}

// Makes `link` a symbolic link to the file `target` (which need not exist); false when that
// cannot be done (Windows allows it only in developer mode or with a privilege). Wine 8's
// CreateSymbolicLinkA answers TRUE and makes nothing: there a Unix symbolic link is made.
inline bool MakeSymbolicLink(const std::string& link, const std::string& target) {
#ifdef _WIN32
  if (IsWine()) {
    return RunUnixShell("ln -s '" + WineUnixPath(target) + "' '" + WineUnixPath(link) + "'",
                        link + ".made");
  }
  return CreateSymbolicLinkA(link.c_str(), target.c_str(),
                             SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) != FALSE;
#else
  return symlink(target.c_str(), link.c_str()) == 0;
#endif
}

// Makes `link` a symbolic link to the folder `target`; false when that cannot be done (as for a
// file link, above; under Wine a Unix symbolic link).
inline bool MakeFolderLink(const std::string& link, const std::string& target) {
#ifdef _WIN32
  if (IsWine()) return MakeSymbolicLink(link, target);
  return CreateSymbolicLinkA(
             link.c_str(), target.c_str(),
             SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) != FALSE;
#else
  return symlink(target.c_str(), link.c_str()) == 0;
#endif
}

// Removes the folder link `link`, not its target.
inline bool RemoveFolderLink(const std::string& link) {
#ifdef _WIN32
  if (IsWine()) return RunUnixShell("rm '" + WineUnixPath(link) + "'", link + ".gone");
  return RemoveDirectoryA(link.c_str()) != FALSE;
#else
  return unlink(link.c_str()) == 0;
#endif
}

inline bool MakeFolder(const std::string& path) {
#ifdef _WIN32
  return CreateDirectoryA(path.c_str(), nullptr) != FALSE;
#else
  return mkdir(path.c_str(), 0700) == 0;
#endif
}

inline void RemoveFolder(const std::string& path) {
#ifdef _WIN32
  RemoveDirectoryA(path.c_str());
#else
  rmdir(path.c_str());
#endif
}

// The short (8.3) form of the existing folder `path`, by GetShortPathNameA; empty when the
// folder has none. Windows makes short names itself (unless a volume is set not to; Wine
// always does); the stand-in has only those a test gives, so here the folder gets one first.
inline std::string ShortPathOf(const std::string& path) {
#ifndef _WIN32
  const size_t slash = path.find_last_of('/');
  const std::string name = path.substr(slash + 1);
  if (!host::SetShortName(path, name.substr(0, 6) + "~1")) return std::string();
#endif
  char shortPath[MAX_PATH + 1];
  const DWORD n = GetShortPathNameA(path.c_str(), shortPath, sizeof shortPath);
  if (n == 0 || n > MAX_PATH || path == shortPath) return std::string();
  return shortPath;
}

// Removes the symbolic link `link`, not its target. Wine 8's DeleteFileA follows a Unix
// symbolic link and deletes the target: there the link is removed from the shell.
inline bool RemoveSymbolicLink(const std::string& link) {
#ifdef _WIN32
  if (IsWine()) return RunUnixShell("rm '" + WineUnixPath(link) + "'", link + ".gone");
#endif
  return DeleteFileA(link.c_str()) != FALSE;
}

// The file handles a test has open, so that TearDown closes whatever a failed check left
// before it removes the files.
class OpenHandles {
 public:
  // Keeps `h` unless it is INVALID_HANDLE_VALUE; answers it.
  HANDLE Keep(HANDLE h) {
    if (h != INVALID_HANDLE_VALUE) open_.push_back(h);
    return h;
  }
  // Closes `h`, kept or not; CloseHandle's answer.
  bool Close(HANDLE h) {
    for (auto it = open_.begin(); it != open_.end(); ++it) {
      if (*it == h) {
        open_.erase(it);
        break;
      }
    }
    return CloseHandle(h) != FALSE;
  }
  void CloseAll() {
    for (HANDLE h : open_) CloseHandle(h);
    open_.clear();
  }

 private:
  std::vector<HANDLE> open_;
};

// What `h` reads from its position to the end.
inline std::string ReadToEnd(HANDLE h) {
  std::string text;
  char buffer[256];
  DWORD got = 0;
  while (ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
  return text;
}

// The helper program conformance_holder, started with one argument; it answers one line on
// its stdout and lives until its stdin is closed.
class Holder {
 public:
  Holder() = default;
  Holder(const Holder&) = delete;
  Holder& operator=(const Holder&) = delete;
  ~Holder() { Finish(); }

  // Starts the helper on `path`; false when it could not be started.
  bool Start(const std::string& path) {
#ifdef _WIN32
    std::string program = ProgramDir() + "conformance_holder.exe";
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE childIn = nullptr, childOut = nullptr;
    if (!CreatePipe(&childIn, &toChild_, &inherit, 0)) return false;
    if (!CreatePipe(&fromChild_, &childOut, &inherit, 0)) return false;
    SetHandleInformation(toChild_, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(fromChild_, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = childIn;
    startup.hStdOutput = childOut;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    std::string commandLine = "\"" + program + "\" \"" + path + "\"";
    PROCESS_INFORMATION info = {};
    BOOL started = CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0,
                                  nullptr, nullptr, &startup, &info);
    CloseHandle(childIn);
    CloseHandle(childOut);
    if (!started) return false;
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    return true;
#else
    return child_.Start(ProgramDir() + "conformance_holder", {path});
#endif
  }

  // The helper's first line, without its line end.
  std::string ReadLine() {
#ifdef _WIN32
    std::string line;
    char c;
    DWORD got = 0;
    while (ReadFile(fromChild_, &c, 1, &got, nullptr) && got == 1 && c != '\n') {
      if (c != '\r') line += c;
    }
    return line;
#else
    return child_.ReadLine();
#endif
  }

  // Closes the helper's stdin and waits for it to end; its exit status, or -1.
  int Finish() {
    int status = -1;
#ifdef _WIN32
    if (toChild_ != nullptr) CloseHandle(toChild_);
    if (fromChild_ != nullptr) CloseHandle(fromChild_);
    toChild_ = fromChild_ = nullptr;
    if (process_ != nullptr) {
      WaitForSingleObject(process_, 10000);
      DWORD code = 0;
      if (GetExitCodeProcess(process_, &code)) status = static_cast<int>(code);
      CloseHandle(process_);
      process_ = nullptr;
    }
#else
    child_.Finish(&status);
#endif
    return status;
  }

 private:
#ifdef _WIN32
  HANDLE toChild_ = nullptr;
  HANDLE fromChild_ = nullptr;
  HANDLE process_ = nullptr;
#else
  ChildProcess child_;
#endif
};

}  // namespace conformance

#endif
