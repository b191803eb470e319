// .reg text: import of every construct regedit writes (and a few it accepts), export in
// regedit's own layout, and malformed text refused with its line number.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "HostControl.h"
#include "Win32Api.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Test texts are written with \n line ends; regedit writes \r\n.
std::string Crlf(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

// Exported by regedit (Wine 8) from a key filled with reg.exe, converted from UTF-16 to
// bytes: the layout the export must reproduce byte for byte.
const char* const kRegeditExport = R"(Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\Software\ExpTest]
@="def"
"B"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,\
  17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27
"Bin100"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\
  16,17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27,28,29,2a,2b,2c,2d,2e,\
  2f,30,31,32,33,34,35,36,37,38,39,3a,3b,3c,3d,3e,3f,40,41,42,43,44,45,46,47,\
  48,49,4a,4b,4c,4d,4e,4f,50,51,52,53,54,55,56,57,58,59,5a,5b,5c,5d,5e,5f,60,\
  61,62,63
"Dw"=dword:0000002a
"Empty"=hex:
"Exp"=hex(2):25,00,53,00,79,00,73,00,74,00,65,00,6d,00,52,00,6f,00,6f,00,74,00,\
  25,00,5c,00,78,00,00,00
"LongerNameForWrapping"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,\
  11,12,13,14,15,16,17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27
"Multi"=hex(7):6f,00,6e,00,65,00,00,00,74,00,77,00,6f,00,00,00,00,00
"Q"=hex(b):05,00,00,00,00,00,00,00
"Str"="a\\b\"c"

[HKEY_CURRENT_USER\Software\ExpTest\a]
@=dword:00000003

[HKEY_CURRENT_USER\Software\ExpTest\Sub]
"x"=dword:00000001

)";

class RegText : public ::testing::Test {
 protected:
  void SetUp() override {
    host::Reset();
    host::SetDebugEcho(false);
  }

  static void Import(const std::string& text) {
    std::string error;
    ASSERT_TRUE(host::ImportRegText(text, &error)) << error << "\n" << text;
  }

  static Bytes Value(HKEY root, const std::string& path, const std::string& name,
                     DWORD* type = nullptr) {
    host::RegValue value;
    if (!host::ReadValue(root, path, name, &value)) return Bytes{0xEE, 0xEE};  // absent
    if (type != nullptr) *type = value.type;
    return value.data;
  }
};

Bytes Z(const std::string& text) {
  Bytes bytes(text.begin(), text.end());
  bytes.push_back(0);
  return bytes;
}

TEST_F(RegText, RegeditsOwnExportReadsBackAndIsWrittenAgainByteForByte) {
  const std::string golden = Crlf(kRegeditExport);
  Import(golden);
  DWORD type = 0;
  EXPECT_EQ(Z("%SystemRoot%\\x"), Value(HKEY_CURRENT_USER, "Software\\ExpTest", "Exp", &type));
  EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), type);
  EXPECT_EQ((Bytes{'o', 'n', 'e', 0, 't', 'w', 'o', 0, 0}),
            Value(HKEY_CURRENT_USER, "Software\\ExpTest", "Multi", &type));
  EXPECT_EQ(static_cast<DWORD>(REG_MULTI_SZ), type);
  EXPECT_EQ(Z("a\\b\"c"), Value(HKEY_CURRENT_USER, "Software\\ExpTest", "Str"));
  EXPECT_EQ((Bytes{3, 0, 0, 0}), Value(HKEY_CURRENT_USER, "Software\\ExpTest\\a", "", &type));
  EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
  EXPECT_EQ(Bytes{}, Value(HKEY_CURRENT_USER, "Software\\ExpTest", "Empty", &type));
  EXPECT_EQ(static_cast<DWORD>(REG_BINARY), type);
  EXPECT_EQ(100u, Value(HKEY_CURRENT_USER, "Software\\ExpTest", "Bin100").size());

  EXPECT_EQ(golden, host::ExportRegText(HKEY_CURRENT_USER, "Software\\ExpTest"));
}

TEST_F(RegText, EachFormOfValueImportsToItsTypeAndBytes) {
  struct Case {
    const char* header;
    const char* line;
    DWORD type;
    Bytes data;
  };
  const char* v5 = "Windows Registry Editor Version 5.00";
  const char* v4 = "REGEDIT4";
  const Case cases[] = {
      {v5, R"("v"="plain")", REG_SZ, Z("plain")},
      {v5, R"("v"="")", REG_SZ, Z("")},
      {v5, R"("v"="C:\\dir\\\"q\"")", REG_SZ, Z("C:\\dir\\\"q\"")},
      {v5, R"("v"="a;b" ; comment after the value)", REG_SZ, Z("a;b")},
      {v5, R"("v"=dword:0000002A)", REG_DWORD, {0x2A, 0, 0, 0}},
      {v5, R"("v"=dword:1)", REG_DWORD, {1, 0, 0, 0}},
      {v5, R"("v"=dword:ffffffff)", REG_DWORD, {0xFF, 0xFF, 0xFF, 0xFF}},
      {v5, R"("v"=hex:01,ff,A0)", REG_BINARY, {0x01, 0xFF, 0xA0}},
      {v5, R"("v"=hex:)", REG_BINARY, {}},
      {v5, R"("v"=hex(0):)", REG_NONE, {}},
      {v5, R"("v"=hex(b):01,00,00,00,00,00,00,00)", REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 0}},
      {v5, R"("v"=hex(4):07,00,00)", REG_DWORD, {7, 0, 0}},
      {v5, "\"v\"=hex:01,\\\n  02,\\\n\t03", REG_BINARY, {1, 2, 3}},
      // Version 5.00 string types are UTF-16 in the file and ANSI bytes in the registry.
      {v5, R"("v"=hex(2):25,00,41,00,25,00,00,00)", REG_EXPAND_SZ, Z("%A%")},
      {v5, R"("v"=hex(1):61,00,62,00)", REG_SZ, {'a', 'b'}},
      {v5, R"("v"=hex(7):61,00,00,00,00,00)", REG_MULTI_SZ, {'a', 0, 0}},
      {v4, R"("v"=hex(2):25,41,25,00)", REG_EXPAND_SZ, Z("%A%")},
      {v4, R"("v"="four")", REG_SZ, Z("four")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    host::Reset();
    Import(std::string(c.header) + "\n\n[HKEY_CURRENT_USER\\Software\\T]\n" + c.line + "\n");
    DWORD type = 0xFFFF;
    EXPECT_EQ(c.data, Value(HKEY_CURRENT_USER, "Software\\T", "v", &type));
    EXPECT_EQ(c.type, type);
  }
}

TEST_F(RegText, KeysAndValuesAreCreatedReplacedAndDeleted) {
  Import(Crlf(R"(Windows Registry Editor Version 5.00

; a comment line, and keys in both spellings of their root
[HKLM\Software\Vendor\Empty]

[hkey_current_user\Software\Vendor]
@="default"
"Keep"=dword:00000001
"Drop"=dword:00000002

[HKEY_CURRENT_USER\Software\Vendor\Old\Deeper]
"x"=dword:00000003
)"));
  EXPECT_TRUE(host::KeyExists(HKEY_LOCAL_MACHINE, "Software\\Vendor\\Empty"));
  EXPECT_FALSE(host::KeyExists(HKEY_CURRENT_USER, "Software\\Vendor\\Empty"));
  EXPECT_EQ(Z("default"), Value(HKEY_CURRENT_USER, "Software\\Vendor", ""));

  Import(R"(REGEDIT4

[-HKEY_CURRENT_USER\Software\Vendor\Old]
"Ignored"="values under a deleted key are skipped"

[HKEY_CURRENT_USER\Software\Vendor]
"Drop"=-
"Keep"="now text"
@=-
)");
  EXPECT_FALSE(host::KeyExists(HKEY_CURRENT_USER, "Software\\Vendor\\Old"));
  EXPECT_FALSE(host::ReadValue(HKEY_CURRENT_USER, "Software\\Vendor", "Drop", nullptr));
  EXPECT_FALSE(host::ReadValue(HKEY_CURRENT_USER, "Software\\Vendor", "", nullptr));
  DWORD type = 0;
  EXPECT_EQ(Z("now text"), Value(HKEY_CURRENT_USER, "Software\\Vendor", "Keep", &type));
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
  // Deleting what is not there is no error.
  Import(
      "REGEDIT4\n\n[-HKEY_CURRENT_USER\\Software\\Nothing]\n[HKCU\\Software\\Vendor]\n"
      "\"Nothing\"=-\n");
}

TEST_F(RegText, MalformedTextIsRefusedWithItsLineAndImportsNothing) {
  host::WriteDword(HKEY_CURRENT_USER, "Software\\Before", "v", 1);
  const std::string before = host::ExportRegText();
  struct Case {
    const char* text;
    const char* error;  // how the message starts
  };
  const Case cases[] = {
      {"", "line 1:"},
      {"REGEDIT5\n\n[HKEY_CURRENT_USER\\A]\n", "line 1:"},
      {"REGEDIT4\n\n\"v\"=dword:1\n", "line 3:"},
      {"REGEDIT4\n\n[HKEY_USERS\\A]\n", "line 3:"},
      {"REGEDIT4\n\n[HKEY_CURRENT_USER\\A\n", "line 3:"},
      {"REGEDIT4\n\n[HKEY_CURRENT_USER\\A] trailing\n", "line 3:"},
      {"REGEDIT4\n[HKCU\\A]\n\"ok\"=dword:1\n\"v\"=dword:123456789\n", "line 4:"},
      {"REGEDIT4\n[HKCU\\A]\n\"v\"=dword:xyz\n", "line 3:"},
      {"REGEDIT4\n[HKCU\\A]\n\"v\"=dword:1 2\n", "line 3:"},
      {"REGEDIT4\n[HKCU\\A]\n\"v\"=hex:1g\n", "line 3:"},
      {"REGEDIT4\n[HKCU\\A]\n\"v\"=hex:123\n", "line 3:"},
      {"REGEDIT4\n[HKCU\\A]\n\"v\"=hex:01,,02\n", "line 3:"},
      {"REGEDIT4\n[HKCU\\A]\n\"v\"=hex(xy):01\n", "line 3:"},
      {"REGEDIT4\n[HKCU\\A]\n\"v\"=hex:01,\\\n", "line 3:"},
      // A fault on a continuation line is reported on that line.
      {"REGEDIT4\n[HKCU\\A]\n\"v\"=hex:01,\\\n  02,\\\n  0g\n", "line 5:"},
      {"REGEDIT4\n[HKCU\\A]\n\"v\"=hex:01,\\\n  02 03\n", "line 4:"},
      {"REGEDIT4\n[HKCU\\A]\n\"v\"=\"open\n", "line 3:"},
      {"REGEDIT4\n[HKCU\\A]\n\"v\"=\"a\\nb\"\n", "line 3:"},
      {"REGEDIT4\n[HKCU\\A]\n\"v\"=\"a\" b\n", "line 3:"},
      {"REGEDIT4\n[HKCU\\A]\n\"v\" dword:1\n", "line 3:"},
      {"REGEDIT4\n[HKCU\\A]\n\"v\"=word:1\n", "line 3:"},
      {"REGEDIT4\n[HKCU\\A]\nv=dword:1\n", "line 3:"},
      {"REGEDIT4\r\n[HKCU\\A]\r\n\r\n\"v\"=-x\r\n", "line 4:"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::string error;
    EXPECT_FALSE(host::ImportRegText(c.text, &error));
    EXPECT_EQ(0u, error.rfind(c.error, 0)) << error;
    EXPECT_EQ(before, host::ExportRegText());
  }
}

// Windows nests keys at most 512 levels below a hive's root. The deepest key allowed reads
// and writes like any other; a deeper one, however deep, is refused with its line.
TEST_F(RegText, KeysNestedDeeperThanWindowsAllowsAreRefusedWithTheirLine) {
  auto nested = [](size_t levels) {
    std::string path = "HKEY_CURRENT_USER";
    for (size_t i = 0; i < levels; ++i) path += "\\k";
    return path;
  };
  const std::string deepest = Crlf("Windows Registry Editor Version 5.00\n\n[" + nested(512) +
                                   "]\n\"v\"=dword:00000001\n\n");
  Import(deepest);
  const std::string exported = host::ExportRegText();
  EXPECT_NE(std::string::npos, exported.find(deepest.substr(deepest.find('['))));
  host::Reset();
  Import(exported);
  EXPECT_EQ(exported, host::ExportRegText());

  const std::string before = host::ExportRegText();
  for (size_t levels : {513u, 100000u}) {
    SCOPED_TRACE(levels);
    std::string error;
    EXPECT_FALSE(host::ImportRegText("REGEDIT4\n\n[" + nested(levels) + "]\n", &error));
    EXPECT_EQ("line 3: key nested deeper than 512 levels", error);
    EXPECT_EQ(before, host::ExportRegText());
  }
}

// Sizes at which a load that is quadratic in the number of values, subkeys or bytes takes
// minutes rather than a fraction of a second.
TEST_F(RegText, AKeyWithManyValuesAndSubkeysReadsBackWhole) {
  constexpr int kCount = 40000;
  auto name = [](const char* prefix, int i) {
    char text[16];
    std::snprintf(text, sizeof text, "%s%05d", prefix, i);
    return std::string(text);
  };
  std::string text = "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Big]\r\n";
  for (int i = 0; i < kCount; ++i) text += "\"" + name("v", i) + "\"=dword:00000001\r\n";
  text += "\r\n";
  for (int i = 0; i < kCount; ++i) text += "[HKEY_CURRENT_USER\\Big\\" + name("k", i) + "]\r\n\r\n";
  Import(text);
  EXPECT_EQ(text, host::ExportRegText(HKEY_CURRENT_USER, "Big"));
  // A value named again in another spelling is replaced in place and keeps its first name.
  Import("REGEDIT4\n\n[HKEY_CURRENT_USER\\Big]\n\"V00000\"=dword:00000002\n");
  std::string replaced = text;
  replaced.replace(replaced.find("dword:00000001"), 14, "dword:00000002");
  EXPECT_EQ(replaced, host::ExportRegText(HKEY_CURRENT_USER, "Big"));
}

TEST_F(RegText, AMegabyteValueReadsBackWhole) {
  // About forty thousand continuation lines.
  Bytes blob(1 << 20);
  for (size_t i = 0; i < blob.size(); ++i) blob[i] = static_cast<uint8_t>(i * 7);
  host::WriteValue(HKEY_CURRENT_USER, "Blob", "b", REG_BINARY, blob);
  const std::string blobText = host::ExportRegText(HKEY_CURRENT_USER, "Blob");
  host::Reset();
  Import(blobText);
  EXPECT_EQ(blob, Value(HKEY_CURRENT_USER, "Blob", "b"));
}

TEST_F(RegText, ExportKeepsCreationOrderFirstSpellingsAndSortsKeys) {
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\MixedCase", 0, nullptr, 0,
                                           KEY_ALL_ACCESS, nullptr, &key, nullptr));
  const BYTE one[] = {1, 0, 0, 0};
  RegSetValueExA(key, "Zulu", 0, REG_DWORD, one, 4);
  RegSetValueExA(key, "Value", 0, REG_DWORD, one, 4);
  RegSetValueExA(key, "VALUE", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2);
  RegSetValueExA(key, "Alpha", 0, REG_DWORD, one, 4);
  RegCloseKey(key);
  for (const char* sub : {"gamma", "Beta", "alpha", "ALPHA"}) {
    HKEY child = nullptr;
    ASSERT_EQ(
        ERROR_SUCCESS,
        RegCreateKeyExA(HKEY_CURRENT_USER, (std::string("SOFTWARE\\mixedcase\\") + sub).c_str(), 0,
                        nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr));
    RegCloseKey(child);
  }
  EXPECT_EQ(Crlf(R"(Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\Software\MixedCase]
"Zulu"=dword:00000001
"Value"="x"
"Alpha"=dword:00000001

[HKEY_CURRENT_USER\Software\MixedCase\alpha]

[HKEY_CURRENT_USER\Software\MixedCase\Beta]

[HKEY_CURRENT_USER\Software\MixedCase\gamma]

)"),
            host::ExportRegText(HKEY_CURRENT_USER, "software\\MIXEDCASE"));
  EXPECT_EQ("", host::ExportRegText(HKEY_CURRENT_USER, "Software\\Absent"));
  EXPECT_EQ(0u,
            host::ExportRegText(HKEY_LOCAL_MACHINE, "")
                .find(Crlf("Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE]\n\n")));
}

TEST_F(RegText, StringsThatWouldNotReadBackAsTextAreWrittenAsHex) {
  struct Case {
    Bytes data;
    const char* line;
  };
  const Case cases[] = {
      {{'a', 'b'}, "\"v\"=hex(1):61,00,62,00"},                    // no terminator
      {{'a', 0, 'b', 0}, "\"v\"=hex(1):61,00,00,00,62,00,00,00"},  // zero inside
      {{'a', 0, 0}, "\"v\"=hex(1):61,00,00,00,00,00"},             // two terminators
      {{'a', '\n', 0}, "\"v\"=hex(1):61,00,0a,00,00,00"},          // a line break
      {{}, "\"v\"=hex(1):"},
      {{0}, "\"v\"=\"\""},
  };
  for (const Case& c : cases) {
    host::Reset();
    host::WriteValue(HKEY_CURRENT_USER, "K", "v", REG_SZ, c.data);
    const std::string text = host::ExportRegText(HKEY_CURRENT_USER, "K");
    EXPECT_NE(std::string::npos, text.find(std::string("\r\n") + c.line + "\r\n")) << text;
    host::Reset();
    Import(text);
    EXPECT_EQ(c.data, Value(HKEY_CURRENT_USER, "K", "v")) << c.line;
  }
}

TEST_F(RegText, ARegistryRoundTripsThroughItsText) {
  host::WriteString(HKEY_LOCAL_MACHINE, "Software\\Vendor", "Path", "C:\\Program Files\\\"x\"");
  host::WriteDword(HKEY_LOCAL_MACHINE, "Software\\Vendor", "Odd \"name\" \\", 0x89ABCDEF);
  host::WriteValue(HKEY_CURRENT_USER, "Control Panel\\PowerCfg\\PowerPolicies\\0", "Policies",
                   REG_BINARY, Bytes(80, 0x5A));
  host::WriteValue(HKEY_CURRENT_USER, "A\\B", "", REG_EXPAND_SZ, Z("%TEMP%\\log.txt"));
  host::WriteValue(HKEY_CURRENT_USER, "A\\B", "short dword", REG_DWORD, {1, 2});
  host::WriteValue(HKEY_CURRENT_USER, "A\\B", "high bytes", REG_SZ, Z("\xE9t\xE9"));
  host::WriteValue(HKEY_CURRENT_USER, "A\\Empty", "none", REG_NONE, {});
  const std::string first = host::ExportRegText();

  host::Reset();
  Import(first);
  EXPECT_EQ(first, host::ExportRegText());
  DWORD type = 0;
  EXPECT_EQ((Bytes{1, 2}), Value(HKEY_CURRENT_USER, "A\\B", "short dword", &type));
  EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
  EXPECT_EQ(Z("\xE9t\xE9"), Value(HKEY_CURRENT_USER, "A\\B", "high bytes"));
  EXPECT_EQ(Bytes(80, 0x5A),
            Value(HKEY_CURRENT_USER, "Control Panel\\PowerCfg\\PowerPolicies\\0", "Policies"));
}

}  // namespace
