#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include <vector>
#include "devices/Downlink.h"

#include "dsp/Samples.h"

namespace halvik {

// The coded QPSK downlink as a satellite sends it and an SDR sees it: CADUs as a .cadu file
// holds them (marker, data, Reed-Solomon check bytes; not randomized) are randomized after the
// marker, convolutionally coded (K=7, 171 and 133 octal, first generator first), punctured to
// rate 3/4 (X1 Y1 Y2 X3), mapped two coded bits a symbol (a one positive; the first on I),
// root-raised-cosine shaped and sampled at any rate, with the impairments of a pass. Noise is
// complex Gaussian at the given Eb/N0 per information bit.
struct QpskSignal {
  double sampleRate = 6.0e6;
  double symbolRate = 7.0e6 / 3.0;
  double rollOff = FactsOf(SatelliteFamily::Metop).rollOff;
  double carrierOffsetHz = 0.0;
  double carrierDriftHzPerS = 0.0;
  double sampleClockPpm = 0.0;
  double ebn0Db = 100.0;   // per information bit; 100: no noise
  double amplitude = 0.5;  // RMS, full scale 1
  // How the rails reach the receiver, for testing that the decoder finds them: quarter turns,
  // I and Q exchanged, the second generator's symbols inverted, and coded bits left out before
  // the first (2: the puncture period starts on the second symbol).
  int rotation = 0;
  bool swapped = false;
  bool invertedG2 = false;
  int skipCodedBits = 0;
  // false: one sample a symbol, the symbols themselves, as an ideal matched filter and timing
  // would give them (sampleRate must then equal symbolRate).
  bool shaped = true;
  std::uint64_t seed = 1;
};

// The convolutional code alone: data bits (one a byte) to coded bits, G1 then G2 for each,
// continuing from the encoder's state.
class ConvolutionalEncoder {
 public:
  void Encode(std::span<const std::uint8_t> bits, std::vector<std::uint8_t>& coded);

 private:
  unsigned state_ = 0;  // the newest bit lowest
};

// CADU `number` of a patterned stream, as a .cadu file holds it: the marker, bytes that follow
// from the number, and the Reed-Solomon check bytes of the four interleaved codewords in place.
// Stands in for real virtual channels where only the coding layers matter.
void PatternedCadu(std::int64_t number, std::span<std::uint8_t, kCaduBytes> cadu);

class QpskModulator {
 public:
  explicit QpskModulator(const QpskSignal& signal);
  ~QpskModulator();
  QpskModulator(const QpskModulator&) = delete;
  QpskModulator& operator=(const QpskModulator&) = delete;

  void SetEbN0(double db);
  void SetCarrierOffset(double hz);
  // Whole CADUs (1024 bytes each) to samples, appended to `out`.
  void Modulate(std::span<const std::uint8_t> cadus, std::vector<Sample>& out);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace halvik
