#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <vector>

#include "app/Station.h"
#include "config/PassListing.h"

namespace halvik::web {

class LevelRecordingReadout;

// The station's state as the status view shows it, read the way the view reads it (lock-free
// loads of the shared records). Times are ISO 8601 UTC; units are in the key names. `polled`
// gives the signal level of the window's last receiver poll; without it the level is null.
nlohmann::json StatusJson(Station& station, const LevelRecordingReadout* polled);

// The listed passes with the priority rule's decision for each ("follow" or "skip").
nlohmann::json PassesJson(const PassListing& listing, std::int64_t fromSeconds, int hours);

// The newest `limit` capture files of `dir`, newest first, each with the image tool's outputs
// beside it and its quality record (NAME.json) where one is there and readable.
nlohmann::json CapturesJson(const std::filesystem::path& dir, std::size_t limit);

// The priority rule's decisions for the passes of a listing, in its order.
std::vector<bool> FollowedPasses(const PassListing& listing);

}  // namespace halvik::web
