#pragma once

#include <complex>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace halvik {

// One complex baseband sample, full scale about 1.0 whatever the device's integer width.
using Sample = std::complex<float>;

// How a recording or a device lays out its interleaved I/Q pairs.
enum class SampleFormat {
  Cf32,  // 32-bit float I, Q (SigMF cf32_le)
  Cs16,  // signed 16-bit I, Q (SigMF ci16_le)
  Cs8,   // signed 8-bit I, Q (SigMF ci8)
  Cu8,   // unsigned 8-bit I, Q, offset 127.5 (SigMF cu8; rtl_tcp's wire format)
};

// The format a name stands for: the command line's "cf32", "cs16", "cs8", "cu8", or SigMF's
// "cf32_le", "ci16_le", "ci8", "cu8". Nothing for any other name.
std::optional<SampleFormat> ParseSampleFormat(std::string_view name);
// Bytes one complex sample takes.
std::size_t BytesPerSample(SampleFormat format);
// The SigMF datatype that names a format.
std::string_view SigmfDatatype(SampleFormat format);
// Converts whole samples: out.size() samples from the first out.size() * BytesPerSample bytes.
void ConvertSamples(SampleFormat format, std::span<const std::uint8_t> bytes,
                    std::span<Sample> out);
// The inverse: samples to `bytes` (resized to hold them), saturating at full scale.
void ToFormat(SampleFormat format, std::span<const Sample> samples,
              std::vector<std::uint8_t>& bytes);

}  // namespace halvik
