#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "dsp/Samples.h"

namespace halvik {

// A split-phase PM downlink as a satellite sends it and an SDR sees it: NRZ-L bits, Manchester
// coded, phase-modulating a residual carrier, with the impairments a real pass brings. A one is
// sent as a chip of phase +index then a chip of phase -index, a zero the other way round; noise is
// complex Gaussian of variance amplitude^2 * sampleRate / (bitRate * Eb/N0) per sample.
struct PmSignal {
  double sampleRate = 3.0e6;         // samples per second at the receiver
  double bitRate = 665400.0;         // data bits per second (chips are twice that)
  double modulationIndexRad = 1.17;  // peak phase deviation (about 67 degrees)
  double carrierOffsetHz = 0.0;      // carrier at the start, relative to the centre
  double carrierDriftHzPerS = 0.0;   // Doppler rate
  double sampleClockPpm = 0.0;       // the receiver's sample clock error
  double ebn0Db = 100.0;             // per data bit, of the whole signal; 100: no noise
  bool inverted = false;             // 180 degrees: every bit arrives complemented
  double amplitude = 0.5;            // of the carrier, full scale 1
  std::uint64_t seed = 1;            // of the noise
};

// Turns bits into samples with the signal's impairments. Keeps its phase, time and noise state
// across calls, so a stream modulated in pieces is one continuous signal.
class PmModulator {
 public:
  explicit PmModulator(const PmSignal& signal);
  ~PmModulator();
  PmModulator(const PmModulator&) = delete;
  PmModulator& operator=(const PmModulator&) = delete;

  // Changes what the next samples carry (a pass's Doppler and elevation move on).
  void SetEbN0(double db);
  void SetCarrierOffset(double hz);
  // Bits (0 or 1, one a byte) to samples, appended to `out`.
  void Modulate(std::span<const std::uint8_t> bits, std::vector<Sample>& out);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The bits of 10-bit words, most significant first, appended one a byte.
void AppendWordBits(std::span<const std::uint16_t> words, int bitsPerWord,
                    std::vector<std::uint8_t>& bits);

}  // namespace halvik
