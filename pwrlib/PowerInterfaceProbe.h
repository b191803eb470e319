// Which power-scheme interface this machine offers, asked without trusting the version number
// (which manifests and compatibility shims change): the current interface when powrprof.dll
// exports every current function the library needs and PowerGetActiveScheme answers; the
// legacy interface otherwise.
//
// The probe writes one debug text that names its choice, and for the legacy interface why:
//   "Power scheme interface: current"
//   "Power scheme interface: legacy (powrprof.dll not loaded, error N)"
//   "Power scheme interface: legacy (powrprof.dll has no NAME)"
//   "Power scheme interface: legacy (PowerGetActiveScheme failed with error N)"
// With the current interface the library stays loaded for the life of the process.
#ifndef PM_POWERINTERFACEPROBE_H
#define PM_POWERINTERFACEPROBE_H

#include <memory>

#include "PowerInterface.h"

std::unique_ptr<PowerInterface> ProbePowerInterface();

#endif
