#pragma once

#include <filesystem>
#include <optional>

#include "platform/Clock.h"

namespace halvik {

// Seconds before the first horizon crossing at which a next-pass simulation starts: enough to
// see the antenna pre-positioned before the pass.
inline constexpr double kSimLeadSeconds = 60.0;

// A simulated start shortly before the first pass over the station (location.dat) of any
// satellite of sats.dat, after the newest epoch of their element sets (elements.dat). Nothing
// when no satellite loads or none rises within two days.
std::optional<SystemTime> NextPassStart(const std::filesystem::path& stationDir);

}  // namespace halvik
