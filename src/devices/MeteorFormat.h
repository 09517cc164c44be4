#pragma once

#include <array>
#include <cstdint>

#include "devices/Downlink.h"

namespace halvik {

// Where Meteor-M's HRPT puts things, after the public descriptions of the downlink. Byte
// offsets count from 0 at the first byte of the CADU's attached sync marker. The operator's
// description of the Meteor-M N2 L-band stream gives the 1024-byte frame, the marker, MSB first
// and the 665.4 kbit/s Manchester code; a description of the older 256-byte Meteor frame puts
// the MSU-MR sync below at bytes 22-29 of a frame, behind the same 22-byte head. The positions
// marked "unconfirmed" were found in no public description and are kept as the downlink's
// customary layout.

// The VCDU's 24-bit frame counter, most significant byte first: a gap in it is a lost CADU
// (unconfirmed).
inline constexpr int kCaduCounterOffset = 6;

// The MSU-MR imager's bytes in a CADU: four runs that, concatenated CADU after CADU, carry the
// imager's frames.
struct ByteRun {
  int first;
  int end;  // one past the last
};
inline constexpr std::array<ByteRun, 4> kMsuMrRuns{
    {{22, 260}, {278, 516}, {534, 772}, {790, 1024}}};

constexpr int MsuMrBytesPerCadu() {
  int bytes = 0;
  for (const ByteRun& run : kMsuMrRuns) bytes += run.end - run.first;
  return bytes;
}

// One MSU-MR frame: one scan line of all six channels, six a second.
inline constexpr int kMsuMrFrameBytes = 11850;
inline constexpr std::array<std::uint8_t, 8> kMsuMrSync{0x02, 0x18, 0xA7, 0xA3,
                                                        0x92, 0xDD, 0x9A, 0xBF};
// Time of day, one binary byte each: hour, minute, second, then the fraction of the second in
// 1/255 s (unconfirmed, as is binary rather than BCD).
inline constexpr int kMsuMrTimeOffset = 8;
inline constexpr int kMsuMrFractionsPerSecond = 255;
// The imager's serial number, one byte (unconfirmed). No public table ties the serials to
// METEOR-M2 3 and 4, so the station reports the serials it sees without judging them.
inline constexpr int kMsuMrSerialOffset = 12;
// The six channels one after the other, each 1572 pixels of 10 bits packed MSB first; a
// channel is a whole number of bytes, so this is also one 10-bit stream from the first pixel
// of channel 1 (offset unconfirmed).
inline constexpr int kMsuMrChannels = 6;
inline constexpr int kMsuMrPixels = 1572;
inline constexpr int kMsuMrChannelBytes = kMsuMrPixels * 10 / 8;
inline constexpr int kMsuMrImageOffset = 50;
// Unlike the AVHRR's, the thermal channels' counts rise with the scene's temperature (public
// processing of the same imager's LRPT data negates its infrared pictures to show cold cloud
// white), so their pictures are inverted to look like the HRPT families' thermal channels.
inline constexpr bool kMsuMrThermalCountsRiseWithTemperature = true;

static_assert(kMsuMrPixels * 10 % 8 == 0);
// A CADU carries less than one MSU-MR frame: at most one line ends in each.
static_assert(MsuMrBytesPerCadu() < kMsuMrFrameBytes);
static_assert(kMsuMrImageOffset + kMsuMrChannels * kMsuMrChannelBytes <= kMsuMrFrameBytes);
static_assert(kMsuMrChannels == kMeteorCadu.channels && kMsuMrPixels == kMeteorCadu.pixels);

}  // namespace halvik
