// What an open handle says about the file behind it, as the log asks before it writes: the
// type (GetFileType), and the attributes and number of names (GetFileInformationByHandle) of
// a new file, a file with a second hard link, a symbolic link and the null device.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ConformanceSupport.h"
#include "Win32Api.h"

namespace {

constexpr DWORD kSentinelWord = 0xDEADBEEF;
constexpr DWORD kNotAPlainFile = FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY;

class FileIdentity : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    base_ = conformance::ScratchDir() + "dorvane-identity-" +
            std::to_string(conformance::ProcessId()) + "-" + info->name();
    file_ = base_ + ".txt";
    second_ = base_ + "-second.txt";
    missing_ = base_ + "-missing.txt";
    RemoveAll();
  }
  void TearDown() override {
    open_.CloseAll();
    RemoveAll();
  }
  void RemoveAll() {
    for (const std::string& path : {second_, file_, missing_}) DeleteFileA(path.c_str());
  }

  // Opens path as the log does (read and write, no sharing, open or create), with the extra
  // flags given; keeps the handle for TearDown and the last error for the test.
  HANDLE OpenAsTheLog(const std::string& path, DWORD flags, DWORD* error = nullptr) {
    SetLastError(kSentinelWord);
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_ARCHIVE | flags, nullptr);
    if (error != nullptr) *error = GetLastError();
    return open_.Keep(h);
  }

  void Close(HANDLE h) { EXPECT_TRUE(open_.Close(h)); }

  static BY_HANDLE_FILE_INFORMATION Info(HANDLE h) {
    BY_HANDLE_FILE_INFORMATION info = {};
    EXPECT_TRUE(GetFileInformationByHandle(h, &info)) << "error " << GetLastError();
    return info;
  }

  void Create(const std::string& path, const std::string& text) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_ARCHIVE, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h) << path << " error " << GetLastError();
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr));
    CloseHandle(h);
  }

  // The whole content, or "<absent>" when nothing can be opened at path.
  static std::string Content(const std::string& path) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return "<absent>";
    const std::string text = conformance::ReadToEnd(h);
    CloseHandle(h);
    return text;
  }

  std::string base_, file_, second_, missing_;
  conformance::OpenHandles open_;
};

TEST_F(FileIdentity, ANewFileIsADiskFileWithOneName) {
  DWORD error = 0;
  HANDLE h = OpenAsTheLog(file_, FILE_FLAG_OPEN_REPARSE_POINT, &error);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), error);
  EXPECT_EQ(static_cast<DWORD>(FILE_TYPE_DISK), GetFileType(h));
  BY_HANDLE_FILE_INFORMATION info = Info(h);
  EXPECT_EQ(0u, info.dwFileAttributes & kNotAPlainFile);
  EXPECT_NE(0u, info.dwFileAttributes & FILE_ATTRIBUTE_ARCHIVE);
  EXPECT_EQ(1u, info.nNumberOfLinks);
  EXPECT_EQ(0u, info.nFileSizeLow);

  DWORD written = 0;
  ASSERT_TRUE(WriteFile(h, "abc", 3, &written, nullptr));
  info = Info(h);
  EXPECT_EQ(3u, info.nFileSizeLow);
  EXPECT_EQ(0u, info.nFileSizeHigh);
  EXPECT_NE(0u, info.ftLastWriteTime.dwHighDateTime);
  Close(h);

  // A closed handle names nothing.
  SetLastError(kSentinelWord);
  EXPECT_EQ(static_cast<DWORD>(FILE_TYPE_UNKNOWN), GetFileType(h));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
  SetLastError(kSentinelWord);
  BY_HANDLE_FILE_INFORMATION none = {};
  EXPECT_FALSE(GetFileInformationByHandle(h, &none));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
}

TEST_F(FileIdentity, ASecondHardLinkIsCountedUnderEitherName) {
  Create(file_, "abc");
  ASSERT_TRUE(conformance::MakeHardLink(second_, file_)) << "error " << GetLastError();
  std::vector<BY_HANDLE_FILE_INFORMATION> seen;
  for (const std::string& name : {file_, second_}) {
    for (DWORD flags : {DWORD{0}, DWORD{FILE_FLAG_OPEN_REPARSE_POINT}}) {
      SCOPED_TRACE(name + (flags != 0 ? ", opened as a reparse point" : ""));
      HANDLE h = OpenAsTheLog(name, flags);
      ASSERT_NE(INVALID_HANDLE_VALUE, h);
      EXPECT_EQ(static_cast<DWORD>(FILE_TYPE_DISK), GetFileType(h));
      seen.push_back(Info(h));
      EXPECT_EQ(2u, seen.back().nNumberOfLinks);
      EXPECT_EQ(0u, seen.back().dwFileAttributes & kNotAPlainFile);
      EXPECT_EQ(3u, seen.back().nFileSizeLow);
      Close(h);
    }
  }
  // Both names lead to one file.
  for (const BY_HANDLE_FILE_INFORMATION& info : seen) {
    EXPECT_EQ(seen[0].dwVolumeSerialNumber, info.dwVolumeSerialNumber);
    EXPECT_EQ(seen[0].nFileIndexHigh, info.nFileIndexHigh);
    EXPECT_EQ(seen[0].nFileIndexLow, info.nFileIndexLow);
  }

  ASSERT_TRUE(DeleteFileA(second_.c_str()));
  HANDLE h = OpenAsTheLog(file_, FILE_FLAG_OPEN_REPARSE_POINT);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  EXPECT_EQ(1u, Info(h).nNumberOfLinks);
}

// Windows (and the stand-in) open a symbolic link itself when asked to: a reparse point with
// one name, and a dangling link's target is not made. Wine 8 follows a Unix symbolic link
// whatever the flags: it reports the target without a reparse point, and opening a dangling
// link creates its target.
TEST_F(FileIdentity, OpenReparsePointOpensASymbolicLinkItself) {
  const struct {
    const char* what;
    bool dangling;
    DWORD flags;
  } cases[] = {
      {"link to a file, followed", false, 0},
      {"link to a file, opened as a reparse point", false, FILE_FLAG_OPEN_REPARSE_POINT},
      {"dangling link, followed", true, 0},
      {"dangling link, opened as a reparse point", true, FILE_FLAG_OPEN_REPARSE_POINT},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    RemoveAll();
    if (!c.dangling) Create(file_, "abc");
    if (!conformance::MakeSymbolicLink(second_, c.dangling ? missing_ : file_)) {
      ASSERT_FALSE(conformance::IsWine()) << "no Unix symbolic link was made";
      GTEST_SKIP() << "Windows makes no symbolic link here (developer mode is off)";
    }
    const bool linkItself = c.flags != 0 && !conformance::IsWine();

    HANDLE h = OpenAsTheLog(second_, c.flags);
    ASSERT_NE(INVALID_HANDLE_VALUE, h) << "error " << GetLastError();
    EXPECT_EQ(static_cast<DWORD>(FILE_TYPE_DISK), GetFileType(h));
    const BY_HANDLE_FILE_INFORMATION info = Info(h);
    EXPECT_EQ(linkItself ? FILE_ATTRIBUTE_REPARSE_POINT : 0u,
              info.dwFileAttributes & kNotAPlainFile);
    EXPECT_EQ(1u, info.nNumberOfLinks);
    EXPECT_EQ(linkItself || c.dangling ? 0u : 3u, info.nFileSizeLow);
    Close(h);

    if (c.dangling) {
      EXPECT_EQ(linkItself ? "<absent>" : "", Content(missing_));
    } else {
      EXPECT_EQ("abc", Content(file_));
    }
    EXPECT_TRUE(conformance::RemoveSymbolicLink(second_));
  }
}

// The log's open of the null device succeeds; the device is no disk file and has no file
// information. (Wine refuses it with ERROR_INVALID_PARAMETER, and so does the stand-in.)
TEST_F(FileIdentity, TheNullDeviceIsACharacterDevice) {
  HANDLE h = OpenAsTheLog(conformance::NullDevice(), FILE_FLAG_OPEN_REPARSE_POINT);
  ASSERT_NE(INVALID_HANDLE_VALUE, h) << "error " << GetLastError();
  EXPECT_EQ(static_cast<DWORD>(FILE_TYPE_CHAR), GetFileType(h));
  BY_HANDLE_FILE_INFORMATION info = {};
  SetLastError(kSentinelWord);
  EXPECT_FALSE(GetFileInformationByHandle(h, &info));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
  // A device takes no notice of the share mode.
  EXPECT_NE(INVALID_HANDLE_VALUE, OpenAsTheLog(conformance::NullDevice(), 0));
}

}  // namespace
