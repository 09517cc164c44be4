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
#include "app/SimHardware.h"
#include "app/SimStart.h"
#include "app/SnapshotTarget.h"
#include "app/Station.h"
#include "app/StationUi.h"
#include "orbit/PropagateListing.h"
#include "platform/Clock.h"
#include "platform/LinuxSystemInfo.h"
#include "platform/PosixSpawner.h"
#include "tools/Commands.h"
#include "ui/qt/Halvik32View.h"
#include "ui/qt/MainFrame.h"
#include "ui/qt/QtCanvas.h"
#include "ui/qt/QtMessages.h"
#include "ui/qt/Snapshot.h"

namespace halvik::tools {
namespace {

// Start-up and shut-down wait out simulated seconds and hear no stop request meanwhile: at this
// speed a SIGTERM ends the station within about 7 s (at 0.01, over a minute). The clock itself
// takes speeds down to kMinSimSpeed.
constexpr double kSlowestSimSpeedOption = 0.1;

// Set by SIGINT and SIGTERM: the orderly shut-down follows.
std::atomic<int> stopSignal{0};

extern "C" void OnStopSignal(int) {
  stopSignal.store(1);
}

struct RunOptions {
  bool headless = false;
  std::string hardware = "sim";
  std::string simStart;  // ISO 8601 UTC, "next-pass", or empty for the computer's clock
  double simSpeed = 1.0;
  std::int64_t exitAfterPasses = 0;
  std::string snapshot;
  std::int64_t snapshotEvery = 10;
  std::int64_t statusEvery = 1;
};

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

int RunStation(const RunOptions& options) {
  if (options.hardware != "sim") {
    std::cerr << "halvik: no driver for hardware '" << options.hardware
              << "' on this system; only the simulated boards (--hardware sim) are available\n";
    return 2;
  }
  const std::filesystem::path dir = std::filesystem::current_path();
  if (!options.snapshot.empty()) {
    if (const std::string problem = SnapshotTargetProblem(options.snapshot); !problem.empty()) {
      std::cerr << "halvik: --snapshot: " << problem << "\n";
      return 2;
    }
  }

  SystemTime start = RealClock().Now();
  if (options.simStart == "next-pass") {
    std::optional<SystemTime> next = NextPassStart(dir);
    if (!next) {
      std::cerr << "halvik: no pass found to start the simulation at (check elements.dat, "
                   "sats.dat and location.dat)\n";
      return 2;
    }
    start = *next;
  } else if (!options.simStart.empty()) {
    std::optional<double> t = ParseIsoUtc(options.simStart);
    if (!t) {
      std::cerr << "halvik: --sim-start wants an ISO 8601 UTC time such as "
                   "2000-11-17T10:00:00Z, or next-pass\n";
      return 2;
    }
    start = SystemTime::FromMilliseconds(static_cast<std::int64_t>(*t * 1000.0));
  }
  ScaledClock clock(start, options.simSpeed);

  const bool headless = options.headless || !DisplayAvailable();
  if (headless) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  int argc = 1;
  char name[] = "halvik";
  char* argv[] = {name, nullptr};
  std::unique_ptr<QGuiApplication> gui;
  if (headless) {
    gui = std::make_unique<QGuiApplication>(argc, argv);
  } else {
    gui = std::make_unique<QApplication>(argc, argv);
  }
  // Qt takes the user's locale; station files and the screen keep the C locale's numbers.
  std::setlocale(LC_NUMERIC, "C");

  std::signal(SIGINT, OnStopSignal);
  std::signal(SIGTERM, OnStopSignal);

  LoggedMessages logged(clock);
  std::unique_ptr<QtMessages> boxes;
  if (!headless) boxes = std::make_unique<QtMessages>();
  Messages& messages = headless ? static_cast<Messages&>(logged) : *boxes;

  TerminalBeeper beeper;
  LinuxSystemInfo systemInfo;
  PosixSpawner spawner;
  DeviceNamespace devices;
  SimHardwareOptions simOptions;
  simOptions.stationDir = dir;
  SimHardware hardware(clock, devices, simOptions);
  StationEnvironment env{dir,    clock, messages, beeper, systemInfo, spawner, hardware.services(),
                         devices};
  Station station(env);
  StationReceiverReadout readout(station.receiver);
  StatusView view(StatusSourcesOf(station, readout));

  std::optional<std::string> snapshotPath;
  if (!options.snapshot.empty()) snapshotPath = options.snapshot;

  if (headless) {
    if (!station.Start()) EndProcess(kStartupFailureExitStatus);
    QImage picture(kClientWidth, kClientHeight, QImage::Format_RGB32);
    EraseImage(picture);
    QtCanvas canvas(picture);
    HeadlessOptions run;
    run.exitAfterPasses = options.exitAfterPasses;
    run.snapshotEverySeconds = options.snapshotEvery;
    run.out = &std::cout;
    run.statusEverySeconds = options.statusEvery;
    run.stopSignal = &stopSignal;
    // A snapshot is the persistent picture with the whole quick-look image drawn in: rows the
    // live paint skipped while the simulation ran fast are there too.
    auto writeSnapshot = [&] {
      QImage copy = picture.copy();
      {
        QtCanvas still(copy);
        view.DrawQuickLookPicture(still);
      }
      copy.save(QString::fromStdString(*snapshotPath), "PNG");
    };
    if (snapshotPath) run.snapshot = [&](StatusView&) { writeSnapshot(); };
    RunHeadless(station, view, canvas, run);
    if (snapshotPath) writeSnapshot();
    if (!station.Shutdown()) EndProcess(0);
    return 0;
  }

  StationMenuCommands commands(station);
  CMainFrame frame(view, commands, messages);
  frame.show();
  if (!station.Start()) EndProcess(kStartupFailureExitStatus);

  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    bool passesDone = options.exitAfterPasses > 0 &&
                      station.captureStatus.CapturesFinished.load() >= options.exitAfterPasses;
    if (stopSignal.load() != 0 || passesDone) frame.close();
  });
  watch.start(100);
  std::int64_t nextSnapshot = 0;
  QTimer snapshots;
  if (snapshotPath) {
    QObject::connect(&snapshots, &QTimer::timeout, [&] {
      std::int64_t now = clock.Now().seconds;
      if (now < nextSnapshot) return;
      nextSnapshot = now + options.snapshotEvery;
      // What the X server shows of the window; grab() would repaint the view and so restart
      // its quick-look replay.
      frame.screen()->grabWindow(frame.winId()).save(QString::fromStdString(*snapshotPath), "PNG");
    });
    snapshots.start(100);
  }
  gui->exec();
  boxes->StopDisplaying();
  if (!station.Shutdown()) EndProcess(0);
  return 0;
}

}  // namespace

void AddRunOptions(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<RunOptions>();
  app.add_flag("--headless", options->headless,
               "Run without a window (also when no display is available)");
  app.add_option("--hardware", options->hardware, "Station boards: sim (simulated)")
      ->capture_default_str();
  app.add_option("--sim-start", options->simStart,
                 "Simulated start time: ISO 8601 UTC (2000-11-17T10:00:00Z) or next-pass");
  app.add_option("--sim-speed", options->simSpeed,
                 "Simulated clock speed (times real time, 0.1 to 10000)")
      ->check(CLI::Range(kSlowestSimSpeedOption, kMaxSimSpeed))
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
  app.final_callback([&app, &exitCode, options] {
    if (app.get_subcommands().empty()) exitCode = RunStation(*options);
  });
}

}  // namespace halvik::tools
