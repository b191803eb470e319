// The registry file of host programs (HOST_REGISTRY_FILE): loaded before the first use,
// saved by RegFlushKey and at exit, and ignored by tests that reset the stand-in.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "HostControl.h"
#include "Win32Api.h"

extern char** environ;

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
  }

  // Runs the helper with HOST_REGISTRY_FILE=file_ and returns what it printed.
  std::string Child(const std::vector<std::string>& commands, int* status = nullptr) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) env.push_back(*e);
    env.push_back(std::string(host::kRegistryFileVariable) + "=" + file_);
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(&e[0]);
    envp.push_back(nullptr);
    std::string program = PM_REGFILE_CHILD;
    std::vector<std::string> args = commands;
    args.insert(args.begin(), program);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);

    int out[2];
    EXPECT_EQ(0, pipe(out));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    EXPECT_EQ(0, rc) << program;
    std::string printed;
    char buffer[256];
    ssize_t n;
    while ((n = read(out[0], buffer, sizeof buffer)) > 0) printed.append(buffer, n);
    close(out[0]);
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    EXPECT_TRUE(WIFEXITED(wstatus));
    if (status != nullptr) *status = WEXITSTATUS(wstatus);
    return printed;
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
};

TEST_F(RegistryFile, AMissingFileIsAnEmptyRegistryAndExitSavesIt) {
  EXPECT_EQ("<absent>\n", Child({"get", "Software\\App", "Name"}));
  EXPECT_EQ("<missing>", ReadFile(file_));  // nothing to save, but nothing lost either

  EXPECT_EQ("", Child({"set", "Software\\App", "Name", "first"}));
  EXPECT_EQ("first", Stored("Software\\App", "Name"));
}

TEST_F(RegistryFile, TheFileIsLoadedBeforeTheFirstCallAndKeptWhole) {
  WriteFile(file_, "Windows Registry Editor Version 5.00\r\n\r\n"
                   "[HKEY_LOCAL_MACHINE\\Software\\Policy]\r\n\"Control\"=\"Verify\"\r\n\r\n"
                   "[HKEY_CURRENT_USER\\Software\\App]\r\n\"Name\"=\"seeded\"\r\n\r\n");
  EXPECT_EQ("seeded\n", Child({"get", "Software\\App", "Name", "set", "Software\\App", "More",
                               "added", "flush"}));
  EXPECT_EQ("added", Stored("Software\\App", "More"));
  EXPECT_EQ("seeded", Stored("Software\\App", "Name"));
  host::RegValue value;
  EXPECT_TRUE(host::ReadValue(HKEY_LOCAL_MACHINE, "Software\\Policy", "Control", &value));
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
  EXPECT_EQ("<absent>\n", Child({"set", "Software\\App", "Name", "x", "flush", "get",
                                 "Software\\Other", "Name"}, &status));
  EXPECT_EQ(0, status);
  EXPECT_EQ(broken, ReadFile(file_));
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

}  // namespace
