// GetSystemDirectoryA: the Windows system directory, a text the test may set.
#include <cstring>
#include <mutex>
#include <string>

#include "CallGate.h"
#include "HostInternal.h"
#include "HostServiceControl.h"

namespace host::detail {
namespace {

constexpr const char* kDefaultSystemDirectory = "C:\\WINDOWS\\system32";

struct SystemDirectoryState {
  std::mutex mutex;
  std::string directory = kDefaultSystemDirectory;
};

SystemDirectoryState& State() {
  static SystemDirectoryState* state = new SystemDirectoryState;
  return *state;
}

std::string Directory() {
  SystemDirectoryState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.directory;
}

}  // namespace

void ResetSystemDirectory() { host::SetSystemDirectory(kDefaultSystemDirectory); }

}  // namespace host::detail

namespace host {

void SetSystemDirectory(const std::string& dir) {
  auto& s = detail::State();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.directory = dir;
}

}  // namespace host

UINT WINAPI GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize) {
  host::detail::CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<UINT>();
  const std::string directory = host::detail::Directory();
  const auto length = static_cast<UINT>(directory.size());
  // Too small a buffer gets nothing, and the answer counts the terminating zero it needs;
  // otherwise the answer is the length without it.
  if (lpBuffer == nullptr || uSize <= length) return length + 1;
  std::memcpy(lpBuffer, directory.c_str(), directory.size() + 1);
  return length;
}
