// Runs a test on one kind of machine: the stand-in's powrprof.dll offers the legacy or the
// current power-scheme interface, or neither (host::SetPowerMachine). The update pass and the
// compliance check probe the machine themselves, at every run; a test that builds PwrMgmt and
// PwrScheme objects itself gives them the interface a probe of the machine chose
// (ProbedOn), since objects built without one use the process's default.
//
// Every test program that uses the power-scheme library probes its default once before its
// first test (ProbeBeforeTests.cpp), on the stand-in's default machine (legacy only), and a
// test that switched machines switches back in its TearDown.
#ifndef PM_TESTS_POWERMACHINE_H
#define PM_TESTS_POWERMACHINE_H

#include <memory>

#include "HostControl.h"
#include "PowerInterfaceProbe.h"

// Switches the machine; the calls and debug texts recorded so far are cleared.
inline void UsePowerMachine(host::PowerMachine machine) {
  host::SetPowerMachine(machine);
  host::ClearCalls();
  host::ClearDebugOutput();
}

// Switches the machine and answers the interface a program started there would choose. The
// probe's own calls and debug text are cleared, so a test sees only what it does itself.
inline std::shared_ptr<PowerInterface> ProbedOn(host::PowerMachine machine) {
  host::SetPowerMachine(machine);
  std::shared_ptr<PowerInterface> power = ProbePowerInterface().power;
  host::ClearCalls();
  host::ClearDebugOutput();
  return power;
}

inline const char* MachineName(host::PowerMachine machine) {
  switch (machine) {
    case host::PowerMachine::kLegacyOnly:
      return "LegacyOnly";
    case host::PowerMachine::kCurrent:
      return "Current";
    case host::PowerMachine::kCurrentWithoutLegacy:
      return "CurrentWithoutLegacy";
    case host::PowerMachine::kWithoutPowrprof:
      break;
  }
  return "WithoutPowrprof";
}

#endif
