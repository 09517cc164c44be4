#include "dsp/OfflineDemodulation.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "sim/HrptFrame.h"
#include "sim/PmModulator.h"
#include "support/TempDir.h"
#include "support/TestCadu.h"

namespace halvik {
namespace {

constexpr double kRate = 3.0e6;

std::vector<std::uint16_t> Frame(int counter) {
  sim::FrameContext context;
  context.family = SatelliteFamily::Noaa;
  context.frameCounter = counter;
  std::vector<std::uint16_t> frame(static_cast<std::size_t>(kNoaaFrameWords));
  sim::SynthesizeFrame(context, frame);
  return frame;
}

// The word stream as `--frames` reads it: 16-bit little-endian words.
std::string WordStream(const std::vector<std::vector<std::uint16_t>>& frames) {
  std::string bytes;
  for (const auto& frame : frames) {
    for (std::uint16_t word : frame) {
      bytes += static_cast<char>(word & 0xFF);
      bytes += static_cast<char>(word >> 8);
    }
  }
  return bytes;
}

TEST(OfflineDemodulationTest, FramesOfARecordingComeOutWholeAndInOrder) {
  TempDir dir;
  const std::vector<std::vector<std::uint16_t>> frames = {Frame(1), Frame(2)};
  // Random bits first (the carrier search and loops settle on them), then two frames back to
  // back, then a few bits so the last word completes.
  std::mt19937 random(3);
  std::vector<std::uint8_t> bits(30000);
  for (auto& bit : bits) bit = static_cast<std::uint8_t>(random() & 1u);
  for (const auto& frame : frames) AppendWordBits(frame, 10, bits);
  bits.insert(bits.end(), 200, 0);
  PmSignal signal;
  signal.sampleRate = kRate;
  signal.carrierOffsetHz = -21000;
  signal.ebn0Db = 13;
  signal.inverted = true;
  std::vector<Sample> samples;
  PmModulator(signal).Modulate(bits, samples);
  SigmfWriter writer;
  std::string error;
  ASSERT_TRUE(
      writer.Open(dir.path() / "pass", {SampleFormat::Cs16, kRate, 1698e6, {}, "", ""}, error));
  ASSERT_TRUE(writer.Write(samples));
  ASSERT_TRUE(writer.Finish(error)) << error;

  auto source = RecordingSource::Open({.path = dir.path() / "pass.sigmf-data"}, error);
  ASSERT_NE(source, nullptr) << error;
  DemodulationSummary summary;
  std::vector<double> progress;
  const auto out = dir.path() / "pass.raw16";
  ASSERT_TRUE(DemodulateRecording(*source, SatelliteFamily::Noaa, out, summary, error,
                                  [&](double f) { progress.push_back(f); }))
      << error;
  EXPECT_EQ(TempDir::ReadFile(out), WordStream(frames));
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "pass.raw16.part"));
  EXPECT_EQ(summary.frames, 2);
  EXPECT_EQ(summary.framesWithSync, 2);
  EXPECT_EQ(summary.samples, std::int64_t(samples.size()));
  EXPECT_NEAR(summary.meanEbn0Db, 13, 1.5);
  EXPECT_NEAR(summary.carrierOffsetHz, -21000, 50);
  ASSERT_FALSE(progress.empty());
  EXPECT_DOUBLE_EQ(progress.back(), 1.0);
  EXPECT_EQ(SummaryLine(summary, out).rfind("2 frames, 2 with sync, mean Eb/N0 1", 0), 0u)
      << SummaryLine(summary, out);

  // Where the frames cannot be written: said, and nothing left behind.
  source = RecordingSource::Open({.path = dir.path() / "pass.sigmf-meta"}, error);
  ASSERT_NE(source, nullptr);
  const auto nowhere = dir.path() / "missing" / "pass.raw16";
  EXPECT_FALSE(DemodulateRecording(*source, SatelliteFamily::Noaa, nowhere, summary, error));
  EXPECT_NE(error.find("missing/pass.raw16.part: No such file or directory"), std::string::npos)
      << error;
}

TEST(OfflineDemodulationTest, MeteorCadusAreWrittenAsBytesWithACleanMarker) {
  TempDir dir;
  // Three CADUs (lock takes two markers), the second with two marker bits wrong as sent.
  std::vector<std::vector<std::uint16_t>> cadus = {TestCadu(1), TestCadu(2), TestCadu(3)};
  std::string expected;
  for (const auto& cadu : cadus) expected.append(cadu.begin(), cadu.end());
  cadus[1][0] ^= 0x41;
  std::mt19937 random(4);
  std::vector<std::uint8_t> bits(30000);
  for (auto& bit : bits) bit = static_cast<std::uint8_t>(random() & 1u);
  for (const auto& cadu : cadus) AppendWordBits(cadu, 8, bits);
  bits.insert(bits.end(), 200, 0);
  PmSignal signal;
  signal.sampleRate = kRate;
  signal.bitRate = FamilyBitRate(SatelliteFamily::Meteor);
  signal.carrierOffsetHz = 17000;
  signal.ebn0Db = 14;
  std::vector<Sample> samples;
  PmModulator(signal).Modulate(bits, samples);
  std::string raw(reinterpret_cast<const char*>(samples.data()), samples.size() * sizeof(Sample));
  dir.Write("pass.cf32", raw);

  std::string error;
  auto source = RecordingSource::Open(
      {.path = dir.path() / "pass.cf32", .format = SampleFormat::Cf32, .sampleRate = kRate}, error);
  ASSERT_NE(source, nullptr) << error;
  DemodulationSummary summary;
  const auto out = dir.path() / "pass.cadu";
  ASSERT_TRUE(DemodulateRecording(*source, SatelliteFamily::Meteor, out, summary, error)) << error;
  EXPECT_EQ(TempDir::ReadFile(out), expected);
  EXPECT_EQ(summary.frames, 3);
  EXPECT_EQ(summary.framesWithSync, 3);
  EXPECT_EQ(SummaryLine(summary, out).rfind("3 CADUs, 3 with sync, mean Eb/N0 1", 0), 0u)
      << SummaryLine(summary, out);
}

TEST(OfflineDemodulationTest, NoiseGivesNoFramesAndNoFile) {
  TempDir dir;
  std::mt19937 random(8);
  std::string noise(2 * 600000, '\0');
  for (char& c : noise) c = static_cast<char>(random());
  dir.Write("noise.cu8", noise);
  std::string error;
  auto source = RecordingSource::Open(
      {.path = dir.path() / "noise.cu8", .format = SampleFormat::Cu8, .sampleRate = 2.4e6}, error);
  ASSERT_NE(source, nullptr) << error;
  DemodulationSummary summary;
  const auto out = dir.path() / "noise.raw16";
  ASSERT_TRUE(DemodulateRecording(*source, SatelliteFamily::Noaa, out, summary, error));
  EXPECT_EQ(summary.frames, 0);
  EXPECT_FALSE(summary.written);
  EXPECT_FALSE(std::filesystem::exists(out));
  EXPECT_EQ(SummaryLine(summary, out),
            "0 frames in 600000 samples: no signal found, nothing written");
  source = RecordingSource::Open(
      {.path = dir.path() / "noise.cu8", .format = SampleFormat::Cu8, .sampleRate = 2.4e6}, error);
  ASSERT_NE(source, nullptr) << error;
  ASSERT_TRUE(DemodulateRecording(*source, SatelliteFamily::Meteor, out, summary, error));
  EXPECT_FALSE(std::filesystem::exists(out));
  EXPECT_EQ(SummaryLine(summary, out),
            "0 CADUs in 600000 samples: no signal found, nothing written");
}

}  // namespace
}  // namespace halvik
