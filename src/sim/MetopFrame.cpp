#include "sim/MetopFrame.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "sim/EarthScene.h"
#include "sim/HrptFrame.h"
#include "sim/MeteorFrame.h"
#include "sim/Sky.h"

extern "C" {
#include <fec.h>
}

namespace halvik::sim {
namespace {

constexpr int kLinesPerSecond = kMetopCadu.framesPerSecond;
constexpr auto kBitRate = static_cast<std::int64_t>(FamilyBitRate(SatelliteFamily::Metop));
static_assert(kBitRate == FamilyBitRate(SatelliteFamily::Metop), "a whole number of bits");

// CADUs per AVHRR VCDU as the exact fraction kSpreadNum / kSpreadDen: CADUs a second over the
// AVHRR's packet bytes a second in zones of kPacketZoneBytes.
constexpr std::int64_t kSpreadNumFull = kBitRate * kPacketZoneBytes;
constexpr std::int64_t kSpreadDenFull =
    std::int64_t{kCaduBytes} * 8 * kLinesPerSecond * kAvhrrPacketBytes;
constexpr std::int64_t kSpreadNum = kSpreadNumFull / std::gcd(kSpreadNumFull, kSpreadDenFull);
constexpr std::int64_t kSpreadDen = kSpreadDenFull / std::gcd(kSpreadNumFull, kSpreadDenFull);
// The stream has room: at most one AVHRR VCDU per CADU.
static_assert(kSpreadNum > kSpreadDen);
// CADU numbers times kSpreadDen, and VCDU numbers times kSpreadNum, stay within 63 bits until
// about 2100.
static_assert(kSpreadNum < (std::int64_t{1} << 25) && kSpreadDen < (std::int64_t{1} << 23));

constexpr std::uint8_t kZoneFill = 0x55;

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0);
}

void PutWord(std::span<std::uint8_t> packet, int word, std::uint16_t value) {
  const int bit = word * 10;
  std::uint8_t* at = packet.data() + kAvhrrWordsOffset + bit / 8;
  const int shift = 6 - bit % 8;  // words start on even bits: two bytes hold one
  const unsigned mask = 0x3FFu << shift;
  const unsigned pair = ((unsigned{at[0]} << 8 | at[1]) & ~mask) | ((value & 0x3FFu) << shift);
  at[0] = static_cast<std::uint8_t>(pair >> 8);
  at[1] = static_cast<std::uint8_t>(pair & 0xFF);
}

}  // namespace

std::optional<std::int64_t> AvhrrVcduOf(std::int64_t number) {
  // VCDU k goes in CADU floor(k num / den): the smallest k that could land in `number`.
  const std::int64_t k = -FloorDiv(-number * kSpreadDen, kSpreadNum);
  if (FloorDiv(k * kSpreadNum, kSpreadDen) != number) return std::nullopt;
  return k;
}

void SynthesizeAvhrrPacket(std::int64_t line, double alongTrack, std::span<std::uint8_t> out,
                           EarthScene* earth) {
  std::span<std::uint8_t> packet = out.first(kAvhrrPacketBytes);
  std::fill(packet.begin(), packet.end(), std::uint8_t{0});
  const unsigned apid = kAvhrr3BApid;
  const auto sequence = static_cast<unsigned>(line & 0x3FFF);
  constexpr unsigned kLength = kAvhrrPacketBytes - kPacketHeaderBytes - 1;
  packet[0] = static_cast<std::uint8_t>(0x08 | (apid >> 8));  // secondary header present
  packet[1] = static_cast<std::uint8_t>(apid & 0xFF);
  packet[2] = static_cast<std::uint8_t>(0xC0 | (sequence >> 8));  // a packet on its own
  packet[3] = static_cast<std::uint8_t>(sequence & 0xFF);
  packet[4] = static_cast<std::uint8_t>(kLength >> 8);
  packet[5] = static_cast<std::uint8_t>(kLength & 0xFF);
  const std::int64_t ms = FloorDiv(line * 1000, kLinesPerSecond) - kUnixMsAt2000;
  const std::int64_t days = FloorDiv(ms, 86400000);
  const std::int64_t msOfDay = ms - days * 86400000;
  packet[kAvhrrDayOffset] = static_cast<std::uint8_t>(days >> 8);
  packet[kAvhrrDayOffset + 1] = static_cast<std::uint8_t>(days & 0xFF);
  for (int k = 0; k < 4; ++k)
    packet[static_cast<std::size_t>(kAvhrrMsOffset + k)] =
        static_cast<std::uint8_t>(msOfDay >> (24 - 8 * k));

  std::vector<std::uint16_t> visible(kAvhrrPixels);
  std::vector<std::uint16_t> thermal(kAvhrrPixels);
  ImagerLine(earth, static_cast<double>(line) * 1000.0 / kLinesPerSecond, alongTrack, visible,
             thermal);
  for (int pixel = 0; pixel < kAvhrrPixels; ++pixel) {
    for (int channel = 0; channel < kAvhrrChannels; ++channel) {
      const bool isThermal = (kMetopCadu.thermalChannels >> channel) & 1u;
      const auto p = static_cast<std::size_t>(pixel);
      PutWord(packet, kAvhrrEarthFirstWord + pixel * kAvhrrChannels + channel,
              isThermal ? thermal[p] : visible[p]);
    }
  }
}

MetopStream::MetopStream(std::string_view satelliteName)
    : spacecraftId_(0), packet_(kAvhrrPacketBytes), bytes_(kCaduBytes) {
  if (const auto downlink = DownlinkFor(satelliteName))
    spacecraftId_ = MetopSpacecraftId(downlink->catalogueNumber).value_or(0);
}

const std::vector<std::uint8_t>& MetopStream::Packet(std::int64_t line, double alongTrack) {
  if (line != line_) {
    SynthesizeAvhrrPacket(line, alongTrack, packet_, earth_);
    line_ = line;
  }
  return packet_;
}

void MetopStream::Cadu(std::int64_t number, double alongTrack, std::span<std::uint8_t> out) {
  std::span<std::uint8_t> cadu = out.first(kCaduBytes);
  std::fill(cadu.begin(), cadu.end(), kZoneFill);
  std::copy(kCaduMarker.begin(), kCaduMarker.end(), cadu.begin());
  const std::optional<std::int64_t> vcdu = AvhrrVcduOf(number);
  const int channel = vcdu ? kAvhrrVirtualChannel : kFillVirtualChannel;
  const unsigned id = (unsigned{kVcduVersion} << 14) |
                      ((static_cast<unsigned>(spacecraftId_) & 0xFF) << 6) |
                      static_cast<unsigned>(channel);
  cadu[kVcduIdOffset] = static_cast<std::uint8_t>(id >> 8);
  cadu[kVcduIdOffset + 1] = static_cast<std::uint8_t>(id & 0xFF);
  const auto counter = static_cast<std::uint32_t>(vcdu ? *vcdu : number) & 0xFFFFFFu;
  for (int k = 0; k < 3; ++k)
    cadu[static_cast<std::size_t>(kVcduCounterOffset + k)] =
        static_cast<std::uint8_t>(counter >> (16 - 8 * k));
  cadu[kVcduSignallingOffset] = 0;

  int pointer = kIdleZone;
  if (vcdu) {
    // The channel's bytes [k z, k z + z) of the packets laid back to back.
    const std::int64_t first = *vcdu * kPacketZoneBytes;
    const std::int64_t nextStart = -FloorDiv(-first, kAvhrrPacketBytes) * kAvhrrPacketBytes;
    pointer = nextStart - first < kPacketZoneBytes ? static_cast<int>(nextStart - first)
                                                   : kNoPacketStarts;
    for (int at = 0; at < kPacketZoneBytes;) {
      const std::int64_t byte = first + at;
      const std::int64_t line = FloorDiv(byte, kAvhrrPacketBytes);
      const auto offset = static_cast<int>(byte - line * kAvhrrPacketBytes);
      const int count = std::min(kAvhrrPacketBytes - offset, kPacketZoneBytes - at);
      const std::vector<std::uint8_t>& packet = Packet(line, alongTrack);
      std::copy_n(packet.begin() + offset, count, cadu.begin() + kPacketZoneOffset + at);
      at += count;
    }
  }
  cadu[kMpduHeaderOffset] = static_cast<std::uint8_t>(pointer >> 8);
  cadu[kMpduHeaderOffset + 1] = static_cast<std::uint8_t>(pointer & 0xFF);

  // Four codewords interleaved byte by byte: codeword c holds bytes c, c + 4, ... of the part
  // after the marker, its check bytes last.
  std::array<std::uint8_t, kRsDataBytes> data{};
  std::array<std::uint8_t, kRsCodewordBytes - kRsDataBytes> parity{};
  for (int c = 0; c < kRsInterleave; ++c) {
    const auto first = static_cast<std::size_t>(kVcduOffset + c);
    for (std::size_t k = 0; k < data.size(); ++k) data[k] = cadu[first + k * kRsInterleave];
    encode_rs_ccsds(data.data(), parity.data(), 0);
    for (std::size_t k = 0; k < parity.size(); ++k)
      cadu[first + (data.size() + k) * kRsInterleave] = parity[k];
  }
}

void MetopStream::CaduWords(std::int64_t number, double alongTrack, std::span<std::uint16_t> out) {
  Cadu(number, alongTrack, bytes_);
  std::copy(bytes_.begin(), bytes_.end(), out.begin());
}

std::unique_ptr<CaduStream> MakeCaduStream(std::string_view satelliteName) {
  if (FactsOf(DownlinkPlanFor(satelliteName).family).imager == Imager::Avhrr3Packets)
    return std::make_unique<MetopStream>(satelliteName);
  return std::make_unique<MeteorStream>(satelliteName);
}

std::int64_t CaduNumberAt(SatelliteFamily family, double utcMs) {
  if (FactsOf(family).imager == Imager::Avhrr3Packets)
    return static_cast<std::int64_t>(std::ceil(utcMs / kMetopCaduMs));
  return CaduNumberAt(utcMs);
}

}  // namespace halvik::sim
