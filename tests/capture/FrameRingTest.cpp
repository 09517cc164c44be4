#include <gtest/gtest.h>

#include <memory>
#include <numeric>
#include <vector>

#include "capture/FrameRing.h"
#include "devices/ControlCodes.h"

namespace halvik {
namespace {

// A stream of distinct words, so that a frame's content tells where it was cut from.
std::vector<std::uint16_t> Stream(std::size_t words, std::uint16_t first = 0) {
  std::vector<std::uint16_t> out(words);
  for (std::size_t i = 0; i < words; ++i) out[i] = static_cast<std::uint16_t>((first + i) & 0xFFFF);
  return out;
}

class FrameRingTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(ring.Allocate()); }
  void Block(std::size_t words = kSyncBlockWords) {
    auto data = Stream(words, static_cast<std::uint16_t>(fed));
    ring.AssembleBlock(data.data(), data.size());
    fed += words;
  }
  FrameRing ring;
  std::size_t fed = 0;
};

TEST_F(FrameRingTest, CutsBlocksIntoFramesOfTheFamilyLength) {
  // --- NOAA: 11090-word frames from 8192-word blocks ---
  EXPECT_EQ(ring.FrameLength(), 11090);
  Block();
  EXPECT_EQ(ring.fillCount(), 8192);
  EXPECT_FALSE(ring.HasFrame());
  Block();
  EXPECT_EQ(ring.fillCount(), 5294);
  EXPECT_EQ(ring.writeIndex(), 1);
  ASSERT_TRUE(ring.HasFrame());
  const std::uint16_t* frame = ring.TakeFrame();
  EXPECT_EQ(frame[0], 0);
  EXPECT_EQ(frame[11089], 11089);
  EXPECT_FALSE(ring.HasFrame());
  // The next frame starts with the word after the last one of frame 0.
  Block();
  ASSERT_TRUE(ring.HasFrame());
  frame = ring.TakeFrame();
  EXPECT_EQ(frame[0], 11090);
  EXPECT_EQ(frame[11089], static_cast<std::uint16_t>(2 * 11090 - 1));
  EXPECT_EQ(ring.fillCount(), 5294 + 8192 - 11090);

  // --- FengYun: 22180-word frames; the third block completes the first ---
  ring.SetFamily(SatelliteFamily::FengYun);
  ring.ResetRing();
  fed = 0;
  Block();
  Block();
  EXPECT_FALSE(ring.HasFrame());
  EXPECT_EQ(ring.fillCount(), 16384);
  Block();
  ASSERT_TRUE(ring.HasFrame());
  EXPECT_EQ(ring.fillCount(), 2396);
  frame = ring.TakeFrame();
  EXPECT_EQ(frame[22179], 22179);

  // --- SeaStar frames are as long as NOAA's ---
  ring.SetFamily(SatelliteFamily::SeaStar);
  EXPECT_EQ(ring.FrameLength(), 11090);
}

TEST_F(FrameRingTest, ShortBlocksAddOnlyTheWordsTheyCarry) {
  Block(4000);
  EXPECT_EQ(ring.fillCount(), 4000);
  Block();
  EXPECT_EQ(ring.fillCount(), 12192 - 11090);
  ASSERT_TRUE(ring.HasFrame());
  // No stale words inside the frame: it is the stream's first 11090 words, in order.
  const std::uint16_t* frame = ring.TakeFrame();
  for (int i = 0; i < 11090; ++i) ASSERT_EQ(frame[i], i) << "word " << i;
  Block(0);
  EXPECT_EQ(ring.fillCount(), 1102);
}

TEST_F(FrameRingTest, ThirtyUntakenFramesWrapOntoTheReaderAndAreCounted) {
  // 29 frames can wait; the 30th completed frame brings the write index back to the reader.
  auto frame = Stream(11090);
  for (int i = 0; i < 29; ++i) ring.AssembleBlock(frame.data(), frame.size());
  EXPECT_TRUE(ring.HasFrame());
  EXPECT_EQ(ring.writeIndex(), 29);
  EXPECT_EQ(ring.framesOverrun(), 0);
  ring.AssembleBlock(frame.data(), frame.size());
  EXPECT_EQ(ring.writeIndex(), 0);
  EXPECT_FALSE(ring.HasFrame());
  EXPECT_EQ(ring.framesOverrun(), 30);

  // Taking frames as they come never overruns, however long it runs.
  ring.ResetRing();
  for (int i = 0; i < 100; ++i) {
    ring.AssembleBlock(frame.data(), frame.size());
    ASSERT_TRUE(ring.HasFrame());
    ring.TakeFrame();
  }
  EXPECT_EQ(ring.framesOverrun(), 30);
  EXPECT_EQ(ring.readIndex(), 100 % 30);
}

TEST_F(FrameRingTest, ResetDropsWaitingFramesAndThePartialOne) {
  Block();
  Block();
  Block();
  ASSERT_TRUE(ring.HasFrame());
  ring.ResetRing();
  EXPECT_FALSE(ring.HasFrame());
  EXPECT_EQ(ring.fillCount(), 0);
  EXPECT_EQ(ring.writeIndex(), 0);
  EXPECT_EQ(ring.readIndex(), 0);
  // After the reset the next frame is cut from the next words only.
  fed = 50000;
  Block();
  Block();
  ASSERT_TRUE(ring.HasFrame());
  EXPECT_EQ(ring.TakeFrame()[0], 50000);
}

TEST_F(FrameRingTest, FengYunForcesTheLongFrame) {
  ring.SetFamily(SatelliteFamily::FengYun);
  EXPECT_EQ(ring.FrameLength(), 22180);
  auto data = Stream(22180);
  ring.AssembleBlock(data.data(), data.size());
  ASSERT_TRUE(ring.HasFrame());
  EXPECT_EQ(ring.fillCount(), 0);
  // Without memory nothing is assembled and nothing breaks.
  FrameRing none;
  none.AssembleBlock(data.data(), data.size());
  EXPECT_FALSE(none.HasFrame());
}

}  // namespace
}  // namespace halvik
