#include "dsp/QpskDemodulator.h"

#include <complex>
// liquid-dsp's complex type is std::complex<float> when <complex> comes first.
#include <liquid/liquid.h>
#include <volk/volk.h>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace halvik {
namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
// The carrier may lie this far from the corrected centre: Doppler at L band plus a crystal. The
// fourth power's line lies at four times the offset.
constexpr double kSearchSpanHz = 62000.0;
constexpr double kSamplesPerSymbol = 2.0;
// The resampler: half-length in symbols, cutoff and stop-band attenuation (dB), filter bank.
// Lengths 4 and 5 (from 7 and 7) decode alike at 3 dB and save a fifth of the chain's time.
constexpr unsigned kResamplerLength = 4;
constexpr float kResamplerCutoff = 0.45f;
constexpr float kResamplerAttenuation = 60.0f;
constexpr unsigned kFilterBank = 32;
// The symbol synchronizer's matched filter: half-length in symbols; its loop bandwidth.
constexpr unsigned kMatchedLength = 5;
constexpr float kTimingBandwidth = 0.005f;
// Costas loop noise bandwidth: a 400 Hz/s ramp leaves a steady error far below a degree, while
// the phase jitter stays a few degrees at 4 dB Eb/N0.
constexpr double kCarrierLoopHz = 800.0;
constexpr double kLoopDamping = 0.707;
constexpr double kSmoothing = 1.0 / 4096.0;  // per symbol
constexpr double kUnlockedMetric = 0.1;
constexpr double kUnlockedSeconds = 0.1;
constexpr std::size_t kChunk = 8192;

}  // namespace

QpskDemodulator::QpskDemodulator(double sampleRate, double symbolRate, double rollOff)
    : sampleRate_(sampleRate),
      symbolRate_(symbolRate),
      search_(kSamplesPerSymbol * symbolRate, 4.0 * kSearchSpanHz),
      mixed_(kChunk) {
  const double rate = kSamplesPerSymbol * symbolRate / sampleRate;
  resampler_ = resamp_crcf_create(static_cast<float>(rate), kResamplerLength, kResamplerCutoff,
                                  kResamplerAttenuation, kFilterBank);
  synchronizer_ =
      symsync_crcf_create_rnyquist(LIQUID_FIRFILT_RRC, static_cast<unsigned>(kSamplesPerSymbol),
                                   kMatchedLength, static_cast<float>(rollOff), kFilterBank);
  symsync_crcf_set_lf_bw(synchronizer_, kTimingBandwidth);
  resampled_.resize(static_cast<std::size_t>(std::ceil(kChunk * rate)) + 16);
  const double wn = 2.0 * kCarrierLoopHz / (kLoopDamping + 1.0 / (4.0 * kLoopDamping));
  const double update = 1.0 / symbolRate;
  gainPhase_ = 2.0 * kLoopDamping * wn * update;
  gainFrequency_ = (wn * update) * (wn * update);
}

QpskDemodulator::~QpskDemodulator() {
  resamp_crcf_destroy(resampler_);
  symsync_crcf_destroy(synchronizer_);
}

double QpskDemodulator::carrierOffsetHz() const {
  return tracking_ ? mixerHz_ + loopFrequency_ * symbolRate_ / kTwoPi : 0.0;
}

double QpskDemodulator::ebn0Db() const {
  if (symbolCount_ == 0) return 0.0;
  // Constant-modulus signal in complex Gaussian noise: S = sqrt(2 M2^2 - M4).
  const double signal =
      std::sqrt(std::max(0.0, 2.0 * secondMoment_ * secondMoment_ - fourthMoment_));
  const double noise = secondMoment_ - signal;
  if (signal <= 0 || noise <= 0) return signal > 0 ? 60.0 : 0.0;
  constexpr double kInformationBitsPerSymbol = 1.5;
  return 10.0 * std::log10(signal / noise / kInformationBitsPerSymbol);
}

void QpskDemodulator::Push(std::span<const Sample> samples,
                           std::vector<std::complex<float>>& symbols) {
  while (!samples.empty()) {
    const std::span<const Sample> chunk = samples.first(std::min(samples.size(), kChunk));
    samples = samples.subspan(chunk.size());
    const auto step =
        std::polar(1.0f, static_cast<float>(-kTwoPi * (correctionHz_ + mixerHz_) / sampleRate_));
    volk_32fc_s32fc_x2_rotator_32fc(mixed_.data(), chunk.data(), step, &phasor_,
                                    static_cast<unsigned>(chunk.size()));
    phasor_ /= std::abs(phasor_);
    unsigned produced = 0;
    resamp_crcf_execute_block(resampler_, mixed_.data(), static_cast<unsigned>(chunk.size()),
                              resampled_.data(), &produced);
    if (!tracking_) {
      fourth_.resize(produced);
      for (unsigned i = 0; i < produced; ++i) {
        const Sample square = resampled_[i] * resampled_[i];
        fourth_[i] = square * square;
      }
      std::span<const Sample> rest(fourth_);
      while (!rest.empty() && !tracking_) {
        std::size_t used = 0;
        const auto found = search_.Push(rest, used);
        rest = rest.subspan(used);
        if (found) StartTracking(*found / 4.0);
      }
      continue;
    }
    Track(std::span<const Sample>(resampled_.data(), produced), symbols);
  }
}

void QpskDemodulator::StartTracking(double offsetHz) {
  mixerHz_ += offsetHz;
  tracking_ = true;
  loopPhase_ = 0;
  loopFrequency_ = 0;
  lockMetric_ = 0;
  unlockedSymbols_ = 0;
  symsync_crcf_reset(synchronizer_);
}

void QpskDemodulator::Track(std::span<const Sample> resampled,
                            std::vector<std::complex<float>>& symbols) {
  synced_.resize(resampled.size() + 8);
  unsigned count = 0;
  symsync_crcf_execute(synchronizer_, const_cast<Sample*>(resampled.data()),
                       static_cast<unsigned>(resampled.size()), synced_.data(), &count);
  for (unsigned i = 0; i < count; ++i) {
    const std::complex<float> z = synced_[i] * std::polar(1.0f, static_cast<float>(-loopPhase_));
    const double re = z.real();
    const double im = z.imag();
    const double magnitude = 0.5 * (std::abs(re) + std::abs(im));
    magnitude_ = magnitude_ == 0 ? magnitude : magnitude_ + (magnitude - magnitude_) * kSmoothing;
    // Costas detector for QPSK: the sine of the phase error, times the amplitude's sqrt(2).
    const double detector = (re >= 0 ? im : -im) - (im >= 0 ? re : -re);
    const double error =
        magnitude_ > 0 ? std::clamp(detector / (2.0 * magnitude_), -1.0, 1.0) : 0.0;
    loopFrequency_ += gainFrequency_ * error;
    loopPhase_ += loopFrequency_ + gainPhase_ * error;
    if (loopPhase_ > std::numbers::pi) loopPhase_ -= kTwoPi;
    if (loopPhase_ < -std::numbers::pi) loopPhase_ += kTwoPi;
    const double power = re * re + im * im;
    const std::complex<double> square(re * re - im * im, 2.0 * re * im);
    const double fourthReal = square.real() * square.real() - square.imag() * square.imag();
    if (power > 0) lockMetric_ += (-fourthReal / (power * power) - lockMetric_) * kSmoothing;
    secondMoment_ += (power - secondMoment_) * kSmoothing;
    fourthMoment_ += (power * power - fourthMoment_) * kSmoothing;
    ++symbolCount_;
    symbols.push_back(z);
  }
  // The loop's frequency moves into the mixer, so the filters see the carrier centred.
  mixerHz_ += loopFrequency_ * symbolRate_ / kTwoPi;
  loopFrequency_ = 0;
  unlockedSymbols_ = lockMetric_ < kUnlockedMetric ? unlockedSymbols_ + count : 0;
  if (symbolCount_ > static_cast<std::int64_t>(kUnlockedSeconds * symbolRate_) &&
      unlockedSymbols_ > static_cast<std::int64_t>(kUnlockedSeconds * symbolRate_)) {
    tracking_ = false;
    mixerHz_ = 0;
    search_.Clear();
  }
}

}  // namespace halvik
