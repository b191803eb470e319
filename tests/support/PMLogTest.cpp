#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "HostFixture.h"
#include "PMLog.h"
#include "PMLogPath.h"
#include "SweepEveryCall.h"

namespace {

// Exposes whether a file is held.
class LogProbe : public PMLog {
 public:
  bool HasFile() const { return file != INVALID_HANDLE_VALUE; }
};

class PMLogTest : public HostFixture {
 protected:
  void SetUp() override {
    HostFixture::SetUp();
    std::string pattern = ::testing::TempDir() + "pmlog_XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    // By its final path: a log is written only where its path leads straight.
    dir_ = std::filesystem::canonical(pattern).string();
  }
  void TearDown() override {
    host::Reset();  // closes any handle a test left open
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  std::string PathOf(const std::string& name) const { return dir_ + "/" + name; }

  static bool Exists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
  }
  static std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
  }
  static void WriteContents(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }

  std::string dir_;
};

TEST_F(PMLogTest, WritesLinesBelowTheThresholdOnly) {
  // The update pass writes errors at 0, successes at 5 and announcements at 10.
  const std::string error = "ERROR: e\r\n";
  const std::string success = "INFO: s\r\n";
  const std::string announcement = "INFO: a\r\n";
  const struct {
    DWORD threshold;
    std::string expected;
  } cases[] = {
      {0, ""},
      {1, error},
      {5, error},
      {6, error + success},
      {10, error + success},
      {11, error + success + announcement},
      {0xFFFFFFFF, error + success + announcement},
  };
  for (const auto& c : cases) {
    const std::string path = PathOf("level" + std::to_string(c.threshold) + ".log");
    PMLog log;
    log.Open(path, c.threshold);
    log.WriteError("e", 0);
    log.WriteInfo("s", 5);
    log.WriteInfo("a", 10);
    log.Close();
    EXPECT_EQ(Contents(path), c.expected) << "threshold " << c.threshold;
  }
}

TEST_F(PMLogTest, LevelEqualToThresholdIsDropped) {
  const std::string path = PathOf("equal.log");
  PMLog log;
  log.Open(path, 1);
  log.WriteError("kept", 0);
  log.WriteInfo("dropped", 1);
  log.WriteError("dropped", 1);
  log.WriteError("dropped", 0xFFFFFFFF);
  log.Close();
  EXPECT_EQ(Contents(path), "ERROR: kept\r\n");
}

TEST_F(PMLogTest, LinesAreWrittenByteForByte) {
  const std::string path = PathOf("bytes.log");
  PMLog log;
  log.Open(path, 100);
  log.WriteInfo("", 0);
  log.WriteError("", 0);
  log.WriteInfo("two\r\nlines", 0);
  log.WriteError(std::string("zero\0byte", 9), 0);
  log.WriteInfo("Commiting of Power Scheme() Succeded", 5);
  log.Close();
  const std::string expected = std::string("INFO: \r\n") + "ERROR: \r\n" +
                               "INFO: two\r\nlines\r\n" + "ERROR: " + std::string("zero\0byte", 9) +
                               "\r\n" + "INFO: Commiting of Power Scheme() Succeded\r\n";
  EXPECT_EQ(Contents(path), expected);
}

// New lines follow the old ones; a file that ends inside a line (torn by a full disk, say)
// gets its line ended first, so no line is glued to another.
TEST_F(PMLogTest, AppendsAfterExistingContentOnALineOfItsOwn) {
  const std::string lines = "INFO: first\r\nINFO: second\r\n";
  const struct {
    const char* old;
    std::string expected;
  } cases[] = {
      {"", lines},
      {"old\r\n", "old\r\n" + lines},
      {"old\n", "old\n" + lines},
      {"old line without end", "old line without end\r\n" + lines},
      {"INFO: Se", "INFO: Se\r\n" + lines},
      {"old\r", "old\r\r\n" + lines},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.old);
    const std::string path = PathOf("append.log");
    WriteContents(path, c.old);
    for (const char* text : {"first", "second"}) {
      PMLog log;
      log.Open(path, 11);
      log.WriteInfo("dropped by the threshold", 11);  // the line end waits for a line
      log.WriteInfo(text, 5);
      log.Close();
    }
    EXPECT_EQ(Contents(path), c.expected);
  }
}

// After a torn last line, only the first line of the open starts with a line end of its own;
// the lines after it in the same open follow on as usual.
TEST_F(PMLogTest, AfterATornLineOnlyTheFirstLineOfTheOpenEndsIt) {
  for (const char* torn : {"INFO: Se", "old\r"}) {
    SCOPED_TRACE(torn);
    const std::string path = PathOf("torn.log");
    WriteContents(path, torn);
    PMLog log;
    log.Open(path, 11);
    log.WriteInfo("first", 5);
    log.WriteError("second", 0);
    log.WriteInfo("third", 5);
    log.Close();
    EXPECT_EQ(Contents(path),
              std::string(torn) + "\r\nINFO: first\r\nERROR: second\r\nINFO: third\r\n");
  }
}

// A log whose lines all fall at or above its threshold makes no file call at all: a missing
// file is not created, an existing one keeps its bytes and its time of last change, and another
// process may hold it meanwhile.
TEST_F(PMLogTest, ALogWithNoLineDueTouchesNoFile) {
  const struct {
    const char* name;
    DWORD threshold;
    bool exists;
  } cases[] = {
      {"threshold 0, missing file", 0, false},
      {"threshold 0, existing file", 0, true},
      {"threshold 5, missing file", 5, false},
      {"threshold 5, existing file", 5, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = PathOf("silent.log");
    std::filesystem::remove(path);
    if (c.exists) WriteContents(path, "INFO: Se");
    if (c.exists) {
      // A time of last change that opening for writing would have to leave as it is.
      const timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
      ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), old, 0), 0);
    }
    host::ClearCalls();
    LogProbe log;
    log.Open(path, c.threshold);
    log.WriteInfo("announcement", 10);
    log.WriteInfo("success", 5);
    if (c.threshold == 0) log.WriteError("never", 0);
    EXPECT_FALSE(log.HasFile());
    log.Close();
    EXPECT_EQ(host::Calls(), std::vector<std::string>{});
    EXPECT_EQ(Exists(path), c.exists);
    if (c.exists) {
      EXPECT_EQ(Contents(path), "INFO: Se");
      struct stat after = {};
      ASSERT_EQ(stat(path.c_str(), &after), 0);
      EXPECT_EQ(after.st_mtime, 1000000000);
    }
  }
}

// The first line due opens the file, with every check of the path; the open then holds it
// until Close, and a second Open starts afresh.
TEST_F(PMLogTest, TheFirstLineDueOpensTheFile) {
  const std::string path = PathOf("first.log");
  LogProbe log;
  log.Open(path, 6);
  log.WriteInfo("not due", 10);
  EXPECT_FALSE(log.HasFile());
  EXPECT_FALSE(Exists(path));
  log.WriteInfo("due", 5);
  EXPECT_TRUE(log.HasFile());
  log.WriteError("also due", 0);
  EXPECT_EQ(host::CallCount(host::gated::CreateFileA), 2u);  // looked for, then created
  log.Close();
  EXPECT_FALSE(log.HasFile());
  EXPECT_EQ(Contents(path), "INFO: due\r\nERROR: also due\r\n");

  // A log closed before its first line forgets the file it was to open.
  host::ClearCalls();
  log.Open(PathOf("never.log"), 11);
  log.Close();
  log.WriteError("after the close", 0);
  EXPECT_FALSE(Exists(PathOf("never.log")));
  EXPECT_EQ(host::Calls(), std::vector<std::string>{});
}

TEST_F(PMLogTest, LogNeverOpenedTouchesNothing) {
  PMLog log;
  log.WriteError("x", 0);
  log.WriteInfo("x", 0);
  log.Close();
  log.Close();
  EXPECT_EQ(host::Calls(), std::vector<std::string>{});
}

TEST_F(PMLogTest, OpenUsesThePlatformCallsInOrderAndRestoresTheErrorMode) {
  const std::string path = PathOf("calls.log");
  SetErrorMode(SEM_NOGPFAULTERRORBOX);
  host::ClearCalls();
  PMLog log;
  log.Open(path, 11);
  log.WriteInfo("x", 0);
  log.Close();
  // A missing file: looked for, then created. What was opened is looked at before anything
  // else touches it: its type, its attributes and names, then its final path.
  EXPECT_EQ(host::Calls(),
            (std::vector<std::string>{"SetErrorMode", "ExpandEnvironmentStringsA", "LoadLibraryA",
                                      "GetProcAddress", "GetProcAddress", "GetFullPathNameA",
                                      "CreateFileA", "CreateFileA", "GetFileType",
                                      "GetFileInformationByHandle", "GetFinalPathNameByHandleA",
                                      "GetFileSize", "SetFilePointer", "FreeLibrary",
                                      "SetErrorMode", "WriteFile", "SetEndOfFile", "CloseHandle"}));
  EXPECT_EQ(SetErrorMode(0), UINT{SEM_NOGPFAULTERRORBOX});
  // Only the open that creates the file may delete it; no open lets a pipe's server act as
  // the caller, and none follows a link at the end of the path.
  constexpr DWORD kFlags = FILE_ATTRIBUTE_ARCHIVE | FILE_FLAG_OPEN_REPARSE_POINT |
                           SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;
  const std::vector<host::FileOpen> opens = host::FileOpens();
  ASSERT_EQ(opens.size(), 2u);
  EXPECT_EQ(opens[0].path, path);
  EXPECT_EQ(opens[0].access, GENERIC_READ | GENERIC_WRITE);
  EXPECT_EQ(opens[0].disposition, DWORD{OPEN_EXISTING});
  EXPECT_EQ(opens[1].access, GENERIC_READ | GENERIC_WRITE | DELETE);
  EXPECT_EQ(opens[1].disposition, DWORD{CREATE_NEW});
  for (const host::FileOpen& open : opens) {
    EXPECT_EQ(open.share, 0u);
    EXPECT_EQ(open.flags, kFlags);
  }

  // A file with content: its last byte is read before the position goes to the end.
  host::ClearCalls();
  log.Open(path, 11);
  log.WriteInfo("y", 0);
  log.Close();
  EXPECT_EQ(host::Calls(),
            (std::vector<std::string>{"SetErrorMode", "ExpandEnvironmentStringsA", "LoadLibraryA",
                                      "GetProcAddress", "GetProcAddress", "GetFullPathNameA",
                                      "CreateFileA", "GetFileType", "GetFileInformationByHandle",
                                      "GetFinalPathNameByHandleA", "GetFileSize", "SetFilePointer",
                                      "ReadFile", "SetFilePointer", "FreeLibrary", "SetErrorMode",
                                      "WriteFile", "SetEndOfFile", "CloseHandle"}));
  EXPECT_EQ(host::FileOpens().size(), 1u);
  EXPECT_EQ(host::DebugOutput(), std::vector<std::string>{});
  EXPECT_EQ(host::LoadedLibraryCount(), 0u);
}

TEST_F(PMLogTest, ExpandsEnvironmentReferencesInThePath) {
  ASSERT_EQ(setenv("PMLOG_TEST_DIR", dir_.c_str(), 1), 0);
  PMLog log;
  log.Open("%PMLOG_TEST_DIR%/expanded.log", 11);
  log.WriteInfo("here", 0);
  log.Close();
  unsetenv("PMLOG_TEST_DIR");
  EXPECT_EQ(Contents(PathOf("expanded.log")), "INFO: here\r\n");
}

TEST_F(PMLogTest, ExpandedPathLongerThanTheBufferOpensNothing) {
  // An existing directory whose path is 230 characters long; file names make up the rest.
  ASSERT_LT(dir_.size(), 228u);
  const std::string sub = dir_ + "/" + std::string(230 - dir_.size() - 1, 'd');
  ASSERT_EQ(sub.size(), 230u);
  ASSERT_EQ(mkdir(sub.c_str(), 0700), 0);
  ASSERT_EQ(setenv("PMLOG_LONG_DIR", sub.c_str(), 1), 0);

  const struct {
    size_t length;  // of the expanded path, without its terminating zero
    bool opens;
  } cases[] = {{260, true}, {261, false}, {400, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.length);
    const std::string name = std::string(c.length - sub.size() - 1 - 4, 'f') + ".log";
    ASSERT_EQ((sub + "/" + name).size(), c.length);
    host::ClearCalls();
    LogProbe log;
    log.Open("%PMLOG_LONG_DIR%/" + name, 11);
    log.WriteInfo("x", 0);
    EXPECT_EQ(log.HasFile(), c.opens);
    // Looked for, then created; or not opened at all, and told.
    EXPECT_EQ(host::CallCount(host::gated::CreateFileA), c.opens ? 2u : 0u);
    EXPECT_EQ(host::CallCount(host::gated::SetErrorMode), 2u);
    const std::vector<std::string> told = {std::string(kRefusalDebugPrefix) +
                                           "too-long: %PMLOG_LONG_DIR%/" + name};
    EXPECT_EQ(host::DebugOutput(), c.opens ? std::vector<std::string>{} : told);
    host::ClearDebugOutput();
    log.Close();
    if (c.opens) {
      EXPECT_EQ(Contents(sub + "/" + name), "INFO: x\r\n");
    }
  }
  unsetenv("PMLOG_LONG_DIR");
  // Nothing was opened under a truncated name.
  size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(sub)) {
    EXPECT_EQ(entry.path().filename().string().size(), 260 - sub.size() - 1);
    ++files;
  }
  EXPECT_EQ(files, 1u);
}

TEST_F(PMLogTest, PathThatCannotBeOpenedDropsEveryLine) {
  for (const std::string& path : {std::string(), PathOf("missing/dir/x.log")}) {
    LogProbe log;
    log.Open(path, 11);
    log.WriteError("x", 0);
    EXPECT_FALSE(log.HasFile()) << path;
    log.Close();
  }
  EXPECT_EQ(host::CallCount(host::gated::WriteFile), 0u);
  EXPECT_EQ(host::CallCount(host::gated::SetEndOfFile), 0u);
}

TEST_F(PMLogTest, SecondOpenClosesTheFirstFile) {
  const std::string first = PathOf("first.log");
  const std::string second = PathOf("second.log");
  PMLog log;
  log.Open(first, 11);
  log.WriteInfo("one", 0);
  log.Open(second, 11);
  log.WriteInfo("two", 0);

  // The first file is free again: another log can take it.
  LogProbe other;
  other.Open(first, 11);
  other.WriteInfo("other", 0);
  EXPECT_TRUE(other.HasFile());
  other.Close();
  log.Close();

  EXPECT_EQ(Contents(first), "INFO: one\r\nINFO: other\r\n");
  EXPECT_EQ(Contents(second), "INFO: two\r\n");
}

TEST_F(PMLogTest, SecondLogInTheSameProcessGetsNoFile) {
  const std::string path = PathOf("shared.log");
  PMLog holder;
  holder.Open(path, 11);
  holder.WriteInfo("kept", 0);
  LogProbe second;
  second.Open(path, 11);
  second.WriteError("lost", 0);
  EXPECT_FALSE(second.HasFile());
  holder.Close();

  second.Open(path, 11);
  second.WriteInfo("later", 0);
  EXPECT_TRUE(second.HasFile());
  second.Close();
  EXPECT_EQ(Contents(path), "INFO: kept\r\nINFO: later\r\n");
}

// Waits up to ten seconds for one byte on fd.
bool ReadByte(int fd) {
  pollfd ready = {fd, POLLIN, 0};
  char byte;
  return poll(&ready, 1, 10000) == 1 && read(fd, &byte, 1) == 1;
}

TEST_F(PMLogTest, LogHeldByAnotherProcessGetsNoFile) {
  const std::string path = PathOf("process.log");
  int held[2];
  int release[2];
  ASSERT_EQ(pipe(held), 0);
  ASSERT_EQ(pipe(release), 0);
  const pid_t child = fork();
  ASSERT_NE(child, -1);
  if (child == 0) {
    PMLog log;
    log.Open(path, 11);
    log.WriteInfo("child", 0);
    if (write(held[1], "h", 1) != 1) _exit(2);
    ReadByte(release[0]);
    log.Close();
    _exit(0);
  }
  ASSERT_TRUE(ReadByte(held[0]));

  LogProbe log;
  log.Open(path, 11);
  log.WriteError("parent", 0);
  EXPECT_FALSE(log.HasFile());
  log.Close();

  ASSERT_EQ(write(release[1], "r", 1), 1);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  for (int fd : {held[0], held[1], release[0], release[1]}) close(fd);
  EXPECT_EQ(Contents(path), "INFO: child\r\n");

  // Released by the other process, the file opens again.
  log.Open(path, 11);
  log.WriteInfo("parent", 0);
  EXPECT_TRUE(log.HasFile());
  log.Close();
  EXPECT_EQ(Contents(path), "INFO: child\r\nINFO: parent\r\n");
}

TEST_F(PMLogTest, AppendsAtTheTrueEndOfLargeFiles) {
  // Sparse files: the sizes cost no disk space.
  const uint64_t sizes[] = {0x80000000ull + 5, 0xFFFFFFFFull, 0x100000000ull + 3};
  const std::string line = "INFO: tail\r\n";
  for (uint64_t size : sizes) {
    SCOPED_TRACE(size);
    const std::string path = PathOf("large.log");
    WriteContents(path, "");
    ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(size)), 0);
    // Only the true last byte ends a line: any other would read as a zero.
    {
      const int fd = open(path.c_str(), O_WRONLY);
      ASSERT_GE(fd, 0);
      EXPECT_EQ(pwrite(fd, "\n", 1, static_cast<off_t>(size - 1)), 1);
      close(fd);
    }

    PMLog log;
    log.Open(path, 11);
    log.WriteInfo("tail", 0);
    log.Close();

    struct stat info;
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(static_cast<uint64_t>(info.st_size), size + line.size());
    const int fd = open(path.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    std::string tail(line.size(), '\0');
    EXPECT_EQ(pread(fd, tail.data(), tail.size(), static_cast<off_t>(size)),
              static_cast<ssize_t>(line.size()));
    close(fd);
    EXPECT_EQ(tail, line);
    std::filesystem::remove(path);
  }
}

TEST_F(PMLogTest, FailingPlatformCallsAreSwallowed) {
  const std::string path = PathOf("inject.log");
  const struct {
    host::FailableFunction function;
    bool opens;
    std::string contents;
    unsigned nth = 1;             // which call of the function fails
    bool told = false;            // a refusal: what was opened could not be checked
    std::string old = "old\r\n";  // what the file held
  } cases[] = {
      {host::gated::ExpandEnvironmentStringsA, false, "old\r\n"},
      // Without the functions that check the path, nothing is opened.
      {host::gated::LoadLibraryA, false, "old\r\n", 1, true},
      {host::gated::GetProcAddress, false, "old\r\n", 1, true},
      {host::gated::GetProcAddress, false, "old\r\n", 2, true},
      {host::gated::GetFullPathNameA, false, "old\r\n", 1, true},
      {host::gated::CreateFileA, false, "old\r\n"},
      // Without knowing what was opened, it is not written.
      {host::gated::GetFileType, false, "old\r\n", 1, true},
      {host::gated::GetFileInformationByHandle, false, "old\r\n", 1, true},
      {host::gated::GetFinalPathNameByHandleA, false, "old\r\n", 1, true},
      // Without the size there is no end to append at: the file is let go untouched.
      {host::gated::GetFileSize, false, "old\r\n"},
      // Without how the file ends, a first line could be glued to a torn one (or, started
      // anew, follow an empty line): the file is let go untouched, whole or torn.
      {host::gated::SetFilePointer, false, "old\r\n"},
      {host::gated::ReadFile, false, "old\r\n"},
      {host::gated::SetFilePointer, false, "torn", 1, false, "torn"},
      {host::gated::ReadFile, false, "torn", 1, false, "torn"},
      // Without the end: lines written from the start would overwrite the old ones.
      {host::gated::SetFilePointer, false, "old\r\n", 2},
      // A write that failed ends writing: the next line is not glued to a torn one.
      {host::gated::WriteFile, true, "old\r\n"},
      {host::gated::WriteFile, true, "old\r\nINFO: one\r\n", 2},
      {host::gated::SetEndOfFile, true, "old\r\nINFO: one\r\nINFO: two\r\n"},
      {host::gated::FreeLibrary, true, "old\r\nINFO: one\r\nINFO: two\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.function.name) + " #" + std::to_string(c.nth) + ", " + c.old);
    WriteContents(path, c.old);
    host::ClearDebugOutput();
    host::FailCall(c.function, c.nth, ERROR_GEN_FAILURE);
    LogProbe log;
    log.Open(path, 11);
    log.WriteInfo("one", 0);
    EXPECT_EQ(log.HasFile(), c.opens);
    log.WriteInfo("two", 0);
    log.Close();
    host::ClearFailures();
    EXPECT_EQ(Contents(path), c.contents);
    const std::vector<std::string> told = host::DebugOutput();
    if (c.told) {
      ASSERT_EQ(told.size(), 1u);
      EXPECT_EQ(told[0].rfind(std::string(kRefusalDebugPrefix) + "cannot-check: " + path, 0), 0u)
          << told[0];
    } else {
      EXPECT_EQ(told, std::vector<std::string>{});
    }
    EXPECT_EQ(host::LoadedLibraryCount(), 0u);
    LogProbe again;  // nothing is left holding the file
    again.Open(path, 11);
    again.WriteInfo("again", 0);
    EXPECT_TRUE(again.HasFile());
    again.Close();
  }
}

// Everything below a folder: each path with its kind and its bytes or link target, so that
// a test sees any file made, changed or removed there.
std::vector<std::string> Snapshot(const std::string& root) {
  std::vector<std::string> entries;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    const std::string path = entry.path().string();
    std::string line = path.substr(root.size()) + " ";
    if (entry.is_symlink()) {
      line += "link to " + std::filesystem::read_symlink(entry.path()).string();
    } else if (entry.is_directory()) {
      line += "folder";
    } else if (entry.is_regular_file()) {
      std::ifstream in(path, std::ios::binary);
      std::ostringstream bytes;
      bytes << in.rdbuf();
      line += "file \"" + bytes.str() + "\"";
    } else {
      line += "other";
    }
    entries.push_back(line);
  }
  std::sort(entries.begin(), entries.end());
  return entries;
}

// A user may make the log's name, or a folder on its way, lead to another file the service
// can write, before the service first creates the log. Whatever the path leads to is left as
// it is, also when the log falls back to opening for writing only; nothing is left behind
// anywhere; the refusal is told in one debug text; and the check for /Status tells the same
// refusal without a word.
TEST_F(PMLogTest, RefusedTargetsAreLeftAsTheyWereAndTold) {
  const std::string target = PathOf("target.ini");
  const std::string secret = "[boot]\r\nshell=explorer.exe\r\n";
  const std::string linked = PathOf("logs/sub");  // a link to the scratch folder itself
  const auto link = [](const std::string& to, const std::string& at) {
    ASSERT_EQ(symlink(to.c_str(), at.c_str()), 0) << at;
  };
  const struct {
    const char* what;
    std::string path;
    std::function<void()> plant;
    std::string reason;
    std::string detail = std::string();  // after the path in the debug text
  } cases[] = {
      {"hard link", PathOf("hard.log"),
       [&] { ASSERT_EQ(::link(target.c_str(), PathOf("hard.log").c_str()), 0); }, "hard-link"},
      {"symbolic link", PathOf("symbolic.log"), [&] { link(target, PathOf("symbolic.log")); },
       "reparse-point"},
      {"dangling symbolic link", PathOf("dangling.log"),
       [&] { link(PathOf("missing.ini"), PathOf("dangling.log")); }, "reparse-point"},
      {"folder", PathOf("folder.log"),
       [&] { ASSERT_EQ(mkdir(PathOf("folder.log").c_str(), 0700), 0); }, "folder"},
      {"device", "/dev/null", [] {}, "device"},
      {"pipe", PathOf("fifo.log"), [&] { ASSERT_EQ(mkfifo(PathOf("fifo.log").c_str(), 0600), 0); },
       "pipe"},
      {"linked folder, a file of that name behind it", linked + "/target.ini",
       [&] { link(dir_, linked); }, "final-path-differs", " is \\\\?\\" + target},
      {"linked folder, no file of that name behind it", linked + "/new.log",
       [&] { link(dir_, linked); }, "final-path-differs", " is \\\\?\\" + PathOf("new.log")},
      {"linked folder further up", PathOf("logs/sub/deeper/new.log"),
       [&] {
         ASSERT_EQ(mkdir(PathOf("other").c_str(), 0700), 0);
         ASSERT_EQ(mkdir(PathOf("other/deeper").c_str(), 0700), 0);
         link(PathOf("other"), linked);
       },
       "final-path-differs", " is \\\\?\\" + PathOf("other/deeper/new.log")},
      {"device namespace", "\\\\.\\C:", [] {}, "device-namespace"},
      {"named pipe by its device", "\\\\?\\GLOBALROOT\\Device\\NamedPipe\\x", [] {},
       "device-namespace"},
      {"named pipe", "\\\\.\\pipe\\x", [] {}, "device-namespace"},
      {"named pipe with slashes", "//./pipe/x", [] {}, "device-namespace"},
      {"object namespace", "\\??\\C:\\x.log", [] {}, "device-namespace"},
      {"a Windows without GetFinalPathNameByHandleA", PathOf("xp.log"),
       [] { host::SetKernel32(host::Kernel32::kWindowsXp); }, "cannot-check",
       " (kernel32.dll has no GetFinalPathNameByHandleA)"},
  };
  for (const bool writeOnly : {false, true}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.what) + (writeOnly ? ", opened for writing only" : ""));
      for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
        std::filesystem::remove_all(entry.path());
      }
      host::SetKernel32(host::Kernel32::kVistaAndLater);
      WriteContents(target, secret);
      ASSERT_EQ(mkdir(PathOf("logs").c_str(), 0700), 0);
      c.plant();
      const std::vector<std::string> before = Snapshot(dir_);
      host::ClearCalls();
      host::ClearDebugOutput();
      if (writeOnly) host::FailCall(host::gated::CreateFileA, 1, ERROR_ACCESS_DENIED);

      LogProbe log;
      log.Open(c.path, 11);
      log.WriteError("Major version NULL", 0);
      EXPECT_FALSE(log.HasFile());
      log.Close();
      host::ClearFailures();

      EXPECT_EQ(host::DebugOutput(), std::vector<std::string>{std::string(kRefusalDebugPrefix) +
                                                              c.reason + ": " + c.path + c.detail});
      EXPECT_EQ(Snapshot(dir_), before);
      for (const host::FailableFunction& call :
           {host::gated::GetFileSize, host::gated::ReadFile, host::gated::WriteFile,
            host::gated::SetEndOfFile}) {
        EXPECT_EQ(host::CallCount(call), 0u) << call.name;
      }
      if (c.reason == "device-namespace" || c.reason == "cannot-check") {
        EXPECT_EQ(host::CallCount(host::gated::CreateFileA), 0u);
      }
      EXPECT_EQ(host::OpenHandleCount(), 0u);
      EXPECT_EQ(host::LoadedLibraryCount(), 0u);

      host::ClearDebugOutput();
      const LogTarget checked = PMLog::Check(c.path);
      EXPECT_EQ(checked.verdict, LogTarget::kRefused);
      EXPECT_EQ(checked.reason != nullptr ? checked.reason : "", c.reason);
      EXPECT_EQ(checked.path, c.path);
      EXPECT_EQ(host::DebugOutput(), std::vector<std::string>{});
      EXPECT_EQ(Snapshot(dir_), before);
    }
  }
}

// A path that leads straight to its file, however it is written, is written to; the check
// for /Status finds it writable both before the file exists (creating nothing) and after.
TEST_F(PMLogTest, APathThatLeadsStraightToItsFileIsWritten) {
  ASSERT_EQ(mkdir(PathOf("sub").c_str(), 0700), 0);
  ASSERT_EQ(mkdir(PathOf("A Long Folder").c_str(), 0700), 0);
  ASSERT_TRUE(host::SetShortName(PathOf("A Long Folder"), "ALONGF~1"));
  char saved[PATH_MAX];
  ASSERT_NE(getcwd(saved, sizeof saved), nullptr);
  ASSERT_EQ(chdir(dir_.c_str()), 0);
  const struct {
    const char* what;
    std::string path;
    std::string file;  // where the line lands
  } cases[] = {
      {"a plain path", PathOf("plain.log"), PathOf("plain.log")},
      {"dots and doubled slashes", dir_ + "/./sub/..//dots.log", PathOf("dots.log")},
      {"a short name on the way", PathOf("ALONGF~1/short.log"), PathOf("A Long Folder/short.log")},
      {"relative to the current folder", "relative.log", PathOf("relative.log")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::vector<std::string> before = Snapshot(dir_);
    const LogTarget first = PMLog::Check(c.path);
    EXPECT_EQ(first.verdict, LogTarget::kWrites);
    EXPECT_EQ(first.path, c.path);
    EXPECT_EQ(Snapshot(dir_), before);

    LogProbe log;
    log.Open(c.path, 11);
    log.WriteInfo("x", 0);
    EXPECT_TRUE(log.HasFile());
    log.Close();
    EXPECT_EQ(Contents(c.file), "INFO: x\r\n");
    EXPECT_EQ(PMLog::Check(c.path).verdict, LogTarget::kWrites);
  }
  ASSERT_EQ(chdir(saved), 0);
  EXPECT_EQ(host::DebugOutput(), std::vector<std::string>{});
}

// The check opens nothing for reading or writing, creates nothing and is not stopped by a log
// that holds the file; what cannot be opened for an ordinary reason is no refusal.
TEST_F(PMLogTest, CheckOpensNothingItCouldChange) {
  const std::string path = PathOf("held.log");
  PMLog holder;
  holder.Open(path, 11);
  holder.WriteInfo("held", 0);
  host::ClearCalls();

  const struct {
    const char* what;
    std::string path;
    LogTarget::Verdict verdict;
    DWORD error;
  } cases[] = {
      {"a file another log holds", path, LogTarget::kWrites, 0},
      {"a missing file", PathOf("missing.log"), LogTarget::kWrites, 0},
      {"a missing folder", PathOf("missing/x.log"), LogTarget::kCannotOpen, ERROR_PATH_NOT_FOUND},
      {"an empty path", "", LogTarget::kCannotOpen, ERROR_PATH_NOT_FOUND},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const LogTarget checked = PMLog::Check(c.path);
    EXPECT_EQ(checked.verdict, c.verdict);
    EXPECT_EQ(checked.error, c.error);
    EXPECT_EQ(checked.reason, nullptr);
  }
  for (const host::FileOpen& open : host::FileOpens()) {
    SCOPED_TRACE(open.path);
    EXPECT_EQ(open.access, DWORD{FILE_READ_ATTRIBUTES});
    EXPECT_EQ(open.disposition, DWORD{OPEN_EXISTING});
    EXPECT_NE(open.flags & SECURITY_SQOS_PRESENT, 0u);
  }
  EXPECT_EQ(host::FileOpens().size(), 4u);  // two files, then the folder of the missing one
  EXPECT_FALSE(Exists(PathOf("missing.log")));
  EXPECT_EQ(host::DebugOutput(), std::vector<std::string>{});
  EXPECT_EQ(host::LoadedLibraryCount(), 0u);

  holder.WriteInfo("still held", 0);
  holder.Close();
  EXPECT_EQ(Contents(path), "INFO: held\r\nINFO: still held\r\n");
}

TEST(PMLogPath, FinalPathsAreComparedWithoutTheirPrefixAndWithoutCase) {
  const struct {
    const char* finalPath;
    const char* path;
    bool same;
  } cases[] = {
      {"\\\\?\\C:\\Logs\\Dorvane.log", "C:\\Logs\\Dorvane.log", true},
      {"\\\\?\\C:\\Logs\\Dorvane.log", "c:\\LOGS\\dorvane.LOG", true},
      {"C:\\Logs\\Dorvane.log", "C:\\Logs\\Dorvane.log", true},
      {"\\\\?\\UNC\\server\\share\\Dorvane.log", "\\\\server\\share\\Dorvane.log", true},
      {"\\\\?\\UNC\\SERVER\\Share\\Dorvane.log", "\\\\server\\share\\dorvane.log", true},
      {"\\\\?\\C:\\Logs\\", "C:\\Logs", true},
      {"\\\\?\\C:\\", "C:\\", true},
      {"\\\\?\\C:\\Victim\\Dorvane.log", "C:\\Logs\\Sub\\Dorvane.log", false},
      {"\\\\?\\C:\\Logs\\Dorvane.log", "C:\\Logs\\Dorvane.log2", false},
      {"\\\\?\\UNC\\server\\share\\Dorvane.log", "C:\\server\\share\\Dorvane.log", false},
      {"\\\\?\\C:\\Logs\\\xC4.log", "C:\\Logs\\\xE4.log", false},  // only A to Z without case
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsFinalPathOf(c.finalPath, c.path), c.same) << c.finalPath << " / " << c.path;
  }
}

TEST(PMLogPath, DeviceNamespacesAreKnownByTheirFirstCharacters) {
  for (const char* path : {"\\\\.\\pipe\\x", "\\\\?\\C:\\x.log", "//./pipe/x", "\\/?/C:/x", "\\\\.",
                           "\\\\?", "\\??\\C:\\x.log", "\\\\?\\GLOBALROOT\\Device\\NamedPipe\\x"}) {
    EXPECT_TRUE(IsInDeviceNamespace(path)) << path;
  }
  for (const char* path : {"\\\\server\\share\\x.log", "//server/share/x.log", "\\\\.server\\x",
                           "C:\\x.log", "x.log", ".\\x.log", "\\x.log", "", "\\\\"}) {
    EXPECT_FALSE(IsInDeviceNamespace(path)) << path;
  }
}

// A file the account may write but not read opens for writing only, as it always did; its
// end cannot be looked at, so the lines follow it as they are.
TEST_F(PMLogTest, FileThatCannotBeReadIsStillAppendedTo) {
  const std::string path = PathOf("write-only.log");
  WriteContents(path, "torn");
  host::FailCall(host::gated::CreateFileA, 1, ERROR_ACCESS_DENIED);
  LogProbe log;
  log.Open(path, 11);
  log.WriteInfo("one", 0);
  EXPECT_TRUE(log.HasFile());
  log.Close();
  EXPECT_EQ(Contents(path), "tornINFO: one\r\n");
  EXPECT_EQ(host::CallCount(host::gated::CreateFileA), 2u);
  EXPECT_EQ(host::CallCount(host::gated::ReadFile), 0u);

  // Any other failure to open is not retried.
  host::ClearCalls();
  host::FailCall(host::gated::CreateFileA, 1, ERROR_SHARING_VIOLATION);
  log.Open(path, 11);
  log.WriteInfo("lost", 0);
  EXPECT_FALSE(log.HasFile());
  log.WriteInfo("lost too", 0);
  EXPECT_EQ(host::CallCount(host::gated::CreateFileA), 1u);
}

// A full disk: the write that does not fit leaves part of its line behind and ends writing
// for that open. Once space is free again, the next open ends the torn line first.
TEST_F(PMLogTest, ShortWriteEndsWritingAndTheNextOpenEndsTheTornLine) {
  const std::string path = PathOf("full.log");
  WriteContents(path, "old\r\n");
  struct rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  void (*savedSignal)(int) = signal(SIGXFSZ, SIG_IGN);
  struct rlimit full = saved;
  full.rlim_cur = 5 + 8;  // room for "old\r\n" and "INFO: Se"
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &full), 0);

  PMLog log;
  log.Open(path, 11);
  log.WriteInfo("SetUserAcVideoTimeOut() Succeded", 5);
  log.WriteInfo("Machine Hibernation will be changed", 5);
  log.Close();

  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
  signal(SIGXFSZ, savedSignal);
  EXPECT_EQ(Contents(path), "old\r\nINFO: Se");
  EXPECT_EQ(host::CallCount(host::gated::WriteFile), 1u);

  log.Open(path, 11);
  log.WriteInfo("Machine Hibernation will be changed", 5);
  log.Close();
  EXPECT_EQ(Contents(path), "old\r\nINFO: Se\r\nINFO: Machine Hibernation will be changed\r\n");
}

// Opening, writing and closing, swept: whichever call fails, the log keeps what it held, holds
// whole lines only and is let go.
TEST_F(PMLogTest, KeepsTheFileWholeWhicheverCallFails) {
  const std::string path = PathOf("swept.log");
  const std::string earlier = "INFO: earlier\r\n";
  SweepEveryCall({"log file",
                  [&] {
                    host::Reset();
                    WriteContents(path, earlier);
                  },
                  [&] {
                    PMLog log;
                    log.Open(path, 11);
                    log.WriteInfo("one", 1);
                    log.WriteError("two", 0);
                    log.Close();
                  },
                  [&] {
                    EXPECT_EQ(host::OpenHandleCount(), 0u);
                    EXPECT_EQ(host::LoadedLibraryCount(), 0u);
                    const std::string text = Contents(path);
                    EXPECT_EQ(text.compare(0, earlier.size(), earlier), 0) << text;
                    EXPECT_TRUE(IsWholeLogLines(text)) << text;
                  }});
}

// Through a linked folder, swept: whichever call fails, the folder behind the link gets no
// byte. Its file keeps its bytes, and a file the log created there is removed again (should
// the removal itself fail, it stays empty).
TEST_F(PMLogTest, ALinkedFolderGetsNoByteWhicheverCallFails) {
  const std::string other = PathOf("other");
  const std::string kept = "INFO: someone else's\r\n";
  SweepEveryCall({"log through a linked folder",
                  [&] {
                    host::Reset();
                    std::filesystem::remove_all(other);
                    std::filesystem::remove_all(PathOf("logs"));
                    ASSERT_EQ(mkdir(other.c_str(), 0700), 0);
                    ASSERT_EQ(mkdir(PathOf("logs").c_str(), 0700), 0);
                    ASSERT_EQ(symlink(other.c_str(), PathOf("logs/sub").c_str()), 0);
                    WriteContents(other + "/kept.log", kept);
                  },
                  [&] {
                    for (const char* name : {"kept.log", "new.log"}) {
                      PMLog log;
                      log.Open(PathOf("logs/sub/") + name, 11);
                      log.WriteError("Major version NULL", 0);
                      log.Close();
                    }
                  },
                  [&] {
                    EXPECT_EQ(host::OpenHandleCount(), 0u);
                    EXPECT_EQ(host::LoadedLibraryCount(), 0u);
                    EXPECT_EQ(Contents(other + "/kept.log"), kept);
                    if (Exists(other + "/new.log")) {
                      EXPECT_EQ(Contents(other + "/new.log"), "");
                    }
                    for (const std::string& text : host::DebugOutput()) {
                      EXPECT_EQ(text.rfind(kRefusalDebugPrefix, 0), 0u) << text;
                    }
                  }});
}

}  // namespace
