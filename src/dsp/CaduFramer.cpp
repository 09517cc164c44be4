#include "dsp/CaduFramer.h"

#include <bit>

namespace halvik {

CaduFramer::CaduFramer() {
  StartHunt();
}

void CaduFramer::Push(std::span<const float> softBits, const FrameSink& sink) {
  for (float soft : softBits) {
    const unsigned bit = soft > 0 ? 1u : 0u;
    history_ = (history_ << 1) | bit;
    if (!locked_) {
      recent_[static_cast<std::size_t>(huntBits_ % recent_.size())] =
          static_cast<std::uint8_t>(bit);
      ++huntBits_;
      Hunt(sink);
      continue;
    }
    Append(bit);
    // One bit past the marker's expected end: a marker a bit early, on time or a bit late is in
    // the history.
    if (!markerJudged_ && caduBits_ == kMarkerBits + 1) JudgeMarker();
    if (locked_ && caduBits_ == kCaduBits) {
      HandOver(sink);
      caduBits_ = 0;
      markerJudged_ = false;
    }
  }
}

void CaduFramer::Hunt(const FrameSink& sink) {
  if (huntBits_ < kMarkerBits) return;
  const int errors = std::popcount(static_cast<std::uint32_t>(history_) ^ kCaduMarkerWord);
  std::uint8_t match = 0;
  if (errors <= kCaduMarkerBitErrors) match = 1;
  if (kMarkerBits - errors <= kCaduMarkerBitErrors) match = 2;
  const auto slot = static_cast<std::size_t>((huntBits_ - 1) % kCaduBits);
  const std::uint8_t oneCaduAgo = matched_[slot];
  matched_[slot] = match;
  if (match == 0 || oneCaduAgo != match) return;

  // Two markers a CADU apart: the CADU behind the first one is handed over, the second begins
  // the next.
  locked_ = true;
  inverted_ = match == 2;
  caduBits_ = 0;
  for (std::int64_t at = huntBits_ - kCaduBits - kMarkerBits; at < huntBits_ - kMarkerBits; ++at) {
    Append(recent_[static_cast<std::size_t>(at % static_cast<std::int64_t>(recent_.size()))]);
  }
  withSync_ = true;
  HandOver(sink);
  Restart(kMarkerBits);
  markerJudged_ = true;
  missedMarkers_ = 0;
}

void CaduFramer::StartHunt() {
  locked_ = false;
  huntBits_ = 0;
  matched_.fill(0);
}

void CaduFramer::JudgeMarker() {
  markerJudged_ = true;
  // History shift of the marker: 1 on time, 2 a bit early (a bit was lost), 0 a bit late.
  const auto errorsAt = [this](int shift, bool inverted) {
    const int errors =
        std::popcount(static_cast<std::uint32_t>(history_ >> shift) ^ kCaduMarkerWord);
    return inverted ? kMarkerBits - errors : errors;
  };
  if (errorsAt(1, inverted_) <= kCaduMarkerBitErrors) {
    withSync_ = true;
    missedMarkers_ = 0;
    return;
  }
  int bestErrors = kMarkerBits;
  int bestShift = 1;
  bool bestInverted = inverted_;
  for (int shift : {1, 2, 0}) {
    for (bool inverted : {inverted_, !inverted_}) {
      const int errors = errorsAt(shift, inverted);
      if (errors < bestErrors) {
        bestErrors = errors;
        bestShift = shift;
        bestInverted = inverted;
      }
    }
  }
  if (bestErrors <= kCaduMarkerBitErrors) {
    inverted_ = bestInverted;
    Restart(kMarkerBits + bestShift);
    withSync_ = true;
    missedMarkers_ = 0;
    return;
  }
  withSync_ = false;
  if (++missedMarkers_ > kCaduFlywheel) StartHunt();
}

void CaduFramer::HandOver(const FrameSink& sink) {
  sink(cadu_);
  ++framesOut_;
  if (withSync_) ++framesWithSync_;
}

void CaduFramer::Restart(int bits) {
  caduBits_ = 0;
  for (int i = bits - 1; i >= 0; --i) Append(static_cast<unsigned>(history_ >> i) & 1u);
}

}  // namespace halvik
