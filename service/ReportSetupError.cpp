// Failure texts of the setup commands, for a debugger or a debug-output monitor to show.
#include <cstring>

#include "Hollin.h"
#include "HollinConstants.h"

void ReportSetupError(const char* text) {
  const size_t length = strnlen(text, kLongestFailureText + 1);
  if (length > kLongestFailureText) return;
  char buffer[kFailureTextBufferSize];
  std::memcpy(buffer, text, length);
  buffer[length] = '\0';
  OutputDebugStringA(buffer);
}
