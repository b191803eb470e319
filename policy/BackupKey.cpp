#include "BackupKey.h"

#include <string>

#include "RegistrySchema.h"

namespace {

constexpr DWORD kErrorLevel = 0;

}  // namespace

BackupKey::BackupKey(HKEY backupRoot, PMLog& passLog)
    : root(backupRoot), key(backupRoot, schema::kBackupKey), log(passLog) {}

void BackupKey::Write(const char* name, DWORD value) {
  // Read through whichever handle is open: the record as this pass finds it, or as it has
  // written it so far.
  if (key.IsOpen() && key.HoldsDword(name, value)) return;
  if (!OpenForWriting()) return;
  if (key.SetValue(name, value)) {
    log.WriteError(std::string("Backup value ") + name + " cannot be written", kErrorLevel);
  }
}

bool BackupKey::OpenForWriting() {
  if (!triedWriting) {
    triedWriting = true;
    // The read-only handle is let go before the key is opened again for writing.
    if (key.IsOpen()) key.CloseKey();
    if (key.CreateKey(root, schema::kBackupKey)) {
      log.WriteError(std::string("Backup key ") + schema::kBackupKey +
                         " cannot be opened or created; nothing is backed up",
                     kErrorLevel);
    }
  }
  return key.IsOpen();
}

void BackupKey::Close() {
  if (key.IsOpen()) key.CloseKey();
}
