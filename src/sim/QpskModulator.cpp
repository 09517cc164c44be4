#include "sim/QpskModulator.h"

extern "C" {
#include <fec.h>
}

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <numbers>

#include "devices/Downlink.h"
#include "dsp/CodedCaduDecoder.h"
#include "dsp/RootRaisedCosine.h"
#include "sim/SignalChannel.h"

namespace halvik {
namespace {

constexpr double kPi = std::numbers::pi;
constexpr unsigned kG1 = 0x4F;  // 171 octal, the newest bit lowest
constexpr unsigned kG2 = 0x6D;  // 133 octal
// The pulse is cut this many symbols each side of its peak.
constexpr int kPulseSpan = 8;
// The pulse is tabulated at this many phases a symbol: a sample's timing rounded to 1/512 of a
// symbol costs nothing measurable, and a table look-up is what lets serve-iq run at 6 Msps.
constexpr int kPulsePhases = 512;
constexpr double kInformationBitsPerSymbol = 2.0 * 3.0 / 4.0;

}  // namespace

void ConvolutionalEncoder::Encode(std::span<const std::uint8_t> bits,
                                  std::vector<std::uint8_t>& coded) {
  for (std::uint8_t bit : bits) {
    state_ = ((state_ << 1) | (bit & 1u)) & 0x7Fu;
    coded.push_back(static_cast<std::uint8_t>(std::popcount(state_ & kG1) & 1));
    coded.push_back(static_cast<std::uint8_t>(std::popcount(state_ & kG2) & 1));
  }
}

void PatternedCadu(std::int64_t number, std::span<std::uint8_t, kCaduBytes> cadu) {
  std::copy(kCaduMarker.begin(), kCaduMarker.end(), cadu.begin());
  std::array<std::uint8_t, kRsCodewordBytes> codeword{};
  constexpr int kDataBytes = kRsCodewordBytes - kRsCheckBytes;
  for (int k = 0; k < kRsInterleave; ++k) {
    for (int i = 0; i < kDataBytes; ++i) {
      codeword[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(number * 31 + i * 7 + k);
    }
    encode_rs_ccsds(codeword.data(), codeword.data() + kDataBytes, 0);
    for (int i = 0; i < kRsCodewordBytes; ++i) {
      cadu[kCaduMarker.size() + static_cast<std::size_t>(i * kRsInterleave + k)] =
          codeword[static_cast<std::size_t>(i)];
    }
  }
}

struct QpskModulator::State {
  explicit State(const QpskSignal& s)
      : signal(s),
        channel(s.sampleRate, s.sampleClockPpm, s.symbolRate * kInformationBitsPerSymbol,
                s.amplitude, s.carrierOffsetHz, s.carrierDriftHzPerS, s.ebn0Db, s.seed),
        symbolsPerSample(s.symbolRate * channel.secondsPerSample()),
        toSkip(s.skipCodedBits) {
    for (int j = -kPulseSpan + 1; j <= kPulseSpan; ++j) {
      for (int phase = 0; phase <= kPulsePhases; ++phase) {
        pulse.push_back(RootRaisedCosine(j - static_cast<double>(phase) / kPulsePhases, s.rollOff));
      }
    }
  }

  QpskSignal signal;
  SignalChannel channel;
  // pulse[(j + kPulseSpan - 1) * (kPulsePhases + 1) + phase]: the pulse at j + phase/kPulsePhases.
  std::vector<double> pulse;
  double symbolsPerSample;
  ConvolutionalEncoder encoder;
  std::int64_t dataBits = 0;  // encoded so far: the puncture pattern's phase
  int toSkip;
  std::vector<std::uint8_t> bits;
  std::vector<std::uint8_t> coded;
  std::vector<std::uint8_t> sent;  // after puncturing, not yet paired
  // Symbols not yet wholly behind the pulse, and the stream index of the first.
  std::vector<std::complex<double>> symbols;
  std::int64_t firstSymbol = 0;
  double position = 0;  // the next sample's time, in symbols since the stream began
};

QpskModulator::QpskModulator(const QpskSignal& signal) : state_(std::make_unique<State>(signal)) {}

QpskModulator::~QpskModulator() = default;

void QpskModulator::SetEbN0(double db) {
  state_->channel.SetEbN0(db);
}

void QpskModulator::SetCarrierOffset(double hz) {
  state_->channel.SetCarrierOffset(hz);
}

void QpskModulator::Modulate(std::span<const std::uint8_t> cadus, std::vector<Sample>& out) {
  State& s = *state_;
  const auto& randomizer = CaduRandomizer();
  s.bits.clear();
  for (std::size_t i = 0; i < cadus.size(); ++i) {
    const std::size_t inCadu = i % kCaduBytes;
    const std::uint8_t byte =
        inCadu < kCaduMarker.size()
            ? cadus[i]
            : static_cast<std::uint8_t>(cadus[i] ^ randomizer[inCadu - kCaduMarker.size()]);
    for (int bit = 7; bit >= 0; --bit)
      s.bits.push_back(static_cast<std::uint8_t>((byte >> bit) & 1u));
  }
  s.coded.clear();
  s.encoder.Encode(s.bits, s.coded);
  const std::uint8_t g2Flip = s.signal.invertedG2 ? 1 : 0;
  for (std::size_t i = 0; i < s.bits.size(); ++i, ++s.dataBits) {
    const std::uint8_t x = s.coded[2 * i];
    const std::uint8_t y = s.coded[2 * i + 1] ^ g2Flip;
    switch (s.dataBits % 3) {
      case 0:
        s.sent.push_back(x);
        s.sent.push_back(y);
        break;
      case 1:
        s.sent.push_back(y);
        break;
      default:
        s.sent.push_back(x);
        break;
    }
  }
  std::size_t used = 0;
  const int skip = std::min<int>(s.toSkip, static_cast<int>(s.sent.size()));
  used += static_cast<std::size_t>(skip);
  s.toSkip -= skip;
  const std::complex<double> turn = std::polar(1.0, kPi / 2.0 * s.signal.rotation);
  const double scale = s.signal.amplitude / std::sqrt(2.0);
  for (; used + 1 < s.sent.size(); used += 2) {
    double i = s.sent[used] ? 1.0 : -1.0;
    double q = s.sent[used + 1] ? 1.0 : -1.0;
    if (s.signal.swapped) std::swap(i, q);
    s.symbols.push_back(std::complex<double>(i, q) * scale * turn);
  }
  s.sent.erase(s.sent.begin(), s.sent.begin() + static_cast<std::ptrdiff_t>(used));
  if (!s.signal.shaped) {
    for (const auto& symbol : s.symbols) out.push_back(s.channel.Apply(symbol));
    s.symbols.clear();
    return;
  }

  // Each sample sums the pulses of the symbols within kPulseSpan of it; samples wait until the
  // last symbol they need is in.
  const auto last = s.firstSymbol + static_cast<std::int64_t>(s.symbols.size());
  while (std::floor(s.position) + kPulseSpan < static_cast<double>(last)) {
    const auto centre = static_cast<std::int64_t>(std::floor(s.position));
    const auto phase = static_cast<std::size_t>(
        std::lround((s.position - static_cast<double>(centre)) * kPulsePhases));
    std::complex<double> value = 0;
    for (std::int64_t k = centre - kPulseSpan + 1; k <= centre + kPulseSpan; ++k) {
      if (k < s.firstSymbol) continue;
      // The pulse at position - k = (centre - k) + fraction.
      const auto row = static_cast<std::size_t>(k - centre + kPulseSpan - 1);
      value += s.symbols[static_cast<std::size_t>(k - s.firstSymbol)] *
               s.pulse[row * (kPulsePhases + 1) + phase];
    }
    out.push_back(s.channel.Apply(value));
    s.position += s.symbolsPerSample;
  }
  const auto keepFrom = static_cast<std::int64_t>(std::floor(s.position)) - kPulseSpan + 1;
  if (keepFrom > s.firstSymbol) {
    const auto drop = std::min<std::int64_t>(keepFrom - s.firstSymbol,
                                             static_cast<std::int64_t>(s.symbols.size()));
    s.symbols.erase(s.symbols.begin(), s.symbols.begin() + static_cast<std::ptrdiff_t>(drop));
    s.firstSymbol += drop;
  }
}

}  // namespace halvik
