// The file behaviour the log relies on: creation, dispositions, exclusive opening (also
// against a second process), appending at the end and positions beyond 4 GiB.
#include <gtest/gtest.h>

#include <string>

#include "ConformanceSupport.h"
#include "Win32Api.h"

namespace {

using conformance::PathSeparator;

constexpr DWORD kSentinelWord = 0xDEADBEEF;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE;

class FileConformance : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    path_ = conformance::ScratchDir() + "dorvane-conformance-" +
            std::to_string(conformance::ProcessId()) + "-" + info->name() + ".txt";
    DeleteFileA(path_.c_str());
  }
  void TearDown() override {
    open_.CloseAll();
    DeleteFileA(path_.c_str());
  }

  // Opens path_ and keeps the handle for TearDown; the last error is kept for the test.
  HANDLE Open(DWORD access, DWORD share, DWORD disposition, DWORD* error = nullptr) {
    SetLastError(kSentinelWord);
    HANDLE h = CreateFileA(path_.c_str(), access, share, nullptr, disposition,
                           FILE_ATTRIBUTE_ARCHIVE, nullptr);
    if (error != nullptr) *error = GetLastError();
    return open_.Keep(h);
  }

  void Close(HANDLE h) { EXPECT_TRUE(open_.Close(h)); }

  void Write(HANDLE h, const std::string& text) {
    DWORD written = kSentinelWord;
    ASSERT_TRUE(WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr));
    EXPECT_EQ(text.size(), written);
  }

  // The whole content, through a fresh shared handle.
  std::string Content() {
    HANDLE h = CreateFileA(path_.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, h) << "error " << GetLastError();
    if (h == INVALID_HANDLE_VALUE) return "<unreadable>";
    const std::string text = conformance::ReadToEnd(h);
    CloseHandle(h);
    return text;
  }

  std::string path_;
  conformance::OpenHandles open_;
};

TEST_F(FileConformance, OpenAlwaysCreatesAFileAndThenKeepsItsContent) {
  DWORD error = 0;
  HANDLE h = Open(GENERIC_WRITE, 0, OPEN_ALWAYS, &error);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), error);
  EXPECT_EQ(0u, GetFileSize(h, nullptr));
  Write(h, "abc");
  Close(h);

  h = Open(GENERIC_WRITE, 0, OPEN_ALWAYS, &error);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), error);
  EXPECT_EQ(3u, GetFileSize(h, nullptr));
  Close(h);
  EXPECT_EQ("abc", Content());
}

TEST_F(FileConformance, DispositionsAnswerWithTheirErrors) {
  struct Case {
    const char* what;
    bool exists;
    DWORD disposition;
    bool opens;
    DWORD error;        // last error after the call
    const char* after;  // content afterwards, or null when the file must not exist
  };
  const Case cases[] = {
      {"create new, missing", false, CREATE_NEW, true, ERROR_SUCCESS, ""},
      {"create new, existing", true, CREATE_NEW, false, ERROR_FILE_EXISTS, "old"},
      {"create always, missing", false, CREATE_ALWAYS, true, ERROR_SUCCESS, ""},
      {"create always, existing", true, CREATE_ALWAYS, true, ERROR_ALREADY_EXISTS, ""},
      {"open existing, missing", false, OPEN_EXISTING, false, ERROR_FILE_NOT_FOUND, nullptr},
      {"open existing, existing", true, OPEN_EXISTING, true, ERROR_SUCCESS, "old"},
      {"open always, missing", false, OPEN_ALWAYS, true, ERROR_SUCCESS, ""},
      {"truncate existing, missing", false, TRUNCATE_EXISTING, false, ERROR_FILE_NOT_FOUND,
       nullptr},
      {"truncate existing, existing", true, TRUNCATE_EXISTING, true, ERROR_SUCCESS, ""},
      {"no such disposition", true, 0, false, ERROR_INVALID_PARAMETER, "old"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DeleteFileA(path_.c_str());
    if (c.exists) {
      HANDLE h = Open(GENERIC_WRITE, 0, CREATE_NEW);
      ASSERT_NE(INVALID_HANDLE_VALUE, h);
      Write(h, "old");
      Close(h);
    }
    DWORD error = 0;
    HANDLE h = Open(GENERIC_READ | GENERIC_WRITE, 0, c.disposition, &error);
    EXPECT_EQ(c.opens, h != INVALID_HANDLE_VALUE);
    EXPECT_EQ(c.error, error);
    if (h != INVALID_HANDLE_VALUE) Close(h);
    if (c.after != nullptr) {
      EXPECT_EQ(c.after, Content());
    } else {
      EXPECT_EQ(INVALID_HANDLE_VALUE, Open(GENERIC_READ, kShareAll, OPEN_EXISTING));
    }
  }
}

TEST_F(FileConformance, PathsThatNameNoFileAreRefused) {
  const std::string missingDir =
      conformance::ScratchDir() + "dorvane-no-such-dir" + PathSeparator() + "file.txt";
  for (DWORD disposition : {CREATE_NEW, CREATE_ALWAYS, OPEN_EXISTING, OPEN_ALWAYS}) {
    SetLastError(kSentinelWord);
    EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileA(missingDir.c_str(), GENERIC_WRITE, 0, nullptr,
                                                disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), GetLastError()) << disposition;
  }
  SetLastError(kSentinelWord);
  EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileA("", GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                              FILE_ATTRIBUTE_NORMAL, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), GetLastError());
  // A directory cannot be opened as a file.
  SetLastError(kSentinelWord);
  EXPECT_EQ(INVALID_HANDLE_VALUE,
            CreateFileA(conformance::ScratchDir().c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());

  SetLastError(kSentinelWord);
  EXPECT_FALSE(DeleteFileA(path_.c_str()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
  SetLastError(kSentinelWord);
  EXPECT_FALSE(DeleteFileA(missingDir.c_str()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), GetLastError());
}

TEST_F(FileConformance, ShareModeZeroShutsOutEveryOtherOpenInTheProcess) {
  HANDLE holder = Open(GENERIC_WRITE, 0, OPEN_ALWAYS);
  ASSERT_NE(INVALID_HANDLE_VALUE, holder);
  struct Attempt {
    DWORD access, share, disposition;
  };
  const Attempt attempts[] = {
      {GENERIC_WRITE, 0, OPEN_ALWAYS},
      {GENERIC_READ, kShareAll, OPEN_EXISTING},
      {GENERIC_READ | GENERIC_WRITE, kShareAll | FILE_SHARE_DELETE, OPEN_EXISTING},
      {GENERIC_WRITE, kShareAll, CREATE_ALWAYS},
  };
  for (const Attempt& a : attempts) {
    DWORD error = 0;
    EXPECT_EQ(INVALID_HANDLE_VALUE, Open(a.access, a.share, a.disposition, &error));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), error)
        << "access " << std::hex << a.access << " share " << a.share;
  }
  SetLastError(kSentinelWord);
  EXPECT_FALSE(DeleteFileA(path_.c_str()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
  Write(holder, "kept");
  Close(holder);

  // Released by the close; the refused CREATE_ALWAYS truncated nothing.
  HANDLE again = Open(GENERIC_WRITE, 0, OPEN_ALWAYS);
  EXPECT_NE(INVALID_HANDLE_VALUE, again);
  EXPECT_EQ(4u, GetFileSize(again, nullptr));
}

TEST_F(FileConformance, SharedOpensCoexistAndKeepOutAnExclusiveOne) {
  HANDLE first = Open(GENERIC_READ, kShareAll, OPEN_ALWAYS);
  HANDLE second = Open(GENERIC_READ, kShareAll, OPEN_EXISTING);
  EXPECT_NE(INVALID_HANDLE_VALUE, first);
  EXPECT_NE(INVALID_HANDLE_VALUE, second);
  DWORD error = 0;
  EXPECT_EQ(INVALID_HANDLE_VALUE, Open(GENERIC_WRITE, 0, OPEN_EXISTING, &error));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), error);
}

TEST_F(FileConformance, ShareModeZeroShutsOutASecondProcess) {
  conformance::Holder holder;
  ASSERT_TRUE(holder.Start(path_)) << "cannot start conformance_holder";
  ASSERT_EQ("holding", holder.ReadLine());

  DWORD error = 0;
  EXPECT_EQ(INVALID_HANDLE_VALUE, Open(GENERIC_WRITE, 0, OPEN_ALWAYS, &error));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), error);
  EXPECT_EQ(INVALID_HANDLE_VALUE, Open(GENERIC_READ, kShareAll, OPEN_EXISTING, &error));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), error);

  EXPECT_EQ(0, holder.Finish());
  EXPECT_NE(INVALID_HANDLE_VALUE, Open(GENERIC_WRITE, 0, OPEN_ALWAYS));

  // And the other way round: the helper is shut out while this process holds the file.
  conformance::Holder refused;
  ASSERT_TRUE(refused.Start(path_));
  EXPECT_EQ("failed 32", refused.ReadLine());
  EXPECT_EQ(1, refused.Finish());
}

TEST_F(FileConformance, WritesAppendAfterPositioningAtTheSize) {
  HANDLE h = Open(GENERIC_WRITE, 0, CREATE_NEW);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  Write(h, "first\r\n");
  Close(h);

  // What the log does on opening: size, position there, write, end the file there.
  h = Open(GENERIC_WRITE, 0, OPEN_ALWAYS);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  DWORD high = kSentinelWord;
  DWORD size = GetFileSize(h, &high);
  EXPECT_EQ(7u, size);
  EXPECT_EQ(0u, high);
  EXPECT_EQ(7u, SetFilePointer(h, static_cast<LONG>(size), nullptr, FILE_BEGIN));
  Write(h, "second\r\n");
  EXPECT_EQ(15u, SetFilePointer(h, 0, nullptr, FILE_CURRENT));
  EXPECT_TRUE(SetEndOfFile(h));
  Close(h);
  EXPECT_EQ("first\r\nsecond\r\n", Content());

  // SetEndOfFile cuts at the position; FILE_END counts from the end.
  h = Open(GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING);
  EXPECT_EQ(13u, SetFilePointer(h, -2, nullptr, FILE_END));
  EXPECT_EQ(5u, SetFilePointer(h, -8, nullptr, FILE_CURRENT));
  EXPECT_TRUE(SetEndOfFile(h));
  EXPECT_EQ(5u, GetFileSize(h, nullptr));
  EXPECT_EQ(0u, SetFilePointer(h, 0, nullptr, FILE_BEGIN));
  char buffer[16] = {};
  DWORD got = kSentinelWord;
  EXPECT_TRUE(ReadFile(h, buffer, sizeof buffer, &got, nullptr));
  EXPECT_EQ(5u, got);
  EXPECT_EQ("first", std::string(buffer, got));
  got = kSentinelWord;
  EXPECT_TRUE(ReadFile(h, buffer, sizeof buffer, &got, nullptr));  // end of file
  EXPECT_EQ(0u, got);
}

// What the log does on opening a file that has content: read its last byte, then append.
TEST_F(FileConformance, ReadingTheLastByteLeavesThePositionAtTheEnd) {
  HANDLE h = Open(GENERIC_WRITE, 0, CREATE_NEW);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  Write(h, "old\r\nINFO: Se");
  Close(h);

  h = Open(GENERIC_READ | GENERIC_WRITE, 0, OPEN_ALWAYS);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  const DWORD size = GetFileSize(h, nullptr);
  ASSERT_EQ(13u, size);
  LONG high = 0;
  EXPECT_EQ(12u, SetFilePointer(h, static_cast<LONG>(size - 1), &high, FILE_BEGIN));
  char byte = 0;
  DWORD got = kSentinelWord;
  EXPECT_TRUE(ReadFile(h, &byte, 1, &got, nullptr));
  EXPECT_EQ(1u, got);
  EXPECT_EQ('e', byte);
  EXPECT_EQ(13u, SetFilePointer(h, 0, nullptr, FILE_CURRENT));
  Write(h, "\r\nnext\r\n");
  // The read-write handle shuts others out as the write-only one does.
  DWORD error = 0;
  HANDLE second = Open(GENERIC_WRITE, 0, OPEN_ALWAYS, &error);
  EXPECT_EQ(INVALID_HANDLE_VALUE, second);
  EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), error);
  Close(h);
  EXPECT_EQ("old\r\nINFO: Se\r\nnext\r\n", Content());
}

TEST_F(FileConformance, FilePointerTakesAHighPartAndRefusesNegativePositions) {
  HANDLE h = Open(GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  LONG high = 1;
  SetLastError(kSentinelWord);
  EXPECT_EQ(16u, SetFilePointer(h, 16, &high, FILE_BEGIN));  // 4 GiB + 16
  EXPECT_EQ(1, high);
  high = 0;
  EXPECT_EQ(16u, SetFilePointer(h, 0, &high, FILE_CURRENT));
  EXPECT_EQ(1, high);

  // A position before the start fails and moves nothing.
  SetLastError(kSentinelWord);
  EXPECT_EQ(INVALID_SET_FILE_POINTER, SetFilePointer(h, -1, nullptr, FILE_BEGIN));
  EXPECT_EQ(static_cast<DWORD>(ERROR_NEGATIVE_SEEK), GetLastError());
  high = -1;
  EXPECT_EQ(INVALID_SET_FILE_POINTER, SetFilePointer(h, 0, &high, FILE_BEGIN));
  EXPECT_EQ(static_cast<DWORD>(ERROR_NEGATIVE_SEEK), GetLastError());
  high = 0;
  EXPECT_EQ(16u, SetFilePointer(h, 0, &high, FILE_CURRENT));
  EXPECT_EQ(1, high);

  // 0xFFFFFFFF is a position too: told apart from failure by a cleared last error.
  high = 0;
  SetLastError(kSentinelWord);
  EXPECT_EQ(INVALID_SET_FILE_POINTER, SetFilePointer(h, -1, &high, FILE_BEGIN));
  EXPECT_EQ(static_cast<DWORD>(NO_ERROR), GetLastError());
  EXPECT_EQ(0, high);
}

TEST_F(FileConformance, SizesOf4GiBAndMoreComeWithTheirHighPart) {
  HANDLE h = Open(GENERIC_WRITE, 0, CREATE_NEW);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  LONG high = 1;
  SetFilePointer(h, 3, &high, FILE_BEGIN);
  ASSERT_TRUE(SetEndOfFile(h));  // sparse where the file system allows
  DWORD sizeHigh = kSentinelWord;
  EXPECT_EQ(3u, GetFileSize(h, &sizeHigh));
  EXPECT_EQ(1u, sizeHigh);
  // Without a place for the high part the low part is still answered.
  EXPECT_EQ(3u, GetFileSize(h, nullptr));
  high = 0;
  EXPECT_EQ(0u, SetFilePointer(h, 0, &high, FILE_BEGIN));
  EXPECT_TRUE(SetEndOfFile(h));
  EXPECT_EQ(0u, GetFileSize(h, &sizeHigh));
  EXPECT_EQ(0u, sizeHigh);
}

TEST_F(FileConformance, HandlesDoOnlyWhatTheyWereOpenedFor) {
  HANDLE h = Open(GENERIC_WRITE, 0, CREATE_NEW);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  char buffer[4];
  DWORD got = kSentinelWord;
  SetLastError(kSentinelWord);
  EXPECT_FALSE(ReadFile(h, buffer, sizeof buffer, &got, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
  EXPECT_EQ(0u, got);
  Close(h);

  h = Open(GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  DWORD written = kSentinelWord;
  SetLastError(kSentinelWord);
  EXPECT_FALSE(WriteFile(h, "x", 1, &written, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
  EXPECT_EQ(0u, written);
  Close(h);

  SetLastError(kSentinelWord);
  EXPECT_FALSE(CloseHandle(h));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
  SetLastError(kSentinelWord);
  EXPECT_EQ(INVALID_FILE_SIZE, GetFileSize(h, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
}

}  // namespace
