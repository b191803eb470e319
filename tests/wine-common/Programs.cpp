#include "Programs.h"

#include <thread>

namespace winetest {

namespace {

std::string DirectoryOf(const std::string& path) {
  return path.substr(0, path.find_last_of('\\') + 1);
}

std::string CommandLineOf(const std::string& program, const std::vector<std::string>& arguments) {
  std::string line = QuoteArgument(program);
  for (const std::string& argument : arguments) line += " " + QuoteArgument(argument);
  return line;
}

}  // namespace

std::string ProgramDir() {
  char path[MAX_PATH + 1] = "";
  DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  return DirectoryOf(std::string(path, n));
}

std::string SystemDir() {
  char path[MAX_PATH + 1] = "";
  UINT n = GetSystemDirectoryA(path, sizeof path);
  return std::string(path, n);
}

std::string WindowsDir() {
  char path[MAX_PATH + 1] = "";
  UINT n = GetWindowsDirectoryA(path, sizeof path);
  return std::string(path, n);
}

bool IsWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::string WinePathOf(const std::string& unixPath) {
  std::string path = "Z:" + unixPath;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

std::string QuoteArgument(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    // Backslashes count double before a quote, and the quote itself is escaped.
    quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(2 * backslashes, '\\');
  return quoted + "\"";
}

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                      DWORD timeoutMs) {
  ProgramRun run;
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
    run.startError = GetLastError();
    return run;
  }
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  HANDLE nothing = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                               OPEN_EXISTING, 0, nullptr);

  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nothing;
  startup.hStdOutput = writeEnd;
  startup.hStdError = writeEnd;
  std::string commandLine = CommandLineOf(program, arguments);
  PROCESS_INFORMATION info = {};
  run.started = CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr,
                               DirectoryOf(program).c_str(), &startup, &info) != FALSE;
  if (!run.started) run.startError = GetLastError();
  // Only the child holds the write end now, so the reader sees the end of the output when
  // the child ends.
  CloseHandle(writeEnd);
  if (nothing != INVALID_HANDLE_VALUE) CloseHandle(nothing);
  if (!run.started) {
    CloseHandle(readEnd);
    return run;
  }
  CloseHandle(info.hThread);
  run.processId = info.dwProcessId;

  std::thread reader([readEnd, &run] {
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got > 0) {
      run.output.append(buffer, got);
    }
  });
  run.ended = WaitForSingleObject(info.hProcess, timeoutMs) == WAIT_OBJECT_0;
  if (!run.ended) {
    TerminateProcess(info.hProcess, 255);
    WaitForSingleObject(info.hProcess, 5000);
  }
  GetExitCodeProcess(info.hProcess, &run.exitCode);
  CloseHandle(info.hProcess);
  reader.join();
  CloseHandle(readEnd);
  return run;
}

std::vector<std::string> OutputLines(const std::string& output) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = output.find("\r\n", start)) != std::string::npos; start = end + 2) {
    lines.push_back(output.substr(start, end - start));
  }
  if (start < output.size()) lines.push_back(output.substr(start));
  return lines;
}

RunningProgram::~RunningProgram() { Kill(); }

bool RunningProgram::Start(const std::string& program, const std::vector<std::string>& arguments) {
  Kill();
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  std::string commandLine = CommandLineOf(program, arguments);
  PROCESS_INFORMATION info = {};
  if (!CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                      DirectoryOf(program).c_str(), &startup, &info)) {
    startError_ = GetLastError();
    return false;
  }
  CloseHandle(info.hThread);
  process_ = info.hProcess;
  processId_ = info.dwProcessId;
  return true;
}

bool RunningProgram::WaitUntilIdle(DWORD timeoutMs) {
  return process_ != nullptr && WaitForInputIdle(process_, timeoutMs) == 0;
}

bool RunningProgram::Wait(DWORD timeoutMs, DWORD* exitCode) {
  if (process_ == nullptr || WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0) {
    return false;
  }
  GetExitCodeProcess(process_, exitCode);
  CloseHandle(process_);
  process_ = nullptr;
  return true;
}

void RunningProgram::Kill() {
  if (process_ == nullptr) return;
  TerminateProcess(process_, 255);
  WaitForSingleObject(process_, 5000);
  CloseHandle(process_);
  process_ = nullptr;
}

}  // namespace winetest
