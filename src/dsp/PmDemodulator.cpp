#include "dsp/PmDemodulator.h"

#include <volk/volk.h>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace halvik {
namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
// The carrier may lie this far from the corrected centre: Doppler at L band plus a crystal.
constexpr double kSearchSpanHz = 62000.0;
// The carrier loop updates once per block: its phase detector is the argument of the block's
// sum, in which the split-phase data (no DC) cancels and the carrier adds up.
constexpr std::size_t kLoopBlock = 128;
// Loop noise bandwidth: a 400 Hz/s Doppler ramp leaves a steady phase error of about 0.07 rad,
// while the phase jitter stays near 0.03 rad even at 7 dB Eb/N0 with an 80 degree index.
constexpr double kCarrierLoopHz = 100.0;
constexpr double kLoopDamping = 0.707;
constexpr double kLockSmoothing = 1.0 / 64.0;  // per block
constexpr double kUnlockedMetric = 0.15;
constexpr double kUnlockedSeconds = 0.1;  // below kUnlockedMetric this long: search again
// Chip timing: the proportional gain on each transition's timing error (samples), wide for the
// first chips, then narrow, since a boundary misplaced past a sample costs that sample twice;
// the integral gain is a quarter of its square (critical damping).
constexpr double kTimingAcquisitionGain = 0.004;
constexpr std::int64_t kTimingAcquisitionChips = 8000;
constexpr double kTimingGain = 0.0005;
// Width of the transition window, in chips: the samples next to the boundary carry the timing,
// the others only noise.
constexpr double kTransitionWindow = 0.5;
// Samples (of a sample interval) around a chip boundary estimate over which a sample is shared
// between the two chips; measured best among 0 to 0.5 at 8 and 10 dB.
constexpr double kBoundarySpread = 0.05;
constexpr double kMaxClockError = 0.01;  // of the nominal chip length
constexpr float kChipSmoothing = 1.0f / 256.0f;
// Bit phase: the other pairing must show this much more mid-bit transition energy to win.
constexpr float kPairSmoothing = 1.0f / 64.0f;
constexpr float kPhaseSwitchRatio = 1.25f;
constexpr std::int64_t kPairWarmUpChips = 256;
constexpr double kMomentSmoothing = 1.0 / 16384.0;
constexpr std::size_t kChunk = 4096;

}  // namespace

PmDemodulator::PmDemodulator(double sampleRate, double bitRate)
    : sampleRate_(sampleRate),
      nominalChipSamples_(sampleRate / (2.0 * bitRate)),
      search_(sampleRate, kSearchSpanHz),
      mixed_(kChunk) {
  const double wn = 2.0 * kCarrierLoopHz / (kLoopDamping + 1.0 / (4.0 * kLoopDamping));
  const double update = static_cast<double>(kLoopBlock) / sampleRate;
  gainPhase_ = 2.0 * kLoopDamping * wn * update;
  gainFrequency_ = (wn * update) * (wn * update);
}

double PmDemodulator::carrierOffsetHz() const {
  return tracking_ ? loopRadPerSample_ * sampleRate_ / kTwoPi : 0.0;
}

double PmDemodulator::ebn0Db() const {
  if (bits_ == 0) return 0.0;
  // The second and fourth moments separate a two-level signal from Gaussian noise without the
  // bias a mean-over-spread ratio has at low signal-to-noise ratios.
  const double m2 = secondMoment_;
  const double signal = std::sqrt(std::max(0.0, (3.0 * m2 * m2 - fourthMoment_) / 2.0));
  const double noise = m2 - signal;
  if (signal <= 0 || noise <= 0) return signal > 0 ? 60.0 : 0.0;
  // Soft bits are per sample, like the carrier's amplitude from the loop.
  const double data = std::sqrt(signal);
  const double dataShare = data * data / (data * data + carrierAmplitude_ * carrierAmplitude_);
  const double ebn0 = signal / noise / (2.0 * dataShare);
  return 10.0 * std::log10(ebn0);
}

void PmDemodulator::Push(std::span<const Sample> samples, std::vector<float>& softBits) {
  while (!samples.empty()) {
    std::span<const Sample> chunk = samples.first(std::min(samples.size(), kChunk));
    samples = samples.subspan(chunk.size());
    if (!tracking_) {
      const auto correction =
          std::polar(1.0f, static_cast<float>(-kTwoPi * correctionHz_ / sampleRate_));
      volk_32fc_s32fc_x2_rotator_32fc(mixed_.data(), chunk.data(), correction, &phasor_,
                                      static_cast<unsigned>(chunk.size()));
      std::size_t used = 0;
      const auto found = search_.Push(std::span<const Sample>(mixed_.data(), chunk.size()), used);
      chunk = chunk.subspan(used);
      if (!found) continue;
      StartTracking(*found);
    }
    TrackCarrier(chunk);
    RecoverChips(softBits);
    if (unlockedBlocks_ * kLoopBlock > static_cast<std::size_t>(kUnlockedSeconds * sampleRate_)) {
      tracking_ = false;
      search_.Clear();
    }
  }
}

void PmDemodulator::StartTracking(double carrierHz) {
  tracking_ = true;
  loopRadPerSample_ = kTwoPi * carrierHz / sampleRate_;
  carrierPower_ = quadraturePower_ = lockMetric_ = carrierAmplitude_ = 0;
  unlockedBlocks_ = 0;
  quadrature_.clear();
  prefix_.assign(1, 0.0f);
  point_ = 0;
  chipSamples_ = nominalChipSamples_;
  boundaries_ = 0;
  lastBoundary_ = transition_ = previousChip_ = chipMagnitude_ = 0;
  lastBoundaryIndex_ = 0;
  previousSamples_ = 0;
  chips_ = 0;
  pairEnergy_[0] = pairEnergy_[1] = 0;
}

void PmDemodulator::TrackCarrier(std::span<const Sample> samples) {
  for (std::size_t start = 0; start < samples.size(); start += kLoopBlock) {
    const std::size_t count = std::min(kLoopBlock, samples.size() - start);
    const double perSample = kTwoPi * correctionHz_ / sampleRate_ + loopRadPerSample_;
    const auto step = std::polar(1.0f, static_cast<float>(-perSample));
    volk_32fc_s32fc_x2_rotator_32fc(mixed_.data(), samples.data() + start, step, &phasor_,
                                    static_cast<unsigned>(count));
    // After the carrier is removed the data lies in the quadrature component alone.
    float sumI = 0;
    float sumQ = 0;
    float running = prefix_.back();
    for (std::size_t i = 0; i < count; ++i) {
      sumI += mixed_[i].real();
      const float q = mixed_[i].imag();
      sumQ += q;
      quadrature_.push_back(q);
      running += q;
      prefix_.push_back(running);
    }
    const double error = std::atan2(sumQ, sumI);
    phasor_ *= std::polar(1.0f, static_cast<float>(-gainPhase_ * error));
    loopRadPerSample_ += gainFrequency_ * error / static_cast<double>(kLoopBlock);

    const double n = static_cast<double>(count);
    carrierPower_ += kLockSmoothing * (sumI * sumI / (n * n) - carrierPower_);
    quadraturePower_ += kLockSmoothing * (sumQ * sumQ / (n * n) - quadraturePower_);
    carrierAmplitude_ += kLockSmoothing * (sumI / n - carrierAmplitude_);
    const double total = carrierPower_ + quadraturePower_;
    lockMetric_ = total > 0 ? (carrierPower_ - quadraturePower_) / total : 0.0;
    unlockedBlocks_ = lockMetric_ < kUnlockedMetric ? unlockedBlocks_ + 1 : 0;
  }
}

void PmDemodulator::RecoverChips(std::vector<float>& softBits) {
  // A chip's sum is that of the samples whose instants fall inside it: the matched filter of a
  // rectangular chip at any ratio of samples to chips. The timing detector instead reads sample
  // n as covering [n - 1/2, n + 1/2), so its window has fractional edges and its error is smooth
  // in the timing, even where the ratio is close to a whole number.
  const double halfWindow = kTransitionWindow * chipSamples_ / 2.0;
  const double end = static_cast<double>(quadrature_.size()) - 0.5 - halfWindow;
  const auto smooth = [this](double at) {
    const double shifted = at + 0.5;
    const auto index = static_cast<std::size_t>(shifted);
    return prefix_[index] +
           static_cast<float>(shifted - static_cast<double>(index)) * quadrature_[index];
  };
  while (point_ < end) {
    const auto index = static_cast<std::size_t>(std::ceil(point_));
    // A boundary within kBoundarySpread of a sample instant cannot say for sure which chip the
    // sample belongs to: it is shared between them, which costs less than a wrong guess.
    const auto nearest = static_cast<std::size_t>(point_ + 0.5);
    const double before = std::clamp(
        (point_ - static_cast<double>(nearest)) / (2.0 * kBoundarySpread) + 0.5, 0.0, 1.0);
    const float sum = prefix_[nearest] + static_cast<float>(before) * quadrature_[nearest];
    const float chip = sum - lastBoundary_;
    const auto count = static_cast<int>(index - lastBoundaryIndex_);
    lastBoundary_ = sum;
    lastBoundaryIndex_ = index;
    double late = 0;
    if (boundaries_ >= 2) {
      chipMagnitude_ += kChipSmoothing * (std::abs(chip) - chipMagnitude_);
      // Transition tracking: a window centred on the last boundary sums to zero across a
      // transition when the boundary is right, and in proportion to the timing error otherwise.
      const float direction = (chip > 0 ? 0.5f : -0.5f) - (previousChip_ > 0 ? 0.5f : -0.5f);
      if (boundaries_ >= 3 && direction != 0 && chipMagnitude_ > 0) {
        late = transition_ * direction * chipSamples_ / (2.0 * chipMagnitude_);
        late = std::clamp(late, -chipSamples_ / 4.0, chipSamples_ / 4.0);
        const double gain = chips_ < kTimingAcquisitionChips ? kTimingAcquisitionGain : kTimingGain;
        chipSamples_ = std::clamp(chipSamples_ - gain * gain / 4.0 * late,
                                  nominalChipSamples_ * (1.0 - kMaxClockError),
                                  nominalChipSamples_ * (1.0 + kMaxClockError));
        late *= gain;
      }
      Chip(chip, count, softBits);
    }
    ++boundaries_;
    transition_ = smooth(point_ + halfWindow) - smooth(point_ - halfWindow);
    point_ += chipSamples_ - late;
  }
  // Keep what the next transition window reaches back to, and a sample more for a step back.
  const double keepFrom = std::max(0.0, std::floor(point_ - halfWindow - 0.5) - 1.0);
  const auto drop = std::min(static_cast<std::size_t>(keepFrom), quadrature_.size());
  if (drop == 0) return;
  const float base = prefix_[drop];
  lastBoundary_ -= base;
  lastBoundaryIndex_ -= drop;
  quadrature_.erase(quadrature_.begin(), quadrature_.begin() + static_cast<std::ptrdiff_t>(drop));
  prefix_.erase(prefix_.begin(), prefix_.begin() + static_cast<std::ptrdiff_t>(drop));
  for (float& value : prefix_) value -= base;
  point_ -= static_cast<double>(drop);
}

void PmDemodulator::Chip(float chip, int samples, std::vector<float>& softBits) {
  if (chips_ > 0) {
    // The pair (previous chip, this chip) is a bit at one phase and straddles two at the other.
    const float pair = previousChip_ - chip;
    // Per sample, so that bits of four and of five samples weigh alike in the Eb/N0 estimate.
    const float soft = pair / static_cast<float>(std::max(1, previousSamples_ + samples));
    const auto phase = static_cast<int>((chips_ - 1) & 1);
    pairEnergy_[phase] += kPairSmoothing * (std::abs(pair) - pairEnergy_[phase]);
    if (phase == bitPhase_) {
      softBits.push_back(soft);
      ++bits_;
      const double alpha = std::max(kMomentSmoothing, 1.0 / static_cast<double>(bits_));
      const double square = static_cast<double>(soft) * soft;
      secondMoment_ += alpha * (square - secondMoment_);
      fourthMoment_ += alpha * (square * square - fourthMoment_);
    }
    if (chips_ > kPairWarmUpChips &&
        pairEnergy_[1 - bitPhase_] > kPhaseSwitchRatio * pairEnergy_[bitPhase_]) {
      bitPhase_ = 1 - bitPhase_;
      ++bitPhaseChanges_;
    }
  }
  previousChip_ = chip;
  previousSamples_ = samples;
  ++chips_;
}

}  // namespace halvik
