#pragma once

#include <complex>
#include <cstddef>
#include <memory>
#include <span>
#include <vector>

#include "dsp/CarrierSearch.h"
#include "dsp/Samples.h"

namespace halvik {

// Split-phase PM on a residual carrier, samples to soft bits (per sample, in the units of the
// input): carrier search, a second-order
// carrier loop, chip timing at any ratio (from about 2.2 samples per chip), and the split-phase
// decision with its half-bit ambiguity resolved. A soft bit is positive for a positive chip then
// a negative one (a one, unless the whole stream is inverted, which the frame layer resolves).
class PmDemodulator {
 public:
  PmDemodulator(double sampleRate, double bitRate);

  // A known carrier offset, Hz, mixed out before the search and the loop.
  void SetFrequencyCorrection(double hz) { correctionHz_ = hz; }
  // Appends one soft bit per data bit the samples complete.
  void Push(std::span<const Sample> samples, std::vector<float>& softBits);

  bool carrierLocked() const { return tracking_ && lockMetric_ > kLockedMetric; }
  // Carrier found relative to the corrected centre, Hz (0 while searching).
  double carrierOffsetHz() const;
  // Eb/N0 of the whole signal (carrier and data) per data bit, dB, from the soft bits and the
  // carrier-to-data amplitude ratio; 0 before any bit.
  double ebn0Db() const;
  // Split-phase bit phase changes (half-bit slips) since the start: each one costs the frame
  // layer a resync.
  int bitPhaseChanges() const { return bitPhaseChanges_; }

 private:
  static constexpr double kLockedMetric = 0.4;

  void StartTracking(double carrierHz);
  void TrackCarrier(std::span<const Sample> samples);
  void RecoverChips(std::vector<float>& softBits);
  void Chip(float chip, int samples, std::vector<float>& softBits);

  double sampleRate_;
  double nominalChipSamples_;
  double correctionHz_ = 0;
  CarrierSearch search_;
  bool tracking_ = false;
  std::vector<Sample> mixed_;

  // Carrier loop: the mixer's phasor, the loop's frequency in radians per sample, its gains per
  // update of kLoopBlock samples, and the lock indicator (cos 2x the phase error, smoothed).
  std::complex<float> phasor_{1.0f, 0.0f};
  double loopRadPerSample_ = 0;
  double gainPhase_ = 0;
  double gainFrequency_ = 0;
  double carrierPower_ = 0;     // smoothed Re(z)^2 of each block's sum z
  double quadraturePower_ = 0;  // smoothed Im(z)^2
  double lockMetric_ = 0;
  double carrierAmplitude_ = 0;  // per sample, smoothed
  int unlockedBlocks_ = 0;

  // Chip timing on the quadrature (data) component: `quadrature_` holds the samples not yet
  // wholly behind the timing point and `prefix_` their running sums, so any window with
  // fractional edges sums in two look-ups.
  std::vector<float> quadrature_;
  std::vector<float> prefix_;
  double point_ = 0;  // next chip boundary, samples from quadrature_[0]
  double chipSamples_ = 0;
  std::int64_t boundaries_ = 0;
  float lastBoundary_ = 0;             // running sum at the last boundary
  std::size_t lastBoundaryIndex_ = 0;  // first sample after it
  float transition_ = 0;               // sum across the last boundary
  float previousChip_ = 0;
  int previousSamples_ = 0;  // in the previous chip
  float chipMagnitude_ = 0;  // mean |chip sum|, the timing detector's scale

  // Split-phase: chips pair into bits at one of two phases; the right one has a transition
  // in every bit.
  std::int64_t chips_ = 0;
  int bitPhase_ = 0;
  float pairEnergy_[2] = {0, 0};
  int bitPhaseChanges_ = 0;

  // Moments of the soft bits for the Eb/N0 estimate.
  double secondMoment_ = 0;
  double fourthMoment_ = 0;
  std::int64_t bits_ = 0;
};

}  // namespace halvik
