#include "sim/PmModulator.h"

#include <cmath>
#include <numbers>

namespace halvik {
namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
// The carrier's frequency and phasor step are refreshed this often (samples): the drift of a
// pass moves the frequency by far less than a hertz in that time.
constexpr int kCarrierStepSamples = 256;

}  // namespace

struct PmModulator::State {
  PmSignal signal;
  double chipsPerSample = 0;  // chip rate over the receiver's true sample rate
  double secondsPerSample = 0;
  // Chips not yet fully sampled, as +1/-1, and the stream position of the first of them.
  std::vector<std::int8_t> chips;
  std::int64_t firstChip = 0;
  double chipPosition = 0;  // start of the next sample, in chips since the stream began
  double frequencyHz = 0;
  std::complex<double> carrier{1.0, 0.0};
  std::complex<double> carrierStep{1.0, 0.0};
  int samplesToRefresh = 0;
  float noiseSigma = 0;  // per component; 0: no noise
  std::uint64_t noiseState = 0;
  float spareNoise = 0;
  bool haveSpare = false;

  void SetEbN0(double db) {
    if (db >= 100.0) {
      noiseSigma = 0;
      return;
    }
    const double ebn0 = std::pow(10.0, db / 10.0);
    const double variance =
        signal.amplitude * signal.amplitude * signal.sampleRate / (signal.bitRate * ebn0);
    noiseSigma = static_cast<float>(std::sqrt(variance / 2.0));
  }

  std::uint64_t NextRandom() {
    // splitmix64: white and seedable, at a fraction of the Mersenne Twister's cost per draw.
    std::uint64_t z = (noiseState += 0x9E3779B97F4A7C15u);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    return z ^ (z >> 31);
  }

  // Box-Muller: two independent unit normals from one 64-bit draw.
  std::complex<float> Gaussian() {
    const std::uint64_t r = NextRandom();
    const float u1 = (static_cast<float>(r >> 40) + 0.5f) * 0x1p-24f;
    const float u2 = static_cast<float>((r >> 16) & 0xFFFFFF) * 0x1p-24f;
    const float radius = std::sqrt(-2.0f * std::log(u1));
    const float angle = static_cast<float>(kTwoPi) * u2;
    return {radius * std::cos(angle), radius * std::sin(angle)};
  }

  void RefreshCarrier() {
    const double stepSeconds = secondsPerSample * kCarrierStepSamples;
    // The frequency at the middle of the coming steps, so the drift is followed without lag.
    const double midHz = frequencyHz + signal.carrierDriftHzPerS * stepSeconds / 2.0;
    carrierStep = std::polar(1.0, kTwoPi * midHz * secondsPerSample);
    frequencyHz += signal.carrierDriftHzPerS * stepSeconds;
    carrier /= std::abs(carrier);
    samplesToRefresh = kCarrierStepSamples;
  }
};

PmModulator::PmModulator(const PmSignal& signal) : state_(std::make_unique<State>()) {
  State& s = *state_;
  s.signal = signal;
  // The receiver's clock runs fast by `ppm`: its samples lie closer together in true time.
  const double trueRate = signal.sampleRate * (1.0 + signal.sampleClockPpm * 1e-6);
  s.secondsPerSample = 1.0 / trueRate;
  s.chipsPerSample = 2.0 * signal.bitRate / trueRate;
  s.frequencyHz = signal.carrierOffsetHz;
  s.noiseState = signal.seed;
  s.SetEbN0(signal.ebn0Db);
}

PmModulator::~PmModulator() = default;

void PmModulator::SetEbN0(double db) {
  state_->SetEbN0(db);
}

void PmModulator::SetCarrierOffset(double hz) {
  state_->frequencyHz = hz;
  state_->samplesToRefresh = 0;
}

void PmModulator::Modulate(std::span<const std::uint8_t> bits, std::vector<Sample>& out) {
  State& s = *state_;
  // Split-phase: a one is sent as a positive then a negative chip, a zero the other way round.
  for (std::uint8_t bit : bits) {
    const bool one = (bit != 0) != s.signal.inverted;
    s.chips.push_back(one ? 1 : -1);
    s.chips.push_back(one ? -1 : 1);
  }
  const double amplitude = s.signal.amplitude;
  const double beta = s.signal.modulationIndexRad;
  const std::complex<double> plus = std::polar(amplitude, beta);
  const std::complex<double> minus = std::conj(plus);
  const double endChip = static_cast<double>(s.firstChip) + static_cast<double>(s.chips.size());

  // An ideal sampler: each sample is the signal at its own instant, the chip it falls in (no
  // front-end filter, so the theoretical error rate stays reachable).
  while (s.chipPosition < endChip) {
    const auto chip = static_cast<std::int64_t>(s.chipPosition);
    const std::complex<double> value =
        s.chips[static_cast<std::size_t>(chip - s.firstChip)] > 0 ? plus : minus;
    if (s.samplesToRefresh == 0) s.RefreshCarrier();
    --s.samplesToRefresh;
    Sample sample(value * s.carrier);
    s.carrier *= s.carrierStep;
    if (s.noiseSigma > 0) sample += s.noiseSigma * s.Gaussian();
    out.push_back(sample);
    s.chipPosition += s.chipsPerSample;
  }
  // Keep the chip the next sample falls in, and what follows it.
  const auto keepFrom =
      std::min(static_cast<std::size_t>(static_cast<std::int64_t>(s.chipPosition) - s.firstChip),
               s.chips.size());
  s.chips.erase(s.chips.begin(), s.chips.begin() + static_cast<std::ptrdiff_t>(keepFrom));
  s.firstChip += static_cast<std::int64_t>(keepFrom);
}

void AppendWordBits(std::span<const std::uint16_t> words, int bitsPerWord,
                    std::vector<std::uint8_t>& bits) {
  for (std::uint16_t word : words) {
    for (int bit = bitsPerWord - 1; bit >= 0; --bit) {
      bits.push_back(static_cast<std::uint8_t>((word >> bit) & 1u));
    }
  }
}

}  // namespace halvik
