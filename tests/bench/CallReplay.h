// The platform calls of one update pass, recorded with their arguments and replayed: the
// bare loop against which the benchmark measures what the system itself adds to a pass.
//
// The benchmark program links the stand-in with every platform function the pass calls
// wrapped (the linker's --wrap, by each function's symbol: see CMakeLists.txt); the current
// power functions, which the library reaches through GetProcAddress, are wrapped by handing it
// the recorder's own entry points. While recording, each call the system makes (not those the
// stand-in makes to itself) is kept with copies of its inputs; the replay makes the same calls
// again, through the same entry points, with the same arguments, handles and memory blocks
// mapped to the ones the replay itself was given.
#ifndef PM_TESTS_CALLREPLAY_H
#define PM_TESTS_CALLREPLAY_H

#include <functional>
#include <memory>
#include <vector>

namespace replay {

class HandleMap;
using Call = std::function<void(HandleMap&)>;

// Records the calls made from now on until StopRecording.
void StartRecording();
std::vector<Call> StopRecording();

// Makes the recorded calls again, in order.
void Replay(const std::vector<Call>& calls);

}  // namespace replay

#endif
