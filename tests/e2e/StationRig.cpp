#include "e2e/StationRig.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <sstream>
#include <stdexcept>
#include <variant>

#include "app/SampleStation.h"
#include "app/SimStart.h"
#include "capture/CaptureFile.h"
#include "config/StationFiles.h"
#include "platform/Files.h"
#include "platform/Text.h"
#include "support/NullCanvas.h"

namespace halvik::e2e {

StationRig::StationRig(RigOptions options) {
  std::string error = InitStation(dir_.path());
  if (!error.empty()) throw std::runtime_error(error);
  if (options.prepare) options.prepare(dir_.path());
  if (!options.satellites.empty()) {
    std::string sats;
    for (std::size_t i = 0; i < 6; ++i) {
      sats += (i < options.satellites.size() ? options.satellites[i] : " ") + "\n";
    }
    WriteFileAtomically(dir_.path() / "sats.dat", sats);
  }
  std::optional<SystemTime> start = options.start ? options.start : NextPassStart(dir_.path());
  if (start && !options.start && options.passAboveDeg > 0) {
    start = StartBeforeHighPass(dir_.path(), *start, options.passAboveDeg);
  }
  if (!start) throw std::runtime_error("no pass to start the simulation at");
  start_ = *start;
  const SystemTime computerStart = options.computerClock.value_or(start_);
  clock_ = std::make_unique<ScaledClock>(computerStart, options.speed);

  SimHardwareOptions hardware;
  hardware.stationDir = dir_.path();
  hardware.computerClockErrorSeconds =
      static_cast<double>(start_.AsMilliseconds() - computerStart.AsMilliseconds()) / 1000.0;
  if (options.hardware) options.hardware(hardware);
  hardware_ = std::make_unique<SimHardware>(*clock_, devices_, hardware);
  boards_ = std::make_unique<BoardHardware>(dir_.path(), hardware_->services(), devices_, *clock_,
                                            messages_, beeper_);
  StationEnvironment env{dir_.path(), *clock_, messages_, beeper_, systemInfo_, spawner_, *boards_};
  env.diskBudget = options.diskBudget;
  env.raiseCapturePriority = false;
  station_ = std::make_unique<Station>(env);
  canvas_ = options.canvas;
}

StationRig::~StationRig() = default;

namespace {

bool RunOn(Station& station, Canvas& canvas, std::int64_t passes, std::int64_t limitSeconds,
           const std::function<void(Station&)>& watch) {
  if (!station.Start()) return false;
  StationReceiverReadout readout(station.receiver);
  StatusView view(StatusSourcesOf(station, readout));
  HeadlessOptions run;
  run.exitAfterPasses = passes;
  run.limitSeconds = limitSeconds;
  if (watch) run.afterPaint = [&] { watch(station); };
  RunHeadless(station, view, canvas, run);
  return station.Shutdown();
}

}  // namespace

bool RunStation(Station& station, std::int64_t passes, std::int64_t limitSeconds,
                const std::function<void(Station&)>& watch) {
  testing::NullCanvas nowhere;
  return RunOn(station, nowhere, passes, limitSeconds, watch);
}

std::vector<std::filesystem::path> CaptureFilesIn(const std::filesystem::path& dir) {
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (LooksLikeCaptureName(entry.path().filename().string())) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

bool StationRig::Run(std::int64_t passes, std::int64_t limitSeconds,
                     const std::function<void(Station&)>& watch) {
  testing::NullCanvas nowhere;
  return RunOn(*station_, canvas_ ? *canvas_ : nowhere, passes, limitSeconds, watch);
}

std::vector<std::filesystem::path> StationRig::CaptureFiles() const {
  return CaptureFilesIn(dir_.path());
}

std::string Describe(const CaptureFileContents& contents) {
  std::ostringstream out;
  for (const std::string& line : InspectionLines(contents, true)) out << line << "\n";
  return out.str();
}

void TextCanvas::DrawText(int x, int y, std::string_view text, Font, Colour, Colour) {
  std::lock_guard lock(mutex_);
  texts_[{x, y}] = std::string(text);
}

std::string TextCanvas::TextAt(int x, int y) const {
  std::lock_guard lock(mutex_);
  auto found = texts_.find({x, y});
  return found == texts_.end() ? std::string() : found->second;
}

std::optional<PassWindow> FindPass(const sim::Sky& sky, std::string_view name, double fromSeconds,
                                   double aboveDeg) {
  auto above = [&](double t) {
    auto look = sky.Look(name, t);
    return look && look->elevationDeg > aboveDeg;
  };
  // The first whole second at which `above` turns to `want`, after `t`, stepping 10 s.
  auto crossing = [&](double t, double end, bool want) -> std::optional<double> {
    for (; t < end; t += 10.0) {
      if (above(t + 10.0) != want) continue;
      double low = t;
      double high = t + 10.0;
      while (high - low > 0.5) {
        double mid = (low + high) / 2;
        (above(mid) == want ? high : low) = mid;
      }
      return high;
    }
    return std::nullopt;
  };
  const double end = fromSeconds + 86400.0;
  double t = fromSeconds;
  if (above(t)) {
    auto set = crossing(t, end, false);
    if (!set) return std::nullopt;
    t = *set;
  }
  auto rise = crossing(t, end, true);
  if (!rise) return std::nullopt;
  auto set = crossing(*rise, end, false);
  if (!set) return std::nullopt;
  PassWindow pass{*rise, *set, aboveDeg};
  for (double s = *rise; s < *set; s += 5.0) {
    if (auto look = sky.Look(name, s))
      pass.highestDeg = std::max(pass.highestDeg, look->elevationDeg);
  }
  return pass;
}

std::optional<SystemTime> StartBeforeHighPass(const std::filesystem::path& stationDir,
                                              SystemTime from, double aboveDeg) {
  ManualClock clock(from);
  sim::Sky sky(clock);
  std::vector<std::string> names;
  LineReader sats(stationDir / "sats.dat");
  while (auto line = sats.Next()) {
    if (line->empty() || (*line)[0] == ' ') continue;
    if (sky.AddSatelliteFrom(stationDir / "elements.dat", *line) == ElementSetResult::Ok)
      names.push_back(*line);
  }
  LocationValues location = ReadLocation(stationDir);
  sky.SetStation(location.latitude, location.longitude, location.height);
  std::optional<double> best;
  for (const std::string& name : names) {
    double t = from.AsSeconds();
    while (auto pass = FindPass(sky, name, t, kMinimumElevation)) {
      if (pass->highestDeg > aboveDeg) {
        if (!best || pass->rise < *best) best = pass->rise;
        break;
      }
      t = pass->set;
    }
  }
  if (!best) return std::nullopt;
  return SystemTime::FromMilliseconds(std::llround((*best - kSimLeadSeconds) * 1000.0));
}

std::string WithCheckDigit(std::string line) {
  if (line.size() < 69) throw std::invalid_argument("element line shorter than 69 characters");
  int sum = 0;
  for (std::size_t i = 0; i < 68; ++i) {
    char c = line[i];
    if (c >= '0' && c <= '9') sum += c - '0';
    if (c == '-') sum += 1;
  }
  line[68] = static_cast<char>('0' + sum % 10);
  return line;
}

std::string WithMeanAnomaly(const std::string& line2, double degrees) {
  std::string line = line2;
  std::string field = Format("%8.4f", degrees);
  if (field.size() != 8) throw std::invalid_argument("mean anomaly out of range");
  line.replace(43, 8, field);
  return WithCheckDigit(line);
}

std::string WithEpoch(const std::string& line1, std::int64_t unixSeconds) {
  const auto t = static_cast<std::time_t>(unixSeconds);
  std::tm utc{};
  if (!gmtime_r(&t, &utc)) throw std::invalid_argument("epoch out of range");
  const double day =
      utc.tm_yday + 1 + (utc.tm_hour * 3600 + utc.tm_min * 60 + utc.tm_sec) / 86400.0;
  std::string line = line1;
  line.replace(18, 14, Format("%02d%012.8f", utc.tm_year % 100, day));
  return WithCheckDigit(line);
}

void ReepochElements(const std::filesystem::path& stationDir, std::int64_t unixSeconds) {
  std::string text;
  LineReader reader(stationDir / "elements.dat");
  while (auto line = reader.Next()) {
    text +=
        (line->size() >= 69 && line->rfind("1 ", 0) == 0) ? WithEpoch(*line, unixSeconds) : *line;
    text += '\n';
  }
  WriteFileAtomically(stationDir / "elements.dat", text);
}

std::vector<std::string> EntryOutline(const CaptureFileContents& contents) {
  std::vector<std::string> outline;
  for (const CaptureEntry& entry : contents.entries) {
    if (const auto* marker = std::get_if<CaptureMarker>(&entry)) {
      switch (marker->kind) {
        case MarkerKind::SyncAcquired:
          outline.push_back(Format("acquired %u", static_cast<unsigned>(marker->count)));
          break;
        case MarkerKind::SyncLost:
          outline.push_back(Format("lost %u", static_cast<unsigned>(marker->count)));
          break;
        case MarkerKind::EndOfCapture:
          outline.push_back("end");
          break;
      }
    } else {
      outline.push_back("frames");
    }
  }
  return outline;
}

}  // namespace halvik::e2e
