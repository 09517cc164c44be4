#include "linuxhw/FrameSyncTally.h"

#include <algorithm>
#include <bit>

namespace halvik {

void FrameSyncTally::Note(bool withSync, bool locked, std::int64_t nowMs) {
  history_ = (history_ << 1) | (withSync ? 1u : 0u);
  frames_ = std::min(frames_ + 1, kStreamQualityFrames);
  lastFrameMs_ = nowMs;
  const std::uint32_t recent = frames_ >= 32 ? ~0u : ((std::uint32_t{1} << frames_) - 1);
  quality_.store(static_cast<double>(std::popcount(history_ & recent)) / frames_,
                 std::memory_order_relaxed);
  locked_.store(locked, std::memory_order_relaxed);
}

void FrameSyncTally::CheckSilence(std::int64_t nowMs) {
  if (nowMs - lastFrameMs_ > kStreamSilenceMs) Lose();
}

void FrameSyncTally::Lose() {
  history_ = 0;
  frames_ = 0;
  locked_.store(false, std::memory_order_relaxed);
  quality_.store(0.0, std::memory_order_relaxed);
}

FrameSync FrameSyncTally::Sync() const {
  return {locked_.load(std::memory_order_relaxed), quality_.load(std::memory_order_relaxed)};
}

}  // namespace halvik
