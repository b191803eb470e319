// Reading, seeding and checking registry values through the registry calls themselves, the way
// the conformance tests of the registry do: a query into a sentinel-filled buffer, and checks
// that compare type and bytes and report at the caller's line.
#ifndef PM_WINE_REGISTRY_H
#define PM_WINE_REGISTRY_H

#include <windows.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "SchemeStore.h"
#include "Where.h"

namespace winetest {

// The byte and key helpers every test over Win32Api.h shares.
using scheme_store::Bytes;
using scheme_store::DwordBytes;
using scheme_store::KeyExists;
// The bytes of a text and its terminating zero.
using scheme_store::TextBytes;

struct RegValue {
  LONG status = ERROR_FILE_NOT_FOUND;  // of the open, else of the query
  DWORD type = REG_NONE;
  Bytes data;
  // False when the query wrote past the size it reported into the buffer.
  bool tailUntouched = true;
};

// One value, read with a single query into a 4096-byte buffer filled with a sentinel.
RegValue QueryValue(HKEY root, const std::string& path, const char* name);
// Every value of a key by name; empty when the key cannot be opened.
std::map<std::string, RegValue> ValuesOf(HKEY root, const std::string& path);

// The key's time of last write (RegQueryInfoKeyA), in 100-nanosecond units since 1601; 0 when
// the key cannot be opened or asked. Windows sets it whenever a value of the key is set.
ULONGLONG LastWriteTime(HKEY root, const std::string& path);

// Seeding. Each answers the registry's status (ERROR_SUCCESS = 0).
LONG SetValue(HKEY root, const std::string& path, const char* name, DWORD type, const Bytes& data);
LONG SetDword(HKEY root, const std::string& path, const char* name, DWORD value);
// A text with its terminating zero, as REG_SZ or REG_EXPAND_SZ.
LONG SetText(HKEY root, const std::string& path, const char* name, DWORD type,
             const std::string& text);
// ERROR_SUCCESS also when there was nothing to delete.
LONG DeleteValue(HKEY root, const std::string& path, const char* name);
LONG DeleteTree(HKEY root, const std::string& path);
// Imports a .reg file (a Unix path) with "regedit /S", as an administrator would. The empty
// text on success, else what went wrong.
std::string ImportRegFile(const std::string& unixPath);

// The value has exactly this type and these bytes.
void ExpectValue(Where where, HKEY root, const std::string& path, const char* name, DWORD type,
                 const Bytes& data);
void ExpectNoValue(Where where, HKEY root, const std::string& path, const char* name);
void ExpectNoKey(Where where, HKEY root, const std::string& path);
// The key holds exactly these values, each a REG_DWORD of that number, and nothing else.
void ExpectDwordsOnly(Where where, HKEY root, const std::string& path,
                      const std::vector<std::pair<std::string, DWORD>>& values);

}  // namespace winetest

#define EXPECT_REG_VALUE(root, path, name, type, data) \
  ::winetest::ExpectValue(HERE, root, path, name, type, data)
#define EXPECT_REG_DWORD(root, path, name, value) \
  ::winetest::ExpectValue(HERE, root, path, name, REG_DWORD, ::winetest::DwordBytes(value))
#define EXPECT_REG_TEXT(root, path, name, type, text) \
  ::winetest::ExpectValue(HERE, root, path, name, type, ::winetest::TextBytes(text))
#define EXPECT_NO_REG_VALUE(root, path, name) ::winetest::ExpectNoValue(HERE, root, path, name)
#define EXPECT_NO_REG_KEY(root, path) ::winetest::ExpectNoKey(HERE, root, path)
#define EXPECT_REG_DWORDS_ONLY(root, path, ...) \
  ::winetest::ExpectDwordsOnly(HERE, root, path, __VA_ARGS__)

#endif
