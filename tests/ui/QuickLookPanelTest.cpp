#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "RecordingCanvas.h"
#include "ui/QuickLookPanel.h"

namespace halvik {
namespace {

using Kind = RecordingCanvas::Kind;

struct Rig {
  std::unique_ptr<QuickLookBuffer> buffer = std::make_unique<QuickLookBuffer>();
  QuickLookPanel panel;
  RecordingCanvas canvas;

  void Step(std::int32_t ticks) {
    canvas.Clear();
    panel.Step(canvas, *buffer, ticks);
    EXPECT_EQ(ticks, 0) << "the step sets the tick count back to 0";
  }
  // The image rows drawn by the last step, in order (one entry per row, both images checked).
  std::vector<int> RowsDrawn() const {
    std::vector<int> rows;
    auto calls = canvas.OfKind(Kind::Row);
    EXPECT_EQ(calls.size() % 2, 0u);
    for (std::size_t i = 0; i + 1 < calls.size(); i += 2) {
      EXPECT_EQ(calls[i]->x, kQuickLookLeftPanelX);
      EXPECT_EQ(calls[i + 1]->x, kQuickLookRightPanelX);
      EXPECT_EQ(calls[i]->y, calls[i + 1]->y);
      rows.push_back(calls[i]->y);
    }
    return rows;
  }
  std::size_t Clears() const { return canvas.OfKind(Kind::Fill).size(); }
  // Settles into ordinary updates with no replay pending.
  void FinishReplay() {
    while (panel.ReplayActive()) Step(1);
    canvas.Clear();
  }
};

std::vector<int> Range(int first, int last) {
  std::vector<int> rows;
  for (int r = first; r <= last; ++r) rows.push_back(r);
  return rows;
}

TEST(QuickLookPanel, StartAndReplay) {
  Rig rig;
  // --- the first paint (no tick yet) blanks both panels and starts a replay ---
  rig.Step(0);
  ASSERT_EQ(rig.Clears(), 2u);
  const auto* left = rig.canvas.calls[0].kind == Kind::Fill ? &rig.canvas.calls[0] : nullptr;
  ASSERT_NE(left, nullptr);
  EXPECT_EQ(std::vector<int>({left->x, left->y, left->right, left->bottom}),
            std::vector<int>({323, 22, 476, 380}));
  EXPECT_EQ(left->colour, kBlack);
  const auto& right = rig.canvas.calls[1];
  EXPECT_EQ(std::vector<int>({right.x, right.y, right.right, right.bottom}),
            std::vector<int>({482, 22, 635, 380}));
  EXPECT_TRUE(rig.RowsDrawn().empty());
  EXPECT_TRUE(rig.panel.ReplayActive());
  EXPECT_EQ(rig.panel.ReplayRow(), 22);

  // --- ordinary updates replay five rows each, 72 paints, ending with rows 377..381 ---
  rig.buffer->image[0][381 * kQuickLookColumns + 4] = 77;  // below the panel rectangle
  std::vector<int> all;
  int paints = 0;
  while (rig.panel.ReplayActive()) {
    rig.Step(1);
    ++paints;
    EXPECT_EQ(rig.Clears(), 0u);
    std::vector<int> rows = rig.RowsDrawn();
    EXPECT_EQ(rows.size(), 5u);
    all.insert(all.end(), rows.begin(), rows.end());
    if (paints > 100) break;
  }
  EXPECT_EQ(paints, 72);
  EXPECT_EQ(all, Range(22, 381));
  auto lastBatch = rig.canvas.OfKind(Kind::Row);
  EXPECT_EQ(lastBatch.back()->y, 381);
  EXPECT_EQ(lastBatch[lastBatch.size() - 2]->greys[4], 77);

  // --- once finished, an ordinary update with nothing new draws nothing ---
  rig.Step(1);
  EXPECT_TRUE(rig.canvas.calls.empty());
}

TEST(QuickLookPanel, LiveRows) {
  Rig rig;
  rig.buffer->QuickLookLine = 100;
  rig.buffer->QuickLookCleared = 1;
  rig.Step(0);
  rig.FinishReplay();

  // --- the row the capture has just left is drawn, from both images ---
  for (int c = 0; c < kQuickLookPanelWidth; ++c) {
    rig.buffer->image[0][100 * kQuickLookColumns + c] = static_cast<std::uint8_t>(c);
    rig.buffer->image[1][100 * kQuickLookColumns + c] = static_cast<std::uint8_t>(255 - c);
  }
  rig.buffer->image[0][100 * kQuickLookColumns + 153] = 99;  // outside the panel's columns
  rig.buffer->QuickLookLine = 101;
  rig.Step(1);
  ASSERT_EQ(rig.RowsDrawn(), std::vector<int>{100});
  auto rows = rig.canvas.OfKind(Kind::Row);
  ASSERT_EQ(rows[0]->greys.size(), 153u);
  EXPECT_EQ(rows[0]->greys[0], 0);
  EXPECT_EQ(rows[0]->greys[152], 152);
  EXPECT_EQ(rows[1]->greys[0], 255);
  EXPECT_EQ(rows[1]->greys[152], 255 - 152);
  EXPECT_EQ(rig.panel.LastLiveRow(), 101);

  // --- unchanged line: nothing ---
  rig.Step(1);
  EXPECT_TRUE(rig.canvas.calls.empty());

  // --- a jump draws only the row left behind ---
  rig.buffer->QuickLookLine = 104;
  rig.Step(1);
  EXPECT_EQ(rig.RowsDrawn(), std::vector<int>{101});

  // --- lines running upward: 380 -> 379 draws row 380, just below the rectangles ---
  rig.buffer->QuickLookLine = 380;
  rig.buffer->QuickLookCleared = 1;
  rig.Step(1);
  EXPECT_EQ(rig.Clears(), 2u);
  EXPECT_TRUE(rig.RowsDrawn().empty());
  rig.buffer->QuickLookLine = 379;
  rig.Step(1);
  EXPECT_EQ(rig.RowsDrawn(), std::vector<int>{380});
}

TEST(QuickLookPanel, ClearAndRestartTogether) {
  Rig rig;
  rig.Step(0);
  rig.FinishReplay();
  rig.buffer->QuickLookLine = 200;
  rig.Step(1);  // the live row moves to 200

  // --- a new capture and merged ticks in the same paint ---
  rig.buffer->QuickLookCleared = 1;
  rig.buffer->QuickLookLine = 22;
  rig.Step(0);
  EXPECT_EQ(rig.Clears(), 4u);  // cleared twice
  EXPECT_TRUE(rig.RowsDrawn().empty());
  EXPECT_EQ(rig.buffer->QuickLookCleared.load(), 0);
  EXPECT_EQ(rig.panel.LastLiveRow(), 22);
  EXPECT_TRUE(rig.panel.ReplayActive());
  EXPECT_EQ(rig.panel.ReplayRow(), 22);

  // --- three ticks: live row and replay batch are drawn, then both panels cleared ---
  rig.buffer->QuickLookLine = 23;
  rig.Step(3);
  ASSERT_EQ(rig.RowsDrawn(), (std::vector<int>{22, 22, 23, 24, 25, 26}));
  ASSERT_GE(rig.canvas.calls.size(), 2u);
  EXPECT_EQ(rig.canvas.calls[rig.canvas.calls.size() - 1].kind, Kind::Fill);
  EXPECT_EQ(rig.canvas.calls[rig.canvas.calls.size() - 2].kind, Kind::Fill);
  EXPECT_EQ(rig.Clears(), 2u);
  EXPECT_EQ(rig.panel.ReplayRow(), 22);
}

TEST(QuickLookPanel, RowsOutsideThePanelsAreNotDrawnLive) {
  Rig rig;
  rig.Step(0);
  rig.FinishReplay();
  // The capture engine moved the line before a paint saw its clear flag: the live row was
  // still 0, which would land across the top of the window.
  rig.buffer->QuickLookLine = 22;
  rig.Step(1);
  EXPECT_TRUE(rig.RowsDrawn().empty());
  EXPECT_EQ(rig.panel.LastLiveRow(), 22);
  // A line value beyond the buffer is never read.
  rig.buffer->QuickLookLine = 5000;
  rig.Step(1);
  EXPECT_EQ(rig.RowsDrawn(), std::vector<int>{22});
  rig.buffer->QuickLookLine = 30;
  rig.Step(1);
  EXPECT_TRUE(rig.RowsDrawn().empty());
}

TEST(QuickLookPanel, WholePictureAndPixelFallback) {
  Rig rig;
  rig.buffer->image[1][300 * kQuickLookColumns + 7] = 0xAB;
  rig.panel.DrawPicture(rig.canvas, *rig.buffer);
  EXPECT_EQ(rig.RowsDrawn(), Range(22, 381));
  EXPECT_FALSE(rig.panel.ReplayActive());

  // A canvas without its own row drawing gets one pixel per column, in grey.
  struct PixelCanvas final : Canvas {
    void DrawText(int, int, std::string_view, Font, Colour, Colour) override {}
    void FillRect(int, int, int, int, Colour) override {}
    void SetPixel(int x, int y, Colour colour) override { pixels.push_back({x, y, colour}); }
    struct Pixel {
      int x, y;
      Colour colour;
    };
    std::vector<Pixel> pixels;
  } pixels;
  const std::uint8_t greys[] = {0, 0x80, 0xFF};
  pixels.GreyRow(482, 300, greys, 3);
  ASSERT_EQ(pixels.pixels.size(), 3u);
  EXPECT_EQ(pixels.pixels[1].x, 483);
  EXPECT_EQ(pixels.pixels[1].y, 300);
  EXPECT_EQ(pixels.pixels[1].colour, 0x808080u);
  EXPECT_EQ(pixels.pixels[2].colour, 0xFFFFFFu);
}

}  // namespace
}  // namespace halvik
