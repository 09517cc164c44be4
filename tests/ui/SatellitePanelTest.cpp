#include <gtest/gtest.h>

#include <memory>

#include "RecordingCanvas.h"
#include "ViewRig.h"
#include "ui/SatellitePanel.h"

namespace halvik {
namespace {

constexpr std::int64_t kNow = kTestSeconds;  // 22:13:20 UTC

int NameY(int slot) {
  return 85 + 50 * slot;
}

struct Panel {
  std::unique_ptr<SatelliteTable> table = std::make_unique<SatelliteTable>();
  RecordingCanvas canvas;

  void Draw(bool trackingReady = true, std::int64_t systemSeconds = kNow) {
    canvas.Clear();
    DrawSatellitePanel(canvas, *table, trackingReady, kNow, systemSeconds);
  }
  const RecordingCanvas::Call& Name(int slot) const { return canvas.TextAt(10, NameY(slot)); }
  const RecordingCanvas::Call& First(int slot) const { return canvas.TextAt(10, NameY(slot) + 15); }
  const RecordingCanvas::Call& Second(int slot) const {
    return canvas.TextAt(10, NameY(slot) + 30);
  }
};

void Rising(SatelliteRecord& r, std::int64_t aosTime) {
  r.aosPending = 1;
  r.aosTime = static_cast<std::int64_t>(aosTime);
}

void Passing(SatelliteRecord& r, std::int64_t losTime) {
  r.inPass = 1;
  r.losTime = static_cast<std::int64_t>(losTime);
}

TEST(SatellitePanel, ColoursMarkNextRiseAndRunningPass) {
  Panel p;
  SatelliteTable& t = *p.table;
  // --- two rising: the sooner one is next, blue ---
  LoadSlot(t[0], "NOAA 15");
  Rising(t[0], kNow + 600);
  LoadSlot(t[1], "NOAA 18");
  Rising(t[1], kNow + 300);
  p.Draw();
  EXPECT_EQ(p.Name(0).text, "NOAA 15");
  EXPECT_EQ(p.Name(0).colour, kRed);
  EXPECT_EQ(p.Name(1).colour, kBlue);
  EXPECT_EQ(p.First(1).colour, kBlue);
  EXPECT_EQ(p.Second(1).colour, kBlue);
  EXPECT_EQ(p.Second(1).text, "LON:   0E  EL:   0.0  AOS IN 00:05:00 ");
  EXPECT_EQ(p.First(0).colour, kBlack);
  EXPECT_EQ(p.Second(0).text, "LON:   0E  EL:   0.0  AOS IN 00:10:00 ");
  for (int slot = 0; slot < 6; ++slot) EXPECT_EQ(p.Name(slot).font, Font::TextFont);

  // --- equal times: the lower slot wins ---
  Rising(t[0], kNow + 300);
  p.Draw();
  EXPECT_EQ(p.Name(0).colour, kBlue);
  EXPECT_EQ(p.Name(1).colour, kRed);

  // --- two in a pass: only the first is green ---
  t[0].aosPending = 0;
  t[1].aosPending = 0;
  Passing(t[0], kNow + 120);
  Passing(t[1], kNow + 240);
  p.Draw();
  EXPECT_EQ(p.Name(0).colour, kGreen);
  EXPECT_EQ(p.First(0).colour, kGreen);
  EXPECT_EQ(p.Second(0).colour, kGreen);
  EXPECT_EQ(p.Name(1).colour, kRed);
  EXPECT_EQ(p.First(1).colour, kBlack);
  EXPECT_EQ(p.Second(1).text, "LON:   0E  EL:   0.0  LOS IN 00:04:00 ");

  // --- both flags: LOS lines; blue name when next to rise, else green ---
  Rising(t[0], kNow + 5000);
  p.Draw();
  EXPECT_EQ(p.Name(0).colour, kBlue);
  EXPECT_EQ(p.Second(0).text, "LON:   0E  EL:   0.0  LOS IN 00:02:00 ");
  EXPECT_EQ(p.Second(0).colour, kGreen);
  LoadSlot(t[2], "FENGYUN 1C");
  Rising(t[2], kNow + 60);
  p.Draw();
  EXPECT_EQ(p.Name(0).colour, kGreen);
  EXPECT_EQ(p.Name(2).colour, kBlue);
}

TEST(SatellitePanel, GeosynchronousAndEmptySlots) {
  Panel p;
  SatelliteTable& t = *p.table;
  LoadSlot(t[1], "GOES 8");
  t[1].geosynchronous = 1;
  t[1].aosPending = 1;
  t[1].inPass = 1;
  t[1].aosTime = -1;
  t[1].losTime = -1;
  t[1].latitudeDeg = -5;
  t[1].longitudeDeg = -120;
  t[1].azimuthDeg = 181.25;
  t[1].elevationDeg = 12.5;
  p.Draw();

  // --- takes part in neither colour mark ---
  EXPECT_EQ(p.Name(1).colour, kRed);
  EXPECT_EQ(p.First(1).colour, kBlack);
  EXPECT_EQ(p.First(1).text, "LAT:   5S  AZ: 181.2   Geosynchronous ");
  EXPECT_EQ(p.Second(1).text, "LON: 120W  EL:  12.5                  ");

  // --- empty slots: 32 blanks named in the colour current, 39 blanks of data ---
  EXPECT_EQ(p.Name(0).text, std::string(32, ' '));
  EXPECT_EQ(p.Name(0).colour, kBlack);  // nothing set a colour before it
  EXPECT_EQ(p.Name(2).text, std::string(32, ' '));
  EXPECT_EQ(p.Name(2).colour, kRed);  // left over from slot 1
  EXPECT_EQ(p.First(2).text, std::string(39, ' '));
  EXPECT_EQ(p.Second(2).text, std::string(39, ' '));
  EXPECT_EQ(p.Second(5).text, std::string(39, ' '));
}

TEST(SatellitePanel, PositionsTimesAndCountdowns) {
  Panel p;
  SatelliteTable& t = *p.table;
  LoadSlot(t[0], "NOAA 12");
  Rising(t[0], kNow + 3725);
  t[0].latitudeDeg = -5;
  t[0].longitudeDeg = -120;
  t[0].azimuthDeg = 7.04;
  t[0].elevationDeg = -23.46;
  LoadSlot(t[3], "NOAA 14");
  Passing(t[3], kNow + 59);
  t[3].latitudeDeg = 61;
  t[3].longitudeDeg = 9;
  t[3].azimuthDeg = 359.9;
  t[3].elevationDeg = 88.0;
  p.Draw();

  EXPECT_EQ(p.First(0).text, "LAT:   5S  AZ:   7.0  AOS AT 23:15:25 ");
  EXPECT_EQ(p.Second(0).text, "LON: 120W  EL: -23.5  AOS IN 01:02:05 ");
  EXPECT_EQ(p.First(3).text, "LAT:  61N  AZ: 359.9  LOS AT 22:14:19 ");
  EXPECT_EQ(p.Second(3).text, "LON:   9E  EL:  88.0  LOS IN 00:00:59 ");
  // Every data line covers exactly the last one.
  for (int slot = 0; slot < 6; ++slot) {
    const std::size_t width = t[slot].IsActive() ? 38u : 39u;
    EXPECT_EQ(p.First(slot).text.size(), width);
    EXPECT_EQ(p.Second(slot).text.size(), width);
  }

  // --- countdown forms outside two-digit hours ---
  EXPECT_EQ(CountdownText(kNow, kNow), "00:00:00");
  EXPECT_EQ(CountdownText(kNow - 1, kNow), "00:00:00");  // just passed
  EXPECT_EQ(CountdownText(kNow + 359999, kNow), "99:59:59");
  EXPECT_EQ(CountdownText(kNow + 360000, kNow), ">99 hrs ");

  // --- no pass known: position, and no times ---
  LoadSlot(t[4], "SEASTAR");
  t[4].latitudeDeg = 10;
  p.Draw();
  EXPECT_EQ(p.Name(4).colour, kRed);
  EXPECT_EQ(p.First(4).text, "LAT:  10N  AZ:   0.0  AOS AT --:--:-- ");
  EXPECT_EQ(p.Second(4).text, "LON:   0E  EL:   0.0  AOS IN --:--:-- ");
  EXPECT_EQ(p.First(4).colour, kBlack);
}

TEST(SatellitePanel, EpochAgeLine) {
  Panel p;
  SatelliteTable& t = *p.table;
  // --- no active slot: no line ---
  p.Draw();
  EXPECT_FALSE(p.canvas.HasTextAt(100, 460));

  // --- the oldest of the active slots, on the uncorrected system clock ---
  LoadSlot(t[2], "NOAA 15", (kNow - 2.5 * 86400) / 60.0);
  LoadSlot(t[4], "NOAA 18", (kNow - 10.25 * 86400) / 60.0);
  LoadSlot(t[5], "NOAA 17", (kNow - 30.0 * 86400) / 60.0);
  t[5].active.store(0, std::memory_order_release);  // deleted
  p.Draw(true, kNow + 86400);
  const auto& line = p.canvas.TextAt(100, 460);
  EXPECT_EQ(line.text, "The oldest Satellite Element Epoch is  11.25 days old.");
  EXPECT_EQ(line.colour, kBlack);
  EXPECT_EQ(line.font, Font::TextFont);
  EXPECT_EQ(p.canvas.calls.back().y, 460);  // the panel's last line

  // --- before tracking is ready only the age line is drawn ---
  p.Draw(false);
  ASSERT_EQ(p.canvas.calls.size(), 1u);
  EXPECT_EQ(p.canvas.calls[0].text, "The oldest Satellite Element Epoch is  10.25 days old.");
}

TEST(SatellitePanel, DrawnByTheStatusViewWithItsCorrectedSecond) {
  UseTimeZone("UTC");
  auto rig = ViewRig::Make();
  rig->tracking.TrackingReady = 1;
  rig->tracking.ClockCorrection = 2.4;
  LoadSlot(rig->satellites[0], "NOAA 15");
  Rising(rig->satellites[0], kNow + 62);
  RecordingCanvas canvas;
  rig->view.Paint(canvas);
  EXPECT_EQ(canvas.TextAt(10, 115).text, "LON:   0E  EL:   0.0  AOS IN 00:01:00 ");
  // The age line goes by the computer's own clock.
  EXPECT_EQ(canvas.TextAt(100, 460).text, "The oldest Satellite Element Epoch is   1.00 days old.");
}

}  // namespace
}  // namespace halvik
