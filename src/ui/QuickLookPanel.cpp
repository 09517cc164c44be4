#include "ui/QuickLookPanel.h"

#include <array>

namespace halvik {
namespace {

void ClearPanels(Canvas& canvas) {
  canvas.FillRect(kQuickLookLeftPanelX, kQuickLookPanelTop,
                  kQuickLookLeftPanelX + kQuickLookPanelWidth, kQuickLookPanelBottom, kBlack);
  canvas.FillRect(kQuickLookRightPanelX, kQuickLookPanelTop,
                  kQuickLookRightPanelX + kQuickLookPanelWidth, kQuickLookPanelBottom, kBlack);
}

// Row r of both images at y = r. Only the rows a panel can show are drawn: before the first
// capture (or when a paint falls between the capture engine's clear and its first row) the
// last live row is 0, whose pixels would land above the panels, across the header.
void DrawRow(Canvas& canvas, const QuickLookBuffer& buffer, int row) {
  if (row < kQuickLookPanelTop || row > kQuickLookLastDrawnRow) return;
  std::array<std::uint8_t, kQuickLookPanelWidth> greys;
  for (int image = 0; image < 2; ++image) {
    for (int c = 0; c < kQuickLookPanelWidth; ++c) greys[c] = buffer.At(image, row, c);
    canvas.GreyRow(image == 0 ? kQuickLookLeftPanelX : kQuickLookRightPanelX, row, greys.data(),
                   kQuickLookPanelWidth);
  }
}

}  // namespace

void QuickLookPanel::Step(Canvas& canvas, QuickLookBuffer& buffer,
                          std::int32_t& timerTicksSincePaint) {
  // A new capture has blanked the images.
  if (buffer.QuickLookCleared.load() != 0) {
    ClearPanels(canvas);
    buffer.QuickLookCleared = 0;
    lastLiveRow_ = buffer.QuickLookLine.load();
  }

  // The capture has moved on: the row it left is complete.
  const std::int32_t line = buffer.QuickLookLine.load();
  if (line != lastLiveRow_) {
    DrawRow(canvas, buffer, lastLiveRow_);
    lastLiveRow_ = line;
  }

  if (replayActive_) {
    for (int r = replayRow_; r < replayRow_ + kQuickLookReplayBatch; ++r)
      DrawRow(canvas, buffer, r);
    replayRow_ += kQuickLookReplayBatch;
    if (replayRow_ >= kQuickLookPanelBottom) replayActive_ = false;
  }

  // Anything but exactly one tick since the last paint means paints were merged or forced by
  // the window system, so the picture on screen may be incomplete: start it again.
  if (timerTicksSincePaint != 1) {
    ClearPanels(canvas);
    replayActive_ = true;
    replayRow_ = kQuickLookPanelTop;
  }

  timerTicksSincePaint = 0;
}

void QuickLookPanel::DrawPicture(Canvas& canvas, const QuickLookBuffer& buffer) const {
  for (int r = kQuickLookPanelTop; r <= kQuickLookLastDrawnRow; ++r) DrawRow(canvas, buffer, r);
}

}  // namespace halvik
