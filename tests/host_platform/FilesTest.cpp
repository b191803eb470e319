// What the conformance tests cannot reach of the stand-in's files: a symbolic link opened as
// itself, which holds no data here; a pipe's server taken to be there; a file marked for
// deletion; the record of opens; a Windows XP kernel32.dll.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

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

// A FIFO stands for a named pipe whose server is there: opened for writing alone it neither
// waits for a reader nor fails, and the log's checks see a pipe, which has no final path.
TEST(HostFiles, APipeOpensAtOnceAndIsAPipe) {
  host::Reset();
  const std::string fifo = "/tmp/dorvane-host-fifo-" + std::to_string(getpid());
  ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
  for (DWORD access :
       {DWORD{GENERIC_WRITE}, DWORD{GENERIC_READ | GENERIC_WRITE}, DWORD{FILE_READ_ATTRIBUTES}}) {
    SCOPED_TRACE(access);
    HANDLE h = CreateFileA(fifo.c_str(), access, 0, nullptr, OPEN_EXISTING,
                           SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h) << GetLastError();
    EXPECT_EQ(static_cast<DWORD>(FILE_TYPE_PIPE), GetFileType(h));
    char path[64];
    SetLastError(0);
    EXPECT_EQ(0u, GetFinalPathNameByHandleA(h, path, sizeof path, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_FUNCTION), GetLastError());
    EXPECT_TRUE(CloseHandle(h));
  }
  std::remove(fifo.c_str());
}

// Until its last handle is closed a marked file stays, and opens for no one else.
TEST(HostFiles, AFileMarkedForDeletionOpensForNoOneElse) {
  host::Reset();
  const std::string path = "/tmp/dorvane-host-marked-" + std::to_string(getpid());
  std::remove(path.c_str());
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ,
                         nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  HANDLE second =
      CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, second);
  FILE_DISPOSITION_INFO remove = {TRUE};
  ASSERT_TRUE(SetFileInformationByHandle(h, FileDispositionInfo, &remove, sizeof remove));
  SetLastError(0);
  EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                              OPEN_EXISTING, 0, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_EQ(0, access(path.c_str(), F_OK)) << "gone while a handle still held it";
  EXPECT_TRUE(CloseHandle(second));
  EXPECT_NE(0, access(path.c_str(), F_OK)) << "kept after the last handle";
}

TEST(HostFiles, OpensAreRecordedWithTheirArguments) {
  host::Reset();
  const std::string path = "/tmp/dorvane-host-record-" + std::to_string(getpid());
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_ARCHIVE | SECURITY_SQOS_PRESENT, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  CloseHandle(h);
  host::FailCall(host::gated::CreateFileA, 1, ERROR_GEN_FAILURE);
  CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  const std::vector<host::FileOpen> opens = host::FileOpens();
  ASSERT_EQ(1u, opens.size()) << "an open that an injected failure stopped is not recorded";
  EXPECT_EQ(path, opens[0].path);
  EXPECT_EQ(DWORD{GENERIC_WRITE}, opens[0].access);
  EXPECT_EQ(DWORD{FILE_SHARE_READ}, opens[0].share);
  EXPECT_EQ(DWORD{CREATE_ALWAYS}, opens[0].disposition);
  EXPECT_EQ(DWORD{FILE_ATTRIBUTE_ARCHIVE | SECURITY_SQOS_PRESENT}, opens[0].flags);
  host::ClearCalls();
  EXPECT_TRUE(host::FileOpens().empty());
  std::remove(path.c_str());
}

// Windows XP's kernel32.dll loads, but has neither function of Windows Vista the log looks up.
TEST(HostFiles, AWindowsXpKernelHasNoFinalPathFunctions) {
  host::Reset();
  host::SetKernel32(host::Kernel32::kWindowsXp);
  HMODULE kernel32 = LoadLibraryA("KERNEL32");
  ASSERT_NE(nullptr, kernel32);
  for (const char* name : {"GetFinalPathNameByHandleA", "SetFileInformationByHandle"}) {
    SetLastError(0);
    EXPECT_EQ(nullptr, GetProcAddress(kernel32, name)) << name;
    EXPECT_EQ(static_cast<DWORD>(ERROR_PROC_NOT_FOUND), GetLastError());
  }
  EXPECT_EQ(1u, host::LoadedLibraryCount());
  EXPECT_TRUE(FreeLibrary(kernel32));
  EXPECT_EQ(0u, host::LoadedLibraryCount());
  host::Reset();
  kernel32 = LoadLibraryA("kernel32.dll");
  EXPECT_NE(nullptr, GetProcAddress(kernel32, "GetFinalPathNameByHandleA")) << "after Reset";
  FreeLibrary(kernel32);
}

}  // namespace
