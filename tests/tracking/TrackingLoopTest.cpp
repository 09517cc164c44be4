#include "tracking/TrackingLoop.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "config/SatelliteList.h"
#include "orbit/ElementSet.h"
#include "platform/BuildTime.h"
#include "platform/Messages.h"
#include "platform/Text.h"
#include "support/TempDir.h"
#include "tracking/TrackingRig.h"

namespace halvik::trackingtest {
namespace {

constexpr double kMinimumElevationDeg = 5.0;

// Consecutive moves toward the same target, with the rig seconds of the first and the last.
struct Segment {
  std::string label;
  std::int64_t from;
  std::int64_t to;
  std::size_t count;
};

std::vector<Segment> Segments(const std::vector<Move>& moves,
                              const std::function<std::string(const Move&)>& label) {
  std::vector<Segment> out;
  for (const Move& move : moves) {
    std::string l = label(move);
    std::int64_t at = move.at.seconds - kStart;
    if (out.empty() || out.back().label != l) {
      out.push_back({l, at, at, 1});
    } else {
      out.back().to = at;
      ++out.back().count;
    }
  }
  return out;
}

std::vector<std::string> Labels(const std::vector<Segment>& segments) {
  std::vector<std::string> out;
  for (const Segment& s : segments) out.push_back(s.label);
  return out;
}

// A move's target by azimuth sector: the two scripted satellites fly in different quarters.
std::string BySector(const Move& move) {
  if (move.park) return move.azimuth == 128 && move.elevation == 128 ? "park" : "wrong park";
  if (move.azimuth >= Counts(200.0, 0).azimuth && move.azimuth <= Counts(250.0, 0).azimuth) {
    return "NOAA 12";
  }
  if (move.azimuth >= Counts(90.0, 0).azimuth && move.azimuth <= Counts(120.0, 0).azimuth) {
    return "NOAA 15";
  }
  return "elsewhere";
}

// Capture hand-off and receiver tunings as "<rig second> <what>".
std::vector<std::string> CaptureLog(const ScriptedSky& sky) {
  std::vector<std::string> out;
  for (const CaptureEvent& e : sky.captures) {
    out.push_back(std::to_string(e.at.seconds - kStart) + (e.start ? " start " + e.name : " end"));
  }
  return out;
}

std::vector<std::string> TuningLog(const TrackingRig& rig) {
  std::vector<std::string> out;
  for (const auto& line : rig.receiverLines.Tunings()) {
    out.push_back(std::to_string(line.at.seconds - kStart) + " " + line.text);
  }
  return out;
}

// The direction of a scripted pass at a time, as the sky plays it.
AntennaCounts PassCounts(const ScriptedPass& pass, SystemTime at) {
  double fraction =
      (at.AsSeconds() - static_cast<double>(pass.aos)) / static_cast<double>(pass.los - pass.aos);
  return Counts(pass.azimuthAtAosDeg + (pass.azimuthAtLosDeg - pass.azimuthAtAosDeg) * fraction,
                pass.maxElevationDeg * (1.0 - std::fabs(2.0 * fraction - 1.0)));
}

TEST(TrackingLoopDecisionsTest, AStepOfTheComputersClockIsTakenOutOfTheGpsCorrection) {
  const SystemTime at{1198640000, 250};
  auto later = [&](std::int64_t ms) {
    return SystemTime::FromMilliseconds(at.AsMilliseconds() + ms);
  };
  // Time of day and millisecond clock moving together: no step, whatever the gap or the drift
  // below a second; otherwise the difference, either way, to the millisecond.
  EXPECT_EQ(ClockStepMs(at, 5000, later(10), 5010), 0);
  EXPECT_EQ(ClockStepMs(at, 5000, later(600000), 605000), 0);
  EXPECT_EQ(ClockStepMs(at, 5000, later(999), 5000), 0);
  EXPECT_EQ(ClockStepMs(at, 5000, later(10 + 77000), 5010), 77000);
  EXPECT_EQ(ClockStepMs(at, 5000, later(10 - 3 * 3600 * 1000), 5010), -3 * 3600 * 1000);
  EXPECT_EQ(ClockStepMs(at, 5000, later(10 - 1000), 5010), -1000);
  // The station's time (PC clock plus correction) stays where it was: a clock set 77 s ahead
  // loses 77 s of correction, one set back gains it, in whole hundredths.
  EXPECT_DOUBLE_EQ(CorrectionAfterStep(77.02, -77000), 154.02);
  EXPECT_DOUBLE_EQ(CorrectionAfterStep(77.02, 76979), 0.04);
  EXPECT_DOUBLE_EQ(CorrectionAfterStep(0.12, 3600000), -3599.88);
  for (const std::int64_t step : {1001LL, -77000LL, 10800000LL}) {
    const double before = 0.37;
    const double stationBefore = static_cast<double>(at.AsMilliseconds()) / 1000.0 + before;
    const double stationAfter = static_cast<double>(at.AsMilliseconds() + step) / 1000.0 +
                                CorrectionAfterStep(before, step);
    EXPECT_NEAR(stationAfter, stationBefore, 0.006) << step;
  }
}

TEST(TrackingLoopDecisionsTest, CountdownsAndClockCorrection) {
  // --- countdowns stop at 0 ---
  TrackingCountdowns c{2, 1, 0};
  LowerCountdowns(c);
  EXPECT_EQ(c.GpsHealthCountdown, 1);
  EXPECT_EQ(c.GpsTimeCountdown, 0);
  EXPECT_EQ(c.LocationCheckCountdown, 0);
  LowerCountdowns(c);
  EXPECT_EQ(c.GpsTimeCountdown, 0);
  EXPECT_TRUE(Expired(0));
  EXPECT_TRUE(Expired(-3));
  EXPECT_FALSE(Expired(1));

  // --- the health schedule around a link failure, second by second ---
  TrackingCountdowns h;
  std::vector<int> polls;
  std::vector<int> clears;
  for (int second = 0; second < 20; ++second) {
    if (second > 0) LowerCountdowns(h);
    GpsHealthAction action = NextGpsHealthAction(h, /*linkFailed=*/second == 4);
    if (action == GpsHealthAction::Poll) polls.push_back(second);
    if (action == GpsHealthAction::ClearLinkFailure) clears.push_back(second);
  }
  EXPECT_EQ(clears, std::vector<int>{4});
  EXPECT_EQ(polls, (std::vector<int>{0, 2, 9, 11, 13, 15, 17, 19}));

  // --- the correction in hundredths, cut toward zero after a quarter second ---
  EXPECT_DOUBLE_EQ(ClockCorrectionFrom(kStart + 1.234, {kStart, 0}), 1.48);
  EXPECT_DOUBLE_EQ(ClockCorrectionFrom(kStart + 0.1, {kStart, 500}), -0.15);
  EXPECT_DOUBLE_EQ(ClockCorrectionFrom(kStart - 0.4, {kStart, 0}), -0.15);
  EXPECT_DOUBLE_EQ(ClockCorrectionFrom(kStart, {kStart, 0}), 0.25);
  EXPECT_DOUBLE_EQ(ClockCorrectionFrom(kStart - 0.25, {kStart, 0}), 0.0);
  EXPECT_DOUBLE_EQ(ClockCorrectionFrom(kStart - 0.2599, {kStart, 0}), -0.01);
  EXPECT_DOUBLE_EQ(ClockCorrectionFrom(kStart - 10.0, {kStart, 0}), -9.75);

  // --- any size once the GPS time is not before the build: a computer booted at 1970 ---
  const double built = static_cast<double>(kBuildUnixSeconds);
  EXPECT_DOUBLE_EQ(ClockCorrectionFrom(built + 0.5, {0, 0}), built + 0.75);
  EXPECT_DOUBLE_EQ(ClockCorrectionFrom(built, {kBuildUnixSeconds + 40 * 365 * 86400LL, 0}),
                   -40 * 365 * 86400.0 + 0.25);
  // --- before the build (1024 weeks back, or a simulated old sky): a day at most ---
  const double weeks1024 = 1024 * 604800.0;
  EXPECT_DOUBLE_EQ(ClockCorrectionFrom(built - weeks1024, {kBuildUnixSeconds, 0}), 0.0);
  EXPECT_DOUBLE_EQ(ClockCorrectionFrom(built - 1.0, {kBuildUnixSeconds - 86000, 0}), 85999.25);
  EXPECT_DOUBLE_EQ(ClockCorrectionFrom(built - 1.0, {0, 0}), 0.0);
  // --- not a number, or no time at all ---
  EXPECT_DOUBLE_EQ(ClockCorrectionFrom(std::nan(""), {0, 0}), 0.0);
  EXPECT_DOUBLE_EQ(ClockCorrectionFrom(1e300, {0, 0}), 0.0);
}

TEST(TrackingLoopTest, StartUp) {
  // --- missing location.dat and map.dat: the messages and their order ---
  TrackingRig rig("NOAA 99\nNOAA 12\n \n \n \n \n");
  std::filesystem::remove(rig.dir.path() / "location.dat");
  std::filesystem::remove(rig.dir.path() / "map.dat");
  ScriptedSky sky(rig);
  sky.afterStep = [&] {
    if (rig.status.SchedulerEnabled.load() == 0) {
      EXPECT_TRUE(rig.trackerTraffic.moves.empty()) << "no move before the scheduler is enabled";
    }
  };
  TrackingLoop loop(rig.context, sky.Seam());
  ASSERT_TRUE(loop.StartUp());

  const std::string location = "Can't find file location.dat";
  const std::string map = "Can't find file map.dat";
  EXPECT_EQ(
      rig.messages.Shown(),
      (std::vector<std::string>{location, location, map, map,
                                ElementSetMessage(ElementSetResult::SatelliteNotFound), map, map}));
  EXPECT_EQ(rig.table[0].name.Get(), "NOAA 12");
  EXPECT_DOUBLE_EQ(rig.station.latitude.load(), 0.0);

  // --- the boards: computer control before the first move, a park; the idle frequency ---
  ASSERT_EQ(rig.trackerTraffic.commands.size(), 1u);
  EXPECT_EQ(rig.trackerTraffic.commands[0].command, TrackerCommand::ComputerControl);
  EXPECT_EQ(rig.trackerTraffic.commands[0].movesBefore, 0u);
  ASSERT_EQ(rig.trackerTraffic.moves.size(), 1u);
  EXPECT_TRUE(rig.trackerTraffic.moves[0].park);
  EXPECT_EQ(TuningLog(rig), (std::vector<std::string>{"0 f1691.000", "0 f1691.000"}));
  EXPECT_EQ(sky.steps, 6);
  EXPECT_EQ(rig.status.TrackingReady.load(), 1);
  EXPECT_EQ(rig.status.SchedulerEnabled.load(), 1);
  EXPECT_EQ(rig.PowerQueries(), 1) << "the antenna is read back once a second";

  // --- the clock tick reads the antenna back once per new second ---
  ASSERT_TRUE(RunUntil(rig, loop, 10));
  EXPECT_EQ(rig.PowerQueries(), 11);
  EXPECT_GT(sky.steps, 900);

  // --- with its files in place the station starts without a message ---
  TrackingRig quiet;
  ScriptedSky quietSky(quiet);
  TrackingLoop quietLoop(quiet.context, quietSky.Seam());
  ASSERT_TRUE(quietLoop.StartUp());
  EXPECT_TRUE(quiet.messages.Shown().empty());
  EXPECT_NEAR(quiet.station.latitude * kDisplayDegreesPerRadian, 45.5, 1e-9);
  EXPECT_NEAR(quiet.station.minimumElevation * kDisplayDegreesPerRadian, kMinimumElevationDeg,
              1e-9);

  // --- a stop before the loop goes straight to shut-down ---
  TrackingRig early;
  early.stop = 1;
  ScriptedSky earlySky(early);
  TrackingLoop earlyLoop(early.context, earlySky.Seam());
  EXPECT_EQ(earlyLoop.Run(), 0);
  EXPECT_EQ(earlySky.steps, 6);
  ASSERT_EQ(early.trackerTraffic.commands.size(), 2u);
  EXPECT_EQ(early.trackerTraffic.commands[1].command, TrackerCommand::StopMotion);
}

TEST(TrackingLoopTest, LowerSlotPreemptsAHigherOne) {
  TrackingRig rig(" \nNOAA 15\n \nNOAA 12\n \n \n");
  ScriptedSky sky(rig);
  const ScriptedPass noaa12{kStart + 70, kStart + 200, 200.0, 250.0, 60.0};
  const ScriptedPass noaa15{kStart + 150, kStart + 180, 90.0, 120.0, 40.0, false, true};
  sky.AddPass(3, noaa12);
  sky.AddPass(1, noaa15);
  TrackingLoop loop(rig.context, sky.Seam());
  ASSERT_TRUE(loop.StartUp());
  ASSERT_TRUE(RunUntil(rig, loop, 215));

  // --- who had the antenna, and when ---
  const std::vector<Move>& moves = rig.trackerTraffic.moves;
  std::vector<Segment> segments = Segments(moves, BySector);
  ASSERT_EQ(Labels(segments), (std::vector<std::string>{"park", "NOAA 12", "park", "NOAA 15",
                                                        "park", "NOAA 12", "park"}));
  EXPECT_EQ(segments[0].to, 9);
  EXPECT_EQ(segments[1].from, 10) << "slot 3 is due 60 s before its AOS";
  EXPECT_EQ(segments[1].to, 89);
  EXPECT_EQ(segments[2].count, 1u) << "one park move on pre-emption";
  EXPECT_EQ(segments[2].from, 90);
  EXPECT_EQ(segments[3].from, 90) << "slot 1 is due 60 s before its AOS";
  EXPECT_EQ(segments[3].to, 179);
  EXPECT_EQ(segments[4].count, 1u);
  EXPECT_EQ(segments[5].from, 180) << "slot 3, still in its pass, is picked up again";
  EXPECT_EQ(segments[6].from, 200);

  // --- pre-positioned at the minimum elevation, then on the pass ---
  for (const Move& move : moves) {
    std::int64_t at = move.at.seconds - kStart;
    if (at >= 10 && at < 70) {
      ASSERT_EQ(move.azimuth, Counts(200.0, kMinimumElevationDeg).azimuth) << at;
      ASSERT_EQ(move.elevation, Counts(200.0, kMinimumElevationDeg).elevation) << at;
    } else if (at >= 71 && at < 90) {
      // Each move goes to the direction of the satellite's latest step, a few ms old (so in
      // the first second of the pass a move may still be the pre-positioning one).
      AntennaCounts expected = PassCounts(noaa12, move.at);
      ASSERT_NEAR(move.azimuth, expected.azimuth, 1) << at;
      ASSERT_NEAR(move.elevation, expected.elevation, 1) << at;
    } else if (at >= 90 && at < 150 && !move.park) {
      ASSERT_EQ(move.azimuth, Counts(90.0, kMinimumElevationDeg).azimuth) << at;
      ASSERT_EQ(move.elevation, Counts(90.0, kMinimumElevationDeg).elevation) << at;
    } else if (at >= 151 && at < 180) {
      AntennaCounts expected = PassCounts(noaa15, move.at);
      ASSERT_NEAR(move.azimuth, expected.azimuth, 1) << at;
      ASSERT_NEAR(move.elevation, expected.elevation, 1) << at;
    }
  }

  // --- the captures: slot 3 ended on pre-emption, slot 1 armed from its AOS ---
  EXPECT_EQ(CaptureLog(sky),
            (std::vector<std::string>{"70 start NOAA 12", "90 end", "150 start NOAA 15", "180 end",
                                      "180 start NOAA 12", "200 end"}));
  EXPECT_EQ(sky.captures[2].reversed, 1) << "NOAA 15's pass runs north";
  EXPECT_EQ(sky.captures[0].reversed, 0);
  EXPECT_EQ(TuningLog(rig),
            (std::vector<std::string>{"0 f1691.000", "0 f1691.000", "70 f1698.000", "90 f1691.000",
                                      "150 f1702.500", "180 f1691.000", "180 f1698.000",
                                      "200 f1691.000"}));
}

TEST(TrackingLoopTest, HigherSlotWaitsForTheLowerOne) {
  // --- slot 3 in its pass when slot 1's ends: picked up then ---
  TrackingRig rig(" \nNOAA 15\n \nNOAA 12\n \n \n");
  ScriptedSky sky(rig);
  sky.AddPass(1, {kStart + 70, kStart + 130, 90.0, 120.0, 40.0});
  sky.AddPass(3, {kStart + 100, kStart + 160, 200.0, 250.0, 60.0});
  TrackingLoop loop(rig.context, sky.Seam());
  ASSERT_TRUE(loop.StartUp());
  ASSERT_TRUE(RunUntil(rig, loop, 170));
  std::vector<Segment> segments = Segments(rig.trackerTraffic.moves, BySector);
  ASSERT_EQ(Labels(segments),
            (std::vector<std::string>{"park", "NOAA 15", "park", "NOAA 12", "park"}));
  EXPECT_EQ(segments[1].from, 10);
  EXPECT_EQ(segments[1].to, 129) << "slot 1 is not interrupted";
  EXPECT_EQ(segments[3].from, 130);
  EXPECT_EQ(CaptureLog(sky), (std::vector<std::string>{"70 start NOAA 15", "130 end",
                                                       "130 start NOAA 12", "160 end"}));

  // --- slot 3's pass over before slot 1's: not picked up ---
  TrackingRig later(" \nNOAA 15\n \nNOAA 12\n \n \n");
  ScriptedSky laterSky(later);
  laterSky.AddPass(1, {kStart + 70, kStart + 130, 90.0, 120.0, 40.0});
  laterSky.AddPass(3, {kStart + 80, kStart + 120, 200.0, 250.0, 60.0});
  TrackingLoop laterLoop(later.context, laterSky.Seam());
  ASSERT_TRUE(laterLoop.StartUp());
  ASSERT_TRUE(RunUntil(later, laterLoop, 140));
  EXPECT_EQ(Labels(Segments(later.trackerTraffic.moves, BySector)),
            (std::vector<std::string>{"park", "NOAA 15", "park"}));
  EXPECT_EQ(CaptureLog(laterSky), (std::vector<std::string>{"70 start NOAA 15", "130 end"}));
}

TEST(TrackingLoopTest, GeosynchronousSatellites) {
  // --- above the minimum elevation: pointed at for good, never recorded ---
  TrackingRig rig("GOES 12\n \nNOAA 12\n \n \n \n");
  ScriptedSky sky(rig);
  sky.SetGeosynchronous(0, 170.0, 30.0);
  TrackingLoop loop(rig.context, sky.Seam());
  ASSERT_TRUE(loop.StartUp());
  ASSERT_TRUE(RunUntil(rig, loop, 20));
  ASSERT_FALSE(rig.trackerTraffic.moves.empty());
  for (const Move& move : rig.trackerTraffic.moves) {
    ASSERT_FALSE(move.park);
    ASSERT_EQ(move.azimuth, Counts(170.0, 30.0).azimuth);
    ASSERT_EQ(move.elevation, Counts(170.0, 30.0).elevation);
  }
  EXPECT_EQ(loop.scheduler().state().AntennaOnPass.load(), 1);
  EXPECT_TRUE(sky.captures.empty());
  EXPECT_EQ(rig.receiverLines.Tunings().size(), 2u) << "only the idle tunings of the start-up";

  // --- below it: the next slot's pass is followed and recorded ---
  TrackingRig below("GOES 12\n \nNOAA 12\n \n \n \n");
  ScriptedSky belowSky(below);
  belowSky.SetGeosynchronous(0, 170.0, -10.0);
  belowSky.AddPass(2, {kStart + 70, kStart + 100, 200.0, 250.0, 60.0});
  TrackingLoop belowLoop(below.context, belowSky.Seam());
  ASSERT_TRUE(belowLoop.StartUp());
  ASSERT_TRUE(RunUntil(below, belowLoop, 110));
  EXPECT_EQ(Labels(Segments(below.trackerTraffic.moves, BySector)),
            (std::vector<std::string>{"park", "NOAA 12", "park"}));
  EXPECT_EQ(CaptureLog(belowSky), (std::vector<std::string>{"70 start NOAA 12", "100 end"}));
}

TEST(TrackingLoopTest, StopDuringAPass) {
  TrackingRig rig("NOAA 12\n");
  rig.dir.Write("minel.dat", "5\n");
  ScriptedSky sky(rig);
  sky.AddPass(0, {kStart + 20, kStart + 100, 200.0, 250.0, 60.0});
  sky.afterStep = [&] {
    if (rig.Seconds() < 50) return;
    rig.stop = 1;
    rig.station.minimumElevation = 10.0 * kRadiansPerDegree;  // as the operator's dialog sets it
  };
  TrackingLoop loop(rig.context, sky.Seam());
  EXPECT_EQ(loop.Run(), 0);
  EXPECT_EQ(rig.Seconds(), 50) << "the capture wait ends at once";

  // --- the capture is ended and the receiver idles ---
  EXPECT_EQ(rig.handOff.CaptureEndRequest.load(), 1);
  EXPECT_EQ(CaptureLog(sky), std::vector<std::string>{"20 start NOAA 12"});
  std::vector<std::string> tunings = TuningLog(rig);
  EXPECT_EQ(std::vector<std::string>(tunings.end() - 2, tunings.end()),
            (std::vector<std::string>{"20 f1698.000", "50 f1691.000"}));

  // --- stop motion, then the final park ---
  const auto& commands = rig.trackerTraffic.commands;
  ASSERT_EQ(commands.size(), 2u);
  EXPECT_EQ(commands[1].command, TrackerCommand::StopMotion);
  const std::vector<Move>& moves = rig.trackerTraffic.moves;
  EXPECT_EQ(commands[1].movesBefore, moves.size() - 1);
  EXPECT_TRUE(moves.back().park);
  EXPECT_EQ(moves.back().azimuth, 128);
  EXPECT_EQ(moves.back().elevation, 128);

  // --- a list read whole is written only when the station holds something else ---
  EXPECT_EQ(rig.dir.Read("sats.dat"), "NOAA 12\n");
  EXPECT_EQ(rig.dir.Read("minel.dat"), "10.000000\n");
}

TEST(TrackingLoopTest, ListCommandsBeforeTheListIsLoaded) {
  // Commands given while the tracking thread starts, before it loads sats.dat, saw an empty
  // table: the listed satellites keep their slots, an Add goes to the lowest free one, and one
  // that is listed by then (or finds no room) is refused with the command's own message.
  struct Case {
    std::string satsDat;
    std::vector<std::string> add;
    std::string written;
    std::vector<std::string> messages;
  };
  const std::string duplicate = "Duplicate Satelite Names Not Permitted";
  const std::vector<Case> cases = {
      // NOAA 15 asked for slot 0, GOES 12 for slot 1, still free after the load.
      {"NOAA 12\n \nNOAA 16\n \n \n \n",
       {"NOAA 15", "GOES 12"},
       "NOAA 12\nGOES 12\nNOAA 16\nNOAA 15\n \n \n",
       {}},
      {"NOAA 12\n \n \n \n \n \n",
       {"noaa 16", "noaa 12"},
       "NOAA 12\nNOAA 16\n \n \n \n \n",
       {duplicate}},
      {"NOAA 12\nNOAA 12\nNOAA 12\nNOAA 12\nNOAA 12\nNOAA 16\n",
       {"NOAA 15"},
       "NOAA 12\nNOAA 12\nNOAA 12\nNOAA 12\nNOAA 12\nNOAA 16\n",
       {"No space available to ADD Satellite"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.satsDat);
    TrackingRig rig(c.satsDat);
    ConfigContext config{rig.dir.path(), rig.table, rig.station, rig.messages};
    for (const std::string& name : c.add) AddSatellite(config, name);
    rig.stop = 1;
    TrackingLoop loop(rig.context);
    EXPECT_EQ(loop.Run(), 0);
    EXPECT_EQ(rig.dir.Read("sats.dat"), c.written);
    EXPECT_EQ(rig.messages.Shown(), c.messages);
  }
}

TEST(TrackingLoopTest, SaysOnceWhenNothingCanBePredicted) {
  // NOAA 12's set is of November 2000; eleven years on it predicts nothing.
  TrackingRig rig;
  rig.clock.Set(SystemTime{kStart + 11LL * 365 * 86400, 0});
  ScriptedSky sky(rig);
  TrackingLoop loop(rig.context, sky.Seam());
  ASSERT_TRUE(loop.StartUp());
  EXPECT_EQ(rig.status.NothingPredictable.load(), 1);
  for (int i = 0; i < 200; ++i) ASSERT_TRUE(loop.Iteration());
  EXPECT_EQ(rig.messages.Shown(), std::vector<std::string>{kNothingPredictableMessage});
  // Nothing listed is not this warning.
  rig.table[0].Empty();  // the scripted sky installs no requests: as the tracking thread does
  ASSERT_TRUE(loop.Iteration());
  EXPECT_EQ(rig.status.NothingPredictable.load(), 0);
}

TEST(TrackingLoopTest, ClockCorrectionFromGps) {
  // --- GPS 1.234 s ahead: the first time poll, a second after the start-up ---
  TrackingRig ahead;
  ahead.ChangeGps([](sim::SimGpsOptions& gps) { gps.clockErrorSeconds = 1.234; });
  ScriptedSky aheadSky(ahead);
  TrackingLoop aheadLoop(ahead.context, aheadSky.Seam());
  ASSERT_TRUE(aheadLoop.StartUp());
  EXPECT_EQ(ahead.gpsState.GpsPresent.load(), 1);
  EXPECT_EQ(ahead.status.ClockCorrection.load(), 0.0);
  ASSERT_TRUE(RunUntil(ahead, aheadLoop, 2));
  std::vector<SystemTime> timePolls = ahead.gpsRequests.Times(0x21);
  ASSERT_EQ(timePolls.size(), 1u);
  EXPECT_EQ(timePolls[0].seconds, kStart + 1);
  EXPECT_DOUBLE_EQ(ahead.status.ClockCorrection.load(), 1.48);
  EXPECT_EQ(ahead.status.GpsTimeRefused.load(), 0);
  // Every 15 s after that.
  ASSERT_TRUE(RunUntil(ahead, aheadLoop, 32));
  timePolls = ahead.gpsRequests.Times(0x21);
  ASSERT_EQ(timePolls.size(), 3u);
  EXPECT_EQ(timePolls[1].seconds, kStart + 16);
  EXPECT_EQ(timePolls[2].seconds, kStart + 31);

  // --- a GPS time before the build and two days off is refused: the last good correction
  //     holds and the refusal shows; the next good time clears it ---
  ahead.ChangeGps([](sim::SimGpsOptions& gps) { gps.clockErrorSeconds = 2 * 86400.0; });
  ASSERT_TRUE(RunUntil(ahead, aheadLoop, 47));
  EXPECT_EQ(ahead.gpsState.GpsTimeValid.load(), 1);
  EXPECT_DOUBLE_EQ(ahead.status.ClockCorrection.load(), 1.48);
  EXPECT_EQ(ahead.status.GpsTimeRefused.load(), 1);
  ahead.ChangeGps([](sim::SimGpsOptions& gps) { gps.clockErrorSeconds = 0.5; });
  ASSERT_TRUE(RunUntil(ahead, aheadLoop, 62));
  EXPECT_DOUBLE_EQ(ahead.status.ClockCorrection.load(), 0.75);
  EXPECT_EQ(ahead.status.GpsTimeRefused.load(), 0);

  // --- 0.4 s behind ---
  TrackingRig behind;
  behind.ChangeGps([](sim::SimGpsOptions& gps) { gps.clockErrorSeconds = -0.4; });
  ScriptedSky behindSky(behind);
  TrackingLoop behindLoop(behind.context, behindSky.Seam());
  ASSERT_TRUE(behindLoop.StartUp());
  ASSERT_TRUE(RunUntil(behind, behindLoop, 2));
  EXPECT_DOUBLE_EQ(behind.status.ClockCorrection.load(), -0.15);

  // --- a time reply without a usable time keeps the last correction ---
  behind.ChangeGps([](sim::SimGpsOptions& gps) { gps.timeKnown = false; });
  ASSERT_TRUE(RunUntil(behind, behindLoop, 17));
  EXPECT_EQ(behind.gpsRequests.Times(0x21).size(), 2u);
  EXPECT_EQ(behind.gpsState.GpsTimeValid.load(), 0);
  EXPECT_DOUBLE_EQ(behind.status.ClockCorrection.load(), -0.15);

  // --- no GPS receiver: exactly 0.0, and no GPS traffic after the start-up ---
  TrackingRig none;
  none.ChangeGps([](sim::SimGpsOptions& gps) { gps.failure = sim::SimGpsFailure::Silent; });
  none.status.ClockCorrection = 3.0;
  ScriptedSky noneSky(none);
  TrackingLoop noneLoop(none.context, noneSky.Seam());
  ASSERT_TRUE(noneLoop.StartUp());
  ASSERT_TRUE(noneLoop.Iteration());
  EXPECT_EQ(none.status.ClockCorrection.load(), 0.0);
  ASSERT_TRUE(RunUntil(none, noneLoop, 90));
  EXPECT_EQ(none.status.ClockCorrection.load(), 0.0);
  // The first health request of the start-up times out, which silences the second try.
  EXPECT_EQ(none.gpsRequests.all.size(), 1u);
  EXPECT_EQ(none.gpsState.GpsPresent.load(), 0);
}

TEST(TrackingLoopTest, GpsHealthPollsAroundALinkFailure) {
  TrackingRig rig;
  ScriptedSky sky(rig);
  // The moment the loop clears the failure, seen from the next prediction step.
  std::optional<std::int64_t> cleared;
  int lastFailed = 0;
  sky.afterStep = [&] {
    int failed = rig.gpsState.GpsLinkFailed.load();
    if (lastFailed == 1 && failed == 0 && !cleared) cleared = rig.Seconds();
    lastFailed = failed;
  };
  TrackingLoop loop(rig.context, sky.Seam());
  ASSERT_TRUE(loop.StartUp());
  ASSERT_TRUE(RunUntil(rig, loop, 9));

  // --- healthy: every 2 s ---
  std::vector<std::int64_t> healthy;
  for (SystemTime t : rig.gpsRequests.Times(0x26)) healthy.push_back(t.seconds - kStart);
  // The detection at start-up, then a poll at once (the countdown starts expired).
  EXPECT_EQ(healthy, (std::vector<std::int64_t>{0, 0, 2, 4, 6, 8}));

  // --- the receiver falls silent for one poll ---
  rig.ChangeGps([](sim::SimGpsOptions& gps) { gps.failure = sim::SimGpsFailure::Silent; });
  while (rig.gpsState.GpsLinkFailed.load() == 0) ASSERT_TRUE(loop.Iteration());
  rig.ChangeGps([](sim::SimGpsOptions& gps) { gps.failure = sim::SimGpsFailure::None; });
  EXPECT_EQ(rig.gpsState.GpsHealth.load(), 0x80);
  const std::int64_t failedPoll = rig.gpsRequests.all.back().at.seconds - kStart;
  EXPECT_EQ(failedPoll, 10);
  ASSERT_TRUE(RunUntil(rig, loop, 30));

  ASSERT_TRUE(cleared.has_value());
  std::vector<std::int64_t> after;
  for (SystemTime t : rig.gpsRequests.Times(0x26)) {
    if (t.seconds - kStart > failedPoll) after.push_back(t.seconds - kStart);
  }
  ASSERT_GE(after.size(), 3u);
  EXPECT_EQ(after[0], *cleared + 5) << "5 s after the expiry that cleared the failure";
  EXPECT_EQ(after[1], after[0] + 2);
  EXPECT_EQ(after[2], after[1] + 2);
  EXPECT_EQ(rig.gpsState.GpsHealth.load(), 0);
}

TEST(TrackingLoopTest, LocationFromGps) {
  TrackingRig rig;
  rig.ChangeGps([](sim::SimGpsOptions& gps) { gps.latitudeDeg = 45.52; });
  rig.ChangeGps([](sim::SimGpsOptions& gps) { gps.altitudeM = 650.0 / 3.280833; });
  ScriptedSky sky(rig);
  TrackingLoop loop(rig.context, sky.Seam());
  ASSERT_TRUE(loop.StartUp());
  std::filesystem::remove(rig.dir.path() / "map.dat");
  ASSERT_TRUE(RunUntil(rig, loop, 59));
  EXPECT_EQ(rig.beeper.count(), 0);
  EXPECT_NEAR(rig.station.latitude * kDisplayDegreesPerRadian, 45.5, 1e-9);

  // --- the first check, a minute after the start-up, moves the station ---
  ASSERT_TRUE(RunUntil(rig, loop, 61));
  EXPECT_EQ(rig.beeper.count(), 1);
  std::vector<SystemTime> fixes = rig.gpsRequests.Times(0x37);
  ASSERT_EQ(fixes.size(), 3u) << "two reads at start-up and one for the check";
  EXPECT_EQ(fixes[2].seconds, kStart + 60);
  EXPECT_NEAR(rig.station.latitude * kDisplayDegreesPerRadian, 45.52, 1e-5);
  EXPECT_NEAR(rig.station.height * 20925641.569707707, 650.0, 1e-2);
  // The fix comes in single precision, so the file holds it to a few millionths.
  std::string text = rig.dir.Read("location.dat");
  EXPECT_NEAR(ParseDouble(text), 45.52, 2e-6);
  EXPECT_EQ(rig.messages.Count("Can't find file map.dat"), 2u);

  // --- the next check, 300 s later, finds the station right ---
  ASSERT_TRUE(RunUntil(rig, loop, 361));
  fixes = rig.gpsRequests.Times(0x37);
  ASSERT_EQ(fixes.size(), 4u);
  EXPECT_EQ(fixes[3].seconds, kStart + 360);
  EXPECT_EQ(rig.beeper.count(), 1);
  EXPECT_EQ(rig.dir.Read("location.dat"), text);
}

TEST(CheckMapFiles, AFifoOrDirectoryIsNoMap) {
  // A FIFO opened blocking would hold the tracking thread until some writer came.
  TempDir dir;
  ASSERT_EQ(::mkfifo((dir.path() / "map.dat").c_str(), 0600), 0);
  RecordingMessages messages;
  CheckMapFiles(dir.path(), messages);
  EXPECT_EQ(messages.Count("Can't find file map.dat"), 2u);
  std::filesystem::remove(dir.path() / "map.dat");
  std::filesystem::create_directory(dir.path() / "map.dat");
  CheckMapFiles(dir.path(), messages);
  EXPECT_EQ(messages.Count("Can't find file map.dat"), 4u);
  std::filesystem::remove(dir.path() / "map.dat");
  dir.Write("map.dat", "");
  CheckMapFiles(dir.path(), messages);
  EXPECT_EQ(messages.Count("Can't find file map.dat"), 4u);
}

}  // namespace
}  // namespace halvik::trackingtest
