#include "sim/SignalChannel.h"

#include <cmath>
#include <numbers>

namespace halvik {
namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
// The carrier's frequency and phasor step are refreshed this often (samples): the drift of a
// pass moves the frequency by far less than a hertz in that time.
constexpr int kCarrierStepSamples = 256;

}  // namespace

SignalChannel::SignalChannel(double sampleRate, double sampleClockPpm, double bitRate,
                             double amplitude, double carrierOffsetHz, double carrierDriftHzPerS,
                             double ebn0Db, std::uint64_t seed)
    : sampleRate_(sampleRate),
      bitRate_(bitRate),
      amplitude_(amplitude),
      // The receiver's clock runs fast by `ppm`: its samples lie closer together in true time.
      secondsPerSample_(1.0 / (sampleRate * (1.0 + sampleClockPpm * 1e-6))),
      driftHzPerS_(carrierDriftHzPerS),
      frequencyHz_(carrierOffsetHz),
      noiseState_(seed) {
  SetEbN0(ebn0Db);
}

void SignalChannel::SetEbN0(double db) {
  if (db >= 100.0) {
    noiseSigma_ = 0;
    return;
  }
  const double ebn0 = std::pow(10.0, db / 10.0);
  const double variance = amplitude_ * amplitude_ * sampleRate_ / (bitRate_ * ebn0);
  noiseSigma_ = static_cast<float>(std::sqrt(variance / 2.0));
}

std::uint64_t SignalChannel::NextRandom() {
  // splitmix64: white and seedable, at a fraction of the Mersenne Twister's cost per draw.
  std::uint64_t z = (noiseState_ += 0x9E3779B97F4A7C15u);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
  return z ^ (z >> 31);
}

// Box-Muller: two independent unit normals from one 64-bit draw.
std::complex<float> SignalChannel::Gaussian() {
  const std::uint64_t r = NextRandom();
  const float u1 = (static_cast<float>(r >> 40) + 0.5f) * 0x1p-24f;
  const float u2 = static_cast<float>((r >> 16) & 0xFFFFFF) * 0x1p-24f;
  const float radius = std::sqrt(-2.0f * std::log(u1));
  const float angle = static_cast<float>(kTwoPi) * u2;
  return {radius * std::cos(angle), radius * std::sin(angle)};
}

void SignalChannel::RefreshCarrier() {
  const double stepSeconds = secondsPerSample_ * kCarrierStepSamples;
  // The frequency at the middle of the coming steps, so the drift is followed without lag.
  const double midHz = frequencyHz_ + driftHzPerS_ * stepSeconds / 2.0;
  carrierStep_ = std::polar(1.0, kTwoPi * midHz * secondsPerSample_);
  frequencyHz_ += driftHzPerS_ * stepSeconds;
  carrier_ /= std::abs(carrier_);
  samplesToRefresh_ = kCarrierStepSamples;
}

}  // namespace halvik
