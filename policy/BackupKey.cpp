#include "BackupKey.h"

#include <string>

#include "RegistrySchema.h"

namespace {

constexpr DWORD kErrorLevel = 0;
constexpr WORD kCreate = 1;

}  // namespace

BackupKey::BackupKey(HKEY root, PMLog& passLog)
    : key(root, schema::kBackupKey, kCreate), log(passLog) {
  if (!key.IsOpen()) {
    log.WriteError(std::string("Backup key ") + schema::kBackupKey +
                       " cannot be opened or created; nothing is backed up",
                   kErrorLevel);
  }
}

void BackupKey::Write(const char* name, DWORD value) {
  if (key.SetValue(name, value) && key.IsOpen()) {
    log.WriteError(std::string("Backup value ") + name + " cannot be written", kErrorLevel);
  }
}

void BackupKey::Close() { key.CloseKey(); }
