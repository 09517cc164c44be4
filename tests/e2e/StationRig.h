#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/Headless.h"
#include "app/SimHardware.h"
#include "app/Station.h"
#include "app/StationUi.h"
#include "capture/CaptureFileReader.h"
#include "platform/Clock.h"
#include "platform/Messages.h"
#include "support/TempDir.h"
#include "ui/Canvas.h"

namespace halvik::e2e {

// A canvas that draws nowhere: the paint still runs, so the receiver is polled as with a window.
class NullCanvas final : public Canvas {
 public:
  void DrawText(int, int, std::string_view, Font, Colour, Colour) override {}
  void FillRect(int, int, int, int, Colour) override {}
  void SetPixel(int, int, Colour) override {}
};

// Starts nothing; remembers what would have been started.
class SpawnLog final : public ProcessSpawner {
 public:
  struct Started {
    std::filesystem::path program;
    std::vector<std::string> argv;
  };
  bool Spawn(const std::filesystem::path& program, const std::vector<std::string>& argv) override;
  std::vector<Started> Spawned() const;

 private:
  mutable std::mutex mutex_;
  std::vector<Started> started_;
};

// Plenty of memory and disk, whatever the machine has.
class RoomySystemInfo final : public SystemInfo {
 public:
  std::optional<std::uint64_t> PhysicalMemoryBytes() override { return 1ull << 33; }
  std::optional<double> FreeBytes(const std::filesystem::path&) override { return 1e12; }
  std::string MountPoint(const std::filesystem::path&) override { return "/"; }
};

struct RigOptions {
  std::vector<std::string> satellites;                // sats.dat lines; empty keeps the sample's
  double speed = 50.0;                                // simulated seconds per real second
  std::optional<SystemTime> start;                    // default: shortly before the first pass
  std::function<void(SimHardwareOptions&)> hardware;  // adjust the simulated boards
  DiskBudget* diskBudget = nullptr;
};

// A sample station in a temporary directory, run whole on the simulated boards with a fast
// simulated clock and without a window.
class StationRig {
 public:
  explicit StationRig(RigOptions options);
  ~StationRig();

  // Starts the station and runs it headless until `passes` captures have finished or
  // `limitSeconds` of station time have gone by; then shuts it down. `watch` runs after every
  // paint. Returns whether the shut-down finished in time.
  bool Run(std::int64_t passes, std::int64_t limitSeconds,
           const std::function<void(Station&)>& watch = {});

  const std::filesystem::path& dir() const { return dir_.path(); }
  Station& station() { return *station_; }
  SimHardware& hardware() { return *hardware_; }
  ScaledClock& clock() { return *clock_; }
  RecordingMessages& messages() { return messages_; }
  SpawnLog& spawner() { return spawner_; }
  SystemTime start() const { return start_; }

  // Capture files (final names) in the station directory, oldest name first.
  std::vector<std::filesystem::path> CaptureFiles() const;

 private:
  TempDir dir_;
  SystemTime start_;
  std::unique_ptr<ScaledClock> clock_;
  RecordingMessages messages_;
  CountingBeeper beeper_;
  RoomySystemInfo systemInfo_;
  SpawnLog spawner_;
  DeviceNamespace devices_;
  std::unique_ptr<SimHardware> hardware_;
  std::unique_ptr<Station> station_;
};

// The satellite's downlink family's expectations for a capture file.
std::string Describe(const CaptureFileContents& contents);

}  // namespace halvik::e2e
