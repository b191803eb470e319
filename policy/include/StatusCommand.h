// Hollin's "/Status": the compliance check, printed on stdout for a person and a script, and
// its answer as the exit status. It changes nothing on the machine.
#ifndef PM_STATUSCOMMAND_H
#define PM_STATUSCOMMAND_H

// The exit statuses.
constexpr int kStatusComplies = 0;    // a pass would change nothing
constexpr int kStatusDiffers = 1;     // a pass would change a setting, or try and be refused
constexpr int kStatusCannotTell = 2;  // no root, a rejected version or scheme name, no scheme
// Windows' own power policy holds a setting at another value than this policy's: no pass can
// change that, so it outranks kStatusDiffers, which a pass mends.
constexpr int kStatusHeldElsewhere = 3;

// Prints the report and answers its exit status.
int RunStatusCommand();

#endif
