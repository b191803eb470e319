// The registry behaviour the system relies on, checked against whatever provides the Win32
// registry: the host stand-in, or Wine (and Windows) when cross-built. Scratch keys live
// under HKCU (and HKLM) "Software\DorvaneConformance" and are wiped before and after each
// test; buffers are filled with a sentinel so that anything written where it should not
// be shows up.
#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <set>
#include <string>
#include <vector>

#include "ConformanceSupport.h"
#include "Win32Api.h"

namespace {

using Bytes = std::vector<BYTE>;

constexpr const char* kScratch = "Software\\DorvaneConformance";
constexpr BYTE kSentinel = 0xA5;
constexpr DWORD kSentinelWord = 0xDEADBEEF;

// Every key the tests create below the scratch key, deepest first, so that wiping needs
// no enumeration (RegDeleteKeyA removes only keys without subkeys).
const char* const kScratchKeys[] = {
    "Nest\\A\\B\\C", "Nest\\A\\B",    "Nest\\A", "Nest",   "MixedCase\\Inner",
    "MixedCase",     "Parent\\Child", "Parent",  "Doomed",
};

void WipeScratch(HKEY root) {
  for (const char* key : kScratchKeys) {
    RegDeleteKeyA(root, (std::string(kScratch) + "\\" + key).c_str());
  }
  RegDeleteKeyA(root, kScratch);
}

Bytes Text(const char* text) { return Bytes(text, text + std::strlen(text) + 1); }

Bytes Dword(DWORD value) {
  return {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8), static_cast<BYTE>(value >> 16),
          static_cast<BYTE>(value >> 24)};
}

LONG Set(HKEY key, const char* name, DWORD type, const Bytes& data) {
  return RegSetValueExA(key, name, 0, type, data.data(), static_cast<DWORD>(data.size()));
}

// The value must be there with this type and these bytes, and the query must not write past
// them. Reports the caller's line.
#define EXPECT_VALUE(key, name, type, bytes) ExpectValue(__FILE__, __LINE__, key, name, type, bytes)
void ExpectValue(const char* file, int line, HKEY key, const char* name, DWORD type,
                 const Bytes& bytes) {
  ::testing::ScopedTrace trace(file, line, std::string("value ") + (name ? name : "(null)"));
  Bytes buffer(bytes.size() + 8, kSentinel);
  DWORD gotType = kSentinelWord;
  auto size = static_cast<DWORD>(buffer.size());
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, name, nullptr, &gotType, buffer.data(), &size));
  EXPECT_EQ(type, gotType);
  ASSERT_EQ(bytes.size(), size);
  EXPECT_EQ(bytes, Bytes(buffer.begin(), buffer.begin() + size));
  // A string stored without its terminator gets one, uncounted, when the buffer has room.
  bool terminated = (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ) &&
                    !bytes.empty() && bytes.back() != 0;
  for (size_t i = size + (terminated ? 1 : 0); i < buffer.size(); ++i) {
    EXPECT_EQ(kSentinel, buffer[i]) << "byte " << i << " written past the value";
  }
}

#define EXPECT_NO_VALUE(key, name) ExpectNoValue(__FILE__, __LINE__, key, name)
void ExpectNoValue(const char* file, int line, HKEY key, const char* name) {
  ::testing::ScopedTrace trace(file, line, std::string("value ") + (name ? name : "(null)"));
  DWORD size = 0;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExA(key, name, nullptr, nullptr, nullptr, &size));
}

#define EXPECT_KEY(root, path, exists) ExpectKey(__FILE__, __LINE__, root, path, exists)
void ExpectKey(const char* file, int line, HKEY root, const std::string& path, bool exists) {
  ::testing::ScopedTrace trace(file, line, "key " + path);
  HKEY key = nullptr;
  LONG rc = RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key);
  EXPECT_EQ(exists ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND, rc);
  if (rc == ERROR_SUCCESS) RegCloseKey(key);
}

class RegistryConformance : public ::testing::Test {
 protected:
  void SetUp() override {
    WipeScratch(HKEY_CURRENT_USER);
    WipeScratch(HKEY_LOCAL_MACHINE);
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExA(HKEY_CURRENT_USER, kScratch, 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, &key_, nullptr));
  }
  void TearDown() override {
    if (key_ != nullptr) RegCloseKey(key_);
    WipeScratch(HKEY_CURRENT_USER);
    WipeScratch(HKEY_LOCAL_MACHINE);
  }

  static std::string Path(const char* below) { return std::string(kScratch) + "\\" + below; }

  HKEY Create(HKEY root, const std::string& path, DWORD* disposition = nullptr,
              REGSAM access = KEY_ALL_ACCESS) {
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_SUCCESS,
              RegCreateKeyExA(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access,
                              nullptr, &key, disposition));
    return key;
  }

  HKEY key_ = nullptr;
};

TEST_F(RegistryConformance, OpenOfAMissingKeyFailsAndCreatesNothing) {
  for (REGSAM access : {KEY_READ, KEY_ALL_ACCESS}) {
    HKEY key = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x1234));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND,
              RegOpenKeyExA(HKEY_CURRENT_USER, Path("Nest\\A\\B").c_str(), 0, access, &key));
    EXPECT_EQ(nullptr, key);
  }
  EXPECT_KEY(HKEY_CURRENT_USER, Path("Nest"), false);
}

TEST_F(RegistryConformance, CreateMakesTheMissingKeysOnItsPath) {
  DWORD disposition = kSentinelWord;
  HKEY deep = Create(HKEY_CURRENT_USER, Path("Nest\\A\\B\\C"), &disposition);
  EXPECT_EQ(static_cast<DWORD>(REG_CREATED_NEW_KEY), disposition);
  EXPECT_KEY(HKEY_CURRENT_USER, Path("Nest\\A"), true);
  EXPECT_KEY(HKEY_CURRENT_USER, Path("Nest\\A\\B"), true);
  ASSERT_EQ(ERROR_SUCCESS, Set(deep, "v", REG_DWORD, Dword(7)));
  RegCloseKey(deep);

  disposition = kSentinelWord;
  HKEY again = Create(HKEY_CURRENT_USER, Path("Nest\\A\\B\\C"), &disposition);
  EXPECT_EQ(static_cast<DWORD>(REG_OPENED_EXISTING_KEY), disposition);
  EXPECT_VALUE(again, "v", REG_DWORD, Dword(7));
  RegCloseKey(again);

  // An existing key on the way does not make the whole path "existing".
  disposition = kSentinelWord;
  HKEY sibling = Create(HKEY_CURRENT_USER, Path("Nest\\A\\B"), &disposition);
  EXPECT_EQ(static_cast<DWORD>(REG_OPENED_EXISTING_KEY), disposition);
  RegCloseKey(sibling);
}

TEST_F(RegistryConformance, KeysOpenBelowAnOpenKeyAndAnEmptyPathIsTheKeyItself) {
  HKEY child = Create(key_, "Parent\\Child");
  ASSERT_NE(nullptr, child);
  ASSERT_EQ(ERROR_SUCCESS, Set(child, "where", REG_SZ, Text("child")));
  RegCloseKey(child);
  EXPECT_KEY(HKEY_CURRENT_USER, Path("Parent\\Child"), true);

  HKEY parent = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(key_, "Parent", 0, KEY_READ, &parent));
  HKEY same = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(parent, "", 0, KEY_ALL_ACCESS, &same));
  ASSERT_EQ(ERROR_SUCCESS, Set(same, "through", REG_DWORD, Dword(1)));
  EXPECT_VALUE(parent, "through", REG_DWORD, Dword(1));
  RegCloseKey(same);

  // A trailing backslash is harmless; a leading one is not a relative path.
  HKEY trailing = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(parent, "Child\\", 0, KEY_READ, &trailing));
  EXPECT_VALUE(trailing, "where", REG_SZ, Text("child"));
  RegCloseKey(trailing);
  HKEY leading = nullptr;
  EXPECT_EQ(ERROR_BAD_PATHNAME, RegOpenKeyExA(parent, "\\Child", 0, KEY_READ, &leading));
  RegCloseKey(parent);
}

TEST_F(RegistryConformance, QueryAnswersTypeAndSizeAndCopiesNothingIntoATooSmallBuffer) {
  struct Case {
    const char* name;
    DWORD type;
    Bytes data;
  };
  const Case cases[] = {
      {"Binary", REG_BINARY, {1, 2, 3, 4, 5, 6, 7, 8}},
      {"Text", REG_SZ, Text("text")},
      {"Expand", REG_EXPAND_SZ, Text("%TEMP%\\x")},
      {"Number", REG_DWORD, Dword(0x01020304)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(ERROR_SUCCESS, Set(key_, c.name, c.type, c.data));
    const auto size = static_cast<DWORD>(c.data.size());

    // No buffer: type and size only.
    DWORD type = kSentinelWord;
    DWORD got = kSentinelWord;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key_, c.name, nullptr, &type, nullptr, &got));
    EXPECT_EQ(c.type, type);
    EXPECT_EQ(size, got);

    // Too small by one, and empty: ERROR_MORE_DATA, the size needed, nothing copied.
    for (DWORD small : {size - 1, DWORD{0}}) {
      Bytes buffer(size + 4, kSentinel);
      type = kSentinelWord;
      got = small;
      EXPECT_EQ(ERROR_MORE_DATA,
                RegQueryValueExA(key_, c.name, nullptr, &type, buffer.data(), &got));
      EXPECT_EQ(size, got);
      EXPECT_EQ(c.type, type);
      EXPECT_EQ(Bytes(size + 4, kSentinel), buffer) << "buffer of " << small;
    }

    // Exactly the size, and larger (nothing written past the data).
    Bytes exact(size, kSentinel);
    got = size;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key_, c.name, nullptr, nullptr, exact.data(), &got));
    EXPECT_EQ(c.data, exact);
    EXPECT_VALUE(key_, c.name, c.type, c.data);
  }
}

TEST_F(RegistryConformance, QueryOfAnAbsentValueIsFileNotFoundAndTouchesNothing) {
  Bytes buffer(8, kSentinel);
  DWORD size = 8;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND,
            RegQueryValueExA(key_, "Absent", nullptr, nullptr, buffer.data(), &size));
  EXPECT_EQ(8u, size);
  EXPECT_EQ(Bytes(8, kSentinel), buffer);

  // A buffer without its size is refused, present value or not.
  ASSERT_EQ(ERROR_SUCCESS, Set(key_, "Present", REG_DWORD, Dword(1)));
  EXPECT_EQ(ERROR_INVALID_PARAMETER,
            RegQueryValueExA(key_, "Present", nullptr, nullptr, buffer.data(), nullptr));
  // Neither buffer nor size: a plain existence check.
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key_, "Present", nullptr, nullptr, nullptr, nullptr));
}

TEST_F(RegistryConformance, SetReplacesAValueOfAnyType) {
  ASSERT_EQ(ERROR_SUCCESS, Set(key_, "Shifty", REG_DWORD, Dword(5)));
  ASSERT_EQ(ERROR_SUCCESS, Set(key_, "Shifty", REG_SZ, Text("five")));
  EXPECT_VALUE(key_, "Shifty", REG_SZ, Text("five"));
  ASSERT_EQ(ERROR_SUCCESS, Set(key_, "Shifty", REG_BINARY, Bytes{5}));
  EXPECT_VALUE(key_, "Shifty", REG_BINARY, Bytes{5});
  ASSERT_EQ(ERROR_SUCCESS, Set(key_, "Shifty", REG_EXPAND_SZ, Bytes{}));
  EXPECT_VALUE(key_, "Shifty", REG_EXPAND_SZ, Bytes{});
}

TEST_F(RegistryConformance, KeyAndValueNamesIgnoreCase) {
  HKEY mixed = Create(key_, "MixedCase\\Inner");
  RegCloseKey(mixed);
  EXPECT_KEY(HKEY_CURRENT_USER, Path("MIXEDCASE\\inner"), true);
  EXPECT_KEY(HKEY_CURRENT_USER, "SOFTWARE\\dorvaneconformance\\mixedCase", true);

  DWORD disposition = 0;
  mixed = Create(key_, "mixedcase", &disposition);
  EXPECT_EQ(static_cast<DWORD>(REG_OPENED_EXISTING_KEY), disposition);
  ASSERT_EQ(ERROR_SUCCESS, Set(mixed, "ValueName", REG_DWORD, Dword(1)));
  ASSERT_EQ(ERROR_SUCCESS, Set(mixed, "VALUENAME", REG_DWORD, Dword(2)));
  EXPECT_VALUE(mixed, "valuename", REG_DWORD, Dword(2));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueA(mixed, "vALUEnAME"));
  EXPECT_NO_VALUE(mixed, "ValueName");
  RegCloseKey(mixed);
}

TEST_F(RegistryConformance, AHandleKeepsTheRightsItWasOpenedWith) {
  ASSERT_EQ(ERROR_SUCCESS, Set(key_, "Kept", REG_DWORD, Dword(1)));

  HKEY reader = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, kScratch, 0, KEY_READ, &reader));
  EXPECT_EQ(ERROR_ACCESS_DENIED, Set(reader, "Kept", REG_DWORD, Dword(2)));
  EXPECT_EQ(ERROR_ACCESS_DENIED, Set(reader, "New", REG_DWORD, Dword(2)));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteValueA(reader, "Kept"));
  EXPECT_EQ(ERROR_SUCCESS, RegFlushKey(reader));
  EXPECT_VALUE(reader, "Kept", REG_DWORD, Dword(1));
  EXPECT_NO_VALUE(reader, "New");
  RegCloseKey(reader);

  HKEY writer = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, kScratch, 0, KEY_SET_VALUE, &writer));
  DWORD size = 0;
  EXPECT_EQ(ERROR_ACCESS_DENIED,
            RegQueryValueExA(writer, "Kept", nullptr, nullptr, nullptr, &size));
  EXPECT_EQ(ERROR_SUCCESS, Set(writer, "Kept", REG_DWORD, Dword(3)));
  RegCloseKey(writer);
  EXPECT_VALUE(key_, "Kept", REG_DWORD, Dword(3));
}

// Subkeys come by index, each once, in an order Windows does not promise; past the last the
// answer is ERROR_NO_MORE_ITEMS. The size counts the terminating zero going in and not coming
// out; a buffer without room for the name and its zero gets ERROR_MORE_DATA.
TEST_F(RegistryConformance, EnumerationNamesEachSubkeyOnce) {
  for (const char* name : {"Parent", "MixedCase", "Doomed"}) {
    HKEY child = Create(key_, name);
    ASSERT_NE(nullptr, child);
    RegCloseKey(child);
  }

  std::set<std::string> names;
  DWORD index = 0;
  for (;; ++index) {
    char name[32];
    std::memset(name, kSentinel, sizeof name);
    DWORD size = sizeof name;
    const LONG rc = RegEnumKeyExA(key_, index, name, &size, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    ASSERT_EQ(ERROR_SUCCESS, rc) << "index " << index;
    EXPECT_EQ(std::strlen(name), size);
    names.insert(name);
  }
  EXPECT_EQ(3u, index);
  EXPECT_EQ((std::set<std::string>{"Doomed", "MixedCase", "Parent"}), names);

  char small[6];
  std::memset(small, kSentinel, sizeof small);
  DWORD size = sizeof small;  // "MixedCase" and "Parent" need more
  std::set<std::string> fitting;
  for (DWORD i = 0; i < 3; ++i) {
    size = sizeof small;
    const LONG rc = RegEnumKeyExA(key_, i, small, &size, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_SUCCESS) {
      fitting.insert(small);
    } else {
      EXPECT_EQ(ERROR_MORE_DATA, rc);
    }
  }
  EXPECT_EQ(std::set<std::string>{}, fitting) << "no name fits six bytes with its zero";

  HKEY writer = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, kScratch, 0, KEY_SET_VALUE, &writer));
  char name[32];
  size = sizeof name;
  EXPECT_EQ(ERROR_ACCESS_DENIED,
            RegEnumKeyExA(writer, 0, name, &size, nullptr, nullptr, nullptr, nullptr));
  RegCloseKey(writer);
}

// A key whose access list denies this account reading exists all the same: asking for any
// reading right (KEY_READ among them) is refused with ERROR_ACCESS_DENIED, not answered as
// missing; other rights are granted, and a key below it opens as usual.
TEST_F(RegistryConformance, AKeyThatDeniesReadingIsRefusedNotMissing) {
  HKEY child = Create(HKEY_LOCAL_MACHINE, Path("Parent\\Child"));
  ASSERT_NE(nullptr, child);
  ASSERT_EQ(ERROR_SUCCESS, Set(child, "Kept", REG_DWORD, Dword(7)));
  RegCloseKey(child);
  ASSERT_TRUE(conformance::DenyReading(HKEY_LOCAL_MACHINE, Path("Parent")));

  for (REGSAM access : std::initializer_list<REGSAM>{KEY_READ, KEY_QUERY_VALUE,
                                                     KEY_ENUMERATE_SUB_KEYS, KEY_ALL_ACCESS}) {
    SCOPED_TRACE(access);
    HKEY key = reinterpret_cast<HKEY>(uintptr_t{kSentinelWord});
    EXPECT_EQ(ERROR_ACCESS_DENIED,
              RegOpenKeyExA(HKEY_LOCAL_MACHINE, Path("Parent").c_str(), 0, access, &key));
    EXPECT_EQ(nullptr, key);
  }
  HKEY created = nullptr;
  EXPECT_EQ(ERROR_ACCESS_DENIED,
            RegCreateKeyExA(HKEY_LOCAL_MACHINE, Path("Parent").c_str(), 0, nullptr,
                            REG_OPTION_NON_VOLATILE, KEY_READ, nullptr, &created, nullptr));

  HKEY writer = nullptr;
  ASSERT_EQ(ERROR_SUCCESS,
            RegOpenKeyExA(HKEY_LOCAL_MACHINE, Path("Parent").c_str(), 0, KEY_SET_VALUE, &writer));
  EXPECT_EQ(ERROR_SUCCESS, Set(writer, "Written", REG_DWORD, Dword(1)));
  RegCloseKey(writer);

  HKEY below = nullptr;
  ASSERT_EQ(ERROR_SUCCESS,
            RegOpenKeyExA(HKEY_LOCAL_MACHINE, Path("Parent\\Child").c_str(), 0, KEY_READ, &below));
  EXPECT_VALUE(below, "Kept", REG_DWORD, Dword(7));
  RegCloseKey(below);
}

TEST_F(RegistryConformance, TheEmptyValueNameIsTheDefaultValue) {
  ASSERT_EQ(ERROR_SUCCESS, Set(key_, "", REG_SZ, Text("default")));
  EXPECT_VALUE(key_, nullptr, REG_SZ, Text("default"));
  ASSERT_EQ(ERROR_SUCCESS, Set(key_, nullptr, REG_DWORD, Dword(9)));
  EXPECT_VALUE(key_, "", REG_DWORD, Dword(9));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueA(key_, nullptr));
  EXPECT_NO_VALUE(key_, "");
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteValueA(key_, ""));
}

TEST_F(RegistryConformance, MachineAndUserHivesAreDistinct) {
  HKEY machine = Create(HKEY_LOCAL_MACHINE, kScratch);
  ASSERT_NE(nullptr, machine);
  ASSERT_EQ(ERROR_SUCCESS, Set(machine, "Where", REG_SZ, Text("machine")));
  ASSERT_EQ(ERROR_SUCCESS, Set(key_, "Where", REG_SZ, Text("user")));
  EXPECT_VALUE(machine, "Where", REG_SZ, Text("machine"));
  EXPECT_VALUE(key_, "Where", REG_SZ, Text("user"));

  HKEY onlyUser = Create(key_, "Parent");
  RegCloseKey(onlyUser);
  EXPECT_KEY(HKEY_LOCAL_MACHINE, Path("Parent"), false);
  RegCloseKey(machine);
}

TEST_F(RegistryConformance, AStringIsStoredWithOrWithoutItsTerminator) {
  const char text[] = "abcX";
  ASSERT_EQ(ERROR_SUCCESS,
            RegSetValueExA(key_, "With", 0, REG_SZ, reinterpret_cast<const BYTE*>("abc"), 4));
  EXPECT_VALUE(key_, "With", REG_SZ, Text("abc"));
  // Windows (and Wine) would also count a zero lying right after the given bytes, so the
  // byte after them here is not a zero.
  ASSERT_EQ(ERROR_SUCCESS,
            RegSetValueExA(key_, "Without", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), 3));
  EXPECT_VALUE(key_, "Without", REG_SZ, (Bytes{'a', 'b', 'c'}));
  // Read into exactly three bytes, it stays three bytes.
  Bytes three(4, kSentinel);
  DWORD size = 3;
  EXPECT_EQ(ERROR_SUCCESS,
            RegQueryValueExA(key_, "Without", nullptr, nullptr, three.data(), &size));
  EXPECT_EQ((Bytes{'a', 'b', 'c', kSentinel}), three);

  ASSERT_EQ(ERROR_SUCCESS,
            RegSetValueExA(key_, "Empty", 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 0));
  EXPECT_VALUE(key_, "Empty", REG_SZ, Bytes{});
}

TEST_F(RegistryConformance, DeleteKeyTakesLeavesOnlyAndItsHandlesGoStale) {
  HKEY doomed = Create(key_, "Doomed");
  ASSERT_EQ(ERROR_SUCCESS, Set(doomed, "v", REG_DWORD, Dword(1)));
  HKEY nest = Create(key_, "Nest\\A");
  RegCloseKey(nest);

  EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(key_, "Nest"));
  EXPECT_KEY(HKEY_CURRENT_USER, Path("Nest\\A"), true);
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteKeyA(key_, "Missing"));

  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(key_, "Doomed"));
  EXPECT_KEY(HKEY_CURRENT_USER, Path("Doomed"), false);
  DWORD size = 0;
  EXPECT_EQ(ERROR_KEY_DELETED, RegQueryValueExA(doomed, "v", nullptr, nullptr, nullptr, &size));
  EXPECT_EQ(ERROR_KEY_DELETED, Set(doomed, "v", REG_DWORD, Dword(2)));
  EXPECT_EQ(ERROR_KEY_DELETED, RegFlushKey(doomed));
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(doomed));
  // Nothing came back to life through the stale handle.
  EXPECT_KEY(HKEY_CURRENT_USER, Path("Doomed"), false);
}

// Windows nests keys at most 512 levels below a hive's root and refuses to go deeper.
TEST_F(RegistryConformance, KeysNestAtMost512LevelsDeep) {
  // The scratch key is two levels down; one level per call from there to the deepest.
  std::vector<HKEY> chain{key_};
  while (chain.size() < 511) {
    HKEY next = Create(chain.back(), "Deep");
    if (next == nullptr) break;
    chain.push_back(next);
  }
  EXPECT_EQ(511u, chain.size());
  HKEY tooDeep = nullptr;
  LONG rc = RegCreateKeyExA(chain.back(), "Deep", 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, &tooDeep, nullptr);
  if (conformance::IsWine()) {
    EXPECT_EQ(ERROR_SUCCESS, rc) << "Wine 8 sets no limit";
  } else {
    EXPECT_NE(ERROR_SUCCESS, rc);
    HKEY absent = nullptr;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(chain.back(), "Deep", 0, KEY_READ, &absent));
  }
  if (rc == ERROR_SUCCESS) RegCloseKey(tooDeep);
  // Deepest first: a key goes only once it has no subkeys.
  for (size_t i = chain.size(); i-- > 0;) {
    RegDeleteKeyA(chain[i], "Deep");
    if (i > 0) RegCloseKey(chain[i]);
  }
  EXPECT_KEY(HKEY_CURRENT_USER, Path("Deep"), false);
}

TEST_F(RegistryConformance, BadHandlesAreRefusedAndRootsMayBeClosed) {
  const HKEY bogus = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0xDEAD0));
  DWORD size = 0;
  EXPECT_EQ(ERROR_INVALID_HANDLE, RegQueryValueExA(bogus, "v", nullptr, nullptr, nullptr, &size));
  EXPECT_EQ(ERROR_INVALID_HANDLE, Set(bogus, "v", REG_DWORD, Dword(1)));
  EXPECT_EQ(ERROR_INVALID_HANDLE, RegFlushKey(bogus));
  EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(bogus));

  HKEY once = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, kScratch, 0, KEY_READ, &once));
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(once));
  EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(once));

  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(HKEY_CURRENT_USER));
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(HKEY_LOCAL_MACHINE));
  // Still usable after "closing".
  EXPECT_EQ(ERROR_SUCCESS, RegFlushKey(HKEY_CURRENT_USER));
  EXPECT_KEY(HKEY_CURRENT_USER, kScratch, true);
}

}  // namespace
