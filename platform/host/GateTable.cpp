// The gate table's index by name, and the check that every name in it is a function the
// stand-in declares.
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <type_traits>
#include <unordered_map>

#include "CallGate.h"
#include "CurrentPowerExports.h"

namespace host::detail {
namespace {

template <typename Function>
struct ResultOf;
template <typename Result, typename... Arguments>
struct ResultOf<Result (*)(Arguments...)> {
  using Type = Result;
};

// An answer fits the function's result: nothing for a function without one, the error
// itself only for a result that carries an error code (LONG or DWORD).
template <typename Function>
constexpr bool AnswerFits(FailureAnswer answer) {
  using Result = typename ResultOf<Function>::Type;
  if (answer == FailureAnswer::kNothing) return std::is_void_v<Result>;
  if (answer == FailureAnswer::kTheError) {
    return std::is_same_v<Result, LONG> || std::is_same_v<Result, DWORD>;
  }
  return !std::is_void_v<Result>;
}

// A name in the table that is no declared function does not compile, nor does an answer
// its function's result cannot carry.
#define HOST_CHECK_FAILABLE(name, answer, lastError, effect) \
  static_assert(AnswerFits<decltype(&::name)>(FailureAnswer::answer), #name);
#define HOST_CHECK_RECORDED(name) static_assert(sizeof(&::name) > 0, #name);
HOST_FAILABLE_FUNCTIONS(HOST_CHECK_FAILABLE)
HOST_RECORDED_FUNCTIONS(HOST_CHECK_RECORDED)
#undef HOST_CHECK_FAILABLE
#undef HOST_CHECK_RECORDED

using Index = std::unordered_map<std::string_view, GateEntry>;

const Index& TableIndex() {
  static const Index* index = [] {
    auto* built = new Index;
    for (const FailableFunction& function : kFailableFunctions) {
      built->emplace(function.name, GateEntry{function.name, &function});
    }
    for (const RecordedFunction& function : kRecordedFunctions) {
      built->emplace(function.name, GateEntry{function.name, nullptr});
    }
    return built;
  }();
  return *index;
}

}  // namespace

const GateEntry& FindGateEntry(const char* function) {
  const Index& index = TableIndex();
  auto found = index.find(function);
  if (found == index.end()) {
    std::fprintf(stderr,
                 "host stand-in: %s passes the call gate but is not in the gate table "
                 "(platform/host/control/GatedFunctions.h)\n",
                 function);
    std::abort();
  }
  return found->second;
}

}  // namespace host::detail
