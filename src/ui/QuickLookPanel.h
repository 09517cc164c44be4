#pragma once

#include <cstdint>

#include "capture/CaptureShared.h"
#include "ui/Canvas.h"

namespace halvik {

// Where the two quick-look images sit in the status view (right and bottom edges exclusive).
inline constexpr int kQuickLookLeftPanelX = 323;   // image A, column c at x = 323 + c
inline constexpr int kQuickLookRightPanelX = 482;  // image B, column c at x = 482 + c
inline constexpr int kQuickLookPanelWidth = 153;
inline constexpr int kQuickLookPanelTop = 22;
inline constexpr int kQuickLookPanelBottom = 380;
// A replay draws five rows per paint from row 22 and stops after the batch 377..381, so the
// two rows under the panel rectangles are drawn as well.
inline constexpr int kQuickLookReplayBatch = 5;
inline constexpr int kQuickLookLastDrawnRow = 381;

// The quick-look panels of the status view: each row of the capture is drawn once the capture
// has moved past it, and the whole picture is replayed, five rows per paint, whenever the
// paints did not follow the timer one to one (the window may have lost its pixels).
class QuickLookPanel {
 public:
  // The panel step at the end of every paint. Reads the buffer without a lock, clears
  // QuickLookCleared after acting on it and sets the tick count back to 0.
  void Step(Canvas& canvas, QuickLookBuffer& buffer, std::int32_t& timerTicksSincePaint);

  // Rows 22..381 of both images, top to bottom.
  void DrawPicture(Canvas& canvas, const QuickLookBuffer& buffer) const;

  std::int32_t LastLiveRow() const { return lastLiveRow_; }
  bool ReplayActive() const { return replayActive_; }
  std::int32_t ReplayRow() const { return replayRow_; }

 private:
  std::int32_t lastLiveRow_ = 0;
  bool replayActive_ = false;
  std::int32_t replayRow_ = 0;
};

}  // namespace halvik
