#include "dsp/QpskDemodulator.h"

#include <volk/volk.h>
#include <complex>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>

#include "dsp/RootRaisedCosine.h"

namespace halvik {
namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
// The carrier may lie this far from the corrected centre: Doppler at L band plus a crystal. The
// fourth power's line lies at four times the offset.
constexpr double kSearchSpanHz = 62000.0;
// The matched filter spans this many symbols each side of its peak, tabulated at this many
// fractional delays: an instant rounded to 1/256 of a sample costs nothing measurable.
constexpr double kMatchedSpanSymbols = 3.0;
constexpr int kFilterPhases = 128;
constexpr std::size_t kTapAlignment = 8;  // floats in 32 bytes
// Gardner loop: noise bandwidth (a fraction of the symbol rate), damping, and the detector's
// slope per symbol of timing error for a root-raised-cosine signal normalised by its power.
constexpr double kTimingBandwidth = 0.005;
constexpr double kTimingDamping = 0.707;
constexpr double kGardnerSlope = 2.0;
// The loop may pull the symbol clock this far (a fraction) from the nominal rate: far past any
// crystal's error and Doppler's.
constexpr double kTimingPull = 0.01;
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
      search_(sampleRate, 4.0 * kSearchSpanHz),
      mixed_(kChunk),
      samplesPerSymbol_(sampleRate / symbolRate) {
  // Output at instant t (in samples) = sum over n of x[n] h((t - n) / samplesPerSymbol): with
  // t = n0 + mu, the taps of phase mu run over n = n0 - half + 1 ... n0 + half.
  const int half = static_cast<int>(std::ceil(kMatchedSpanSymbols * samplesPerSymbol_));
  half_ = static_cast<std::size_t>(half);
  // Rows padded with zero taps to whole 32-byte vectors and stored 32-byte aligned: VOLK's
  // dot product loads the taps as aligned vectors whatever their address.
  taps_ = (2 * half_ + kTapAlignment - 1) / kTapAlignment * kTapAlignment;
  bankStorage_.assign(taps_ * kFilterPhases + kTapAlignment, 0.0f);
  const auto address = reinterpret_cast<std::uintptr_t>(bankStorage_.data());
  bank_ = bankStorage_.data() +
          (kTapAlignment - address / sizeof(float) % kTapAlignment) % kTapAlignment;
  for (int phase = 0; phase < kFilterPhases; ++phase) {
    const double mu = static_cast<double>(phase) / kFilterPhases;
    for (std::size_t i = 0; i < 2 * half_; ++i) {
      const double t = (mu + half - 1 - static_cast<double>(i)) / samplesPerSymbol_;
      bank_[static_cast<std::size_t>(phase) * taps_ + i] =
          static_cast<float>(RootRaisedCosine(t, rollOff) / samplesPerSymbol_);
    }
  }
  step_ = samplesPerSymbol_;
  const double theta = kTimingBandwidth / (kTimingDamping + 1.0 / (4.0 * kTimingDamping));
  const double denominator = 1.0 + 2.0 * kTimingDamping * theta + theta * theta;
  timingGainPhase_ = 4.0 * kTimingDamping * theta / denominator / kGardnerSlope;
  timingGainRate_ = 4.0 * theta * theta / denominator / kGardnerSlope;
  const double wn = 2.0 * kCarrierLoopHz / (kLoopDamping + 1.0 / (4.0 * kLoopDamping));
  const double update = 1.0 / symbolRate;
  gainPhase_ = 2.0 * kLoopDamping * wn * update;
  gainFrequency_ = (wn * update) * (wn * update);
}

QpskDemodulator::~QpskDemodulator() = default;

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
    if (!tracking_) {
      fourth_.resize(chunk.size());
      for (std::size_t i = 0; i < chunk.size(); ++i) {
        const Sample square = mixed_[i] * mixed_[i];
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
    symbols.reserve(
        symbols.size() +
        static_cast<std::size_t>(static_cast<double>(chunk.size()) / samplesPerSymbol_) + 2);
    buffer_.insert(buffer_.end(), mixed_.begin(),
                   mixed_.begin() + static_cast<std::ptrdiff_t>(chunk.size()));
    Track(symbols);
  }
}

void QpskDemodulator::StartTracking(double offsetHz) {
  mixerHz_ += offsetHz;
  tracking_ = true;
  loopPhase_ = 0;
  loopFrequency_ = 0;
  lockMetric_ = 0;
  unlockedSymbols_ = 0;
  buffer_.clear();
  next_ = static_cast<double>(taps_);
  step_ = samplesPerSymbol_;
  timingIntegrator_ = 0;
  symbolPower_ = 0;
  lastSymbol_ = {};
  symbolNext_ = true;
}

Sample QpskDemodulator::Filtered(double at) {
  // The instant rounded to the nearest tabulated delay: a whole sample and a phase.
  const auto index = static_cast<std::size_t>(std::lround(at * kFilterPhases));
  const std::size_t whole = index / kFilterPhases;
  const std::size_t phase = index % kFilterPhases;
  Sample out{};
  volk_32fc_32f_dot_prod_32fc(&out, buffer_.data() + (whole + 1 - half_), bank_ + phase * taps_,
                              static_cast<unsigned>(taps_));
  return out;
}

void QpskDemodulator::Track(std::vector<std::complex<float>>& symbols) {
  const std::int64_t before = symbolCount_;
  // Each output needs the samples up to half the filter past its instant.
  const double last =
      static_cast<double>(buffer_.size()) - static_cast<double>(taps_ - half_) - 2.0;
  while (next_ < last) {
    const Sample y = Filtered(next_);
    if (!symbolNext_) {
      transition_ = y;
      next_ += step_ / 2.0;
      symbolNext_ = true;
      continue;
    }
    // Gardner: the transition between two symbols lies at zero when the timing is right; late
    // strobes see it moved towards the newer symbol.
    const Sample change = y - lastSymbol_;
    const double power = std::norm(y);
    symbolPower_ = symbolPower_ == 0 ? power : symbolPower_ + (power - symbolPower_) * kSmoothing;
    const double error =
        symbolPower_ > 0
            ? std::clamp((change.real() * transition_.real() + change.imag() * transition_.imag()) /
                             symbolPower_,
                         -1.0, 1.0)
            : 0.0;
    timingIntegrator_ =
        std::clamp(timingIntegrator_ + timingGainRate_ * error, -kTimingPull, kTimingPull);
    step_ = samplesPerSymbol_ * (1.0 - timingGainPhase_ * error - timingIntegrator_);
    lastSymbol_ = y;
    Costas(y, symbols);
    next_ += step_ / 2.0;
    symbolNext_ = false;
  }
  // Keep the samples the next outputs still reach back to.
  const std::size_t keep = std::min(
      buffer_.size(),
      static_cast<std::size_t>(std::max(0.0, std::floor(next_) - static_cast<double>(taps_))));
  buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(keep));
  next_ -= static_cast<double>(keep);
  // The loop's frequency moves into the mixer, so the filter sees the carrier centred.
  mixerHz_ += loopFrequency_ * symbolRate_ / kTwoPi;
  loopFrequency_ = 0;
  const std::int64_t count = symbolCount_ - before;
  unlockedSymbols_ = lockMetric_ < kUnlockedMetric ? unlockedSymbols_ + count : 0;
  if (symbolCount_ > static_cast<std::int64_t>(kUnlockedSeconds * symbolRate_) &&
      unlockedSymbols_ > static_cast<std::int64_t>(kUnlockedSeconds * symbolRate_)) {
    tracking_ = false;
    mixerHz_ = 0;
    search_.Clear();
  }
}

void QpskDemodulator::Costas(Sample symbol, std::vector<std::complex<float>>& symbols) {
  // Turned back by the loop's phase, multiplied out by hand: the library's complex product
  // guards against infinities at several times the cost.
  const float c = std::cos(static_cast<float>(loopPhase_));
  const float s = std::sin(static_cast<float>(loopPhase_));
  const std::complex<float> z(symbol.real() * c + symbol.imag() * s,
                              symbol.imag() * c - symbol.real() * s);
  const double re = z.real();
  const double im = z.imag();
  const double magnitude = 0.5 * (std::abs(re) + std::abs(im));
  magnitude_ = magnitude_ == 0 ? magnitude : magnitude_ + (magnitude - magnitude_) * kSmoothing;
  // Costas detector for QPSK: the sine of the phase error, times the amplitude's sqrt(2).
  const double detector = (re >= 0 ? im : -im) - (im >= 0 ? re : -re);
  const double error = magnitude_ > 0 ? std::clamp(detector / (2.0 * magnitude_), -1.0, 1.0) : 0.0;
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

}  // namespace halvik
