#include "app/SimHardware.h"

#include <cmath>
#include <deque>
#include <set>

#include "app/DriverService.h"
#include "config/StationFileNames.h"
#include "config/StationFiles.h"
#include "platform/Files.h"

namespace halvik {
namespace {

std::string TrimTrailingBlanks(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

sim::TrueStation StationFromFiles(const std::filesystem::path& dir) {
  LocationValues location = ReadLocation(dir);
  return sim::TrueStation{location.latitude, location.longitude, location.height};
}

}  // namespace

std::vector<ElementEntry> ReadElementEntries(const std::filesystem::path& elementsFile) {
  // A window of three lines slides over the file: only the entries are kept, whatever the
  // file's size (lines are bounded by the reader).
  LineReader reader(elementsFile);
  std::deque<std::string> window;
  std::vector<ElementEntry> entries;
  std::set<std::string> seen;
  while (auto line = reader.Next()) {
    window.push_back(std::move(*line));
    if (window.size() < 3) continue;
    const std::string& l1 = window[1];
    const std::string& l2 = window[2];
    std::string name = TrimTrailingBlanks(window[0]);
    if (l1.empty() || l1[0] != '1' || l2.empty() || l2[0] != '2' || name.empty() ||
        name[0] == '1' || name[0] == '2') {
      window.pop_front();
      continue;
    }
    if (seen.insert(name).second) entries.push_back({name, l1, l2});
    window.clear();
  }
  return entries;
}

SimHardware::SimHardware(Clock& computerClock, DeviceNamespace& devices, SimHardwareOptions options)
    : trueClock_(computerClock,
                 static_cast<std::int64_t>(std::llround(options.computerClockErrorSeconds * 1000))),
      receiverOptions_(options.receiver),
      trackerOptions_(options.tracker),
      sky_(trueClock_, options.sky),
      services_(devices) {
  for (const ElementEntry& entry : ReadElementEntries(options.stationDir / kElementsFile)) {
    sky_.AddSatellite(entry.name, entry.line1, entry.line2);
  }
  sim::TrueStation station =
      options.station ? *options.station : StationFromFiles(options.stationDir);
  sky_.SetStation(station.latitudeDeg, station.longitudeDeg, station.heightFeet);
  for (const auto& [from, until] : options.fades) sky_.AddFade(from, until);

  if (options.gpsPresent) {
    sim::SimGpsOptions gps = options.gps;
    gps.clockErrorSeconds = options.computerClockErrorSeconds;
    gps.fullWeekNumber = !options.gpsWeekModulo1024;
    gps.latitudeDeg = station.latitudeDeg;
    gps.longitudeDeg = station.longitudeDeg;
    gps.altitudeM = station.heightFeet * 0.3048;
    gpsOptions_ = gps;
    gps_ = std::make_shared<sim::SimGpsReceiver>(computerClock, gps);
  }
  receiver_ = std::make_shared<sim::SimReceiverBoard>(computerClock, sky_, options.receiver);
  tracker_ = std::make_shared<sim::SimTrackerBoard>(computerClock, sky_, options.tracker, gps_);
  synchronizer_ = std::make_shared<sim::SimSynchronizer>(sky_, computerClock, options.synchronizer);

  services_.SetBoard(kReceiverDriver.serviceName, DevicePath(kReceiverDriver), receiver_);
  services_.SetBoard(kTrackerDriver.serviceName, DevicePath(kTrackerDriver), tracker_);
  services_.SetBoard(kSynchronizerDriver.serviceName, DevicePath(kSynchronizerDriver),
                     synchronizer_);
  for (const auto& [service, failures] : options.serviceFailures) {
    services_.SetFailures(service, failures);
  }
}

void SimHardware::ApplySwitches(const SimSwitches& switches) {
  sim::SimReceiverOptions receiver = receiverOptions_;
  receiver.dead = receiver.dead || switches.receiverSilent;
  receiver_->SetOptions(receiver);
  sim::SimTrackerOptions tracker = trackerOptions_;
  tracker.neverReady = tracker.neverReady || switches.trackerNeverReady;
  tracker.silent = tracker.silent || switches.trackerSilent;
  tracker_->SetOptions(tracker);
  if (gps_) {
    sim::SimGpsOptions gps = gpsOptions_;
    if (switches.gpsGarbage) gps.failure = sim::SimGpsFailure::OtherPacketsOnly;
    if (switches.gpsSilent) gps.failure = sim::SimGpsFailure::Silent;
    gps_->SetOptions(gps);
  }
  synchronizer_->SetStopped(switches.synchronizerStopped);
  for (; fadesAdded_ < switches.fades.size(); ++fadesAdded_) {
    sky_.AddFade(switches.fades[fadesAdded_].first, switches.fades[fadesAdded_].second);
  }
}

}  // namespace halvik
