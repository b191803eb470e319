// The backup key of one pass: what the scheme held, what the policy asked for and what each
// change replaced. A record that could not be kept is reported, so the administrator does
// not rely on a backup that is not there; the pass goes on either way.
#ifndef PM_BACKUPKEY_H
#define PM_BACKUPKEY_H

#include "PMLog.h"
#include "RegKey.h"
#include "Win32Api.h"

class BackupKey {
 public:
  // Opens the key below root, creating it when missing; a failure is reported at once.
  BackupKey(HKEY root, PMLog& log);

  // Writes one REG_DWORD. When the key is open, a failed write is reported naming the value;
  // without a key the report made at opening stands for every value.
  void Write(const char* name, DWORD value);
  void Close();

 private:
  RegKey key;
  PMLog& log;
};

#endif
