#pragma once

#include <atomic>
#include <cstdint>

#include "platform/Shared.h"

namespace halvik {

// The tracking thread's published state (it is the only writer); the status view reads it.
struct TrackingStatus {
  Shared<std::int32_t> TrackingReady{0};
  Shared<std::int32_t> SchedulerEnabled{0};
  Shared<double> ClockCorrection{0.0};  // s, GPS time minus computer time, steps of 0.01 s
  // 1 while the last GPS time was refused (before the build and more than a day off); the
  // correction keeps its last good value meanwhile.
  Shared<std::int32_t> GpsTimeRefused{0};
  // 1 while satellites are listed and none of their element sets predicts anything (every one
  // lies beyond the prediction horizon from the station clock).
  Shared<std::int32_t> NothingPredictable{0};
  Shared<std::int64_t> PassesFollowed{0};  // passes handed to the capture engine since start-up
  // Counts loop iterations and capture-wait turns: a service watchdog sees the thread move.
  Shared<std::int64_t> Heartbeat{0};
  // Raised by the user-interface thread (elements.dat has changed), taken by the tracking
  // thread between two loop iterations, when it reloads the listed satellites' element sets.
  std::atomic<std::int32_t> ElementsReloadRequest{0};
};

}  // namespace halvik
