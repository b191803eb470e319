#include "StatusCommand.h"

#include <cstdio>
#include <string>

#include "PolicyStatus.h"
#include "StatusReport.h"

int RunStatusCommand() {
  const PolicyStatus status = CheckPolicyStatus();
  const std::string report = FormatPolicyStatus(status);
  std::fwrite(report.data(), 1, report.size(), stdout);
  std::fflush(stdout);
  if (status.cannotTell != CannotTell::kNo) return kStatusCannotTell;
  if (status.HeldElsewhere()) return kStatusHeldElsewhere;
  return status.Differs() ? kStatusDiffers : kStatusComplies;
}
