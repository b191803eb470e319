// Entry gate of every host stand-in function: records the call and applies injected
// failures (see HostControl.h). Internal to platform/host.
#ifndef PM_HOST_CALLGATE_H
#define PM_HOST_CALLGATE_H

#include "HostWin32.h"

namespace host::detail {

// Guards one call of a platform function. Only the outermost call on a thread is recorded
// and can be failed: calls that the stand-in makes to itself (the power profile reads the
// registry, for instance) are invisible to tests, as they would be on Windows.
class CallGate {
 public:
  explicit CallGate(const char* function);
  ~CallGate();
  CallGate(const CallGate&) = delete;
  CallGate& operator=(const CallGate&) = delete;

  // The error this call must fail with, or 0 when it goes ahead.
  DWORD injected() const { return injected_; }
  // For functions that report failure through the last error: true when this call must fail,
  // with the last error set to the injected error.
  bool FailsWithLastError() const;

 private:
  DWORD injected_ = 0;
};

}  // namespace host::detail

#endif
