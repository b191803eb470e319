// The cost of an update pass on the host stand-in: the service's pass with eight settings
// changing and with none, on a legacy and on a current machine (the default schemes, the
// example policy, a log of every line in a scratch folder, the registry in memory).
//
// Before the benchmarks it prints the platform calls one pass makes, by function, from the
// stand-in's record. Then, for each world:
//   Pass/<world>    one pass, as the service runs it
//   Replay/<world>  the same platform calls with the same arguments, made straight from a
//                   recording of that pass (CallReplay.h): the platform's share of the pass
// and at the end the ratio of the two, which is what the system itself adds to the calls it
// makes. Figures, not checks: nothing here asserts a time.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "AlternatingPolicy.h"
#include "CallReplay.h"
#include "HostControl.h"
#include "PassVariant.h"
#include "RegistrySchema.h"

namespace {

struct World {
  const char* name;
  bool current;
  bool changes;  // all eight settings change in every pass
};

const World kWorlds[] = {
    {"legacy/eight_changes", false, true},
    {"legacy/no_change", false, false},
    {"current/eight_changes", true, true},
    {"current/no_change", true, false},
};

const std::string& LogPath() {
  static const std::string path = [] {
    std::string dir = std::filesystem::temp_directory_path().string() + "/pass_bench_XXXXXX";
    if (mkdtemp(dir.data()) == nullptr) std::abort();
    return dir + "/dorvane.log";
  }();
  return path;
}

void Import(const std::string& path) {
  std::string error;
  if (!host::ImportRegFile(path, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    std::abort();
  }
}

// A fresh stand-in holding the world, the library probed on its machine, and two passes run so
// that a world without changes is already enforced: the first enforces the policy, the second
// records the enforced scheme in the backup key's snapshot. Records no calls.
void Prepare(const World& world) {
  host::Reset();
  host::SetDebugEcho(false);
  host::SetPowerMachine(world.current ? host::PowerMachine::kCurrent
                                      : host::PowerMachine::kLegacyOnly);
  Import(world.current ? PM_FIXTURES_DIR "/current-default-schemes.reg"
                       : PM_FIXTURES_DIR "/default-schemes.reg");
  Import(PM_EXAMPLES_DIR "/example-policy.reg");
  const std::string options = std::string(schema::kPolicyRoot) + schema::kOptionsSubKey;
  host::WriteString(HKEY_LOCAL_MACHINE, options, schema::kLogFile, LogPath());
  SetAlternatingPolicy(0);
  RunPolicyPass(kServicePass);
  RunPolicyPass(kServicePass);
  host::RecordCalls(false);
}

// What comes before each measured pass; not measured. The log is cut back now and then.
void BeforePass(benchmark::State& state, const World& world, unsigned long pass) {
  if (!world.changes && pass % 1000 != 0) return;
  state.PauseTiming();
  if (world.changes) SetAlternatingPolicy(pass + 1);
  if (pass % 1000 == 0) std::ofstream(LogPath(), std::ios::trunc);
  state.ResumeTiming();
}

// One pass of the world, recorded by the stand-in, by function name.
std::vector<std::string> CallsOfOnePass(const World& world) {
  Prepare(world);
  if (world.changes) SetAlternatingPolicy(1);
  host::RecordCalls(true);
  host::ClearCalls();
  RunPolicyPass(kServicePass);
  return host::Calls();
}

bool IsRegistryCall(const std::string& name) { return name.compare(0, 3, "Reg") == 0; }

void PrintCallTable() {
  std::vector<std::map<std::string, int>> counts;
  std::map<std::string, int> all;
  for (const World& world : kWorlds) {
    counts.emplace_back();
    for (const std::string& call : CallsOfOnePass(world)) {
      ++counts.back()[call];
      all[call] = 0;
    }
  }
  std::printf("Platform calls of one pass (the service's), by function\n\n| function |");
  for (const World& world : kWorlds) std::printf(" %s |", world.name);
  std::printf("\n|---|");
  for (size_t i = 0; i < std::size(kWorlds); ++i) std::printf("---:|");
  std::printf("\n");
  for (const auto& entry : all) {
    std::printf("| %s |", entry.first.c_str());
    for (const auto& world : counts) {
      auto found = world.find(entry.first);
      std::printf(" %d |", found == world.end() ? 0 : found->second);
    }
    std::printf("\n");
  }
  const char* const kTotals[] = {"all calls", "registry calls", "of them RegFlushKey"};
  for (int row = 0; row < 3; ++row) {
    std::printf("| **%s** |", kTotals[row]);
    for (const auto& world : counts) {
      int sum = 0;
      for (const auto& entry : world) {
        const bool counted = row == 0 || (row == 1 && IsRegistryCall(entry.first)) ||
                             (row == 2 && entry.first == "RegFlushKey");
        if (counted) sum += entry.second;
      }
      std::printf(" %d |", sum);
    }
    std::printf("\n");
  }
  std::printf("\n");
  std::fflush(stdout);
}

void BM_Pass(benchmark::State& state, const World& world) {
  state.counters["calls"] = static_cast<double>(CallsOfOnePass(world).size());
  Prepare(world);
  unsigned long pass = 0;
  for (auto _ : state) {
    BeforePass(state, world, pass++);
    RunPolicyPass(kServicePass);
  }
}

void BM_Replay(benchmark::State& state, const World& world) {
  Prepare(world);
  if (world.changes) SetAlternatingPolicy(1);
  // The replay must make exactly the calls of the pass: compare the stand-in's records.
  host::RecordCalls(true);
  host::ClearCalls();
  replay::StartRecording();
  RunPolicyPass(kServicePass);
  const std::vector<replay::Call> calls = replay::StopRecording();
  const std::vector<std::string> passCalls = host::Calls();
  host::ClearCalls();
  replay::Replay(calls);
  if (host::Calls() != passCalls) {
    state.SkipWithError("the replay does not make the calls of the pass");
    return;
  }
  host::RecordCalls(false);
  state.counters["calls"] = static_cast<double>(passCalls.size());

  unsigned long pass = 0;
  for (auto _ : state) {
    BeforePass(state, world, pass++);
    replay::Replay(calls);
  }
}

// The console's report, and at the end the ratio of each pass to its replay.
// With repetitions, the median of each. CPU time: the machine may be shared, and what
// other programs take shows in the real time alone.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  RatioReporter() : ConsoleReporter(OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred) {
        failed_ = true;
      } else if (run.run_type == Run::RT_Iteration && medians_.count(run.run_name.str()) == 0) {
        times_[run.run_name.str()] = run.GetAdjustedCPUTime();
      } else if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
        times_[run.run_name.str()] = run.GetAdjustedCPUTime();
        medians_.insert(run.run_name.str());
      }
    }
  }

  bool Failed() const { return failed_; }

  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\nPass time / replay of its platform calls (what the system adds)\n");
    for (const World& world : kWorlds) {
      const auto pass = times_.find(std::string("Pass/") + world.name);
      const auto bare = times_.find(std::string("Replay/") + world.name);
      if (pass == times_.end() || bare == times_.end() || bare->second <= 0) continue;
      std::printf("  %-24s %.3f\n", world.name, pass->second / bare->second);
    }
  }

 private:
  std::map<std::string, double> times_;
  std::set<std::string> medians_;
  bool failed_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  unsetenv(host::kRegistryFileVariable);
  PrintCallTable();
  for (const World& world : kWorlds) {
    benchmark::RegisterBenchmark((std::string("Pass/") + world.name).c_str(), BM_Pass, world);
    benchmark::RegisterBenchmark((std::string("Replay/") + world.name).c_str(), BM_Replay, world);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  std::filesystem::remove_all(std::filesystem::path(LogPath()).parent_path());
  return reporter.Failed() ? 1 : 0;
}
