#include "dsp/CodedCaduDecoder.h"

#include "dsp/CaduFramer.h"

extern "C" {
#include <fec.h>
}

#include <algorithm>
#include <bit>
#include <cmath>
#include <stdexcept>

namespace halvik {
namespace {

constexpr int kCaduBits = kCaduBytes * 8;
constexpr int kMarkerBits = kCaduMarkerBitCount;
// Decoded bits before and after the bits kept from a Viterbi run: the survivors merge within
// about five constraint lengths, so bits this far from either end are as good as any.
constexpr int kViterbiMargin = 72;
// libfec's soft symbols: 0 a sure zero, 255 a sure one; the mean magnitude of I and Q maps to
// this far from the middle (measured: 40 to 80 decode alike, clipping costs below 32).
constexpr float kSoftMiddle = 128.0f;
constexpr float kSoftAmplitude = 56.0f;
constexpr double kMagnitudeSmoothing = 1.0 / 4096.0;
// The hunt decodes two CADUs and a marker under every hypothesis and wants the marker twice,
// a CADU apart. A failed hunt skips this many further symbols, so a receiver listening to noise
// spends about a third of the time searching.
constexpr int kHuntBits = 2 * kCaduBits + kMarkerBits + 2 * kViterbiMargin;
constexpr int kHuntSkipCadus = 2;
// In lock each marker is also looked for this many bits early and late: a symbol slip moves
// the decoded stream by a bit or two.
constexpr int kSlipBits = 2;

constexpr std::size_t PeriodsFor(int bits) {
  return static_cast<std::size_t>((bits + kPuncturePeriodBits - 1) / kPuncturePeriodBits);
}
constexpr std::size_t kSymbolsPerPeriod = kPuncturePeriodSymbols / 2;
constexpr std::size_t HuntPeriods() {
  return PeriodsFor(kHuntBits + 6);
}

constexpr std::array<std::uint8_t, kCaduDataBytes> MakeRandomizer() {
  std::array<std::uint8_t, kCaduDataBytes> sequence{};
  // a[n+8] = a[n+7] + a[n+5] + a[n+3] + a[n], from eight ones: bit 7 of the state holds a[n],
  // bit 0 a[n+7].
  unsigned state = 0xFF;
  for (auto& byte : sequence) {
    unsigned out = 0;
    for (int bit = 0; bit < 8; ++bit) {
      out = (out << 1) | ((state >> 7) & 1u);
      const unsigned next = (state ^ (state >> 2) ^ (state >> 4) ^ (state >> 7)) & 1u;
      state = ((state << 1) | next) & 0xFFu;
    }
    byte = static_cast<std::uint8_t>(out);
  }
  return sequence;
}
constexpr std::array<std::uint8_t, kCaduDataBytes> kRandomizer = MakeRandomizer();

int MarkerErrors(std::span<const std::uint8_t> bits) {
  std::uint32_t word = 0;
  for (int i = 0; i < kMarkerBits; ++i) word = (word << 1) | bits[static_cast<std::size_t>(i)];
  return std::popcount(word ^ kCaduMarkerWord);
}

}  // namespace

const std::array<std::uint8_t, kCaduDataBytes>& CaduRandomizer() {
  return kRandomizer;
}

std::string Describe(const CodingPhase& phase) {
  return "rotation " + std::to_string(phase.rotation * 90) +
         (phase.swapped ? ", I/Q swapped" : "") + ", puncture phase " +
         std::to_string(phase.puncturePhase) + (phase.invertedG2 ? ", G2 inverted" : "");
}

CodedCaduDecoder::CodedCaduDecoder() = default;

CodedCaduDecoder::~CodedCaduDecoder() = default;

void CodedCaduDecoder::Push(std::span<const std::complex<float>> symbols, const FrameSink& sink) {
  for (const auto& symbol : symbols) {
    const double magnitude = 0.5 * (std::abs(symbol.real()) + std::abs(symbol.imag()));
    meanMagnitude_ = meanMagnitude_ == 0
                         ? magnitude
                         : meanMagnitude_ + (magnitude - meanMagnitude_) * kMagnitudeSmoothing;
  }
  symbols_.insert(symbols_.end(), symbols.begin(), symbols.end());
  const std::size_t huntSymbols = HuntPeriods() * kSymbolsPerPeriod + 1;
  while (true) {
    if (!locked_) {
      if (symbols_.size() < huntSymbols) return;
      Hunt();
      continue;
    }
    const std::size_t needed =
        PeriodsFor(bitOffset_ + kCaduBits + kViterbiMargin + 6) * kSymbolsPerPeriod;
    if (symbols_.size() < needed) return;
    DecodeLocked(sink);
  }
}

void CodedCaduDecoder::Depuncture(const CodingPhase& phase, std::size_t from, std::size_t to,
                                  std::vector<std::uint8_t>& pairs) const {
  pairs.clear();
  const float scale =
      meanMagnitude_ > 0 ? static_cast<float>(kSoftAmplitude / meanMagnitude_) : 1.0f;
  auto soft = [&](float v) {
    return static_cast<std::uint8_t>(std::clamp(kSoftMiddle + v * scale, 0.0f, 255.0f));
  };
  const std::complex<float> back[4] = {{1, 0}, {0, -1}, {-1, 0}, {0, 1}};
  const auto turn = back[phase.rotation & 3];
  const float g2 = phase.invertedG2 ? -1.0f : 1.0f;
  constexpr std::uint8_t kNothing = 128;
  for (std::size_t at = from; at + 1 < to; at += kSymbolsPerPeriod) {
    auto first = symbols_[at] * turn;
    auto second = symbols_[at + 1] * turn;
    if (phase.swapped) {
      first = {first.imag(), first.real()};
      second = {second.imag(), second.real()};
    }
    // X1 Y1 Y2 X3 on I, Q, I, Q; libfec's decoder takes each pair as (133, 171).
    const std::uint8_t sent[6] = {
        soft(g2 * first.imag()), soft(first.real()), soft(g2 * second.real()), kNothing, kNothing,
        soft(second.imag())};
    pairs.insert(pairs.end(), std::begin(sent), std::end(sent));
  }
}

void CodedCaduDecoder::Decode(std::span<const std::uint8_t> pairs,
                              std::vector<std::uint8_t>& bits) {
  viterbi_.Decode(pairs, bits);
  // The last bits, with no path behind them to settle on, are left out.
  bits.resize(bits.size() - 6);
}

void CodedCaduDecoder::Hunt() {
  for (int hypothesis = 0; hypothesis < 16; ++hypothesis) {
    CodingPhase phase;
    phase.rotation = hypothesis & 1;
    phase.swapped = (hypothesis & 2) != 0;
    phase.puncturePhase = (hypothesis >> 2) & 1;
    phase.invertedG2 = (hypothesis & 8) != 0;
    const std::size_t from =
        static_cast<std::size_t>((symbolsDropped_ + phase.puncturePhase) % 2 == 0 ? 0 : 1);
    Depuncture(phase, from, from + HuntPeriods() * kSymbolsPerPeriod, pairs_);
    Decode(pairs_, bits_);
    const int last = static_cast<int>(bits_.size()) - kViterbiMargin - kCaduBits - kMarkerBits;
    for (int at = kViterbiMargin; at <= last; ++at) {
      const int errors = MarkerErrors(std::span(bits_).subspan(static_cast<std::size_t>(at)));
      const bool upright = errors <= kCaduMarkerBitErrors;
      const bool inverted = kMarkerBits - errors <= kCaduMarkerBitErrors;
      if (!upright && !inverted) continue;
      const int again =
          MarkerErrors(std::span(bits_).subspan(static_cast<std::size_t>(at + kCaduBits)));
      if (upright ? again > kCaduMarkerBitErrors : kMarkerBits - again > kCaduMarkerBitErrors)
        continue;
      // A complemented stream is the half turn: the code's generators both have odd weight.
      if (inverted) phase.rotation += 2;
      phase_ = phase;
      locked_ = true;
      missedMarkers_ = 0;
      Drop(from);
      bitOffset_ = at;
      return;
    }
  }
  const std::size_t skip =
      std::min(symbols_.size(), PeriodsFor(kCaduBits * (1 + kHuntSkipCadus)) * kSymbolsPerPeriod);
  Drop(skip);
}

void CodedCaduDecoder::DecodeLocked(const FrameSink& sink) {
  // symbols_[0] starts a puncture period; bitOffset_ is the next CADU's first bit after it.
  const std::size_t firstPeriod =
      static_cast<std::size_t>(std::max(0, bitOffset_ - kViterbiMargin) / kPuncturePeriodBits);
  const std::size_t endPeriod = PeriodsFor(bitOffset_ + kCaduBits + kViterbiMargin + 6);
  Depuncture(phase_, firstPeriod * kSymbolsPerPeriod, endPeriod * kSymbolsPerPeriod, pairs_);
  Decode(pairs_, bits_);
  int start = bitOffset_ - static_cast<int>(firstPeriod) * kPuncturePeriodBits;
  // The marker on time, or a slip or two away.
  int best = kMarkerBits + 1;
  int bestShift = 0;
  for (int shift = 0; shift <= 2 * kSlipBits; ++shift) {
    const int delta = (shift + 1) / 2 * (shift % 2 == 0 ? 1 : -1);
    if (start + delta < 0 || start + delta + kCaduBits > static_cast<int>(bits_.size())) continue;
    const int errors =
        MarkerErrors(std::span(bits_).subspan(static_cast<std::size_t>(start + delta)));
    if (errors < best) {
      best = errors;
      bestShift = delta;
    }
  }
  const bool withSync = best <= kCaduMarkerBitErrors;
  if (withSync) {
    start += bestShift;
    bitOffset_ += bestShift;
    missedMarkers_ = 0;
    ++framesWithSync_;
  } else {
    ++missedMarkers_;
  }
  std::array<std::uint8_t, kCaduBytes> cadu{};
  for (int i = 0; i < kCaduBits; ++i) {
    auto& byte = cadu[static_cast<std::size_t>(i / 8)];
    byte = static_cast<std::uint8_t>((byte << 1) | bits_[static_cast<std::size_t>(start + i)]);
  }
  const auto& randomizer = CaduRandomizer();
  for (std::size_t i = 0; i < randomizer.size(); ++i) cadu[kCaduMarker.size() + i] ^= randomizer[i];
  const CaduCheck outcome = CorrectCadu(cadu);
  correctedBytes_ += outcome.correctedBytes;
  uncorrectableCodewords_ += outcome.failedCodewords;
  if (outcome.failedCodewords == 0) {
    // Four codewords that decode prove the CADU's alignment: its marker, which no check byte
    // covers, is handed over clean, and a damaged one counts as no miss.
    std::copy(kCaduMarker.begin(), kCaduMarker.end(), cadu.begin());
    if (!withSync) ++framesWithSync_;
    missedMarkers_ = 0;
  }
  std::copy(cadu.begin(), cadu.end(), frame_.begin());
  ++framesOut_;
  sink(frame_);

  bitOffset_ += kCaduBits;
  if (missedMarkers_ >= kCaduFlywheel) {
    locked_ = false;
    Drop(std::min(symbols_.size(), endPeriod * kSymbolsPerPeriod) & ~std::size_t{1});
    return;
  }
  const std::size_t done =
      static_cast<std::size_t>(std::max(0, bitOffset_ - kViterbiMargin) / kPuncturePeriodBits);
  Drop(done * kSymbolsPerPeriod);
  bitOffset_ -= static_cast<int>(done) * kPuncturePeriodBits;
}

void CodedCaduDecoder::Drop(std::size_t symbols) {
  symbols_.erase(symbols_.begin(), symbols_.begin() + static_cast<std::ptrdiff_t>(symbols));
  symbolsDropped_ += static_cast<std::int64_t>(symbols);
}

}  // namespace halvik
