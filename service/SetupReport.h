// What one setup command reported: each failure text goes to the debugger output at once,
// and the command's exit status says whether there was any.
#ifndef HOLLIN_SETUPREPORT_H
#define HOLLIN_SETUPREPORT_H

#include "Hollin.h"
#include "HollinConstants.h"

class SetupReport {
 public:
  void Fail(const char* text) {
    ReportSetupError(text);
    failed_ = true;
  }
  int ExitStatus() const { return failed_ ? kSetupFailed : kSetupSucceeded; }

 private:
  bool failed_ = false;
};

#endif
