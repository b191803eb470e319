// The path of a program in the Windows system directory, as the setup commands register it.
#ifndef HOLLIN_SYSTEMPATH_H
#define HOLLIN_SYSTEMPATH_H

#include "HollinConstants.h"

// The system directory followed by fileName ("\Hollin.exe"), cut to kPathBufferSize - 1
// characters when longer. When the system directory fills the whole buffer without a
// terminating zero, nothing is appended. False, with an empty path, when the system directory
// cannot be read into the buffer: the file name alone would name a program in the root of
// whatever drive is current.
bool BuildSystemPath(char (&path)[kPathBufferSize], const char* fileName);

#endif
