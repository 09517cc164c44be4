// The soak's own bookkeeping: which passes it expects and what it accepts as a capture.
#include <gtest/gtest.h>

#include <cmath>

#include "soak/SoakPlan.h"

namespace halvik::soak {
namespace {

ListedPass Pass(int slot, std::string code, std::int64_t aos, std::int64_t los) {
  ListedPass pass;
  pass.slot = slot;
  pass.code = std::move(code);
  pass.aos = aos;
  pass.los = los;
  return pass;
}

CaptureReadResult Read(std::vector<CaptureEntry> entries, bool found = true) {
  CaptureReadResult read;
  read.opened = true;
  read.ok = true;
  read.contents.header.found = found;
  read.contents.entries = std::move(entries);
  for (const CaptureEntry& entry : read.contents.entries) {
    if (const auto* run = std::get_if<CaptureFrameRun>(&entry)) {
      read.contents.totalFrames += run->frames;
    }
  }
  return read;
}

TEST(SoakPlan, ListingAndPriority) {
  // --- a pass line as the listing prints it; header and geosynchronous lines are no passes
  auto pass =
      ParsePassLine("2 ORBVIEW_2_(SEASTAR) 2001-10-11T12:00:00Z 2001-10-11T12:10:30Z 45.2 north -");
  ASSERT_TRUE(pass);
  EXPECT_EQ(pass->slot, 2);
  EXPECT_EQ(pass->name, "ORBVIEW 2 (SEASTAR)");
  EXPECT_EQ(pass->code, "str");
  EXPECT_EQ(pass->los - pass->aos, 630);
  EXPECT_EQ(ParsePassLine("0 NOAA_15 2001-10-11T12:00:00Z - - - -")->los, 0);
  EXPECT_EQ(ParsePassLine("1 NOAA_16 2001-10-11T12:00:00Z x 1 north -"), std::nullopt);
  EXPECT_EQ(ParsePassLine("# passes from ..."), std::nullopt);
  EXPECT_EQ(ParsePassLine("3 GOES geo geo - - -"), std::nullopt);

  // --- a higher slot is dropped when a lower one holds the antenna (from 61 s before its AOS)
  // at any moment of the higher one's [aos - 61, los]
  std::vector<ListedPass> passes = {
      Pass(1, "N16", 1000, 1600),  // alone
      Pass(3, "N14", 1660, 2000),  // slot 1 ends at 1600 >= 1660 - 61: dropped
      Pass(0, "N15", 3000, 3600),
      Pass(2, "str", 2400, 2939),  // slot 0 due from 2939: dropped
      Pass(4, "fy1", 3662, 4000),  // starts due after slot 0's LOS: kept
      Pass(2, "str", 5000, 5600),
      Pass(1, "N16", 5500, 6000),  // a lower slot overlapping a higher one keeps its pass
  };
  std::vector<ListedPass> kept = LetThrough(passes);
  std::vector<std::int64_t> aos;
  for (const ListedPass& p : kept) aos.push_back(p.aos);
  EXPECT_EQ(aos, (std::vector<std::int64_t>{1000, 3000, 3662, 5500}));
  // A lower pass without an end holds the antenna for a day.
  EXPECT_EQ(LetThrough({Pass(0, "N15", 100, 0), Pass(1, "N16", 80000, 80500)}).size(), 1u);
}

TEST(SoakPlan, CaptureShapeAndMatching) {
  const CaptureMarker acquired{MarkerKind::SyncAcquired, 30, 1000};
  const CaptureMarker lost{MarkerKind::SyncLost, 0, 1100};
  const CaptureMarker again{MarkerKind::SyncAcquired, 30, 1200};
  const CaptureMarker end{MarkerKind::EndOfCapture, 0, 1400};

  // --- a well-formed capture; frames expected only for the time in lock
  CaptureCheck good = CheckCapture("We02JanA.N15", Read({acquired, CaptureFrameRun{600, 600}, lost,
                                                         again, CaptureFrameRun{1200, 1200}, end}));
  EXPECT_EQ(good.fault, "");
  EXPECT_EQ(good.code, "N15");
  EXPECT_EQ(good.acquiredTime, 1000);
  EXPECT_EQ(good.endTime, 1400);
  EXPECT_EQ(good.frames, 1800);
  EXPECT_NEAR(good.framesExpected, 300 * FramesPerSecond("N15"), 1e-9);
  EXPECT_NEAR(FramesPerSecond("fy1") / FramesPerSecond("N15"), 1.0, 0.01);  // twice both
  EXPECT_EQ(good.lockIntervals, 2);

  // --- enough frames: 97 % of those sent in lock, less a second's worth per stretch in lock
  const double rate = FramesPerSecond("N15");
  CaptureCheck check = good;
  check.frames = static_cast<std::int64_t>(std::ceil(good.framesExpected * 0.97 - 2 * rate));
  EXPECT_TRUE(HoldsEnoughFrames(check));
  check.frames = static_cast<std::int64_t>(good.framesExpected * 0.95);
  EXPECT_FALSE(HoldsEnoughFrames(check));
  // A capture of three seconds that a higher slot cut short: one stretch, known to a second.
  CaptureCheck brief = CheckCapture(
      "Th27DecA.N14", Read({acquired, CaptureFrameRun{16, 16},
                            CaptureMarker{MarkerKind::EndOfCapture, 0, acquired.time + 3}}));
  ASSERT_EQ(brief.fault, "");
  EXPECT_NEAR(brief.framesExpected, 3 * rate, 1e-9);
  EXPECT_TRUE(HoldsEnoughFrames(brief));
  brief.frames = 10;
  EXPECT_FALSE(HoldsEnoughFrames(brief));

  // --- what makes one malformed
  EXPECT_NE(CheckCapture("a.N15", Read({acquired, CaptureFrameRun{1, 1}, end}, false)).fault, "");
  EXPECT_NE(CheckCapture("a.N15", Read({CaptureFrameRun{1, 1}, end})).fault, "");
  EXPECT_NE(CheckCapture("a.N15", Read({CaptureMarker{MarkerKind::SyncAcquired, 29, 1000},
                                        CaptureFrameRun{1, 1}, end}))
                .fault,
            "");
  EXPECT_NE(CheckCapture("a.N15", Read({acquired, CaptureFrameRun{1, 1}})).fault, "");
  EXPECT_NE(CheckCapture("a.N15", Read({acquired, end})).fault, "");
  EXPECT_NE(CheckCapture("a.N15", Read({})).fault, "");
  CaptureReadResult broken = Read({acquired, CaptureFrameRun{1, 1}, end});
  broken.ok = false;
  EXPECT_NE(CheckCapture("a.N15", broken).fault, "");

  // --- a pass is caught by a good capture of its code that began in [aos - 61, los]
  std::vector<ListedPass> expected = {Pass(0, "N15", 1050, 1500), Pass(1, "N16", 1050, 1500),
                                      Pass(0, "N15", 900, 999)};
  std::vector<ListedPass> missed = Missed(expected, {good});
  ASSERT_EQ(missed.size(), 2u);
  EXPECT_EQ(missed[0].code, "N16");
  EXPECT_EQ(missed[1].aos, 900);
  CaptureCheck faulty = good;
  faulty.fault = "no frames";
  EXPECT_EQ(Missed({expected[0]}, {faulty}).size(), 1u);
  EXPECT_TRUE(Missed({Pass(0, "N15", 1061, 1500)}, {good}).empty());
  EXPECT_EQ(Missed({Pass(0, "N15", 1062, 1500)}, {good}).size(), 1u);
}

}  // namespace
}  // namespace halvik::soak
