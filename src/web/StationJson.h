#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
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

// A capture's quality record NAME.json in `dir` (`name` is the record's file name): the parsed
// object; {"error": ...} when it is too large or not a JSON object; null when there is none.
// Read from what was opened, as the files served are, so a FIFO swapped in under the name
// cannot hold the reader.
nlohmann::json QualityRecord(const std::filesystem::path& dir, const std::string& name);

// The priority rule's decisions for the passes of a listing, in its order.
std::vector<bool> FollowedPasses(const PassListing& listing);

}  // namespace halvik::web
