// The headless run's status lines: their interval in station time, none when asked for none, and
// a clock set back.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "app/BoardHardware.h"
#include "app/Headless.h"
#include "app/SampleStation.h"
#include "app/SimHardware.h"
#include "app/Station.h"
#include "app/StationUi.h"
#include "orbit/PropagateListing.h"
#include "platform/Clock.h"
#include "platform/Messages.h"
#include "support/NullCanvas.h"
#include "support/PlatformFakes.h"
#include "support/SimStationParts.h"
#include "support/TempDir.h"

namespace halvik {
namespace {

constexpr double kStart = 1198624800.0;  // 2007-12-25T23:20:00Z

// A receiver that answers at once: the real readout waits on the clock for a board that is not
// opened here, and the manual clock would never move on.
class QuietReceiver final : public ReceiverReadout {
 public:
  float ReceiverReadStatus() override { return 0.0f; }
  int ReceiverLocked() override { return 0; }
  double ReceiverFrequency() override { return 1691.0; }
};

// Runs a sample station, not started (no worker threads: the manual clock moves only with the
// headless loop's own sleeps), headless for `seconds` of station time; returns the status lines
// printed. `afterPaint` may move the clock.
std::vector<std::string> StatusLines(std::int64_t everySeconds, std::int64_t seconds,
                                     const std::function<void(ManualClock&)>& afterPaint = {}) {
  TempDir dir;
  EXPECT_EQ(InitStation(dir.path()), "");
  ManualClock clock(SystemTime::FromMilliseconds(static_cast<std::int64_t>(kStart * 1000)));
  testing::SimStationParts parts(dir.path(), clock);
  Station station(parts.environment);
  QuietReceiver readout;
  StatusView view(StatusSourcesOf(station, readout));
  testing::NullCanvas canvas;

  std::ostringstream out;
  HeadlessOptions run;
  run.out = &out;
  run.statusEverySeconds = everySeconds;
  run.statusRealGapMs = 0;
  run.limitSeconds = seconds;
  if (afterPaint) run.afterPaint = [&] { afterPaint(clock); };
  RunHeadless(station, view, canvas, run);

  std::vector<std::string> lines;
  std::istringstream in(out.str());
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The station time a status line begins with.
std::string TimeOf(const std::string& line) {
  return line.substr(0, line.find(' '));
}

TEST(Headless, StatusLinesComeAtTheAskedInterval) {
  // --- one a minute: at the start, then every 60 s of station time ---
  std::vector<std::string> lines = StatusLines(60, 150);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(TimeOf(lines[0]), FormatIsoUtc(kStart));
  EXPECT_EQ(TimeOf(lines[1]), FormatIsoUtc(kStart + 60));
  EXPECT_EQ(TimeOf(lines[2]), FormatIsoUtc(kStart + 120));
  // Not started: nothing followed, nothing captured.
  EXPECT_NE(lines[0].find("| - | captures 0"), std::string::npos) << lines[0];

  // --- none at all ---
  EXPECT_TRUE(StatusLines(0, 150).empty());

  // --- a clock set back ten minutes does not silence the lines for ten minutes ---
  bool setBack = false;
  lines = StatusLines(60, 150, [&](ManualClock& clock) {
    if (!setBack && clock.Now().AsSeconds() >= kStart + 90) {
      clock.Set(SystemTime::FromMilliseconds(static_cast<std::int64_t>((kStart - 510) * 1000)));
      setBack = true;
    }
  });
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(TimeOf(lines[2]), FormatIsoUtc(kStart - 510));
  EXPECT_EQ(TimeOf(lines[3]), FormatIsoUtc(kStart - 450));
}

}  // namespace
}  // namespace halvik
