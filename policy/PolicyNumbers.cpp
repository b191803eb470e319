#include "PolicyNumbers.h"

namespace {

constexpr DWORD kErrorLevel = 0;

}  // namespace

PolicyNumbers::PolicyNumbers(PMLog& passLog) : log(passLog), holding(true) {}

DWORD PolicyNumbers::Read(RegKey& key, const char* name) {
  bool notANumber = false;
  const DWORD value = key.GetDwordValue(name, &notANumber);
  if (notANumber && reported.insert(name).second) {
    waiting.push_back(std::string("Policy value ") + name + " is not a REG_DWORD; ignored");
    if (!holding) Release();
  }
  return value;
}

void PolicyNumbers::Release() {
  holding = false;
  for (const std::string& line : waiting) log.WriteError(line, kErrorLevel);
  waiting.clear();
}
