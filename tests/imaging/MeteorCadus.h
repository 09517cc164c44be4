#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

namespace halvik::testing {

// Meteor CADUs built as the downlink's public description lays them out, in the tests' own
// numbers: the marker, the 24-bit counter in bytes 6-8, and the MSU-MR bytes at 1-based
// 23-260, 279-516, 535-772 and 791-1024 of each CADU.
using Cadu = std::array<std::uint8_t, 1024>;

inline std::vector<Cadu> ToCadus(const std::vector<std::uint8_t>& msumr, std::uint32_t counter) {
  constexpr int kRuns[4][2] = {{22, 260}, {278, 516}, {534, 772}, {790, 1024}};
  std::vector<Cadu> cadus;
  for (std::size_t at = 0; at < msumr.size(); counter = (counter + 1) & 0xFFFFFF) {
    Cadu cadu{0x1A, 0xCF, 0xFC, 0x1D, 0x40, 0x05};
    cadu[6] = static_cast<std::uint8_t>(counter >> 16);
    cadu[7] = static_cast<std::uint8_t>(counter >> 8);
    cadu[8] = static_cast<std::uint8_t>(counter);
    for (const auto& run : kRuns) {
      for (int i = run[0]; i < run[1] && at < msumr.size(); ++i) cadu[i] = msumr[at++];
    }
    cadus.push_back(cadu);
  }
  return cadus;
}

// One MSU-MR frame of 11850 bytes: the sync, the time of day and serial from byte 8, and from
// byte 50 the 6 x 1572 counts `sample(channel, pixel)`, 10 bits each, most significant first.
inline std::vector<std::uint8_t> MsuMrFrame(int hour, int minute, int second, int fraction,
                                            int serial,
                                            const std::function<int(int, int)>& sample) {
  std::vector<std::uint8_t> frame{0x02, 0x18, 0xA7, 0xA3, 0x92, 0xDD, 0x9A, 0xBF};
  frame.resize(11850, 0);
  frame[8] = static_cast<std::uint8_t>(hour);
  frame[9] = static_cast<std::uint8_t>(minute);
  frame[10] = static_cast<std::uint8_t>(second);
  frame[11] = static_cast<std::uint8_t>(fraction);
  frame[12] = static_cast<std::uint8_t>(serial);
  std::size_t bit = 50 * 8;
  for (int c = 0; c < 6; ++c) {
    for (int p = 0; p < 1572; ++p) {
      const int value = sample(c, p);
      for (int b = 9; b >= 0; --b, ++bit) {
        if ((value >> b) & 1) frame[bit / 8] |= static_cast<std::uint8_t>(0x80 >> (bit % 8));
      }
    }
  }
  return frame;
}

}  // namespace halvik::testing
