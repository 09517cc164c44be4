#include "devices/Downlink.h"

#include "platform/Text.h"

namespace halvik {

std::optional<Downlink> DownlinkFor(std::string_view name) {
  for (const Downlink& downlink : kDownlinks)
    if (EqualsIgnoreCase(name, downlink.name)) return downlink;
  return std::nullopt;
}

std::optional<Downlink> DownlinkFor(std::string_view name, int catalogueNumber) {
  if (std::optional<Downlink> byName = DownlinkFor(name)) return byName;
  for (const Downlink& downlink : kDownlinks)
    if (catalogueNumber > 0 && downlink.catalogueNumber == catalogueNumber) return downlink;
  return std::nullopt;
}

SatelliteFamily FamilyForSatellite(std::string_view name) {
  std::optional<Downlink> downlink = DownlinkFor(name);
  return downlink ? downlink->family : SatelliteFamily::Noaa;
}

SatelliteFamily FamilyForFileCode(std::string_view code) {
  for (const FamilyFacts& facts : kFamilies)
    if (*facts.fileCode != '\0' && EqualsIgnoreCase(code, facts.fileCode)) return facts.family;
  return SatelliteFamily::Noaa;
}

}  // namespace halvik
