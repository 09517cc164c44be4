#pragma once

#include <cstdint>

#include "platform/Shared.h"

namespace halvik {

// A ReadPower reply above this means the positioner has power.
inline constexpr std::int32_t kAntennaNoPowerLevel = 50;
inline bool AntennaPowered(std::int32_t powerLevel) {
  return powerLevel > kAntennaNoPowerLevel;
}

// Written by the tracking thread (read-back once a second, the scheduler's flip), read by the
// status view.
struct AntennaState {
  Shared<std::int32_t> AntennaPower{
      0};  // last ReadPower reply, -1 without reply; not AntennaPowered: no power
  Shared<float> AntennaAzimuth{0};    // degrees; < 0 under the lower limit, > 360 over
  Shared<float> AntennaElevation{0};  // degrees; < 0 under, > 180 over
  Shared<std::int32_t> FlipMode{0};   // 1 while the pass being followed is flipped
};

}  // namespace halvik
