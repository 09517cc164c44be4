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

// Merges the element sets of `sourceText` (two- or three-line sets) into `dir`/elements.dat.
// Each set must pass the station's own parse (format, check digits) and carry a name of at most
// 23 characters; a two-line set takes the name of the elements.dat entry with its catalogue
// number. A set replaces the entry of the same name (ASCII case ignored) when its epoch is newer;
// names elements.dat lacks are added; everything else in the file is kept as it was. The old
// file is kept as elements.dat.old and the new one replaces it atomically. Refused, changing
// nothing, when the source holds no valid set or a satellite listed in sats.dat would have none.
ElementUpdateResult UpdateElementFile(const std::filesystem::path& dir,
                                      std::string_view sourceText);

// On the tracking thread: every active slot whose elements.dat set has a new epoch is parsed
// again from the file, as adding the satellite does (its pass is searched afresh). A slot whose
// set is no longer found keeps the one it flies, after the lookup's message. Returns the number
// of slots reloaded.
int ReloadElementSets(ConfigContext& context);

}  // namespace halvik
