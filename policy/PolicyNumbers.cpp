#include "PolicyNumbers.h"

namespace {

constexpr DWORD kErrorLevel = 0;

}  // namespace

PolicyNumbers::PolicyNumbers(PMLog& passLog, PassEvents& passEvents)
    : log(passLog), events(passEvents), holding(true) {}

DWORD PolicyNumbers::Read(RegKey& key, const char* name) {
  const DwordReading reading = key.ReadDword(name);
  const bool unreadable = !reading.notANumber && reading.status != ERROR_SUCCESS &&
                          reading.status != ERROR_FILE_NOT_FOUND;
  if ((reading.notANumber || unreadable) && reported.insert(key.Name() + "\\" + name).second) {
    if (reading.notANumber) {
      waiting.push_back(std::string("Policy value ") + name + " is not a REG_DWORD; ignored");
      events.PolicyValueWrongType(key.Name(), name, reading.type);
    } else {
      waiting.push_back(std::string("Policy value ") + name + " cannot be read, error " +
                        std::to_string(reading.status) + "; ignored");
      events.PolicyValueUnreadable(key.Name(), name, reading.status);
    }
    if (!holding) Release();
  }
  return reading.value;
}

void PolicyNumbers::Release() {
  holding = false;
  for (const std::string& line : waiting) log.WriteError(line, kErrorLevel);
  waiting.clear();
}
