// SweepEveryCall: runs a piece of the system once to record the platform calls it makes, then
// again for each of those calls, failing it once, and again failing it and every later call
// (the platform gone from then on), each time in a world prepared afresh; after every run it
// checks the invariants the caller gives and, when given, what that run must have ended in,
// knowing which calls failed. A run's failures name the call that was failed.
//
// The counts are printed, and a sweep stops at the first run that breaks an invariant.
#ifndef PM_TESTS_SWEEPEVERYCALL_H
#define PM_TESTS_SWEEPEVERYCALL_H

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "HostControl.h"
#include "LogLines.h"

// One run of a sweep, as its outcome check sees it.
struct SweepRun {
  size_t failing = 0;       // the call made to fail, counted from 1; 0 in the run without
  bool persistent = false;  // whether every later call failed too
  // The functions whose calls failed, in order, one entry per failed call (calls of functions
  // that cannot fail went ahead and are not listed).
  std::vector<std::string> failed;
};

struct Sweep {
  std::string name;                  // printed with the counts
  std::function<void()> prepare;     // resets the stand-in and seeds what the run needs
  std::function<void()> run;         // the system's code under test; it must return
  std::function<void()> invariants;  // what must hold after every run, failures or not
  // What the run must have ended in (optional): the outcome of the run without failures, or,
  // for a run with one, what that failure may leave.
  std::function<void(const SweepRun&)> outcome = nullptr;
};

struct SweepCounts {
  size_t calls = 0;  // platform calls of the run without failures: the sites swept
  size_t runs = 0;   // runs made, the one without failures included
};

// The error every failed call reports: not one the platform gives on its own here.
constexpr DWORD kSweptError = ERROR_GEN_FAILURE;

inline bool CanFail(const std::string& function) {
  for (const host::FailableFunction& failable : host::kFailableFunctions) {
    if (function == failable.name) return true;
  }
  return false;
}

inline SweepCounts SweepEveryCall(const Sweep& sweep) {
  SweepCounts counts;
  auto once = [&](const std::string& what, size_t failing, bool persistent) {
    SCOPED_TRACE(sweep.name + ": " + what);
    sweep.prepare();
    host::ClearCalls();
    if (failing != 0) host::FailNthCall(failing, kSweptError, persistent);
    sweep.run();
    host::ClearFailures();
    sweep.invariants();
    if (sweep.outcome) {
      SweepRun run{failing, persistent, {}};
      const std::vector<std::string> calls = host::Calls();
      for (size_t i = failing; failing != 0 && i <= calls.size(); ++i) {
        if (CanFail(calls[i - 1])) run.failed.push_back(calls[i - 1]);
        if (!persistent) break;
      }
      sweep.outcome(run);
    }
    ++counts.runs;
    return !::testing::Test::HasFailure();
  };

  if (!once("no call failing", 0, false)) return counts;
  const std::vector<std::string> calls = host::Calls();
  counts.calls = calls.size();
  for (size_t n = 1; n <= calls.size(); ++n) {
    const std::string site = "call " + std::to_string(n) + " (" + calls[n - 1] + ")";
    // A call that cannot fail would only repeat the run without failures.
    if (CanFail(calls[n - 1]) && !once(site + " failing once", n, false)) break;
    if (!once(site + " and every later call failing", n, true)) break;
  }
  std::cout << "[ SWEEP    ] " << sweep.name << ": " << counts.calls << " call sites, "
            << counts.runs << " runs\n";
  ::testing::Test::RecordProperty("sweep_call_sites", static_cast<int>(counts.calls));
  ::testing::Test::RecordProperty("sweep_runs", static_cast<int>(counts.runs));
  return counts;
}

#endif
