// The compliance check as the text `Hollin /Status` prints: a fixed set of "key: value" lines,
// one "setting:" line per time-out in the pass's order, and the result last. Every line is
// printed in every case, "-" standing for what could not be read. The format is a contract
// with the administrators' scripts (docs/ADMIN.md): new keys may come before "result:";
// anything else that changes, a key, a word or a field, raises "format".
#ifndef PM_STATUSREPORT_H
#define PM_STATUSREPORT_H

#include <string>

#include "PolicyStatus.h"

// The report, each line ended by "\n".
std::string FormatPolicyStatus(const PolicyStatus& status);

#endif
