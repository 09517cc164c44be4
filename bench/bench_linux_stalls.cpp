// The longest any one call holds its thread while a device stops answering: the status view's
// receiver read while rigctld is stopped (SIGSTOP) for 30 s, against the one rig exchange the
// view used to make itself; and the GPS exchanges of a tracking-loop iteration while gpsd
// accepts and never answers, or never accepts. Real daemons and listeners on loopback only.
#include <benchmark/benchmark.h>
#include <hamlib/rig.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "linuxhw/GpsdTimeSource.h"
#include "linuxhw/HamlibRig.h"
#include "linuxhw/LinuxHardware.h"
#include "platform/Clock.h"
#include "platform/Messages.h"

extern char** environ;

namespace halvik {
namespace {

using Steady = std::chrono::steady_clock;

double Ms(Steady::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

// rigctld with its dummy rig on a loopback port, stopped by its process id.
struct Rigctld {
  explicit Rigctld(int port) {
    const std::string portText = std::to_string(port);
    std::vector<std::string> argv = {"rigctld", "-m", "1", "-T", "127.0.0.1", "-t", portText};
    std::vector<char*> args;
    for (std::string& arg : argv) args.push_back(arg.data());
    args.push_back(nullptr);
    if (posix_spawnp(&pid, "rigctld", nullptr, nullptr, args.data(), environ) != 0) pid = -1;
    std::string error;
    for (int i = 0; i < 200; ++i) {
      if (ConnectTcp({"127.0.0.1", portText}, 100, error).valid()) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  ~Rigctld() {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    kill(pid, SIGCONT);
    waitpid(pid, nullptr, 0);
  }
  pid_t pid = -1;
};

constexpr int kRigPort = 24532;
constexpr auto kStopped = std::chrono::seconds(30);

// The status view polls the receiver every 20 ms while the tracking thread refreshes it once a
// second and tunes it; rigctld is stopped for 30 s in the middle.
void BM_ViewWhileRigctldStopped(benchmark::State& state) {
  Rigctld rigctld(kRigPort);
  RealClock clock;
  RecordingMessages messages;
  NoFrameSource frames;
  HamlibRig rig(2, "127.0.0.1:" + std::to_string(kRigPort), frames, clock, messages);
  if (rigctld.pid <= 0 || !rig.Open()) {
    state.SkipWithError("rigctld did not start");
    return;
  }
  double longestView = 0, longestTracking = 0;
  for (auto _ : state) {
    std::atomic<bool> done{false};
    std::thread tracking([&] {
      while (!done) {
        const auto start = Steady::now();
        rig.ReceiverRefresh();
        rig.ReceiverTune(1702);
        longestTracking = std::max(longestTracking, Ms(Steady::now() - start));
        clock.SleepMs(1000);
      }
    });
    const auto stopAt = Steady::now() + std::chrono::seconds(3);
    const auto goOnAt = stopAt + kStopped;
    const auto endAt = goOnAt + std::chrono::seconds(3);
    bool stopped = false, goneOn = false;
    while (Steady::now() < endAt) {
      if (!stopped && Steady::now() >= stopAt) stopped = kill(rigctld.pid, SIGSTOP) == 0;
      if (!goneOn && Steady::now() >= goOnAt) goneOn = kill(rigctld.pid, SIGCONT) == 0;
      const auto start = Steady::now();
      benchmark::DoNotOptimize(rig.ReceiverReadStatus());
      benchmark::DoNotOptimize(rig.ReceiverFrequency());
      longestView = std::max(longestView, Ms(Steady::now() - start));
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    done = true;
    tracking.join();
  }
  state.counters["longest_view_call_ms"] = longestView;
  state.counters["longest_tracking_refresh_ms"] = longestTracking;
  state.counters["messages"] = static_cast<double>(messages.Shown().size());
}
BENCHMARK(BM_ViewWhileRigctldStopped)->Iterations(1)->Unit(benchmark::kSecond);

// What the view's status read used to do on its own thread: a frequency and a level exchange
// with Hamlib's own waits, here with rigctld stopped.
void BM_FormerViewExchangeWithRigctldStopped(benchmark::State& state) {
  Rigctld rigctld(kRigPort + 1);
  rig_set_debug(RIG_DEBUG_NONE);
  RIG* rig = rig_init(2);
  const std::string path = "127.0.0.1:" + std::to_string(kRigPort + 1);
  rig_set_conf(rig, rig_token_lookup(rig, "rig_pathname"), path.c_str());
  if (rigctld.pid <= 0 || rig_open(rig) != RIG_OK) {
    state.SkipWithError("rigctld did not start");
    rig_cleanup(rig);
    return;
  }
  rig_set_cache_timeout_ms(rig, HAMLIB_CACHE_ALL, 0);
  kill(rigctld.pid, SIGSTOP);
  double longest = 0;
  for (auto _ : state) {
    const auto start = Steady::now();
    freq_t hz = 0;
    value_t level{};
    rig_get_freq(rig, RIG_VFO_CURR, &hz);
    rig_get_level(rig, RIG_VFO_CURR, RIG_LEVEL_STRENGTH, &level);
    longest = std::max(longest, Ms(Steady::now() - start));
  }
  kill(rigctld.pid, SIGCONT);
  rig_close(rig);
  rig_cleanup(rig);
  state.counters["longest_view_call_ms"] = longest;
}
BENCHMARK(BM_FormerViewExchangeWithRigctldStopped)->Iterations(1)->Unit(benchmark::kSecond);

// The GPS exchanges of tracking-loop iterations for 20 s (one a second, as its countdowns ask,
// clearing a failed link at once) against gpsd that accepts and never answers (0) or never
// accepts (1): the longest one.
void BM_TrackingGpsWhileGpsdSilent(benchmark::State& state) {
  std::string error;
  std::uint16_t port = 0;
  UniqueFd listener = ListenLoopback(port, error);
  UniqueFd queued;
  if (state.range(0) == 1) {  // a full accept queue: new connections are never accepted
    listener.Reset();
    listener = ListenLoopback(port, error);
    ::listen(listener.get(), 0);
    queued = ConnectTcp({"127.0.0.1", std::to_string(port)}, 1000, error);
  }
  RealClock clock;
  GpsdTimeSource gps(HostPort{"127.0.0.1", std::to_string(port)}, clock);
  double longest = 0;
  for (auto _ : state) {
    for (int second = 0; second < 20; ++second) {
      const auto start = Steady::now();
      gps.ClearLinkFailure();
      benchmark::DoNotOptimize(gps.ReadHealth());
      benchmark::DoNotOptimize(gps.ReadTime());
      benchmark::DoNotOptimize(gps.ReadFix());
      longest = std::max(longest, Ms(Steady::now() - start));
      clock.SleepMs(1000);
    }
  }
  state.counters["longest_iteration_gps_ms"] = longest;
  state.counters["bound_ms"] = kGpsdConnectWaitMs;
}
BENCHMARK(BM_TrackingGpsWhileGpsdSilent)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
}  // namespace halvik
