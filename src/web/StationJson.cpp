#include "web/StationJson.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <system_error>

#include "orbit/PropagateListing.h"
#include "tracking/PassPriority.h"
#include "ui/StatusView.h"
#include "web/CaptureNames.h"
#include "web/ReceiverLevel.h"

namespace halvik::web {
namespace {

using nlohmann::json;

constexpr int kNoSlot = -1;
// A quality record larger than this is not the image tool's.
constexpr std::uintmax_t kRecordSizeLimit = 1 << 20;

std::string IsoUtc(std::int64_t seconds) {
  return FormatIsoUtc(static_cast<double>(seconds));
}

std::string Trimmed(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  while (!text.empty() && text.front() == ' ') text.erase(text.begin());
  return text;
}

json SatellitesJson(const SatelliteTable& table, std::int64_t now, int& nextAosSlot,
                    int& inPassSlot) {
  // The satellite panel's marks: the earliest pending AOS (lower slot on a tie) and the first
  // slot in its pass.
  nextAosSlot = kNoSlot;
  inPassSlot = kNoSlot;
  for (int i = 0; i < kSlotCount; ++i) {
    const SatelliteRecord& s = table[static_cast<std::size_t>(i)];
    if (!s.IsActive() || s.geosynchronous != 0) continue;
    if (s.aosPending != 0 && (nextAosSlot == kNoSlot ||
                              s.aosTime < table[static_cast<std::size_t>(nextAosSlot)].aosTime))
      nextAosSlot = i;
    if (s.inPass != 0 && inPassSlot == kNoSlot) inPassSlot = i;
  }
  json list = json::array();
  for (int i = 0; i < kSlotCount; ++i) {
    const SatelliteRecord& s = table[static_cast<std::size_t>(i)];
    if (!s.IsActive()) continue;
    json entry{{"slot", i},
               {"name", s.name.Get()},
               {"latitude_deg", static_cast<int>(s.latitudeDeg)},
               {"longitude_deg", static_cast<int>(s.longitudeDeg)},
               {"azimuth_deg", static_cast<double>(s.azimuthDeg)},
               {"elevation_deg", static_cast<double>(s.elevationDeg)},
               {"geosynchronous", s.geosynchronous != 0},
               {"in_pass", s.inPass != 0},
               {"next_event", nullptr}};
    // The set's age on the station clock, and whether it is past its useful age.
    const double ageDays = ElementAgeDays(static_cast<double>(now), s.epochMinutes);
    entry["element_age_s"] = ageDays * kSecondsPerDay;
    entry["elements_stale"] = ageDays > kStaleElementAgeDays;
    // The LOS form wins when both are set, as on the panel.
    std::int64_t event = 0;
    if (s.geosynchronous == 0 && s.inPass != 0) {
      entry["next_event"] = "los";
      event = s.losTime;
    } else if (s.geosynchronous == 0 && s.aosPending != 0) {
      entry["next_event"] = "aos";
      event = s.aosTime;
    }
    if (event > 0) {
      entry["next_event_utc"] = IsoUtc(event);
      entry["next_event_in_s"] = event - now;
    }
    list.push_back(std::move(entry));
  }
  return list;
}

// An SDR's lost samples; null for a receiver without samples.
json DroppedSamplesJson(const Tuner& receiver) {
  const std::optional<std::int64_t> dropped = receiver.ReceiverDroppedSamples();
  return dropped ? json(*dropped) : json(nullptr);
}

}  // namespace

json QualityRecord(const std::filesystem::path& dir, const std::string& name) {
  const std::shared_ptr<const ServedFile> file = OpenServable(dir, name);
  if (!file) return nullptr;
  if (file->size > kRecordSizeLimit) return json{{"error", "record too large"}};
  std::string text(static_cast<std::size_t>(file->size), '\0');
  const ssize_t got = pread(file->fd, text.data(), text.size(), 0);
  text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  const json record = json::parse(text, nullptr, false);
  if (record.is_discarded() || !record.is_object()) return json{{"error", "unreadable record"}};
  return record;
}

json StatusJson(Station& station, const LevelRecordingReadout* polled) {
  const StationEnvironment& env = station.environment();
  const SystemTime system = env.clock.Now();
  const double correction = station.tracking.ClockCorrection;
  const std::int64_t now = CorrectedSeconds(system.seconds, correction);

  int nextAosSlot = kNoSlot;
  int inPassSlot = kNoSlot;
  json satellites = SatellitesJson(station.table, now, nextAosSlot, inPassSlot);

  json followed = nullptr;
  if (const SchedulerState* scheduler = station.scheduler()) {
    const int slot = scheduler->SelectedSatellite;
    if (scheduler->TrackingActive != 0 && slot >= 0 && slot < kSlotCount &&
        station.table[static_cast<std::size_t>(slot)].IsActive()) {
      followed =
          json{{"slot", slot}, {"name", station.table[static_cast<std::size_t>(slot)].name.Get()}};
    }
  }

  const AntennaState& antenna = station.antennaState;
  const bool powered = AntennaPowered(antenna.AntennaPower);
  const GpsState& gps = station.gpsState;
  const double latitude = gps.GpsLatitude;
  const double longitude = gps.GpsLongitude;
  const bool fix = GpsHasFix(latitude, longitude);
  const CaptureStatus& capture = station.captureStatus;
  const CaptureStateValue state = capture.CaptureState;
  const char* stateLabel = CaptureStateLabel(state);
  const double errors = capture.BitErrorCount;
  const double bits = capture.BitsCompared;
  const std::optional<double> freeBytes = env.systemInfo.FreeBytes(env.dir);

  json status{
      {"time_utc", IsoUtc(now)},
      {"system_time_utc", IsoUtc(system.seconds)},
      {"clock_correction_s", correction},
      {"tracking_ready", station.tracking.TrackingReady != 0},
      {"receiver",
       {{"frequency_mhz", station.receiver.ReceiverFrequency()},
        {"level_v", polled ? json(polled->LastLevel()) : json(nullptr)},
        {"locked", station.receiver.ReceiverLocked() != 0},
        {"dropped_samples", DroppedSamplesJson(station.receiver)}}},
      {"antenna",
       {{"powered", powered},
        {"azimuth_deg",
         powered ? json(static_cast<double>(antenna.AntennaAzimuth)) : json(nullptr)},
        {"elevation_deg",
         powered ? json(static_cast<double>(antenna.AntennaElevation)) : json(nullptr)},
        {"flipped", antenna.FlipMode != 0}}},
      {"gps",
       {{"present", gps.GpsPresent != 0},
        {"health_code", static_cast<int>(gps.GpsHealth.load())},
        {"status", Trimmed(GpsStatusText(gps.GpsHealth))},
        {"time_valid", gps.GpsTimeValid != 0},
        {"time_refused", station.tracking.GpsTimeRefused != 0},
        {"latitude_deg", fix ? json(latitude) : json(nullptr)},
        {"longitude_deg", fix ? json(longitude) : json(nullptr)},
        {"altitude_ft", fix ? json(static_cast<double>(gps.GpsAltitude)) : json(nullptr)}}},
      {"capture",
       {{"state", CaptureStateCode(state)},
        {"state_text", stateLabel != nullptr ? Trimmed(stateLabel) : std::string("?")},
        {"satellite", state == CaptureStateValue::WaitingForSatellite
                          ? json(nullptr)
                          : json(station.handOff.CaptureSatelliteName.Get())},
        {"bit_errors", errors},
        {"bits_compared", bits},
        {"bit_error_rate", bits > 0 ? errors / bits : 0.0},
        {"frames_written", static_cast<std::int64_t>(capture.FramesWritten)},
        {"frames_with_sync", static_cast<std::int64_t>(capture.FramesWithSync)},
        {"frames_overrun", static_cast<std::int64_t>(capture.FramesOverrun)},
        {"captures_finished", static_cast<std::int64_t>(capture.CapturesFinished)}}},
      {"passes_followed", static_cast<std::int64_t>(station.tracking.PassesFollowed)},
      {"followed", followed},
      {"next_aos_slot", nextAosSlot == kNoSlot ? json(nullptr) : json(nextAosSlot)},
      {"in_pass_slot", inPassSlot == kNoSlot ? json(nullptr) : json(inPassSlot)},
      {"satellites", std::move(satellites)},
      {"element_age_limit_days", kStaleElementAgeDays},
      {"nothing_predictable", station.tracking.NothingPredictable != 0},
      {"disk_free_bytes", freeBytes ? json(*freeBytes) : json(nullptr)},
  };
  return status;
}

std::vector<bool> FollowedPasses(const PassListing& listing) {
  std::vector<SlotPass> windows;
  windows.reserve(listing.passes.size());
  for (const ListedPassTimes& pass : listing.passes)
    windows.push_back({pass.slot, pass.aos, pass.los});
  return PriorityLetsThrough(windows);
}

json PassesJson(const PassListing& listing, std::int64_t fromSeconds, int hours) {
  const std::vector<bool> followed = FollowedPasses(listing);
  json passes = json::array();
  for (std::size_t i = 0; i < listing.passes.size(); ++i) {
    const ListedPassTimes& pass = listing.passes[i];
    passes.push_back(
        {{"slot", pass.slot},
         {"name", pass.name},
         {"aos_utc", IsoUtc(pass.aos)},
         {"los_utc", pass.los > 0 ? json(IsoUtc(pass.los)) : json(nullptr)},
         {"duration_s", pass.los > 0 ? json(pass.los - pass.aos) : json(nullptr)},
         {"max_elevation_deg", pass.los > 0 ? json(pass.maxElevationDeg) : json(nullptr)},
         {"direction", pass.northbound ? "north" : "south"},
         {"flip", pass.flip},
         {"decision", followed[i] ? "follow" : "skip"}});
  }
  return {{"from_utc", IsoUtc(fromSeconds)},
          {"hours", hours},
          {"satellites_loaded", listing.satellitesLoaded},
          {"passes", std::move(passes)}};
}

json CapturesJson(const std::filesystem::path& dir, std::size_t limit) {
  struct Found {
    std::string name;
    std::int64_t modified;
    std::int64_t bytes;
  };
  std::vector<Found> found;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(dir, error)) {
    std::string name = entry.path().filename().string();
    if (!IsCaptureFileName(name)) continue;
    // Only what /captures/ would serve: a link out of the directory is not listed.
    const std::optional<std::filesystem::path> path = ServablePath(dir, name);
    struct stat info {};
    if (!path || ::stat(path->c_str(), &info) != 0) continue;
    found.push_back({std::move(name), static_cast<std::int64_t>(info.st_mtime),
                     static_cast<std::int64_t>(info.st_size)});
  }
  std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
    return a.modified != b.modified ? a.modified > b.modified : a.name > b.name;
  });
  if (found.size() > limit) found.resize(limit);

  json captures = json::array();
  for (const Found& capture : found) {
    const std::string stem(CaptureStem(capture.name));
    json images = json::array();
    std::vector<std::string> outputs{stem + ".rgb.png"};
    for (char channel = '1'; channel <= '9'; ++channel) {
      outputs.push_back(stem + ".ch" + channel + ".png");
    }
    for (const std::string& output : outputs) {
      if (std::filesystem::is_regular_file(dir / output, error)) images.push_back(output);
    }
    const std::string thumb = stem + ".thumb.png";
    json entry = {
        {"name", capture.name},
        {"code", stem.substr(9)},
        {"bytes", capture.bytes},
        {"modified_utc", IsoUtc(capture.modified)},
        {"images", std::move(images)},
        {"thumbnail",
         std::filesystem::is_regular_file(dir / thumb, error) ? json(thumb) : json(nullptr)},
        {"record", QualityRecord(dir, stem + ".json")}};
    if (capture.name != stem) {
      const std::string pass = stem + std::string(kPassRecordSuffix);
      entry["pass_record"] =
          std::filesystem::is_regular_file(dir / pass, error) ? json(pass) : json(nullptr);
    }
    captures.push_back(std::move(entry));
  }
  return captures;
}

}  // namespace halvik::web
