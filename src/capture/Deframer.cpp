#include "capture/Deframer.h"

#include <algorithm>

#include "capture/BitFrame.h"

namespace halvik {
namespace {

constexpr std::uint16_t kTenBits = 0x3FF;
constexpr auto kSyncWords = static_cast<std::int32_t>(kFrameSync.size());

}  // namespace

Deframer::Deframer(std::int32_t frameWords, int flywheelFrames)
    : frameWords_(frameWords),
      flywheelFrames_(flywheelFrames),
      capacity_(std::max(frameWords, kLongestFrameWords)) {
  frame_ = std::make_unique<std::uint16_t[]>(static_cast<std::size_t>(capacity_));
  Reset(frameWords);
}

void Deframer::Reset(std::int32_t frameWords) {
  frameWords_ = std::clamp(frameWords, kSyncWords, capacity_);
  state_ = State::Hunting;
  filled_ = 0;
  framesWithoutSync_ = 0;
  pendingByte_ = -1;
  matched_[0] = matched_[1] = 0;
}

void Deframer::Push(std::span<const std::uint8_t> bytes, const FrameSink& sink) {
  for (std::uint8_t byte : bytes) {
    if (state_ == State::Hunting) {
      Hunt(byte);
      continue;
    }
    if (pendingByte_ < 0) {
      pendingByte_ = byte;
      continue;
    }
    // Only the ten HRPT bits are kept: what lies above them is the demodulator's padding.
    const auto word = static_cast<std::uint16_t>(pendingByte_ | (byte << 8));
    pendingByte_ = -1;
    frame_[static_cast<std::size_t>(filled_++)] = word & kTenBits;
    if (filled_ == frameWords_) FrameComplete(sink);
  }
}

void Deframer::Hunt(std::uint8_t byte) {
  // Every byte ends a word at one of the two alignments; each alignment keeps its own count of
  // sync words seen in a row.
  const int parity = parity_;
  parity_ ^= 1;
  const int previous = pendingByte_;
  pendingByte_ = byte;
  if (previous < 0) return;
  const auto value = static_cast<std::uint16_t>((previous | (byte << 8)) & kTenBits);
  int& matched = matched_[parity];
  // The six sync words differ from each other, so after a mismatch only the first sync word
  // itself can begin a new run.
  if (value == kFrameSync[static_cast<std::size_t>(matched)]) {
    ++matched;
  } else {
    matched = value == kFrameSync[0] ? 1 : 0;
  }
  if (matched < kSyncWords) return;

  state_ = State::Locked;
  std::copy(kFrameSync.begin(), kFrameSync.end(), frame_.get());
  filled_ = kSyncWords;
  framesWithoutSync_ = 0;
  pendingByte_ = -1;  // the next byte begins the frame's seventh word
  matched_[0] = matched_[1] = 0;
}

void Deframer::FrameComplete(const FrameSink& sink) {
  const bool sync = HasFrameSync(frame_.get());
  sink(std::span<const std::uint16_t>(frame_.get(), static_cast<std::size_t>(frameWords_)));
  ++framesOut_;
  filled_ = 0;
  if (sync) {
    ++framesWithSync_;
    framesWithoutSync_ = 0;
  } else if (++framesWithoutSync_ > flywheelFrames_) {
    state_ = State::Hunting;
    pendingByte_ = -1;
  }
}

}  // namespace halvik
