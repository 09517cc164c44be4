// Whole-station passes of the two other downlink families: FengYun 1C with its long frames and
// SeaStar with its own acquisition mode.
#include <gtest/gtest.h>

#include <variant>

#include "capture/CaptureFileReader.h"
#include "e2e/StationRig.h"

namespace halvik::e2e {
namespace {

// Checks one finished capture: the header names the satellite, then sync acquired (30), frames
// that all carry sync, end.
void ExpectCleanCapture(const CaptureFileContents& contents, const std::string& satellite) {
  EXPECT_TRUE(contents.header.found);
  EXPECT_EQ(contents.header.nameLine, satellite);
  ASSERT_EQ(EntryOutline(contents), (std::vector<std::string>{"acquired 30", "frames", "end"}))
      << Describe(contents);
  const auto& frames = std::get<CaptureFrameRun>(contents.entries[1]);
  EXPECT_GT(frames.frames, 100) << Describe(contents);
  EXPECT_EQ(frames.withSync, frames.frames) << Describe(contents);
}

struct FamilyPass {
  std::string satellite;
  std::string suffix;  // the end of the capture file's name: letter and code
  int blockWords;
  std::string program;
  bool seaStarMode;
  // FengYun 1C's sample element set is from May 1999, before that August's GPS week wrap: a week
  // number below 1024 reads as one after the build, so that sky is flown without a GPS receiver.
  bool gpsPresent = true;
};

// Runs the station through one pass of the satellite and checks the capture it makes.
void ExpectFamilyPass(const FamilyPass& family) {
  SCOPED_TRACE(family.satellite);
  StationRig rig({.satellites = {family.satellite},
                  .hardware = [&](SimHardwareOptions& h) { h.gpsPresent = family.gpsPresent; },
                  .passAboveDeg = 20});
  ASSERT_TRUE(rig.Run(1, 30 * 60));
  EXPECT_EQ(rig.station().captureStatus.CapturesFinished.load(), 1);
  EXPECT_TRUE(rig.messages().Shown().empty()) << rig.messages().Shown().front();
  auto files = rig.CaptureFiles();
  ASSERT_EQ(files.size(), 1u);
  const std::string name = files[0].filename().string();
  ASSERT_GT(name.size(), family.suffix.size());
  EXPECT_EQ(name.substr(name.size() - family.suffix.size()), family.suffix) << name;

  CaptureReadResult read = ReadCaptureFile(files[0]);
  ASSERT_TRUE(read.ok) << read.error;
  EXPECT_EQ(read.contents.blockWords, family.blockWords);
  ExpectCleanCapture(read.contents, family.satellite);

  auto spawned = rig.spawner().Spawned();
  ASSERT_EQ(spawned.size(), 1u);
  EXPECT_EQ(spawned[0].program, rig.dir() / family.program);
  ASSERT_EQ(spawned[0].argv.size(), 2u);
  EXPECT_EQ(spawned[0].argv[0], family.program);
  EXPECT_EQ(spawned[0].argv[1], std::filesystem::absolute(files[0]).string());
  EXPECT_EQ(rig.hardware().synchronizer().counters().seaStarStarts > 0, family.seaStarMode);
}

TEST(WholeStationFamilies, FengYunAndSeaStarPasses) {
  // FengYun 1C: "fy1" files of 22180-word blocks, its own post-processing program.
  ExpectFamilyPass({"FENGYUN 1C", "A.fy1", 22180, "ppfy1c.exe", false, false});
  // SeaStar: "str" files of 11090-word blocks, the synchronizer in the SeaStar mode.
  ExpectFamilyPass({"ORBVIEW 2 (SEASTAR)", "A.str", 11090, "ppsea.exe", true});
}

}  // namespace
}  // namespace halvik::e2e
