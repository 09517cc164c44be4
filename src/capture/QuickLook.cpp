#include "capture/QuickLook.h"

namespace halvik {
namespace {

void FillRow(QuickLookBuffer& buffer, int imageIndex, int row, int firstWord, int step,
             bool reversed, const std::uint16_t* frame) {
  Shared<std::uint8_t>* out = &buffer.image[imageIndex][row * kQuickLookColumns];
  for (int k = 0; k < kQuickLookSamples; ++k) {
    // The top eight of the ten bits of the sample.
    auto value = static_cast<std::uint8_t>((frame[firstWord + k * step] >> 2) & 0xFF);
    // A northbound pass is drawn bottom-up and mirrored: rotated by half a turn, so that both
    // directions show north at the top.
    int column = reversed ? kQuickLookSamples - 1 - k : k;
    out[column].store(value);
  }
}

}  // namespace

void ClearQuickLook(QuickLookBuffer& buffer, QuickLookCycle& cycle, bool reversed) {
  for (auto& image : buffer.image) {
    for (auto& pixel : image) pixel.store(0);
  }
  cycle.counter = 0;
  buffer.QuickLookLine.store(reversed ? kQuickLookLastRow : kQuickLookFirstRow);
  buffer.QuickLookCleared.store(1);
}

void AddQuickLookFrame(QuickLookBuffer& buffer, QuickLookCycle& cycle, SatelliteFamily family,
                       bool reversed, const std::uint16_t* frame) {
  const QuickLookGeometry geometry = FactsOf(family).quickLook;
  cycle.counter += 1;
  int row = buffer.QuickLookLine.load();
  if (row < kQuickLookFirstRow) row = kQuickLookFirstRow;
  if (row > kQuickLookLastRow) row = kQuickLookLastRow;
  if (cycle.counter == 1) {
    FillRow(buffer, 0, row, geometry.firstWordA, geometry.step, reversed, frame);
  } else if (cycle.counter == 8) {
    FillRow(buffer, 1, row, geometry.firstWordB, geometry.step, reversed, frame);
  }
  if (cycle.counter >= kQuickLookGroup) {
    cycle.counter = 0;
    if (!reversed) {
      if (row < kQuickLookLastRow) buffer.QuickLookLine.store(row + 1);
    } else {
      if (row > kQuickLookFirstRow) buffer.QuickLookLine.store(row - 1);
    }
  }
}

}  // namespace halvik
