// A thread for a test to run blocking platform calls on (a dispatcher, a sleeper, a waiter)
// while the test drives the stand-in's clock and controls from the main thread.
//
// A test that fails while the thread is still blocked must not hang or abort: the destructor
// gives the thread a moment and then leaves it behind (host::Reset() abandons it for good).
// Whatever the work captures must therefore outlive the test, or be captured by value.
#ifndef PM_TESTS_BACKGROUNDTHREAD_H
#define PM_TESTS_BACKGROUNDTHREAD_H

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class BackgroundThread {
 public:
  explicit BackgroundThread(std::function<void()> work) : done_(std::make_shared<Done>()) {
    thread_ = std::thread([work = std::move(work), done = done_] {
      work();
      std::lock_guard<std::mutex> lock(done->mutex);
      done->finished = true;
      done->changed.notify_all();
    });
  }
  ~BackgroundThread() {
    if (!Join(1000)) thread_.detach();
  }
  BackgroundThread(const BackgroundThread&) = delete;
  BackgroundThread& operator=(const BackgroundThread&) = delete;

  // Waits, in real time, for the work to end; false when it has not ended by then.
  bool Join(unsigned realTimeoutMs = 5000) {
    if (!thread_.joinable()) return done_->finished;
    {
      std::unique_lock<std::mutex> lock(done_->mutex);
      if (!done_->changed.wait_for(lock, std::chrono::milliseconds(realTimeoutMs),
                                   [this] { return done_->finished; })) {
        return false;
      }
    }
    thread_.join();
    return true;
  }

  bool Finished() {
    std::lock_guard<std::mutex> lock(done_->mutex);
    return done_->finished;
  }

 private:
  struct Done {
    std::mutex mutex;
    std::condition_variable changed;
    bool finished = false;
  };
  std::shared_ptr<Done> done_;
  std::thread thread_;
};

#endif
