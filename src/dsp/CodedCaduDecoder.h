#pragma once

#include <array>
#include <complex>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "capture/Avhrr3.h"
#include "devices/Downlink.h"
#include "devices/MetopFormat.h"
#include "dsp/Viterbi27.h"

namespace halvik {

// The concatenated coding of the QPSK CADU families: a K=7 convolutional code (171, 133 octal)
// punctured to rate 3/4 around CADUs whose 1020 bytes after the marker are randomized and hold
// four interleaved Reed-Solomon (255,223) codewords in the dual basis.
inline constexpr int kCaduDataBytes = kCaduBytes - static_cast<int>(kCaduMarker.size());
// Rate 3/4 keeps, of every three data bits' six coded symbols (first generator, second), these:
// X1 Y1 Y2 X3, sent in that order.
inline constexpr int kPuncturePeriodBits = 3;
inline constexpr int kPuncturePeriodSymbols = 4;

// The randomizer's sequence (x^8+x^7+x^5+x^3+1, all ones at the start), one byte per CADU byte
// after the marker.
const std::array<std::uint8_t, kCaduDataBytes>& CaduRandomizer();

// One hypothesis about how the coded symbols reached the I and Q rails.
struct CodingPhase {
  int rotation = 0;         // quarter turns the symbols are turned back by
  bool swapped = false;     // I and Q exchanged
  int puncturePhase = 0;    // 0 or 1: which QPSK symbol starts the four-symbol puncture period
  bool invertedG2 = false;  // the second generator's symbols inverted
};
std::string Describe(const CodingPhase& phase);

// Soft QPSK symbols (I, Q in any scale, positive a one) to decoded CADUs: 1024 words, one byte
// each, marker first, derandomized and Reed-Solomon corrected with the check bytes in place. The
// rotation, I/Q order, puncture phase and generator inversion are found by decoding a short
// window under every hypothesis and keeping the one whose decoded marker repeats a CADU apart;
// after kCaduFlywheel markers missed in a row the search starts over. No I/O.
class CodedCaduDecoder {
 public:
  using FrameSink = std::function<void(std::span<const std::uint16_t> frame)>;

  CodedCaduDecoder();
  ~CodedCaduDecoder();
  CodedCaduDecoder(const CodedCaduDecoder&) = delete;
  CodedCaduDecoder& operator=(const CodedCaduDecoder&) = delete;

  void Push(std::span<const std::complex<float>> symbols, const FrameSink& sink);

  bool locked() const { return locked_; }
  const CodingPhase& phase() const { return phase_; }
  std::int64_t framesOut() const { return framesOut_; }
  std::int64_t framesWithSync() const { return framesWithSync_; }
  std::int64_t correctedBytes() const { return correctedBytes_; }
  std::int64_t uncorrectableCodewords() const { return uncorrectableCodewords_; }

 private:
  void Hunt();
  void DecodeLocked(const FrameSink& sink);
  // Depunctures symbols [from, to) of `symbols_` under `phase` into libfec's soft pairs
  // (0 a sure zero, 255 a sure one, 128 nothing known).
  void Depuncture(const CodingPhase& phase, std::size_t from, std::size_t to,
                  std::vector<std::uint8_t>& pairs) const;
  // Viterbi over `pairs`, bits out one per byte (this decoder's own: three times libfec's
  // portable one, the only one Debian ships).
  void Decode(std::span<const std::uint8_t> pairs, std::vector<std::uint8_t>& bits);
  void Drop(std::size_t symbols);

  Viterbi27 viterbi_;
  std::vector<std::complex<float>> symbols_;  // not yet decoded
  std::int64_t symbolsDropped_ = 0;           // before symbols_[0]
  double meanMagnitude_ = 0;                  // of I and Q, for the soft scale
  std::vector<std::uint8_t> pairs_;
  std::vector<std::uint8_t> bits_;

  bool locked_ = false;
  CodingPhase phase_;
  // In lock symbols_[0] starts a puncture period, and the next CADU's first bit is this many
  // decoded bits after it.
  int bitOffset_ = 0;
  int missedMarkers_ = 0;
  std::array<std::uint16_t, kCaduBytes> frame_{};

  std::int64_t framesOut_ = 0;
  std::int64_t framesWithSync_ = 0;
  std::int64_t correctedBytes_ = 0;
  std::int64_t uncorrectableCodewords_ = 0;
};

}  // namespace halvik
