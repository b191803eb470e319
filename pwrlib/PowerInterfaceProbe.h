// Which power-scheme interface this machine offers, asked without trusting the version number
// (which manifests and compatibility shims change). powrprof.dll is loaded once per probe:
//   the current interface when it exports every current function and PowerGetActiveScheme
//   answers;
//   else the legacy interface when it exports every legacy function;
//   else none: every call of that interface fails.
//
// The probe writes one debug text that names its choice and, unless it is the current
// interface, why:
//   "Power scheme interface: current"
//   "Power scheme interface: legacy (powrprof.dll has no NAME)"
//   "Power scheme interface: legacy (PowerGetActiveScheme failed with error N)"
//   "Power scheme interface: none (powrprof.dll not loaded, error N)"
//   "Power scheme interface: none (WHY NOT CURRENT; powrprof.dll has no NAME)"
// The interface chosen holds the library loaded until it is destroyed.
#ifndef PM_POWERINTERFACEPROBE_H
#define PM_POWERINTERFACEPROBE_H

#include <memory>
#include <string>

#include "PowerInterface.h"

struct ProbedPowerInterface {
  // Never null: without an interface, one named "none" whose every call fails.
  std::shared_ptr<PowerInterface> power;
  // Whether the machine offers an interface at all.
  bool found = false;
  // The text in the debug text's parentheses; empty for the current interface.
  std::string why;
};

// Probes afresh: an update pass and the compliance check ask at every run, so that a pass after
// a passing failure of the platform finds the current interface again.
ProbedPowerInterface ProbePowerInterface();

// The interface of objects built without one (the exerciser's, which live as long as the
// program): probed at the first call, kept until the process ends.
std::shared_ptr<PowerInterface> DefaultPowerInterface();

#endif
