// What the log asks of a path and of what it opened: the full path (GetFullPathNameA), the long
// form of short names (GetLongPathNameA), the final path of an open handle, links in its
// folders resolved (GetFinalPathNameByHandleA), deletion through a handle
// (SetFileInformationByHandle), folders opened for their attributes, and kernel32.dll's
// functions found by name.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ConformanceSupport.h"
#include "Win32Api.h"

namespace {

using conformance::PathSeparator;

constexpr DWORD kSentinelWord = 0xDEADBEEF;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// As the log opens: no link followed at the end, no pipe server acting as the caller.
constexpr DWORD kLogFlags = FILE_ATTRIBUTE_ARCHIVE | FILE_FLAG_OPEN_REPARSE_POINT |
                            SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;

// Whether two paths are the same but for the case of A to Z.
bool SameLetters(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const char x = a[i] >= 'a' && a[i] <= 'z' ? static_cast<char>(a[i] - 32) : a[i];
    const char y = b[i] >= 'a' && b[i] <= 'z' ? static_cast<char>(b[i] - 32) : b[i];
    if (x != y) return false;
  }
  return true;
}

class FinalPath : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    // The scratch folder by its full path, in the form GetFullPathNameA gives.
    const std::string scratch = conformance::ScratchDir() + "dorvane-final-" +
                                std::to_string(conformance::ProcessId()) + "-" + info->name();
    char full[MAX_PATH + 1];
    ASSERT_NE(0u, GetFullPathNameA(scratch.c_str(), sizeof full, full, nullptr));
    base_ = full;
    Cleanup();
    ASSERT_TRUE(conformance::MakeFolder(base_)) << base_;
    // In long names, as final paths have them (a temporary folder may be named by a short one).
    ASSERT_NE(0u, GetLongPathNameA(base_.c_str(), full, sizeof full));
    base_ = full;
  }
  void TearDown() override {
    open_.CloseAll();
    Cleanup();
  }
  void Cleanup() {
    for (const char* name : {"a.txt", "created.txt", "deleted.txt", "kept.txt"}) {
      DeleteFileA(In(name).c_str());
      DeleteFileA(In("target" + std::string(1, PathSeparator()) + name).c_str());
      DeleteFileA(In("A Long Folder Name" + std::string(1, PathSeparator()) + name).c_str());
    }
    if (linked_) conformance::RemoveFolderLink(In("linked"));
    linked_ = false;
    for (const char* name : {"target", "A Long Folder Name"}) conformance::RemoveFolder(In(name));
    conformance::RemoveFolder(base_);
  }

  std::string In(const std::string& name) const { return base_ + PathSeparator() + name; }

  HANDLE Open(const std::string& path, DWORD access, DWORD disposition, DWORD flags = kLogFlags,
              DWORD share = 0) {
    return open_.Keep(
        CreateFileA(path.c_str(), access, share, nullptr, disposition, flags, nullptr));
  }

  // GetFinalPathNameByHandleA in a buffer of MAX_PATH; empty on failure.
  static std::string FinalPathOf(HANDLE h) {
    char path[MAX_PATH + 1];
    const DWORD n = GetFinalPathNameByHandleA(h, path, sizeof path, 0);
    return n > 0 && n < sizeof path ? std::string(path) : std::string();
  }

  static bool Exists(const std::string& path) {
    HANDLE h = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    CloseHandle(h);
    return true;
  }

  std::string base_;
  bool linked_ = false;
  conformance::OpenHandles open_;
};

TEST_F(FinalPath, OfAFileIsItsFullPathAfterThePrefix) {
  HANDLE h = Open(In("a.txt"), GENERIC_READ | GENERIC_WRITE, CREATE_NEW);
  ASSERT_NE(INVALID_HANDLE_VALUE, h) << GetLastError();
  const std::string expected = "\\\\?\\" + In("a.txt");

  char path[MAX_PATH + 1];
  std::memset(path, 'x', sizeof path);
  const DWORD n = GetFinalPathNameByHandleA(h, path, sizeof path, FILE_NAME_NORMALIZED);
  EXPECT_EQ(expected.size(), n);
  EXPECT_TRUE(SameLetters(expected, path)) << path;

  // Too small: no path, and a size the path does not fit in. Windows documents the size
  // with its terminating zero; Wine 8 answers the length without it.
  char small[4];
  const DWORD needed = GetFinalPathNameByHandleA(h, small, sizeof small, 0);
  EXPECT_GE(needed, expected.size());
  EXPECT_LE(needed, expected.size() + 1);

  // An open for attributes alone names the same file, also while the file is held without
  // sharing; so does a second name's final path after the file was given content.
  HANDLE attributes = Open(In("a.txt"), FILE_READ_ATTRIBUTES, OPEN_EXISTING,
                           kLogFlags | FILE_FLAG_BACKUP_SEMANTICS, kShareAll);
  ASSERT_NE(INVALID_HANDLE_VALUE, attributes) << GetLastError();
  EXPECT_TRUE(SameLetters(expected, FinalPathOf(attributes)));
  EXPECT_EQ(static_cast<DWORD>(FILE_TYPE_DISK), GetFileType(attributes));
  BY_HANDLE_FILE_INFORMATION info = {};
  EXPECT_TRUE(GetFileInformationByHandle(attributes, &info));
  EXPECT_EQ(1u, info.nNumberOfLinks);

  EXPECT_TRUE(open_.Close(attributes));
  EXPECT_TRUE(open_.Close(h));
  SetLastError(kSentinelWord);
  EXPECT_EQ(0u, GetFinalPathNameByHandleA(h, path, sizeof path, 0));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
}

TEST_F(FinalPath, OfAFolderOpenedWithBackupSemanticsIsItsFullPath) {
  ASSERT_TRUE(conformance::MakeFolder(In("target")));
  SetLastError(kSentinelWord);
  EXPECT_EQ(INVALID_HANDLE_VALUE,
            Open(In("target"), FILE_READ_ATTRIBUTES, OPEN_EXISTING, 0, kShareAll));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());

  for (DWORD flags : {DWORD{FILE_FLAG_BACKUP_SEMANTICS}, kLogFlags | FILE_FLAG_BACKUP_SEMANTICS}) {
    HANDLE h = Open(In("target"), FILE_READ_ATTRIBUTES, OPEN_EXISTING, flags, kShareAll);
    ASSERT_NE(INVALID_HANDLE_VALUE, h) << GetLastError();
    EXPECT_EQ(static_cast<DWORD>(FILE_TYPE_DISK), GetFileType(h));
    BY_HANDLE_FILE_INFORMATION info = {};
    ASSERT_TRUE(GetFileInformationByHandle(h, &info)) << GetLastError();
    EXPECT_NE(0u, info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(0u, info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
    EXPECT_TRUE(SameLetters("\\\\?\\" + In("target"), FinalPathOf(h))) << FinalPathOf(h);
    EXPECT_TRUE(open_.Close(h));
  }
}

// A folder on the way that is a link to another folder: what is opened or created through it
// is in the other folder, and its final path says so.
TEST_F(FinalPath, ResolvesALinkedFolderOnTheWay) {
  ASSERT_TRUE(conformance::MakeFolder(In("target")));
  linked_ = conformance::MakeFolderLink(In("linked"), In("target"));
  if (!linked_) {
    ASSERT_FALSE(conformance::IsWine()) << "no Unix symbolic link was made";
    GTEST_SKIP() << "Windows makes no symbolic link here (developer mode is off)";
  }
  const std::string through = In("linked") + PathSeparator() + "created.txt";
  const std::string behind = In("target") + PathSeparator() + "created.txt";
  HANDLE h = Open(through, GENERIC_READ | GENERIC_WRITE | DELETE, CREATE_NEW);
  ASSERT_NE(INVALID_HANDLE_VALUE, h) << GetLastError();
  EXPECT_TRUE(SameLetters("\\\\?\\" + behind, FinalPathOf(h))) << FinalPathOf(h);
  EXPECT_TRUE(Exists(behind));
  EXPECT_TRUE(open_.Close(h));

  HANDLE folder = Open(In("linked"), FILE_READ_ATTRIBUTES, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS, kShareAll);
  ASSERT_NE(INVALID_HANDLE_VALUE, folder) << GetLastError();
  EXPECT_TRUE(SameLetters("\\\\?\\" + In("target"), FinalPathOf(folder))) << FinalPathOf(folder);
}

// The log removes a file it created in the wrong place through the handle it holds: that
// needs the right to delete, and happens when the handle is closed.
TEST_F(FinalPath, AFileMarkedForDeletionGoesWhenItsHandleIsClosed) {
  FILE_DISPOSITION_INFO remove = {TRUE};
  FILE_DISPOSITION_INFO keep = {FALSE};

  HANDLE h = Open(In("deleted.txt"), GENERIC_READ | GENERIC_WRITE | DELETE, CREATE_NEW);
  ASSERT_NE(INVALID_HANDLE_VALUE, h) << GetLastError();
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(h, "abc", 3, &written, nullptr));
  EXPECT_TRUE(SetFileInformationByHandle(h, FileDispositionInfo, &remove, sizeof remove))
      << GetLastError();
  EXPECT_TRUE(open_.Close(h));
  SetLastError(kSentinelWord);
  EXPECT_EQ(INVALID_HANDLE_VALUE, Open(In("deleted.txt"), GENERIC_READ, OPEN_EXISTING));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());

  // Marked, then unmarked: kept.
  h = Open(In("kept.txt"), GENERIC_READ | GENERIC_WRITE | DELETE, CREATE_NEW);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  EXPECT_TRUE(SetFileInformationByHandle(h, FileDispositionInfo, &remove, sizeof remove));
  EXPECT_TRUE(SetFileInformationByHandle(h, FileDispositionInfo, &keep, sizeof keep));
  EXPECT_TRUE(open_.Close(h));
  EXPECT_TRUE(Exists(In("kept.txt")));

  // Without the right to delete: refused, and the file stays.
  h = Open(In("created.txt"), GENERIC_READ | GENERIC_WRITE, CREATE_NEW);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  SetLastError(kSentinelWord);
  EXPECT_FALSE(SetFileInformationByHandle(h, FileDispositionInfo, &remove, sizeof remove));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
  EXPECT_TRUE(open_.Close(h));
  EXPECT_TRUE(Exists(In("created.txt")));
}

// A path with a short name on the way opens the file under its long one: the final path has
// long names, and GetLongPathNameA gives the same.
TEST_F(FinalPath, ShortNamesAreExpandedByGetLongPathName) {
  const std::string longFolder = In("A Long Folder Name");
  ASSERT_TRUE(conformance::MakeFolder(longFolder));
  const std::string shortFolder = conformance::ShortPathOf(longFolder);
  if (shortFolder.empty()) {
    ASSERT_FALSE(conformance::IsWine()) << "Wine gives every long name a short one";
    GTEST_SKIP() << "this volume makes no short names";
  }
  const std::string viaShort = shortFolder + PathSeparator() + "a.txt";
  const std::string longPath = longFolder + PathSeparator() + "a.txt";
  HANDLE h = Open(viaShort, GENERIC_READ | GENERIC_WRITE, CREATE_NEW);
  ASSERT_NE(INVALID_HANDLE_VALUE, h) << GetLastError();
  EXPECT_TRUE(SameLetters("\\\\?\\" + longPath, FinalPathOf(h))) << FinalPathOf(h);

  char expanded[MAX_PATH + 1];
  const DWORD n = GetLongPathNameA(viaShort.c_str(), expanded, sizeof expanded);
  EXPECT_EQ(longPath.size(), n);
  EXPECT_TRUE(SameLetters(longPath, expanded)) << expanded;
  // Too small: the size needed, terminating zero included.
  char small[4];
  EXPECT_EQ(longPath.size() + 1, GetLongPathNameA(viaShort.c_str(), small, sizeof small));
  // A long path stays as it is; a missing file has no long form.
  EXPECT_EQ(longPath.size(), GetLongPathNameA(longPath.c_str(), expanded, sizeof expanded));
  SetLastError(kSentinelWord);
  EXPECT_EQ(0u, GetLongPathNameA(In("missing.txt").c_str(), expanded, sizeof expanded));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
}

TEST_F(FinalPath, FullPathsResolveDotsWithoutLookingAtTheDisk) {
  const std::string sep(1, PathSeparator());
  const std::string dotted = base_ + sep + "x" + sep + ".." + sep + "." + sep + "a.txt";
  char full[MAX_PATH + 1];
  LPSTR part = nullptr;
  const DWORD n = GetFullPathNameA(dotted.c_str(), sizeof full, full, &part);
  EXPECT_EQ(In("a.txt").size(), n);
  EXPECT_EQ(In("a.txt"), full);
  ASSERT_NE(nullptr, part);
  EXPECT_STREQ("a.txt", part);

  // A folder written with its separator keeps it, and has no file part.
  part = full;
  EXPECT_EQ(base_.size() + 1, GetFullPathNameA((base_ + sep).c_str(), sizeof full, full, &part));
  EXPECT_EQ(nullptr, part);
  // Too small: the size needed, terminating zero included.
  char small[4];
  EXPECT_EQ(In("a.txt").size() + 1, GetFullPathNameA(dotted.c_str(), sizeof small, small, &part));
}

// The functions Windows XP lacks are found by name in kernel32.dll.
TEST(KernelFunctions, AreFoundByNameInKernel32) {
  HMODULE kernel32 = LoadLibraryA("kernel32.dll");
  ASSERT_NE(nullptr, kernel32);
  EXPECT_NE(nullptr, GetProcAddress(kernel32, "GetFinalPathNameByHandleA"));
  EXPECT_NE(nullptr, GetProcAddress(kernel32, "SetFileInformationByHandle"));
  SetLastError(kSentinelWord);
  EXPECT_EQ(nullptr, GetProcAddress(kernel32, "getfinalpathnamebyhandlea"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_PROC_NOT_FOUND), GetLastError());
  EXPECT_TRUE(FreeLibrary(kernel32));
}

}  // namespace
