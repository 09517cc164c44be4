#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "config/StationFiles.h"

namespace halvik {

// What an element update did: the lines to print, and whether elements.dat was rewritten.
// When `refused` is set nothing was changed and `report` ends with the reason.
struct ElementUpdateResult {
  bool refused = false;
  bool changed = false;
  std::vector<std::string> report;
};

// The most element sets an update leaves in elements.dat (every catalogued satellite in orbit
// fits); more are refused.
inline constexpr std::size_t kMaxElementSets = 20000;

// Merges the element sets of `sourceText` (two- or three-line sets) into `dir`/elements.dat.
// Each set must pass the station's own parse (format, check digits) and carry a name of at most
// 23 characters; a two-line set takes the name of the elements.dat entry with its catalogue
// number. Of the sets of one catalogue number only the newest is taken. A set replaces the entry
// of the same name (ASCII case ignored), or else of its catalogue number, when its epoch is
// newer; satellites elements.dat lacks are added; everything else in the file is kept as it
// was. Names are reported with bytes outside printable ASCII escaped as \xHH. The old
// file is kept as elements.dat.old and the new one replaces it atomically. Refused, changing
// nothing, when the source holds no valid set, a satellite listed in sats.dat would have none or
// the file would hold more than kMaxElementSets sets.
ElementUpdateResult UpdateElementFile(const std::filesystem::path& dir,
                                      std::string_view sourceText);

// On the tracking thread: every active slot whose elements.dat set has a new epoch is parsed
// again from the file, as adding the satellite does (its pass is searched afresh). A slot whose
// set is no longer found keeps the one it flies, after the lookup's message. Returns the number
// of slots reloaded.
int ReloadElementSets(ConfigContext& context);

}  // namespace halvik
