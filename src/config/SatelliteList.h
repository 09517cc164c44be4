#pragma once

#include <string_view>

#include "config/StationFiles.h"

namespace halvik {

// The Add command: loads the named satellite from elements.dat into the lowest empty slot.
// Refused with a message when all six slots are in use or the name is already active (ASCII
// case ignored); a failed lookup shows its element-set message and leaves the other free slots
// alone. The name is used as typed, blanks included.
void AddSatellite(ConfigContext& context, std::string_view name);

// The Delete command: empties every active slot of that name (ASCII case ignored); "Can't delete
// satellite" when there is none. sats.dat follows when the tracking thread ends.
void DeleteSatellite(ConfigContext& context, std::string_view name);

}  // namespace halvik
