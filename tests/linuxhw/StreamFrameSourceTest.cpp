#include "linuxhw/StreamFrameSource.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <random>

#include "capture/BitFrame.h"
#include "platform/Clock.h"
#include "platform/Messages.h"
#include "sim/StreamFrameServer.h"
#include "support/TempDir.h"

namespace halvik {
namespace {

// Reads a test allows before it gives up; each waits at most kStreamReadWaitMs.
constexpr int kCallLimit = 5000;

std::string Bytes(std::span<const std::uint16_t> words) {
  const std::vector<std::uint8_t> bytes = StreamBytes(words);
  return {bytes.begin(), bytes.end()};
}

std::string Noise(std::size_t n, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(n, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

// Frames as the capture thread gets them: Read's blocks joined and cut at the frame length.
class FrameReader {
 public:
  explicit FrameReader(StreamFrameSource& source) : source_(source) {}
  // One Read; true when it completed a frame, which frame() then holds.
  bool Step() {
    if (words_.size() == kNoaaFrameWords) words_.clear();
    std::array<std::uint16_t, kSyncBlockWords> block{};
    std::size_t n = 0;
    if (source_.Read(block, n) != FrameRead::Data) return false;
    words_.insert(words_.end(), block.begin(), block.begin() + static_cast<std::ptrdiff_t>(n));
    EXPECT_LE(words_.size(), static_cast<std::size_t>(kNoaaFrameWords));
    return words_.size() == kNoaaFrameWords;
  }
  const std::vector<std::uint16_t>& frame() const { return words_; }

 private:
  StreamFrameSource& source_;
  std::vector<std::uint16_t> words_;
};

// Takes `count` frames (within the call limit); each must be frame `first + i` of the server's
// stream, word for word.
void ExpectServedFrames(StreamFrameSource& source, const FrameServerOptions& served,
                        std::int64_t first, std::int64_t count) {
  FrameReader reader(source);
  std::int64_t got = 0;
  for (int call = 0; call < kCallLimit && got < count; ++call) {
    if (!reader.Step()) continue;
    ASSERT_EQ(reader.frame(), ServedFrame(served, first + got)) << "frame " << first + got;
    ++got;
  }
  EXPECT_EQ(got, count);
}

TEST(StreamFrameSource, SourceIsTcpHostPortOrAPath) {
  const auto tcp = ParseFrameStreamAddress("tcp:127.0.0.1:5000");
  ASSERT_TRUE(tcp && tcp->tcp);
  EXPECT_EQ(tcp->tcp->host, "127.0.0.1");
  EXPECT_EQ(tcp->tcp->port, "5000");
  const auto fifo = ParseFrameStreamAddress("/run/demod/words");
  ASSERT_TRUE(fifo);
  EXPECT_FALSE(fifo->tcp);
  EXPECT_EQ(fifo->path, "/run/demod/words");
  for (const char* bad : {"", "tcp:", "tcp:host", "tcp::5000", "tcp:host:70000"}) {
    EXPECT_FALSE(ParseFrameStreamAddress(bad)) << bad;
  }
}

TEST(StreamFrameSource, LoopbackPassLocksSurvivesDropsAndLosesNoFrame) {
  FrameServerOptions served;
  served.totalFrames = 100;
  served.dropAfterFrames = 40;      // drops in frames 40 and 80
  served.leadingNoiseBytes = 1001;  // every connection starts a byte out of step
  StreamFrameServer server(served);
  std::string error;
  ASSERT_TRUE(server.Listen(0, error)) << error;

  ManualClock clock;
  RecordingMessages messages;
  StreamFrameSource source(
      *ParseFrameStreamAddress("tcp:127.0.0.1:" + std::to_string(server.port())), clock, messages);
  source.Open();
  source.Start(SatelliteFamily::Noaa);
  ExpectServedFrames(source, served, 0, 50);
  // The capture engine restarts the source between two frames: none is lost.
  source.Stop();
  source.Start(SatelliteFamily::Noaa);
  ExpectServedFrames(source, served, 50, 50);
  EXPECT_TRUE(source.Sync().locked);
  EXPECT_EQ(source.Sync().quality, 1.0);
  // The server ends the pass and closes: no data is no lock.
  for (int call = 0; call < kCallLimit && source.outages() < 3; ++call) source.NextFrame();
  EXPECT_FALSE(source.Sync().locked);
  EXPECT_EQ(server.connections(), 3);
  // One message per drop, none per retry.
  ASSERT_EQ(messages.Shown().size(), 3u);
  EXPECT_EQ(messages.Shown()[0], "Frame stream tcp:127.0.0.1:" + std::to_string(server.port()) +
                                     " lost (closed by the far end): retrying every 30 s at most");
}

TEST(StreamFrameSource, AbsentStreamIsSaidOnceAndRetried) {
  std::string error;
  std::uint16_t port = 0;
  { const UniqueFd taken = ListenLoopback(port, error); }
  const std::string address = "tcp:127.0.0.1:" + std::to_string(port);
  ManualClock clock;
  RecordingMessages messages;
  StreamFrameSource source(*ParseFrameStreamAddress(address), clock, messages);
  // The capture thread runs on: opening succeeds and the stream is looked for again.
  EXPECT_TRUE(source.Open());
  source.Start(SatelliteFamily::Noaa);
  const std::int64_t startMs = clock.MonotonicMs();
  std::array<std::uint16_t, kSyncBlockWords> block{};
  std::size_t words = 0;
  while (clock.MonotonicMs() - startMs < 120000) {
    EXPECT_EQ(source.Read(block, words), FrameRead::NoData);
  }
  EXPECT_EQ(messages.Shown(), std::vector<std::string>{"Frame stream " + address +
                                                       " not available (Connection refused): "
                                                       "retrying every 30 s at most"});
  EXPECT_FALSE(source.Sync().locked);
}

TEST(StreamFrameSource, StreamThatIsNotHrptNeverLocks) {
  TempDir dir;
  // Noise, and runs of the first five sync words that never reach the sixth.
  std::string bytes = Noise(200000, 7);
  const std::span<const std::uint16_t> five(kFrameSync.data(), 5);
  for (int i = 0; i < 2000; ++i) bytes += Bytes(five);
  dir.Write("noise.raw", bytes);

  ManualClock clock;
  RecordingMessages messages;
  StreamFrameSource source(*ParseFrameStreamAddress((dir.path() / "noise.raw").string()), clock,
                           messages);
  source.Open();
  source.Start(SatelliteFamily::Noaa);
  for (int call = 0; call < kCallLimit && !source.ended(); ++call) {
    std::array<std::uint16_t, kSyncBlockWords> block{};
    std::size_t words = 0;
    EXPECT_EQ(source.Read(block, words), FrameRead::NoData);
    EXPECT_FALSE(source.Sync().locked);
  }
  EXPECT_TRUE(source.ended());
  EXPECT_EQ(messages.Count("Frame stream " + (dir.path() / "noise.raw").string() +
                           " ended: no more frames from this file"),
            1u);
}

TEST(StreamFrameSource, FileIsReplayedAtTheDownlinksPaceToItsEnd) {
  TempDir dir;
  FrameServerOptions served;
  std::string bytes = Noise(333, 3);
  for (int n = 0; n < 12; ++n) bytes += Bytes(ServedFrame(served, n));
  dir.Write("pass.raw", bytes);

  ManualClock clock;
  RecordingMessages messages;
  StreamFrameSource source(*ParseFrameStreamAddress((dir.path() / "pass.raw").string()), clock,
                           messages);
  source.Open();
  source.Start(SatelliteFamily::Noaa);
  const std::int64_t startMs = clock.MonotonicMs();
  ExpectServedFrames(source, served, 0, 12);
  // Twelve frames at six a second take two seconds of the station clock, not none.
  EXPECT_GE(clock.MonotonicMs() - startMs, 1900);
  for (int call = 0; call < kCallLimit && !source.ended(); ++call) source.NextFrame();
  EXPECT_TRUE(source.ended());
}

TEST(StreamFrameSource, FifoWriterThatGoesIsWaitedForAgain) {
  TempDir dir;
  const std::filesystem::path fifo = dir.path() / "words";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  FrameServerOptions served;
  ManualClock clock;
  RecordingMessages messages;
  StreamFrameSource source(*ParseFrameStreamAddress(fifo.string()), clock, messages);
  source.Open();
  source.Start(SatelliteFamily::Noaa);

  // One writer at a time, as a demodulator restarted: frames 0-4, then 5-9, each a write end
  // of its own, fed a pipe's worth at a time while the source reads.
  for (int writer = 0; writer < 2; ++writer) {
    int fd = -1;
    for (int call = 0; call < kCallLimit && fd < 0; ++call) {
      source.NextFrame();  // opens, or reopens after the back-off
      fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    }
    ASSERT_GE(fd, 0);
    std::string pending = Noise(writer == 0 ? 5 : 2, 9);
    for (int n = 5 * writer; n < 5 * writer + 5; ++n) pending += Bytes(ServedFrame(served, n));
    FrameReader reader(source);
    std::int64_t got = 0;
    for (int call = 0; call < kCallLimit && got < 5; ++call) {
      const ssize_t written = ::write(fd, pending.data(), pending.size());
      if (written > 0) pending.erase(0, static_cast<std::size_t>(written));
      if (!reader.Step()) continue;
      ASSERT_EQ(reader.frame(), ServedFrame(served, 5 * writer + got));
      ++got;
    }
    EXPECT_EQ(got, 5);
    ::close(fd);
    for (int call = 0; call < kCallLimit && source.outages() == writer; ++call) source.NextFrame();
    EXPECT_EQ(source.outages(), writer + 1);
  }
  EXPECT_EQ(messages.Shown().size(), 2u);
}

}  // namespace
}  // namespace halvik
