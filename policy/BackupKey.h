// The backup key of one pass: what the scheme held, what the policy asked for and what each
// change replaced. A record that could not be kept is reported, so the administrator does
// not rely on a backup that is not there; the pass goes on either way.
//
// Most passes find the record as the previous pass left it: a value that already holds what
// would be written is left alone, and the key is opened for writing (created when missing) only
// for the first value that differs, so such a pass writes and flushes nothing.
#ifndef PM_BACKUPKEY_H
#define PM_BACKUPKEY_H

#include "PMLog.h"
#include "RegKey.h"
#include "Win32Api.h"

class BackupKey {
 public:
  // Opens the key below root for reading, when it is there.
  BackupKey(HKEY root, PMLog& log);

  // Records one REG_DWORD, unless the value is a REG_DWORD holding those four bytes already.
  // The first value to write opens the key for writing, creating it when missing; a failure
  // to do so is reported once, and that report stands for every value. With the key open for
  // writing, a failed write is reported naming the value.
  void Write(const char* name, DWORD value);
  void Close();

 private:
  // Opens the key for writing on the first call; whether it is open for writing.
  bool OpenForWriting();

  HKEY root;
  RegKey key;
  PMLog& log;
  bool triedWriting = false;
};

#endif
