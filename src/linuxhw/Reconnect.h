#pragma once

#include <cstdint>

#include "platform/Clock.h"

namespace halvik {

// When to try a lost device again: at once the first time, then after a pause that doubles
// with each failure from kFirstPauseMs up to kLongestPauseMs, on the clock's monotonic time.
// Success starts the pauses over.
class Reconnect {
 public:
  static constexpr std::int64_t kFirstPauseMs = 1000;
  static constexpr std::int64_t kLongestPauseMs = 30000;

  explicit Reconnect(Clock& clock) : clock_(clock) {}

  // True when a new attempt is due now.
  bool Due() const { return !waiting_ || clock_.MonotonicMs() >= nextMs_; }
  void Failed() {
    pauseMs_ = waiting_ ? (pauseMs_ * 2 < kLongestPauseMs ? pauseMs_ * 2 : kLongestPauseMs)
                        : kFirstPauseMs;
    waiting_ = true;
    nextMs_ = clock_.MonotonicMs() + pauseMs_;
  }
  void Succeeded() {
    waiting_ = false;
    pauseMs_ = 0;
  }
  std::int64_t pauseMs() const { return pauseMs_; }

 private:
  Clock& clock_;
  bool waiting_ = false;
  std::int64_t pauseMs_ = 0;
  std::int64_t nextMs_ = 0;
};

}  // namespace halvik
