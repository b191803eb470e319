// The power-scheme interface a pass would use now, by name.
#include "PolicyUpdate.h"
#include "PowerInterfaceProbe.h"

// The interface is let go at once; the name is a constant text.
const char* PowerInterfaceName() { return ProbePowerInterface().power->Name(); }
