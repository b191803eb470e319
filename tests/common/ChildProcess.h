// A helper program of a host test in a process of its own, its stdin and stdout on pipes: the
// test reads the lines it prints and ends it by closing its stdin. Host (POSIX) tests only.
#ifndef PM_TESTS_CHILDPROCESS_H
#define PM_TESTS_CHILDPROCESS_H

#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char** environ;

class ChildProcess {
 public:
  ChildProcess() = default;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess() { Finish(); }

  // Starts `program` with `args`, in this process's environment with `environment` ("NAME=value"
  // each) added; false when it could not be started.
  bool Start(const std::string& program, const std::vector<std::string>& args,
             const std::vector<std::string>& environment = {}) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) env.push_back(*e);
    env.insert(env.end(), environment.begin(), environment.end());
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(&e[0]);
    envp.push_back(nullptr);
    std::vector<std::string> argStrings = args;
    argStrings.insert(argStrings.begin(), program);
    std::vector<char*> argv;
    for (std::string& a : argStrings) argv.push_back(&a[0]);
    argv.push_back(nullptr);

    int in[2], out[2];
    if (pipe(in) != 0) return false;
    if (pipe(out) != 0) {
      close(in[0]);
      close(in[1]);
      return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, in[1]);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const int rc = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    toChild_ = in[1];
    fromChild_ = out[0];
    if (rc != 0) pid_ = -1;
    return rc == 0;
  }

  // The next line it prints, without its line end; what there is when it ends first.
  std::string ReadLine() {
    std::string line;
    char c;
    while (fromChild_ >= 0 && read(fromChild_, &c, 1) == 1 && c != '\n') {
      if (c != '\r') line += c;
    }
    return line;
  }

  // Closes its stdin, reads what it prints from here on and waits for its end; what it
  // printed. `status` gets its exit status, or -1 when it was not started or did not end
  // normally (which fails the test).
  std::string Finish(int* status = nullptr) {
    if (toChild_ >= 0) close(toChild_);
    toChild_ = -1;
    std::string printed;
    if (fromChild_ >= 0) {
      char buffer[256];
      ssize_t n;
      while ((n = read(fromChild_, buffer, sizeof buffer)) > 0) printed.append(buffer, n);
      close(fromChild_);
      fromChild_ = -1;
    }
    if (status != nullptr) *status = -1;
    if (pid_ > 0) {
      int wstatus = 0;
      const bool ended = waitpid(pid_, &wstatus, 0) == pid_ && WIFEXITED(wstatus);
      EXPECT_TRUE(ended) << "the helper did not end normally";
      if (ended && status != nullptr) *status = WEXITSTATUS(wstatus);
      pid_ = -1;
    }
    return printed;
  }

 private:
  pid_t pid_ = -1;
  int toChild_ = -1;
  int fromChild_ = -1;
};

#endif
