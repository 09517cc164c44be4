#include "e2e/StationRig.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "app/SampleStation.h"
#include "app/SimStart.h"
#include "capture/CaptureFile.h"
#include "platform/Files.h"

namespace halvik::e2e {

bool SpawnLog::Spawn(const std::filesystem::path& program, const std::vector<std::string>& argv) {
  std::lock_guard lock(mutex_);
  started_.push_back({program, argv});
  return true;
}

std::vector<SpawnLog::Started> SpawnLog::Spawned() const {
  std::lock_guard lock(mutex_);
  return started_;
}

StationRig::StationRig(RigOptions options) {
  std::string error = InitStation(dir_.path());
  if (!error.empty()) throw std::runtime_error(error);
  if (!options.satellites.empty()) {
    std::string sats;
    for (std::size_t i = 0; i < 6; ++i) {
      sats += (i < options.satellites.size() ? options.satellites[i] : " ") + "\n";
    }
    WriteFileAtomically(dir_.path() / "sats.dat", sats);
  }
  std::optional<SystemTime> start = options.start ? options.start : NextPassStart(dir_.path());
  if (!start) throw std::runtime_error("no pass to start the simulation at");
  start_ = *start;
  clock_ = std::make_unique<ScaledClock>(start_, options.speed);

  SimHardwareOptions hardware;
  hardware.stationDir = dir_.path();
  if (options.hardware) options.hardware(hardware);
  hardware_ = std::make_unique<SimHardware>(*clock_, devices_, hardware);
  StationEnvironment env{dir_.path(),           *clock_, messages_, beeper_, systemInfo_, spawner_,
                         hardware_->services(), devices_};
  env.diskBudget = options.diskBudget;
  env.raiseCapturePriority = false;
  station_ = std::make_unique<Station>(env);
}

StationRig::~StationRig() = default;

bool StationRig::Run(std::int64_t passes, std::int64_t limitSeconds,
                     const std::function<void(Station&)>& watch) {
  if (!station_->Start()) return false;
  StationReceiverReadout readout(station_->receiver);
  StatusView view(StatusSourcesOf(*station_, readout));
  NullCanvas canvas;
  HeadlessOptions run;
  run.exitAfterPasses = passes;
  run.limitSeconds = limitSeconds;
  if (watch) run.afterPaint = [&] { watch(*station_); };
  RunHeadless(*station_, view, canvas, run);
  return station_->Shutdown();
}

std::vector<std::filesystem::path> StationRig::CaptureFiles() const {
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
    if (LooksLikeCaptureName(entry.path().filename().string())) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string Describe(const CaptureFileContents& contents) {
  std::ostringstream out;
  for (const std::string& line : InspectionLines(contents, true)) out << line << "\n";
  return out.str();
}

}  // namespace halvik::e2e
