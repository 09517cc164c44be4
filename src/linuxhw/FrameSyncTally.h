#pragma once

#include <atomic>
#include <cstdint>

#include "devices/FrameSource.h"

namespace halvik {

// Without a frame for this long (ms on the clock) a source has no lock, whatever its deframer
// last held: no data is no lock.
inline constexpr std::int64_t kStreamSilenceMs = 1000;
// Frames the sync quality is taken over.
inline constexpr int kStreamQualityFrames = 32;

// What a frame source's Sync() reports: the share of its recent frames that began with the sync
// words, and the lock of whatever cuts its frames. One thread notes frames; any thread reads.
class FrameSyncTally {
 public:
  // A frame came at `nowMs` (monotonic), with its sync words or not; `locked` is the lock after it.
  void Note(bool withSync, bool locked, std::int64_t nowMs);
  // Loses the lock when no frame came for kStreamSilenceMs before `nowMs`.
  void CheckSilence(std::int64_t nowMs);
  // Forgets every frame: a new connection, a new acquisition, nothing to read.
  void Lose();
  FrameSync Sync() const;

 private:
  std::uint32_t history_ = 0;  // one bit per recent frame, 1 = began with sync
  int frames_ = 0;
  std::int64_t lastFrameMs_ = 0;
  std::atomic<bool> locked_{false};
  std::atomic<double> quality_{0.0};
};

}  // namespace halvik
