#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "devices/Downlink.h"

namespace halvik {

// Where Metop's AHRPT puts things in a CADU after decoding (derandomized, Reed-Solomon corrected,
// check bytes in place). Byte offsets count from 0 at the first byte of the attached sync marker.
// The CCSDS AOS space data link (132.0-B) and space packet (133.0-B) recommendations give the
// VCDU and packet headers; EUMETSAT's AHRPT technical description gives the CADU of a 4-byte
// marker, a 892-byte data part and 128 check bytes of four interleaved (255,223) codewords.

// The data part: the VCDU primary header, the M_PDU header and the packet zone.
inline constexpr int kVcduOffset = 4;
inline constexpr int kVcduDataBytes = 892;
inline constexpr int kRsCheckOffset = kVcduOffset + kVcduDataBytes;
inline constexpr int kRsInterleave = 4;
inline constexpr int kRsCodewordBytes = 255;
inline constexpr int kRsCheckBytes = 32;
inline constexpr int kRsDataBytes = kRsCodewordBytes - kRsCheckBytes;

// VCDU primary header: 2-bit version (01), 8-bit spacecraft id, 6-bit virtual channel, then the
// virtual channel's 24-bit frame counter, most significant byte first, and a signalling byte.
inline constexpr int kVcduIdOffset = kVcduOffset;
inline constexpr int kVcduCounterOffset = kVcduOffset + 2;
inline constexpr int kVcduSignallingOffset = kVcduOffset + 5;
inline constexpr int kVcduVersion = 1;
// Spacecraft ids in the VCDU header: 11 Metop-B, 12 Metop-A, 13 Metop-C. NOAA's level 1b
// tables number Metop-A 12 and the AHRPT descriptions give Metop-B 11 and Metop-C 13.
// The downlink table knows the satellites by catalogue number, so the ids are tied to those.
struct MetopSpacecraft {
  int catalogueNumber;
  int spacecraftId;
};
inline constexpr std::array<MetopSpacecraft, 3> kMetopSpacecraft{
    {{29499, 12}, {38771, 11}, {43689, 13}}};

// The VCDU spacecraft id of the Metop with this catalogue number; nothing for another.
constexpr std::optional<int> MetopSpacecraftId(int catalogueNumber) {
  for (const MetopSpacecraft& craft : kMetopSpacecraft)
    if (craft.catalogueNumber == catalogueNumber) return craft.spacecraftId;
  return std::nullopt;
}
// The virtual channel that carries the AVHRR/3; 63 is the idle (fill) channel.
inline constexpr int kAvhrrVirtualChannel = 9;
inline constexpr int kFillVirtualChannel = 63;

// M_PDU header: 5 spare bits and the 11-bit pointer to the first packet header in the zone.
inline constexpr int kMpduHeaderOffset = kVcduOffset + 6;
inline constexpr int kPacketZoneOffset = kMpduHeaderOffset + 2;
inline constexpr int kPacketZoneBytes = kRsCheckOffset - kPacketZoneOffset;
inline constexpr int kNoPacketStarts = 0x7FF;  // the zone only continues a packet
inline constexpr int kIdleZone = 0x7FE;        // the zone holds fill only

// CCSDS source packet primary header, six bytes: 3-bit version, type, secondary-header flag and
// 11-bit APID; 2-bit sequence flags and 14-bit count; the data field's length less one.
inline constexpr int kPacketHeaderBytes = 6;
inline constexpr int kIdleApid = 0x7FF;

// The AVHRR/3's packets: one per scan line, 12,966 bytes with the primary header, APID 103
// while channel 3A is on, 104 while 3B is.
inline constexpr int kAvhrr3AApid = 103;
inline constexpr int kAvhrr3BApid = 104;
inline constexpr int kAvhrrPacketBytes = 12966;
// Secondary header after the primary: days since 2000-01-01 (2 bytes), milliseconds of the day
// (4 bytes), microseconds of the millisecond (2 bytes), most significant byte first.
inline constexpr int kAvhrrDayOffset = kPacketHeaderBytes;
inline constexpr int kAvhrrMsOffset = kPacketHeaderBytes + 2;
inline constexpr std::int64_t kUnixMsAt2000 = 946684800000;
// The instrument's 10-bit words, packed MSB first from this byte of the packet, and the first of
// them that is an earth-view sample; the five channels then follow pixel by pixel for 2048
// pixels. No public description at hand confirms these two positions: they are the customary
// reading of the level-0 line (housekeeping, space and black-body views before the earth view).
inline constexpr int kAvhrrWordsOffset = 20;
inline constexpr int kAvhrrEarthFirstWord = 55;
inline constexpr int kAvhrrChannels = 5;
inline constexpr int kAvhrrPixels = 2048;
// As on the NOAA satellites, the thermal channels' counts fall as the scene warms.
inline constexpr bool kAvhrrThermalCountsRiseWithTemperature = false;

static_assert(kRsCheckOffset + kRsInterleave * kRsCheckBytes == kCaduBytes);
static_assert(kRsInterleave * (kRsCodewordBytes - 32) == kVcduDataBytes);
static_assert(kPacketZoneBytes == 884);
static_assert(kAvhrrWordsOffset + (kAvhrrEarthFirstWord + kAvhrrChannels * kAvhrrPixels) * 10 / 8 <=
              kAvhrrPacketBytes);
static_assert(kAvhrrChannels == kMetopCadu.channels && kAvhrrPixels == kMetopCadu.pixels);

}  // namespace halvik
