#pragma once

#include "sim/SimTrackerBoard.h"

namespace halvik::testing {

// A tracker board that takes each byte and answers each query at once, whose axes stand on
// their targets as soon as they have them, with a fast line to the GPS receiver: the times in
// tests on it are the station's own waits.
inline sim::SimTrackerOptions InstantTrackerOptions() {
  sim::SimTrackerOptions options;
  options.azimuthDegPerSec = options.elevationDegPerSec = 1e6;
  options.busyMsPerByte = 0;
  options.replyDelayMs = 0;
  options.gpsBaud = 1'000'000;
  return options;
}

}  // namespace halvik::testing
