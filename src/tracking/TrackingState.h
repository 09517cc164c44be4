#pragma once

#include <cstdint>

#include "platform/Shared.h"

namespace halvik {

// The tracking thread's published state (it is the only writer); the status view reads it.
struct TrackingStatus {
  Shared<std::int32_t> TrackingReady{0};
  Shared<std::int32_t> SchedulerEnabled{0};
  Shared<double> ClockCorrection{0.0};     // s, GPS time minus computer time, steps of 0.01 s
  Shared<std::int64_t> PassesFollowed{0};  // passes handed to the capture engine since start-up
};

}  // namespace halvik
