#include "capture/FrameRing.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace halvik {

bool FrameRing::Allocate() {
  if (slots_) return true;
  slots_.reset(new (std::nothrow) std::uint16_t[kFrameRingSlots * kFrameSlotWords]);
  if (!slots_) return false;
  ResetRing();
  return true;
}

void FrameRing::Free() {
  slots_.reset();
  fillPosition_ = nullptr;
  currentFrame_ = nullptr;
}

void FrameRing::SetFamily(SatelliteFamily family) {
  family_ = family;
  frameLength_ = FamilyFrameLength(family);
}

void FrameRing::ResetRing() {
  readIndex_ = 0;
  writeIndex_ = 0;
  fillCount_ = 0;
  fillPosition_ = slots_ ? Slot(0) : nullptr;
  currentFrame_ = fillPosition_;
}

void FrameRing::AssembleBlock(const std::uint16_t* words, std::size_t count) {
  if (!slots_) return;
  // A FengYun frame is always the long one, whatever the length was before.
  if (family_ == SatelliteFamily::FengYun) frameLength_ = FamilyFrameLength(family_);
  std::size_t remaining = count;
  const std::uint16_t* source = words;
  while (remaining > 0) {
    std::size_t n = static_cast<std::size_t>(frameLength_ - fillCount_);
    n = std::min(n, remaining);
    std::memcpy(fillPosition_, source, n * sizeof(std::uint16_t));
    source += n;
    fillPosition_ += n;
    fillCount_ += static_cast<std::int32_t>(n);
    remaining -= n;
    if (fillCount_ >= frameLength_) {
      fillCount_ -= frameLength_;
      writeIndex_ = (writeIndex_ + 1) % kFrameRingSlots;
      fillPosition_ = Slot(writeIndex_);
      // The write index came round to the read index: every frame that waited is lost.
      if (writeIndex_ == readIndex_) framesOverrun_ += kFrameRingSlots;
    }
  }
}

const std::uint16_t* FrameRing::TakeFrame() {
  currentFrame_ = Slot(readIndex_);
  readIndex_ = (readIndex_ + 1) % kFrameRingSlots;
  return currentFrame_;
}

}  // namespace halvik
