#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "HostFixture.h"
#include "PMLog.h"
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
    dir_ = pattern;
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

TEST_F(PMLogTest, OpenCreatesTheFileEvenWhenNothingWillBeWritten) {
  const std::string path = PathOf("silent.log");
  PMLog log;
  log.Open(path, 0);
  EXPECT_TRUE(Exists(path));
  log.WriteError("never", 0);
  log.Close();
  EXPECT_EQ(Contents(path), "");
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
  // What was opened is looked at before anything else touches it: its type, then its
  // attributes and names.
  EXPECT_EQ(host::Calls(),
            (std::vector<std::string>{"SetErrorMode", "ExpandEnvironmentStringsA", "CreateFileA",
                                      "GetFileType", "GetFileInformationByHandle", "GetFileSize",
                                      "SetFilePointer", "SetErrorMode", "WriteFile", "SetEndOfFile",
                                      "CloseHandle"}));
  EXPECT_EQ(SetErrorMode(0), UINT{SEM_NOGPFAULTERRORBOX});

  // A file with content: its last byte is read before the position goes to the end.
  host::ClearCalls();
  log.Open(path, 11);
  log.Close();
  EXPECT_EQ(host::Calls(),
            (std::vector<std::string>{"SetErrorMode", "ExpandEnvironmentStringsA", "CreateFileA",
                                      "GetFileType", "GetFileInformationByHandle", "GetFileSize",
                                      "SetFilePointer", "ReadFile", "SetFilePointer",
                                      "SetErrorMode", "SetEndOfFile", "CloseHandle"}));
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
    EXPECT_EQ(log.HasFile(), c.opens);
    EXPECT_EQ(host::CallCount(host::gated::CreateFileA), c.opens ? 1u : 0u);
    EXPECT_EQ(host::CallCount(host::gated::SetErrorMode), 2u);
    log.WriteInfo("x", 0);
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
    EXPECT_FALSE(log.HasFile()) << path;
    log.WriteError("x", 0);
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
  EXPECT_TRUE(other.HasFile());
  other.WriteInfo("other", 0);
  other.Close();
  log.Close();

  EXPECT_EQ(Contents(first), "INFO: one\r\nINFO: other\r\n");
  EXPECT_EQ(Contents(second), "INFO: two\r\n");
}

TEST_F(PMLogTest, SecondLogInTheSameProcessGetsNoFile) {
  const std::string path = PathOf("shared.log");
  PMLog holder;
  holder.Open(path, 11);
  LogProbe second;
  second.Open(path, 11);
  EXPECT_FALSE(second.HasFile());
  second.WriteError("lost", 0);
  holder.WriteInfo("kept", 0);
  holder.Close();

  second.Open(path, 11);
  EXPECT_TRUE(second.HasFile());
  second.WriteInfo("later", 0);
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
  EXPECT_FALSE(log.HasFile());
  log.WriteError("parent", 0);
  log.Close();

  ASSERT_EQ(write(release[1], "r", 1), 1);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  for (int fd : {held[0], held[1], release[0], release[1]}) close(fd);
  EXPECT_EQ(Contents(path), "INFO: child\r\n");

  // Released by the other process, the file opens again.
  log.Open(path, 11);
  EXPECT_TRUE(log.HasFile());
  log.WriteInfo("parent", 0);
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
  WriteContents(path, "old\r\n");
  const struct {
    host::FailableFunction function;
    bool opens;
    std::string contents;
    unsigned nth = 1;  // which call of the function fails
  } cases[] = {
      {host::gated::ExpandEnvironmentStringsA, false, "old\r\n"},
      {host::gated::CreateFileA, false, "old\r\n"},
      // Without knowing what was opened, it is not written.
      {host::gated::GetFileType, false, "old\r\n"},
      {host::gated::GetFileInformationByHandle, false, "old\r\n"},
      // Without the size there is no end to append at: the file is let go untouched.
      {host::gated::GetFileSize, false, "old\r\n"},
      // How the file ends is only looked at: without it, the lines follow as they are.
      {host::gated::SetFilePointer, true, "old\r\nINFO: one\r\nINFO: two\r\n"},
      {host::gated::ReadFile, true, "old\r\nINFO: one\r\nINFO: two\r\n"},
      // Without the end: lines written from the start would overwrite the old ones.
      {host::gated::SetFilePointer, false, "old\r\n", 2},
      // A write that failed ends writing: the next line is not glued to a torn one.
      {host::gated::WriteFile, true, "old\r\n"},
      {host::gated::WriteFile, true, "old\r\nINFO: one\r\n", 2},
      {host::gated::SetEndOfFile, true, "old\r\nINFO: one\r\nINFO: two\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.function.name) + " #" + std::to_string(c.nth));
    WriteContents(path, "old\r\n");
    host::FailCall(c.function, c.nth, ERROR_GEN_FAILURE);
    LogProbe log;
    log.Open(path, 11);
    EXPECT_EQ(log.HasFile(), c.opens);
    log.WriteInfo("one", 0);
    log.WriteInfo("two", 0);
    log.Close();
    host::ClearFailures();
    EXPECT_EQ(Contents(path), c.contents);
    LogProbe again;  // nothing is left holding the file
    again.Open(path, 11);
    EXPECT_TRUE(again.HasFile());
    again.Close();
  }
}

// A user may make the log's name another name of a file the service can write, before the
// service first creates the log. Whatever the name leads to is left as it is, also when the
// log falls back to opening for writing only.
TEST_F(PMLogTest, PathThatIsNotAPlainFileOfItsOwnHoldsNoLog) {
  const std::string target = PathOf("target.ini");
  const std::string missing = PathOf("missing.ini");
  const std::string secret = "[boot]\r\nshell=explorer.exe\r\n";
  const struct {
    const char* what;
    std::string path;
    std::function<void(const std::string&)> plant;
  } cases[] = {
      {"hard link", PathOf("hard.log"),
       [&](const std::string& path) { ASSERT_EQ(link(target.c_str(), path.c_str()), 0); }},
      {"symbolic link", PathOf("symbolic.log"),
       [&](const std::string& path) { ASSERT_EQ(symlink(target.c_str(), path.c_str()), 0); }},
      {"dangling symbolic link", PathOf("dangling.log"),
       [&](const std::string& path) { ASSERT_EQ(symlink(missing.c_str(), path.c_str()), 0); }},
      {"directory", PathOf("folder.log"),
       [](const std::string& path) { ASSERT_EQ(mkdir(path.c_str(), 0700), 0); }},
      {"device", "/dev/null", [](const std::string&) {}},
  };
  for (const bool writeOnly : {false, true}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.what) + (writeOnly ? ", opened for writing only" : ""));
      WriteContents(target, secret);
      c.plant(c.path);
      struct stat before;
      ASSERT_EQ(lstat(c.path.c_str(), &before), 0);
      host::ClearCalls();
      if (writeOnly) host::FailCall(host::gated::CreateFileA, 1, ERROR_ACCESS_DENIED);

      LogProbe log;
      log.Open(c.path, 11);
      EXPECT_FALSE(log.HasFile());
      log.WriteError("ERROR: Major version NULL", 0);
      log.Close();

      if (writeOnly) {
        EXPECT_EQ(host::CallCount(host::gated::CreateFileA), 2u);
      }
      for (const host::FailableFunction& call :
           {host::gated::GetFileSize, host::gated::ReadFile, host::gated::WriteFile,
            host::gated::SetEndOfFile}) {
        EXPECT_EQ(host::CallCount(call), 0u) << call.name;
      }
      EXPECT_EQ(Contents(target), secret);
      EXPECT_FALSE(Exists(missing));
      struct stat after;
      ASSERT_EQ(lstat(c.path.c_str(), &after), 0);
      EXPECT_EQ(after.st_mode, before.st_mode);
      EXPECT_EQ(after.st_nlink, before.st_nlink);
      // Nothing is left holding what was opened.
      HANDLE again = CreateFileA(target.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_ARCHIVE, nullptr);
      EXPECT_NE(again, INVALID_HANDLE_VALUE);
      CloseHandle(again);

      if (c.path != "/dev/null") std::filesystem::remove(c.path);
      std::filesystem::remove(target);
      std::filesystem::remove(missing);
    }
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
  EXPECT_TRUE(log.HasFile());
  log.WriteInfo("one", 0);
  log.Close();
  EXPECT_EQ(Contents(path), "tornINFO: one\r\n");
  EXPECT_EQ(host::CallCount(host::gated::CreateFileA), 2u);
  EXPECT_EQ(host::CallCount(host::gated::ReadFile), 0u);

  // Any other failure to open is not retried.
  host::ClearCalls();
  host::FailCall(host::gated::CreateFileA, 1, ERROR_SHARING_VIOLATION);
  log.Open(path, 11);
  EXPECT_FALSE(log.HasFile());
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
                    const std::string text = Contents(path);
                    EXPECT_EQ(text.compare(0, earlier.size(), earlier), 0) << text;
                    EXPECT_TRUE(IsWholeLogLines(text)) << text;
                  }});
}

}  // namespace
