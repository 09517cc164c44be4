#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "devices/MetopFormat.h"
#include "sim/CaduStream.h"

namespace halvik::sim {

inline constexpr double kMetopCaduMs =
    kCaduBytes * 8 * 1000.0 / FamilyBitRate(SatelliteFamily::Metop);

// Where the AVHRR/3 channel's VCDUs fall in the stream: they carry the scan lines' packets back
// to back, six a second, and are spread evenly among fill VCDUs. CADU `number` carries the
// channel's VCDU `vcdu`, or fill when nothing.
std::optional<std::int64_t> AvhrrVcduOf(std::int64_t number);

// The AVHRR/3 packet of scan line `line` (lines since 1970, six a second; kAvhrrPacketBytes into
// `out`): APID 104 (channel 3B, the thermal one the scene has), the line's time, and the five
// channels of the synthetic scene at `alongTrack`, thermal counts falling with temperature; with
// `earth`, of the Earth seen at the line's time.
void SynthesizeAvhrrPacket(std::int64_t line, double alongTrack, std::span<std::uint8_t> out,
                           EarthScene* earth = nullptr);

// One Metop's CADUs as a .cadu file holds them: marker, VCDU, Reed-Solomon check bytes in place,
// not randomized. Holds the line it made last, so the CADUs that carry one line do not each
// make it again.
class MetopStream final : public CaduStream {
 public:
  // The VCDU spacecraft id is the one of the satellite's catalogue number (0 when unknown).
  explicit MetopStream(std::string_view satelliteName);

  void Cadu(std::int64_t number, double alongTrack, std::span<std::uint8_t> out);
  void CaduWords(std::int64_t number, double alongTrack, std::span<std::uint16_t> out) override;

  int spacecraftId() const { return spacecraftId_; }

 private:
  const std::vector<std::uint8_t>& Packet(std::int64_t line, double alongTrack);

  int spacecraftId_;
  std::int64_t line_ = -1;
  std::vector<std::uint8_t> packet_;
  std::vector<std::uint8_t> bytes_;
};

}  // namespace halvik::sim
