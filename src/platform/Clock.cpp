#include "platform/Clock.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

namespace halvik {
namespace {

std::int64_t SteadyNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

SystemTime SystemTime::FromMilliseconds(std::int64_t ms) {
  std::int64_t s = ms / 1000;
  std::int64_t r = ms % 1000;
  if (r < 0) {
    r += 1000;
    s -= 1;
  }
  return {s, static_cast<int>(r)};
}

std::int64_t CorrectedSeconds(std::int64_t systemSeconds, double clockCorrection) {
  // A trillion seconds is 30000 years: past that it is no clock error, and the sum could overflow.
  constexpr double kBeyondAnyCalendar = 1e12;
  const double whole = std::trunc(clockCorrection);
  if (!(std::fabs(whole) < kBeyondAnyCalendar)) return systemSeconds;
  return systemSeconds + static_cast<std::int64_t>(whole);
}

RealClock::RealClock() : startNs_(SteadyNs()) {}

SystemTime RealClock::Now() {
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::system_clock::now().time_since_epoch())
                .count();
  return SystemTime::FromMilliseconds(ms);
}

std::int64_t RealClock::MonotonicMs() {
  return (SteadyNs() - startNs_) / 1000000;
}

void RealClock::SleepMs(std::int64_t ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

ScaledClock::ScaledClock(SystemTime start, double speed)
    : startMs_(start.AsMilliseconds()),
      speed_(std::isnan(speed) ? 1.0 : std::clamp(speed, kMinSimSpeed, kMaxSimSpeed)),
      realStartNs_(SteadyNs()) {}

std::int64_t ScaledClock::SimulatedMsSinceStart() {
  double realMs = static_cast<double>(SteadyNs() - realStartNs_) / 1e6;
  return static_cast<std::int64_t>(realMs * speed_);
}

SystemTime ScaledClock::Now() {
  return SystemTime::FromMilliseconds(startMs_ + SimulatedMsSinceStart());
}

std::int64_t ScaledClock::MonotonicMs() {
  return SimulatedMsSinceStart();
}

void ScaledClock::SleepMs(std::int64_t ms) {
  if (ms <= 0) return;
  // Rounded up, so the simulated time slept is never short of what was asked.
  auto realUs = static_cast<std::int64_t>(std::ceil(static_cast<double>(ms) * 1000.0 / speed_));
  // Even a very fast simulation yields the processor on every sleep.
  std::this_thread::sleep_for(std::chrono::microseconds(realUs > 0 ? realUs : 1));
}

SystemTime ManualClock::Now() {
  return SystemTime::FromMilliseconds(nowMs_.load(std::memory_order_relaxed));
}

std::int64_t ManualClock::MonotonicMs() {
  std::int64_t step = stepPerReading_.load(std::memory_order_relaxed);
  std::int64_t now = step > 0 ? nowMs_.fetch_add(step, std::memory_order_relaxed) + step
                              : nowMs_.load(std::memory_order_relaxed);
  std::int64_t expected = -1;
  originMs_.compare_exchange_strong(expected, now, std::memory_order_relaxed);
  return now - originMs_.load(std::memory_order_relaxed);
}

}  // namespace halvik
