// Hollin's process entry. The work lies in HollinMain, so that tests can run the command
// line without ending their own process.
#include <cstdlib>

#include "Hollin.h"

int main(int argc, char** argv) { std::exit(HollinMain(argc, argv)); }
