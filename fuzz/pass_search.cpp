// SGP4 and the pass search on element sets that parse. Input: four bytes of station latitude,
// longitude, minimum elevation and start offset, then line 1 and line 2 (69 characters each,
// LF between); the check digits are set here, so the parser's checksum lets the fields through
// to the propagator.
#include <cmath>
#include <string>

#include "FuzzSupport.h"
#include "orbit/ElementSet.h"
#include "orbit/PassPrediction.h"
#include "orbit/StationGeometry.h"
#include "platform/Text.h"

namespace halvik {
namespace {

constexpr std::size_t kSettingBytes = 4;
constexpr std::size_t kLineLength = 69;

void SetCheckDigit(std::string& line) {
  if (line.size() != kLineLength) return;
  int sum = 0;
  for (std::size_t i = 0; i + 1 < kLineLength; ++i) {
    if (line[i] >= '0' && line[i] <= '9') sum += line[i] - '0';
    if (line[i] == '-') sum += 1;
  }
  line[kLineLength - 1] = static_cast<char>('0' + sum % 10);
}

}  // namespace
}  // namespace halvik

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace halvik;
  if (size < kSettingBytes) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data + kSettingBytes),
                              size - kSettingBytes);
  const auto lines = fuzz::Split(text, '\n', 2);
  std::string line1(lines[0]);
  std::string line2(lines[1]);
  SetCheckDigit(line1);
  SetCheckDigit(line2);
  SatelliteRecord slot;
  if (ParseElementSet("FUZZ", line1, line2, slot) != ElementSetResult::Ok) return 0;
  const ElementSet elements = slot.Elements();

  StationConfig station;
  const double latitude = data[0] * (180.0 / 255) - 90;
  const double longitude = data[1] * (360.0 / 255) - 180;
  SetStation(station, Format("%.4f", latitude), Format("%.4f", longitude), "100");
  station.minimumElevation = data[2] * (0.5 / 255);  // up to about 29 degrees
  // Up to ten days after the epoch, in hours.
  const double startTsince = data[3] * 60.0;

  const PassTimes pass = FindNextPass(elements, station, startTsince);
  if (pass.found && pass.losTime > 0) {
    fuzz::Require(pass.losTime >= pass.aosTime, "a pass ends before it begins");
  }
  fuzz::Require(pass.propagations < 200000, "a pass search ran past its bound");
  return 0;
}
