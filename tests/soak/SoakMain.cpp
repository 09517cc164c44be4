// The soak run: the whole sample station on the simulated boards for many simulated hours at a
// fast clock, checked against the station's own pass listing. Prints the figures and exits
// non-zero when a check fails.
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "app/BoardHardware.h"
#include "app/Headless.h"
#include "app/SampleStation.h"
#include "app/SimHardware.h"
#include "app/SimStart.h"
#include "app/Station.h"
#include "app/StationUi.h"
#include "capture/CaptureFile.h"
#include "capture/CaptureFileReader.h"
#include "config/PassListing.h"
#include "orbit/PropagateListing.h"
#include "platform/Messages.h"
#include "platform/Text.h"
#include "soak/SoakPlan.h"
#include "support/NullCanvas.h"
#include "support/PlatformFakes.h"
#include "support/TempDir.h"
#include "ui/Canvas.h"

namespace halvik::soak {
namespace {

// The station needs a moment after start-up before it follows anything, and a capture needs a
// moment after LOS to be closed and handed on: passes this close to the window's edges are cut.
constexpr std::int64_t kStartMarginSeconds = 180;
constexpr std::int64_t kEndMarginSeconds = 180;
// The run starts this long before the first pass of the sample satellites.
constexpr std::int64_t kLeadSeconds = 300;

struct Options {
  double hours = 24;
  double speed = 100;
  double rssMarginMiB = 10;
  bool keep = false;
  bool verbose = false;
};

void Usage() {
  std::cerr << "usage: halvik_soak [--hours H] [--speed S] [--rss-margin-mib M] [--keep] "
               "[--verbose]\n"
               "  H simulated hours (default 24), S simulated seconds per real second (default "
               "100)\n";
}

std::optional<Options> ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto number = [&](double& out) {
      if (i + 1 >= argc) return false;
      char* end = nullptr;
      out = std::strtod(argv[++i], &end);
      return end && *end == '\0' && out > 0;
    };
    if (arg == "--hours") {
      if (!number(options.hours)) return std::nullopt;
    } else if (arg == "--speed") {
      if (!number(options.speed)) return std::nullopt;
    } else if (arg == "--rss-margin-mib") {
      if (!number(options.rssMarginMiB)) return std::nullopt;
    } else if (arg == "--keep") {
      options.keep = true;
    } else if (arg == "--verbose") {
      options.verbose = true;
    } else {
      return std::nullopt;
    }
  }
  return options;
}

// A field of /proc/self/status in KiB ("VmRSS", "VmHWM").
std::int64_t StatusKiB(const std::string& field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(field + ":", 0) == 0) return ParseLong(line.substr(field.size() + 1));
  }
  return -1;
}

double MiB(std::int64_t kib) {
  return static_cast<double>(kib) / 1024.0;
}

struct Spawned {
  std::filesystem::path program;
  std::vector<std::string> argv;
};

// Starts nothing: queues every post-processing call for the checker.
class SpawnQueue final : public ProcessSpawner {
 public:
  bool Spawn(const std::filesystem::path& program, const std::vector<std::string>& argv) override {
    {
      std::lock_guard lock(mutex_);
      queue_.push_back({program, argv});
      ++total_;
    }
    wake_.notify_one();
    return true;
  }
  // The next call, waiting at most `wait`; nothing when none came.
  std::optional<Spawned> Next(std::chrono::milliseconds wait) {
    std::unique_lock lock(mutex_);
    wake_.wait_for(lock, wait, [&] { return !queue_.empty(); });
    if (queue_.empty()) return std::nullopt;
    Spawned next = std::move(queue_.front());
    queue_.pop_front();
    return next;
  }
  std::int64_t total() const {
    std::lock_guard lock(mutex_);
    return total_;
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Spawned> queue_;
  std::int64_t total_ = 0;
};

// Reads back every capture file as soon as its post-processing is started (and removes it
// unless kept, so a long soak does not fill the disk), away from the station's threads.
class Checker {
 public:
  Checker(const std::filesystem::path& dir, SpawnQueue& spawns, bool keep)
      : dir_(dir), spawns_(spawns), keep_(keep), thread_([this] { Run(); }) {}
  ~Checker() { Stop(); }

  // Drains what is queued, then ends the thread.
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }

  std::vector<CaptureCheck> captures;  // read after Stop
  std::vector<std::string> faults;
  std::int64_t totalFrames = 0;

 private:
  void Run() {
    for (;;) {
      std::optional<Spawned> spawned = spawns_.Next(std::chrono::milliseconds(100));
      if (!spawned) {
        if (stop_) return;
        continue;
      }
      Check(*spawned);
    }
  }

  void Check(const Spawned& spawned) {
    if (spawned.argv.size() != 2) {
      faults.push_back(Format("post-processing called with %zu arguments", spawned.argv.size()));
      return;
    }
    std::filesystem::path file = spawned.argv[1];
    std::string name = file.filename().string();
    if (!LooksLikeCaptureName(name) || file.parent_path() != std::filesystem::absolute(dir_)) {
      faults.push_back("post-processing of a file that is no final capture: " + file.string());
      return;
    }
    SatelliteFamily family = BlockWordsForName(name) == 22180 ? SatelliteFamily::FengYun
                             : name.ends_with(".str")         ? SatelliteFamily::SeaStar
                                                              : SatelliteFamily::Noaa;
    std::string program = FactsOf(family).postProcessor;
    if (spawned.program != dir_ / program || spawned.argv[0] != program) {
      faults.push_back(Format("%s handed to %s, not %s", name.c_str(),
                              spawned.program.string().c_str(), program.c_str()));
    }
    CaptureReadResult read = ReadCaptureFile(file);
    CaptureCheck check = CheckCapture(name, read);
    if (!read.opened) check.fault = "post-processing of a missing file";
    // The same recording handed on twice has the same name, start and size.
    auto key = std::make_tuple(name, check.acquiredTime, read.contents.bytes);
    if (!seen_.insert(key).second) faults.push_back("post-processing started twice for " + name);
    totalFrames += check.frames;
    captures.push_back(check);
    if (!keep_) {
      std::error_code ignored;
      std::filesystem::remove(file, ignored);
    }
  }

  std::filesystem::path dir_;
  SpawnQueue& spawns_;
  bool keep_;
  std::atomic<bool> stop_{false};
  std::set<std::tuple<std::string, std::int64_t, std::uint64_t>> seen_;
  std::thread thread_;
};

std::string Iso(std::int64_t seconds) {
  return FormatIsoUtc(static_cast<double>(seconds));
}

std::string Counts(const std::map<std::string, int>& counts) {
  std::string out;
  for (const auto& [code, count] : counts) out += Format("%s %d  ", code.c_str(), count);
  return out.empty() ? "-" : out;
}

int Soak(const Options& options) {
  const auto wallStart = std::chrono::steady_clock::now();
  TempDir dir;
  std::string error = InitStation(dir.path());
  if (!error.empty()) {
    std::cerr << "cannot lay out the sample station: " << error << "\n";
    return 2;
  }
  std::optional<SystemTime> firstPass = NextPassStart(dir.path());
  if (!firstPass) {
    std::cerr << "no pass over the sample station\n";
    return 2;
  }
  const std::int64_t durationSeconds = static_cast<std::int64_t>(options.hours * 3600.0);
  const std::int64_t start = firstPass->seconds - kLeadSeconds;
  const std::int64_t end = start + durationSeconds;

  // The passes, with the station's own search, from an hour before the window (a lower slot's
  // pass under way at the start still holds the antenna) to an hour after it.
  RecordingMessages listingMessages;
  PassListing listing = ListPasses(dir.path(), start - 3600, options.hours + 2.0, listingMessages);
  std::vector<ListedPass> all;
  for (const std::string& line : listing.lines) {
    if (std::optional<ListedPass> pass = ParsePassLine(line)) all.push_back(*pass);
  }
  auto inWindow = [&](const ListedPass& pass) { return pass.aos >= start && pass.aos < end; };
  auto wholeInside = [&](const ListedPass& pass) {
    return pass.los > 0 && pass.aos >= start + kStartMarginSeconds &&
           pass.los <= end - kEndMarginSeconds;
  };
  std::vector<ListedPass> listed, expected;
  std::copy_if(all.begin(), all.end(), std::back_inserter(listed), inWindow);
  for (const ListedPass& pass : LetThrough(all)) {
    if (wholeInside(pass)) expected.push_back(pass);
  }
  const auto edgeCut = std::count_if(listed.begin(), listed.end(),
                                     [&](const ListedPass& pass) { return !wholeInside(pass); });
  std::int64_t letThroughInWindow = 0;
  for (const ListedPass& pass : LetThrough(all)) letThroughInWindow += inWindow(pass) ? 1 : 0;

  std::cout << Format("soak: %s .. %s, %.1f simulated hours at %.0fx, %d satellites, station %s\n",
                      Iso(start).c_str(), Iso(end).c_str(), options.hours, options.speed,
                      listing.satellitesLoaded, dir.path().string().c_str());
  if (options.verbose) {
    for (const ListedPass& pass : listed) {
      bool through = std::any_of(expected.begin(), expected.end(), [&](const ListedPass& e) {
        return e.slot == pass.slot && e.aos == pass.aos;
      });
      std::cout << Format("  pass slot %d %-20s %s .. %s %s\n", pass.slot, pass.name.c_str(),
                          Iso(pass.aos).c_str(), pass.los ? Iso(pass.los).c_str() : "-",
                          through ? "expected" : "(overlapped or at an edge)");
    }
  }

  // The station.
  ScaledClock clock(SystemTime::FromMilliseconds(start * 1000), options.speed);
  RecordingMessages messages;
  CountingBeeper beeper;
  testing::RoomySystemInfo systemInfo;
  SpawnQueue spawner;
  DeviceNamespace devices;
  SimHardwareOptions hardwareOptions;
  hardwareOptions.stationDir = dir.path();
  // At a hundred times real time the synchronizer's half second of buffering is only a few
  // milliseconds of the machine's time; a deeper buffer keeps a busy machine from dropping
  // blocks that a real station would have read in time.
  hardwareOptions.synchronizer.fifoMs = 10000;
  SimHardware hardware(clock, devices, hardwareOptions);
  BoardHardware boards(dir.path(), hardware.services(), devices, clock, messages, beeper);
  StationEnvironment env{dir.path(), clock, messages, beeper, systemInfo, spawner, boards};
  env.raiseCapturePriority = false;
  Station station(env);
  Checker checker(dir.path(), spawner, options.keep);

  if (!station.Start()) {
    std::cerr << "the station did not start\n";
    for (const std::string& text : messages.Shown()) std::cerr << "  message: " << text << "\n";
    return 1;
  }
  std::vector<std::int64_t> rssKiB;  // at the end of every simulated hour
  std::int64_t nextSample = start + 3600;
  {
    StationReceiverReadout readout(station.receiver);
    StatusView view(StatusSourcesOf(station, readout));
    testing::NullCanvas canvas;
    HeadlessOptions run;
    run.limitSeconds = durationSeconds;
    run.pollWithoutPaint = &readout;
    run.afterPaint = [&] {
      std::int64_t now = clock.Now().seconds;
      if (now < nextSample) return;
      rssKiB.push_back(StatusKiB("VmRSS"));
      nextSample += 3600;
      double wall =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
      std::cout << Format("  hour %3zu  captures %4lld  rss %.1f MiB  wall %.0f s\n", rssKiB.size(),
                          static_cast<long long>(station.captureStatus.CapturesFinished.load()),
                          MiB(rssKiB.back()), wall)
                << std::flush;
    };
    RunHeadless(station, view, canvas, run);
  }
  rssKiB.push_back(StatusKiB("VmRSS"));
  const bool shutDown = station.Shutdown();
  const std::int64_t finished = station.captureStatus.CapturesFinished.load();
  checker.Stop();
  const double wallSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();

  // Checks.
  std::vector<std::string> failures;
  if (!shutDown) failures.push_back("the orderly shut-down overran");
  for (const std::string& fault : checker.faults) failures.push_back(fault);
  // A capture file that was never handed on.
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    std::string name = entry.path().filename().string();
    bool handed = std::any_of(checker.captures.begin(), checker.captures.end(),
                              [&](const CaptureCheck& c) { return c.file == name; });
    if (LooksLikeCaptureName(name) && !handed) {
      failures.push_back("capture without post-processing: " + name);
    }
  }
  double worstShare = 1.0;
  std::string worstShareFile = "-";
  for (const CaptureCheck& capture : checker.captures) {
    if (!capture.fault.empty()) {
      failures.push_back(capture.file + ": " + capture.fault);
      continue;
    }
    double share = capture.framesExpected > 0
                       ? static_cast<double>(capture.frames) / capture.framesExpected
                       : 1.0;
    if (share < worstShare) {
      worstShare = share;
      worstShareFile = capture.file;
    }
    if (!HoldsEnoughFrames(capture)) {
      failures.push_back(Format(
          "%s: %lld frames of %.0f sent in lock (%s .. %s): the capture "
          "fell behind",
          capture.file.c_str(), static_cast<long long>(capture.frames), capture.framesExpected,
          Iso(capture.acquiredTime).c_str(), Iso(capture.endTime).c_str()));
    }
  }
  if (static_cast<std::int64_t>(checker.captures.size()) != finished) {
    failures.push_back(Format("%lld captures finished, %zu handed to post-processing",
                              static_cast<long long>(finished), checker.captures.size()));
  }
  std::map<std::string, int> expectedByCode = CountByCode(expected);
  std::map<std::string, int> capturedByCode = CountByCode(checker.captures);
  for (const auto& [code, count] : expectedByCode) {
    if (capturedByCode[code] < count) {
      failures.push_back(Format("%s: %d captures for %d passes let through", code.c_str(),
                                capturedByCode[code], count));
    }
  }
  std::vector<ListedPass> missed = Missed(expected, checker.captures);
  for (const ListedPass& pass : missed) {
    failures.push_back(Format("missed: slot %d %s %s .. %s", pass.slot, pass.name.c_str(),
                              Iso(pass.aos).c_str(), Iso(pass.los).c_str()));
  }
  const std::int64_t firstHourKiB = rssKiB.front();
  const std::int64_t lastKiB = rssKiB.back();
  // The kernel updates the high-water mark lazily: never report it below a sample.
  const std::int64_t peakKiB =
      std::max(StatusKiB("VmHWM"), *std::max_element(rssKiB.begin(), rssKiB.end()));
  if (rssKiB.size() >= 2 && MiB(lastKiB - firstHourKiB) > options.rssMarginMiB) {
    failures.push_back(Format("memory grew from %.1f MiB after the first hour to %.1f MiB",
                              MiB(firstHourKiB), MiB(lastKiB)));
  }
  for (const std::string& text : messages.Shown()) failures.push_back("message box: " + text);
  for (const std::string& text : listingMessages.Shown()) {
    failures.push_back("pass listing message: " + text);
  }

  if (options.verbose) {
    for (const CaptureCheck& capture : checker.captures) {
      std::cout << Format("  capture %s %s .. %s frames %lld of %.0f\n", capture.file.c_str(),
                          Iso(capture.acquiredTime).c_str(), Iso(capture.endTime).c_str(),
                          static_cast<long long>(capture.frames), capture.framesExpected);
    }
  }
  std::map<std::string, int> difference;
  for (const auto& [code, count] : capturedByCode) difference[code] = count - expectedByCode[code];
  for (const auto& [code, count] : expectedByCode) difference[code] = capturedByCode[code] - count;

  std::cout << Format("simulated hours      %.1f\n", options.hours)
            << Format("speed                %.0fx\n", options.speed)
            << Format("passes listed        %zu (AOS in the window)\n", listed.size())
            << Format("let through          %lld (in the window), %zu whole inside it\n",
                      static_cast<long long>(letThroughInWindow), expected.size())
            << Format("  cut by the edges   %lld (not expected)\n", static_cast<long long>(edgeCut))
            << "  expected by code   " << Counts(expectedByCode) << "\n"
            << Format("captures             %zu\n", checker.captures.size())
            << "  by code            " << Counts(capturedByCode) << "\n"
            << "  captured - expected " << Counts(difference) << "\n"
            << Format("missed               %zu\n", missed.size())
            << Format("post-processing      %lld started\n",
                      static_cast<long long>(spawner.total()))
            << Format("total frames         %lld\n", static_cast<long long>(checker.totalFrames))
            << Format("worst frame share    %.4f (%s)\n", worstShare, worstShareFile.c_str())
            << Format("rss first hour       %.1f MiB, last %.1f MiB, peak %.1f MiB\n",
                      MiB(firstHourKiB), MiB(lastKiB), MiB(peakKiB))
            << Format("message boxes        %zu\n", messages.Shown().size())
            << Format("wall time            %.1f s\n", wallSeconds);
  if (failures.empty()) {
    std::cout << "soak: all checks passed\n";
    return 0;
  }
  for (const std::string& failure : failures) std::cout << "FAIL " << failure << "\n";
  std::cout << Format("soak: %zu checks failed\n", failures.size());
  return 1;
}

}  // namespace
}  // namespace halvik::soak

int main(int argc, char** argv) {
  std::optional<halvik::soak::Options> options = halvik::soak::ParseOptions(argc, argv);
  if (!options) {
    halvik::soak::Usage();
    return 2;
  }
  return halvik::soak::Soak(*options);
}
