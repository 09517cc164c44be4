#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <span>

#include "devices/Downlink.h"

namespace halvik {

// CADUs in a row whose marker is beyond the allowance still handed over before the hunt starts
// again: the capture thread sees the damage and declares the loss.
inline constexpr int kCaduFlywheel = 3;

// Soft bits (> 0: a one) to CADUs: 1024 words, one byte in the low bits of each, marker first,
// in true polarity (an inverted stream is complemented). The marker is handed over as received,
// with the bit errors the allowance let through; flywheel CADUs carry it however damaged. In lock
// each marker is also looked for one bit early and one bit late and in the other polarity, so a
// bit slip or a half turn of the carrier costs at most the CADU in which it happened.
// No I/O; memory fixed at construction.
class CaduFramer {
 public:
  using FrameSink = std::function<void(std::span<const std::uint16_t> frame)>;

  CaduFramer();

  void Push(std::span<const float> softBits, const FrameSink& sink);

  bool locked() const { return locked_; }
  // CADUs handed over, and of those the ones whose marker was within the allowance.
  std::int64_t framesOut() const { return framesOut_; }
  std::int64_t framesWithSync() const { return framesWithSync_; }

 private:
  static constexpr int kCaduBits = kCaduBytes * 8;
  static constexpr int kMarkerBits = kCaduMarkerBitCount;

  void Hunt(const FrameSink& sink);
  void StartHunt();
  void JudgeMarker();
  void HandOver(const FrameSink& sink);
  // Starts the current CADU over from the newest `bits` bits of the history.
  void Restart(int bits);
  void Append(unsigned bit) {
    auto& word = cadu_[static_cast<std::size_t>(caduBits_ / 8)];
    word = static_cast<std::uint16_t>(((caduBits_ % 8 == 0 ? 0u : word) << 1) |
                                      (bit ^ (inverted_ ? 1u : 0u)));
    ++caduBits_;
  }

  std::uint64_t history_ = 0;  // the newest bit in the lowest place
  bool locked_ = false;
  bool inverted_ = false;
  std::array<std::uint16_t, kCaduBytes> cadu_{};
  int caduBits_ = 0;
  bool markerJudged_ = false;
  bool withSync_ = false;  // the current CADU's marker is within the allowance
  int missedMarkers_ = 0;  // in a row, in lock
  std::int64_t huntBits_ = 0;
  // Hunting: the bits of the last CADU and marker, and which polarity (1 upright, 2 inverted)
  // matched the marker at each position of the last CADU.
  std::array<std::uint8_t, kCaduBits + kMarkerBits> recent_{};
  std::array<std::uint8_t, kCaduBits> matched_{};
  std::int64_t framesOut_ = 0;
  std::int64_t framesWithSync_ = 0;
};

}  // namespace halvik
