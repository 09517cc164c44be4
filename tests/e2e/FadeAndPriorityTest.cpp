// Whole-station passes that do not go to plan: the link fading in mid-pass, and a satellite of
// higher priority taking the antenna from the one being recorded.
#include <gtest/gtest.h>

#include <algorithm>
#include <variant>

#include "capture/CaptureFileReader.h"
#include "e2e/StationRig.h"
#include "platform/Files.h"

namespace halvik::e2e {
namespace {

constexpr double kFadeSeconds = 20.0;
// Frames without sync after which the engine declares the sync lost.
constexpr std::int64_t kLossFrames = 31;

TEST(WholeStationUpsets, FadeInMidPass) {
  StationRig rig({.satellites = {"NOAA 15"}});
  auto pass = FindPass(rig.hardware().sky(), "NOAA 15", rig.start().AsSeconds(), kMinimumElevation);
  ASSERT_TRUE(pass);
  ASSERT_GT(pass->set - pass->rise, 5 * 60.0);
  const double middle = (pass->rise + pass->set) / 2;
  rig.hardware().sky().AddFade(middle - kFadeSeconds / 2, middle + kFadeSeconds / 2);
  ASSERT_TRUE(rig.Run(1, static_cast<std::int64_t>(pass->set - rig.start().AsSeconds()) + 300));
  EXPECT_EQ(rig.station().captureStatus.CapturesFinished.load(), 1);

  auto files = rig.CaptureFiles();
  ASSERT_EQ(files.size(), 1u);
  CaptureReadResult read = ReadCaptureFile(files[0]);
  ASSERT_TRUE(read.ok) << read.error;
  const CaptureFileContents& contents = read.contents;

  // --- one capture file across the fade: loss declared, then found again quickly ---
  ASSERT_EQ(EntryOutline(contents), (std::vector<std::string>{"acquired 30", "frames", "lost 30",
                                                              "acquired 2", "frames", "end"}))
      << Describe(contents);
  const auto& before = std::get<CaptureFrameRun>(contents.entries[1]);
  const auto& lost = std::get<CaptureMarker>(contents.entries[2]);
  const auto& again = std::get<CaptureMarker>(contents.entries[3]);
  const auto& after = std::get<CaptureFrameRun>(contents.entries[4]);

  // The frames of the fade are written until the loss is declared, and no more.
  EXPECT_GE(before.frames - before.withSync, 1) << Describe(contents);
  EXPECT_LE(before.frames - before.withSync, kLossFrames) << Describe(contents);
  EXPECT_EQ(after.withSync, after.frames) << Describe(contents);
  // Recording goes on after the resync: the second half of the pass is there.
  EXPECT_GT(after.frames, 2 * 60 * 6) << Describe(contents);
  EXPECT_EQ(contents.totalFrames, before.frames + after.frames);

  // The markers carry the times of the fade (true time = computer time here).
  EXPECT_NEAR(static_cast<double>(lost.time), middle - kFadeSeconds / 2, 10.0);
  EXPECT_GE(static_cast<double>(again.time), middle + kFadeSeconds / 2 - 2.0);
  EXPECT_LE(static_cast<double>(again.time), middle + kFadeSeconds / 2 + 30.0);

  EXPECT_EQ(rig.spawner().Spawned().size(), 1u);
}

// The same orbit as NOAA 15's, this much later along it.
constexpr double kLagSeconds = 180.0;

// elements.dat with slot 0's satellite "NOAA 16" flying NOAA 15's orbit a few minutes behind it.
void WriteTrailingTwin(const std::filesystem::path& dir) {
  std::vector<ElementEntry> entries = ReadElementEntries(dir / "elements.dat");
  auto noaa15 = std::find_if(entries.begin(), entries.end(),
                             [](const ElementEntry& e) { return e.name == "NOAA 15"; });
  ASSERT_NE(noaa15, entries.end());
  const double revsPerDay = std::stod(noaa15->line2.substr(52, 11));
  const double meanAnomaly = std::stod(noaa15->line2.substr(43, 8));
  const double lagDeg = revsPerDay * 360.0 * kLagSeconds / 86400.0;
  const std::string twinLine2 = WithMeanAnomaly(noaa15->line2, meanAnomaly - lagDeg);
  // The rewriter agrees with the file's own check digits.
  ASSERT_EQ(WithCheckDigit(noaa15->line1), noaa15->line1);
  ASSERT_EQ(WithCheckDigit(noaa15->line2), noaa15->line2);
  WriteFileAtomically(dir / "elements.dat", "NOAA 16\n" + noaa15->line1 + "\n" + twinLine2 +
                                                "\nNOAA 15\n" + noaa15->line1 + "\n" +
                                                noaa15->line2 + "\n");
}

const std::filesystem::path* WithSuffix(const std::vector<std::filesystem::path>& files,
                                        const std::string& suffix) {
  for (const auto& file : files) {
    const std::string name = file.filename().string();
    if (name.size() > suffix.size() && name.ends_with(suffix)) return &file;
  }
  return nullptr;
}

TEST(WholeStationUpsets, HigherPriorityPassTakesTheAntenna) {
  StationRig rig({.satellites = {"NOAA 16", "NOAA 15"}, .prepare = WriteTrailingTwin});
  // The passes above the station's minimum elevation, by which it finds AOS and LOS.
  auto first =
      FindPass(rig.hardware().sky(), "NOAA 15", rig.start().AsSeconds(), kMinimumElevation);
  auto second =
      FindPass(rig.hardware().sky(), "NOAA 16", rig.start().AsSeconds(), kMinimumElevation);
  ASSERT_TRUE(first && second);
  // The rig starts before NOAA 15's pass, which the twin's follows closely.
  ASSERT_NEAR(second->rise - first->rise, kLagSeconds, 30.0);
  ASSERT_LT(first->rise, rig.start().AsSeconds() + 300.0);

  // Park moves counted while slot 1 was last seen followed and when slot 0 was first seen.
  int parksWhileSlot1 = -1;
  int parksAtSlot0 = -1;
  ASSERT_TRUE(rig.Run(2, static_cast<std::int64_t>(second->set - rig.start().AsSeconds()) + 300,
                      [&](Station& station) {
                        const SchedulerState* scheduler = station.scheduler();
                        if (!scheduler) return;
                        // The tracking thread runs on while the selection and the park count
                        // are read one by one. A park between the reads would pair a count
                        // with the wrong selection, so a sample counts only when the park count
                        // was the same before and after the selection was read.
                        const int parksBefore = rig.hardware().tracker().counters().parkMoves;
                        const bool active = scheduler->TrackingActive != 0;
                        const int slot = static_cast<int>(scheduler->SelectedSatellite);
                        const int parks = rig.hardware().tracker().counters().parkMoves;
                        if (!active || parks != parksBefore) return;
                        if (slot == 1 && parksAtSlot0 < 0) parksWhileSlot1 = parks;
                        if (slot == 0 && parksAtSlot0 < 0) parksAtSlot0 = parks;
                      }));
  EXPECT_EQ(rig.station().captureStatus.CapturesFinished.load(), 2);

  // --- two well-formed captures, NOAA 15's cut short ---
  auto files = rig.CaptureFiles();
  ASSERT_EQ(files.size(), 2u);
  const auto* cutFile = WithSuffix(files, "A.N15");
  const auto* fullFile = WithSuffix(files, "A.N16");
  ASSERT_TRUE(cutFile && fullFile);
  CaptureReadResult cut = ReadCaptureFile(*cutFile);
  CaptureReadResult full = ReadCaptureFile(*fullFile);
  ASSERT_TRUE(cut.ok) << cut.error;
  ASSERT_TRUE(full.ok) << full.error;
  const std::vector<std::string> clean{"acquired 30", "frames", "end"};
  ASSERT_EQ(EntryOutline(cut.contents), clean) << Describe(cut.contents);
  ASSERT_EQ(EntryOutline(full.contents), clean) << Describe(full.contents);
  EXPECT_EQ(cut.contents.header.nameLine, "NOAA 15");
  EXPECT_EQ(full.contents.header.nameLine, "NOAA 16");
  EXPECT_LT(cut.contents.totalFrames, full.contents.totalFrames / 2);
  EXPECT_GT(cut.contents.totalFrames, 0);

  // NOAA 15's recording ended about when its twin became due (60 s before its AOS), long
  // before NOAA 15 set; the twin's began at about its own AOS.
  const auto& cutEnd = std::get<CaptureMarker>(cut.contents.entries[2]);
  EXPECT_NEAR(static_cast<double>(cutEnd.time), second->rise - 60.0, 5.0);
  EXPECT_LT(static_cast<double>(cutEnd.time), first->set - 120.0);
  const auto& fullStart = std::get<CaptureMarker>(full.contents.entries[0]);
  EXPECT_GE(static_cast<double>(fullStart.time), second->rise - 5.0);
  EXPECT_LE(static_cast<double>(fullStart.time), second->rise + 20.0);

  // --- post-processing for each, the antenna parked once in between ---
  auto spawned = rig.spawner().Spawned();
  ASSERT_EQ(spawned.size(), 2u);
  EXPECT_EQ(spawned[0].program, rig.dir() / "ppnoaa.exe");
  EXPECT_EQ(spawned[1].program, rig.dir() / "ppnoaa.exe");
  EXPECT_EQ(spawned[0].argv.back(), std::filesystem::absolute(*cutFile).string());
  EXPECT_EQ(spawned[1].argv.back(), std::filesystem::absolute(*fullFile).string());
  ASSERT_GE(parksWhileSlot1, 0);
  ASSERT_GE(parksAtSlot0, 0);
  EXPECT_EQ(parksAtSlot0 - parksWhileSlot1, 1);
}

}  // namespace
}  // namespace halvik::e2e
