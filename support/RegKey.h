// One open key of the Windows registry, read and written by value name.
//
// Results of the operations are true for failure and false for success; each failure
// records its literal with ReportError. Each successful write, and a create that made a new
// key, is flushed at once; a key only opened (for reading, or by a create that found it
// there) is never flushed. Copies share the open handle, and nothing but
// CloseKey closes it: a key returned by value stays usable after its source is gone.
#ifndef PM_REGKEY_H
#define PM_REGKEY_H

#include <string>

#include "PMObject.h"
#include "Win32Api.h"

// What a 32-bit value reads as when it cannot be read (absent, not a REG_DWORD, empty or
// larger than four bytes, no key open). All bits set: nonzero, so an absent switch counts as
// on, and far above both the highest layout version and the 5000-minute limit under which a
// time-out is enforced.
constexpr DWORD kUnsetReading = 0xFFFFFFFF;

// One 32-bit value as the registry answered for it.
struct DwordReading {
  DWORD value = kUnsetReading;  // the number; kUnsetReading when there is none
  // ERROR_SUCCESS for a number or a value that holds none; ERROR_FILE_NOT_FOUND when the
  // value or its key is absent; otherwise the registry's error (for a key that exists but could
  // not be opened, the open's).
  LONG status = ERROR_FILE_NOT_FOUND;
  bool notANumber = false;  // the value exists but holds no number
  DWORD type = REG_NONE;    // its type, when it exists
};

class RegKey : public PMObject {
 public:
  // Opens path below root for reading.
  RegKey(HKEY root, const std::string& path);
  // create == 1: creates the key (with any missing keys on its path); any other number
  // only opens it for reading.
  RegKey(HKEY root, const std::string& path, WORD create);
  ~RegKey() override;

  // A new open or create replaces the handle without closing the one held before.
  bool OpenKey(HKEY root, const std::string& path);
  bool CreateKey(HKEY root, const std::string& path);

  // Stores the text as REG_EXPAND_SZ with its terminating zero.
  bool SetValue(const std::string& name, const std::string& text);
  // Stores the number as REG_DWORD.
  bool SetValue(const std::string& name, DWORD number);

  // The value's bytes up to the first zero byte; the empty text when the value is absent,
  // larger than 1024 bytes or no key is open.
  std::string GetStrValue(const std::string& name);
  // A text of the policy: only REG_SZ and REG_EXPAND_SZ data is a text, read as above. A value
  // of any other type reads as an absent one does (the empty text); *notAText then tells that
  // the value exists but holds no text, and *type which type it has.
  std::string GetStrValue(const std::string& name, bool* notAText, DWORD* type);
  // The value as a number; kUnsetReading when it cannot be read. Only REG_DWORD data of one
  // to four bytes is a number (fewer than four fill the low-order bytes); any other type
  // reads as an absent value does.
  DWORD GetDwordValue(const std::string& name);
  // The same, and *notANumber tells whether the value exists but holds no number (another
  // type, or a REG_DWORD that is empty or longer than four bytes), which an absent value
  // does not.
  DWORD GetDwordValue(const std::string& name, bool* notANumber);
  // The same, with what the registry answered.
  DwordReading ReadDword(const std::string& name);

  // Whether the value is a REG_DWORD of exactly the four bytes SetValue(name, number) would
  // store. False when it cannot be read; records no failure (a missing value is an answer).
  bool HoldsDword(const std::string& name, DWORD number);

  bool CloseKey();
  // Whether a key is open: after a successful open or create, until CloseKey.
  bool IsOpen() const;
  // The registry's answer to the last open or create: ERROR_SUCCESS when it opened,
  // ERROR_FILE_NOT_FOUND for a missing key, ERROR_ACCESS_DENIED for one this account may not
  // read.
  LONG OpenStatus() const;
  // The key as administrators name it: "HKEY_LOCAL_MACHINE\path" (or HKEY_CURRENT_USER).
  const std::string& Name() const;

 protected:
  HKEY key;  // null when no key is open
  LONG openStatus;
  std::string name_;

 private:
  // Both forms of GetStrValue; textOnly: any type but REG_SZ and REG_EXPAND_SZ holds no text.
  std::string ReadText(const std::string& name, bool textOnly, bool* notAText, DWORD* type);
};

#endif
