// The service manager's side of the station: the datagrams a Type=notify unit receives on its
// NOTIFY_SOCKET while a station runs on the simulated boards, with the tracking thread healthy
// and then held in a message box.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>

#include "app/BoardHardware.h"
#include "app/SampleStation.h"
#include "app/ServiceNotify.h"
#include "app/SimHardware.h"
#include "app/Station.h"
#include "platform/Clock.h"
#include "platform/Messages.h"
#include "support/PlatformFakes.h"
#include "support/TempDir.h"

namespace halvik {
namespace {

constexpr const char* kWatchdogUs = "100000";  // pings every 50 ms
constexpr int kDatagramWaitMs = 20000;         // bound on any single wait; never reached when well

// The socket a service manager listens on, bound in a temporary directory.
class NotifySocket {
 public:
  explicit NotifySocket(const std::filesystem::path& path) {
    fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    EXPECT_EQ(bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  }
  ~NotifySocket() { close(fd_); }

  // The next datagram, or "" when none comes within `ms`.
  std::string Next(int ms) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, ms) != 1) return {};
    char buffer[4096];
    ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
  }
  // Waits (at most the bound) for a datagram holding `field`; false when none came.
  bool WaitFor(const std::string& field) {
    for (;;) {
      std::string datagram = Next(kDatagramWaitMs);
      if (datagram.empty()) return false;
      if (datagram.find(field) != std::string::npos) return true;
    }
  }
  // The WATCHDOG=1 pings that come within `ms`.
  int PingsWithin(int ms) {
    int pings = 0;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          end - std::chrono::steady_clock::now());
      if (left.count() <= 0) return pings;
      if (Next(static_cast<int>(left.count())).find("WATCHDOG=1") != std::string::npos) ++pings;
    }
  }

 private:
  int fd_ = -1;
};

// Messages whose one chosen text holds the showing thread until released, as an operator who
// leaves a message box open would.
class HoldingMessages final : public Messages {
 public:
  explicit HoldingMessages(std::string held) : held_(std::move(held)) {}
  void Show(const std::string& text) override {
    std::unique_lock lock(mutex_);
    if (text != held_) return;
    holding_ = true;
    changed_.notify_all();
    changed_.wait(lock, [this] { return released_; });
    holding_ = false;
  }
  bool WaitUntilHolding() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(kDatagramWaitMs),
                             [this] { return holding_; });
  }
  void Release() {
    std::lock_guard lock(mutex_);
    released_ = true;
    changed_.notify_all();
  }

 private:
  std::string held_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool holding_ = false;
  bool released_ = false;
};

TEST(ServiceNotify, ReadyPingsOnlyWhileBothThreadsMoveThenStopping) {
  TempDir dir;
  ASSERT_EQ(InitStation(dir.path() / "station"), "");
  const std::filesystem::path stationDir = dir.path() / "station";
  NotifySocket manager(dir.path() / "notify");

  ScaledClock clock(SystemTime::FromMilliseconds(1198624800000), 20.0);  // 2007-12-25
  HoldingMessages messages("Can't find file elements.dat");
  CountingBeeper beeper;
  testing::RoomySystemInfo systemInfo;
  testing::RecordingSpawner spawner;
  DeviceNamespace devices;
  SimHardwareOptions options;
  options.stationDir = stationDir;
  SimHardware hardware(clock, devices, options);
  BoardHardware boards(stationDir, hardware.services(), devices, clock, messages, beeper);
  StationEnvironment env{stationDir, clock, messages, beeper, systemInfo, spawner, boards};
  env.raiseCapturePriority = false;
  Station station(env);
  // Started before the service manager is in the environment: it must stay silent.
  int silentCalls = 0;
  ServiceNotifier silent(station, [&] {
    ++silentCalls;
    return std::string();
  });
  ServiceNotifier notifier(station, [] { return std::string("all well"); });
  silent.Start();
  // Set before the workers run: the environment is not for changing under running threads.
  setenv("NOTIFY_SOCKET", (dir.path() / "notify").c_str(), 1);
  setenv("WATCHDOG_USEC", kWatchdogUs, 1);
  ASSERT_TRUE(station.Start());
  notifier.Start();

  // --- ready once started, then pinged while both threads work ---
  EXPECT_TRUE(manager.WaitFor("READY=1"));
  EXPECT_EQ(station.tracking.TrackingReady.load(), 1);
  EXPECT_TRUE(manager.WaitFor("STATUS=all well"));
  for (int ping = 0; ping < 3; ++ping) EXPECT_TRUE(manager.WaitFor("WATCHDOG=1"));
  EXPECT_EQ(silentCalls, 0);

  // --- the tracking thread held in a message box: the pings stop ---
  std::filesystem::rename(stationDir / "elements.dat", dir.path() / "elements.dat");
  station.tracking.ElementsReloadRequest.store(1);
  ASSERT_TRUE(messages.WaitUntilHolding());
  // One ping may still be on its way from a tick that saw the last iteration; ten periods
  // would bring ten when well.
  EXPECT_LE(manager.PingsWithin(500), 1);

  // --- released, it pings again; the shut-down says so first ---
  messages.Release();
  EXPECT_TRUE(manager.WaitFor("WATCHDOG=1"));
  notifier.Stop();
  EXPECT_TRUE(manager.WaitFor("STOPPING=1"));
  EXPECT_TRUE(station.Shutdown());
  unsetenv("NOTIFY_SOCKET");
  unsetenv("WATCHDOG_USEC");
}

}  // namespace
}  // namespace halvik
