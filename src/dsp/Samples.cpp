#include "dsp/Samples.h"

#include <volk/volk.h>

#include <array>
#include <bit>
#include <cstring>

namespace halvik {

namespace {

static_assert(std::endian::native == std::endian::little,
              "recordings and the rtl_tcp wire are little-endian; so must the host be");
static_assert(sizeof(Sample) == 2 * sizeof(float));

// Full scale of each integer width: 1.0 at the largest magnitude the device gives.
constexpr float kCs16Scale = 32768.0f;
constexpr float kCs8Scale = 128.0f;
// An unsigned 8-bit converter's zero lies between two codes: 127.5, and 0 and 255 are -1 and +1.
constexpr float kCu8Offset = 127.5f;

// One multiply-add per byte is all cu8 needs, and a table of the 256 values does it in one
// lookup: faster here than VOLK's signed conversion, which would need a sign flip and an offset
// pass of its own (bench_samples measures both).
constexpr std::array<float, 256> MakeCu8Table() {
  std::array<float, 256> table{};
  for (int i = 0; i < 256; ++i) table[i] = (static_cast<float>(i) - kCu8Offset) / kCu8Offset;
  return table;
}
constexpr std::array<float, 256> kCu8Table = MakeCu8Table();

}  // namespace

std::optional<SampleFormat> ParseSampleFormat(std::string_view name) {
  if (name == "cf32" || name == "cf32_le") return SampleFormat::Cf32;
  if (name == "cs16" || name == "ci16_le") return SampleFormat::Cs16;
  if (name == "cs8" || name == "ci8") return SampleFormat::Cs8;
  if (name == "cu8") return SampleFormat::Cu8;
  return std::nullopt;
}

std::size_t BytesPerSample(SampleFormat format) {
  switch (format) {
    case SampleFormat::Cf32:
      return 8;
    case SampleFormat::Cs16:
      return 4;
    case SampleFormat::Cs8:
    case SampleFormat::Cu8:
      return 2;
  }
  return 0;
}

std::string_view SigmfDatatype(SampleFormat format) {
  switch (format) {
    case SampleFormat::Cf32:
      return "cf32_le";
    case SampleFormat::Cs16:
      return "ci16_le";
    case SampleFormat::Cs8:
      return "ci8";
    case SampleFormat::Cu8:
      return "cu8";
  }
  return {};
}

void ConvertSamples(SampleFormat format, std::span<const std::uint8_t> bytes,
                    std::span<Sample> out) {
  const std::size_t values = out.size() * 2;
  float* floats = reinterpret_cast<float*>(out.data());
  switch (format) {
    case SampleFormat::Cf32:
      std::memcpy(floats, bytes.data(), values * sizeof(float));
      return;
    case SampleFormat::Cs16:
      if (reinterpret_cast<std::uintptr_t>(bytes.data()) % alignof(std::int16_t) == 0) {
        volk_16i_s32f_convert_32f(floats, reinterpret_cast<const std::int16_t*>(bytes.data()),
                                  kCs16Scale, static_cast<unsigned>(values));
      } else {
        // A buffer at an odd address (a caller's offset into bytes): value by value.
        for (std::size_t i = 0; i < values; ++i) {
          std::int16_t v;
          std::memcpy(&v, bytes.data() + 2 * i, sizeof v);
          floats[i] = static_cast<float>(v) / kCs16Scale;
        }
      }
      return;
    case SampleFormat::Cs8:
      volk_8i_s32f_convert_32f(floats, reinterpret_cast<const std::int8_t*>(bytes.data()),
                               kCs8Scale, static_cast<unsigned>(values));
      return;
    case SampleFormat::Cu8:
      for (std::size_t i = 0; i < values; ++i) floats[i] = kCu8Table[bytes[i]];
      return;
  }
}

}  // namespace halvik
