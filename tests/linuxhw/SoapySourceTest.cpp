#include "linuxhw/SoapySource.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <numbers>
#include <vector>

#include "platform/Clock.h"
#include "platform/Messages.h"

namespace halvik {
namespace {

// The test module's tone: sample k of the device's own time.
Sample Tone(std::int64_t k) {
  return std::polar(0.5f, static_cast<float>(k % 8) * std::numbers::pi_v<float> / 4);
}

class SoapySourceTest : public ::testing::Test {
 protected:
  // Read by SoapySDR when it first loads its modules, which the first device opening does.
  static void SetUpTestSuite() { setenv("SOAPY_SDR_PLUGIN_PATH", HALVIK_SOAPY_MODULES, 1); }

  // Reads `samples`, each checked against the tone at the device time it must carry: what came
  // before it plus what was counted as dropped. A gap stitched over without its count fails.
  static void ReadTone(SoapySource& source, std::int64_t samples, bool checkTone = true) {
    std::vector<Sample> block(700);
    std::int64_t delivered = 0;
    for (int i = 0; i < 1000 && delivered < samples; ++i) {
      std::size_t count = 0;
      if (source.Read(block, count) != SampleRead::Data) continue;
      for (std::size_t j = 0; j < count && checkTone; ++j) {
        const Sample expected = Tone(delivered + static_cast<std::int64_t>(j) + source.dropped());
        ASSERT_NEAR(std::abs(block[j] - expected), 0.0f, 1e-5f) << delivered + j;
      }
      delivered += static_cast<std::int64_t>(count);
    }
    EXPECT_GE(delivered, samples);
  }
};

TEST_F(SoapySourceTest, OpensThroughSoapySdrAndCountsOverflows) {
  struct Case {
    std::string args;
    std::int64_t dropped;
    bool toneContinues;  // the count is exact, not an estimate
  };
  const Case cases[] = {
      // Timestamps say exactly how much the overflow lost.
      {"driver=halviktest,timed=1,overflowAfter=1000,overflowGap=300", 300, true},
      // Without them, one transfer unit of the stream (4096 here) is all that can be said.
      {"driver=halviktest,overflowAfter=1000,overflowGap=300", 4096, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    ManualClock clock;
    RecordingMessages messages;
    SoapySource source({c.args, 2.9e6, std::nullopt, 30.0}, clock, messages);
    EXPECT_TRUE(source.Tune(1698.0004e6));
    ReadTone(source, 3000, c.toneContinues);
    EXPECT_TRUE(source.open());
    EXPECT_EQ(source.sampleRate(), 3e6);  // the device's step, not the rate asked
    EXPECT_EQ(source.tunedHz(), 1698e6);  // the device's synthesizer, read back
    EXPECT_EQ(source.dropped(), c.dropped);
    EXPECT_TRUE(messages.Shown().empty());
  }
}

TEST_F(SoapySourceTest, DeviceAbsentOrLostIsSaidOnceAndTheTimeAwayCounted) {
  ManualClock clock;
  RecordingMessages messages;
  SoapySource absent({"driver=halviktest,absent=1", 1e6, std::nullopt, std::nullopt}, clock,
                     messages);
  std::vector<Sample> block(256);
  std::size_t count = 0;
  for (int i = 0; i < 30; ++i) EXPECT_EQ(absent.Read(block, count), SampleRead::NoData);
  ASSERT_EQ(messages.Shown().size(), 1u);
  EXPECT_EQ(messages.Shown()[0].rfind("SDR soapy driver=halviktest,absent=1 not available (", 0),
            0u)
      << messages.Shown()[0];
  EXPECT_EQ(absent.dropped(), 0);  // nothing was ever coming

  messages.Clear();
  SoapySource lost({"driver=halviktest,loseAfter=5000", 1e6, 1698e6, std::nullopt}, clock,
                   messages);
  ReadTone(lost, 5000);
  EXPECT_EQ(lost.Read(block, count), SampleRead::NoData);
  EXPECT_FALSE(lost.open());
  EXPECT_EQ(messages.Shown(),
            std::vector<std::string>{"SDR soapy driver=halviktest,loseAfter=5000 lost "
                                     "(STREAM_ERROR): retrying every 30 s at most"});
  clock.Advance(1500);
  ASSERT_EQ(lost.Read(block, count), SampleRead::Data);
  EXPECT_EQ(lost.dropped(), 1500000);  // 1.5 s at 1 Msps
  EXPECT_EQ(lost.tunedHz(), 1698e6);   // tuned again on opening
  EXPECT_EQ(messages.Shown().size(), 1u);
}

}  // namespace
}  // namespace halvik
