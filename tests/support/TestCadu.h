#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "devices/Downlink.h"

namespace halvik {

// A CADU as the frame layer hands it over: the marker, then 1020 bytes drawn from `seed`, one
// byte a word.
inline std::vector<std::uint16_t> TestCadu(unsigned seed) {
  std::vector<std::uint16_t> cadu(kCaduMarker.begin(), kCaduMarker.end());
  std::mt19937 random(seed);
  while (cadu.size() < static_cast<std::size_t>(kCaduBytes)) {
    cadu.push_back(static_cast<std::uint16_t>(random() & 0xFF));
  }
  return cadu;
}

}  // namespace halvik
