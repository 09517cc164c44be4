// The element-set parser and the lookup in elements.dat. Input: a name line, line 1 and line 2
// separated by LF, parsed directly; then the whole input as elements.dat, looked up by its
// first line.
#include <cmath>
#include <string>

#include "FuzzSupport.h"
#include "orbit/ElementSet.h"

namespace halvik {
namespace {

void CheckLoaded(const SatelliteRecord& slot, ElementSetResult code) {
  if (code != ElementSetResult::Ok) {
    fuzz::Require(!slot.IsActive(), "a failed parse left the slot active");
    return;
  }
  fuzz::Require(slot.IsActive(), "a parsed slot is not active");
  const ElementSet e = slot.Elements();
  // Epochs are years 1950 to 2049 in minutes since 1970.
  fuzz::Require(e.epochMinutes >= -10519200.0 && e.epochMinutes <= 42079680.0,
                "an epoch outside 1950 to 2049 passed");
  fuzz::Require(
      std::isfinite(e.meanAnomaly + e.ascendingNode + e.argumentOfPerigee + e.eccentricity +
                    e.inclination + e.meanMotion + e.meanMotionDot + e.meanMotionDdot + e.bstar),
      "an element that is not finite passed");
  const std::string name = slot.name.Get();
  fuzz::Require(!name.empty(), "a loaded slot has no name");
}

}  // namespace
}  // namespace halvik

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace halvik;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const auto parts = fuzz::Split(input, '\n', 3);

  SatelliteRecord slot;
  const std::string name(parts[0].substr(0, kNameCapacity - 1));
  // The parser is only ever given names without NUL (the lookup sees to that).
  if (!name.empty() && name.find('\0') == std::string::npos) {
    CheckLoaded(slot, ParseElementSet(name, parts[1], parts[2], slot));
  }

  const std::filesystem::path file = fuzz::ScratchDir() / "elements.dat";
  fuzz::WriteBytes(file, input);
  SatelliteRecord found;
  CheckLoaded(found, FindElementSet(file, parts[0], found));
  return 0;
}
