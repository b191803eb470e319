// The registry file of host programs (HOST_REGISTRY_FILE): loaded before the first use,
// saved by RegFlushKey and at exit, and ignored by tests that reset the stand-in.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <future>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ChildProcess.h"
#include "HostControl.h"
#include "Win32Api.h"

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "<missing>";
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

mode_t ModeOf(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// The names in a folder, sorted, without "." and "..".
std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(folder.c_str())) {
    while (const dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The helper program run with HOST_REGISTRY_FILE=file and `commands` as its arguments.
class RegistryFileChild : public ChildProcess {
 public:
  RegistryFileChild(const std::string& file, const std::vector<std::string>& commands) {
    EXPECT_TRUE(
        Start(PM_REGFILE_CHILD, commands, {std::string(host::kRegistryFileVariable) + "=" + file}))
        << PM_REGFILE_CHILD;
  }
};

class RegistryFile : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv(host::kRegistryFileVariable);
    host::Reset();
    host::SetDebugEcho(false);
    file_ = "/tmp/dorvane-regfile-" + std::to_string(getpid()) + ".reg";
    other_ = file_ + ".other.reg";
    std::remove(file_.c_str());
    std::remove(other_.c_str());
  }
  void TearDown() override {
    unsetenv(host::kRegistryFileVariable);
    host::Reset();
    std::remove(file_.c_str());
    std::remove(other_.c_str());
    for (const std::string& folder : folders_) {
      for (const std::string& name : FilesIn(folder)) std::remove((folder + "/" + name).c_str());
      rmdir(folder.c_str());
    }
  }

  // A fresh folder below /tmp, removed with everything in it at the end of the test.
  std::string Folder() {
    char name[] = "/tmp/dorvane-regfile-XXXXXX";
    EXPECT_NE(nullptr, mkdtemp(name));
    folders_.push_back(name);
    return name;
  }

  // Runs the helper with HOST_REGISTRY_FILE=file_ and returns what it printed.
  std::string Child(const std::vector<std::string>& commands, int* status = nullptr) {
    RegistryFileChild child(file_, commands);
    return child.Finish(status);
  }

  // The value in the file, read back through an import into the (reset) stand-in.
  std::string Stored(const std::string& key, const std::string& name) {
    host::Reset();
    std::string error;
    EXPECT_TRUE(host::ImportRegFile(file_, &error)) << error;
    host::RegValue value;
    if (!host::ReadValue(HKEY_CURRENT_USER, key, name, &value)) return "<absent>";
    return std::string(value.data.begin(), value.data.end() - 1);
  }

  std::string file_;
  std::string other_;
  std::vector<std::string> folders_;
};

TEST_F(RegistryFile, AMissingFileIsAnEmptyRegistryAndExitSavesIt) {
  EXPECT_EQ("<absent>\n", Child({"get", "Software\\App", "Name"}));
  EXPECT_EQ("<missing>", ReadFile(file_));  // nothing to save, but nothing lost either

  EXPECT_EQ("", Child({"set", "Software\\App", "Name", "first"}));
  EXPECT_EQ("first", Stored("Software\\App", "Name"));
}

TEST_F(RegistryFile, TheFileIsLoadedBeforeTheFirstCallAndKeptWhole) {
  WriteFile(file_,
            "Windows Registry Editor Version 5.00\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Policy]\r\n\"Control\"=\"Verify\"\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\App]\r\n\"Name\"=\"seeded\"\r\n\r\n");
  EXPECT_EQ("seeded\n", Child({"get", "Software\\App", "Name", "set", "Software\\App", "More",
                               "added", "flush"}));
  EXPECT_EQ("added", Stored("Software\\App", "More"));
  EXPECT_EQ("seeded", Stored("Software\\App", "Name"));
  host::RegValue value;
  EXPECT_TRUE(host::ReadValue(HKEY_LOCAL_MACHINE, "Software\\Policy", "Control", &value));
}

// A host program that never resets, however long it runs, keeps no record of its calls.
TEST_F(RegistryFile, AProgramThatNeverResetsRecordsNoCall) {
  EXPECT_EQ("first\n0\n", Child({"set", "Software\\App", "Name", "first", "get", "Software\\App",
                                 "Name", "flush", "calls"}));
}

TEST_F(RegistryFile, FlushSavesAtOnceAndOnlyWhatWasThereThen) {
  EXPECT_EQ("", Child({"set", "Software\\App", "Early", "1", "flush", "set", "Software\\App",
                       "Late", "2", "crash"}));
  EXPECT_EQ("1", Stored("Software\\App", "Early"));
  EXPECT_EQ("<absent>", Stored("Software\\App", "Late"));
}

TEST_F(RegistryFile, AnUnreadableFileIsNeitherUsedNorOverwritten) {
  const std::string broken = "not a registry file\n";
  WriteFile(file_, broken);
  int status = -1;
  EXPECT_EQ("<absent>\n",
            Child({"set", "Software\\App", "Name", "x", "flush", "get", "Software\\Other", "Name"},
                  &status));
  EXPECT_EQ(0, status);
  EXPECT_EQ(broken, ReadFile(file_));
}

TEST_F(RegistryFile, AFileSpoiledAfterLoadingIsNotOverwrittenEither) {
  setenv(host::kRegistryFileVariable, file_.c_str(), 1);
  host::WriteString(HKEY_CURRENT_USER, "Software\\App", "Name", "first");
  ASSERT_EQ(ERROR_SUCCESS, RegFlushKey(HKEY_CURRENT_USER));
  const std::string spoiled = "REGEDIT4\n\n[HKCU\\Software\\App]\n\"Name\"=\"unterminated\n";
  WriteFile(file_, spoiled);

  ::testing::internal::CaptureStderr();
  host::WriteString(HKEY_CURRENT_USER, "Software\\App", "Name", "second");
  EXPECT_EQ(ERROR_REGISTRY_CORRUPT, RegFlushKey(HKEY_CURRENT_USER));  // not stored
  const std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(std::string::npos, said.find(file_ + ": line 4")) << said;
  EXPECT_EQ(spoiled, ReadFile(file_));
  // The registry itself goes on as it was.
  host::RegValue value;
  ASSERT_TRUE(host::ReadValue(HKEY_CURRENT_USER, "Software\\App", "Name", &value));
  EXPECT_EQ(std::string("second", 7), std::string(value.data.begin(), value.data.end()));
}

TEST_F(RegistryFile, ResetIgnoresTheVariableUntilTheTestSetsIt) {
  WriteFile(file_, "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\App]\n\"Name\"=\"inherited\"\n");
  const std::string original = ReadFile(file_);
  setenv(host::kRegistryFileVariable, file_.c_str(), 1);
  host::Reset();  // as if the variable came with the environment
  HKEY key = nullptr;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND,
            RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\App", 0, KEY_READ, &key));
  host::WriteString(HKEY_CURRENT_USER, "Software\\Test", "Name", "test's own");
  EXPECT_EQ(ERROR_SUCCESS, RegFlushKey(HKEY_CURRENT_USER));
  EXPECT_EQ(original, ReadFile(file_));

  // Set by the test itself: the next use loads that file, and flushing saves into it.
  WriteFile(other_, original);
  setenv(host::kRegistryFileVariable, other_.c_str(), 1);
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\App", 0, KEY_READ, &key));
  RegCloseKey(key);
  EXPECT_FALSE(host::KeyExists(HKEY_CURRENT_USER, "Software\\Test"));  // replaced by the file
  host::WriteString(HKEY_CURRENT_USER, "Software\\App", "Added", "later");
  EXPECT_EQ(ERROR_SUCCESS, RegFlushKey(HKEY_CURRENT_USER));
  EXPECT_NE(std::string::npos, ReadFile(other_).find("\"Added\"=\"later\""));
}

TEST_F(RegistryFile, AnEmptyFileIsAnEmptyRegistry) {
  WriteFile(file_, "");
  EXPECT_EQ("<absent>\n",
            Child({"get", "Software\\App", "Name", "set", "Software\\App", "Name", "kept"}));
  EXPECT_EQ("kept", Stored("Software\\App", "Name"));
}

// Far deeper than Windows nests keys (and deeper than a recursive reader's stack would
// take): the file is refused with its line, like any file that cannot be read, and kept.
TEST_F(RegistryFile, AFileWithAKeyNestedTooDeepIsRefusedWithItsLine) {
  std::string deep = "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER";
  for (int i = 0; i < 100000; ++i) deep += "\\k";
  deep += "]\r\n";
  WriteFile(file_, deep);
  setenv(host::kRegistryFileVariable, file_.c_str(), 1);
  ::testing::internal::CaptureStderr();
  host::WriteString(HKEY_CURRENT_USER, "Software\\App", "Name", "x");
  RegFlushKey(HKEY_CURRENT_USER);
  const std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(
      std::string::npos,
      said.find(file_ + ": line 3: key nested deeper than 512 levels; registry file not used"))
      << said;
  EXPECT_EQ(deep, ReadFile(file_));
}

// A save replaces the file by renaming a new one over it, yet the file keeps its mode, a
// symbolic link stays a link to the file that gets the new text, and nothing else is left.
TEST_F(RegistryFile, ASaveKeepsTheModeAndWritesThroughALink) {
  const std::string folder = Folder();
  const std::string target = folder + "/target.reg";
  const std::string link = folder + "/link.reg";
  WriteFile(target, "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\App]\n\"Name\"=\"seeded\"\n");
  ASSERT_EQ(0, chmod(target.c_str(), 0640));
  ASSERT_EQ(0, symlink("target.reg", link.c_str()));

  RegistryFileChild child(link, {"get", "Software\\App", "Name", "set", "Software\\App", "More",
                                 "added", "flush", "set", "Software\\App", "Last", "at exit"});
  EXPECT_EQ("seeded\n", child.Finish(nullptr));

  struct stat st;
  ASSERT_EQ(0, lstat(link.c_str(), &st));
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  char pointsTo[64] = {};
  ASSERT_LT(0, readlink(link.c_str(), pointsTo, sizeof pointsTo - 1));
  EXPECT_STREQ("target.reg", pointsTo);
  EXPECT_EQ(0640u, ModeOf(target));
  const std::string saved = ReadFile(target);
  EXPECT_NE(std::string::npos, saved.find("\"Name\"=\"seeded\"")) << saved;
  EXPECT_NE(std::string::npos, saved.find("\"More\"=\"added\"")) << saved;
  EXPECT_NE(std::string::npos, saved.find("\"Last\"=\"at exit\"")) << saved;
  EXPECT_EQ((std::vector<std::string>{"link.reg", "target.reg"}), FilesIn(folder));
}

// A file nobody may write is the user's way of keeping it as it is: it is loaded but never
// written, and a flush of a change fails. Why is said once, and again only after a save
// succeeded in between.
TEST_F(RegistryFile, AReadOnlyFileIsLoadedButNeverWritten) {
  const std::string seeded =
      "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\App]\n\"Name\"=\"seeded\"\n";
  WriteFile(file_, seeded);
  ASSERT_EQ(0, chmod(file_.c_str(), 0444));
  setenv(host::kRegistryFileVariable, file_.c_str(), 1);
  const std::string refusal = file_ + ": Permission denied; registry not saved\n";

  ::testing::internal::CaptureStderr();
  host::RegValue value;
  ASSERT_TRUE(host::ReadValue(HKEY_CURRENT_USER, "Software\\App", "Name", &value));
  host::WriteString(HKEY_CURRENT_USER, "Software\\App", "Name", "changed");
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegFlushKey(HKEY_CURRENT_USER));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegFlushKey(HKEY_CURRENT_USER));
  EXPECT_EQ(refusal, ::testing::internal::GetCapturedStderr());
  EXPECT_EQ(seeded, ReadFile(file_));
  EXPECT_EQ(0444u, ModeOf(file_));

  ASSERT_EQ(0, chmod(file_.c_str(), 0644));
  EXPECT_EQ(ERROR_SUCCESS, RegFlushKey(HKEY_CURRENT_USER));
  EXPECT_NE(std::string::npos, ReadFile(file_).find("\"Name\"=\"changed\""));

  ASSERT_EQ(0, chmod(file_.c_str(), 0444));
  ::testing::internal::CaptureStderr();
  host::WriteString(HKEY_CURRENT_USER, "Software\\App", "Name", "third");
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegFlushKey(HKEY_CURRENT_USER));
  EXPECT_EQ(refusal, ::testing::internal::GetCapturedStderr());
  ASSERT_EQ(0, chmod(file_.c_str(), 0644));
}

// The folder is named when the file is bound; flushes fail without saying it again, and
// work once the folder is there.
TEST_F(RegistryFile, AFileInAMissingFolderIsNamedOnceAndFlushesFailUntilItExists) {
  const std::string folder = Folder() + "/missing";
  const std::string file = folder + "/registry.reg";
  setenv(host::kRegistryFileVariable, file.c_str(), 1);

  ::testing::internal::CaptureStderr();
  host::WriteString(HKEY_CURRENT_USER, "Software\\App", "Name", "kept");
  EXPECT_EQ(ERROR_PATH_NOT_FOUND, RegFlushKey(HKEY_CURRENT_USER));
  EXPECT_EQ(ERROR_PATH_NOT_FOUND, RegFlushKey(HKEY_CURRENT_USER));
  EXPECT_EQ(std::string(host::kRegistryFileVariable) + "=" + file + ": the folder " + folder +
                " does not exist; the registry cannot be saved there\n",
            ::testing::internal::GetCapturedStderr());

  ASSERT_EQ(0, mkdir(folder.c_str(), 0755));
  EXPECT_EQ(ERROR_SUCCESS, RegFlushKey(HKEY_CURRENT_USER));
  EXPECT_NE(std::string::npos, ReadFile(file).find("\"Name\"=\"kept\""));
  std::remove(file.c_str());
  rmdir(folder.c_str());
}

// Two programs on one registry file see each other's saved changes, and neither save drops
// the other's, as two programs on the Windows registry would.
TEST_F(RegistryFile, ProcessesSharingTheFileSeeAndKeepEachOthersChanges) {
  RegistryFileChild first(file_, {"set", "Software\\App", "First", "1", "flush", "wait", "get",
                                  "Software\\App", "Second", "set", "Software\\App", "Late", "3"});
  ASSERT_EQ("waiting", first.ReadLine());
  // The second one loads what the first has flushed, and saves at its exit.
  EXPECT_EQ("1\n", Child({"get", "Software\\App", "First", "set", "Software\\App", "Second", "2"}));
  // The first one reads the file again before its next call, and its own exit save keeps
  // the second one's value.
  EXPECT_EQ("2\n", first.Finish(nullptr));
  EXPECT_EQ("1", Stored("Software\\App", "First"));
  EXPECT_EQ("2", Stored("Software\\App", "Second"));
  EXPECT_EQ("3", Stored("Software\\App", "Late"));
}

TEST_F(RegistryFile, SavesRunningAtTheSameTimeLoseNothing) {
  constexpr int kValues = 40;
  auto commands = [](const std::string& prefix) {
    std::vector<std::string> out;
    for (int i = 0; i < kValues; ++i) {
      out.insert(out.end(), {"set", "Software\\App", prefix + std::to_string(i), "v", "flush"});
    }
    return out;
  };
  {
    RegistryFileChild a(file_, commands("a"));
    RegistryFileChild b(file_, commands("b"));
    int status = -1;
    a.Finish(&status);
    EXPECT_EQ(0, status);
    b.Finish(&status);
    EXPECT_EQ(0, status);
  }
  host::Reset();
  std::string error;
  ASSERT_TRUE(host::ImportRegFile(file_, &error)) << error;
  std::vector<std::string> lost;
  for (const char* prefix : {"a", "b"}) {
    for (int i = 0; i < kValues; ++i) {
      const std::string name = prefix + std::to_string(i);
      if (!host::ReadValue(HKEY_CURRENT_USER, "Software\\App", name, nullptr)) lost.push_back(name);
    }
  }
  EXPECT_EQ(std::vector<std::string>(), lost);
}

// Reading the file again keeps every key that is still there, and so the handles open on it.
TEST_F(RegistryFile, AnOpenKeyOutlivesAnotherProcesssSave) {
  setenv(host::kRegistryFileVariable, file_.c_str(), 1);
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\App", 0, nullptr, 0,
                                           KEY_ALL_ACCESS, nullptr, &key, nullptr));
  const BYTE mine[] = "mine";
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "Mine", 0, REG_SZ, mine, sizeof mine));
  ASSERT_EQ(ERROR_SUCCESS, RegFlushKey(key));

  EXPECT_EQ("mine\n",
            Child({"get", "Software\\App", "Mine", "set", "Software\\App", "Theirs", "theirs"}));

  char text[16] = {};
  DWORD size = sizeof text;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "Theirs", nullptr, nullptr,
                                            reinterpret_cast<BYTE*>(text), &size));
  EXPECT_STREQ("theirs", text);
  const BYTE more[] = "more";
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "More", 0, REG_SZ, more, sizeof more));
  ASSERT_EQ(ERROR_SUCCESS, RegCloseKey(key));
  ASSERT_EQ(ERROR_SUCCESS, RegFlushKey(HKEY_CURRENT_USER));
  unsetenv(host::kRegistryFileVariable);
  EXPECT_EQ("mine", Stored("Software\\App", "Mine"));
  EXPECT_EQ("theirs", Stored("Software\\App", "Theirs"));
  EXPECT_EQ("more", Stored("Software\\App", "More"));
}

// A save waits for the file while another process holds it; meanwhile the registry answers
// every other thread of this process.
TEST_F(RegistryFile, RegistryCallsDoNotWaitForASaveInProgress) {
  setenv(host::kRegistryFileVariable, file_.c_str(), 1);
  host::WriteString(HKEY_CURRENT_USER, "Software\\App", "Name", "first");
  ASSERT_EQ(ERROR_SUCCESS, RegFlushKey(HKEY_CURRENT_USER));
  host::WriteString(HKEY_CURRENT_USER, "Software\\App", "Name", "second");

  // As another process reading the file would hold it.
  int reader = open(file_.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_LE(0, reader);
  ASSERT_EQ(0, flock(reader, LOCK_SH));
  std::atomic<bool> saved{false};
  std::thread saver([&saved] {
    RegFlushKey(HKEY_CURRENT_USER);
    saved = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  auto query = std::async(std::launch::async, [] {
    HKEY key = nullptr;
    LONG rc = RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\App", 0, KEY_READ, &key);
    if (rc == ERROR_SUCCESS) RegCloseKey(key);
    return rc;
  });
  EXPECT_EQ(std::future_status::ready, query.wait_for(std::chrono::seconds(5)));
  EXPECT_FALSE(saved) << "the save did not wait for the file";
  close(reader);
  saver.join();
  EXPECT_EQ(ERROR_SUCCESS, query.get());
  unsetenv(host::kRegistryFileVariable);
  EXPECT_EQ("second", Stored("Software\\App", "Name"));
}

}  // namespace
