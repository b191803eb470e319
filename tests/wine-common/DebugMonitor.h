// A debug-output monitor: receives what every process of the session sends with
// OutputDebugStringA, with the sender's process id, through the shared buffer that such
// monitors use (mutex DBWinMutex, mapping DBWIN_BUFFER, events DBWIN_BUFFER_READY and
// DBWIN_DATA_READY). Under Wine a service's texts arrive the same way; on Windows a service
// in session 0 writes to the Global\ objects instead.
#ifndef PM_WINE_DEBUGMONITOR_H
#define PM_WINE_DEBUGMONITOR_H

#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace winetest {

struct DebugText {
  DWORD processId;
  std::string text;
};

class DebugMonitor {
 public:
  DebugMonitor();
  DebugMonitor(const DebugMonitor&) = delete;
  DebugMonitor& operator=(const DebugMonitor&) = delete;
  ~DebugMonitor();

  // False when the shared objects could not be made, or another monitor holds them.
  bool Listening() const { return listening_; }
  // Everything received so far, in order.
  std::vector<DebugText> All() const;
  // The texts of one process, in order.
  std::vector<std::string> TextsOf(DWORD processId) const;
  // Waits up to `timeoutMs` until `processId` has sent `text`.
  bool WaitFor(DWORD processId, const std::string& text, DWORD timeoutMs) const;
  // Waits until every text sent before this call has been received: a sender does not wait
  // for its last text to be taken, so a program may end before the monitor has it. Sends a
  // marker of its own (a text of this process) and waits for it to come through after them.
  bool Settle();

 private:
  void Receive();

  HANDLE mutex_ = nullptr;
  HANDLE mapping_ = nullptr;
  HANDLE bufferReady_ = nullptr;
  HANDLE dataReady_ = nullptr;
  const char* view_ = nullptr;
  bool listening_ = false;
  std::atomic<bool> stopping_{false};
  mutable std::mutex lock_;
  std::vector<DebugText> received_;
  int markers_ = 0;
  std::thread receiver_;
};

}  // namespace winetest

#endif
