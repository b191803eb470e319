#include "PMLogPath.h"

namespace {

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameLetters(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Upper(a[i]) != Upper(b[i])) return false;
  }
  return true;
}

std::string WithoutTrailingSeparator(std::string path) {
  while (path.size() > 1 && IsPathSeparator(path.back())) path.pop_back();
  return path;
}

}  // namespace

bool IsPathSeparator(char c) { return c == '\\' || c == '/'; }

bool IsInDeviceNamespace(const std::string& path) {
  if (path.size() >= 3 && IsPathSeparator(path[0]) && IsPathSeparator(path[1]) &&
      (path[2] == '.' || path[2] == '?') && (path.size() == 3 || IsPathSeparator(path[3]))) {
    return true;
  }
  return path.compare(0, 4, "\\??\\") == 0;
}

bool IsFinalPathOf(std::string finalPath, const std::string& path) {
  if (finalPath.compare(0, 8, "\\\\?\\UNC\\") == 0) {
    finalPath = "\\\\" + finalPath.substr(8);
  } else if (finalPath.compare(0, 4, "\\\\?\\") == 0) {
    finalPath = finalPath.substr(4);
  }
  return SameLetters(WithoutTrailingSeparator(finalPath), WithoutTrailingSeparator(path));
}
