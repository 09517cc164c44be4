#include "capture/QuickLook.h"

namespace halvik {
namespace {

// `sample(k)` is the 10-bit sample of column k.
template <typename Sample>
void FillRow(QuickLookBuffer& buffer, int imageIndex, int row, bool reversed, Sample sample) {
  Shared<std::uint8_t>* out = &buffer.image[imageIndex][row * kQuickLookColumns];
  for (int k = 0; k < kQuickLookSamples; ++k) {
    // The top eight of the ten bits of the sample.
    auto value = static_cast<std::uint8_t>((sample(k) >> 2) & 0xFF);
    // A northbound pass is drawn bottom-up and mirrored: rotated by half a turn, so that both
    // directions show north at the top.
    int column = reversed ? kQuickLookSamples - 1 - k : k;
    out[column].store(value);
  }
}

// Counts one more frame or line of the row's group; `fill(image, row)` fills image A or B.
template <typename Fill>
void AddToCycle(QuickLookBuffer& buffer, QuickLookCycle& cycle, bool reversed, Fill fill) {
  cycle.counter += 1;
  int row = buffer.QuickLookLine.load();
  if (row < kQuickLookFirstRow) row = kQuickLookFirstRow;
  if (row > kQuickLookLastRow) row = kQuickLookLastRow;
  if (cycle.counter == 1) {
    fill(0, row);
  } else if (cycle.counter == 8) {
    fill(1, row);
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
  AddToCycle(buffer, cycle, reversed, [&](int image, int row) {
    const int first = image == 0 ? geometry.firstWordA : geometry.firstWordB;
    FillRow(buffer, image, row, reversed, [&](int k) { return frame[first + k * geometry.step]; });
  });
}

void AddQuickLookLine(QuickLookBuffer& buffer, QuickLookCycle& cycle, bool reversed,
                      const std::uint16_t* channelA, const std::uint16_t* channelB, int pixels,
                      bool invertB) {
  AddToCycle(buffer, cycle, reversed, [&](int image, int row) {
    const std::uint16_t* line = image == 0 ? channelA : channelB;
    const bool invert = image == 1 && invertB;
    FillRow(buffer, image, row, reversed, [&](int k) {
      // Columns spread evenly over the whole line, the last at its last pixel.
      const int pixel = k * (pixels - 1) / (kQuickLookSamples - 1);
      const int count = line[pixel] & 0x3FF;
      return invert ? 0x3FF - count : count;
    });
  });
}

}  // namespace halvik
