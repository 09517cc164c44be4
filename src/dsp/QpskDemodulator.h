#pragma once

#include <complex>
#include <cstddef>
#include <span>
#include <vector>

#include "dsp/CarrierSearch.h"
#include "dsp/Samples.h"

namespace halvik {

// QPSK, samples to soft symbols: the carrier found by the spectrum of the signal's fourth power
// (which strips the modulation), a Costas loop, and the root-raised-cosine matched filter
// evaluated straight from the input samples at the instants a Gardner timing loop asks for
// (twice a symbol: the symbol and the transition between), from about 1.3 samples per symbol
// up. The symbols keep the carrier loop's fourfold ambiguity, for the decoder to resolve.
class QpskDemodulator {
 public:
  QpskDemodulator(double sampleRate, double symbolRate, double rollOff);
  ~QpskDemodulator();
  QpskDemodulator(const QpskDemodulator&) = delete;
  QpskDemodulator& operator=(const QpskDemodulator&) = delete;

  void SetFrequencyCorrection(double hz) { correctionHz_ = hz; }
  // Appends one soft symbol per symbol the samples complete (nothing while searching).
  void Push(std::span<const Sample> samples, std::vector<std::complex<float>>& symbols);

  bool carrierLocked() const { return tracking_ && lockMetric_ > kLockedMetric; }
  double carrierOffsetHz() const;
  // Eb/N0 per information bit of the rate-3/4 code, dB, from the symbols' moments; 0 before any.
  double ebn0Db() const;

 private:
  static constexpr double kLockedMetric = 0.3;

  void Track(std::vector<std::complex<float>>& symbols);
  // The matched filter's output at `at` samples into `buffer_`.
  Sample Filtered(double at);
  void StartTracking(double offsetHz);
  void Costas(Sample symbol, std::vector<std::complex<float>>& symbols);

  double sampleRate_;
  double symbolRate_;
  double correctionHz_ = 0;
  double mixerHz_ = 0;  // carrier found and followed, beyond the correction
  std::complex<float> phasor_{1.0f, 0.0f};
  CarrierSearch search_;
  bool tracking_ = false;
  std::vector<Sample> mixed_;
  std::vector<Sample> fourth_;

  // The matched filter at kFilterPhases fractional delays, `taps_` apiece, row after row.
  double samplesPerSymbol_;
  std::size_t half_ = 0;  // taps before the instant's sample, that one included
  std::size_t taps_ = 0;  // a row's length
  std::vector<float> bankStorage_;
  float* bank_ = nullptr;  // aligned, in bankStorage_
  // Mixed samples not yet behind every output; the next output's place in them, in samples.
  std::vector<Sample> buffer_;
  double next_ = 0;
  // Gardner timing loop: the samples between symbols (the loop's correction folded in), its
  // integrator, the last symbol and whether the next output is a symbol or a transition.
  double step_ = 0;
  double timingIntegrator_ = 0;
  double timingGainPhase_ = 0;
  double timingGainRate_ = 0;
  double symbolPower_ = 0;
  Sample lastSymbol_{};
  Sample transition_{};
  bool symbolNext_ = true;

  // Costas loop on the symbols: phase, frequency (radians a symbol), gains, smoothed magnitude.
  double loopPhase_ = 0;
  double loopFrequency_ = 0;
  double gainPhase_ = 0;
  double gainFrequency_ = 0;
  double magnitude_ = 0;
  double lockMetric_ = 0;
  std::int64_t unlockedSymbols_ = 0;
  double secondMoment_ = 0;
  double fourthMoment_ = 0;
  std::int64_t symbolCount_ = 0;
};

}  // namespace halvik
