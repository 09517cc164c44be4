#include "capture/Deframer.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "capture/BitFrame.h"

namespace halvik {
namespace {

constexpr std::int32_t kWords = kNoaaFrameWords;

// Frame `n`: sync (or damaged sync), then words that say which frame and which word they are.
std::vector<std::uint16_t> Frame(int n, bool sync = true) {
  std::vector<std::uint16_t> frame(kWords);
  for (std::int32_t i = 0; i < kWords; ++i)
    frame[i] = static_cast<std::uint16_t>((n * 7 + i) & 0x3FF);
  for (std::size_t i = 0; i < kFrameSync.size(); ++i) frame[i] = sync ? kFrameSync[i] : 0x155;
  return frame;
}

// The stream as a demodulator writes it: little-endian, padding bits set above the ten.
void Append(std::vector<std::uint8_t>& bytes, const std::vector<std::uint16_t>& words) {
  for (std::uint16_t w : words) {
    const auto padded = static_cast<std::uint16_t>(w | 0xFC00);
    bytes.push_back(static_cast<std::uint8_t>(padded & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(padded >> 8));
  }
}

struct Collected {
  std::vector<std::vector<std::uint16_t>> frames;
  Deframer::FrameSink Sink() {
    return [this](std::span<const std::uint16_t> f) { frames.emplace_back(f.begin(), f.end()); };
  }
};

TEST(Deframer, FindsFramesInAStreamThatStartsAnywhere) {
  // --- the stream starts mid-frame and a byte out of step; fed in odd-sized pieces
  std::vector<std::uint8_t> bytes(1001, 0x5A);
  std::vector<std::uint16_t> tail = Frame(0);
  Append(bytes, std::vector<std::uint16_t>(tail.begin() + 5000, tail.end()));
  for (int n = 1; n <= 4; ++n) Append(bytes, Frame(n));
  Deframer deframer(kWords, 3);
  Collected out;
  for (std::size_t at = 0; at < bytes.size(); at += 777) {
    deframer.Push(std::span(bytes).subspan(at, std::min<std::size_t>(777, bytes.size() - at)),
                  out.Sink());
  }
  // Frame 4 completes only when frame 5's first word would follow: all four are whole.
  ASSERT_EQ(out.frames.size(), 4u);
  for (int n = 1; n <= 4; ++n) EXPECT_EQ(out.frames[n - 1], Frame(n)) << "frame " << n;
  EXPECT_TRUE(deframer.locked());
  EXPECT_EQ(deframer.framesWithSync(), 4);
}

TEST(Deframer, FadeIsHandedOverThenTheHuntBeginsAgain) {
  std::vector<std::uint8_t> bytes;
  for (int n = 0; n < 3; ++n) Append(bytes, Frame(n));
  for (int n = 3; n < 9; ++n) Append(bytes, Frame(n, false));  // six frames with damaged sync
  for (int n = 9; n < 12; ++n) Append(bytes, Frame(n));
  Deframer deframer(kWords, 3);
  Collected out;
  deframer.Push(bytes, out.Sink());

  // Three in lock, four without sync (three of flywheel and the one that ends it), then the
  // hunt skips the rest of the fade and locks on frame 9 again.
  ASSERT_EQ(out.frames.size(), 10u);
  for (int k = 0; k < 3; ++k) EXPECT_TRUE(HasFrameSync(out.frames[k].data()));
  for (int k = 3; k < 7; ++k) EXPECT_FALSE(HasFrameSync(out.frames[k].data()));
  EXPECT_EQ(out.frames[7], Frame(9));
  EXPECT_EQ(deframer.framesOut(), 10);
  EXPECT_EQ(deframer.framesWithSync(), 6);

  // --- a new family's frame length starts a fresh hunt
  deframer.Reset(kLongestFrameWords);
  EXPECT_FALSE(deframer.locked());
}

TEST(Deframer, AStreamThatIsNotHrptNeverLocks) {
  std::mt19937 random(7);
  std::vector<std::uint8_t> noise(4 * kWords * 2);
  for (auto& b : noise) b = static_cast<std::uint8_t>(random());
  // Sync words that never come in their order, as a stuck or wrong demodulator may send.
  std::vector<std::uint8_t> almost;
  for (int k = 0; k < 3 * kWords; ++k) {
    Append(almost, {kFrameSync[k % 5 == 4 ? 0 : k % 5], kFrameSync[5]});
  }
  Deframer deframer(kWords, 3);
  Collected out;
  deframer.Push(noise, out.Sink());
  deframer.Push(almost, out.Sink());
  EXPECT_TRUE(out.frames.empty());
  EXPECT_FALSE(deframer.locked());
}

}  // namespace
}  // namespace halvik
