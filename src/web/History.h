#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "orbit/SatelliteTable.h"
#include "orbit/StationConfig.h"

namespace halvik::web {

// Captures whose records the history reads at most, newest first: a month of passes of six
// satellites, whatever lies in the directory.
inline constexpr std::size_t kHistoryCapturesRead = 1000;
inline constexpr std::size_t kHistoryPassesPerSatellite = 30;

// A capture's record as the directory shows it, before it is read.
struct RecordFile {
  std::string capture;  // the capture's file name; the record is capture + ".json"
  std::int64_t modified = 0;
  std::int64_t bytes = 0;
};
// The records beside the newest kHistoryCapturesRead captures of `dir`, newest first.
std::vector<RecordFile> ListRecordFiles(const std::filesystem::path& dir);
// Changes whenever a listed record is added, removed or rewritten.
std::string RecordFilesKey(const std::vector<RecordFile>& files);

// One pass's quality as its record gives it; what a record lacks or holds garbled stays empty.
struct PassQuality {
  std::string capture;
  std::string satellite;
  std::int64_t firstFrame = 0;           // s since 1970 UTC; the record's time, else the file's
  std::int64_t lastFrame = 0;            // 0 when the record has none
  std::optional<double> lockFraction;    // scan lines in lock / scan lines
  std::optional<double> bitErrorRate;    // against the pseudo-noise words
  std::optional<double> frameErrorRate;  // frames without sync / frames written
  std::optional<double> maxElevationDeg;
};

// The last kHistoryPassesPerSatellite passes of each satellite among `files`, by satellite
// name and then oldest first. A record that is missing, too large, not JSON or has fields of
// the wrong kind gives what it can (at least its satellite, or nothing).
std::vector<PassQuality> ReadPassQualities(const std::filesystem::path& dir,
                                           const std::vector<RecordFile>& files);

// The highest elevation of each pass between its first and last frame, from the element set
// of the listed satellite of that name, where the pass lies within 30 days of the set's epoch.
void AddMaxElevations(std::vector<PassQuality>& passes, const SatelliteTable& table,
                      const StationConfig& station);

// Per satellite a row of three small charts over its passes: lock fraction, error rate (bit
// error rate on a log scale, frame error rate where no bits were compared) and maximum
// elevation.
std::string HistorySvg(const std::vector<PassQuality>& passes);

}  // namespace halvik::web
