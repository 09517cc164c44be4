// The chaos run: `halvik --headless` as a child process, kept running as its service unit would
// (restarted after an unclean exit, a watchdog on its notify socket), while faults drawn from a
// seed are done to it and to what it works with. Prints one table and exits non-zero when a
// figure that must be zero is not.
#include <fcntl.h>
#include <httplib.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/SampleStation.h"
#include "app/SimHardware.h"
#include "app/SimStart.h"
#include "capture/CaptureFile.h"
#include "capture/CaptureFileReader.h"
#include "chaos/ChaosPlan.h"
#include "config/PassListing.h"
#include "orbit/PropagateListing.h"
#include "platform/Messages.h"
#include "platform/Text.h"
#include "platform/Units.h"
#include "sim/NmeaLog.h"
#include "soak/SoakPlan.h"
#include "support/Daemon.h"
#include "support/GpsFake.h"

namespace halvik::chaos {
namespace {

using Steady = std::chrono::steady_clock;
using soak::ListedPass;

// What the unit file says: WatchdogSec=60, RestartSec=10 (taken as simulated seconds, so the
// station is down about as much of the sky's time as a real one would be).
constexpr double kWatchdogRealSeconds = 60;
constexpr double kRestartSimSeconds = 10;
// The orderly stop is given this long (TimeoutStopSec=90) before SIGKILL.
constexpr double kStopRealSeconds = 90;
constexpr std::int64_t kLeadSeconds = 300;
constexpr std::int64_t kMarginSeconds = 600;  // no fault this near the run's edges
constexpr std::int64_t kTmpfsBytes = 512LL << 20;
// The station's time may trail the run's by its start-up (simulated seconds at the run's speed)
// and a status poll's age.
constexpr double kTimeToleranceSeconds = 45;
// The dummy rotator turns this fast in real time; the station's time runs `speed` times faster.
// gpsfake's log: the sample station's place, at a date gpsd takes as current (its fix, not its
// time, is what the station uses).
constexpr std::int64_t kGpsLogUtc = 1704067200;  // 2024-01-01

struct Options {
  std::string kind = "sim";
  double hours = 24;
  double speed = 0;  // 0: the kind's own
  std::uint64_t seed = 1;
  std::int64_t meanGapSeconds = 1800;
  std::filesystem::path halvik;
  bool verbose = false;
};

std::optional<Options> ParseOptions(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (i + 1 >= argc) return std::nullopt;
    std::string value = argv[++i];
    if (arg == "--kind" && (value == "sim" || value == "linux")) {
      o.kind = value;
    } else if (arg == "--hours") {
      o.hours = ParseDouble(value);
    } else if (arg == "--days") {
      o.hours = ParseDouble(value) * 24;
    } else if (arg == "--speed") {
      o.speed = ParseDouble(value);
    } else if (arg == "--seed") {
      o.seed = std::strtoull(value.c_str(), nullptr, 10);
    } else if (arg == "--mean-gap") {
      o.meanGapSeconds = ParseLong(value);
    } else if (arg == "--halvik") {
      o.halvik = std::filesystem::absolute(value);
    } else if (arg == "--verbose") {
      o.verbose = value == "1";
    } else {
      return std::nullopt;
    }
  }
  if (o.speed == 0) o.speed = o.kind == "sim" ? 60 : 10;
  if (!(o.hours > 0 && o.speed >= 1 && o.meanGapSeconds > 0) || o.halvik.empty()) {
    return std::nullopt;
  }
  return o;
}

std::string Iso(std::int64_t seconds) {
  return IsoUtcSeconds(seconds);
}

// A field of /proc/PID/status in KiB, or -1.
std::int64_t StatusKiB(pid_t pid, const std::string& field) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(field + ":", 0) == 0) return ParseLong(line.substr(field.size() + 1));
  }
  return -1;
}

std::int64_t OpenDescriptors(pid_t pid) {
  std::error_code error;
  std::int64_t count = 0;
  for (std::filesystem::directory_iterator it("/proc/" + std::to_string(pid) + "/fd", error), end;
       !error && it != end; it.increment(error)) {
    ++count;
  }
  return error ? -1 : count;
}

std::int64_t Lines(const std::string& text) {
  return std::count(text.begin(), text.end(), '\n');
}

std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

NmeaFix GpsFix() {
  return {56.0, 10.0, 150.0 / kFeetPerMetre - kNmeaGeoidSeparationMetres, kGpsLogUtc};
}

// One fault as it went: when the station was healthy again after it.
struct Outcome {
  Fault fault;
  bool begun = false;
  bool ended = false;
  std::optional<std::int64_t> recoveredAt;  // simulated seconds
  std::int64_t effectiveEnd = 0;            // end, or when the station was back up
  std::string note;                         // what the station did
};

struct Row {
  int injected = 0;
  int recovered = 0;
  std::int64_t worstRecovery = 0;
  int passesHit = 0;  // planned passes the fault touched
  int passesAccounted = 0;
  double framesLost = 0;
};

class ChaosRun {
 public:
  explicit ChaosRun(Options options) : o_(std::move(options)), linux_(o_.kind == "linux") {}
  int Run();

 private:
  bool Prepare();
  void StartStation();
  void Signal(int signal);
  void Tick();
  void Reap();
  void ReadNotifications();
  void PollHealth();
  void CollectCaptures();
  void CheckStationFiles(const char* when);
  void Begin(Outcome& outcome);
  void End(Outcome& outcome);
  void WriteControl();
  void UpdateElements(bool broken);
  void Sample();
  int Report();
  std::int64_t SimNow() const {
    const double real = std::chrono::duration<double>(Steady::now() - wall0_).count();
    return start_ + static_cast<std::int64_t>(real * o_.speed);
  }
  void Log(const std::string& text) {
    log_ << Iso(SimNow()) << " " << text << "\n" << std::flush;
    if (o_.verbose) std::cout << Iso(SimNow()) << " " << text << "\n" << std::flush;
  }

  Options o_;
  bool linux_;
  std::filesystem::path runDir_, dir_, control_, socketPath_;
  bool tmpfs_ = false;
  std::ofstream log_;
  Steady::time_point wall0_;
  std::int64_t start_ = 0, end_ = 0;
  std::vector<ListedPass> planned_;
  std::vector<Outcome> outcomes_;
  std::size_t next_ = 0;

  pid_t pid_ = -1;
  int notify_ = -1;
  int httpPort_ = 0;
  bool ready_ = false;
  Steady::time_point lastPing_;
  std::int64_t downSince_ = 0;
  std::optional<std::int64_t> restartAt_;
  bool stoppedOnPurpose_ = false;
  std::int64_t stepMs_ = 0, stepAtStart_ = 0;
  SimSwitches switches_;
  std::set<std::string> leftAtKill_;
  std::optional<Steady::time_point> leftoverCheckAt_;
  std::optional<std::int64_t> healthyAt_;
  std::optional<std::int64_t> timeWrongSince_;
  Steady::time_point nextHealthPoll_, nextScan_;
  int restarts_ = 0, watchdogRestarts_ = 0, uncleanExits_ = 0;

  std::vector<soak::CaptureCheck> captures_;
  std::vector<std::vector<Span>> lockSpans_;
  std::vector<std::string> mustBeZero_;  // every entry fails the run
  std::vector<std::string> findings_;    // reported, not failing
  std::map<std::string, std::string> filesAtStart_;
  std::int64_t nextSample_ = 0;
  std::vector<std::pair<std::int64_t, std::int64_t>> samples_;  // rss KiB, fds per hour

  std::optional<testing::Daemon> rotctld_, rigctld_, frames_;
  std::optional<GpsFake> gpsd_;
  int rotPort_ = 0, rigPort_ = 0, gpsPort_ = 0, framesPort_ = 0;
};

bool ChaosRun::Prepare() {
  char pattern[] = "/tmp/halvik-chaos-XXXXXX";
  if (!mkdtemp(pattern)) return false;
  runDir_ = pattern;
  dir_ = runDir_ / "station";
  control_ = runDir_ / "control";
  socketPath_ = runDir_ / "notify";
  std::filesystem::create_directory(dir_);
  log_.open(runDir_ / "chaos.log");
  // A file system of its own: it can be filled and made read-only without touching others.
  const std::string size = "size=" + std::to_string(kTmpfsBytes);
  tmpfs_ = mount("tmpfs", dir_.c_str(), "tmpfs", 0, size.c_str()) == 0;
  if (std::string error = InitStation(dir_); !error.empty()) {
    std::cerr << "chaos: cannot lay out the sample station: " << error << "\n";
    return false;
  }
  if (linux_) {
    std::ofstream(dir_ / "sats.dat") << "NOAA 15\n \n \n \n \n \n";
  }
  for (const char* name : {"sats.dat", "minel.dat", "location.dat", "elements.dat"}) {
    filesAtStart_[name] = ReadAll(dir_ / name);
  }
  std::optional<SystemTime> first = NextPassStart(dir_);
  if (!first) return false;
  start_ = first->seconds - kLeadSeconds;
  end_ = start_ + static_cast<std::int64_t>(o_.hours * 3600);

  RecordingMessages quiet;
  PassListing listing = ListPasses(dir_, start_ - 3600, o_.hours + 2.0, quiet);
  std::vector<ListedPass> all;
  for (const std::string& line : listing.lines) {
    if (auto pass = soak::ParsePassLine(line)) all.push_back(*pass);
  }
  for (const ListedPass& pass : soak::LetThrough(all)) {
    if (pass.los > 0 && pass.aos >= start_ + 180 && pass.los <= end_ - 180) {
      planned_.push_back(pass);
    }
  }
  // Faults; some single acts and short ones moved into the pass that follows, so they land
  // mid-capture.
  std::vector<Fault> faults = PlanFaults(FaultKinds(linux_, tmpfs_), start_ + kMarginSeconds,
                                         end_ - kMarginSeconds, o_.meanGapSeconds, o_.seed);
  int kills = 0;
  for (std::size_t i = 0; i < faults.size(); ++i) {
    Fault& f = faults[i];
    const bool midPass = f.kind == FaultKind::ElementsNew || f.kind == FaultKind::ElementsBroken ||
                         f.kind == FaultKind::SyncLostMidPass ||
                         f.kind == FaultKind::FramesDropped ||
                         (f.kind == FaultKind::Kill && kills++ % 2 == 0);
    if (!midPass) continue;
    const std::int64_t limit = i + 1 < faults.size() ? faults[i + 1].begin : end_;
    for (const ListedPass& pass : planned_) {
      const std::int64_t middle = (pass.aos + pass.los) / 2;
      if (middle < f.begin) continue;
      const std::int64_t length = f.end - f.begin;
      if (middle + length < limit) {
        f.begin = middle;
        f.end = middle + length;
      }
      break;
    }
  }
  for (const Fault& f : faults) outcomes_.push_back({f, false, false, std::nullopt, 0, ""});

  // Linux devices: the dummy daemons, gpsd fed by gpsfake, and the frame stream.
  if (linux_) {
    rotPort_ = testing::FreeLoopbackPort();
    rigPort_ = testing::FreeLoopbackPort();
    gpsPort_ = testing::FreeLoopbackPort();
    framesPort_ = testing::FreeLoopbackPort();
    rotctld_.emplace(std::vector<std::string>{"rotctld", "-m", "1", "-T", "127.0.0.1", "-t",
                                              std::to_string(rotPort_)});
    rigctld_.emplace(std::vector<std::string>{"rigctld", "-m", "1", "-T", "127.0.0.1", "-t",
                                              std::to_string(rigPort_)});
    frames_.emplace(std::vector<std::string>{o_.halvik.string(), "serve-frames", "--port",
                                             std::to_string(framesPort_), "--speed",
                                             Format("%g", o_.speed)});
    gpsd_.emplace(runDir_, NmeaLog(GpsFix()), static_cast<std::uint16_t>(gpsPort_));
    for (int port : {rotPort_, rigPort_, framesPort_}) {
      if (!testing::WaitForLoopbackPort(port)) return false;
    }
  }

  notify_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath_.c_str());
  if (notify_ < 0 || bind(notify_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    return false;
  }
  WriteControl();
  return true;
}

void ChaosRun::WriteControl() {
  std::string text = Format("clock-step-ms %lld\n", static_cast<long long>(stepMs_ - stepAtStart_));
  text += Format(
      "receiver-silent %d\ntracker-never-ready %d\ngps-silent %d\ngps-garbage %d\n"
      "synchronizer-stopped %d\n",
      switches_.receiverSilent, switches_.trackerNeverReady, switches_.gpsSilent,
      switches_.gpsGarbage, switches_.synchronizerStopped);
  for (const auto& [from, until] : switches_.fades) text += Format("fade %.0f %.0f\n", from, until);
  const std::filesystem::path temporary = control_.string() + ".new";
  std::ofstream(temporary) << text;
  std::filesystem::rename(temporary, control_);
}

void ChaosRun::StartStation() {
  const std::int64_t now = SimNow();
  stepAtStart_ = stepMs_;
  WriteControl();
  httpPort_ = testing::FreeLoopbackPort();
  std::vector<std::string> args = {o_.halvik.string(),
                                   "--headless",
                                   "--status-every",
                                   "600",
                                   "--sim-start",
                                   Iso(now),
                                   "--sim-computer-clock",
                                   Iso(now + stepMs_ / 1000),
                                   "--sim-speed",
                                   Format("%g", o_.speed),
                                   "--sim-control",
                                   control_.string(),
                                   "--http",
                                   "127.0.0.1:" + std::to_string(httpPort_)};
  if (linux_) {
    for (std::string arg :
         {"--hardware", "linux", "--rotator-model", "2", "--rig-model", "2", "--rotator-port"}) {
      args.push_back(arg);
    }
    args.push_back("127.0.0.1:" + std::to_string(rotPort_));
    args.insert(args.end(), {"--rig-port", "127.0.0.1:" + std::to_string(rigPort_), "--gpsd",
                             "127.0.0.1:" + std::to_string(gpsPort_), "--frames",
                             "tcp:127.0.0.1:" + std::to_string(framesPort_)});
  }
  const std::string logPath = (runDir_ / "station.log").string();
  pid_ = fork();
  if (pid_ == 0) {
    const int out = open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    dup2(out, 1);
    dup2(out, 2);
    if (chdir(dir_.c_str()) != 0) _exit(127);
    setenv("NOTIFY_SOCKET", socketPath_.c_str(), 1);
    setenv("WATCHDOG_USEC",
           std::to_string(static_cast<long long>(kWatchdogRealSeconds * 1e6)).c_str(), 1);
    setenv("WATCHDOG_PID", std::to_string(getpid()).c_str(), 1);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  ready_ = false;
  lastPing_ = Steady::now();
  Log(Format("station started, pid %d", pid_));
}

void ChaosRun::Signal(int signal) {
  if (pid_ > 0) kill(pid_, signal);
}

void ChaosRun::ReadNotifications() {
  char buffer[4096];
  for (;;) {
    const ssize_t n = recv(notify_, buffer, sizeof buffer - 1, 0);
    if (n <= 0) return;
    const std::string message(buffer, static_cast<std::size_t>(n));
    if (message.find("READY=1") != std::string::npos && !ready_) {
      ready_ = true;
      lastPing_ = Steady::now();
      Log("READY");
      CheckStationFiles("after a start");
      if (!leftAtKill_.empty()) leftoverCheckAt_ = Steady::now() + std::chrono::seconds(5);
    }
    if (message.find("WATCHDOG=1") != std::string::npos) lastPing_ = Steady::now();
  }
}

void ChaosRun::Reap() {
  if (pid_ <= 0) return;
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) != pid_) return;
  const bool clean = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  Log(WIFEXITED(status) ? Format("station exited with status %d", WEXITSTATUS(status))
                        : Format("station ended by signal %d", WTERMSIG(status)));
  if (stoppedOnPurpose_ && !clean) {
    findings_.push_back(Format("%s: the orderly stop ended with status %d", Iso(SimNow()).c_str(),
                               WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status)));
  }
  if (!stoppedOnPurpose_ && clean) {
    findings_.push_back(Format("%s: the station ended by itself", Iso(SimNow()).c_str()));
  }
  // Temporary capture files the dead station left: the next start must finish them.
  leftAtKill_.clear();
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(dir_, error)) {
    const std::string name = entry.path().filename().string();
    if (name.ends_with(".tmp")) leftAtKill_.insert(name);
  }
  if (!clean) ++uncleanExits_;
  pid_ = -1;
  ready_ = false;
  downSince_ = SimNow();
  healthyAt_.reset();
  // On-failure: an unclean end is restarted; a stop waits for its start.
  if (!stoppedOnPurpose_) restartAt_ = SimNow() + static_cast<std::int64_t>(kRestartSimSeconds);
}

void ChaosRun::PollHealth() {
  if (pid_ <= 0 || !ready_ || Steady::now() < nextHealthPoll_) return;
  nextHealthPoll_ = Steady::now() + std::chrono::milliseconds(200);
  httplib::Client client("127.0.0.1", httpPort_);
  client.set_connection_timeout(0, 300000);
  client.set_read_timeout(1, 0);
  auto result = client.Get("/status.json");
  bool healthy = false;
  bool timeRight = true;
  double stationOff = 0;
  if (result && result->status == 200) {
    const nlohmann::json status = nlohmann::json::parse(result->body, nullptr, false);
    if (!status.is_discarded()) {
      healthy = status.value("tracking_ready", false) &&
                status["antenna"].value("powered", false) &&
                (linux_ || (status["gps"].value("present", false) &&
                            status["gps"].value("time_valid", false) &&
                            !status["receiver"]["level_v"].is_null()));
      // The station's own time (its computer's clock and the GPS correction) against the sky's.
      const std::optional<double> at = ParseIsoUtc(status.value("time_utc", std::string()));
      stationOff = at ? *at - static_cast<double>(SimNow()) : 0;
      timeRight = std::abs(stationOff) < kTimeToleranceSeconds;
    }
  }
  if (!healthy) {
    healthyAt_.reset();
  }
  if (!timeRight && !timeWrongSince_) {
    timeWrongSince_ = SimNow();
    Log(Format("station time off by %.0f s", stationOff));
  } else if (timeRight && timeWrongSince_) {
    Log(Format("station time right again after %lld s",
               static_cast<long long>(SimNow() - *timeWrongSince_)));
    timeWrongSince_.reset();
  }
  if (!healthy || !timeRight) {
    healthyAt_.reset();
  } else if (!healthyAt_) {
    healthyAt_ = SimNow();
  }
}

void ChaosRun::CollectCaptures() {
  if (Steady::now() < nextScan_) return;
  nextScan_ = Steady::now() + std::chrono::seconds(2);
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(dir_, error)) {
    const std::string name = entry.path().filename().string();
    // A temporary name is a capture under way (or one a dead station left for the next start).
    if (!LooksLikeCaptureName(name) || name.ends_with(".tmp")) continue;
    CaptureReadResult read = ReadCaptureFile(entry.path());
    soak::CaptureCheck check = soak::CheckCapture(name, read);
    if (!check.fault.empty()) mustBeZero_.push_back("capture " + name + ": " + check.fault);
    Log(Format("capture %s frames %lld %s", name.c_str(), static_cast<long long>(check.frames),
               check.fault.c_str()));
    captures_.push_back(check);
    lockSpans_.push_back(LockSpans(read.contents));
    // The station's own free-space rule never sees the checked captures; the file system
    // stays free for the faults that fill it.
    std::filesystem::remove(entry.path(), error);
  }
  if (leftoverCheckAt_ && Steady::now() >= *leftoverCheckAt_) {
    for (const std::string& name : leftAtKill_) {
      if (std::filesystem::exists(dir_ / name)) {
        mustBeZero_.push_back("capture left unfinished after the restart: " + name);
      }
    }
    leftAtKill_.clear();
    leftoverCheckAt_.reset();
  }
}

void ChaosRun::CheckStationFiles(const char* when) {
  for (const auto& [name, before] : filesAtStart_) {
    std::error_code error;
    if (!std::filesystem::exists(dir_ / name, error)) {
      mustBeZero_.push_back(Format("%s lost (%s)", name.c_str(), when));
      continue;
    }
    const std::string now = ReadAll(dir_ / name);
    // The station may write its lists again, and update-elements merge newer sets, but a whole
    // file has as many lines as before (elements.dat at least as many) and ends with its line.
    const bool torn =
        now.empty() || now.back() != '\n' ||
        (name == "elements.dat" ? Lines(now) < Lines(before) : Lines(now) != Lines(before));
    if (torn) mustBeZero_.push_back(Format("%s torn (%s)", name.c_str(), when));
  }
  if (ReadElementEntries(dir_ / "elements.dat").empty()) {
    mustBeZero_.push_back(Format("elements.dat holds no set (%s)", when));
  }
}

void ChaosRun::UpdateElements(bool broken) {
  const std::filesystem::path file = runDir_ / (broken ? "broken.tle" : "newer.tle");
  std::ofstream out(file);
  if (broken) {
    out << "NOAA 15\n1 25338U 98030A   not an element set at all\n2 25338 nonsense\n"
        << "NOAA 16\n1 26536U 00055A   \x01\x02\xff garbage\n";
  } else {
    for (const ElementEntry& e : ReadElementEntries(dir_ / "elements.dat")) {
      auto [line1, line2] = MoveEpoch(e.line1, e.line2, 1.0 / 86400.0);
      out << e.name << "\n" << line1 << "\n" << line2 << "\n";
    }
  }
  out.close();
  const pid_t child = fork();
  if (child == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    execl(o_.halvik.c_str(), o_.halvik.c_str(), "update-elements", "--dir", dir_.c_str(),
          file.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  waitpid(child, &status, 0);
  Log(Format("update-elements %s: status %d", broken ? "broken" : "new",
             WIFEXITED(status) ? WEXITSTATUS(status) : -1));
}

void ChaosRun::Begin(Outcome& o) {
  o.begun = true;
  const Fault& f = o.fault;
  Log(Format("begin %s until %s", std::string(FaultName(f.kind)).c_str(), Iso(f.end).c_str()));
  switch (f.kind) {
    case FaultKind::Kill:
      Signal(SIGKILL);
      break;
    case FaultKind::Terminate:
      stoppedOnPurpose_ = true;
      Signal(SIGTERM);
      break;
    case FaultKind::Reload:
      Signal(SIGHUP);
      break;
    case FaultKind::ElementsNew:
      UpdateElements(false);
      break;
    case FaultKind::ElementsBroken:
      UpdateElements(true);
      break;
    case FaultKind::ClockStep:
      stepMs_ = f.stepMs;
      break;
    case FaultKind::DiskFull: {
      std::ofstream filler(dir_ / "chaos-filler", std::ios::binary);
      const std::string block(1 << 20, 'x');
      while (filler.write(block.data(), static_cast<std::streamsize>(block.size()))) {
      }
      break;
    }
    case FaultKind::ReadOnly:
      if (mount(nullptr, dir_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0) {
        o.note = "the remount refused (a file open for writing)";
      }
      break;
    case FaultKind::ReceiverSilent:
      switches_.receiverSilent = true;
      break;
    case FaultKind::TrackerNeverReady:
      switches_.trackerNeverReady = true;
      break;
    case FaultKind::GpsLost:
      switches_.gpsSilent = true;
      break;
    case FaultKind::GpsGarbage:
      switches_.gpsGarbage = true;
      break;
    case FaultKind::SynchronizerStopped:
      switches_.synchronizerStopped = true;
      break;
    case FaultKind::SyncLostMidPass:
      switches_.fades.emplace_back(static_cast<double>(f.begin), static_cast<double>(f.end));
      break;
    case FaultKind::RotctldKilled:
      rotctld_->Stop();
      break;
    case FaultKind::RigctldKilled:
      rigctld_->Stop();
      break;
    case FaultKind::RotctldHung:
      rotctld_->Pause();
      break;
    case FaultKind::GpsdGone:
      gpsd_.reset();
      break;
    case FaultKind::FramesDropped:
      frames_->Stop();
      break;
  }
  WriteControl();
}

void ChaosRun::End(Outcome& o) {
  o.ended = true;
  const Fault& f = o.fault;
  switch (f.kind) {
    case FaultKind::Terminate:
      stoppedOnPurpose_ = false;
      if (pid_ <= 0) restartAt_ = SimNow();
      break;
    case FaultKind::ClockStep:
      stepMs_ = 0;
      break;
    case FaultKind::DiskFull:
      std::filesystem::remove(dir_ / "chaos-filler");
      break;
    case FaultKind::ReadOnly:
      mount(nullptr, dir_.c_str(), nullptr, MS_REMOUNT, nullptr);
      break;
    case FaultKind::ReceiverSilent:
      switches_.receiverSilent = false;
      break;
    case FaultKind::TrackerNeverReady:
      switches_.trackerNeverReady = false;
      break;
    case FaultKind::GpsLost:
      switches_.gpsSilent = false;
      break;
    case FaultKind::GpsGarbage:
      switches_.gpsGarbage = false;
      break;
    case FaultKind::SynchronizerStopped:
      switches_.synchronizerStopped = false;
      break;
    case FaultKind::RotctldKilled:
      rotctld_->Start({"rotctld", "-m", "1", "-T", "127.0.0.1", "-t", std::to_string(rotPort_)});
      break;
    case FaultKind::RigctldKilled:
      rigctld_->Start({"rigctld", "-m", "1", "-T", "127.0.0.1", "-t", std::to_string(rigPort_)});
      break;
    case FaultKind::RotctldHung:
      rotctld_->Resume();
      break;
    case FaultKind::GpsdGone:
      gpsd_.emplace(runDir_, NmeaLog(GpsFix()), static_cast<std::uint16_t>(gpsPort_));
      break;
    case FaultKind::FramesDropped:
      frames_->Start({o_.halvik.string(), "serve-frames", "--port", std::to_string(framesPort_),
                      "--speed", Format("%g", o_.speed)});
      break;
    default:
      break;
  }
  WriteControl();
  healthyAt_.reset();  // recovery counts from here
  Log(Format("end %s", std::string(FaultName(f.kind)).c_str()));
}

void ChaosRun::Sample() {
  if (pid_ <= 0 || SimNow() < nextSample_) return;
  nextSample_ += 3600;
  samples_.emplace_back(StatusKiB(pid_, "VmRSS"), OpenDescriptors(pid_));
}

void ChaosRun::Tick() {
  ReadNotifications();
  Reap();
  const std::int64_t now = SimNow();
  if (pid_ <= 0 && restartAt_ && now >= *restartAt_) {
    restartAt_.reset();
    ++restarts_;
    StartStation();
  }
  if (pid_ > 0 && ready_ &&
      std::chrono::duration<double>(Steady::now() - lastPing_).count() > kWatchdogRealSeconds) {
    Log("watchdog: no ping, SIGABRT");
    ++watchdogRestarts_;
    Signal(SIGABRT);
    lastPing_ = Steady::now();
  }
  PollHealth();
  // Faults: begin the next when due, end the one under way.
  for (Outcome& o : outcomes_) {
    if (o.begun && !o.ended && now >= o.fault.end) {
      End(o);
    }
  }
  if (next_ < outcomes_.size() && now >= outcomes_[next_].fault.begin) {
    Outcome& o = outcomes_[next_++];
    Begin(o);
    if (o.fault.end == o.fault.begin) End(o);
  }
  // Recovery: the first healthy look after the fault's end, before the next fault begins.
  for (Outcome& o : outcomes_) {
    if (o.ended && !o.recoveredAt && healthyAt_ && *healthyAt_ >= o.fault.end) {
      const bool nextBegun = &o != &outcomes_.back() && (&o + 1)->begun;
      if (!nextBegun) {
        o.recoveredAt = *healthyAt_;
        Log(Format("recovered from %s after %lld s", std::string(FaultName(o.fault.kind)).c_str(),
                   static_cast<long long>(*healthyAt_ - o.fault.end)));
      }
    }
  }
  CollectCaptures();
  Sample();
}

int ChaosRun::Run() {
  if (!Prepare()) {
    std::cerr << "chaos: cannot prepare the run in " << runDir_ << "\n";
    return 2;
  }
  std::cout << Format(
                   "chaos: %s kind, %s .. %s, %.1f simulated hours at %gx, seed %llu, "
                   "%zu faults, %zu passes planned, %s, run in %s\n",
                   o_.kind.c_str(), Iso(start_).c_str(), Iso(end_).c_str(), o_.hours, o_.speed,
                   static_cast<unsigned long long>(o_.seed), outcomes_.size(), planned_.size(),
                   tmpfs_ ? "station on its own tmpfs" : "no tmpfs (disk faults left out)",
                   runDir_.c_str())
            << std::flush;
  wall0_ = Steady::now();
  nextSample_ = start_ + 3600;
  StartStation();
  while (SimNow() < end_) {
    Tick();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  // The end: the last sample, then an orderly stop as the service manager does it.
  nextSample_ = SimNow();
  Sample();
  for (Outcome& o : outcomes_) {
    if (o.begun && !o.ended) End(o);
  }
  stoppedOnPurpose_ = true;
  Signal(SIGTERM);
  const auto stopLimit = Steady::now() + std::chrono::seconds(static_cast<int>(kStopRealSeconds));
  while (pid_ > 0 && Steady::now() < stopLimit) {
    Reap();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (pid_ > 0) {
    mustBeZero_.push_back("the final orderly stop overran");
    Signal(SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  nextScan_ = {};
  CollectCaptures();
  CheckStationFiles("at the end");
  if (tmpfs_) umount2(dir_.c_str(), MNT_DETACH);
  return Report();
}

int ChaosRun::Report() {
  // Each fault's window: from its beginning until the station was healthy again (or the
  // fault's end when it never was).
  std::vector<Span> windows;
  for (const Outcome& o : outcomes_) {
    const auto until = std::max(o.fault.end, o.recoveredAt.value_or(o.fault.end));
    windows.emplace_back(static_cast<double>(o.fault.begin), static_cast<double>(until));
  }
  std::map<std::string, Row> rows;
  for (const Outcome& o : outcomes_) {
    Row& row = rows[std::string(FaultName(o.fault.kind))];
    ++row.injected;
    if (o.recoveredAt) {
      ++row.recovered;
      row.worstRecovery = std::max(row.worstRecovery, *o.recoveredAt - o.fault.end);
    } else {
      findings_.push_back(Format("%s at %s: not healthy again before the next fault%s%s",
                                 std::string(FaultName(o.fault.kind)).c_str(),
                                 Iso(o.fault.begin).c_str(), o.note.empty() ? "" : "; ",
                                 o.note.c_str()));
    }
  }
  int accounted = 0;
  Row quiet;
  for (const ListedPass& pass : planned_) {
    const PassAccount account = AccountPass(pass, captures_, lockSpans_, windows);
    const bool ok = account.accounted;
    accounted += ok ? 1 : 0;
    const double lost = account.lostSeconds * soak::FramesPerSecond(pass.code);
    const std::optional<std::size_t> hit = account.fault;
    Row& row = hit ? rows[std::string(FaultName(outcomes_[*hit].fault.kind))] : quiet;
    ++row.passesHit;
    row.passesAccounted += ok ? 1 : 0;
    row.framesLost += lost;
    if (!ok) {
      findings_.push_back(Format("pass not captured: slot %d %s %s .. %s%s", pass.slot,
                                 pass.name.c_str(), Iso(pass.aos).c_str(), Iso(pass.los).c_str(),
                                 hit ? (" (" + std::string(FaultName(outcomes_[*hit].fault.kind)) +
                                        " at " + Iso(outcomes_[*hit].fault.begin) + ")")
                                           .c_str()
                                     : " (no fault near it)"));
    }
  }
  if (watchdogRestarts_ > 0) {
    mustBeZero_.push_back(Format("%d watchdog restarts", watchdogRestarts_));
  }

  std::cout << Format("%-24s %8s %9s %9s %7s %9s %12s\n", "fault", "injected", "recovered",
                      "worst s", "passes", "accounted", "frames lost");
  auto print = [](const std::string& name, const Row& r) {
    std::cout << Format("%-24s %8d %9d %9lld %7d %9d %12.0f\n", name.c_str(), r.injected,
                        r.recovered, static_cast<long long>(r.worstRecovery), r.passesHit,
                        r.passesAccounted, r.framesLost);
  };
  for (const auto& [name, row] : rows) print(name, row);
  print("(no fault near)", quiet);
  const auto rss = [](std::int64_t kib) { return static_cast<double>(kib) / 1024.0; };
  const auto first =
      samples_.empty() ? std::pair<std::int64_t, std::int64_t>{-1, -1} : samples_.front();
  const auto last = samples_.empty() ? first : samples_.back();
  std::cout << Format("passes planned %zu, accounted for %d (captured or inside a fault)\n",
                      planned_.size(), accounted)
            << Format("captures %zu, restarts %d (unclean exits %d)\n", captures_.size(), restarts_,
                      uncleanExits_)
            << Format(
                   "captures unreadable or unfinished after restart  %zu\n",
                   std::count_if(mustBeZero_.begin(), mustBeZero_.end(),
                                 [](const std::string& s) { return s.rfind("capture", 0) == 0; }))
            << Format("station files torn or lost                       %zu\n",
                      std::count_if(mustBeZero_.begin(), mustBeZero_.end(),
                                    [](const std::string& s) {
                                      return s.find(".dat ") != std::string::npos;
                                    }))
            << Format("watchdog restarts                                %d\n", watchdogRestarts_)
            << Format("resident memory first hour %.1f MiB, at the end %.1f MiB\n",
                      rss(first.first), rss(last.first))
            << Format("open descriptors first hour %lld, at the end %lld\n",
                      static_cast<long long>(first.second), static_cast<long long>(last.second))
            << Format("log: %s\n", (runDir_ / "chaos.log").c_str());
  for (const std::string& f : findings_) std::cout << "note " << f << "\n";
  for (const std::string& f : mustBeZero_) std::cout << "FAIL " << f << "\n";
  std::cout << (mustBeZero_.empty() ? "chaos: every must-be-zero figure is zero\n"
                                    : "chaos: must-be-zero figures are not\n");
  return mustBeZero_.empty() ? 0 : 1;
}

}  // namespace
}  // namespace halvik::chaos

int main(int argc, char** argv) {
  std::optional<halvik::chaos::Options> options = halvik::chaos::ParseOptions(argc, argv);
  if (!options) {
    std::cerr << "usage: halvik_chaos --halvik PROGRAM [--kind sim|linux] [--hours H | --days D] "
                 "[--speed X] [--seed S] [--mean-gap SECONDS] [--verbose 1]\n";
    return 2;
  }
  signal(SIGPIPE, SIG_IGN);
  return halvik::chaos::ChaosRun(*options).Run();
}
