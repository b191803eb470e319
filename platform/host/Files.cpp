// Files, the error mode and environment expansion over POSIX.
//
// Paths are taken as given: the host uses POSIX paths, and backslashes are not translated
// (a backslash is an ordinary character in a host file name).
//
// Sharing: an open without share rights (share mode 0) holds an exclusive flock on its own
// open file description, any other open that reads or writes holds a shared one; a
// conflicting lock answers ERROR_SHARING_VIOLATION. This gives Windows' exclusion for share
// mode 0 against every other open, in this process and in others, and treats every nonzero
// share mode as "share everything". Only regular files are locked: Windows applies no share
// mode to a device such as the null device.
//
// Links: a hard link is a second name of the same file, and GetFileInformationByHandle
// counts its names. A symbolic link is followed, except at the end of a path opened with
// FILE_FLAG_OPEN_REPARSE_POINT: the link is then opened as itself (a dangling one too, so
// its target is not created) and reported as a reparse point. The stand-in keeps no data in
// a link: such a handle answers GetFileType, GetFileInformationByHandle and CloseHandle, and
// every other call on it fails with ERROR_INVALID_FUNCTION.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "CallGate.h"
#include "HostInternal.h"

extern char** environ;

namespace host::detail {
namespace {

// Generic rights, and the specific ones FILE_READ_DATA (1), FILE_WRITE_DATA (2) and
// FILE_APPEND_DATA (4).
constexpr DWORD kReadRights = static_cast<DWORD>(GENERIC_READ | GENERIC_ALL) | 0x0001;
constexpr DWORD kWriteRights = static_cast<DWORD>(GENERIC_WRITE | GENERIC_ALL) | 0x0002 | 0x0004;

struct OpenFile {
  int fd = -1;
  bool canRead = false;
  bool canWrite = false;
  bool isLink = false;  // a symbolic link opened as itself
  ~OpenFile() {
    if (fd >= 0) close(fd);  // also drops the lock
  }
};

struct FileTable {
  std::mutex mutex;
  // Shared so that a call in progress keeps its descriptor while another thread closes it.
  std::unordered_map<uintptr_t, std::shared_ptr<OpenFile>> files;
};

FileTable& Table() {
  static FileTable* table = new FileTable;
  return *table;
}

std::atomic<UINT> g_errorMode{0};

std::shared_ptr<OpenFile> Lookup(HANDLE handle) {
  FileTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  auto it = table.files.find(reinterpret_cast<uintptr_t>(handle));
  return it == table.files.end() ? nullptr : it->second;
}

// The file behind a handle, for a call that reads, writes, sizes or positions it; null, with
// the last error set, when the handle names no file or a link opened as itself.
std::shared_ptr<OpenFile> LookupData(HANDLE handle) {
  std::shared_ptr<OpenFile> file = Lookup(handle);
  if (!file) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (file->isLink) {
    SetLastError(ERROR_INVALID_FUNCTION);
    return nullptr;
  }
  return file;
}

// Opens the symbolic link at path as itself into file; false when path names no link.
bool OpenLinkItself(const std::string& path, OpenFile* file) {
  const int fd = open(path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISLNK(st.st_mode)) {
    close(fd);
    return false;
  }
  file->fd = fd;
  file->isLink = true;
  return true;
}

bool IsSymbolicLink(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

// A POSIX time as a FILETIME: 100-nanosecond intervals since 1601-01-01.
FILETIME ToFileTime(const timespec& time) {
  constexpr int64_t kSecondsFrom1601To1970 = 11644473600;
  const int64_t ticks =
      (static_cast<int64_t>(time.tv_sec) + kSecondsFrom1601To1970) * 10000000 + time.tv_nsec / 100;
  const auto value = static_cast<uint64_t>(std::max<int64_t>(ticks, 0));
  return FILETIME{static_cast<DWORD>(value), static_cast<DWORD>(value >> 32)};
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string ParentOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// The Windows error for a failed open or unlink of `path`.
DWORD PathError(int error, const std::string& path) {
  switch (error) {
    case ENOENT:
      return IsDirectory(ParentOf(path)) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EEXIST:
      return ERROR_FILE_EXISTS;
    case ENAMETOOLONG:
      return ERROR_INVALID_NAME;
    case EMFILE:
    case ENFILE:
      return ERROR_NOT_ENOUGH_MEMORY;
    default:  // EACCES, EPERM, EROFS, EISDIR, ...
      return ERROR_ACCESS_DENIED;
  }
}

// Value of an environment variable, found without regard to case as on Windows.
bool LookUpVariable(const std::string& name, std::string* value) {
  if (name.empty() || name.find('=') != std::string::npos) return false;
  if (const char* exact = std::getenv(name.c_str())) {
    *value = exact;
    return true;
  }
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const char* equals = std::strchr(*entry, '=');
    if (equals == nullptr || static_cast<size_t>(equals - *entry) != name.size()) continue;
    if (strncasecmp(*entry, name.c_str(), name.size()) == 0) {
      *value = equals + 1;
      return true;
    }
  }
  return false;
}

// %NAME% is replaced by the variable's value; an unknown or empty name is left as written,
// both percent signs included, and a lone percent sign stays.
std::string Expand(const char* source) {
  std::string out;
  const char* p = source;
  while (*p != '\0') {
    if (*p != '%') {
      out += *p++;
      continue;
    }
    const char* close = std::strchr(p + 1, '%');
    if (close == nullptr) {
      out += p;
      break;
    }
    std::string value;
    if (LookUpVariable(std::string(p + 1, close), &value)) {
      out += value;
    } else {
      out.append(p, close + 1);
    }
    p = close + 1;
  }
  return out;
}

}  // namespace

size_t OpenFileCount() {
  FileTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  return table.files.size();
}

void ResetFiles() {
  FileTable& table = Table();
  std::unordered_map<uintptr_t, std::shared_ptr<OpenFile>> closing;
  {
    std::lock_guard<std::mutex> lock(table.mutex);
    closing.swap(table.files);
  }
  g_errorMode = 0;
}

// Closes a file or an event; the part of CloseHandle that an injected failure does not stop.
BOOL Close(HANDLE hObject) {
  // INVALID_HANDLE_VALUE is also the current process's pseudo handle: closing it is fine.
  if (hObject == INVALID_HANDLE_VALUE) return TRUE;
  std::shared_ptr<OpenFile> file;
  {
    auto& table = host::detail::Table();
    std::lock_guard<std::mutex> lock(table.mutex);
    auto it = table.files.find(reinterpret_cast<uintptr_t>(hObject));
    if (it != table.files.end()) {
      file = std::move(it->second);
      table.files.erase(it);
    }
  }
  if (file) return TRUE;  // the descriptor closes when the last call using it is done
  if (CloseEventHandle(hObject)) return TRUE;
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}

}  // namespace host::detail

using host::detail::CallGate;
using host::detail::OpenFile;

UINT WINAPI SetErrorMode(UINT uMode) {
  CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<UINT>();
  return host::detail::g_errorMode.exchange(uMode);
}

DWORD WINAPI ExpandEnvironmentStringsA(LPCSTR lpSrc, LPSTR lpDst, DWORD nSize) {
  CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<DWORD>();
  if (lpSrc == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::string expanded = host::detail::Expand(lpSrc);
  const auto needed = static_cast<DWORD>(expanded.size() + 1);
  // A buffer that is too small gets as much as fits, terminated, as Windows does.
  if (lpDst != nullptr && nSize > 0) {
    size_t copied = std::min<size_t>(expanded.size(), nSize - 1);
    std::memcpy(lpDst, expanded.data(), copied);
    lpDst[copied] = '\0';
  }
  if (nSize < needed) SetLastError(ERROR_INSUFFICIENT_BUFFER);
  return needed;
}

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES /*lpSecurityAttributes*/,
                          DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes,
                          HANDLE /*hTemplateFile*/) {
  CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<HANDLE>();
  if (lpFileName == nullptr || *lpFileName == '\0') {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  if (dwCreationDisposition < CREATE_NEW || dwCreationDisposition > TRUNCATE_EXISTING) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  const std::string path = lpFileName;
  const bool linkItself = (dwFlagsAndAttributes & FILE_FLAG_OPEN_REPARSE_POINT) != 0;
  auto file = std::make_shared<OpenFile>();
  file->canRead = (dwDesiredAccess & host::detail::kReadRights) != 0;
  file->canWrite = (dwDesiredAccess & host::detail::kWriteRights) != 0;
  // Never through a link at the end: one planted after the look for it is taken as a link.
  int flags = O_CLOEXEC | O_NOCTTY | (linkItself ? O_NOFOLLOW : 0);
  flags |= file->canWrite ? (file->canRead ? O_RDWR : O_WRONLY) : O_RDONLY;
  const mode_t mode = (dwFlagsAndAttributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;

  // Open first and truncate only once the sharing check has passed, so a refused open
  // leaves the file as it was.
  bool created = false;
  for (int attempt = 0; attempt < 10; ++attempt) {
    if (linkItself && host::detail::OpenLinkItself(path, file.get())) break;
    if (dwCreationDisposition != CREATE_NEW) {
      file->fd = open(path.c_str(), flags);
      if (file->fd >= 0) break;
      if (linkItself && errno == ELOOP) continue;  // a link came since the look for one
      if (errno != ENOENT) break;
      if (dwCreationDisposition == OPEN_EXISTING || dwCreationDisposition == TRUNCATE_EXISTING) {
        break;
      }
    }
    file->fd = open(path.c_str(), flags | O_CREAT | O_EXCL, mode);
    if (file->fd >= 0) {
      created = true;
      break;
    }
    if (errno != EEXIST || dwCreationDisposition == CREATE_NEW) break;
    // Something is there after all. A symbolic link whose target is missing, followed,
    // makes its target; otherwise another creator won a race: open what it made.
    if (!linkItself && host::detail::IsSymbolicLink(path)) {
      file->fd = open(path.c_str(), flags | O_CREAT, mode);
      created = file->fd >= 0;
      break;
    }
  }
  const bool existed = !created;
  if (file->fd < 0) {
    SetLastError(host::detail::PathError(errno, path));
    return INVALID_HANDLE_VALUE;
  }
  struct stat st;
  if (fstat(file->fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  if (file->isLink && dwCreationDisposition == CREATE_NEW) {
    SetLastError(ERROR_FILE_EXISTS);
    return INVALID_HANDLE_VALUE;
  }
  // An open that neither reads nor writes (attributes only) shares with everything.
  if (S_ISREG(st.st_mode) && (file->canRead || file->canWrite)) {
    int lock = (dwShareMode & (FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)) == 0
                   ? LOCK_EX
                   : LOCK_SH;
    if (flock(file->fd, lock | LOCK_NB) != 0) {
      SetLastError(errno == EWOULDBLOCK ? ERROR_SHARING_VIOLATION : ERROR_ACCESS_DENIED);
      return INVALID_HANDLE_VALUE;
    }
  }
  if (existed && S_ISREG(st.st_mode) &&
      (dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == TRUNCATE_EXISTING)) {
    int rc = file->canWrite ? ftruncate(file->fd, 0) : truncate(path.c_str(), 0);
    if (rc != 0) {
      SetLastError(ERROR_ACCESS_DENIED);
      return INVALID_HANDLE_VALUE;
    }
  }
  uintptr_t value = host::detail::NextHandleValue();
  {
    auto& table = host::detail::Table();
    std::lock_guard<std::mutex> lock(table.mutex);
    table.files[value] = file;
  }
  const bool reportExisting =
      existed && (dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == OPEN_ALWAYS);
  SetLastError(reportExisting ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return reinterpret_cast<HANDLE>(value);
}

DWORD WINAPI GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh) {
  CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<DWORD>();
  std::shared_ptr<OpenFile> file = host::detail::LookupData(hFile);
  if (!file) return INVALID_FILE_SIZE;
  struct stat st;
  if (fstat(file->fd, &st) != 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return INVALID_FILE_SIZE;
  }
  const auto size = static_cast<uint64_t>(st.st_size);
  if (lpFileSizeHigh != nullptr) *lpFileSizeHigh = static_cast<DWORD>(size >> 32);
  const auto low = static_cast<DWORD>(size);
  // A size whose low part looks like the failure value is told apart by the last error.
  if (low == INVALID_FILE_SIZE) SetLastError(NO_ERROR);
  return low;
}

DWORD WINAPI SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh,
                            DWORD dwMoveMethod) {
  CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<DWORD>();
  std::shared_ptr<OpenFile> file = host::detail::LookupData(hFile);
  if (!file) return INVALID_SET_FILE_POINTER;
  // Without a high part the distance is a signed 32-bit number.
  int64_t distance =
      lpDistanceToMoveHigh != nullptr
          ? static_cast<int64_t>(static_cast<uint64_t>(static_cast<uint32_t>(*lpDistanceToMoveHigh))
                                     << 32 |
                                 static_cast<uint32_t>(lDistanceToMove))
          : lDistanceToMove;
  int64_t base = 0;
  if (dwMoveMethod == FILE_CURRENT) {
    base = lseek(file->fd, 0, SEEK_CUR);
  } else if (dwMoveMethod == FILE_END) {
    struct stat st;
    base = fstat(file->fd, &st) == 0 ? st.st_size : -1;
  } else if (dwMoveMethod != FILE_BEGIN) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  if (base < 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return INVALID_SET_FILE_POINTER;
  }
  int64_t target = base + distance;
  if (target < 0) {
    SetLastError(ERROR_NEGATIVE_SEEK);
    return INVALID_SET_FILE_POINTER;
  }
  if (lseek(file->fd, static_cast<off_t>(target), SEEK_SET) < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  if (lpDistanceToMoveHigh != nullptr) {
    *lpDistanceToMoveHigh = static_cast<LONG>(static_cast<uint64_t>(target) >> 32);
  }
  const auto low = static_cast<DWORD>(target);
  if (low == INVALID_SET_FILE_POINTER) SetLastError(NO_ERROR);
  return low;
}

BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                      LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) {
  CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<BOOL>();
  if (lpNumberOfBytesWritten != nullptr) *lpNumberOfBytesWritten = 0;
  std::shared_ptr<OpenFile> file = host::detail::LookupData(hFile);
  if (!file) return FALSE;
  if (lpOverlapped != nullptr) {  // overlapped I/O is not provided
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!file->canWrite) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  const char* bytes = static_cast<const char*>(lpBuffer);
  DWORD done = 0;
  while (done < nNumberOfBytesToWrite) {
    ssize_t n = write(file->fd, bytes + done, nNumberOfBytesToWrite - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      SetLastError(errno == ENOSPC ? ERROR_GEN_FAILURE : ERROR_ACCESS_DENIED);
      if (lpNumberOfBytesWritten != nullptr) *lpNumberOfBytesWritten = done;
      return FALSE;
    }
    done += static_cast<DWORD>(n);
  }
  if (lpNumberOfBytesWritten != nullptr) *lpNumberOfBytesWritten = done;
  return TRUE;
}

BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                     LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped) {
  CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<BOOL>();
  if (lpNumberOfBytesRead != nullptr) *lpNumberOfBytesRead = 0;
  std::shared_ptr<OpenFile> file = host::detail::LookupData(hFile);
  if (!file) return FALSE;
  if (lpOverlapped != nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!file->canRead) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  char* bytes = static_cast<char*>(lpBuffer);
  DWORD done = 0;
  while (done < nNumberOfBytesToRead) {
    ssize_t n = read(file->fd, bytes + done, nNumberOfBytesToRead - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      SetLastError(ERROR_GEN_FAILURE);
      return FALSE;
    }
    if (n == 0) break;  // end of file: success with what was read
    done += static_cast<DWORD>(n);
  }
  if (lpNumberOfBytesRead != nullptr) *lpNumberOfBytesRead = done;
  return TRUE;
}

BOOL WINAPI SetEndOfFile(HANDLE hFile) {
  CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<BOOL>();
  std::shared_ptr<OpenFile> file = host::detail::LookupData(hFile);
  if (!file) return FALSE;
  if (!file->canWrite) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  off_t position = lseek(file->fd, 0, SEEK_CUR);
  if (position < 0 || ftruncate(file->fd, position) != 0) {
    SetLastError(errno == EFBIG ? ERROR_INVALID_PARAMETER : ERROR_GEN_FAILURE);
    return FALSE;
  }
  return TRUE;
}

DWORD WINAPI GetFileType(HANDLE hFile) {
  CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<DWORD>();
  std::shared_ptr<OpenFile> file = host::detail::Lookup(hFile);
  struct stat st;
  if (!file || fstat(file->fd, &st) != 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FILE_TYPE_UNKNOWN;
  }
  if (S_ISCHR(st.st_mode)) return FILE_TYPE_CHAR;
  if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) return FILE_TYPE_PIPE;
  return FILE_TYPE_DISK;  // a file, a link, or a block device (a volume, on Windows)
}

BOOL WINAPI GetFileInformationByHandle(HANDLE hFile,
                                       LPBY_HANDLE_FILE_INFORMATION lpFileInformation) {
  CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<BOOL>();
  std::shared_ptr<OpenFile> file = host::detail::Lookup(hFile);
  struct stat st;
  if (!file || fstat(file->fd, &st) != 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  // Only what a file system holds has this record: a device or a pipe is refused, with the
  // error Wine gives for the null device.
  if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (lpFileInformation == nullptr) {
    SetLastError(ERROR_NOACCESS);
    return FALSE;
  }
  BY_HANDLE_FILE_INFORMATION& info = *lpFileInformation;
  info.dwFileAttributes = FILE_ATTRIBUTE_ARCHIVE;
  if (file->isLink) info.dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
  if ((st.st_mode & S_IWUSR) == 0) info.dwFileAttributes |= FILE_ATTRIBUTE_READONLY;
  // POSIX keeps no creation time; the last change of the file's status stands in for it.
  info.ftCreationTime = host::detail::ToFileTime(st.st_ctim);
  info.ftLastAccessTime = host::detail::ToFileTime(st.st_atim);
  info.ftLastWriteTime = host::detail::ToFileTime(st.st_mtim);
  info.dwVolumeSerialNumber = static_cast<DWORD>(st.st_dev);
  const uint64_t size = file->isLink ? 0 : static_cast<uint64_t>(st.st_size);
  info.nFileSizeHigh = static_cast<DWORD>(size >> 32);
  info.nFileSizeLow = static_cast<DWORD>(size);
  info.nNumberOfLinks = static_cast<DWORD>(st.st_nlink);
  const auto index = static_cast<uint64_t>(st.st_ino);
  info.nFileIndexHigh = static_cast<DWORD>(index >> 32);
  info.nFileIndexLow = static_cast<DWORD>(index);
  return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE hObject) {
  CallGate gate(__func__);
  // Windows releases the handle even when it reports a failure.
  const BOOL closed = host::detail::Close(hObject);
  if (gate.Fails()) return gate.Answer<BOOL>();
  return closed;
}

BOOL WINAPI DeleteFileA(LPCSTR lpFileName) {
  CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<BOOL>();
  if (lpFileName == nullptr || *lpFileName == '\0') {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  const std::string path = lpFileName;
  // Nothing here opens with delete sharing, so any open of the file blocks its deletion.
  int probe = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (probe >= 0) {
    bool busy = flock(probe, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    close(probe);
    if (busy) {
      SetLastError(ERROR_SHARING_VIOLATION);
      return FALSE;
    }
  }
  if (host::detail::IsDirectory(path)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (unlink(path.c_str()) != 0) {
    SetLastError(host::detail::PathError(errno, path));
    return FALSE;
  }
  return TRUE;
}
