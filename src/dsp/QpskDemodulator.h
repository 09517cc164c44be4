#pragma once

#include <complex>
#include <cstddef>
#include <span>
#include <vector>

#include "dsp/CarrierSearch.h"
#include "dsp/Samples.h"

struct resamp_crcf_s;
struct symsync_crcf_s;

namespace halvik {

// QPSK, samples to soft symbols: the carrier found by the spectrum of the signal's fourth power
// (which strips the modulation), a Costas loop, the root-raised-cosine matched filter and
// symbol timing (liquid-dsp's resampler to two samples a symbol and its polyphase symbol
// synchronizer), from about 1.3 samples per symbol up. The symbols keep the carrier loop's
// fourfold ambiguity, for the decoder to resolve.
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

  void Track(std::span<const Sample> resampled, std::vector<std::complex<float>>& symbols);
  void StartTracking(double offsetHz);

  double sampleRate_;
  double symbolRate_;
  double correctionHz_ = 0;
  double mixerHz_ = 0;  // carrier found and followed, beyond the correction
  std::complex<float> phasor_{1.0f, 0.0f};
  resamp_crcf_s* resampler_ = nullptr;
  symsync_crcf_s* synchronizer_ = nullptr;
  CarrierSearch search_;
  bool tracking_ = false;
  std::vector<Sample> mixed_;
  std::vector<Sample> resampled_;
  std::vector<Sample> fourth_;
  std::vector<Sample> synced_;

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
