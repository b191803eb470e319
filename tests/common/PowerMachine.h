// Runs a test on one kind of machine: the stand-in's powrprof.dll offers the legacy or the
// current power-scheme interface (host::SetPowerMachine), and the library probes again, as a
// program started on that machine would at its first use.
//
// The probe's own calls and debug text are cleared, so a test sees only what it does itself.
// Every test program that uses the power-scheme library also probes once before its first test
// (ProbeBeforeTests.cpp), on the stand-in's default machine (legacy only), and a test that
// switched machines switches back in its TearDown, so the others never see a probe.
#ifndef PM_TESTS_POWERMACHINE_H
#define PM_TESTS_POWERMACHINE_H

#include "HostControl.h"
#include "PowerInterface.h"

inline void UsePowerMachine(host::PowerMachine machine) {
  host::SetPowerMachine(machine);
  ChoosePowerInterfaceAgain();
  host::ClearCalls();
  host::ClearDebugOutput();
}

inline const char* MachineName(host::PowerMachine machine) {
  return machine == host::PowerMachine::kCurrent ? "Current" : "LegacyOnly";
}

#endif
