#include "sim/PmModulator.h"

#include <bit>
#include <cmath>
#include <numbers>

#include "sim/SignalChannel.h"

namespace halvik {
struct PmModulator::State {
  explicit State(const PmSignal& s)
      : signal(s),
        channel(s.sampleRate, s.sampleClockPpm, s.bitRate, s.amplitude, s.carrierOffsetHz,
                s.carrierDriftHzPerS, s.ebn0Db, s.seed),
        chipsPerSample(2.0 * s.bitRate * channel.secondsPerSample()) {}

  PmSignal signal;
  SignalChannel channel;
  double chipsPerSample;  // chip rate over the receiver's true sample rate
  // Chips not yet fully sampled, as +1/-1, and the stream position of the first of them.
  std::vector<std::int8_t> chips;
  std::int64_t firstChip = 0;
  double chipPosition = 0;  // start of the next sample, in chips since the stream began
};

PmModulator::PmModulator(const PmSignal& signal) : state_(std::make_unique<State>(signal)) {}

PmModulator::~PmModulator() = default;

void PmModulator::SetEbN0(double db) {
  state_->channel.SetEbN0(db);
}

void PmModulator::SetCarrierOffset(double hz) {
  state_->channel.SetCarrierOffset(hz);
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
    out.push_back(s.channel.Apply(value));
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

std::optional<BitErrorCount> CountSentBitErrors(std::span<const std::uint8_t> sent,
                                                std::span<const float> soft, std::size_t settle) {
  constexpr std::size_t kWindow = 64;
  constexpr int kMatchErrors = 12;
  if (soft.size() < settle + 2 * kWindow) return std::nullopt;
  std::uint64_t wanted = 0;
  for (std::size_t i = 0; i < kWindow; ++i) {
    wanted = (wanted << 1) | (soft[settle + i] > 0 ? 1u : 0u);
  }
  std::uint64_t window = 0;
  for (std::size_t i = 0; i < sent.size(); ++i) {
    window = (window << 1) | (sent[i] & 1u);
    if (i + 1 < kWindow || std::popcount(window ^ wanted) > kMatchErrors) continue;
    const std::size_t first = i + 1 - kWindow;  // sent index of decision `settle`
    BitErrorCount count;
    for (std::size_t k = 0; settle + k + kWindow < soft.size() && first + k < sent.size(); ++k) {
      count.errors += (soft[settle + k] > 0 ? 1 : 0) != sent[first + k];
      ++count.bits;
    }
    return count;
  }
  return std::nullopt;
}

}  // namespace halvik
