// The station itself: `halvik` with no subcommand runs it in the current directory.
#include <QApplication>
#include <QGuiApplication>
#include <QImage>
#include <QScreen>
#include <QTimer>
#include <atomic>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "app/Headless.h"
#include "app/PidFile.h"
#include "app/ServiceNotify.h"
#include "app/SimControl.h"
#include "app/SimHardware.h"
#include "app/SimStart.h"
#include "app/SnapshotTarget.h"
#include "app/Station.h"
#include "app/StationUi.h"
#include "linuxhw/HardwareConf.h"
#include "linuxhw/LinuxHardware.h"
#include "orbit/PropagateListing.h"
#include "platform/Clock.h"
#include "platform/LinuxSystemInfo.h"
#include "platform/PosixSpawner.h"
#include "platform/Text.h"
#include "tools/Commands.h"
#include "ui/qt/Halvik32View.h"
#include "ui/qt/MainFrame.h"
#include "ui/qt/QtCanvas.h"
#include "ui/qt/QtMessages.h"
#include "ui/qt/Snapshot.h"
#include "ui/qt/StatusPng.h"
#include "web/ReceiverLevel.h"
#include "web/WebServer.h"

namespace halvik::tools {
namespace {

// Start-up and shut-down wait out simulated seconds and hear no stop request meanwhile: at this
// speed a SIGTERM ends the station within about 7 s (at 0.01, over a minute). The clock itself
// takes speeds down to kMinSimSpeed.
constexpr double kSlowestSimSpeedOption = 0.1;

// Set by a stop signal: the orderly shut-down follows.
std::atomic<int> stopSignal{0};
// Set by SIGHUP: elements.dat has changed (update-elements sends it); the station reloads it.
std::atomic<int> reloadSignal{0};

extern "C" void OnStopSignal(int) {
  stopSignal.store(1);
}

extern "C" void OnReloadSignal(int) {
  reloadSignal.store(1);
}

// Every signal the station answers, in one place. Those that end the station do so in order:
// captures finished, lists saved, the antenna parked. SIGHUP reloads elements.dat. SIGUSR1 and
// SIGUSR2 have no use here and are ignored: by default either would end the station at once,
// mid-capture, with nothing saved or parked.
void InstallSignalHandlers() {
  for (int signal : {SIGINT, SIGTERM, SIGQUIT}) std::signal(signal, OnStopSignal);
  std::signal(SIGHUP, OnReloadSignal);
  for (int signal : {SIGUSR1, SIGUSR2}) std::signal(signal, SIG_IGN);
}

// Exit status when a worker thread did not stop within its time at shut-down.
constexpr int kShutdownFailureExitStatus = 4;

struct RunOptions {
  bool headless = false;
  std::string hardware = "sim";
  std::string simStart;          // ISO 8601 UTC, "next-pass", or empty for the computer's clock
  std::string simComputerClock;  // ISO 8601 UTC; empty: the same as the simulated start
  std::string simGpsWeek = "full";
  double simSpeed = 1.0;
  std::int64_t exitAfterPasses = 0;
  std::string snapshot;
  std::int64_t snapshotEvery = 10;
  std::int64_t statusEvery = 1;
  std::string http;        // ADDR:PORT of the web interface; empty: none
  std::string simControl;  // a control file to follow while running; empty: none
  LinuxHardwareOptions linuxDevices;
};

// hardware.conf in the station directory fills the hardware options the command line left
// out; false (after a one-line message) when the file is bad.
bool ApplyHardwareConf(const std::filesystem::path& dir, const CLI::App& app, RunOptions& options) {
  std::string error;
  const HardwareConf conf = ReadHardwareConf(dir / kHardwareConfFile, error);
  if (!error.empty()) {
    std::cerr << "halvik: " << error << "\n";
    return false;
  }
  FillFromHardwareConf(
      conf, [&app](const char* name) { return app.get_option(name)->count() > 0; },
      options.hardware, options.linuxDevices);
  return true;
}

bool DisplayAvailable() {
  const char* x = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (x && *x) || (wayland && *wayland);
}

// Ends the process at once: a worker thread may still be running, so nothing may be destroyed.
[[noreturn]] void EndProcess(int status) {
  std::fflush(stdout);
  std::fflush(stderr);
  std::_Exit(status);
}

// Shuts the station down; a worker that did not stop is named and ends the process at once.
void ShutDownOrEnd(Station& station) {
  if (station.Shutdown()) return;
  const std::string which = station.ThreadsNotStopped();
  const bool both = which.find(" and ") != std::string::npos;
  std::cerr << "halvik: the " << which << (both ? " threads" : " thread") << " did not stop within "
            << kWorkerStopLimitMs / 1000 << " s; ending without " << (both ? "them" : "it") << "\n";
  EndProcess(kShutdownFailureExitStatus);
}

// Writes the --snapshot pictures. A failed save is said on stderr with the path and the reason,
// once for a run of the same failure (a full disk would otherwise fill the log every few seconds).
class SnapshotSaver {
 public:
  explicit SnapshotSaver(std::string path) : path_(std::move(path)) {}
  void Save(const QImage& image) {
    const std::string problem = SavePng(image, QString::fromStdString(path_));
    if (!problem.empty() && problem != lastProblem_) {
      std::cerr << "halvik: snapshot not saved to " << path_ << ": " << problem << "\n";
    }
    lastProblem_ = problem;
  }

 private:
  std::string path_;
  std::string lastProblem_;
};

// The time of an ISO 8601 UTC option, to the millisecond.
std::optional<SystemTime> IsoUtcTime(const std::string& text) {
  std::optional<double> t = ParseIsoUtc(text);
  if (!t) return std::nullopt;
  return SystemTime::FromMilliseconds(static_cast<std::int64_t>(*t * 1000.0));
}

// The options no station can start with are said in one line: false.
bool OptionsUsable(const RunOptions& options) {
  if (options.hardware != "sim" && options.hardware != "linux") {
    std::cerr << "halvik: --hardware wants sim (the simulated boards) or linux (Hamlib, gpsd "
                 "and a frame stream), not '"
              << options.hardware << "'\n";
    return false;
  }
  if (!options.snapshot.empty()) {
    if (const std::string problem = SnapshotTargetProblem(options.snapshot); !problem.empty()) {
      std::cerr << "halvik: --snapshot: " << problem << "\n";
      return false;
    }
  }
  return true;
}

// Where the station's time starts, and what the computer's clock reads then.
struct StartTimes {
  SystemTime station;
  SystemTime computer;
};

// The start times the options ask for; nothing (after a one-line message) when they cannot be
// had.
std::optional<StartTimes> ChooseStartTimes(const RunOptions& options,
                                           const std::filesystem::path& dir) {
  SystemTime start = RealClock().Now();
  if (options.simStart == "next-pass") {
    std::optional<SystemTime> next = NextPassStart(dir);
    if (!next) {
      std::cerr << "halvik: no pass found to start the simulation at (check elements.dat, "
                   "sats.dat and location.dat)\n";
      return std::nullopt;
    }
    start = *next;
  } else if (!options.simStart.empty()) {
    std::optional<SystemTime> t = IsoUtcTime(options.simStart);
    if (!t) {
      std::cerr << "halvik: --sim-start wants an ISO 8601 UTC time such as "
                   "2000-11-17T10:00:00Z, or next-pass\n";
      return std::nullopt;
    }
    start = *t;
  }
  // The computer's clock may read anything at the start (a machine without a working
  // real-time clock boots at 1970); the simulated sky and GPS keep the true time.
  SystemTime computerStart = start;
  if (!options.simComputerClock.empty()) {
    std::optional<SystemTime> t = IsoUtcTime(options.simComputerClock);
    if (!t) {
      std::cerr << "halvik: --sim-computer-clock wants an ISO 8601 UTC time such as "
                   "1970-01-01T00:00:00Z\n";
      return std::nullopt;
    }
    computerStart = *t;
  }
  return StartTimes{start, computerStart};
}

// Qt's application object: offscreen without a window, with widgets for one. Qt keeps the
// argument count and vector for the application's life, so they live here beside it.
class Toolkit {
 public:
  explicit Toolkit(bool headless) {
    if (headless) {
      setenv("QT_QPA_PLATFORM", "offscreen", 1);
      app_ = std::make_unique<QGuiApplication>(argc_, argv_);
    } else {
      app_ = std::make_unique<QApplication>(argc_, argv_);
    }
    // Qt takes the user's locale; station files and the screen keep the C locale's numbers.
    std::setlocale(LC_NUMERIC, "C");
  }
  Toolkit(const Toolkit&) = delete;
  Toolkit& operator=(const Toolkit&) = delete;
  int Exec() { return app_->exec(); }

 private:
  int argc_ = 1;
  char name_[7] = "halvik";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<QGuiApplication> app_;
};

// Where the station's messages go: the log without a window, message boxes with one.
class StationMessages {
 public:
  StationMessages(Clock& clock, bool headless) : logged_(clock) {
    if (!headless) boxes_ = std::make_unique<QtMessages>();
  }
  Messages& messages() { return boxes_ ? static_cast<Messages&>(*boxes_) : logged_; }
  void StopDisplaying() {
    if (boxes_) boxes_->StopDisplaying();
  }

 private:
  LoggedMessages logged_;
  std::unique_ptr<QtMessages> boxes_;
};

// The station's hardware kind: the simulated boards, or Linux devices on the same clock
// (--sim-start and --sim-speed then move and scale the station's time only).
// `worldClock` is the clock before any setting of the computer's (see --sim-control).
std::unique_ptr<StationHardware> MakeHardware(const RunOptions& options,
                                              const std::filesystem::path& dir,
                                              const StartTimes& times, Clock& clock,
                                              Clock& worldClock, Messages& messages,
                                              Beeper& beeper) {
  if (options.hardware == "linux") {
    return std::make_unique<LinuxHardware>(options.linuxDevices, clock, messages);
  }
  SimHardwareOptions simOptions;
  simOptions.stationDir = dir;
  simOptions.computerClockErrorSeconds =
      static_cast<double>(times.station.AsMilliseconds() - times.computer.AsMilliseconds()) /
      1000.0;
  simOptions.gpsWeekModulo1024 = options.simGpsWeek == "mod1024";
  return std::make_unique<SimStationHardware>(dir, clock, worldClock, messages, beeper, simOptions);
}

// Starts the web interface when --http names an address; false (after a one-line message) when
// its port cannot be had.
bool StartWebInterface(web::WebServer& webServer, const std::string& http) {
  if (auto address = web::ParseHttpAddress(http); address && !http.empty()) {
    if (std::string error = webServer.Start(*address); !error.empty()) {
      std::cerr << "halvik: --http: " << error << "\n";
      return false;
    }
    std::cerr << "halvik: web interface on http://" << address->host << ":" << webServer.port()
              << "/\n";
  }
  return true;
}

// Takes a change of the --sim-control file, and says in the log what the station was told.
void PollControl(SimControlFile& control, Clock& clock) {
  if (!control.Poll()) return;
  const SimControl& now = control.applied();
  std::cerr << IsoUtcSeconds(clock.Now().seconds) << " halvik: --sim-control: clock step "
            << now.clockStepMs << " ms, " << now.switches.fades.size() << " fades\n";
}

// What both run loops work on.
struct RunParts {
  const RunOptions& options;
  Station& station;
  StatusView& view;
  web::LevelRecordingReadout& readout;
  ServiceNotifier& notifier;
  Clock& clock;
  std::optional<SnapshotSaver>& snapshots;
  std::optional<SimControlFile>& control;
};

// The station without a window: status lines on stdout, snapshots drawn offscreen.
int RunWithoutWindow(RunParts& parts) {
  if (!parts.station.Start()) EndProcess(kStartupFailureExitStatus);
  parts.notifier.Start();
  QImage picture(kClientWidth, kClientHeight, QImage::Format_RGB32);
  EraseImage(picture);
  QtCanvas canvas(picture);
  HeadlessOptions run;
  run.exitAfterPasses = parts.options.exitAfterPasses;
  run.snapshotEverySeconds = parts.options.snapshotEvery;
  run.out = &std::cout;
  run.statusEverySeconds = parts.options.statusEvery;
  run.pollWithoutPaint = &parts.readout;
  run.stopSignal = &stopSignal;
  run.reloadSignal = &reloadSignal;
  if (parts.control) run.afterPaint = [&] { PollControl(*parts.control, parts.clock); };
  // A snapshot is the persistent picture with the whole quick-look image drawn in: rows the
  // live paint skipped while the simulation ran fast are there too.
  auto writeSnapshot = [&] {
    QImage copy = picture.copy();
    {
      QtCanvas still(copy);
      parts.view.DrawQuickLookPicture(still);
    }
    parts.snapshots->Save(copy);
  };
  if (parts.snapshots) run.snapshot = [&](StatusView&) { writeSnapshot(); };
  RunHeadless(parts.station, parts.view, canvas, run);
  if (parts.snapshots) writeSnapshot();
  parts.notifier.Stop();
  ShutDownOrEnd(parts.station);
  return 0;
}

// The station in its window, until the window closes: by the operator, a stop signal, or the
// passes asked for being done.
int RunInWindow(RunParts& parts, Toolkit& toolkit, StationMessages& messages) {
  StationMenuCommands commands(parts.station);
  CMainFrame frame(parts.view, commands, messages.messages());
  frame.show();
  if (!parts.station.Start()) EndProcess(kStartupFailureExitStatus);
  parts.notifier.Start();

  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (parts.control) PollControl(*parts.control, parts.clock);
    if (reloadSignal.exchange(0) != 0) {
      parts.station.tracking.ElementsReloadRequest.store(1, std::memory_order_release);
    }
    bool passesDone =
        parts.options.exitAfterPasses > 0 &&
        parts.station.captureStatus.CapturesFinished.load() >= parts.options.exitAfterPasses;
    if (stopSignal.load() != 0 || passesDone) frame.close();
  });
  watch.start(100);
  std::int64_t nextSnapshot = 0;
  QTimer snapshots;
  if (parts.snapshots) {
    QObject::connect(&snapshots, &QTimer::timeout, [&] {
      std::int64_t now = parts.clock.Now().seconds;
      if (now < nextSnapshot) return;
      nextSnapshot = now + parts.options.snapshotEvery;
      // What the X server shows of the window; grab() would repaint the view and so restart
      // its quick-look replay.
      parts.snapshots->Save(frame.screen()->grabWindow(frame.winId()).toImage());
    });
    snapshots.start(100);
  }
  toolkit.Exec();
  messages.StopDisplaying();
  parts.notifier.Stop();
  ShutDownOrEnd(parts.station);
  return 0;
}

// The station's start-up in order: options, clock, toolkit, signals, messages, hardware, the
// station and its views, web interface, pid file, then one of the two run loops.
int RunStation(const RunOptions& options) {
  if (!OptionsUsable(options)) return 2;
  const std::filesystem::path dir = std::filesystem::current_path();
  const std::optional<StartTimes> times = ChooseStartTimes(options, dir);
  if (!times) return 2;
  ScaledClock worldClock(times->computer, options.simSpeed);
  // The computer's clock as the station reads it: the world's, unless --sim-control sets it.
  OffsetClock clock(worldClock, 0);

  const bool headless = options.headless || !DisplayAvailable();
  Toolkit toolkit(headless);
  InstallSignalHandlers();
  StationMessages messages(clock, headless);

  TerminalBeeper beeper;
  LinuxSystemInfo systemInfo;
  PosixSpawner spawner;
  std::unique_ptr<StationHardware> hardware =
      MakeHardware(options, dir, *times, clock, worldClock, messages.messages(), beeper);
  StationEnvironment env{dir, clock, messages.messages(), beeper, systemInfo, spawner, *hardware};
  Station station(env);
  StationReceiverReadout receiverReadout(station.receiver);
  web::LevelRecordingReadout readout(receiverReadout);
  StatusView view(StatusSourcesOf(station, readout));
  PidFile pidFile(dir);
  ServiceNotifier notifier(station, [&] { return StatusLine(station, clock.Now().seconds); });
  web::WebServer webServer(station, &readout, RenderStatusPng);
  if (!StartWebInterface(webServer, options.http)) return 2;

  std::optional<SnapshotSaver> snapshotSaver;
  if (!options.snapshot.empty()) snapshotSaver.emplace(options.snapshot);
  std::optional<SimControlFile> control;
  if (!options.simControl.empty()) {
    auto* sim = dynamic_cast<SimStationHardware*>(hardware.get());
    control.emplace(options.simControl, clock, sim ? &sim->sim() : nullptr);
  }
  RunParts parts{options, station, view, readout, notifier, clock, snapshotSaver, control};
  return headless ? RunWithoutWindow(parts) : RunInWindow(parts, toolkit, messages);
}

}  // namespace

void AddRunOptions(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<RunOptions>();
  app.add_flag("--headless", options->headless,
               "Run without a window (also when no display is available)");
  app.add_option(HardwareFlag(kHardwareOption), options->hardware,
                 "Station hardware: sim (simulated boards) or linux (Hamlib, gpsd, frame stream); "
                 "also read from hardware.conf in the station directory, as are the next ten")
      ->capture_default_str();
  app.add_option(HardwareFlag(kRotatorModelOption), options->linuxDevices.rotatorModel,
                 "linux: Hamlib rotator model, as rotctl -m takes it (2: rotctld)")
      ->check(CLI::NonNegativeNumber);
  app.add_option(HardwareFlag(kRotatorPortOption), options->linuxDevices.rotatorPort,
                 "linux: the rotator's serial device, or HOST:PORT of rotctld");
  app.add_option(HardwareFlag(kRigModelOption), options->linuxDevices.rigModel,
                 "linux: Hamlib rig model, as rigctl -m takes it (2: rigctld; 0: no rig to tune)")
      ->check(CLI::NonNegativeNumber);
  app.add_option(HardwareFlag(kRigPortOption), options->linuxDevices.rigPort,
                 "linux: the rig's serial device, or HOST:PORT of rigctld");
  app.add_option(HardwareFlag(kGpsdOption), options->linuxDevices.gpsd,
                 "linux: gpsd's HOST:PORT, or none")
      ->capture_default_str();
  app.add_option(HardwareFlag(kFramesOption), options->linuxDevices.frames,
                 "linux: HRPT words from tcp:HOST:PORT, a file or a FIFO (16-bit little-endian, "
                 "the word in the low 10 bits), or none")
      ->capture_default_str();
  app.add_option(HardwareFlag(kSdrOption), options->linuxDevices.sdr,
                 "linux: the station's own demodulator on an SDR: soapy:ARGS (driver=airspy), "
                 "rtltcp:HOST:PORT, file:RECORDING (SigMF), or none; replaces --frames and the rig")
      ->capture_default_str();
  app.add_option(HardwareFlag(kSdrRateOption), options->linuxDevices.sdrRate,
                 "linux: samples per second asked of the SDR")
      ->capture_default_str();
  app.add_option(HardwareFlag(kSdrGainOption), options->linuxDevices.sdrGain,
                 "linux: the SDR's gain in dB, or auto")
      ->capture_default_str();
  app.add_flag(HardwareFlag(kRecordIqOption), options->linuxDevices.recordIq,
               "linux: keep each pass's baseband as a SigMF recording beside the capture");
  // scripts/run gives its own start and speed; what its caller adds after them wins.
  app.add_option("--sim-start", options->simStart,
                 "Simulated start time: ISO 8601 UTC (2000-11-17T10:00:00Z) or next-pass")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  app.add_option("--sim-computer-clock", options->simComputerClock,
                 "What the computer's clock reads at the simulated start: ISO 8601 UTC "
                 "(default: the simulated start)");
  app.add_option("--sim-gps-week", options->simGpsWeek,
                 "How the simulated GPS reports its week: full, or mod1024 as older receivers")
      ->check(CLI::IsMember({"full", "mod1024"}))
      ->capture_default_str();
  app.add_option("--sim-speed", options->simSpeed,
                 "Simulated clock speed (times real time, 0.1 to 10000)")
      ->check(CLI::Range(kSlowestSimSpeedOption, kMaxSimSpeed))
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)
      ->capture_default_str();
  app.add_option("--exit-after-passes", options->exitAfterPasses,
                 "Shut down in order after this many captures have finished")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--snapshot", options->snapshot, "Write the status view to this PNG file");
  app.add_option("--snapshot-every", options->snapshotEvery, "Seconds between snapshots")
      ->check(CLI::PositiveNumber)
      ->capture_default_str();
  app.add_option("--status-every", options->statusEvery,
                 "Headless: seconds of station time between status lines (0: none)")
      ->check(CLI::NonNegativeNumber)
      ->capture_default_str();
  app.add_option("--http", options->http,
                 "Serve a read-only web page, JSON and metrics on ADDR:PORT (127.0.0.1:8073)")
      ->check([](const std::string& text) {
        return web::ParseHttpAddress(text) ? std::string() : "wants ADDR:PORT";
      });
  app.add_option("--sim-control", options->simControl,
                 "Follow this file while running: steps of the computer's clock and the simulated "
                 "boards' failure switches (for fault-injection runs)");
  app.final_callback([&app, &exitCode, options] {
    if (!app.get_subcommands().empty()) return;
    if (!ApplyHardwareConf(std::filesystem::current_path(), app, *options)) {
      exitCode = 2;
      return;
    }
    exitCode = RunStation(*options);
  });
}

}  // namespace halvik::tools
