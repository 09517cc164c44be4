#include "platform/BoundedWait.h"

#include <algorithm>

namespace halvik {
namespace {

// The longest pause is this share of the bound.
constexpr std::int64_t kPausesPerBound = 20;

}  // namespace

BoundedWait::BoundedWait(Clock& clock, std::int64_t boundMs, std::int64_t firstPauseMs)
    : clock_(clock),
      startMs_(clock.MonotonicMs()),
      boundMs_(boundMs),
      firstPauseMs_(std::max<std::int64_t>(firstPauseMs, 1)),
      longestPauseMs_(std::max(firstPauseMs_, boundMs / kPausesPerBound)),
      pauseMs_(firstPauseMs_),
      lastReadingMs_(startMs_) {}

bool BoundedWait::Over() {
  // A pause that ran to the bound has ended the wait; no need to ask the clock again.
  if (pausedToBound_) return true;
  lastReadingMs_ = clock_.MonotonicMs();
  return lastReadingMs_ - startMs_ > boundMs_;
}

void BoundedWait::Pause() {
  // Wake no later than the first millisecond past the bound, for the wait's last look.
  const std::int64_t left = startMs_ + boundMs_ + 1 - lastReadingMs_;
  const std::int64_t pause = std::min(pauseMs_, left);
  pausedToBound_ = pause == left;
  if (pause > 0) clock_.SleepMs(pause);
  pauseMs_ = std::min(pauseMs_ * 2, longestPauseMs_);
}

}  // namespace halvik
