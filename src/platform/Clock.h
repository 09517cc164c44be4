#pragma once

#include <atomic>
#include <cstdint>

namespace halvik {

// Wall-clock UTC time with milliseconds, the station's "time() and _ftime()".
struct SystemTime {
  std::int64_t seconds = 0;  // seconds since 1970-01-01 00:00 UTC
  int milliseconds = 0;      // 0..999

  double AsSeconds() const { return static_cast<double>(seconds) + milliseconds * 0.001; }
  std::int64_t AsMilliseconds() const { return seconds * 1000 + milliseconds; }
  static SystemTime FromMilliseconds(std::int64_t ms);
};

// The station clock's second: the computer's seconds plus the whole seconds of the GPS clock
// correction, cut toward zero (-0.6 s adds nothing, 1.7 s adds one). A correction of any real
// size applies, decades included (a computer that booted at 1970); one that is not a number or
// lies beyond any calendar is none.
std::int64_t CorrectedSeconds(std::int64_t systemSeconds, double clockCorrection);

// Every "now", every millisecond time-out and every sleep of the station goes through a Clock,
// so tests can run the station on a manual clock and the simulation on a scaled one.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual SystemTime Now() = 0;
  // Milliseconds since the clock was made; the time-outs of the board protocols use it.
  virtual std::int64_t MonotonicMs() = 0;
  virtual void SleepMs(std::int64_t ms) = 0;
};

// The computer's own clock.
class RealClock final : public Clock {
 public:
  RealClock();
  SystemTime Now() override;
  std::int64_t MonotonicMs() override;
  void SleepMs(std::int64_t ms) override;

 private:
  std::int64_t startNs_;
};

// Simulated time: starts at a chosen UTC instant and runs `speed` times faster than real time.
// Sleeps are shortened by the same factor, so the whole station runs accelerated. A speed outside
// kMinSimSpeed..kMaxSimSpeed is taken as the nearer limit (one that is not a number as 1): far
// slower, a start-up wait lasts hours; far faster, simulated milliseconds overflow 64 bits.
inline constexpr double kMinSimSpeed = 0.01;
inline constexpr double kMaxSimSpeed = 10000.0;
class ScaledClock final : public Clock {
 public:
  ScaledClock(SystemTime start, double speed);
  SystemTime Now() override;
  std::int64_t MonotonicMs() override;
  void SleepMs(std::int64_t ms) override;
  double speed() const { return speed_; }

 private:
  std::int64_t SimulatedMsSinceStart();
  std::int64_t startMs_;
  double speed_;
  std::int64_t realStartNs_;
};

// Deterministic time for tests: moves only when told to or when a thread sleeps on it.
// Optionally every reading of the millisecond clock moves it on by a fixed step, so a busy
// poll against a silent fake device still reaches its time-out.
class ManualClock final : public Clock {
 public:
  explicit ManualClock(SystemTime start = {}) : nowMs_(start.AsMilliseconds()) {}
  SystemTime Now() override;
  std::int64_t MonotonicMs() override;
  void SleepMs(std::int64_t ms) override { Advance(ms); }

  void Advance(std::int64_t ms) { nowMs_.fetch_add(ms, std::memory_order_relaxed); }
  void Set(SystemTime t) { nowMs_.store(t.AsMilliseconds(), std::memory_order_relaxed); }
  void SetStepPerReading(std::int64_t ms) { stepPerReading_.store(ms, std::memory_order_relaxed); }

 private:
  std::atomic<std::int64_t> nowMs_;
  std::atomic<std::int64_t> stepPerReading_{0};
  std::atomic<std::int64_t> originMs_{-1};
};

}  // namespace halvik
