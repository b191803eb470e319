// The registry file of host programs: HOST_REGISTRY_FILE names a .reg file that is loaded
// before the registry is first used (a missing file is an empty registry) and written back
// by every RegFlushKey and at process exit. Several processes may share one file; each
// writes the whole registry it holds, so the last writer's view wins.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>

#include <unistd.h>

#include "HostControl.h"
#include "HostInternal.h"
#include "RegistryStore.h"

namespace host::detail {
namespace {

struct FileBinding {
  std::mutex mutex;  // also keeps two saves from interleaving their writes
  bool looked = false;         // the variable has been looked at
  bool variableSet = false;    // and what it said then
  std::string variableValue;
  std::string boundPath;       // the file the registry is saved to, or empty
  uint64_t savedGeneration = 0;  // the registry as the file last held it
  bool exitHandlerInstalled = false;
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

bool ReadWholeFile(const std::string& path, std::string* text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  *text = buffer.str();
  return true;
}

void SaveAtExit() { SaveRegistryFile(); }

}  // namespace

void SyncRegistryFile() {
  FileBinding& b = Binding();
  const char* value = std::getenv(host::kRegistryFileVariable);
  {
    std::lock_guard<std::mutex> lock(b.mutex);
    if (SameAsSeen(b, value)) return;
    if (value == nullptr || *value == '\0') {
      Remember(&b, value);
      b.boundPath.clear();
      return;
    }
  }
  // Read and parse without holding the lock: other threads may use the registry meanwhile.
  std::string path = value;
  std::string text;
  std::vector<RegTextOp> ops;
  std::string error;
  bool usable = !ReadWholeFile(path, &text) || ParseRegText(text, &ops, &error);

  std::lock_guard<std::mutex> lock(b.mutex);
  if (SameAsSeen(b, path.c_str())) return;  // another thread got there first
  Remember(&b, path.c_str());
  if (!usable) {
    // Never overwrite a file that could not be read: it may hold someone's work.
    std::fprintf(stderr, "%s=%s: %s; registry file not used\n", host::kRegistryFileVariable,
                 path.c_str(), error.c_str());
    b.boundPath.clear();
    return;
  }
  RawRegistry().ReplaceAll(ops);
  b.boundPath = path;
  b.savedGeneration = RawRegistry().Generation();
  if (!b.exitHandlerInstalled) {
    b.exitHandlerInstalled = true;
    std::atexit(SaveAtExit);
  }
}

void SaveRegistryFile() {
  FileBinding& b = Binding();
  std::lock_guard<std::mutex> lock(b.mutex);
  if (b.boundPath.empty()) return;
  // Unchanged since loaded or saved: leave the file alone, so that a process that only
  // read does not put back an older registry over another process's changes.
  const uint64_t generation = RawRegistry().Generation();
  if (generation == b.savedGeneration) return;
  std::string text = RawRegistry().ExportAll();
  // Write beside the file and rename, so a reader never sees half a registry.
  std::string temporary = b.boundPath + ".tmp" + std::to_string(getpid());
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush()) {
      std::fprintf(stderr, "%s: cannot write the registry file\n", temporary.c_str());
      return;
    }
  }
  if (std::rename(temporary.c_str(), b.boundPath.c_str()) != 0) {
    std::fprintf(stderr, "%s: cannot replace the registry file\n", b.boundPath.c_str());
    std::remove(temporary.c_str());
    return;
  }
  b.savedGeneration = generation;
}

void ResetRegistryFile() {
  FileBinding& b = Binding();
  std::lock_guard<std::mutex> lock(b.mutex);
  Remember(&b, std::getenv(host::kRegistryFileVariable));
  b.boundPath.clear();
}

}  // namespace host::detail
