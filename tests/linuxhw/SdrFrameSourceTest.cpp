#include "linuxhw/SdrFrameSource.h"

#include <gtest/gtest.h>

#include <array>
#include <deque>
#include <random>
#include <thread>

#include "capture/BitFrame.h"
#include "linuxhw/SdrTuner.h"
#include "platform/Clock.h"
#include "platform/Messages.h"
#include "sim/PmModulator.h"
#include "sim/StreamFrameServer.h"
#include "support/TempDir.h"

namespace halvik {
namespace {

// Reads the capture side allows before a test gives up.
constexpr int kCallLimit = 200000;

// What one read of a scripted device brings: a block of samples numbered `id` (kept in every
// sample, so the scripted chain below can tell which block made a frame), or a result.
struct Step {
  SampleRead read = SampleRead::Data;
  int id = 0;
};

class ScriptedSamples final : public SampleSource {
 public:
  ScriptedSamples(std::deque<Step> script, std::int64_t dropped)
      : script_(std::move(script)), dropped_(dropped) {}
  double sampleRate() const override { return 3.0e6; }
  SampleRead Read(std::span<Sample> out, std::size_t& count) override {
    count = 0;
    if (script_.empty()) return SampleRead::NoData;
    const Step step = script_.front();
    script_.pop_front();
    if (step.read != SampleRead::Data) return step.read;
    std::fill(out.begin(), out.end(), Sample(static_cast<float>(step.id), 0.0f));
    count = out.size();
    return SampleRead::Data;
  }
  bool Tune(double) override { return true; }
  bool SetGain(std::optional<double>) override { return true; }
  std::int64_t dropped() const override { return dropped_; }
  std::string error() const override { return "server gone"; }

 private:
  std::deque<Step> script_;
  std::int64_t dropped_;
};

// The chain stand-in: one whole NOAA frame per block, carrying the block's number in word 6,
// and three bytes corrected and one codeword lost per block since its last Reset, as a coded
// decoder counts. While `hold` is set, Push waits (a machine too slow for its device).
struct ScriptedChain {
  std::atomic<bool> hold{false};
  std::atomic<int> pushed{0};

  DemodulatorFactory Factory() {
    return [this](double, SatelliteFamily) { return std::make_unique<Chain>(*this); };
  }

  class Chain final : public FrameDemodulator {
   public:
    explicit Chain(ScriptedChain& owner) : owner_(owner) {}
    void Reset(SatelliteFamily) override { blocks_ = 0; }
    void SetFrequencyCorrection(double) override {}
    void Push(std::span<const Sample> samples, const FrameSink& sink) override {
      while (owner_.hold.load()) std::this_thread::yield();
      std::vector<std::uint16_t> frame(kNoaaFrameWords, 0x155);
      std::copy(kFrameSync.begin(), kFrameSync.end(), frame.begin());
      frame[6] = static_cast<std::uint16_t>(samples[0].real());
      sink(frame);
      ++blocks_;
      owner_.pushed.fetch_add(1);
    }
    ReceiveQuality quality() const override {
      ReceiveQuality q;
      q.frameSync = true;
      q.correctedBytes = 3 * blocks_;
      q.uncorrectableCodewords = blocks_;
      return q;
    }

   private:
    ScriptedChain& owner_;
    std::int64_t blocks_ = 0;
  };
};

std::deque<Step> Blocks(int first, int count, SampleRead last) {
  std::deque<Step> script;
  for (int i = 0; i < count; ++i) script.push_back({SampleRead::Data, first + i});
  script.push_back({last, 0});
  return script;
}

// The numbers (word 6) of whole frames read until `count` came, NoData `idleLimit` times in a
// row after the last, or the call limit; every frame must be whole and begin with sync. The
// frames themselves go to `whole` when given.
std::vector<int> ReadFrames(SdrFrameSource& source, std::size_t count, int idleLimit,
                            std::vector<std::vector<std::uint16_t>>* whole = nullptr) {
  std::vector<int> ids;
  std::vector<std::uint16_t> words;
  int idle = 0;
  for (int call = 0; call < kCallLimit && ids.size() < count && idle < idleLimit; ++call) {
    std::array<std::uint16_t, kSyncBlockWords> block{};
    std::size_t n = 0;
    if (source.Read(block, n) != FrameRead::Data) {
      ++idle;
      continue;
    }
    idle = 0;
    words.insert(words.end(), block.begin(), block.begin() + static_cast<std::ptrdiff_t>(n));
    if (words.size() < kNoaaFrameWords) continue;
    EXPECT_EQ(words.size(), static_cast<std::size_t>(kNoaaFrameWords));
    EXPECT_TRUE(HasFrameSync(words.data()));
    ids.push_back(words[6]);
    if (whole) whole->push_back(words);
    words.clear();
  }
  return ids;
}

TEST(SdrFrameSource, FramesComeWholeAndInOrderAcrossALossAndAnAbsenceAtStart) {
  ManualClock clock;
  RecordingMessages messages;
  ScriptedChain chain;
  std::vector<std::int64_t> openedAtMs;
  int opens = 0;
  // Absent three times, then five blocks and the link fails, then five more and the end.
  auto open = [&](std::string& error) -> std::unique_ptr<SampleSource> {
    ++opens;
    if (opens <= 3) {
      error = "no such device";
      return nullptr;
    }
    openedAtMs.push_back(clock.MonotonicMs());
    if (opens == 4) return std::make_unique<ScriptedSamples>(Blocks(0, 5, SampleRead::Failed), 7);
    return std::make_unique<ScriptedSamples>(Blocks(5, 5, SampleRead::End), 11);
  };
  SdrFrameSource source("rtltcp:localhost:1", open, chain.Factory(), clock, messages);
  source.Start(SatelliteFamily::Noaa);
  ASSERT_TRUE(source.Open());
  std::vector<int> ids = ReadFrames(source, 10, kCallLimit);
  while (!source.ended()) std::this_thread::yield();
  source.Close();

  EXPECT_EQ(ids, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
  // Retried after 1, 2 and 4 s: the fourth attempt no sooner than 7 s after the first.
  ASSERT_EQ(openedAtMs.size(), 2u);
  EXPECT_GE(openedAtMs[0], 7000);
  // Two outages, each said once, and the end of the recording once.
  EXPECT_EQ(source.outages(), 2);
  EXPECT_EQ(messages.Shown(),
            (std::vector<std::string>{
                "SDR rtltcp:localhost:1 not available (no such device): retrying every 30 s at "
                "most",
                "SDR rtltcp:localhost:1 lost (server gone): retrying every 30 s at most",
                "SDR rtltcp:localhost:1 ended: no more samples from this recording"}));
  // What both devices said they lost is kept across the reconnection.
  EXPECT_EQ(source.droppedSamples(), 7 + 11);
  // So is the decoder's Reed-Solomon work, though the new acquisition counts from nothing.
  ASSERT_TRUE(source.CodingWork());
  EXPECT_EQ(source.CodingWork()->correctedBytes, 3 * 10);
  EXPECT_EQ(source.CodingWork()->uncorrectableCodewords, 10);
}

TEST(SdrFrameSource, ASlowChainDropsAndCountsWholeBlocksAndASlowReaderWholeFrames) {
  ManualClock clock;
  RecordingMessages messages;
  ScriptedChain chain;
  chain.hold = true;
  constexpr int kBlocks = static_cast<int>(kSdrQueueBlocks) + 10;
  auto open = [&](std::string&) -> std::unique_ptr<SampleSource> {
    return std::make_unique<ScriptedSamples>(Blocks(0, kBlocks, SampleRead::End), 500);
  };
  SdrFrameSource source("file:pass", open, chain.Factory(), clock, messages);
  source.Start(SatelliteFamily::Noaa);
  ASSERT_TRUE(source.Open());
  while (!source.ended()) std::this_thread::yield();
  // Every block waits (one of them in the chain): the last ten are dropped, and counted with the
  // device's own losses.
  EXPECT_EQ(source.droppedSamples(), 10 * static_cast<std::int64_t>(kSdrBlockSamples) + 500);
  chain.hold = false;
  while (chain.pushed.load() < static_cast<int>(kSdrQueueBlocks)) std::this_thread::yield();
  // The capture thread took nothing meanwhile: the frame queue kept the oldest frames.
  std::vector<int> expected(kSdrFrameSlots);
  for (std::size_t i = 0; i < expected.size(); ++i) expected[i] = static_cast<int>(i);
  EXPECT_EQ(ReadFrames(source, kSdrFrameSlots + 1, 3), expected);
  EXPECT_EQ(source.droppedFrames(), static_cast<std::int64_t>(kSdrQueueBlocks - kSdrFrameSlots));
  source.Close();
}

// A recording in memory, handed over a device's block at a time; what it was tuned to is kept.
class SamplesInMemory final : public SampleSource {
 public:
  SamplesInMemory(std::vector<Sample> samples, std::atomic<double>& tunedHz)
      : samples_(std::move(samples)), tunedHz_(tunedHz) {}
  double sampleRate() const override { return 3.0e6; }
  SampleRead Read(std::span<Sample> out, std::size_t& count) override {
    count = std::min(out.size(), samples_.size() - at_);
    std::copy_n(samples_.begin() + static_cast<std::ptrdiff_t>(at_), count, out.begin());
    at_ += count;
    return count > 0 ? SampleRead::Data : SampleRead::NoData;
  }
  bool Tune(double hz) override {
    tunedHz_ = hz;
    return true;
  }
  bool SetGain(std::optional<double>) override { return true; }

 private:
  std::vector<Sample> samples_;
  std::size_t at_ = 0;
  std::atomic<double>& tunedHz_;
};

// The station's chain, counting the samples it was given.
class CountedChain final : public FrameDemodulator {
 public:
  CountedChain(std::unique_ptr<FrameDemodulator> chain, std::atomic<std::size_t>& pushed)
      : chain_(std::move(chain)), pushed_(pushed) {}
  void Reset(SatelliteFamily family) override { chain_->Reset(family); }
  void SetFrequencyCorrection(double hz) override { chain_->SetFrequencyCorrection(hz); }
  void Push(std::span<const Sample> samples, const FrameSink& sink) override {
    chain_->Push(samples, sink);
    pushed_ += samples.size();
  }
  ReceiveQuality quality() const override { return chain_->quality(); }

 private:
  std::unique_ptr<FrameDemodulator> chain_;
  std::atomic<std::size_t>& pushed_;
};

TEST(SdrFrameSource, TheStationsChainTunedAndDopplerCorrectedByItsTuner) {
  // Three frames of a pass 100 kHz off the centre, beyond the chain's own search, of which the
  // tracking loop predicted 95 kHz.
  FrameServerOptions served;
  PmSignal signal;
  signal.carrierOffsetHz = 100000;
  signal.carrierDriftHzPerS = -300;
  signal.ebn0Db = 12.0;
  std::mt19937 random(3);
  std::vector<std::uint8_t> bits(static_cast<std::size_t>(signal.bitRate * 0.045));
  for (auto& bit : bits) bit = static_cast<std::uint8_t>(random() & 1u);
  for (int n = 0; n < 3; ++n) AppendWordBits(ServedFrame(served, n), 10, bits);
  bits.insert(bits.end(), 200, 0);
  std::vector<Sample> samples;
  PmModulator(signal).Modulate(bits, samples);

  ManualClock clock;
  RecordingMessages messages;
  std::atomic<double> tunedHz{0};
  auto open = [&](std::string&) -> std::unique_ptr<SampleSource> {
    return std::make_unique<SamplesInMemory>(samples, tunedHz);
  };
  std::atomic<std::size_t> pushed{0};
  auto chain = [&pushed](double rate, SatelliteFamily family) {
    return std::make_unique<CountedChain>(MakeHrptDemodulator(rate, family), pushed);
  };
  SdrFrameSource source("file:pass", open, chain, clock, messages);
  SdrTuner tuner(source);
  tuner.ReceiverTune(1702);
  tuner.ReceiverDoppler(95000);
  source.Start(SatelliteFamily::Noaa);
  ASSERT_TRUE(source.Open());
  while (pushed.load() < samples.size()) std::this_thread::yield();
  std::vector<std::vector<std::uint16_t>> frames;
  ReadFrames(source, 3, 3, &frames);
  const float level = tuner.ReceiverReadStatus();
  const int locked = tuner.ReceiverLocked();
  source.Close();

  // Whole, in order, word for word.
  ASSERT_EQ(frames.size(), 3u);
  for (int n = 0; n < 3; ++n) EXPECT_EQ(frames[n], ServedFrame(served, n)) << "frame " << n;
  EXPECT_EQ(tunedHz.load(), 1702.5e6);
  EXPECT_DOUBLE_EQ(tuner.ReceiverFrequency(), 1702.5);
  EXPECT_EQ(locked, 1);
  // 12 dB reads 6 V, within the estimate's 1 dB.
  EXPECT_NEAR(level, 6.0f, 0.5f);
  EXPECT_EQ(source.droppedSamples(), 0);
}

TEST(SdrFrameSource, KeepsTheBasebandOfACaptureBesideIt) {
  ManualClock clock(SystemTime{1038830400, 0});  // 2002-12-02 12:00:00 UTC
  RecordingMessages messages;
  ScriptedChain chain;
  TempDir dir;
  auto open = [&](std::string&) -> std::unique_ptr<SampleSource> {
    return std::make_unique<ScriptedSamples>(Blocks(0, 3, SampleRead::NoData), 0);
  };
  SdrFrameSource source("file:pass", open, chain.Factory(), clock, messages);
  source.RecordPassesIn(dir.path());
  source.Start(SatelliteFamily::Noaa);
  ASSERT_TRUE(source.Open());
  while (chain.pushed.load() < 3) std::this_thread::yield();
  // The capture ends: the recording is finished under its own name, every sample in it.
  source.Stop();
  const std::filesystem::path base = dir.path() / "iq-20021202T120000Z";
  std::filesystem::path meta = base;
  meta += ".sigmf-meta";
  std::filesystem::path data = base;
  data += ".sigmf-data";
  while (!std::filesystem::exists(meta)) std::this_thread::yield();
  source.Close();
  EXPECT_EQ(std::filesystem::file_size(data),
            3 * kSdrBlockSamples * BytesPerSample(SampleFormat::Cs16));
  EXPECT_TRUE(messages.Shown().empty());
}

}  // namespace
}  // namespace halvik
