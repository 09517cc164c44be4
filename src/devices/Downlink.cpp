#include "devices/Downlink.h"

#include <cctype>
#include <string>

#include "platform/Text.h"

namespace halvik {

namespace {

// A name's letters and digits, upper case: "METEOR-M 2-3" and "Meteor-M2 3" read alike.
std::string Folded(std::string_view name) {
  std::string folded;
  for (const char c : name) {
    if (std::isalnum(static_cast<unsigned char>(c)))
      folded.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
  }
  return folded;
}

}  // namespace

std::optional<Downlink> DownlinkFor(std::string_view name) {
  for (const Downlink& downlink : kDownlinks)
    if (EqualsIgnoreCase(name, downlink.name)) return downlink;
  // Today's satellites go by several spellings in the published element sets; the classic
  // table's names stay exact.
  const std::string folded = Folded(name);
  for (const Downlink& downlink : kDownlinks)
    if (downlink.catalogueNumber > 0 && folded == Folded(downlink.name)) return downlink;
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
