#include "PowerInterface.h"

PowerInterface::PowerInterface(HMODULE loaded) : module(loaded) {}

// A service probes at every pass: each probe's reference to the library goes with its
// interface, so references do not pile up. A failed release changes nothing here.
PowerInterface::~PowerInterface() {
  if (module != nullptr) FreeLibrary(module);
}
