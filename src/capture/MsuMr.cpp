#include "capture/MsuMr.h"

#include <bit>
#include <cmath>

namespace halvik {
namespace {

constexpr std::uint32_t kCounterModulus = 1u << 24;

constexpr std::uint64_t SyncWord() {
  std::uint64_t word = 0;
  for (std::uint8_t byte : kMsuMrSync) word = (word << 8) | byte;
  return word;
}

}  // namespace

MsuMrEvent MsuMrReader::Push(std::span<const std::uint16_t, kCaduBytes> cadu) {
  for (std::size_t i = 0; i < bytes_.size(); ++i) bytes_[i] = static_cast<std::uint8_t>(cadu[i]);
  return Push(std::span<const std::uint8_t, kCaduBytes>(bytes_));
}

MsuMrEvent MsuMrReader::Push(std::span<const std::uint8_t, kCaduBytes> cadu) {
  counts_.cadus += 1;
  MsuMrEvent event = MsuMrEvent::None;
  const std::uint32_t counter = (static_cast<std::uint32_t>(cadu[kCaduCounterOffset]) << 16) |
                                (static_cast<std::uint32_t>(cadu[kCaduCounterOffset + 1]) << 8) |
                                cadu[kCaduCounterOffset + 2];
  if (counter_) {
    const std::uint32_t step = (counter - *counter_) % kCounterModulus;
    if (step != 1) {
      // Bytes on either side of lost CADUs belong to different frames: what was gathered is
      // dropped and the search starts afresh.
      counts_.gaps += 1;
      counts_.cadusLost += step == 0 ? 0 : step - 1;
      if (fill_ > 0) {
        counts_.linesCut += 1;
        event = MsuMrEvent::LineCut;
      }
      fill_ = 0;
      shifted_ = 0;
      due_ = false;
    }
  }
  counter_ = counter;
  for (const ByteRun& run : kMsuMrRuns) {
    for (int i = run.first; i < run.end; ++i) {
      if (Take(cadu[static_cast<std::size_t>(i)])) event = MsuMrEvent::Line;
    }
  }
  return event;
}

// True when `byte` completes a frame.
bool MsuMrReader::Take(std::uint8_t byte) {
  if (fill_ > 0) {
    frame_[static_cast<std::size_t>(fill_++)] = byte;
    if (fill_ < kMsuMrFrameBytes) return false;
    Unpack();
    counts_.lines += 1;
    fill_ = 0;
    shifted_ = 0;
    due_ = true;
    return true;
  }
  shift_ = (shift_ << 8) | byte;
  if (++shifted_ < static_cast<int>(kMsuMrSync.size())) return false;
  const int allowed = due_ ? kMsuMrDueSyncBitErrors : kMsuMrSyncBitErrors;
  due_ = false;
  if (std::popcount(shift_ ^ SyncWord()) <= allowed) {
    for (std::size_t i = 0; i < kMsuMrSync.size(); ++i) frame_[i] = kMsuMrSync[i];
    fill_ = static_cast<int>(kMsuMrSync.size());
  }
  return false;
}

void MsuMrReader::Unpack() {
  const std::uint8_t* time = frame_.data() + kMsuMrTimeOffset;
  const int hour = time[0];
  const int minute = time[1];
  const int second = time[2];
  const int fraction = time[3];
  if (hour < 24 && minute < 60 && second < 60 && fraction < kMsuMrFractionsPerSecond) {
    line_.msOfDay =
        ((hour * 60 + minute) * 60 + second) * 1000 +
        static_cast<std::int32_t>(std::lround(fraction * 1000.0 / kMsuMrFractionsPerSecond));
  } else {
    line_.msOfDay.reset();
  }
  line_.serial = frame_[kMsuMrSerialOffset];
  // Four 10-bit counts in every five bytes, most significant bit first.
  const std::uint8_t* in = frame_.data() + kMsuMrImageOffset;
  std::uint16_t* out = line_.samples.data();
  for (std::size_t k = 0; k < line_.samples.size(); k += 4, in += 5) {
    out[k] = static_cast<std::uint16_t>((in[0] << 2) | (in[1] >> 6));
    out[k + 1] = static_cast<std::uint16_t>(((in[1] & 0x3F) << 4) | (in[2] >> 4));
    out[k + 2] = static_cast<std::uint16_t>(((in[2] & 0x0F) << 6) | (in[3] >> 2));
    out[k + 3] = static_cast<std::uint16_t>(((in[3] & 0x03) << 8) | in[4]);
  }
}

}  // namespace halvik
