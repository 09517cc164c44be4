#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

namespace halvik {

class Clock;

// A worker thread the application waits for with a time limit. A thread that overruns its
// limit keeps running and stays joinable: the state it works on must outlive it, so the process
// ends without destroying that state rather than detach the thread under it.
class WorkerThread {
 public:
  WorkerThread() = default;
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;
  // Joins a thread that is still running (blocking): the owner has made sure it will end.
  ~WorkerThread();

  // `name` (at most 15 characters) is what ps, top and /proc/PID/task/*/comm show for the
  // thread, so its share of the processor can be told from the others'.
  void Start(std::function<void()> body, const char* name = nullptr);
  // Waits up to `limitMs` on `clock` for the thread to end; joins it and returns true when it
  // ended, false when it is still running.
  bool WaitFor(Clock& clock, std::int64_t limitMs);
  bool started() const { return thread_.joinable(); }
  bool ended() const { return ended_.load(std::memory_order_acquire); }

 private:
  std::thread thread_;
  std::atomic<bool> ended_{false};
};

}  // namespace halvik
