#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "devices/Downlink.h"
#include "sim/CaduStream.h"

namespace halvik::sim {

// Meteor-M's HRPT as one endless stream per satellite. CADU number N is the N-th the satellite
// has sent since 1970-01-01 00:00 UTC, its first bit N CADU periods after that instant, so a
// CADU follows from its number alone: a stream taken up anywhere (an acquisition, a client that
// reconnects) carries on as the satellite sends it, counter and imager frames included.
inline constexpr double kCaduMs = kCaduBytes * 8 * 1000.0 / FamilyBitRate(SatelliteFamily::Meteor);

// The number of the first CADU that begins at or after `utcMs` (ms since 1970).
std::int64_t CaduNumberAt(double utcMs);
// When CADU `number` begins, ms since 1970.
double CaduStartMs(std::int64_t number);

// Where one byte of the imager's byte stream (the CADUs' MSU-MR runs concatenated, counted from
// CADU 0) falls. MSU-MR scans six lines a second on the UTC clock; line L's frame begins with
// the first imager byte sent at or after L / 6 s, and the bytes after a frame's end up to the
// next frame are fill, since the runs carry a little more than six frames a second.
struct MsuMrPlace {
  std::int64_t line = 0;  // scan lines since 1970
  int byte = 0;           // in that line's frame; kMsuMrFrameBytes or more: fill after it
};
MsuMrPlace MsuMrPlaceOf(std::int64_t imagerByte);

// The MSU-MR frame of scan line `line` (kMsuMrFrameBytes into `out`): sync, the line's time of
// day, the imager's serial and the six channels of the synthetic scene at `alongTrack` (0..1
// through the pass), each sample the scene's count packed in 10 bits, most significant first;
// the thermal channels' counts rise with the scene's temperature. With `earth`, the line shows
// the Earth seen at the line's time instead.
void SynthesizeMsuMrFrame(std::int64_t line, int serial, double alongTrack,
                          std::span<std::uint8_t> out, EarthScene* earth = nullptr);

// One satellite's CADUs. Holds the scan line it made last, so the twelve or so CADUs that carry
// one line do not each make it again.
class MeteorStream final : public CaduStream {
 public:
  // The spacecraft id in the VCDU header and the imager's serial: the satellite's number
  // ("METEOR-M2 3" gives 3, as SpacecraftAddress reads it).
  explicit MeteorStream(std::string_view satelliteName);

  // CADU `number` into `out` (kCaduBytes): the marker, the VCDU header with the counter, fill,
  // and the imager's bytes; a scan line begun in it shows the scene at `alongTrack`.
  void Cadu(std::int64_t number, double alongTrack, std::span<std::uint8_t> out);
  // The same as the frame layers carry it: one byte in the low 8 bits of each of kCaduBytes
  // words.
  void CaduWords(std::int64_t number, double alongTrack, std::span<std::uint16_t> out) override;

  int spacecraftId() const { return spacecraftId_; }
  int serial() const { return serial_; }

 private:
  const std::vector<std::uint8_t>& Line(std::int64_t line, double alongTrack);

  int spacecraftId_;
  int serial_;
  std::int64_t line_ = -1;
  std::vector<std::uint8_t> frame_;
  std::vector<std::uint8_t> bytes_;
};

}  // namespace halvik::sim
