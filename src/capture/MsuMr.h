#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "devices/MeteorFormat.h"

namespace halvik {

// Bits of the 64-bit MSU-MR sync that may be wrong where a frame is searched for, and where the
// next frame is due straight after a complete one. With four of 64 a chance match in noise
// comes about once in 10^13 positions.
inline constexpr int kMsuMrSyncBitErrors = 4;
inline constexpr int kMsuMrDueSyncBitErrors = 12;

// One MSU-MR scan line.
struct MsuMrLine {
  std::optional<std::int32_t> msOfDay;  // from its time code; nothing when out of range
  int serial = 0;                       // the imager's serial number
  // 10-bit counts, channel after channel.
  std::array<std::uint16_t, kMsuMrChannels * kMsuMrPixels> samples{};

  const std::uint16_t* Channel(int channel) const {
    return samples.data() + static_cast<std::size_t>(channel) * kMsuMrPixels;
  }
};

// What one CADU did.
enum class MsuMrEvent {
  None,
  Line,     // a line is complete: Line() holds it
  LineCut,  // CADUs were lost under the line being gathered: it is dropped
};

// Turns Meteor CADUs, one at a time and in order, into MSU-MR scan lines. Holds one frame and
// one line, allocates nothing after construction and accepts any bytes.
class MsuMrReader {
 public:
  struct Counts {
    std::int64_t cadus = 0;
    std::int64_t gaps = 0;       // breaks in the CADU counter
    std::int64_t cadusLost = 0;  // counter values the breaks skipped
    std::int64_t lines = 0;
    std::int64_t linesCut = 0;
  };

  // One CADU, marker first: as bytes, or as the capture thread's words (a byte in the low bits).
  MsuMrEvent Push(std::span<const std::uint8_t, kCaduBytes> cadu);
  MsuMrEvent Push(std::span<const std::uint16_t, kCaduBytes> cadu);

  const MsuMrLine& Line() const { return line_; }
  const Counts& counts() const { return counts_; }

 private:
  bool Take(std::uint8_t byte);
  void Unpack();

  std::optional<std::uint32_t> counter_;
  std::array<std::uint8_t, kMsuMrFrameBytes> frame_{};
  int fill_ = 0;  // bytes of frame_ gathered; 0 while searching for a sync
  std::uint64_t shift_ = 0;
  int shifted_ = 0;   // bytes in shift_ since the search began
  bool due_ = false;  // a frame just ended: the next one should follow at once
  std::array<std::uint8_t, kCaduBytes> bytes_{};
  MsuMrLine line_;
  Counts counts_;
};

}  // namespace halvik
