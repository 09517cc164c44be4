#include "tracking/Scheduler.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "tracking/TrackingRig.h"

namespace halvik::trackingtest {
namespace {

constexpr double kMinimumElevationDeg = 5.0;

// The scheduler alone on the simulated boards: slots are set up by hand, the pass evaluation is
// scripted (flip and direction of the coming pass). The receiver's line is set up as the
// station's start sets it; the tunings are those after it.
struct SchedulerRig {
  SchedulerRig() {
    rig.station.minimumElevation = kMinimumElevationDeg / kDisplayDegreesPerRadian;
    rig.receiver.ReceiverInit();
    rig.receiverLines.all.clear();
  }

  SatelliteRecord& Activate(int slot, const char* name) {
    SatelliteRecord& record = rig.table[static_cast<std::size_t>(slot)];
    record.name.Set(name);
    record.active.store(1, std::memory_order_release);
    return record;
  }
  // Below the horizon with its AOS `ahead` seconds after the present station second.
  void Coming(int slot, std::int64_t ahead, double azimuthDeg) {
    SatelliteRecord& record = rig.table[static_cast<std::size_t>(slot)];
    record.aosTime = static_cast<std::int64_t>(rig.Now().seconds + ahead);
    record.aosPending = 1;
    record.inPass = 0;
    Point(slot, azimuthDeg, -3.0);
  }
  void Up(int slot, double azimuthDeg, double elevationDeg) {
    SatelliteRecord& record = rig.table[static_cast<std::size_t>(slot)];
    record.aosTime = static_cast<std::int64_t>(rig.Now().seconds - 100);
    record.aosPending = 0;
    record.inPass = 1;
    Point(slot, azimuthDeg, elevationDeg);
  }
  void Point(int slot, double azimuthDeg, double elevationDeg) {
    SatelliteRecord& record = rig.table[static_cast<std::size_t>(slot)];
    record.lookAngles[0] = azimuthDeg / kDisplayDegreesPerRadian;
    record.lookAngles[1] = elevationDeg / kDisplayDegreesPerRadian;
  }
  const std::vector<Move>& moves() const { return rig.trackerTraffic.moves; }
  const Move& last() const { return rig.trackerTraffic.moves.back(); }
  std::vector<std::string> Tunings() const {
    std::vector<std::string> out;
    for (const auto& line : rig.receiverLines.Tunings()) out.push_back(line.text);
    return out;
  }

  TrackingRig rig;
  int evaluations = 0;
  bool flip = false;
  bool northbound = false;
  Scheduler scheduler{rig.context, [this](int) {
                        ++evaluations;
                        rig.evaluation.FlipPass = flip ? 1 : 0;
                        rig.evaluation.PassNorthbound = northbound ? 1 : 0;
                        rig.evaluation.PassEvaluated = 1;
                      }};
};

void ExpectMove(const Move& move, AntennaCounts counts, bool park) {
  EXPECT_EQ(move.azimuth, counts.azimuth);
  EXPECT_EQ(move.elevation, counts.elevation);
  EXPECT_EQ(move.park, park);
}

const AntennaCounts kParkCounts{128, 128};

TEST(DownlinkTableTest, NamesMatchWholeIgnoringCase) {
  EXPECT_EQ(DownlinkFrequency("noaa 15"), 1702);
  EXPECT_EQ(DownlinkFrequency("NOAA 15"), 1702);
  EXPECT_EQ(DownlinkFrequency("Noaa 9"), 1707);
  EXPECT_EQ(DownlinkFrequency("NOAA 16"), 1698);
  EXPECT_EQ(DownlinkFrequency("FengYun 1C"), 1700);
  EXPECT_EQ(DownlinkFrequency("OrbView 2 (SeaStar)"), 1702);
  EXPECT_EQ(DownlinkFrequency("SEASTAR"), 1702);
  // Anything more or less than a whole row tunes nothing.
  EXPECT_EQ(DownlinkFrequency("NOAA 15 [+]"), std::nullopt);
  EXPECT_EQ(DownlinkFrequency("NOAA 1"), std::nullopt);
  EXPECT_EQ(DownlinkFrequency("NOAA 17"), std::nullopt);
  EXPECT_EQ(DownlinkFrequency(""), std::nullopt);

  SchedulerRig s;
  s.scheduler.TuneForSatellite("NOAA 15");
  s.scheduler.TuneForSatellite("NOAA 15 [+]");
  s.scheduler.TuneForSatellite("fengyun 1c");
  EXPECT_EQ(s.Tunings(), (std::vector<std::string>{"f1702.500", "f1700.500"}));
}

TEST(SchedulerTest, LeadTimeOfSixtySeconds) {
  SatelliteRecord record;
  const std::int64_t now = kStart;
  // --- the comparison itself ---
  record.aosPending = 1;
  record.aosTime = static_cast<std::int64_t>(now + 60);
  EXPECT_EQ(ClassifyAos(record, now), AosTiming::Due);
  record.aosTime = static_cast<std::int64_t>(now + 61);
  EXPECT_EQ(ClassifyAos(record, now), AosTiming::AtLeadTime);
  record.aosTime = static_cast<std::int64_t>(now + 62);
  EXPECT_EQ(ClassifyAos(record, now), AosTiming::NotDue);
  record.aosTime = static_cast<std::int64_t>(now - 500);  // AOS passed: still due
  EXPECT_EQ(ClassifyAos(record, now), AosTiming::Due);
  // --- no predicted AOS is never due ---
  record.aosPending = 0;
  record.aosTime = 0;
  EXPECT_EQ(ClassifyAos(record, now), AosTiming::NotDue);
  record.aosTime = -1;
  EXPECT_EQ(ClassifyAos(record, now), AosTiming::NotDue);

  // --- the moves: 60 pre-positions, 61 sends nothing, 62 parks ---
  SchedulerRig s;
  s.Activate(0, "NOAA 15");
  s.Coming(0, 60, 100.0);
  s.scheduler.ScheduleAntenna(true);
  ASSERT_EQ(s.moves().size(), 1u);
  ExpectMove(s.last(), Counts(100.0, kMinimumElevationDeg), false);
  EXPECT_EQ(s.scheduler.state().TrackingActive.load(), 1);
  EXPECT_EQ(s.scheduler.state().AntennaOnPass.load(), 0);

  s.Coming(0, 61, 100.0);
  s.scheduler.ScheduleAntenna(false);
  EXPECT_EQ(s.moves().size(), 1u) << "AOS exactly 61 s ahead sends no move";
  EXPECT_EQ(s.scheduler.state().TrackingActive.load(), 1);

  s.Coming(0, 62, 100.0);
  s.scheduler.ScheduleAntenna(false);
  ASSERT_EQ(s.moves().size(), 2u);
  ExpectMove(s.last(), kParkCounts, true);
  EXPECT_EQ(s.scheduler.state().TrackingActive.load(), 0);

  // Not selected, 61 s ahead is not due: parked again.
  s.Coming(0, 61, 100.0);
  s.scheduler.ScheduleAntenna(false);
  ASSERT_EQ(s.moves().size(), 3u);
  ExpectMove(s.last(), kParkCounts, true);

  // --- the correction counts: 1.99 s ahead of the PC clock makes 61 into 60 ---
  s.rig.status.ClockCorrection = 1.99;
  s.scheduler.ScheduleAntenna(false);
  ASSERT_EQ(s.moves().size(), 4u);
  ExpectMove(s.last(), Counts(100.0, kMinimumElevationDeg), false);
}

TEST(SchedulerTest, FlipFollowsTheEvaluatedPass) {
  // --- a pass crossing north is commanded flipped ---
  SchedulerRig s;
  s.Activate(0, "NOAA 15");
  s.flip = true;
  s.Coming(0, 30, 300.0);
  s.scheduler.ScheduleAntenna(true);
  EXPECT_EQ(s.rig.antennaState.FlipMode.load(), 1);
  // Waiting at the horizon, tipped over: 180 - 5 degrees of elevation.
  ExpectMove(s.last(), Counts(300.0, kMinimumElevationDeg, true), false);
  EXPECT_EQ(s.last().elevation, Counts(300.0, 175.0).elevation);

  s.Up(0, 350.0, 20.0);
  s.scheduler.ScheduleAntenna(false);
  EXPECT_EQ(s.last().azimuth, 121);    // 170 degrees
  EXPECT_EQ(s.last().elevation, 224);  // 160 degrees
  EXPECT_FALSE(s.last().park);
  EXPECT_EQ(s.scheduler.state().AntennaOnPass.load(), 1);
  s.Up(0, 10.0, 30.0);
  s.scheduler.ScheduleAntenna(false);
  ExpectMove(s.last(), Counts(190.0, 150.0), false);
  EXPECT_EQ(s.evaluations, 1) << "one evaluation per followed pass";

  // --- the park ends the flip ---
  s.Coming(0, 5000, 300.0);
  s.scheduler.ScheduleAntenna(false);
  ExpectMove(s.last(), kParkCounts, true);
  EXPECT_EQ(s.rig.antennaState.FlipMode.load(), 0);
  EXPECT_EQ(s.rig.evaluation.PassEvaluated.load(), 0);

  // --- a pass that does not cross north is not flipped ---
  s.flip = false;
  s.Up(0, 100.0, 10.0);
  s.scheduler.ScheduleAntenna(false);
  EXPECT_EQ(s.evaluations, 2);
  EXPECT_EQ(s.rig.antennaState.FlipMode.load(), 0);
  EXPECT_EQ(s.last().azimuth, 73);
  EXPECT_EQ(s.last().elevation, 19);
}

TEST(SchedulerTest, LowerSlotsComeFirst) {
  // --- slot 3 followed; slot 1 becomes due: one park, then slot 1 ---
  SchedulerRig s;
  s.Activate(1, "NOAA 15");
  s.Activate(3, "NOAA 12");
  s.Coming(1, 600, 90.0);
  s.Up(3, 200.0, 30.0);
  s.scheduler.ScheduleAntenna(true);
  EXPECT_EQ(s.scheduler.state().SelectedSatellite.load(), 3);
  ExpectMove(s.last(), Counts(200.0, 30.0), false);

  s.Coming(1, 60, 90.0);
  const std::size_t before = s.moves().size();
  s.scheduler.ScheduleAntenna(false);
  ASSERT_EQ(s.moves().size(), before + 1);
  ExpectMove(s.last(), kParkCounts, true);
  EXPECT_EQ(s.scheduler.state().AntennaOnPass.load(), 0);
  s.scheduler.ScheduleAntenna(false);
  EXPECT_EQ(s.scheduler.state().SelectedSatellite.load(), 1);
  ExpectMove(s.last(), Counts(90.0, kMinimumElevationDeg), false);

  // --- a higher slot never takes the antenna from a lower one ---
  SchedulerRig r;
  r.Activate(1, "NOAA 15");
  r.Activate(3, "NOAA 12");
  r.Up(1, 90.0, 20.0);
  r.Coming(3, 10, 200.0);
  r.scheduler.ScheduleAntenna(true);
  r.Up(3, 200.0, 3.0);
  for (int i = 0; i < 5; ++i) r.scheduler.ScheduleAntenna(false);
  for (const Move& move : r.moves()) ExpectMove(move, Counts(90.0, 20.0), false);
  EXPECT_EQ(r.scheduler.state().SelectedSatellite.load(), 1);

  // --- a deleted selection parks ---
  r.rig.table[1].active.store(0, std::memory_order_release);
  r.scheduler.ScheduleAntenna(false);
  ExpectMove(r.last(), kParkCounts, true);
  r.scheduler.ScheduleAntenna(false);
  EXPECT_EQ(r.scheduler.state().SelectedSatellite.load(), 3);
  ExpectMove(r.last(), Counts(200.0, 3.0), false);
}

TEST(SchedulerTest, RecordsWithoutPredictedAos) {
  // --- a geosynchronous satellite below the minimum elevation blocks nothing ---
  SchedulerRig s;
  SatelliteRecord& geo = s.Activate(0, "GOES 12");
  geo.geosynchronous = 1;
  geo.aosTime = -1;
  s.Point(0, 170.0, -10.0);
  s.Activate(2, "NOAA 12");
  s.Up(2, 200.0, 30.0);
  for (int i = 0; i < 3; ++i) s.scheduler.ScheduleAntenna(i == 0);
  EXPECT_EQ(s.scheduler.state().SelectedSatellite.load(), 2);
  for (const Move& move : s.moves()) ExpectMove(move, Counts(200.0, 30.0), false);

  // --- neither is a slot that has not been predicted yet (aosTime 0) ---
  SchedulerRig fresh;
  fresh.Activate(0, "NOAA 16");
  fresh.scheduler.ScheduleAntenna(true);
  ExpectMove(fresh.last(), kParkCounts, true);
  EXPECT_EQ(fresh.scheduler.state().TrackingActive.load(), 0);

  // --- a geosynchronous satellite above it is followed for good ---
  SchedulerRig up;
  SatelliteRecord& high = up.Activate(0, "GOES 12");
  high.geosynchronous = 1;
  high.aosPending = 1;
  high.inPass = 1;
  high.losTime = -1;
  up.Point(0, 170.0, 30.0);
  for (int i = 0; i < 4; ++i) up.scheduler.ScheduleAntenna(i == 0);
  for (const Move& move : up.moves()) ExpectMove(move, Counts(170.0, 30.0), false);
  EXPECT_EQ(up.scheduler.state().AntennaOnPass.load(), 1);
  up.scheduler.ArmCapture([] { FAIL() << "no capture wait for a geosynchronous satellite"; });
  EXPECT_EQ(up.rig.handOff.CaptureStartRequest.load(), 0);
  EXPECT_TRUE(up.Tunings().empty());
}

TEST(SchedulerTest, ParkEndsASuspension) {
  SchedulerRig s;
  s.Activate(0, "NOAA 15");
  s.Up(0, 100.0, 20.0);
  s.rig.handOff.CaptureSuspended = 1;
  s.scheduler.ScheduleAntenna(true);
  EXPECT_EQ(s.rig.handOff.CaptureSuspended.load(), 1) << "following keeps the suspension";
  s.scheduler.ArmCapture([] { FAIL() << "no capture while suspended"; });
  EXPECT_EQ(s.rig.handOff.CaptureStartRequest.load(), 0);

  s.Coming(0, 3000, 100.0);
  s.scheduler.ScheduleAntenna(false);
  ExpectMove(s.last(), kParkCounts, true);
  EXPECT_EQ(s.rig.handOff.CaptureSuspended.load(), 0);
}

TEST(SchedulerTest, CaptureHandOff) {
  // --- armed, waited out, ended ---
  SchedulerRig s;
  SatelliteRecord& slot = s.Activate(2, "noaa 15");
  s.northbound = true;
  s.Up(2, 100.0, 20.0);
  s.rig.handOff.CaptureEndRequest = 1;  // left over from the last pass
  s.scheduler.ScheduleAntenna(true);
  int turns = 0;
  s.scheduler.ArmCapture([&] {
    ++turns;
    if (turns == 1) {
      EXPECT_EQ(s.rig.handOff.CaptureStartRequest.load(), 1);
      EXPECT_EQ(s.rig.handOff.CaptureEndRequest.load(), 0);
      EXPECT_EQ(s.rig.handOff.QuickLookReversed.load(), 1);
      EXPECT_EQ(s.Tunings(), std::vector<std::string>{"f1702.500"});
      // The operator deletes the satellite and adds another into its slot mid-pass.
      slot.name.Set("NOAA 16");
    }
    if (turns == 3) slot.aosPending = 1;  // the pass has ended
  });
  EXPECT_EQ(turns, 3);
  EXPECT_EQ(s.rig.handOff.CaptureSatelliteName.Get(), "noaa 15");
  EXPECT_EQ(s.rig.handOff.CaptureEndRequest.load(), 1);
  EXPECT_EQ(s.Tunings(), (std::vector<std::string>{"f1702.500", "f1691.000"}));

  // --- nothing armed before the antenna is on the pass ---
  SchedulerRig idle;
  idle.Activate(0, "NOAA 15");
  idle.Coming(0, 30, 100.0);
  idle.scheduler.ScheduleAntenna(true);
  idle.scheduler.ArmCapture([] { FAIL() << "armed while pre-positioning"; });
  EXPECT_EQ(idle.rig.handOff.CaptureStartRequest.load(), 0);
  EXPECT_TRUE(idle.Tunings().empty());

  // --- a pass already over when armed ends at once ---
  SchedulerRig brief;
  SatelliteRecord& b = brief.Activate(0, "NOAA 12");
  brief.Up(0, 100.0, 20.0);
  brief.scheduler.ScheduleAntenna(true);
  b.aosPending = 1;  // both flags: no LOS found within a day
  brief.scheduler.ArmCapture([] { FAIL() << "no wait when aosPending is set"; });
  EXPECT_EQ(brief.rig.handOff.CaptureStartRequest.load(), 1);
  EXPECT_EQ(brief.rig.handOff.CaptureEndRequest.load(), 1);
  EXPECT_EQ(brief.Tunings(), (std::vector<std::string>{"f1698.000", "f1691.000"}));

  // --- the stop flag ends the wait ---
  SchedulerRig stopping;
  stopping.Activate(0, "NOAA 12");
  stopping.Up(0, 100.0, 20.0);
  stopping.scheduler.ScheduleAntenna(true);
  int waited = 0;
  stopping.scheduler.ArmCapture([&] {
    if (++waited == 2) stopping.rig.stop = 1;
  });
  EXPECT_EQ(waited, 2);
  EXPECT_EQ(stopping.rig.handOff.CaptureEndRequest.load(), 1);
  EXPECT_EQ(stopping.Tunings().back(), "f1691.000");
}

}  // namespace
}  // namespace halvik::trackingtest
