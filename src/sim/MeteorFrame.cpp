#include "sim/MeteorFrame.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numeric>

#include "devices/MeteorFormat.h"
#include "sim/EarthScene.h"
#include "sim/HrptFrame.h"

namespace halvik::sim {
namespace {

constexpr int kLinesPerSecond = kMeteorCadu.framesPerSecond;
constexpr auto kBitRate = static_cast<std::int64_t>(FamilyBitRate(SatelliteFamily::Meteor));
static_assert(kBitRate == FamilyBitRate(SatelliteFamily::Meteor), "a whole number of bits");

// Imager bytes per scan-line period, as the exact fraction kLineBytesNum / kLineBytesDen, so
// that a frame's place in the stream is found in whole numbers for any date.
constexpr std::int64_t kLineBytesNumFull = MsuMrBytesPerCadu() * kBitRate;
constexpr std::int64_t kLineBytesDenFull = std::int64_t{kCaduBytes} * 8 * kLinesPerSecond;
constexpr std::int64_t kLineBytesGcd = std::gcd(kLineBytesNumFull, kLineBytesDenFull);
constexpr std::int64_t kLineBytesNum = kLineBytesNumFull / kLineBytesGcd;
constexpr std::int64_t kLineBytesDen = kLineBytesDenFull / kLineBytesGcd;
// Scan lines and imager bytes since 1970 stay far below 2^40; their products with the fraction's
// terms must stay within 63 bits.
static_assert(kLineBytesNum < (std::int64_t{1} << 23) && kLineBytesDen < (std::int64_t{1} << 23));
// Each frame ends before the next one starts.
static_assert(kLineBytesNum >= std::int64_t{kMsuMrFrameBytes} * kLineBytesDen);

// The frame's header fields lie before the image and do not overlap.
static_assert(kMsuMrSync.size() <= kMsuMrTimeOffset && kMsuMrTimeOffset + 4 <= kMsuMrSerialOffset &&
              kMsuMrSerialOffset < kMsuMrImageOffset);

// The VCDU primary header follows the marker: version 01, the 8-bit spacecraft id and the 6-bit
// virtual channel in the two bytes before the counter, then the signalling byte after it.
constexpr int kVcduIdOffset = kCaduCounterOffset - 2;
constexpr int kSignallingOffset = kCaduCounterOffset + 3;
static_assert(kVcduIdOffset == static_cast<int>(kCaduMarker.size()));
static_assert(kSignallingOffset < kMsuMrRuns.front().first);
constexpr int kVirtualChannel = 5;
// Bytes of the CADU that carry neither header nor imager data.
constexpr std::uint8_t kCaduFill = 0x55;
// The imager's idle bytes between frames.
constexpr std::uint8_t kImagerFill = 0x00;

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0);
}

// The first imager byte of line `line`'s frame: ceil(line * num / den).
std::int64_t FrameStartByte(std::int64_t line) {
  return -FloorDiv(-line * kLineBytesNum, kLineBytesDen);
}

}  // namespace

std::int64_t CaduNumberAt(double utcMs) {
  return static_cast<std::int64_t>(std::ceil(utcMs / kCaduMs));
}

double CaduStartMs(std::int64_t number) {
  return static_cast<double>(number) * kCaduMs;
}

MsuMrPlace MsuMrPlaceOf(std::int64_t imagerByte) {
  const std::int64_t line = FloorDiv(imagerByte * kLineBytesDen, kLineBytesNum);
  return {line, static_cast<int>(imagerByte - FrameStartByte(line))};
}

void SynthesizeMsuMrFrame(std::int64_t line, int serial, double alongTrack,
                          std::span<std::uint8_t> out, EarthScene* earth) {
  std::span<std::uint8_t> frame = out.first(kMsuMrFrameBytes);
  std::fill(frame.begin(), frame.end(), std::uint8_t{0});
  std::copy(kMsuMrSync.begin(), kMsuMrSync.end(), frame.begin());

  const std::int64_t second = FloorDiv(line, kLinesPerSecond);
  const auto secondOfDay = static_cast<int>(second - FloorDiv(second, 86400) * 86400);
  const auto part = static_cast<int>(line - second * kLinesPerSecond);
  frame[kMsuMrTimeOffset] = static_cast<std::uint8_t>(secondOfDay / 3600);
  frame[kMsuMrTimeOffset + 1] = static_cast<std::uint8_t>(secondOfDay / 60 % 60);
  frame[kMsuMrTimeOffset + 2] = static_cast<std::uint8_t>(secondOfDay % 60);
  frame[kMsuMrTimeOffset + 3] = static_cast<std::uint8_t>(part * 255 / kLinesPerSecond);
  frame[kMsuMrSerialOffset] = static_cast<std::uint8_t>(serial);

  std::vector<std::uint16_t> visible(kMsuMrPixels);
  std::vector<std::uint16_t> thermal(kMsuMrPixels);
  ImagerLine(earth, static_cast<double>(line) * 1000.0 / kLinesPerSecond, alongTrack, visible,
             thermal);
  // The scene's thermal counts rise as it cools, the AVHRR's way; MSU-MR's rise with the
  // temperature, so cold cloud tops are dark in its counts.
  for (std::uint16_t& count : thermal) count = static_cast<std::uint16_t>(1023 - count);
  for (int channel = 0; channel < kMsuMrChannels; ++channel) {
    const bool isThermal = (kMeteorCadu.thermalChannels >> channel) & 1u;
    const std::vector<std::uint16_t>& samples = isThermal ? thermal : visible;
    std::uint8_t* to = frame.data() + kMsuMrImageOffset + channel * kMsuMrChannelBytes;
    // Four 10-bit samples fill five bytes exactly.
    for (int pixel = 0; pixel < kMsuMrPixels; pixel += 4, to += 5) {
      std::uint64_t group = 0;
      for (int k = 0; k < 4; ++k) group = (group << 10) | (samples[pixel + k] & 0x3FFu);
      for (int k = 0; k < 5; ++k) to[k] = static_cast<std::uint8_t>(group >> (32 - 8 * k));
    }
  }
}
static_assert(kMsuMrPixels % 4 == 0);

MeteorStream::MeteorStream(std::string_view satelliteName)
    : spacecraftId_(SpacecraftAddress(satelliteName)),
      serial_(SpacecraftAddress(satelliteName)),
      frame_(kMsuMrFrameBytes),
      bytes_(kCaduBytes) {}

const std::vector<std::uint8_t>& MeteorStream::Line(std::int64_t line, double alongTrack) {
  if (line != line_) {
    SynthesizeMsuMrFrame(line, serial_, alongTrack, frame_, earth_);
    line_ = line;
  }
  return frame_;
}

void MeteorStream::Cadu(std::int64_t number, double alongTrack, std::span<std::uint8_t> out) {
  std::span<std::uint8_t> cadu = out.first(kCaduBytes);
  std::fill(cadu.begin(), cadu.end(), kCaduFill);
  std::copy(kCaduMarker.begin(), kCaduMarker.end(), cadu.begin());
  const unsigned id =
      (1u << 14) | ((static_cast<unsigned>(spacecraftId_) & 0xFF) << 6) | (kVirtualChannel & 0x3F);
  cadu[kVcduIdOffset] = static_cast<std::uint8_t>(id >> 8);
  cadu[kVcduIdOffset + 1] = static_cast<std::uint8_t>(id & 0xFF);
  const auto counter = static_cast<std::uint32_t>(number) & 0xFFFFFFu;
  for (int k = 0; k < 3; ++k)
    cadu[kCaduCounterOffset + k] = static_cast<std::uint8_t>(counter >> (16 - 8 * k));
  cadu[kSignallingOffset] = 0;

  std::int64_t imagerByte = number * MsuMrBytesPerCadu();
  for (const ByteRun& run : kMsuMrRuns) {
    for (int at = run.first; at < run.end;) {
      const MsuMrPlace place = MsuMrPlaceOf(imagerByte);
      if (place.byte >= kMsuMrFrameBytes) {
        // Idle up to the next frame's start or the run's end.
        const auto idle = static_cast<int>(
            std::min<std::int64_t>(FrameStartByte(place.line + 1) - imagerByte, run.end - at));
        std::fill_n(cadu.begin() + at, idle, kImagerFill);
        at += idle;
        imagerByte += idle;
        continue;
      }
      const int count = std::min(kMsuMrFrameBytes - place.byte, run.end - at);
      const std::vector<std::uint8_t>& frame = Line(place.line, alongTrack);
      std::copy_n(frame.begin() + place.byte, count, cadu.begin() + at);
      at += count;
      imagerByte += count;
    }
  }
}

void MeteorStream::CaduWords(std::int64_t number, double alongTrack, std::span<std::uint16_t> out) {
  Cadu(number, alongTrack, bytes_);
  std::copy(bytes_.begin(), bytes_.end(), out.begin());
}

}  // namespace halvik::sim
