#include "DebugMonitor.h"

#include <cstring>

namespace winetest {

namespace {

// The buffer: the sender's process id, then the text and its terminating zero.
constexpr DWORD kBufferSize = 4096;

}  // namespace

DebugMonitor::DebugMonitor() {
  mutex_ = CreateMutexA(nullptr, FALSE, "DBWinMutex");
  mapping_ = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kBufferSize,
                                "DBWIN_BUFFER");
  const bool anotherMonitor = mapping_ != nullptr && GetLastError() == ERROR_ALREADY_EXISTS;
  bufferReady_ = CreateEventA(nullptr, FALSE, FALSE, "DBWIN_BUFFER_READY");
  dataReady_ = CreateEventA(nullptr, FALSE, FALSE, "DBWIN_DATA_READY");
  if (mapping_ != nullptr) {
    view_ = static_cast<const char*>(MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, kBufferSize));
  }
  listening_ = mutex_ != nullptr && view_ != nullptr && bufferReady_ != nullptr &&
               dataReady_ != nullptr && !anotherMonitor;
  if (listening_) {
    receiver_ = std::thread([this] { Receive(); });
    SetEvent(bufferReady_);
  }
}

DebugMonitor::~DebugMonitor() {
  stopping_ = true;
  if (receiver_.joinable()) receiver_.join();
  if (view_ != nullptr) UnmapViewOfFile(view_);
  for (HANDLE handle : {dataReady_, bufferReady_, mapping_, mutex_}) {
    if (handle != nullptr) CloseHandle(handle);
  }
}

void DebugMonitor::Receive() {
  while (!stopping_) {
    if (WaitForSingleObject(dataReady_, 50) != WAIT_OBJECT_0) continue;
    DebugText received;
    std::memcpy(&received.processId, view_, sizeof received.processId);
    const char* text = view_ + sizeof received.processId;
    received.text.assign(text, strnlen(text, kBufferSize - sizeof received.processId));
    {
      std::lock_guard<std::mutex> hold(lock_);
      received_.push_back(received);
    }
    SetEvent(bufferReady_);
  }
}

std::vector<DebugText> DebugMonitor::All() const {
  std::lock_guard<std::mutex> hold(lock_);
  return received_;
}

std::vector<std::string> DebugMonitor::TextsOf(DWORD processId) const {
  std::vector<std::string> texts;
  for (const DebugText& received : All()) {
    if (received.processId == processId) texts.push_back(received.text);
  }
  return texts;
}

bool DebugMonitor::WaitFor(DWORD processId, const std::string& text, DWORD timeoutMs) const {
  for (DWORD waited = 0;; waited += 50) {
    for (const std::string& sent : TextsOf(processId)) {
      if (sent == text) return true;
    }
    if (waited >= timeoutMs) return false;
    Sleep(50);
  }
}

bool DebugMonitor::Settle() {
  const std::string marker = "debug monitor marker " + std::to_string(++markers_);
  OutputDebugStringA(marker.c_str());
  return WaitFor(GetCurrentProcessId(), marker, 15000);
}

}  // namespace winetest
