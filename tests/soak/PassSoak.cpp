// The soak: many update passes in one process, as the service runs them for years, checking
// that nothing grows from one pass to the next: the heap in use, the open keys and handles,
// and the stand-in's own records (its calls and debug texts, kept only while a test asks).
//
//   pass_soak --passes N [--machine legacy|current]   N passes, the service's and the logon
//       tool's in turn, called as the programs call them, in a process that never resets the
//       stand-in (as a host program run from the shell)
//   pass_soak --loop N [--machine legacy|current]     the service itself: its run loop, started
//       as the service control manager starts it, N passes ten virtual minutes apart, then a
//       stop
//
// Each pass changes all eight settings: the policy flips between two sets of time-outs
// before every pass. The heap is sampled after a warm-up (a tenth of the passes) and at the
// end; the check fails when it grew by more than the allowance, which covers the
// allocator's noise but not a byte per pass. Exit status 0 when everything stayed flat.
// Also run under valgrind by CTest, with few passes, as the leak check of both variants and
// of the service loop.
#include <malloc.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "AlternatingPolicy.h"
#include "Hollin.h"
#include "HostControl.h"
#include "HostServiceControl.h"
#include "PassVariant.h"
#include "RegistrySchema.h"

namespace {

constexpr const char* kServiceName = "Ulmora_Tarn_Hollin";
// Growth of the heap in use allowed between the warm-up and the end.
constexpr long long kHeapAllowance = 64 * 1024;
// The log is cut back to nothing this often, so that its size stays bounded.
constexpr unsigned kLogTrimEvery = 1000;

struct Options {
  bool loop = false;
  unsigned long passes = 0;
  bool current = false;
};

bool ParseOptions(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if ((arg == "--passes" || arg == "--loop") && i + 1 < argc) {
      options->loop = arg == "--loop";
      options->passes = std::strtoul(argv[++i], nullptr, 10);
    } else if (arg == "--machine" && i + 1 < argc) {
      const std::string machine = argv[++i];
      if (machine != "legacy" && machine != "current") return false;
      options->current = machine == "current";
    } else {
      return false;
    }
  }
  return options->passes > 0;
}

long long HeapInUse() { return static_cast<long long>(mallinfo2().uordblks); }

long long RssKiB() {
  std::ifstream statm("/proc/self/statm");
  long long pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return text;
}

void Import(const std::string& path) {
  std::string error;
  if (!host::ImportRegFile(path, &error)) {
    std::fprintf(stderr, "pass_soak: %s\n", error.c_str());
    std::exit(2);
  }
}

// The default schemes of the machine kind and the example policy, logging its success lines
// (level 6) to `log`.
void SeedWorld(bool current, const std::string& log) {
  Import(current ? PM_FIXTURES_DIR "/current-default-schemes.reg"
                 : PM_FIXTURES_DIR "/default-schemes.reg");
  Import(PM_EXAMPLES_DIR "/example-policy.reg");
  const std::string options = std::string(schema::kPolicyRoot) + schema::kOptionsSubKey;
  host::WriteString(HKEY_LOCAL_MACHINE, options, schema::kLogFile, log);
  host::WriteDword(HKEY_LOCAL_MACHINE, options, schema::kLogLevel, 6);
}

struct Sample {
  long long heap = 0;
  long long rss = 0;
};

class Soak {
 public:
  Soak(const Options& options, std::string log)
      : options_(options), log_(std::move(log)), warmUp_(std::max(1ul, options.passes / 10)) {}

  // Called before pass `pass` (0-based) starts.
  void BeforePass(unsigned long pass) {
    SetAlternatingPolicy(pass);
    if (pass % kLogTrimEvery == 0) std::ofstream(log_, std::ios::trunc);
    if (pass == warmUp_) warm_ = Take();
  }

  // The handles open between passes: none in a program that only runs passes; the service's
  // own (its stop event) in the run loop.
  void SetIdleHandles(size_t count) { idleHandles_ = count; }

  // Called once pass `pass` has ended; false when it left a handle open.
  bool AfterPass(unsigned long pass) {
    if (host::OpenHandleCount() != idleHandles_ && handleFailures_++ == 0) {
      std::fprintf(stderr, "pass_soak: pass %lu left %zu handles open (%zu before)\n", pass + 1,
                   host::OpenHandleCount(), idleHandles_);
    }
    return handleFailures_ == 0;
  }

  // Prints the figures; true when nothing grew.
  bool Report(bool recordsKept) {
    const Sample end = Take();
    const long long growth = end.heap - warm_.heap;
    const size_t calls = host::Calls().size();
    const size_t texts = host::DebugOutput().size();
    std::printf(
        "pass_soak: %lu passes (%s, %s machine): heap in use %lld -> %lld bytes after pass %lu "
        "and at the end (%+lld), RSS %lld -> %lld KiB, open handles after each pass as before%s, "
        "calls recorded %zu, debug texts kept %zu\n",
        options_.passes, options_.loop ? "the service's run loop" : "both variants in turn",
        options_.current ? "current" : "legacy", warm_.heap, end.heap, warmUp_, growth, warm_.rss,
        end.rss, handleFailures_ == 0 ? "" : " NOT ALWAYS", calls, texts);
    bool flat = handleFailures_ == 0;
    if (growth > kHeapAllowance) {
      std::fprintf(stderr, "pass_soak: the heap grew by %lld bytes (%.1f per pass)\n", growth,
                   static_cast<double>(growth) / static_cast<double>(options_.passes - warmUp_));
      flat = false;
    }
    if (!recordsKept && (calls != 0 || texts != 0)) {
      std::fprintf(stderr, "pass_soak: the stand-in kept records nobody asked for\n");
      flat = false;
    }
    return flat;
  }

 private:
  static Sample Take() { return {HeapInUse(), RssKiB()}; }

  Options options_;
  std::string log_;
  unsigned long warmUp_;
  Sample warm_;
  unsigned long handleFailures_ = 0;
  size_t idleHandles_ = 0;
};

// Passes called as the programs call them, the service's and the logon tool's in turn, in a
// process that never resets the stand-in.
bool SoakPasses(const Options& options, const std::string& log) {
  host::SetPowerMachine(options.current ? host::PowerMachine::kCurrent
                                        : host::PowerMachine::kLegacyOnly);
  SeedWorld(options.current, log);
  Soak soak(options, log);
  for (unsigned long pass = 0; pass < options.passes; ++pass) {
    soak.BeforePass(pass);
    RunPolicyPass(pass % 2 == 0 ? kServicePass : kLogonPass);
    if (!soak.AfterPass(pass)) break;
  }
  return soak.Report(false);
}

// The service's run loop: started as the service control manager starts it, one pass two
// seconds after the start and one after every ten minutes, on the virtual clock.
bool SoakServiceLoop(const Options& options, const std::string& log) {
  host::Reset();
  // Nothing here reads the records; a long-running test keeps none.
  host::RecordCalls(false);
  host::SetPowerMachine(options.current ? host::PowerMachine::kCurrent
                                        : host::PowerMachine::kLegacyOnly);
  SeedWorld(options.current, log);
  // The loop runs as long as the soak does.
  host::SetDispatcherSafetyTimeout(24u * 3600u * 1000u);
  host::ArrangeServiceStart(kServiceName);
  Soak soak(options, log);

  std::atomic<int> exitStatus{-1};
  char program[] = "Hollin.exe";
  char* argv[] = {program, nullptr};
  std::thread dispatcher([&] { exitStatus = HollinMain(1, argv); });
  bool ok = host::WaitForBlockedThreads(1);
  soak.SetIdleHandles(host::OpenHandleCount());
  for (unsigned long pass = 0; ok && pass < options.passes; ++pass) {
    soak.BeforePass(pass);
    host::AdvanceClock(pass == 0 ? 2000 : 600000);
    // The service is parked again in its wait once the pass is over.
    ok = host::WaitForBlockedThreads(1) && soak.AfterPass(pass);
  }
  host::SendServiceControl(SERVICE_CONTROL_STOP);
  dispatcher.join();
  if (exitStatus != 0) {
    std::fprintf(stderr, "pass_soak: the service ended with status %d\n", exitStatus.load());
    ok = false;
  }
  return soak.Report(false) && ok;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) {
    std::fprintf(stderr, "usage: pass_soak --passes N | --loop N [--machine legacy|current]\n");
    return 2;
  }
  // The registry lives in memory: a registry file would be written at every flush.
  unsetenv(host::kRegistryFileVariable);
  host::SetDebugEcho(false);
  std::string dir = std::filesystem::temp_directory_path().string() + "/pass_soak_XXXXXX";
  if (mkdtemp(dir.data()) == nullptr) return 2;
  const std::string log = dir + "/dorvane.log";

  const bool flat = options.loop ? SoakServiceLoop(options, log) : SoakPasses(options, log);
  const bool logged = !ReadText(log).empty();
  std::filesystem::remove_all(dir);
  if (!logged) {
    std::fprintf(stderr, "pass_soak: the passes wrote no log\n");
    return 1;
  }
  return flat ? 0 : 1;
}
