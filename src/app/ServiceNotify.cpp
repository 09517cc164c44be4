#include "app/ServiceNotify.h"

#include <systemd/sd-daemon.h>

#include <chrono>
#include <cstdlib>

namespace halvik {
namespace {

// Without a watchdog the status is still refreshed now and then.
constexpr std::int64_t kStatusPeriodUs = 10'000'000;
// How often start-up is looked at before READY=1.
constexpr std::int64_t kReadyPollUs = 100'000;

bool ManagerListens() {
  const char* socket = std::getenv("NOTIFY_SOCKET");
  return socket && *socket;
}

}  // namespace

ServiceNotifier::ServiceNotifier(Station& station, std::function<std::string()> statusLine)
    : station_(station), statusLine_(std::move(statusLine)) {}

ServiceNotifier::~ServiceNotifier() {
  Stop();
}

void ServiceNotifier::Start() {
  if (!ManagerListens() || thread_.joinable()) return;
  std::uint64_t watchdogUs = 0;
  // Pinging at half the interval leaves a whole half for a ping delayed by a busy machine.
  std::int64_t period = sd_watchdog_enabled(0, &watchdogUs) > 0
                            ? static_cast<std::int64_t>(watchdogUs / 2)
                            : kStatusPeriodUs;
  thread_ = std::thread([this, period] { Run(period); });
}

void ServiceNotifier::Stop() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
  sd_notify(0, "STOPPING=1\nSTATUS=Shutting down");
}

bool ServiceNotifier::Rest(std::int64_t us) {
  std::unique_lock lock(mutex_);
  return !wake_.wait_for(lock, std::chrono::microseconds(us), [this] { return stop_; });
}

void ServiceNotifier::Run(std::int64_t periodUs) {
  // The tracking thread's start-up (files, first prediction of every slot) is part of the
  // station's start-up: READY=1 waits for it.
  while (station_.tracking.TrackingReady.load() != 1) {
    if (!Rest(kReadyPollUs)) return;
  }
  sd_notify(0, ("READY=1\nSTATUS=" + statusLine_()).c_str());

  std::int64_t trackingSeen = station_.tracking.Heartbeat.load();
  std::int64_t captureSeen = station_.captureStatus.Heartbeat.load();
  while (Rest(periodUs)) {
    std::string message = "STATUS=" + statusLine_();
    // A ping only when both workers have moved since the last one: one stuck thread is enough
    // for the service manager to restart the station.
    const std::int64_t tracking = station_.tracking.Heartbeat.load();
    const std::int64_t capture = station_.captureStatus.Heartbeat.load();
    if (tracking != trackingSeen && capture != captureSeen) {
      trackingSeen = tracking;
      captureSeen = capture;
      message += "\nWATCHDOG=1";
    }
    sd_notify(0, message.c_str());
  }
}

}  // namespace halvik
