#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "capture/QuickLook.h"

namespace halvik {
namespace {

// A frame whose samples of image A and image B say where they came from: sample k of channel
// A is 4 * k (so it shows as k after dropping two bits), of channel B 4 * k + 3; every other
// word is 1023.
std::vector<std::uint16_t> SampleFrame(int frameWords, int firstA, int firstB, int step) {
  std::vector<std::uint16_t> frame(static_cast<std::size_t>(frameWords), 0x3FF);
  for (int k = 0; k < 153; ++k) {
    frame[firstA + k * step] = static_cast<std::uint16_t>(4 * k);
    frame[firstB + k * step] = static_cast<std::uint16_t>(4 * k + 3);
  }
  return frame;
}

// NOAA: channel 2 and channel 5 of every 13th pixel, pixels from word 750.
std::vector<std::uint16_t> NoaaFrame() {
  return SampleFrame(11090, 751, 754, 65);
}

class QuickLookTest : public ::testing::Test {
 protected:
  std::unique_ptr<QuickLookBuffer> buffer = std::make_unique<QuickLookBuffer>();
  QuickLookCycle cycle;
};

TEST_F(QuickLookTest, SouthboundRowsFillTopDownLeftToRight) {
  auto frame = NoaaFrame();
  ClearQuickLook(*buffer, cycle, false);
  EXPECT_EQ(buffer->QuickLookLine, 22);
  EXPECT_EQ(buffer->QuickLookCleared, 1);

  // --- The 1st frame of the group fills image A, the 8th image B, the 13th moves on ---
  AddQuickLookFrame(*buffer, cycle, SatelliteFamily::Noaa, false, frame.data());
  EXPECT_EQ(buffer->At(0, 22, 0), 0);
  EXPECT_EQ(buffer->At(0, 22, 1), 1);
  EXPECT_EQ(buffer->At(0, 22, 152), 152);
  EXPECT_EQ(buffer->At(1, 22, 5), 0) << "image B waits for the 8th frame";
  for (int i = 2; i <= 7; ++i)
    AddQuickLookFrame(*buffer, cycle, SatelliteFamily::Noaa, false, frame.data());
  EXPECT_EQ(buffer->At(1, 22, 5), 0);
  AddQuickLookFrame(*buffer, cycle, SatelliteFamily::Noaa, false, frame.data());
  EXPECT_EQ(buffer->At(1, 22, 5), 5) << "(4*5+3) >> 2";
  for (int i = 9; i <= 12; ++i)
    AddQuickLookFrame(*buffer, cycle, SatelliteFamily::Noaa, false, frame.data());
  EXPECT_EQ(buffer->QuickLookLine, 22);
  AddQuickLookFrame(*buffer, cycle, SatelliteFamily::Noaa, false, frame.data());
  EXPECT_EQ(buffer->QuickLookLine, 23);
  EXPECT_EQ(cycle.counter, 0);
  EXPECT_EQ(buffer->At(0, 23, 10), 0) << "row 23 is still empty";
  // The 14th frame starts the next row's image A.
  AddQuickLookFrame(*buffer, cycle, SatelliteFamily::Noaa, false, frame.data());
  EXPECT_EQ(buffer->At(0, 23, 10), 10);

  // --- Columns 153..159 and rows outside 22..380 stay 0 ---
  for (int row = 0; row < kQuickLookRows; ++row) {
    for (int column = kQuickLookSamples; column < kQuickLookColumns; ++column) {
      ASSERT_EQ(buffer->At(0, row, column), 0);
      ASSERT_EQ(buffer->At(1, row, column), 0);
    }
  }
  for (int column = 0; column < kQuickLookColumns; ++column) {
    EXPECT_EQ(buffer->At(0, 21, column), 0);
    EXPECT_EQ(buffer->At(0, 24, column), 0);
  }
}

TEST_F(QuickLookTest, NorthboundRowsFillBottomUpMirrored) {
  auto frame = NoaaFrame();
  ClearQuickLook(*buffer, cycle, true);
  EXPECT_EQ(buffer->QuickLookLine, 380);
  AddQuickLookFrame(*buffer, cycle, SatelliteFamily::Noaa, true, frame.data());
  EXPECT_EQ(buffer->At(0, 380, 152), 0) << "the sample of word 751 goes to the last column";
  EXPECT_EQ(buffer->At(0, 380, 0), 152);
  for (int i = 2; i <= 13; ++i)
    AddQuickLookFrame(*buffer, cycle, SatelliteFamily::Noaa, true, frame.data());
  EXPECT_EQ(buffer->At(1, 380, 152), 0);
  EXPECT_EQ(buffer->At(1, 380, 151), 1);
  EXPECT_EQ(buffer->QuickLookLine, 379);
}

TEST_F(QuickLookTest, SamplesKeepTheirTopEightBits) {
  std::vector<std::uint16_t> frame(11090, 0);
  frame[751] = 1023;
  frame[751 + 65] = 3;
  frame[751 + 2 * 65] = 0x204;           // 516 -> 129
  frame[751 + 3 * 65] = 0xFC00 | 0x100;  // bits above the ten are dropped with the shift's mask
  ClearQuickLook(*buffer, cycle, false);
  AddQuickLookFrame(*buffer, cycle, SatelliteFamily::Noaa, false, frame.data());
  EXPECT_EQ(buffer->At(0, 22, 0), 255);
  EXPECT_EQ(buffer->At(0, 22, 1), 0);
  EXPECT_EQ(buffer->At(0, 22, 2), 129);
  EXPECT_EQ(buffer->At(0, 22, 3), 0x40);
}

TEST_F(QuickLookTest, RowsStopAtTheirLimitAndAClearStartsAfresh) {
  auto frame = NoaaFrame();
  // --- A long southbound pass keeps writing row 380 ---
  ClearQuickLook(*buffer, cycle, false);
  for (int i = 0; i < 13 * 400; ++i)
    AddQuickLookFrame(*buffer, cycle, SatelliteFamily::Noaa, false, frame.data());
  EXPECT_EQ(buffer->QuickLookLine, 380);
  EXPECT_EQ(buffer->At(0, 380, 7), 7);
  EXPECT_EQ(buffer->At(0, 381, 7), 0);
  // --- ... and a long northbound one row 22 ---
  ClearQuickLook(*buffer, cycle, true);
  EXPECT_EQ(buffer->At(0, 200, 7), 0) << "the clear empties every row";
  for (int i = 0; i < 13 * 400; ++i)
    AddQuickLookFrame(*buffer, cycle, SatelliteFamily::Noaa, true, frame.data());
  EXPECT_EQ(buffer->QuickLookLine, 22);
  EXPECT_EQ(buffer->At(0, 21, 7), 0);
  EXPECT_EQ(buffer->At(0, 22, 145), 7);

  // --- The clear also restarts the group of 13 ---
  cycle.counter = 5;
  ClearQuickLook(*buffer, cycle, false);
  AddQuickLookFrame(*buffer, cycle, SatelliteFamily::Noaa, false, frame.data());
  EXPECT_EQ(buffer->At(0, 22, 9), 9);
}

TEST_F(QuickLookTest, FengYunAndSeaStarUseTheirOwnWords) {
  struct Case {
    SatelliteFamily family;
    std::vector<std::uint16_t> frame;
  };
  const Case cases[] = {{SatelliteFamily::FengYun, SampleFrame(22180, 1602, 1604, 130)},
                        {SatelliteFamily::SeaStar, SampleFrame(11090, 704, 708, 64)}};
  for (const Case& c : cases) {
    QuickLookCycle fresh;
    ClearQuickLook(*buffer, fresh, false);
    for (int i = 0; i < 8; ++i) AddQuickLookFrame(*buffer, fresh, c.family, false, c.frame.data());
    for (int k : {0, 100, 152}) {
      EXPECT_EQ(buffer->At(0, 22, k), k);
      EXPECT_EQ(buffer->At(1, 22, k), k);
    }
  }
}

// An imager line of 1572 pixels: the first, the middle-ish and the last pixel reach the row's
// first, a middle and its last column, and channel B is shown inverted when asked.
TEST_F(QuickLookTest, ImagerLinesSpreadOverTheRow) {
  std::vector<std::uint16_t> a(1572, 0), b(1572, 0);
  a[0] = 4 * 10;
  a[1572 - 1] = 4 * 200;
  a[76 * 1571 / 152] = 4 * 76;
  b[0] = 0x3FF - 4 * 33;  // shown as 33 once inverted
  ClearQuickLook(*buffer, cycle, true);
  for (int i = 0; i < 13; ++i)
    AddQuickLookLine(*buffer, cycle, true, a.data(), b.data(), 1572, true);
  // Northbound: the bottom row, mirrored.
  EXPECT_EQ(buffer->At(0, 380, 152), 10);
  EXPECT_EQ(buffer->At(0, 380, 0), 200);
  EXPECT_EQ(buffer->At(0, 380, 152 - 76), 76);
  EXPECT_EQ(buffer->At(1, 380, 152), 33);
  EXPECT_EQ(buffer->QuickLookLine.load(), 379);
}

}  // namespace
}  // namespace halvik
