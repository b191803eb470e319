// The registry file of host programs: HOST_REGISTRY_FILE names a .reg file that is loaded
// before the registry is first used (a missing or empty file is an empty registry) and written
// back by every RegFlushKey and at process exit.
//
// Several processes may share the file, as programs share the Windows registry: before each
// registry call a process reads the file again if another one has saved it since, and a save
// puts the process's own changes (the store's journal) on top of what the file holds then. A
// lock on the file keeps two processes from saving at once. A save writes beside the file and
// renames the result into place, so whoever waited for the lock checks that it holds the file
// the path names now.
//
// A save keeps the file's mode and, through a symbolic link, replaces the file the link leads
// to. A file without write permission is the user's way of keeping it as it is: it is loaded,
// never replaced. A save that fails says why once (again only after a save succeeded) and
// makes RegFlushKey fail, so that nobody takes an unsaved change for a stored one.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "HostControl.h"
#include "HostInternal.h"
#include "RegistryStore.h"

namespace host::detail {
namespace {

// What stat tells of the file: a save by anyone replaces the inode, an edit in place changes
// the size or the time.
struct Stamp {
  bool exists = false;
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  long long modifiedNs = 0;

  bool operator==(const Stamp& o) const {
    return exists == o.exists && device == o.device && inode == o.inode && size == o.size &&
           modifiedNs == o.modifiedNs;
  }
  bool operator!=(const Stamp& o) const { return !(*this == o); }
};

Stamp StampOf(const struct stat& st) {
  Stamp stamp;
  stamp.exists = true;
  stamp.device = st.st_dev;
  stamp.inode = st.st_ino;
  stamp.size = st.st_size;
  stamp.modifiedNs = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return stamp;
}

Stamp StampOf(int fd) {
  struct stat st;
  return fstat(fd, &st) == 0 ? StampOf(st) : Stamp();
}

Stamp StampOfPath(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? StampOf(st) : Stamp();
}

size_t HashOf(const std::string& text) { return std::hash<std::string>()(text); }

// The file as this process last read or wrote it. Its descriptor stays open, so that no later
// file can be given the same inode number and pass for it (time stamps are too coarse to tell).
struct Seen {
  int fd = -1;  // -1: the file was missing
  Stamp stamp;
  size_t hash = HashOf("");
};

struct FileBinding {
  std::mutex mutex;          // guards the fields below; never held across file I/O
  bool looked = false;       // the variable has been looked at
  bool variableSet = false;  // and what it said then
  std::string variableValue;
  std::string boundPath;  // the file the registry is saved to, or empty
  Seen seen;
  bool exitHandlerInstalled = false;
  std::string failureSaid;  // why the latest save failed, as said on stderr
  // One reader or writer of the bound file at a time in this process. Taken before `mutex`
  // and the store's own; ordinary registry calls never wait for it.
  std::mutex fileMutex;
};

FileBinding& Binding() {
  static FileBinding* binding = new FileBinding;
  return *binding;
}

bool SameAsSeen(const FileBinding& b, const char* value) {
  return b.looked && b.variableSet == (value != nullptr) &&
         (value == nullptr || b.variableValue == value);
}

void Remember(FileBinding* b, const char* value) {
  b->looked = true;
  b->variableSet = value != nullptr;
  b->variableValue = value != nullptr ? value : "";
}

// Under b->mutex: the file is now the one open as `fd` (its lock is dropped), holding `text`.
void See(FileBinding* b, int fd, const std::string& text) {
  if (b->seen.fd >= 0) close(b->seen.fd);
  if (fd >= 0) flock(fd, LOCK_UN);
  b->seen.fd = fd;
  b->seen.stamp = fd >= 0 ? StampOf(fd) : Stamp();
  b->seen.hash = HashOf(text);
}

void Unbind(FileBinding* b) {
  See(b, -1, "");
  b->boundPath.clear();
  RawRegistry().Unbind();
}

// Opens `path` (creating it when asked) and locks it with flock `how`. -1 when it cannot be
// opened, with errno telling why.
int OpenLocked(const std::string& path, int how, bool create) {
  for (;;) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | (create ? O_CREAT : 0), 0666);
    if (fd < 0) return -1;
    while (flock(fd, how) != 0 && errno == EINTR) {
    }
    // Another process's save may have replaced the file while this one waited for the lock.
    struct stat held, named;
    if (fstat(fd, &held) != 0 || stat(path.c_str(), &named) != 0 ||
        (held.st_dev == named.st_dev && held.st_ino == named.st_ino)) {
      return fd;
    }
    close(fd);
  }
}

// The Windows error of a save that failed with errno `error`.
LONG SaveError(int error) {
  switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
      return ERROR_ACCESS_DENIED;
    case ENOENT:
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return ERROR_DISK_FULL;
    default:
      return ERROR_REGISTRY_IO_FAILED;
  }
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The file a save replaces: `path` itself, or the file its symbolic links lead to, so that a
// link stays a link and the file it names gets the new text.
std::string ReplacedFile(const std::string& path) {
  std::string file = path;
  for (int hops = 0; hops < 40; ++hops) {  // a longer chain is a loop; opening it fails
    struct stat st;
    if (lstat(file.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) break;
    std::vector<char> buffer(static_cast<size_t>(st.st_size) + 256);
    ssize_t n = readlink(file.c_str(), buffer.data(), buffer.size());
    if (n <= 0) break;
    std::string target(buffer.data(), static_cast<size_t>(n));
    file = target[0] == '/' || file.find('/') == std::string::npos
               ? target
               : file.substr(0, file.rfind('/') + 1) + target;
  }
  return file;
}

// Why a file at `path` cannot be opened or created.
std::string OpenFailure(int error, const std::string& path) {
  if (error == ENOENT) return "the folder " + FolderOf(ReplacedFile(path)) + " does not exist";
  return std::strerror(error);
}

bool ReadAll(int fd, std::string* text, std::string* error) {
  char buffer[65536];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n == 0) return true;
    if (n < 0 && errno != EINTR) {
      *error = std::strerror(errno);
      return false;
    }
    if (n > 0) text->append(buffer, static_cast<size_t>(n));
  }
}

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

// Blank text is an empty registry.
bool Parse(const std::string& text, std::vector<RegTextOp>* ops, std::string* error) {
  ops->clear();
  return text.find_first_not_of(" \t\r\n") == std::string::npos || ParseRegText(text, ops, error);
}

// Whether a save may replace the file open as `fd`: not when it grants nobody the right to
// write (a read-only file, even for root) or this process may not write it.
bool MayReplace(int fd, const std::string& path) {
  struct stat st;
  if (fstat(fd, &st) != 0) return true;
  return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0 && access(path.c_str(), W_OK) == 0;
}

// Writes `text` to a temporary beside the file `path` leads to and renames it over that file,
// so a reader never sees half a file. The new file gets the old one's mode and, where this
// process may give it, its owner. Answers the new file's descriptor, or -1 with errno telling
// why it could not be written.
int WriteReplacing(const std::string& path, const std::string& text) {
  const std::string target = ReplacedFile(path);
  const std::string temporary = target + ".tmp" + std::to_string(getpid());
  struct stat old;
  const bool existed = stat(target.c_str(), &old) == 0;
  unlink(temporary.c_str());  // left behind by an earlier process with this number
  int fd = open(temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return -1;
  bool written = WriteAll(fd, text);
  if (written && existed) {
    written = fchmod(fd, old.st_mode & 07777) == 0;
    if (written && (old.st_uid != geteuid() || old.st_gid != getegid()) &&
        fchown(fd, old.st_uid, old.st_gid) != 0) {
      // Only root may hand a file to another owner; the mode is kept either way.
    }
  }
  if (written) written = rename(temporary.c_str(), target.c_str()) == 0;
  if (!written) {
    int error = errno;
    close(fd);
    unlink(temporary.c_str());
    errno = error;
    return -1;
  }
  return fd;
}

// Says why the registry was not saved to `path`, unless that is what was said last, and
// answers `error`.
LONG SaveFailed(const std::string& path, LONG error, const std::string& reason) {
  FileBinding& b = Binding();
  std::lock_guard<std::mutex> lock(b.mutex);
  if (b.failureSaid != reason) {
    std::fprintf(stderr, "%s: %s; registry not saved\n", path.c_str(), reason.c_str());
    b.failureSaid = reason;
  }
  return error;
}

void SaveAtExit() { SaveRegistryFile(); }

// Binds the registry to the file `path` and loads it, unless another thread got there first.
void Bind(const std::string& path) {
  FileBinding& b = Binding();
  // Read and parse without holding the lock: other threads may use the registry meanwhile.
  std::string text;
  std::vector<RegTextOp> ops;
  std::string error;
  int fd = OpenLocked(path, LOCK_SH, false);
  bool usable;
  std::string unsavable;  // why no save can succeed, when that is plain already
  if (fd >= 0) {
    usable = ReadAll(fd, &text, &error) && Parse(text, &ops, &error);
  } else {
    usable = errno == ENOENT;  // a missing file is an empty registry
    error = std::strerror(errno);
    struct stat folder;
    if (usable && stat(FolderOf(ReplacedFile(path)).c_str(), &folder) != 0) {
      unsavable = OpenFailure(ENOENT, path);
    }
  }

  std::lock_guard<std::mutex> lock(b.mutex);
  if (SameAsSeen(b, path.c_str())) {  // another thread got there first
    if (fd >= 0) close(fd);
    return;
  }
  Remember(&b, path.c_str());
  if (!usable) {
    if (fd >= 0) close(fd);
    // Never overwrite a file that could not be read: it may hold someone's work.
    std::fprintf(stderr, "%s=%s: %s; registry file not used\n", host::kRegistryFileVariable,
                 path.c_str(), error.c_str());
    Unbind(&b);
    return;
  }
  RawRegistry().Load(ops);
  b.boundPath = path;
  See(&b, fd, text);
  b.failureSaid = unsavable;
  if (!unsavable.empty()) {
    std::fprintf(stderr, "%s=%s: %s; the registry cannot be saved there\n",
                 host::kRegistryFileVariable, path.c_str(), unsavable.c_str());
  }
  if (!b.exitHandlerInstalled) {
    b.exitHandlerInstalled = true;
    std::atexit(SaveAtExit);
  }
}

// The bound file and what was last seen of it; false when there is none. Called with
// fileMutex held, which keeps `seen` as it is until the caller sees the file anew.
bool BoundFile(std::string* path, Seen* seen) {
  FileBinding& b = Binding();
  std::lock_guard<std::mutex> lock(b.mutex);
  *path = b.boundPath;
  *seen = b.seen;
  return !path->empty();
}

// Hands `fd` and `text` to See, or closes `fd` when the binding changed meanwhile.
void SeeIfStillBound(const std::string& path, int fd, const std::string& text) {
  FileBinding& b = Binding();
  std::lock_guard<std::mutex> lock(b.mutex);
  if (b.boundPath == path) {
    See(&b, fd, text);
  } else if (fd >= 0) {
    close(fd);
  }
}

// Reads the file behind `fd` into *text and, when that is not what this process saw last,
// puts this process's changes on top of it. When it cannot be read or parsed, answers the
// Windows error (*error says why) and the registry stays as it is.
LONG CatchUp(int fd, const Seen& seen, std::string* text, std::string* error) {
  std::vector<RegTextOp> ops;
  if (!ReadAll(fd, text, error)) return SaveError(errno);
  if (HashOf(*text) == seen.hash) return ERROR_SUCCESS;
  if (!Parse(*text, &ops, error)) return ERROR_REGISTRY_CORRUPT;
  RawRegistry().Rebase(ops);
  return ERROR_SUCCESS;
}

// Reads the bound file again when another process has changed it.
void Refresh() {
  FileBinding& b = Binding();
  std::lock_guard<std::mutex> io(b.fileMutex);
  std::string path;
  Seen seen;
  // Also when a save of this process came first.
  if (!BoundFile(&path, &seen) || StampOfPath(path) == seen.stamp) return;
  int fd = OpenLocked(path, LOCK_SH, false);
  if (fd < 0) {
    // Removed: the registry stays as it is, and the next save writes the file again.
    SeeIfStillBound(path, -1, "");
    return;
  }
  std::string text;
  std::string error;
  if (CatchUp(fd, seen, &text, &error) != ERROR_SUCCESS) {
    // No save overwrites the file while it reads so. Taking its stamp keeps this from being
    // tried (and said) again before the file changes.
    std::fprintf(stderr, "%s: %s; not read again\n", path.c_str(), error.c_str());
    std::lock_guard<std::mutex> lock(b.mutex);
    b.seen.stamp = StampOf(fd);
    close(fd);
    return;
  }
  SeeIfStillBound(path, fd, text);
}

}  // namespace

void SyncRegistryFile() {
  FileBinding& b = Binding();
  const char* value = std::getenv(host::kRegistryFileVariable);
  std::string bound;
  Stamp stamp;
  {
    std::lock_guard<std::mutex> lock(b.mutex);
    if (!SameAsSeen(b, value) && (value == nullptr || *value == '\0')) {
      Remember(&b, value);
      Unbind(&b);
      return;
    }
    if (SameAsSeen(b, value)) {
      if (b.boundPath.empty()) return;
      bound = b.boundPath;
      stamp = b.seen.stamp;
    }
  }
  if (bound.empty()) {
    Bind(value);
  } else if (StampOfPath(bound) != stamp) {
    Refresh();
  }
}

LONG SaveRegistryFile() {
  FileBinding& b = Binding();
  std::lock_guard<std::mutex> io(b.fileMutex);
  std::string path;
  Seen seen;
  if (!BoundFile(&path, &seen)) return ERROR_SUCCESS;
  RegistryStore& registry = RawRegistry();
  // Nothing changed here or there: leave the file alone (and do not create it).
  if (!registry.HasUnsavedChanges() && StampOfPath(path) == seen.stamp) return ERROR_SUCCESS;

  int fd = OpenLocked(path, LOCK_EX, true);
  if (fd < 0) {
    int error = errno;
    return SaveFailed(path, SaveError(error), OpenFailure(error, path));
  }
  // Saved by another process since: its changes go under this one's.
  std::string text;
  std::string error;
  if (LONG rc = CatchUp(fd, seen, &text, &error)) {
    close(fd);
    return SaveFailed(path, rc, error);
  }
  size_t changes = 0;
  std::string saved = registry.ExportForSave(&changes);
  LONG rc = ERROR_SUCCESS;
  if (changes > 0 && !MayReplace(fd, path)) {
    rc = SaveFailed(path, ERROR_ACCESS_DENIED, std::strerror(EACCES));
  } else if (changes > 0) {
    int written = WriteReplacing(path, saved);
    if (written < 0) {
      int writeError = errno;
      rc = SaveFailed(path, SaveError(writeError), std::strerror(writeError));
    } else {
      registry.MarkSaved(changes);
      close(fd);
      fd = written;
      text = saved;
      std::lock_guard<std::mutex> lock(b.mutex);
      b.failureSaid.clear();  // the next failure is news again
    }
  }
  SeeIfStillBound(path, fd, text);
  return rc;
}

void ResetRegistryFile() {
  FileBinding& b = Binding();
  std::lock_guard<std::mutex> lock(b.mutex);
  Remember(&b, std::getenv(host::kRegistryFileVariable));
  See(&b, -1, "");
  b.boundPath.clear();
  b.failureSaid.clear();
}

}  // namespace host::detail
