#include "app/WorkerThread.h"

#include <pthread.h>

#include "platform/Clock.h"

namespace halvik {

namespace {
// How often a waiting owner looks whether the thread has ended.
constexpr std::int64_t kPollMs = 10;
}  // namespace

WorkerThread::~WorkerThread() {
  if (thread_.joinable()) thread_.join();
}

void WorkerThread::Start(std::function<void()> body, const char* name) {
  ended_.store(false, std::memory_order_relaxed);
  thread_ = std::thread([this, body = std::move(body), name] {
    // A name that does not fit is refused by the system; the thread runs unnamed.
    if (name != nullptr) (void)pthread_setname_np(pthread_self(), name);
    body();
    ended_.store(true, std::memory_order_release);
  });
}

bool WorkerThread::WaitFor(Clock& clock, std::int64_t limitMs) {
  if (!thread_.joinable()) return true;
  std::int64_t start = clock.MonotonicMs();
  while (!ended()) {
    if (clock.MonotonicMs() - start >= limitMs) return false;
    clock.SleepMs(kPollMs);
  }
  thread_.join();
  return true;
}

}  // namespace halvik
