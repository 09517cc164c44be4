#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/BoardHardware.h"
#include "app/Headless.h"
#include "app/SimHardware.h"
#include "app/Station.h"
#include "app/StationUi.h"
#include "capture/CaptureFileReader.h"
#include "platform/Clock.h"
#include "platform/Messages.h"
#include "support/PlatformFakes.h"
#include "support/TempDir.h"
#include "ui/Canvas.h"

namespace halvik::e2e {

struct RigOptions {
  std::vector<std::string> satellites{};  // sats.dat lines; empty keeps the sample's
  double speed = 50.0;                    // simulated seconds per real second
  std::optional<SystemTime> start{};      // default: shortly before the first pass
  // What the computer's clock reads at the start; default: the start itself. The sky and the
  // GPS keep the true time.
  std::optional<SystemTime> computerClock{};
  std::function<void(SimHardwareOptions&)> hardware{};  // adjust the simulated boards
  DiskBudget* diskBudget = nullptr;
  // Rewrites the fresh sample station's files (before sats.dat and the start are settled).
  std::function<void(const std::filesystem::path&)> prepare{};
  Canvas* canvas = nullptr;  // the status view paints here; nullptr: nowhere
  // When set (and no start is given): start before the first pass that climbs higher than this
  // many degrees, not before the first pass at all (which may stay below the minimum elevation).
  double passAboveDeg = 0;
};

// Starts `station` and runs it headless until `passes` captures have finished or `limitSeconds`
// of station time have gone by; then shuts it down. `watch` runs after every paint. Returns
// whether the shut-down finished in time.
bool RunStation(Station& station, std::int64_t passes, std::int64_t limitSeconds,
                const std::function<void(Station&)>& watch = {});

// Capture files (final names) in a station directory, oldest name first.
std::vector<std::filesystem::path> CaptureFilesIn(const std::filesystem::path& dir);

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
  testing::RecordingSpawner& spawner() { return spawner_; }
  SystemTime start() const { return start_; }

  // Capture files (final names) in the station directory, oldest name first.
  std::vector<std::filesystem::path> CaptureFiles() const;

 private:
  TempDir dir_;
  SystemTime start_;
  std::unique_ptr<ScaledClock> clock_;
  RecordingMessages messages_;
  CountingBeeper beeper_;
  testing::RoomySystemInfo systemInfo_;
  testing::RecordingSpawner spawner_;
  DeviceNamespace devices_;
  std::unique_ptr<SimHardware> hardware_;
  std::unique_ptr<BoardHardware> boards_;
  std::unique_ptr<Station> station_;
  Canvas* canvas_ = nullptr;
};

// The satellite's downlink family's expectations for a capture file.
std::string Describe(const CaptureFileContents& contents);

// A canvas that remembers the last text drawn at each position.
class TextCanvas final : public Canvas {
 public:
  void DrawText(int x, int y, std::string_view text, Font, Colour, Colour) override;
  void FillRect(int, int, int, int, Colour) override {}
  void SetPixel(int, int, Colour) override {}
  // The text last drawn with its top-left corner at (x, y); empty when none was.
  std::string TextAt(int x, int y) const;

 private:
  mutable std::mutex mutex_;
  std::map<std::pair<int, int>, std::string> texts_;
};

// The sample station's minimum elevation (minel.dat), in degrees.
inline constexpr double kMinimumElevation = 5.0;

// A satellite's pass as the sky flies it: above `aboveDeg` from `rise` to `set` (UTC seconds).
struct PassWindow {
  double rise = 0;
  double set = 0;
  double highestDeg = 0;
};
// The first pass of `name` that begins after `fromSeconds` (one already running does not
// count), found within a day to the second.
std::optional<PassWindow> FindPass(const sim::Sky& sky, std::string_view name, double fromSeconds,
                                   double aboveDeg = 0.0);

// Shortly before the first pass, after `from`, of any satellite of the station's sats.dat that
// climbs higher than `aboveDeg` over the station of its location.dat.
std::optional<SystemTime> StartBeforeHighPass(const std::filesystem::path& stationDir,
                                              SystemTime from, double aboveDeg);

// An element line with its check digit (column 69) recomputed: the sum of the digits of
// columns 1 to 68, each '-' counting 1, modulo 10.
std::string WithCheckDigit(std::string line);
// A second element line with its mean anomaly (columns 44 to 51) replaced, check digit
// recomputed.
std::string WithMeanAnomaly(const std::string& line2, double degrees);

// A first element line moved to the epoch `unixSeconds` (columns 19 to 32), check digit
// recomputed: the same orbit, flown from another date.
std::string WithEpoch(const std::string& line1, std::int64_t unixSeconds);
// Every element set of a station's elements.dat moved to the epoch `unixSeconds`.
void ReepochElements(const std::filesystem::path& stationDir, std::int64_t unixSeconds);

// The entries of a capture file in short: "acquired 30", "frames", "lost 30", "end".
std::vector<std::string> EntryOutline(const CaptureFileContents& contents);

}  // namespace halvik::e2e
