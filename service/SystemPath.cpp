#include "SystemPath.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace {

// Appends text to the zero-terminated text in buffer, keeping as much as fits.
void AppendBounded(char* buffer, size_t size, const char* text) {
  size_t end = strnlen(buffer, size);
  if (end == size) return;
  for (; *text != '\0' && end + 1 < size; ++text, ++end) buffer[end] = *text;
  buffer[end] = '\0';
}

}  // namespace

bool BuildSystemPath(char (&path)[kPathBufferSize], const char* fileName) {
  // Zeroed first: a failed call leaves an empty directory rather than stale bytes.
  std::fill(std::begin(path), std::end(path), '\0');
  const UINT length = GetSystemDirectoryA(path, kPathBufferSize);
  // 0: the call failed; kPathBufferSize or more: the size it would need, with nothing copied.
  if (length == 0 || length >= kPathBufferSize) {
    path[0] = '\0';
    return false;
  }
  AppendBounded(path, kPathBufferSize, fileName);
  return true;
}
