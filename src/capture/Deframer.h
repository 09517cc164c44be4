#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>

namespace halvik {

// Cuts a raw stream of 16-bit little-endian words (one 10-bit HRPT word in the low bits of
// each, as a demodulator writes them) into minor frames. A board synchronizer hands over frames
// aligned on their sync words; a stream starts anywhere, may be a byte out of step after a
// reconnect, and may not be HRPT at all, so the frames have to be found first.
//
// Hunting: the six frame-sync words in a row (compared in their ten low bits), at either byte
// alignment of the stream, mark a frame's start. In lock, each frame is handed over whole; when the
// next one does not begin with sync the frame is still handed over (a receiver fading out sends
// frames with damaged sync, which the capture engine must see to declare the loss) for up to
// `flywheelFrames` frames in a row, then the hunt starts again. While hunting nothing is handed
// over. Memory is one frame, fixed at construction: no input makes it grow.
class Deframer {
 public:
  using FrameSink = std::function<void(std::span<const std::uint16_t> frame)>;

  Deframer(std::int32_t frameWords, int flywheelFrames);

  // A new frame length (another family); starts a fresh hunt.
  void Reset(std::int32_t frameWords);
  // Feeds any number of bytes; every completed frame goes to `sink` before this returns.
  void Push(std::span<const std::uint8_t> bytes, const FrameSink& sink);

  bool locked() const { return state_ == State::Locked; }
  // Frames handed over, and of those the ones that began with sync.
  std::int64_t framesOut() const { return framesOut_; }
  std::int64_t framesWithSync() const { return framesWithSync_; }

 private:
  enum class State { Hunting, Locked };
  void Hunt(std::uint8_t byte);
  void FrameComplete(const FrameSink& sink);

  std::int32_t frameWords_;
  int flywheelFrames_;
  std::unique_ptr<std::uint16_t[]> frame_;
  std::int32_t capacity_;
  State state_ = State::Hunting;
  std::int32_t filled_ = 0;    // words of the current frame, while locked
  int framesWithoutSync_ = 0;  // in a row, while locked
  int pendingByte_ = -1;       // low byte of a word whose high byte has not come yet
  // Hunting: sync words matched so far by the words that end on an even and on an odd byte.
  int matched_[2] = {0, 0};
  int parity_ = 0;  // of the next byte
  std::int64_t framesOut_ = 0;
  std::int64_t framesWithSync_ = 0;
};

}  // namespace halvik
