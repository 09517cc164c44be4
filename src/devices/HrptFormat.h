#pragma once

#include <array>
#include <cstdint>

namespace halvik {

// The fixed parts of an HRPT minor frame (NOAA, FengYun, SeaStar), as the satellites send them
// and the capture files keep them.

// The six 10-bit words that open every minor frame.
inline constexpr std::array<std::uint16_t, 6> kFrameSync = {0x284, 0x16F, 0x35C,
                                                            0x19D, 0x20F, 0x095};

// The pseudo-noise words that close every minor frame: the station counts the bit errors of the
// link against its copy of them in pn.fil.
inline constexpr int kPnTableWords = 100;

}  // namespace halvik
