#include "RegKey.h"

namespace {

// Size of the buffer a text value is read into, terminating zero included.
constexpr DWORD kStrValueBufferSize = 1024;

std::string KeyName(HKEY root, const std::string& path) {
  const char* rootName = root == HKEY_LOCAL_MACHINE  ? "HKEY_LOCAL_MACHINE"
                         : root == HKEY_CURRENT_USER ? "HKEY_CURRENT_USER"
                                                     : "(root)";
  return std::string(rootName) + "\\" + path;
}

}  // namespace

RegKey::RegKey(HKEY root, const std::string& path)
    : key(nullptr), openStatus(ERROR_FILE_NOT_FOUND) {
  OpenKey(root, path);
}

RegKey::RegKey(HKEY root, const std::string& path, WORD create)
    : key(nullptr), openStatus(ERROR_FILE_NOT_FOUND) {
  if (create == 1) {
    CreateKey(root, path);
  } else {
    OpenKey(root, path);
  }
}

// The handle may be shared with copies, so only CloseKey releases it.
RegKey::~RegKey() = default;

bool RegKey::OpenKey(HKEY root, const std::string& path) {
  HKEY opened = nullptr;
  name_ = KeyName(root, path);
  openStatus = RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &opened);
  if (openStatus != ERROR_SUCCESS) {
    key = nullptr;
    ReportError("OpenKey failed");
    return true;
  }
  // Only read: there is nothing to flush.
  key = opened;
  return false;
}

bool RegKey::CreateKey(HKEY root, const std::string& path) {
  HKEY created = nullptr;
  DWORD disposition = 0;
  name_ = KeyName(root, path);
  openStatus = RegCreateKeyExA(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                               KEY_ALL_ACCESS, nullptr, &created, &disposition);
  if (openStatus != ERROR_SUCCESS) {
    key = nullptr;
    ReportError("CreateKey Failed");
    return true;
  }
  key = created;
  // A key that was there already was only opened: nothing to flush.
  if (disposition != REG_OPENED_EXISTING_KEY) RegFlushKey(key);
  return false;
}

bool RegKey::SetValue(const std::string& name, const std::string& text) {
  // c_str() supplies the terminating zero that the length + 1 takes along.
  if (RegSetValueExA(key, name.c_str(), 0, REG_EXPAND_SZ,
                     reinterpret_cast<const BYTE*>(text.c_str()),
                     static_cast<DWORD>(text.size() + 1)) != ERROR_SUCCESS) {
    ReportError("SetValue (str) failed");
    return true;
  }
  RegFlushKey(key);
  return false;
}

bool RegKey::SetValue(const std::string& name, DWORD number) {
  const BYTE data[4] = {static_cast<BYTE>(number), static_cast<BYTE>(number >> 8),
                        static_cast<BYTE>(number >> 16), static_cast<BYTE>(number >> 24)};
  if (RegSetValueExA(key, name.c_str(), 0, REG_DWORD, data, sizeof data) != ERROR_SUCCESS) {
    ReportError("SetValue (dw) failed");
    return true;
  }
  RegFlushKey(key);
  return false;
}

std::string RegKey::GetStrValue(const std::string& name) {
  bool notAText = false;
  DWORD type = REG_NONE;
  return ReadText(name, /*textOnly=*/false, &notAText, &type);
}

std::string RegKey::GetStrValue(const std::string& name, bool* notAText, DWORD* type) {
  return ReadText(name, /*textOnly=*/true, notAText, type);
}

std::string RegKey::ReadText(const std::string& name, bool textOnly, bool* notAText, DWORD* type) {
  char buffer[kStrValueBufferSize];
  DWORD length = kStrValueBufferSize;
  *type = REG_NONE;
  const LONG result =
      RegQueryValueExA(key, name.c_str(), nullptr, type, reinterpret_cast<BYTE*>(buffer), &length);
  // A value too long for the buffer exists all the same; its type is asked for again without
  // data, which the registry answers whatever the value's size.
  // Should that fail, the value is taken for an over-long text.
  if (result == ERROR_MORE_DATA && textOnly &&
      RegQueryValueExA(key, name.c_str(), nullptr, type, nullptr, nullptr) != ERROR_SUCCESS) {
    *type = REG_SZ;
  }
  const bool exists = result == ERROR_SUCCESS || result == ERROR_MORE_DATA;
  *notAText = textOnly && exists && *type != REG_SZ && *type != REG_EXPAND_SZ;
  if (result != ERROR_SUCCESS || *notAText) {
    if (!exists) *type = REG_NONE;
    ReportError("GetStrValue failed");
    return std::string();
  }
  if (length > kStrValueBufferSize) length = kStrValueBufferSize;
  std::string text(buffer, length);
  const std::string::size_type zero = text.find('\0');
  if (zero != std::string::npos) text.resize(zero);
  return text;
}

DWORD RegKey::GetDwordValue(const std::string& name) {
  bool notANumber = false;
  return GetDwordValue(name, &notANumber);
}

DWORD RegKey::GetDwordValue(const std::string& name, bool* notANumber) {
  const DwordReading reading = ReadDword(name);
  *notANumber = reading.notANumber;
  return reading.value;
}

DwordReading RegKey::ReadDword(const std::string& name) {
  DwordReading reading;
  // Zeroed first, so a value shorter than four bytes fills only the low-order bytes.
  BYTE data[4] = {0, 0, 0, 0};
  DWORD length = sizeof data;
  const LONG result = RegQueryValueExA(key, name.c_str(), nullptr, &reading.type, data, &length);
  // A value too long for the buffer exists all the same; the query still tells its type.
  reading.notANumber = result == ERROR_MORE_DATA ||
                       (result == ERROR_SUCCESS && (reading.type != REG_DWORD || length == 0));
  if (reading.notANumber) {
    reading.status = ERROR_SUCCESS;
  } else if (key == nullptr) {
    // No key open: the value is as absent as its key, or as unreadable.
    reading.status = openStatus == ERROR_SUCCESS ? ERROR_FILE_NOT_FOUND : openStatus;
    reading.type = REG_NONE;
  } else {
    reading.status = result;
    if (result != ERROR_SUCCESS) reading.type = REG_NONE;
  }
  if (result != ERROR_SUCCESS || reading.notANumber) {
    ReportError("GetDwordValue failed");
    return reading;
  }
  reading.value = static_cast<DWORD>(data[0]) | static_cast<DWORD>(data[1]) << 8 |
                  static_cast<DWORD>(data[2]) << 16 | static_cast<DWORD>(data[3]) << 24;
  return reading;
}

bool RegKey::HoldsDword(const std::string& name, DWORD number) {
  BYTE data[4] = {0, 0, 0, 0};
  DWORD type = REG_NONE;
  DWORD length = sizeof data;
  // A longer value answers ERROR_MORE_DATA, so only four bytes exactly can match.
  if (RegQueryValueExA(key, name.c_str(), nullptr, &type, data, &length) != ERROR_SUCCESS) {
    return false;
  }
  const BYTE wanted[4] = {static_cast<BYTE>(number), static_cast<BYTE>(number >> 8),
                          static_cast<BYTE>(number >> 16), static_cast<BYTE>(number >> 24)};
  return type == REG_DWORD && length == sizeof data && data[0] == wanted[0] &&
         data[1] == wanted[1] && data[2] == wanted[2] && data[3] == wanted[3];
}

bool RegKey::CloseKey() {
  const LONG result = RegCloseKey(key);
  key = nullptr;
  if (result != ERROR_SUCCESS) {
    ReportError("CloseKey failed");
    return true;
  }
  return false;
}

bool RegKey::IsOpen() const { return key != nullptr; }

LONG RegKey::OpenStatus() const { return openStatus; }

const std::string& RegKey::Name() const { return name_; }
