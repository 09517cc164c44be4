#pragma once

#include <filesystem>
#include <optional>

#include "platform/Clock.h"

namespace halvik {

// Seconds before the first AOS at which a next-pass simulation starts: the station settles, then
// the antenna is seen pre-positioned (61 s before AOS) before the pass.
inline constexpr double kSimLeadSeconds = 90.0;

// A simulated start shortly before the first AOS (the rise above minel.dat's minimum elevation)
// over the station (location.dat) of any satellite of sats.dat, after the newest epoch of their
// element sets (elements.dat): the first pass the station will follow. Nothing when no
// satellite loads or none rises within two days.
std::optional<SystemTime> NextPassStart(const std::filesystem::path& stationDir);

}  // namespace halvik
