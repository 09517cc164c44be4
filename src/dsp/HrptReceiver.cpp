#include "dsp/HrptReceiver.h"

#include <bit>
#include <variant>
#include <vector>

#include "capture/BitFrame.h"
#include "capture/Deframer.h"
#include "dsp/CaduFramer.h"
#include "dsp/CodedCaduDecoder.h"
#include "dsp/PmDemodulator.h"
#include "dsp/QpskDemodulator.h"

namespace halvik {
namespace {

constexpr int kWordBits = 10;
constexpr int kSyncBits = kWordBits * static_cast<int>(kFrameSync.size());
constexpr std::uint64_t kSyncMask = (std::uint64_t{1} << kSyncBits) - 1;

constexpr std::uint64_t SyncPattern() {
  std::uint64_t pattern = 0;
  for (std::uint16_t word : kFrameSync) pattern = (pattern << kWordBits) | word;
  return pattern;
}
constexpr std::uint64_t kSyncPattern = SyncPattern();

// Bit errors a frame sync may carry and still count: random bits match the 60-bit pattern this
// closely (either polarity) about once in 10^12 positions, a day of NOAA bits a thousand times
// over.
constexpr int kSyncBitErrors = 4;
// Frames in a row without sync the Deframer hands over before it hunts again.
constexpr int kFlywheelFrames = 3;

// Bits to frames: hunts the 60-bit sync in both polarities with a few bit errors allowed, then
// packs the stream into words, complemented when it arrived inverted, for the Deframer, whose
// lock and flywheel decide what is handed over. A sync found with bit errors is handed on clean,
// so the Deframer counts the frame as in sync.
class BitFramer {
 public:
  explicit BitFramer(SatelliteFamily family)
      : frameWords_(FamilyFrameLength(family)), deframer_(frameWords_, kFlywheelFrames) {}

  void Push(std::span<const float> softBits, const HrptReceiver::FrameSink& sink) {
    for (float soft : softBits) {
      const unsigned bit = soft > 0 ? 1u : 0u;
      history_ = ((history_ << 1) | bit) & kSyncMask;
      if (!locked_) {
        Hunt(sink);
        continue;
      }
      word_ = static_cast<std::uint16_t>((word_ << 1) | (bit ^ (inverted_ ? 1u : 0u)));
      if (++wordBits_ < kWordBits) continue;
      wordBits_ = 0;
      Word(word_ & 0x3FF, sink);
      word_ = 0;
    }
  }

  bool locked() const { return deframer_.locked(); }
  std::int64_t framesOut() const { return deframer_.framesOut(); }
  std::int64_t framesWithSync() const { return deframer_.framesWithSync(); }

 private:
  void Hunt(const HrptReceiver::FrameSink& sink) {
    const int errors = std::popcount(history_ ^ kSyncPattern);
    if (errors > kSyncBitErrors && kSyncBits - errors > kSyncBitErrors) return;
    locked_ = true;
    inverted_ = errors > kSyncBitErrors;
    word_ = 0;
    wordBits_ = 0;
    deframer_.Reset(frameWords_);
    for (std::uint16_t sync : kFrameSync) Send(sync, sink);
    wordInFrame_ = static_cast<std::int32_t>(kFrameSync.size());
  }

  void Word(std::uint16_t word, const HrptReceiver::FrameSink& sink) {
    const auto syncWords = static_cast<std::int32_t>(kFrameSync.size());
    if (wordInFrame_ == frameWords_) wordInFrame_ = 0;
    if (wordInFrame_ < syncWords) {
      // The sync words wait until all six are in, to be judged together.
      syncSeen_[static_cast<std::size_t>(wordInFrame_++)] = word;
      if (wordInFrame_ < syncWords) return;
      int errors = 0;
      for (std::size_t i = 0; i < kFrameSync.size(); ++i) {
        errors += std::popcount(static_cast<unsigned>(syncSeen_[i] ^ kFrameSync[i]));
      }
      const bool clean = errors <= kSyncBitErrors;
      for (std::size_t i = 0; i < kFrameSync.size(); ++i) {
        Send(clean ? kFrameSync[i] : syncSeen_[i], sink);
      }
    } else {
      ++wordInFrame_;
      Send(word, sink);
    }
    if (!deframer_.locked()) locked_ = false;
  }

  void Send(std::uint16_t word, const HrptReceiver::FrameSink& sink) {
    const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(word & 0xFF),
                                   static_cast<std::uint8_t>(word >> 8)};
    deframer_.Push(bytes, sink);
  }

  std::int32_t frameWords_;
  Deframer deframer_;
  std::uint64_t history_ = 0;
  bool locked_ = false;
  bool inverted_ = false;
  std::uint16_t word_ = 0;
  int wordBits_ = 0;
  std::int32_t wordInFrame_ = 0;
  std::array<std::uint16_t, kFrameSync.size()> syncSeen_{};
};

// The frame layer of the family's frame kind.
using Framer = std::variant<BitFramer, CaduFramer>;

Framer MakeFramer(SatelliteFamily family) {
  if (FactsOf(family).frameKind == FrameKind::Cadu) return Framer(std::in_place_type<CaduFramer>);
  return Framer(std::in_place_type<BitFramer>, family);
}

}  // namespace

struct HrptReceiver::Chain {
  struct Pm {
    Pm(double sampleRate, SatelliteFamily family)
        : demodulator(sampleRate, FamilyBitRate(family)), framer(MakeFramer(family)) {}
    PmDemodulator demodulator;
    Framer framer;
    std::vector<float> softBits;
  };
  struct Qpsk {
    Qpsk(double sampleRate, SatelliteFamily family)
        : demodulator(sampleRate, FactsOf(family).symbolRate, FactsOf(family).rollOff) {}
    QpskDemodulator demodulator;
    CodedCaduDecoder decoder;
    std::vector<std::complex<float>> symbols;
  };

  Chain(double sampleRate, SatelliteFamily family) {
    if (FactsOf(family).modulation == Modulation::Qpsk) {
      qpsk = std::make_unique<Qpsk>(sampleRate, family);
    } else {
      pm = std::make_unique<Pm>(sampleRate, family);
    }
  }

  void SetFrequencyCorrection(double hz) {
    if (pm) pm->demodulator.SetFrequencyCorrection(hz);
    if (qpsk) qpsk->demodulator.SetFrequencyCorrection(hz);
  }

  std::unique_ptr<Pm> pm;
  std::unique_ptr<Qpsk> qpsk;
};

HrptReceiver::HrptReceiver(double sampleRate, SatelliteFamily family)
    : sampleRate_(sampleRate), chain_(std::make_unique<Chain>(sampleRate, family)) {}

HrptReceiver::~HrptReceiver() = default;

void HrptReceiver::Reset(SatelliteFamily family) {
  chain_ = std::make_unique<Chain>(sampleRate_, family);
  chain_->SetFrequencyCorrection(correctionHz_);
}

void HrptReceiver::SetFrequencyCorrection(double hz) {
  correctionHz_ = hz;
  chain_->SetFrequencyCorrection(hz);
}

void HrptReceiver::Push(std::span<const Sample> samples, const FrameSink& sink) {
  if (chain_->qpsk) {
    Chain::Qpsk& qpsk = *chain_->qpsk;
    qpsk.symbols.clear();
    qpsk.demodulator.Push(samples, qpsk.symbols);
    qpsk.decoder.Push(qpsk.symbols, sink);
    return;
  }
  Chain::Pm& pm = *chain_->pm;
  pm.softBits.clear();
  pm.demodulator.Push(samples, pm.softBits);
  std::visit([&](auto& framer) { framer.Push(pm.softBits, sink); }, pm.framer);
}

ReceiveQuality HrptReceiver::quality() const {
  ReceiveQuality quality;
  if (chain_->qpsk) {
    const Chain::Qpsk& qpsk = *chain_->qpsk;
    quality.carrierLocked = qpsk.demodulator.carrierLocked();
    quality.ebn0Db = qpsk.demodulator.ebn0Db();
    quality.carrierOffsetHz = qpsk.demodulator.carrierOffsetHz();
    quality.frameSync = qpsk.decoder.locked();
    quality.framesOut = qpsk.decoder.framesOut();
    quality.framesWithSync = qpsk.decoder.framesWithSync();
    quality.correctedBytes = qpsk.decoder.correctedBytes();
    quality.uncorrectableCodewords = qpsk.decoder.uncorrectableCodewords();
    if (qpsk.decoder.locked()) quality.codingPhase = Describe(qpsk.decoder.phase());
    return quality;
  }
  const PmDemodulator& demodulator = chain_->pm->demodulator;
  quality.carrierLocked = demodulator.carrierLocked();
  quality.ebn0Db = demodulator.ebn0Db();
  quality.carrierOffsetHz = demodulator.carrierOffsetHz();
  std::visit(
      [&](const auto& framer) {
        quality.frameSync = framer.locked();
        quality.framesOut = framer.framesOut();
        quality.framesWithSync = framer.framesWithSync();
      },
      chain_->pm->framer);
  return quality;
}

}  // namespace halvik
