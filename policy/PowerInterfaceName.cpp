// The power-scheme interface a pass of this process uses, by name.
#include "PolicyUpdate.h"
#include "PowerInterface.h"

const char* PowerInterfaceName() { return ThePowerInterface().Name(); }
