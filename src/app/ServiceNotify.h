#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "app/Station.h"

namespace halvik {

// Tells the service manager (a Type=notify unit) how the station is: READY=1 once the tracking
// thread has finished its start-up, STATUS= with the one-line status, WATCHDOG=1 only while
// both worker threads make progress, STOPPING=1 when the shut-down begins. Runs on a thread of
// its own and only reads shared values, so a stuck service manager never holds up a worker.
// Without NOTIFY_SOCKET in the environment it does nothing at all.
class ServiceNotifier {
 public:
  // `statusLine` is called on the notifier's thread: it may read only shared values.
  ServiceNotifier(Station& station, std::function<std::string()> statusLine);
  ~ServiceNotifier();
  ServiceNotifier(const ServiceNotifier&) = delete;
  ServiceNotifier& operator=(const ServiceNotifier&) = delete;

  // After Station::Start: begins the notifications when a service manager listens.
  void Start();
  // At the start of the shut-down: STOPPING=1, and the notifier's thread ends.
  void Stop();

 private:
  void Run(std::int64_t periodUs);
  // Sleeps up to `us` microseconds; false when Stop came.
  bool Rest(std::int64_t us);

  Station& station_;
  std::function<std::string()> statusLine_;
  std::thread thread_;
  std::mutex mutex_;  // guards stop_ only; the workers never take it
  std::condition_variable wake_;
  bool stop_ = false;
};

}  // namespace halvik
