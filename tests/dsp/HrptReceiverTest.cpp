#include "dsp/HrptReceiver.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "sim/HrptFrame.h"
#include "sim/PmModulator.h"

namespace halvik {
namespace {

struct Received {
  std::vector<std::vector<std::uint16_t>> frames;
  HrptReceiver::FrameSink Sink() {
    return [this](std::span<const std::uint16_t> f) { frames.emplace_back(f.begin(), f.end()); };
  }
};

TEST(HrptReceiver, FindsFramesWhereverTheCarrierAndTheBitsLie) {
  // Each signal: about 45 ms of random bits (the carrier search and the loops settle), then one
  // whole minor frame from the simulator, then a few bits more so its last word completes.
  struct Case {
    const char* what;
    SatelliteFamily family;
    double sampleRate;
    double offsetHz;
    double driftHzPerS;
    double correctionHz;  // told to the receiver
    bool inverted;
    bool halfBitLate;  // the first chip is cut off: bits pair at the other phase
  };
  const Case cases[] = {
      {"noaa, 40 kHz off, rising", SatelliteFamily::Noaa, 3.0e6, 40000, 400, 0, false, false},
      {"noaa inverted, half a bit late, falling", SatelliteFamily::Noaa, 3.0e6, -35000, -400, 0,
       true, true},
      {"noaa 75 kHz off, 70 kHz of it predicted", SatelliteFamily::Noaa, 3.0e6, 75000, 0, 70000,
       false, false},
      {"fengyun at 2.25 samples per chip", SatelliteFamily::FengYun, 5.9886e6, 12000, 400, 0, true,
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const int frameWords = sim::LayoutFor(c.family).frameWords;
    sim::FrameContext context;
    context.family = c.family;
    context.frameCounter = 5;
    std::vector<std::uint16_t> frame(static_cast<std::size_t>(frameWords));
    sim::SynthesizeFrame(context, frame);

    PmSignal signal;
    signal.sampleRate = c.sampleRate;
    signal.bitRate = FactsOf(c.family).layout.bitsPerSecond();
    signal.carrierOffsetHz = c.offsetHz;
    signal.carrierDriftHzPerS = c.driftHzPerS;
    signal.sampleClockPpm = -25.0;
    signal.ebn0Db = 12.0;
    signal.inverted = c.inverted;
    std::mt19937 random(11);
    std::vector<std::uint8_t> bits(static_cast<std::size_t>(signal.bitRate * 0.045));
    for (auto& bit : bits) bit = static_cast<std::uint8_t>(random() & 1u);
    AppendWordBits(frame, 10, bits);
    bits.insert(bits.end(), 200, 0);
    std::vector<Sample> samples;
    PmModulator(signal).Modulate(bits, samples);
    if (c.halfBitLate) {
      const auto chip = static_cast<std::ptrdiff_t>(signal.sampleRate / (2 * signal.bitRate) + 0.5);
      samples.erase(samples.begin(), samples.begin() + chip);
    }

    HrptReceiver receiver(c.sampleRate, c.family);
    receiver.SetFrequencyCorrection(c.correctionHz);
    Received out;
    // In pieces, as a device hands them over.
    for (std::size_t at = 0; at < samples.size(); at += 50000) {
      receiver.Push(
          std::span(samples).subspan(at, std::min<std::size_t>(50000, samples.size() - at)),
          out.Sink());
    }
    ASSERT_EQ(out.frames.size(), 1u);
    EXPECT_EQ(out.frames[0], frame);
    const ReceiveQuality quality = receiver.quality();
    EXPECT_TRUE(quality.carrierLocked);
    EXPECT_TRUE(quality.frameSync);
    EXPECT_EQ(quality.framesOut, 1);
    EXPECT_EQ(quality.framesWithSync, 1);
    EXPECT_NEAR(quality.ebn0Db, signal.ebn0Db, 1.0);
    // The carrier followed to the end of the ramp, relative to the corrected centre.
    const double seconds = static_cast<double>(samples.size()) / c.sampleRate;
    EXPECT_NEAR(quality.carrierOffsetHz, c.offsetHz - c.correctionHz + c.driftHzPerS * seconds,
                20.0);
  }
}

TEST(HrptReceiver, NoiseAloneGivesNoFrames) {
  std::mt19937 random(5);
  std::normal_distribution<float> noise(0.0f, 0.3f);
  std::vector<Sample> samples(900000);
  for (Sample& sample : samples) sample = {noise(random), noise(random)};
  HrptReceiver receiver(3.0e6, SatelliteFamily::Noaa);
  Received out;
  receiver.Push(samples, out.Sink());
  EXPECT_TRUE(out.frames.empty());
  const ReceiveQuality quality = receiver.quality();
  EXPECT_FALSE(quality.carrierLocked);
  EXPECT_FALSE(quality.frameSync);
  EXPECT_EQ(quality.framesOut, 0);
}

}  // namespace
}  // namespace halvik
