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
// a link: such a handle answers GetFileType, GetFileInformationByHandle,
// GetFinalPathNameByHandleA, SetFileInformationByHandle and CloseHandle, and every other call
// on it fails with ERROR_INVALID_FUNCTION. GetFinalPathNameByHandleA answers the path with
// every symbolic link in it resolved, as Windows does (and Wine, for a Unix link in any folder
// of the path), in Windows' form: "\\?\" and then the host path.
//
// Folders open only with FILE_FLAG_BACKUP_SEMANTICS, as on Windows. An open that asks for no
// right to read or write (attributes only) of an existing file opens no data at all, so it
// neither waits for a pipe nor needs the right to read.
//
// Short names: the host makes none of its own. A test gives an existing file or folder one
// (host::SetShortName); from then on every path here may name it by either name, and
// GetLongPathNameA and GetShortPathNameA translate between them, as Windows does for 8.3 names.
//
// Deleting through a handle: SetFileInformationByHandle(FileDispositionInfo) on a handle opened
// with DELETE marks the file; once the last handle to it in this process is closed, the name
// it then has is removed. A marked file opens for no one else (ERROR_ACCESS_DENIED).
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "CallGate.h"
#include "HostControl.h"
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
  bool canDelete = false;
  bool isLink = false;  // a symbolic link opened as itself
  ~OpenFile() {
    if (fd >= 0) close(fd);  // also drops the lock
  }
};

// A file on disk, whatever its name.
using FileId = std::pair<dev_t, ino_t>;

struct FileTable {
  std::mutex mutex;
  // Shared so that a call in progress keeps its descriptor while another thread closes it.
  std::unordered_map<uintptr_t, std::shared_ptr<OpenFile>> files;
  // Files marked for deletion once their last handle is closed.
  std::set<FileId> deletePending;
  // Short names: "folder/SHORT" to the long name of that folder's entry, and back.
  std::map<std::string, std::string> longNames;
  std::map<std::string, std::string> shortNames;
  std::vector<host::FileOpen> opens;
};

FileTable& Table() {
  static FileTable* table = new FileTable;
  return *table;
}

std::atomic<UINT> g_errorMode{0};

bool IdOf(int fd, FileId* id) {
  struct stat st;
  if (fstat(fd, &st) != 0) return false;
  *id = FileId(st.st_dev, st.st_ino);
  return true;
}

// The path the descriptor's file has now, every link resolved; empty when it has none.
std::string PathOfDescriptor(int fd) {
  char buffer[PATH_MAX + 1];
  const std::string proc = "/proc/self/fd/" + std::to_string(fd);
  const ssize_t n = readlink(proc.c_str(), buffer, PATH_MAX);
  return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

// Removes the name of a file whose deletion was asked for, once no handle here holds it.
// Called with the file already out of the table.
void DeleteIfLastHandle(FileTable& table, const std::shared_ptr<OpenFile>& file) {
  FileId id;
  if (!IdOf(file->fd, &id)) return;
  {
    std::lock_guard<std::mutex> lock(table.mutex);
    if (table.deletePending.count(id) == 0) return;
    for (const auto& entry : table.files) {
      FileId other;
      if (IdOf(entry.second->fd, &other) && other == id) return;
    }
    table.deletePending.erase(id);
  }
  // Only the name that still leads to this very file.
  const std::string path = PathOfDescriptor(file->fd);
  struct stat st;
  if (path.empty() || lstat(path.c_str(), &st) != 0 || FileId(st.st_dev, st.st_ino) != id) return;
  if (S_ISDIR(st.st_mode)) {
    rmdir(path.c_str());
  } else {
    unlink(path.c_str());
  }
}

// Splits a path at its slashes; empty parts (doubled slashes) are dropped.
std::vector<std::string> PartsOf(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t slash = path.find('/', start);
    if (slash == std::string::npos) slash = path.size();
    if (slash > start) parts.push_back(path.substr(start, slash - start));
    start = slash + 1;
  }
  return parts;
}

// The path with each part that has a short name (host::SetShortName) written by its long
// name (toLong), or by its short one.
std::string TranslateNames(const std::string& path, bool toLong) {
  FileTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  if (table.longNames.empty()) return path;
  std::string result = !path.empty() && path[0] == '/' ? "/" : "";
  // The folder so far in long names, by which the names are kept.
  std::string folder = result;
  for (const std::string& part : PartsOf(path)) {
    const std::string in = folder + (folder.empty() || folder.back() == '/' ? "" : "/");
    auto found = table.longNames.find(in + part);
    const std::string longPart = found != table.longNames.end() ? found->second : part;
    std::string shown = longPart;
    if (!toLong) {
      auto shortName = table.shortNames.find(in + longPart);
      shown = shortName != table.shortNames.end() ? shortName->second : part;
    }
    result += (result.empty() || result.back() == '/' ? "" : "/") + shown;
    folder = in + longPart;
  }
  if (path.size() > 1 && path.back() == '/') result += '/';
  return result;
}

// A path as the file system knows it: every short name a test made replaced by its long name.
std::string LongForm(const std::string& path) { return TranslateNames(path, true); }

// The ANSI answer of the path functions: the text and its length when it fits, terminating
// zero included; otherwise the size needed, terminating zero included, and nothing written.
DWORD AnswerPath(const std::string& text, LPSTR buffer, DWORD size) {
  if (buffer == nullptr || size <= text.size()) return static_cast<DWORD>(text.size() + 1);
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return static_cast<DWORD>(text.size());
}

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
  // Closed as Windows closes a process's handles: a file marked for deletion goes.
  for (auto& entry : closing) DeleteIfLastHandle(table, entry.second);
  {
    std::lock_guard<std::mutex> lock(table.mutex);
    table.deletePending.clear();
    table.longNames.clear();
    table.shortNames.clear();
    table.opens.clear();
  }
  g_errorMode = 0;
}

void ClearFileOpens() {
  FileTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  table.opens.clear();
}

// Closes a file or an event; the part of CloseHandle that an injected failure does not stop.
BOOL Close(HANDLE hObject) {
  // INVALID_HANDLE_VALUE is also the current process's pseudo handle: closing it is fine.
  if (hObject == INVALID_HANDLE_VALUE) return TRUE;
  std::shared_ptr<OpenFile> file;
  auto& table = host::detail::Table();
  {
    std::lock_guard<std::mutex> lock(table.mutex);
    auto it = table.files.find(reinterpret_cast<uintptr_t>(hObject));
    if (it != table.files.end()) {
      file = std::move(it->second);
      table.files.erase(it);
    }
  }
  if (file) {
    DeleteIfLastHandle(table, file);
    return TRUE;  // the descriptor closes when the last call using it is done
  }
  if (CloseEventHandle(hObject)) return TRUE;
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}

}  // namespace host::detail

namespace host {

std::vector<FileOpen> FileOpens() {
  detail::FileTable& table = detail::Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  return table.opens;
}

bool SetShortName(const std::string& path, const std::string& shortName) {
  struct stat st;
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos || slash + 1 >= path.size() || shortName.empty() ||
      shortName.find('/') != std::string::npos || lstat(path.c_str(), &st) != 0) {
    return false;
  }
  const std::string folder = path.substr(0, slash == 0 ? 1 : slash);
  const std::string in = folder.back() == '/' ? folder : folder + "/";
  detail::FileTable& table = detail::Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  table.longNames[in + shortName] = path.substr(slash + 1);
  table.shortNames[path.substr(0, slash + 1) + path.substr(slash + 1)] = shortName;
  return true;
}

}  // namespace host

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
  if (host::detail::IsRecording()) {
    auto& table = host::detail::Table();
    std::lock_guard<std::mutex> lock(table.mutex);
    table.opens.push_back(host::FileOpen{lpFileName, dwDesiredAccess, dwShareMode,
                                         dwCreationDisposition, dwFlagsAndAttributes});
  }
  if (dwCreationDisposition < CREATE_NEW || dwCreationDisposition > TRUNCATE_EXISTING) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  // The security quality of service (SECURITY_SQOS_PRESENT and a level) concerns only a
  // named pipe's server, and the stand-in has none: the flags are taken and change nothing.
  const std::string path = host::detail::LongForm(lpFileName);
  const bool linkItself = (dwFlagsAndAttributes & FILE_FLAG_OPEN_REPARSE_POINT) != 0;
  const bool folders = (dwFlagsAndAttributes & FILE_FLAG_BACKUP_SEMANTICS) != 0;
  auto file = std::make_shared<OpenFile>();
  file->canRead = (dwDesiredAccess & host::detail::kReadRights) != 0;
  file->canWrite = (dwDesiredAccess & host::detail::kWriteRights) != 0;
  file->canDelete = (dwDesiredAccess & static_cast<DWORD>(DELETE | GENERIC_ALL)) != 0;
  // Never through a link at the end: one planted after the look for it is taken as a link.
  int flags = O_CLOEXEC | O_NOCTTY | (linkItself ? O_NOFOLLOW : 0);
  flags |= file->canWrite ? (file->canRead ? O_RDWR : O_WRONLY) : O_RDONLY;
  // Attributes only, of what exists: no data is opened (a pipe is not waited for, and the
  // right to read is not needed).
  const bool attributesOnly =
      !file->canRead && !file->canWrite && dwCreationDisposition == OPEN_EXISTING;
  if (attributesOnly) flags = O_PATH | O_CLOEXEC | (linkItself ? O_NOFOLLOW : 0);
  const mode_t mode = (dwFlagsAndAttributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;

  // Open first and truncate only once the sharing check has passed, so a refused open
  // leaves the file as it was.
  bool created = false;
  for (int attempt = 0; attempt < 10; ++attempt) {
    if (linkItself && host::detail::OpenLinkItself(path, file.get())) break;
    if (dwCreationDisposition != CREATE_NEW) {
      // Without blocking: a pipe (a FIFO here) opened for writing alone would wait for a
      // reader. The stand-in takes the pipe's server to be there, as an open on Windows finds
      // it: the FIFO is opened both ways, the handle keeps the rights asked for.
      file->fd = open(path.c_str(), flags | (attributesOnly ? 0 : O_NONBLOCK));
      if (file->fd < 0 && errno == ENXIO) {
        file->fd = open(path.c_str(), (flags & ~O_ACCMODE) | O_RDWR | O_NONBLOCK);
      }
      // A folder, with backup semantics, opens for reading whatever was asked.
      if (file->fd < 0 && errno == EISDIR && folders) {
        file->fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      }
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
  if (!attributesOnly) {
    const int status = fcntl(file->fd, F_GETFL);
    if (status >= 0) fcntl(file->fd, F_SETFL, status & ~O_NONBLOCK);
  }
  struct stat st;
  if (fstat(file->fd, &st) != 0 || (S_ISDIR(st.st_mode) && !folders)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  if (file->isLink && dwCreationDisposition == CREATE_NEW) {
    SetLastError(ERROR_FILE_EXISTS);
    return INVALID_HANDLE_VALUE;
  }
  if (S_ISDIR(st.st_mode) && dwCreationDisposition != OPEN_EXISTING &&
      dwCreationDisposition != OPEN_ALWAYS) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  {
    auto& table = host::detail::Table();
    std::lock_guard<std::mutex> lock(table.mutex);
    if (table.deletePending.count(host::detail::FileId(st.st_dev, st.st_ino)) != 0) {
      SetLastError(ERROR_ACCESS_DENIED);
      return INVALID_HANDLE_VALUE;
    }
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
  const bool folder = S_ISDIR(st.st_mode);
  if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode) && !folder) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (lpFileInformation == nullptr) {
    SetLastError(ERROR_NOACCESS);
    return FALSE;
  }
  BY_HANDLE_FILE_INFORMATION& info = *lpFileInformation;
  info.dwFileAttributes = folder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
  if (file->isLink) info.dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
  if ((st.st_mode & S_IWUSR) == 0) info.dwFileAttributes |= FILE_ATTRIBUTE_READONLY;
  // POSIX keeps no creation time; the last change of the file's status stands in for it.
  info.ftCreationTime = host::detail::ToFileTime(st.st_ctim);
  info.ftLastAccessTime = host::detail::ToFileTime(st.st_atim);
  info.ftLastWriteTime = host::detail::ToFileTime(st.st_mtim);
  info.dwVolumeSerialNumber = static_cast<DWORD>(st.st_dev);
  const uint64_t size = file->isLink || folder ? 0 : static_cast<uint64_t>(st.st_size);
  info.nFileSizeHigh = static_cast<DWORD>(size >> 32);
  info.nFileSizeLow = static_cast<DWORD>(size);
  // A POSIX folder counts its subfolders' ".." as names; Windows gives a folder one.
  info.nNumberOfLinks = folder ? 1 : static_cast<DWORD>(st.st_nlink);
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
  const std::string path = host::detail::LongForm(lpFileName);
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

// Host paths: a relative name is taken from the current folder; "." and ".." parts and
// doubled slashes are resolved in the text alone, as Windows does, without looking at the disk.
DWORD WINAPI GetFullPathNameA(LPCSTR lpFileName, DWORD nBufferLength, LPSTR lpBuffer,
                              LPSTR* lpFilePart) {
  CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<DWORD>();
  if (lpFileName == nullptr || *lpFileName == '\0') {
    SetLastError(ERROR_INVALID_NAME);
    return 0;
  }
  std::string name = lpFileName;
  if (name[0] != '/') {
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd) == nullptr) {
      SetLastError(ERROR_PATH_NOT_FOUND);
      return 0;
    }
    name = std::string(cwd) + "/" + name;
  }
  std::vector<std::string> kept;
  for (const std::string& part : host::detail::PartsOf(name)) {
    if (part == ".") continue;
    if (part == "..") {
      if (!kept.empty()) kept.pop_back();
      continue;
    }
    kept.push_back(part);
  }
  std::string full;
  for (const std::string& part : kept) full += "/" + part;
  const bool folder = name.back() == '/' || kept.empty();
  if (folder) full += "/";
  const DWORD answer = host::detail::AnswerPath(full, lpBuffer, nBufferLength);
  if (lpFilePart != nullptr && answer == full.size()) {
    *lpFilePart = folder ? nullptr : lpBuffer + full.find_last_of('/') + 1;
  }
  return answer;
}

DWORD WINAPI GetLongPathNameA(LPCSTR lpszShortPath, LPSTR lpszLongPath, DWORD cchBuffer) {
  CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<DWORD>();
  if (lpszShortPath == nullptr || *lpszShortPath == '\0') {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const std::string path = host::detail::LongForm(lpszShortPath);
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) {
    SetLastError(host::detail::PathError(errno, path));
    return 0;
  }
  return host::detail::AnswerPath(path, lpszLongPath, cchBuffer);
}

// A part without a short name keeps its long one, as on a volume without 8.3 names.
DWORD WINAPI GetShortPathNameA(LPCSTR lpszLongPath, LPSTR lpszShortPath, DWORD cchBuffer) {
  CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<DWORD>();
  if (lpszLongPath == nullptr || *lpszLongPath == '\0') {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const std::string path = host::detail::LongForm(lpszLongPath);
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) {
    SetLastError(host::detail::PathError(errno, path));
    return 0;
  }
  return host::detail::AnswerPath(host::detail::TranslateNames(path, false), lpszShortPath,
                                  cchBuffer);
}

// The normalized name with its drive (here the host path), as "\\?\" and the path. The host
// has no volumes to name otherwise: the other kinds of volume name are refused. What Windows
// answers for a device or a pipe is not documented (Wine gives a path for the null device);
// the stand-in refuses them.
DWORD WINAPI GetFinalPathNameByHandleA(HANDLE hFile, LPSTR lpszFilePath, DWORD cchFilePath,
                                       DWORD dwFlags) {
  CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<DWORD>();
  std::shared_ptr<OpenFile> file = host::detail::Lookup(hFile);
  struct stat st;
  if (!file || fstat(file->fd, &st) != 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  if ((dwFlags & ~static_cast<DWORD>(FILE_NAME_OPENED)) != VOLUME_NAME_DOS) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode) && !S_ISLNK(st.st_mode)) {
    SetLastError(ERROR_INVALID_FUNCTION);
    return 0;
  }
  const std::string path = host::detail::PathOfDescriptor(file->fd);
  if (path.empty()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return 0;
  }
  return host::detail::AnswerPath("\\\\?\\" + path, lpszFilePath, cchFilePath);
}

// Only FileDispositionInfo, the one class the system sets.
BOOL WINAPI SetFileInformationByHandle(HANDLE hFile, FILE_INFO_BY_HANDLE_CLASS FileInformationClass,
                                       LPVOID lpFileInformation, DWORD dwBufferSize) {
  CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<BOOL>();
  std::shared_ptr<OpenFile> file = host::detail::Lookup(hFile);
  host::detail::FileId id;
  if (!file || !host::detail::IdOf(file->fd, &id)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (FileInformationClass != FileDispositionInfo || lpFileInformation == nullptr ||
      dwBufferSize < sizeof(FILE_DISPOSITION_INFO)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!file->canDelete) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  const bool deleting = static_cast<const FILE_DISPOSITION_INFO*>(lpFileInformation)->DeleteFile;
  struct stat st;
  if (deleting && fstat(file->fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    const std::string path = host::detail::PathOfDescriptor(file->fd);
    DIR* folder = opendir(path.c_str());
    bool empty = true;
    while (folder != nullptr && empty) {
      const dirent* entry = readdir(folder);
      if (entry == nullptr) break;
      empty = std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0;
    }
    if (folder != nullptr) closedir(folder);
    if (!empty) {
      SetLastError(ERROR_DIR_NOT_EMPTY);
      return FALSE;
    }
  }
  auto& table = host::detail::Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  if (deleting) {
    table.deletePending.insert(id);
  } else {
    table.deletePending.erase(id);
  }
  return TRUE;
}
