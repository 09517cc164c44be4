#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "devices/Downlink.h"

namespace halvik {

inline constexpr int kFrameRingSlots = 30;
// Each slot holds the longest frame of any family.
inline constexpr std::size_t kFrameSlotWords = static_cast<std::size_t>(kLongestFrameWords);
inline constexpr std::size_t kFrameRingBytes =
    kFrameRingSlots * kFrameSlotWords * sizeof(std::uint16_t);

// Cuts the synchronizer's stream of blocks into minor frames of the current family's length.
// Thirty slots; the writer never waits for the reader. Capture thread only.
class FrameRing {
 public:
  // Takes the memory of all slots at once; false (and nothing held) when it cannot be had.
  bool Allocate();
  void Free();
  bool allocated() const { return slots_ != nullptr; }

  // The current family and its frame length: Noaa and 11090 words until told otherwise.
  void SetFamily(SatelliteFamily family);
  SatelliteFamily family() const { return family_; }
  std::int32_t FrameLength() const { return frameLength_; }

  // Appends `count` words to the ring, completing at most one frame per synchronizer block.
  // Frames completed while 29 others still wait wrap the write index onto the read index: the
  // ring then looks empty and the waiting frames are gone; each such loss is counted.
  void AssembleBlock(const std::uint16_t* words, std::size_t count);
  bool HasFrame() const { return readIndex_ != writeIndex_; }
  // Hands out the oldest completed frame; call only when HasFrame().
  const std::uint16_t* TakeFrame();
  void ResetRing();

  // Frames lost to overruns since the ring was made.
  std::int64_t framesOverrun() const { return framesOverrun_; }
  std::int32_t fillCount() const { return fillCount_; }
  int writeIndex() const { return writeIndex_; }
  int readIndex() const { return readIndex_; }
  const std::uint16_t* currentFrame() const { return currentFrame_; }

 private:
  std::uint16_t* Slot(int index) {
    return slots_.get() + static_cast<std::size_t>(index) * kFrameSlotWords;
  }

  std::unique_ptr<std::uint16_t[]> slots_;
  SatelliteFamily family_ = SatelliteFamily::Noaa;
  std::int32_t frameLength_ = kNoaaFrameWords;
  int writeIndex_ = 0;
  int readIndex_ = 0;
  std::int32_t fillCount_ = 0;
  std::uint16_t* fillPosition_ = nullptr;
  const std::uint16_t* currentFrame_ = nullptr;
  std::int64_t framesOverrun_ = 0;
};

}  // namespace halvik
