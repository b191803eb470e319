// Entry gate of every host stand-in function: records the call and applies injected
// failures (see HostControl.h), in the shape the gate table gives the function
// (GatedFunctions.h). Internal to platform/host.
//
// Each function opens its gate with its own name, so the name cannot be misspelt:
//   host::detail::CallGate gate(__func__);
//   if (gate.Fails()) return gate.Answer<BOOL>();
#ifndef PM_HOST_CALLGATE_H
#define PM_HOST_CALLGATE_H

#include <cstdint>
#include <type_traits>

#include "GatedFunctions.h"
#include "HostWin32.h"

namespace host::detail {

// The table entry of a gated function: its shape when it can fail, null when it cannot.
struct GateEntry {
  const char* name;
  const FailableFunction* failable;
};
// The entry of the function of this name. A name the table lacks stops the program with a
// message: the table is how tests know the function, so none may pass the gate without it.
const GateEntry& FindGateEntry(const char* function);

// Whether one call fails, and the failure answer in the shape of its function.
class GateVerdict {
 public:
  GateVerdict() = default;
  GateVerdict(const GateEntry* entry, DWORD error) : entry_(entry), error_(error) {}

  explicit operator bool() const { return error_ != 0; }
  DWORD error() const { return error_; }

  // What a failing function whose shape is kItsArgument answers: the argument it was given.
  template <typename Result>
  Result Answer(Result itsArgument) const {
    if (entry_->failable->lastError == LastError::kSet) SetLastError(error_);
    return itsArgument;
  }

  // What the failing function answers; sets the last error when its shape says so.
  template <typename Result>
  Result Answer() const {
    if (entry_->failable->lastError == LastError::kSet) SetLastError(error_);
    if constexpr (!std::is_void_v<Result>) {
      switch (entry_->failable->answer) {
        case FailureAnswer::kTheError:
          return FromInteger<Result>(static_cast<intptr_t>(error_));
        case FailureAnswer::kMinusOne:
          return FromInteger<Result>(-1);
        case FailureAnswer::kZero:
        case FailureAnswer::kNothing:
        case FailureAnswer::kItsArgument:
          break;
      }
      return Result{};
    }
  }

 private:
  template <typename Result>
  static Result FromInteger(intptr_t value) {
    if constexpr (std::is_pointer_v<Result>) {
      return reinterpret_cast<Result>(value);
    } else {
      return static_cast<Result>(value);
    }
  }

  const GateEntry* entry_ = nullptr;
  DWORD error_ = 0;
};

// Guards one call of a platform function. Only the outermost call on a thread is recorded
// and can be failed: calls that the stand-in makes to itself (the power profile reads the
// registry, for instance) are invisible to tests, as they would be on Windows.
class CallGate {
 public:
  explicit CallGate(const char* function);
  ~CallGate();
  CallGate(const CallGate&) = delete;
  CallGate& operator=(const CallGate&) = delete;

  bool Fails() const { return static_cast<bool>(verdict_); }
  template <typename Result>
  Result Answer() const {
    return verdict_.Answer<Result>();
  }
  template <typename Result>
  Result Answer(Result itsArgument) const {
    return verdict_.Answer<Result>(itsArgument);
  }
  const GateVerdict& verdict() const { return verdict_; }

 private:
  GateVerdict verdict_;
};

// The gate of a function that calls back into the program (a window procedure, a service's
// main function): passed and closed again at once, so the program's own calls from the
// callback are recorded and can be failed like any other.
GateVerdict PassGate(const char* function);

}  // namespace host::detail

#endif
