// What the conformance tests cannot reach of the stand-in's files: a symbolic link opened as
// itself, which holds no data here.
#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "HostControl.h"
#include "Win32Api.h"

namespace {

TEST(HostFiles, ALinkOpenedAsItselfHoldsNoDataAndLeadsNowhere) {
  host::Reset();
  const std::string base = "/tmp/dorvane-host-files-" + std::to_string(getpid());
  const std::string target = base + ".target";
  const std::string link = base + ".link";
  std::ofstream(target, std::ios::binary) << "abc";
  ASSERT_EQ(0, symlink(target.c_str(), link.c_str()));

  HANDLE h = CreateFileA(link.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                         FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  const struct {
    const char* what;
    std::function<bool()> fails;
  } calls[] = {
      {"GetFileSize", [h] { return GetFileSize(h, nullptr) == INVALID_FILE_SIZE; }},
      {"SetFilePointer",
       [h] { return SetFilePointer(h, 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER; }},
      {"ReadFile",
       [h] {
         char byte;
         DWORD got = 0;
         return !ReadFile(h, &byte, 1, &got, nullptr);
       }},
      {"WriteFile",
       [h] {
         DWORD written = 0;
         return !WriteFile(h, "x", 1, &written, nullptr);
       }},
      {"SetEndOfFile", [h] { return !SetEndOfFile(h); }},
  };
  for (const auto& call : calls) {
    SetLastError(0);
    EXPECT_TRUE(call.fails()) << call.what;
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_FUNCTION), GetLastError()) << call.what;
  }
  // A link is never made anew.
  EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileA(link.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                              FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_EXISTS), GetLastError());
  EXPECT_TRUE(CloseHandle(h));

  std::ostringstream content;
  content << std::ifstream(target, std::ios::binary).rdbuf();
  EXPECT_EQ("abc", content.str());
  std::remove(link.c_str());
  std::remove(target.c_str());
}

}  // namespace
