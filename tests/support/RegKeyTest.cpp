#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "HostFixture.h"
#include "RegKey.h"

namespace {

const std::string kSuffix = "->System Error: ";
const std::string kPath = "Software\\Test\\Key";

// Exposes the handle, which is null whenever no key is open.
class KeyProbe : public RegKey {
 public:
  using RegKey::RegKey;
  HKEY Handle() const { return key; }
};

class RegKeyTest : public HostFixture {
 protected:
  static std::vector<uint8_t> Data(const std::string& bytes) {
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
  }
  static host::RegValue Stored(const std::string& name) {
    host::RegValue value;
    EXPECT_TRUE(host::ReadValue(HKEY_LOCAL_MACHINE, kPath, name, &value)) << name;
    return value;
  }
};

TEST_F(RegKeyTest, OnlyCreateModeOneCreatesAMissingKey) {
  struct Case {
    const char* mode;
    std::function<KeyProbe()> make;
    bool creates;
  };
  const std::string deep = kPath + "\\Deeper\\Still";
  const Case cases[] = {
      {"create 1", [&] { return KeyProbe(HKEY_LOCAL_MACHINE, deep, 1); }, true},
      {"create 0", [&] { return KeyProbe(HKEY_LOCAL_MACHINE, deep, 0); }, false},
      {"create 2", [&] { return KeyProbe(HKEY_LOCAL_MACHINE, deep, 2); }, false},
      {"create 0x101", [&] { return KeyProbe(HKEY_LOCAL_MACHINE, deep, 0x101); }, false},
      {"no create", [&] { return KeyProbe(HKEY_LOCAL_MACHINE, deep); }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    host::DeleteKeyTree(HKEY_LOCAL_MACHINE, "Software\\Test");
    KeyProbe key = c.make();
    EXPECT_EQ(host::KeyExists(HKEY_LOCAL_MACHINE, deep), c.creates);
    EXPECT_EQ(key.Handle() != nullptr, c.creates);
    EXPECT_EQ(key.GetErrorText(), c.creates ? "" : "OpenKey failed" + kSuffix);
  }
}

TEST_F(RegKeyTest, OpenModesFindAnExistingKey) {
  host::WriteDword(HKEY_LOCAL_MACHINE, kPath, "N", 7);
  for (WORD create : {0, 1, 2}) {
    RegKey key(HKEY_LOCAL_MACHINE, kPath, create);
    EXPECT_EQ(key.GetErrorText(), "") << create;
    EXPECT_EQ(key.GetDwordValue("N"), 7u) << create;
  }
}

TEST_F(RegKeyTest, OpenAsksForReadAccessOnlyAndCreateForFullAccess) {
  host::WriteDword(HKEY_LOCAL_MACHINE, kPath, "N", 7);
  host::SetLimitedUser(true);

  RegKey reader(HKEY_LOCAL_MACHINE, kPath);
  EXPECT_EQ(reader.GetErrorText(), "");
  EXPECT_EQ(reader.GetDwordValue("N"), 7u);

  RegKey writer(HKEY_LOCAL_MACHINE, kPath, 1);
  EXPECT_EQ(writer.GetErrorText(), "CreateKey Failed" + kSuffix);
  EXPECT_EQ(writer.GetDwordValue("N"), kUnsetReading);
}

TEST_F(RegKeyTest, KeyThatFailedToOpenFailsEveryOperation) {
  KeyProbe key(HKEY_LOCAL_MACHINE, kPath);
  EXPECT_EQ(key.GetErrorText(), "OpenKey failed" + kSuffix);
  EXPECT_EQ(key.Handle(), nullptr);

  EXPECT_EQ(key.GetStrValue("X"), "");
  EXPECT_EQ(key.GetErrorText(), "GetStrValue failed" + kSuffix);
  EXPECT_EQ(key.GetDwordValue("X"), kUnsetReading);
  EXPECT_EQ(key.GetErrorText(), "GetDwordValue failed" + kSuffix);
  EXPECT_TRUE(key.SetValue("X", std::string("text")));
  EXPECT_EQ(key.GetErrorText(), "SetValue (str) failed" + kSuffix);
  EXPECT_TRUE(key.SetValue("X", DWORD{5}));
  EXPECT_EQ(key.GetErrorText(), "SetValue (dw) failed" + kSuffix);
  EXPECT_TRUE(key.CloseKey());
  EXPECT_EQ(key.GetErrorText(), "CloseKey failed" + kSuffix);
  EXPECT_FALSE(host::KeyExists(HKEY_LOCAL_MACHINE, kPath));
}

TEST_F(RegKeyTest, SetValueStoresTextWithItsZeroAsExpandableString) {
  RegKey key(HKEY_LOCAL_MACHINE, kPath, 1);
  const struct {
    std::string text;
    std::string stored;
  } cases[] = {
      {"abc", std::string("abc\0", 4)},
      {"", std::string("\0", 1)},
      {"%SystemRoot%\\x", std::string("%SystemRoot%\\x\0", 15)},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(key.SetValue("Text", c.text));
    const host::RegValue value = Stored("Text");
    EXPECT_EQ(value.type, DWORD{REG_EXPAND_SZ});
    EXPECT_EQ(value.data, Data(c.stored));
    EXPECT_EQ(key.GetStrValue("Text"), c.text);
  }
  EXPECT_EQ(key.GetErrorText(), "");
}

TEST_F(RegKeyTest, SetValueStoresNumberAsLittleEndianDwordReplacingAnyType) {
  host::WriteString(HKEY_LOCAL_MACHINE, kPath, "N", "was text");
  RegKey key(HKEY_LOCAL_MACHINE, kPath, 1);
  EXPECT_FALSE(key.SetValue("N", DWORD{0x12345678}));
  const host::RegValue value = Stored("N");
  EXPECT_EQ(value.type, DWORD{REG_DWORD});
  EXPECT_EQ(value.data, (std::vector<uint8_t>{0x78, 0x56, 0x34, 0x12}));
  EXPECT_EQ(key.GetDwordValue("N"), 0x12345678u);
}

TEST_F(RegKeyTest, EmptyNameAddressesTheDefaultValue) {
  RegKey key(HKEY_LOCAL_MACHINE, kPath, 1);
  EXPECT_FALSE(key.SetValue("", std::string("default")));
  EXPECT_EQ(HostFixture::ValueBytes(HKEY_LOCAL_MACHINE, kPath, ""), std::string("default\0", 8));
  EXPECT_EQ(key.GetStrValue(""), "default");
}

TEST_F(RegKeyTest, GetStrValueReadsUpToTheFirstZeroWithinItsBuffer) {
  const struct {
    const char* what;
    DWORD type;
    std::string data;
    std::string text;
    bool fails;
  } cases[] = {
      {"1024 bytes with zero", REG_SZ, std::string(1023, 'x') + '\0', std::string(1023, 'x'),
       false},
      {"1025 bytes with zero", REG_SZ, std::string(1024, 'x') + '\0', "", true},
      {"1024 bytes, no zero", REG_BINARY, std::string(1024, 'y'), std::string(1024, 'y'), false},
      {"no terminating zero", REG_SZ, "abc", "abc", false},
      {"zero inside", REG_SZ, std::string("ab\0cd\0", 6), "ab", false},
      {"empty text", REG_SZ, std::string("\0", 1), "", false},
      {"no bytes", REG_BINARY, "", "", false},
      {"not expanded", REG_EXPAND_SZ, std::string("%PATH%\0", 7), "%PATH%", false},
      {"any type", REG_DWORD, std::string("\x41\x42\0\0", 4), "AB", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    host::WriteValue(HKEY_LOCAL_MACHINE, kPath, "S", c.type, Data(c.data));
    RegKey key(HKEY_LOCAL_MACHINE, kPath);
    EXPECT_EQ(key.GetStrValue("S"), c.text);
    EXPECT_EQ(key.GetErrorText(), c.fails ? "GetStrValue failed" + kSuffix : "");
  }
}

// The policy's form reads only REG_SZ and REG_EXPAND_SZ data as a text; any other type reads
// as an absent value does, told apart from one with its type, also when it is too long for
// the buffer.
TEST_F(RegKeyTest, GetStrValueOfTheSettingsReadsOnlyTextTypes) {
  const struct {
    const char* what;
    DWORD type;
    std::string data;
    std::string text;
    bool notAText;
  } cases[] = {
      {"REG_SZ", REG_SZ, std::string("Verify\0", 7), "Verify", false},
      {"REG_EXPAND_SZ, not expanded", REG_EXPAND_SZ, std::string("%TEMP%\0", 7), "%TEMP%", false},
      {"REG_SZ too long", REG_SZ, std::string(1024, 'x') + '\0', "", false},
      {"REG_MULTI_SZ", REG_MULTI_SZ, std::string("Verify\0\0", 8), "", true},
      {"REG_BINARY of the text", REG_BINARY, "Verify", "", true},
      {"REG_BINARY too long", REG_BINARY, std::string(2000, 'y'), "", true},
      {"REG_DWORD", REG_DWORD, std::string("\x41\x42\0\0", 4), "", true},
      {"REG_NONE", REG_NONE, std::string("Verify\0", 7), "", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    host::WriteValue(HKEY_LOCAL_MACHINE, kPath, "S", c.type, Data(c.data));
    RegKey key(HKEY_LOCAL_MACHINE, kPath);
    bool notAText = !c.notAText;
    DWORD type = 0xBAD;
    EXPECT_EQ(key.GetStrValue("S", &notAText, &type), c.text);
    EXPECT_EQ(notAText, c.notAText);
    EXPECT_EQ(type, c.type);
    EXPECT_EQ(key.GetErrorText(), c.text.empty() ? "GetStrValue failed" + kSuffix : "");
  }
  RegKey key(HKEY_LOCAL_MACHINE, kPath);
  bool notAText = true;
  DWORD type = REG_SZ;
  EXPECT_EQ(key.GetStrValue("Absent", &notAText, &type), "");
  EXPECT_FALSE(notAText);
  EXPECT_EQ(type, DWORD{REG_NONE});
}

// Only REG_DWORD data of one to four bytes is a number; everything else reads as an absent
// value does, but is told apart from one.
TEST_F(RegKeyTest, GetDwordValueReadsOnlyRegDwordDataAsANumber) {
  // Stands for "read as the unset reading, as not a number" in the table below.
  constexpr DWORD kNotANumber = 0x12345678;
  const struct {
    const char* what;
    DWORD type;
    std::string data;
    DWORD number;  // kNotANumber: none
  } cases[] = {
      {"stored 0", REG_DWORD, std::string(4, '\0'), 0},
      {"stored 4999", REG_DWORD, std::string("\x87\x13\0\0", 4), 4999},
      {"all ones", REG_DWORD, std::string(4, '\xff'), 0xFFFFFFFF},
      // A shorter REG_DWORD fills the low-order bytes; the rest stay zero.
      {"two bytes", REG_DWORD, "\x34\x12", 0x1234},
      {"one byte", REG_DWORD, "\x7f", 0x7f},
      {"no bytes", REG_DWORD, "", kNotANumber},
      {"five bytes", REG_DWORD, "\x01\x02\x03\x04\x05", kNotANumber},
      {"text of one digit", REG_SZ, std::string("5\0", 2), kNotANumber},
      {"text zero", REG_SZ, std::string("0\0", 2), kNotANumber},
      {"empty text", REG_SZ, std::string("\0", 1), kNotANumber},
      {"text of ten digits", REG_SZ, std::string("4294967295\0", 11), kNotANumber},
      {"expandable text", REG_EXPAND_SZ, std::string("2\0", 2), kNotANumber},
      {"multiple texts", REG_MULTI_SZ, std::string("1\0\0", 3), kNotANumber},
      {"four binary bytes", REG_BINARY, std::string("\x0a\0\0\0", 4), kNotANumber},
      {"empty binary", REG_BINARY, "", kNotANumber},
      {"big-endian number", REG_DWORD_BIG_ENDIAN, std::string("\0\0\0\x0a", 4), kNotANumber},
      {"eight-byte number", REG_QWORD, std::string("\x0a\0\0\0\0\0\0\0", 8), kNotANumber},
      {"no type", REG_NONE, std::string("\x0a\0\0\0", 4), kNotANumber},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    host::WriteValue(HKEY_LOCAL_MACHINE, kPath, "D", c.type, Data(c.data));
    RegKey key(HKEY_LOCAL_MACHINE, kPath);
    const bool isNumber = c.number != kNotANumber;
    bool notANumber = !isNumber;
    EXPECT_EQ(key.GetDwordValue("D", &notANumber), isNumber ? c.number : kUnsetReading);
    EXPECT_EQ(notANumber, !isNumber);
    EXPECT_EQ(key.GetErrorText(), isNumber ? "" : "GetDwordValue failed" + kSuffix);
    EXPECT_EQ(key.GetDwordValue("D"), isNumber ? c.number : kUnsetReading);
  }

  // Absent, or no key at all: the same reading, but nothing stored that is not a number.
  RegKey key(HKEY_LOCAL_MACHINE, kPath);
  RegKey missing(HKEY_LOCAL_MACHINE, kPath + "\\Missing");
  for (RegKey* k : {&key, &missing}) {
    bool notANumber = true;
    EXPECT_EQ(k->GetDwordValue("Absent", &notANumber), kUnsetReading);
    EXPECT_FALSE(notANumber);
    EXPECT_EQ(k->GetErrorText(), "GetDwordValue failed" + kSuffix);
  }
}

TEST_F(RegKeyTest, AbsentValueReadsAsUnsetOrEmptyWithText) {
  host::WriteDword(HKEY_LOCAL_MACHINE, kPath, "Other", 1);
  RegKey key(HKEY_LOCAL_MACHINE, kPath);
  EXPECT_EQ(key.GetDwordValue("Absent"), kUnsetReading);
  EXPECT_GE(kUnsetReading, 5000u);
  EXPECT_EQ(key.GetErrorText(), "GetDwordValue failed" + kSuffix);
  EXPECT_EQ(key.GetStrValue("Absent"), "");
  EXPECT_EQ(key.GetErrorText(), "GetStrValue failed" + kSuffix);
  // A later success leaves the text as it was.
  EXPECT_EQ(key.GetDwordValue("Other"), 1u);
  EXPECT_EQ(key.GetErrorText(), "GetStrValue failed" + kSuffix);
}

TEST_F(RegKeyTest, ReadOnlyKeyRefusesWritesAndChangesNothing) {
  ImportReg(R"([HKEY_LOCAL_MACHINE\Software\Test\Key]
"N"=dword:00000007
"S"="old"
)");
  RegKey key(HKEY_LOCAL_MACHINE, kPath, 0);
  ASSERT_EQ(key.GetErrorText(), "");

  EXPECT_TRUE(key.SetValue("S", std::string("new")));
  EXPECT_EQ(key.GetErrorText(), "SetValue (str) failed" + kSuffix);
  EXPECT_TRUE(key.SetValue("N", DWORD{8}));
  EXPECT_EQ(key.GetErrorText(), "SetValue (dw) failed" + kSuffix);
  EXPECT_TRUE(key.SetValue("New", DWORD{8}));

  EXPECT_EQ(key.GetDwordValue("N"), 7u);
  EXPECT_EQ(key.GetStrValue("S"), "old");
  host::RegValue absent;
  EXPECT_FALSE(host::ReadValue(HKEY_LOCAL_MACHINE, kPath, "New", &absent));
}

// A flush follows what was written: a successful write, and a create that made a new key. A
// key only opened, by an open or by a create that found it there, is not flushed.
TEST_F(RegKeyTest, FlushFollowsOnlyWhatWasWritten) {
  using Calls = std::vector<std::string>;
  host::WriteDword(HKEY_LOCAL_MACHINE, kPath, "N", 7);
  const struct {
    const char* what;
    std::function<void()> run;
    Calls calls;
  } cases[] = {
      {"open", [] { RegKey key(HKEY_LOCAL_MACHINE, kPath); }, {"RegOpenKeyExA"}},
      {"failed open",
       [] { RegKey key(HKEY_LOCAL_MACHINE, "Software\\Absent"); },
       {"RegOpenKeyExA"}},
      {"create a new key",
       [] { RegKey key(HKEY_LOCAL_MACHINE, "Software\\New", 1); },
       {"RegCreateKeyExA", "RegFlushKey"}},
      {"create a key that is there",
       [] { RegKey key(HKEY_LOCAL_MACHINE, kPath, 1); },
       {"RegCreateKeyExA"}},
      {"write text",
       [] { RegKey(HKEY_LOCAL_MACHINE, kPath, 1).SetValue("S", std::string("x")); },
       {"RegCreateKeyExA", "RegSetValueExA", "RegFlushKey"}},
      {"write number",
       [] { RegKey(HKEY_LOCAL_MACHINE, kPath, 1).SetValue("N", DWORD{1}); },
       {"RegCreateKeyExA", "RegSetValueExA", "RegFlushKey"}},
      {"refused write",
       [] { RegKey(HKEY_LOCAL_MACHINE, kPath).SetValue("N", DWORD{1}); },
       {"RegOpenKeyExA", "RegSetValueExA"}},
      {"reads and close",
       [] {
         RegKey key(HKEY_LOCAL_MACHINE, kPath);
         key.GetDwordValue("N");
         key.GetStrValue("N");
         key.CloseKey();
       },
       {"RegOpenKeyExA", "RegQueryValueExA", "RegQueryValueExA", "RegCloseKey"}},
  };
  for (const auto& c : cases) {
    host::ClearCalls();
    c.run();
    EXPECT_EQ(host::Calls(), c.calls) << c.what;
  }
}

TEST_F(RegKeyTest, EachFailingPlatformCallRecordsItsText) {
  host::WriteDword(HKEY_LOCAL_MACHINE, kPath, "N", 7);
  const struct {
    host::FailableFunction function;
    std::function<bool(KeyProbe&)> run;  // true when the operation answered failure
    std::string text;
  } cases[] = {
      {host::gated::RegOpenKeyExA, [](KeyProbe& k) { return k.OpenKey(HKEY_LOCAL_MACHINE, kPath); },
       "OpenKey failed"},
      {host::gated::RegCreateKeyExA,
       [](KeyProbe& k) { return k.CreateKey(HKEY_LOCAL_MACHINE, kPath); }, "CreateKey Failed"},
      {host::gated::RegSetValueExA, [](KeyProbe& k) { return k.SetValue("S", std::string("x")); },
       "SetValue (str) failed"},
      {host::gated::RegSetValueExA, [](KeyProbe& k) { return k.SetValue("N", DWORD{1}); },
       "SetValue (dw) failed"},
      {host::gated::RegQueryValueExA, [](KeyProbe& k) { return k.GetStrValue("N").empty(); },
       "GetStrValue failed"},
      {host::gated::RegQueryValueExA,
       [](KeyProbe& k) { return k.GetDwordValue("N") == kUnsetReading; }, "GetDwordValue failed"},
      {host::gated::RegCloseKey, [](KeyProbe& k) { return k.CloseKey(); }, "CloseKey failed"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    KeyProbe key(HKEY_LOCAL_MACHINE, kPath, 1);
    ASSERT_EQ(key.GetErrorText(), "");
    host::FailCall(c.function, 1, ERROR_ACCESS_DENIED);
    EXPECT_TRUE(c.run(key));
    EXPECT_EQ(key.GetErrorText(), c.text + kSuffix);
    host::ClearFailures();
  }
  host::RegValue absent;
  EXPECT_FALSE(host::ReadValue(HKEY_LOCAL_MACHINE, kPath, "S", &absent));
}

TEST_F(RegKeyTest, FailedOpenOrCloseLeavesNoKey) {
  KeyProbe key(HKEY_LOCAL_MACHINE, kPath, 1);
  host::FailCall(host::gated::RegOpenKeyExA, 1, ERROR_ACCESS_DENIED);
  EXPECT_TRUE(key.OpenKey(HKEY_LOCAL_MACHINE, kPath));
  EXPECT_EQ(key.Handle(), nullptr);

  EXPECT_FALSE(key.CreateKey(HKEY_LOCAL_MACHINE, kPath));
  host::FailCall(host::gated::RegCloseKey, 1, ERROR_INVALID_HANDLE);
  EXPECT_TRUE(key.CloseKey());
  EXPECT_EQ(key.Handle(), nullptr);
  EXPECT_EQ(key.GetDwordValue("N"), kUnsetReading);
}

// Only a REG_DWORD of exactly the four bytes SetValue would store counts as holding the number,
// so that a caller that skips the write leaves the value exactly as the write would.
TEST_F(RegKeyTest, HoldsDwordOnlyForTheExactBytesAWriteWouldStore) {
  const struct {
    const char* what;
    DWORD type;
    std::vector<uint8_t> data;
    bool holds;
  } cases[] = {
      {"the same number", REG_DWORD, {0x2C, 0x01, 0, 0}, true},
      {"another number", REG_DWORD, {0x2D, 0x01, 0, 0}, false},
      {"the low bytes alone", REG_DWORD, {0x2C, 0x01}, false},
      {"eight bytes", REG_DWORD, {0x2C, 0x01, 0, 0, 0, 0, 0, 0}, false},
      {"the same bytes as binary", REG_BINARY, {0x2C, 0x01, 0, 0}, false},
      {"big-endian", REG_DWORD_BIG_ENDIAN, {0x2C, 0x01, 0, 0}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    host::WriteValue(HKEY_LOCAL_MACHINE, kPath, "N", c.type, c.data);
    RegKey key(HKEY_LOCAL_MACHINE, kPath);
    EXPECT_EQ(key.HoldsDword("N", 300), c.holds);
    EXPECT_FALSE(key.HoldsDword("Absent", 300));
    EXPECT_EQ(key.GetErrorText(), "");
    key.CloseKey();
  }
  RegKey none(HKEY_LOCAL_MACHINE, "Software\\Absent");
  EXPECT_FALSE(none.HoldsDword("N", 300));
}

TEST_F(RegKeyTest, FailedFlushIsIgnored) {
  host::FailCall(host::gated::RegFlushKey, 1, ERROR_ACCESS_DENIED, true);
  RegKey key(HKEY_LOCAL_MACHINE, kPath, 1);
  EXPECT_FALSE(key.SetValue("N", DWORD{3}));
  EXPECT_FALSE(key.SetValue("S", std::string("s")));
  EXPECT_EQ(key.GetErrorText(), "");
  EXPECT_EQ(key.GetDwordValue("N"), 3u);
  EXPECT_EQ(host::CallCount(host::gated::RegFlushKey), 3u);
}

RegKey OpenForWriting() {
  RegKey local(HKEY_LOCAL_MACHINE, kPath, 1);
  return local;
}

TEST_F(RegKeyTest, CopiesShareTheHandleAndOnlyCloseKeyReleasesIt) {
  RegKey key = OpenForWriting();
  EXPECT_FALSE(key.SetValue("N", DWORD{11}));
  EXPECT_EQ(host::OpenKeyCount(), 1u);
  {
    RegKey copy = key;
    EXPECT_EQ(copy.GetDwordValue("N"), 11u);
    EXPECT_FALSE(copy.SetValue("N", DWORD{12}));
  }
  // The copy's destruction closed nothing.
  EXPECT_EQ(host::OpenKeyCount(), 1u);
  EXPECT_EQ(key.GetDwordValue("N"), 12u);

  EXPECT_FALSE(key.CloseKey());
  EXPECT_EQ(host::OpenKeyCount(), 0u);
}

TEST_F(RegKeyTest, NewOpenReplacesTheHandleWithoutClosingTheOldOne) {
  RegKey key(HKEY_LOCAL_MACHINE, kPath, 1);
  EXPECT_FALSE(key.OpenKey(HKEY_LOCAL_MACHINE, kPath));
  EXPECT_EQ(host::OpenKeyCount(), 2u);
  EXPECT_EQ(host::CallCount(host::gated::RegCloseKey), 0u);
}

}  // namespace

namespace {

// A key that exists but may not be read is told apart from a missing one: its open's answer is
// kept, and every value read through it carries that answer instead of "not found". A value's
// own failure to be read is kept too.
TEST_F(RegKeyTest, ReadingsTellAMissingKeyOrValueFromOneThatCannotBeRead) {
  const struct {
    const char* name;
    std::function<void()> arrange;
    LONG openStatus;
    LONG valueStatus;
  } cases[] = {
      {"missing key", [] {}, ERROR_FILE_NOT_FOUND, ERROR_FILE_NOT_FOUND},
      {"missing value", [] { host::WriteDword(HKEY_LOCAL_MACHINE, kPath, "Other", 1); },
       ERROR_SUCCESS, ERROR_FILE_NOT_FOUND},
      {"key denies reading",
       [] {
         host::WriteDword(HKEY_LOCAL_MACHINE, kPath, "Value", 1);
         host::DenyReading(HKEY_LOCAL_MACHINE, kPath);
       },
       ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED},
      {"value query fails",
       [] {
         host::WriteDword(HKEY_LOCAL_MACHINE, kPath, "Value", 1);
         host::FailCall(host::gated::RegQueryValueExA, 1, ERROR_GEN_FAILURE);
       },
       ERROR_SUCCESS, ERROR_GEN_FAILURE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    host::DeleteKeyTree(HKEY_LOCAL_MACHINE, "Software\\Test");
    c.arrange();
    RegKey key(HKEY_LOCAL_MACHINE, kPath);

    EXPECT_EQ(key.OpenStatus(), c.openStatus);
    EXPECT_EQ(key.Name(), "HKEY_LOCAL_MACHINE\\" + kPath);
    const DwordReading reading = key.ReadDword("Value");
    EXPECT_EQ(reading.status, c.valueStatus);
    EXPECT_EQ(reading.value, kUnsetReading);
    EXPECT_FALSE(reading.notANumber);
    key.CloseKey();
  }
}

}  // namespace
