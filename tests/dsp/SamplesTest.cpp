#include "dsp/Samples.h"

#include <gtest/gtest.h>

#include <vector>

namespace halvik {
namespace {

TEST(SamplesTest, NamesOfTheCommandLineAndOfSigmf) {
  struct Case {
    std::string_view name;
    std::optional<SampleFormat> format;
  };
  const Case cases[] = {{"cf32", SampleFormat::Cf32},
                        {"cf32_le", SampleFormat::Cf32},
                        {"cs16", SampleFormat::Cs16},
                        {"ci16_le", SampleFormat::Cs16},
                        {"cs8", SampleFormat::Cs8},
                        {"ci8", SampleFormat::Cs8},
                        {"cu8", SampleFormat::Cu8},
                        {"ci16_be", std::nullopt},
                        {"cf32_be", std::nullopt},
                        {"CU8", std::nullopt},
                        {"", std::nullopt}};
  for (const Case& c : cases) EXPECT_EQ(ParseSampleFormat(c.name), c.format) << c.name;
  for (SampleFormat f :
       {SampleFormat::Cf32, SampleFormat::Cs16, SampleFormat::Cs8, SampleFormat::Cu8}) {
    EXPECT_EQ(ParseSampleFormat(SigmfDatatype(f)), f);
  }
}

TEST(SamplesTest, EachFormatConvertsToFullScaleOne) {
  struct Case {
    SampleFormat format;
    std::vector<std::uint8_t> bytes;
    std::vector<Sample> expected;
  };
  const Case cases[] = {
      // 1.5f and -0.25f, little-endian IEEE 754.
      {SampleFormat::Cf32, {0x00, 0x00, 0xC0, 0x3F, 0x00, 0x00, 0x80, 0xBE}, {{1.5f, -0.25f}}},
      {SampleFormat::Cs16,
       {0x00, 0x80, 0xFF, 0x7F, 0x00, 0x40, 0x00, 0x00},
       {{-1.0f, 32767 / 32768.0f}, {0.5f, 0.0f}}},
      {SampleFormat::Cs8, {0x80, 0x7F, 0x40, 0xC0}, {{-1.0f, 127 / 128.0f}, {0.5f, -0.5f}}},
      // rtl_tcp's zero lies between 127 and 128.
      {SampleFormat::Cu8, {0, 255, 127, 128}, {{-1.0f, 1.0f}, {-0.5f / 127.5f, 0.5f / 127.5f}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(SigmfDatatype(c.format));
    ASSERT_EQ(c.bytes.size(), c.expected.size() * BytesPerSample(c.format));
    std::vector<Sample> out(c.expected.size());
    ConvertSamples(c.format, c.bytes, out);
    for (std::size_t i = 0; i < out.size(); ++i) {
      EXPECT_FLOAT_EQ(out[i].real(), c.expected[i].real()) << i;
      EXPECT_FLOAT_EQ(out[i].imag(), c.expected[i].imag()) << i;
    }
  }
}

// The vector kernels take blocks and a tail: every byte of a long, odd-length buffer (and one at
// an odd address) must convert as the scalar rule says.
TEST(SamplesTest, LongBuffersConvertEveryValueAlike) {
  constexpr std::size_t kSamples = 1001;
  std::vector<std::uint8_t> bytes(kSamples * 4 + 1);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 37 + 11);
  std::vector<Sample> out(kSamples);
  for (std::size_t offset : {0u, 1u}) {
    const std::span<const std::uint8_t> in = std::span(bytes).subspan(offset);
    ConvertSamples(SampleFormat::Cs16, in, out);
    for (std::size_t i = 0; i < 2 * kSamples; ++i) {
      const auto v = static_cast<std::int16_t>(in[2 * i] | in[2 * i + 1] << 8);
      ASSERT_FLOAT_EQ(reinterpret_cast<const float*>(out.data())[i], v / 32768.0f) << i;
    }
    ConvertSamples(SampleFormat::Cs8, in, out);
    for (std::size_t i = 0; i < 2 * kSamples; ++i) {
      ASSERT_FLOAT_EQ(reinterpret_cast<const float*>(out.data())[i],
                      static_cast<std::int8_t>(in[i]) / 128.0f)
          << i;
    }
    ConvertSamples(SampleFormat::Cu8, in, out);
    for (std::size_t i = 0; i < 2 * kSamples; ++i) {
      ASSERT_FLOAT_EQ(reinterpret_cast<const float*>(out.data())[i], (in[i] - 127.5f) / 127.5f)
          << i;
    }
  }
}

}  // namespace
}  // namespace halvik
