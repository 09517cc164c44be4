#include "dsp/Recording.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "platform/Clock.h"
#include "support/TempDir.h"

namespace halvik {
namespace {

std::string Meta(const std::string& datatype, const std::string& rate,
                 const std::string& annotations = "[]") {
  return R"({"global": {"core:datatype": ")" + datatype + R"(", "core:sample_rate": )" + rate +
         R"(}, "captures": [{"core:sample_start": 0, "core:frequency": 1698e6}], "annotations": )" +
         annotations + "}";
}

TEST(RecordingTest, RecordingsThatCannotBeReadAreRefusedInOneLine) {
  TempDir dir;
  const std::string cs16Samples(4 * 600, '\0');
  mkfifo((dir.path() / "fifo.iq").c_str(), 0600);
  std::filesystem::create_directory(dir.path() / "dir.sigmf-data");
  dir.Write("dir.sigmf-meta", Meta("ci16_le", "3e6"));
  dir.Write("short.sigmf-meta",
            Meta("ci16_le", "3e6", R"([{"core:sample_start": 0, "core:sample_count": 1000}])"));
  dir.Write("short.sigmf-data", cs16Samples);
  dir.Write("odd.sigmf-meta", Meta("ri16_le", "3e6"));
  dir.Write("cli.sigmf-meta", Meta("cs16", "3e6"));
  dir.Write("zero.sigmf-meta", Meta("ci16_le", "0"));
  dir.Write("huge.sigmf-meta", Meta("ci16_le", "2.4e9"));
  dir.Write("lone.sigmf-meta", Meta("cu8", "2.4e6"));
  dir.Write("json.sigmf-meta", "{\"global\": ");
  dir.Write("empty.iq", "");
  dir.Write("plain.iq", cs16Samples);

  struct Case {
    std::string path;
    bool raw;
    std::string says;
  };
  const Case cases[] = {
      {"short.sigmf-data", false,
       "truncated: the metadata describes 1000 samples, the data holds 600"},
      {"odd.sigmf-meta", false, "unknown datatype \"ri16_le\""},
      {"cli", false, "unknown datatype \"cs16\""},
      {"zero.sigmf-meta", false, "sample rate 0 Hz outside 100000 Hz .. 100000000 Hz"},
      {"huge.sigmf-data", false, "sample rate 2400000000 Hz outside"},
      {"lone.sigmf-meta", false, "lone.sigmf-data: missing (No such file or directory)"},
      {"dir.sigmf-meta", false, "dir.sigmf-data: a directory, not a recording"},
      {"fifo.iq", true, "fifo.iq: a FIFO or device, whose samples never end"},
      {"json.sigmf-meta", false, "not SigMF metadata"},
      {"empty.iq", true, "no whole sample"},
      {"plain.iq", false, "a raw IQ recording needs its sample format and rate"},
      {"nothing.iq", true, "nothing.iq: missing"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    RecordingRequest request{.path = dir.path() / c.path};
    if (c.raw) {
      request.format = SampleFormat::Cs16;
      request.sampleRate = 3e6;
    }
    std::string error;
    EXPECT_EQ(RecordingSource::Open(request, error), nullptr);
    EXPECT_NE(error.find(c.says), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos);
  }
  // The live station may replay a FIFO: it ends when its writer goes.
  const RecordingRequest live{dir.path() / "fifo.iq", SampleFormat::Cu8, 2.4e6, true};
  std::string error;
  EXPECT_NE(RecordingSource::Open(live, error), nullptr) << error;
}

TEST(RecordingTest, PartialSampleAtTheEndIsDroppedAndSaid) {
  TempDir dir;
  dir.Write("cut.iq", std::string(4 * 10 + 3, '\x10'));
  std::string error;
  auto source = RecordingSource::Open(
      {.path = dir.path() / "cut.iq", .format = SampleFormat::Cs16, .sampleRate = 1e6}, error);
  ASSERT_NE(source, nullptr) << error;
  EXPECT_EQ(source->info().samples, 10);
  EXPECT_EQ(source->info().trailingBytes, 3u);
  std::vector<Sample> out(64);
  std::size_t count = 0;
  EXPECT_EQ(source->Read(out, count), SampleRead::Data);
  EXPECT_EQ(count, 10u);
  EXPECT_FLOAT_EQ(out[9].imag(), 0x1010 / 32768.0f);
  EXPECT_EQ(source->Read(out, count), SampleRead::End);
  EXPECT_EQ(count, 0u);
}

TEST(RecordingTest, SigmfWrittenIsReadBackWithItsMetadata) {
  TempDir dir;
  // A tone at a quarter of the rate, amplitude 0.9: every quantization step is exercised.
  std::vector<Sample> tone(5000);
  for (std::size_t i = 0; i < tone.size(); ++i) {
    tone[i] = std::polar(0.9f, static_cast<float>(i) * std::numbers::pi_v<float> / 7.0f);
  }
  struct Case {
    SampleFormat format;
    float step;  // one code of the format, full scale 1
  };
  for (const Case c : {Case{SampleFormat::Cs16, 1 / 32768.0f}, Case{SampleFormat::Cu8, 1 / 127.5f},
                       Case{SampleFormat::Cs8, 1 / 128.0f}, Case{SampleFormat::Cf32, 0}}) {
    SCOPED_TRACE(SigmfDatatype(c.format));
    const auto base = dir.path() / std::string(SigmfDatatype(c.format));
    SigmfWriter writer;
    SigmfDescription description{c.format,       3e6,      1698e6, {1765380240, 123},
                                 "rtl_tcp test", "NOAA 19"};
    std::string error;
    ASSERT_TRUE(writer.Open(base, description, error)) << error;
    ASSERT_TRUE(writer.Write(std::span(tone).first(1234)));
    ASSERT_TRUE(writer.Write(std::span(tone).subspan(1234)));
    EXPECT_FALSE(std::filesystem::exists(base.string() + ".sigmf-data"));
    ASSERT_TRUE(writer.Finish(error)) << error;
    EXPECT_FALSE(std::filesystem::exists(base.string() + ".sigmf-data.part"));

    const std::string meta = TempDir::ReadFile(base.string() + ".sigmf-meta");
    EXPECT_NE(meta.find("\"core:datetime\": \"2025-12-10T15:24:00.123Z\""), std::string::npos);
    EXPECT_NE(meta.find("\"core:hw\": \"rtl_tcp test\""), std::string::npos);

    auto source = RecordingSource::Open({.path = base.string() + ".sigmf-meta"}, error);
    ASSERT_NE(source, nullptr) << error;
    EXPECT_EQ(source->info().format, c.format);
    EXPECT_EQ(source->sampleRate(), 3e6);
    EXPECT_EQ(source->info().frequencyHz, 1698e6);
    EXPECT_EQ(source->info().samples, 5000);
    std::vector<Sample> back(8000);
    std::size_t count = 0;
    ASSERT_EQ(source->Read(back, count), SampleRead::Data);
    ASSERT_EQ(count, tone.size());
    for (std::size_t i = 0; i < count; ++i) {
      ASSERT_NEAR(back[i].real(), tone[i].real(), c.step / 2 + 1e-6f) << i;
      ASSERT_NEAR(back[i].imag(), tone[i].imag(), c.step / 2 + 1e-6f) << i;
    }
  }
  // An abandoned recording leaves nothing behind.
  SigmfWriter writer;
  std::string error;
  ASSERT_TRUE(writer.Open(dir.path() / "gone", {}, error));
  writer.Write(tone);
  writer.Abandon();
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "gone.sigmf-data.part"));
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "gone.sigmf-data"));
}

TEST(RecordingTest, PacedReplayHandsOverNoSampleBeforeItsTime) {
  TempDir dir;
  constexpr double kRate = 250e3;  // 250 samples a millisecond
  dir.Write("pass.iq", std::string(2 * 100000, '\x80'));
  std::string error;
  auto source = RecordingSource::Open(
      {.path = dir.path() / "pass.iq", .format = SampleFormat::Cu8, .sampleRate = kRate}, error);
  ASSERT_NE(source, nullptr) << error;
  ManualClock clock;
  source->PaceOn(clock);
  std::vector<Sample> out(100000);
  std::size_t count = 0;
  // The first read waits (on the clock) for the first sample's time.
  ASSERT_EQ(source->Read(out, count), SampleRead::Data);
  const std::int64_t waitedMs = clock.MonotonicMs();
  EXPECT_EQ(std::int64_t(count), waitedMs * 250);
  clock.Advance(40);
  ASSERT_EQ(source->Read(out, count), SampleRead::Data);
  EXPECT_EQ(source->position(), (waitedMs + 40) * 250);
  clock.Advance(1000);
  ASSERT_EQ(source->Read(out, count), SampleRead::Data);
  EXPECT_EQ(source->position(), 100000);
  EXPECT_EQ(source->Read(out, count), SampleRead::End);
}

}  // namespace
}  // namespace halvik
