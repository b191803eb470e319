// What Dorvane_Tool.exe carries besides its code, read with the calls Windows itself uses to
// show a program: the PE header's subsystem (a GUI program starts at logon without a console),
// the icon group through the resource calls, the version record through the version calls.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "Files.h"
#include "Programs.h"

namespace {

constexpr WORD kIconGroupId = 101;

std::string ToolPath() { return winetest::ProgramDir() + "Dorvane_Tool.exe"; }

// The layout of an icon group resource.
#pragma pack(push, 2)
struct IconGroupHeader {
  WORD reserved;
  WORD type;  // 1: icons
  WORD count;
};
struct IconGroupEntry {
  BYTE width;
  BYTE height;
  BYTE colours;
  BYTE reserved;
  WORD planes;
  WORD bitCount;
  DWORD bytes;
  WORD id;
};
#pragma pack(pop)

BOOL CALLBACK CountLanguage(HMODULE, LPCSTR, LPCSTR, WORD, LONG_PTR count) {
  ++*reinterpret_cast<int*>(count);
  return TRUE;
}

// In how many languages the program file holds resource `id` of `type`.
int LanguagesOf(HMODULE module, LPCSTR type, WORD id) {
  int count = 0;
  EnumResourceLanguagesA(module, type, MAKEINTRESOURCEA(id), CountLanguage,
                         reinterpret_cast<LONG_PTR>(&count));
  return count;
}

// The program file loaded for its resources only.
class ToolResources : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadLibraryExA(ToolPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, module_) << ToolPath() << ": error " << GetLastError();
  }
  void TearDown() override {
    if (module_ != nullptr) FreeLibrary(module_);
  }

  // The resource's bytes; null (and its size 0) when there is none.
  const BYTE* Resource(LPCSTR type, WORD id, DWORD* size) {
    HRSRC found = FindResourceA(module_, MAKEINTRESOURCEA(id), type);
    *size = found != nullptr ? SizeofResource(module_, found) : 0;
    return found != nullptr ? static_cast<const BYTE*>(LockResource(LoadResource(module_, found)))
                            : nullptr;
  }

  HMODULE module_ = nullptr;
};

TEST(LogonToolProgramFile, IsAWindowsGuiProgram) {
  std::string image;
  ASSERT_TRUE(winetest::ReadFileBytes(ToolPath(), &image)) << ToolPath();
  IMAGE_DOS_HEADER dos;
  ASSERT_GE(image.size(), sizeof dos);
  std::memcpy(&dos, image.data(), sizeof dos);
  ASSERT_EQ(IMAGE_DOS_SIGNATURE, dos.e_magic);
  IMAGE_NT_HEADERS nt;
  ASSERT_GE(image.size(), static_cast<size_t>(dos.e_lfanew) + sizeof nt);
  std::memcpy(&nt, image.data() + dos.e_lfanew, sizeof nt);
  ASSERT_EQ(static_cast<DWORD>(IMAGE_NT_SIGNATURE), nt.Signature);
  EXPECT_EQ(IMAGE_NT_OPTIONAL_HDR_MAGIC, nt.OptionalHeader.Magic);
  EXPECT_EQ(IMAGE_SUBSYSTEM_WINDOWS_GUI, nt.OptionalHeader.Subsystem);
}

// One image, 32 x 32 pixels in 16 colours: a 32 x 32 (x 2 for the mask) bitmap of 4 bits per
// pixel, and the one Windows picks for a 32 x 32 icon.
TEST_F(ToolResources, IconGroup101HoldsOne32By32ImageInSixteenColours) {
  EXPECT_EQ(1, LanguagesOf(module_, MAKEINTRESOURCEA(14) /* RT_GROUP_ICON */, kIconGroupId));
  DWORD groupSize = 0;
  const BYTE* group = Resource(MAKEINTRESOURCEA(14), kIconGroupId, &groupSize);
  ASSERT_NE(nullptr, group);
  ASSERT_GE(groupSize, sizeof(IconGroupHeader) + sizeof(IconGroupEntry));
  IconGroupHeader header;
  std::memcpy(&header, group, sizeof header);
  EXPECT_EQ(0, header.reserved);
  EXPECT_EQ(1, header.type);
  ASSERT_EQ(1, header.count);
  IconGroupEntry entry;
  std::memcpy(&entry, group + sizeof header, sizeof entry);
  EXPECT_EQ(32, entry.width);
  EXPECT_EQ(32, entry.height);
  EXPECT_EQ(16, entry.colours);
  EXPECT_EQ(4, entry.bitCount);

  EXPECT_EQ(entry.id,
            LookupIconIdFromDirectoryEx(const_cast<BYTE*>(group), TRUE, 32, 32, LR_DEFAULTCOLOR));
  DWORD imageSize = 0;
  const BYTE* image = Resource(MAKEINTRESOURCEA(3) /* RT_ICON */, entry.id, &imageSize);
  ASSERT_NE(nullptr, image) << "icon image " << entry.id;
  EXPECT_EQ(entry.bytes, imageSize) << "the size the group gives";
  BITMAPINFOHEADER bitmap;
  ASSERT_GE(imageSize, sizeof bitmap);
  std::memcpy(&bitmap, image, sizeof bitmap);
  EXPECT_EQ(sizeof bitmap, bitmap.biSize);
  EXPECT_EQ(32, bitmap.biWidth);
  EXPECT_EQ(64, bitmap.biHeight);
  EXPECT_EQ(4, bitmap.biBitCount);
}

// File and product version are the product's (2.0.694 at the time of writing), in the fixed
// part and in the texts of the table that the translation entry names, and the description
// Explorer shows.
TEST_F(ToolResources, VersionRecordGivesTheProductVersionAndDescribesTheTool) {
  EXPECT_EQ(1, LanguagesOf(module_, MAKEINTRESOURCEA(16) /* RT_VERSION */, 1));
  DWORD recordSize = 0;
  const BYTE* record = Resource(MAKEINTRESOURCEA(16), 1, &recordSize);
  ASSERT_NE(nullptr, record);
  const wchar_t kKey[] = L"VS_VERSION_INFO";
  ASSERT_GE(recordSize, 6 + sizeof kKey);
  EXPECT_EQ(0, std::memcmp(record + 6, kKey, sizeof kKey)) << "the record's key";

  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeA(ToolPath().c_str(), &ignored);
  ASSERT_NE(0u, size) << GetLastError();
  std::string info(size, '\0');
  ASSERT_TRUE(GetFileVersionInfoA(ToolPath().c_str(), 0, size, &info[0]));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(&info[0], "\\", reinterpret_cast<void**>(&fixed), &length));
  ASSERT_EQ(sizeof *fixed, length);
  EXPECT_EQ(0xFEEF04BDu, fixed->dwSignature);
  const DWORD majorMinor = MAKELONG(PM_VERSION_MINOR, PM_VERSION_MAJOR);
  const DWORD buildRevision = MAKELONG(0, PM_VERSION_BUILD);
  EXPECT_EQ(majorMinor, fixed->dwFileVersionMS);
  EXPECT_EQ(buildRevision, fixed->dwFileVersionLS);
  EXPECT_EQ(majorMinor, fixed->dwProductVersionMS);
  EXPECT_EQ(buildRevision, fixed->dwProductVersionLS);

  WORD* translation = nullptr;
  ASSERT_TRUE(VerQueryValueA(&info[0], "\\VarFileInfo\\Translation",
                             reinterpret_cast<void**>(&translation), &length));
  ASSERT_GE(length, 4u);
  char table[64];
  std::snprintf(table, sizeof table, "\\StringFileInfo\\%04x%04x\\", translation[0],
                translation[1]);
  const struct {
    const char* name;
    const char* text;
  } kTexts[] = {{"FileDescription", "Dorvane Power Management Tool"},
                {"FileVersion", PM_VERSION_TEXT},
                {"ProductVersion", PM_VERSION_TEXT}};
  for (const auto& expected : kTexts) {
    char* text = nullptr;
    const std::string query = std::string(table) + expected.name;
    ASSERT_TRUE(VerQueryValueA(&info[0], query.c_str(), reinterpret_cast<void**>(&text), &length))
        << query;
    EXPECT_EQ(expected.text, std::string(text)) << query;
  }
}

}  // namespace
