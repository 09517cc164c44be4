#include <gtest/gtest.h>

#include <algorithm>
#include <utility>

#include "RecordingCanvas.h"
#include "ViewRig.h"

namespace halvik {
namespace {

using enum CaptureStateValue;

using Kind = RecordingCanvas::Kind;

std::vector<std::pair<int, int>> TextPositions(const RecordingCanvas& canvas) {
  std::vector<std::pair<int, int>> positions;
  for (const auto* call : canvas.OfKind(Kind::Text)) positions.emplace_back(call->x, call->y);
  return positions;
}

std::string PaintAndRead(ViewRig& rig, int x, int y) {
  RecordingCanvas canvas;
  rig.view.Paint(canvas);
  return canvas.TextAt(x, y).text;
}

TEST(StatusView, FirstPaintDrawsEveryPanelInOrder) {
  UseTimeZone("UTC");
  auto rig = ViewRig::Make();
  rig->gps.GpsPresent = 1;
  rig->gps.GpsHealth = 0;
  rig->gps.GpsTimeValid = 1;
  rig->gps.GpsTime = static_cast<double>(kTestSeconds);
  RecordingCanvas canvas;
  rig->view.Paint(canvas);

  // Not tracking yet and no satellite loaded: the satellite panel draws nothing.
  const std::vector<std::pair<int, int>> expected = {{10, 5},    {10, 30},  {10, 45},   {10, 70},
                                                     {10, 390},  {10, 405}, {320, 390}, {450, 390},
                                                     {320, 405}, {10, 425}, {10, 440},  {320, 440}};
  EXPECT_EQ(TextPositions(canvas), expected);

  // --- the header ---
  const auto& header = canvas.TextAt(10, 5);
  EXPECT_EQ(header.text,
            "Tue Nov 14 22:13:20 2023 Local     Halvik NT     Tue Nov 14 22:13:20 2023 UTC");
  EXPECT_EQ(header.font, Font::TextFont);
  EXPECT_EQ(header.colour, kBlack);
  EXPECT_EQ(header.background, kBackgroundColour);

  // --- headings, in the heading font ---
  EXPECT_EQ(canvas.TextAt(10, 30).text, "Receiver Status__________________");
  EXPECT_EQ(canvas.TextAt(10, 70).text, "Satellite Status_________________");
  EXPECT_EQ(canvas.TextAt(10, 390).text, "Antenna Position_________________");
  EXPECT_EQ(canvas.TextAt(320, 390).text, "Capture State:");
  EXPECT_EQ(canvas.TextAt(10, 425).text,
            "GPS Status___________________________________________________________");
  for (auto [x, y] : {std::pair{10, 30}, {10, 70}, {10, 390}, {320, 390}, {10, 425}}) {
    EXPECT_EQ(canvas.TextAt(x, y).font, Font::HeadingFont) << x << "," << y;
  }
  for (auto [x, y] : {std::pair{10, 45}, {10, 405}, {450, 390}, {320, 405}, {10, 440}}) {
    EXPECT_EQ(canvas.TextAt(x, y).font, Font::TextFont) << x << "," << y;
  }

  // --- the capture state, and the quick-look step after every text ---
  EXPECT_EQ(canvas.TextAt(450, 390).text, "Waiting For Satellite              ");
  ASSERT_FALSE(canvas.calls.empty());
  EXPECT_EQ(canvas.calls.back().kind, Kind::Fill);  // the first paint starts a replay
  EXPECT_EQ(rig->view.LastShownSecond(), kTestSeconds);
}

TEST(StatusView, HeaderShowsLocalAndUtcClocks) {
  auto rig = ViewRig::Make();
  UseTimeZone("EST5");
  EXPECT_EQ(PaintAndRead(*rig, 10, 5),
            "Tue Nov 14 17:13:20 2023 Local     Halvik NT     Tue Nov 14 22:13:20 2023 UTC");
  // Single-digit days are padded to two characters.
  UseTimeZone("UTC");
  rig->clock.Set(SystemTime{kTestSeconds - 10 * 86400, 0});
  EXPECT_EQ(PaintAndRead(*rig, 10, 5),
            "Sat Nov  4 22:13:20 2023 Local     Halvik NT     Sat Nov  4 22:13:20 2023 UTC");
}

TEST(StatusView, ReceiverLine) {
  UseTimeZone("UTC");
  auto rig = ViewRig::Make();
  rig->receiver.frequency = 1698.0;
  rig->receiver.level = 1.234f;
  rig->receiver.locked = 1;
  EXPECT_EQ(PaintAndRead(*rig, 10, 45), "FR: 1698.000  SL: 1.23V  LK:*      ");
  // Queried once per paint, status first.
  ASSERT_FALSE(rig->receiver.calls.empty());
  EXPECT_EQ(rig->receiver.calls.front(), "status");
  EXPECT_EQ(std::count(rig->receiver.calls.begin(), rig->receiver.calls.end(), "status"), 1);

  rig->receiver.locked = 0;
  rig->receiver.frequency = 1707.0;
  rig->receiver.level = 0.0f;
  EXPECT_EQ(PaintAndRead(*rig, 10, 45), "FR: 1707.000  SL: 0.00V  LK:       ");
}

TEST(StatusView, AntennaLine) {
  UseTimeZone("UTC");
  auto rig = ViewRig::Make();
  auto line = [&](int power, float azimuth, float elevation) {
    rig->antenna.AntennaPower = power;
    rig->antenna.AntennaAzimuth = azimuth;
    rig->antenna.AntennaElevation = elevation;
    return PaintAndRead(*rig, 10, 405);
  };
  // --- power ---
  EXPECT_EQ(line(50, 123.4f, 45.0f), "      NO   POWER    ");
  EXPECT_EQ(line(-1, 123.4f, 45.0f), "      NO   POWER    ");
  EXPECT_EQ(line(51, 123.4f, 45.0f), "AZ: 123.4  EL:  45.0");
  // --- azimuth edges, 0 and 360 inclusive ---
  EXPECT_EQ(line(200, 360.0f, 90.0f), "AZ: 360.0  EL:  90.0");
  EXPECT_EQ(line(200, 0.0f, 90.0f), "AZ:   0.0  EL:  90.0");
  EXPECT_EQ(line(200, 360.1f, 90.0f), "AZ: OVER   EL:  90.0");
  EXPECT_EQ(line(200, -0.1f, 90.0f), "AZ: UNDER  EL:  90.0");
  // --- elevation edges, 0 and 180 inclusive ---
  EXPECT_EQ(line(200, 10.0f, 180.0f), "AZ:  10.0  EL: 180.0");
  EXPECT_EQ(line(200, 10.0f, 0.0f), "AZ:  10.0  EL:   0.0");
  EXPECT_EQ(line(200, 10.0f, 180.1f), "AZ:  10.0  EL: OVER ");
  EXPECT_EQ(line(200, 10.0f, -0.1f), "AZ:  10.0  EL: UNDER");
}

TEST(StatusView, CaptureStateAndErrorRateLines) {
  UseTimeZone("UTC");
  auto rig = ViewRig::Make();
  rig->capture.CaptureState = ReceivingData;
  rig->capture.BitErrorCount = 12.9;
  rig->capture.BitsCompared = 0.0;
  {
    RecordingCanvas canvas;
    rig->view.Paint(canvas);
    EXPECT_EQ(canvas.TextAt(450, 390).text, "Receiving Data                     ");
    // Nothing compared yet: the rate reads 0, the count is cut toward zero.
    EXPECT_EQ(canvas.TextAt(320, 405).text, "Errs: 12  Bits:0.0E+00  BER:0.0E+00   ");
  }
  rig->capture.BitErrorCount = 5.0;
  rig->capture.BitsCompared = 1.0e6;
  EXPECT_EQ(PaintAndRead(*rig, 320, 405), "Errs:  5  Bits:1.0E+06  BER:5.0E-06   ");
  // A count beyond the integer range stays a sensible number.
  rig->capture.BitErrorCount = 1.0e12;
  rig->capture.BitsCompared = 1.0e13;
  EXPECT_EQ(PaintAndRead(*rig, 320, 405), "Errs:2147483647  Bits:1.0E+13  BER:1.0E-01   ");

  // Leaving ReceivingData blanks the line.
  rig->capture.CaptureState = Resync;
  {
    RecordingCanvas canvas;
    rig->view.Paint(canvas);
    EXPECT_EQ(canvas.TextAt(450, 390).text, "Resync                             ");
    EXPECT_EQ(canvas.TextAt(320, 405).text, std::string(42, ' '));
  }
  // A state outside the table shows blanks rather than reading past it.
  rig->capture.CaptureState = static_cast<CaptureStateValue>(9);
  EXPECT_EQ(PaintAndRead(*rig, 450, 390), std::string(35, ' '));
}

TEST(StatusView, GpsLineForms) {
  UseTimeZone("UTC");
  auto rig = ViewRig::Make();
  auto next = [&] {  // each reading in a new second, so the GPS line is drawn
    rig->clock.Advance(1000);
    return PaintAndRead(*rig, 10, 440);
  };
  // --- no receiver ---
  EXPECT_EQ(next(), "No GPS Found                  ");

  // --- a fix ---
  rig->gps.GpsPresent = 1;
  rig->gps.GpsHealth = 0;
  rig->gps.GpsLatitude = -33.5;
  rig->gps.GpsLongitude = 151.2;
  EXPECT_EQ(next(), "LAT: 33.50S  LON: 151.20E   GPS OK  ");
  rig->gps.GpsLatitude = 47.25;
  rig->gps.GpsLongitude = -8.5;
  rig->gps.GpsHealth = 3;
  EXPECT_EQ(next(), "LAT: 47.25N  LON:   8.50W  Bad PDOP ");

  // --- 1000 in either place marks a missing fix ---
  rig->gps.GpsLatitude = 1000.0;
  rig->gps.GpsHealth = 8;
  EXPECT_EQ(next(), "LAT:  N/A   LON:  N/A   Sats = 0  ");
  rig->gps.GpsLatitude = -1000.0;
  EXPECT_EQ(next(), "LAT:  N/A   LON:  N/A   Sats = 0  ");
  rig->gps.GpsLatitude = 10.0;
  rig->gps.GpsLongitude = 1000.0;
  EXPECT_EQ(next(), "LAT:  N/A   LON:  N/A   Sats = 0  ");

  // --- health codes outside the table keep the 8-character place ---
  rig->gps.GpsHealth = 0xFF;  // nothing heard yet
  EXPECT_EQ(next(), "LAT:  N/A   LON:  N/A   No Reply  ");
  rig->gps.GpsHealth = 2;
  EXPECT_EQ(next(), "LAT:  N/A   LON:  N/A   Hlth=  2  ");
}

TEST(StatusView, GpsStatusTexts) {
  const std::pair<int, const char*> table[] = {
      {0, " GPS OK "},    {1, " No Time"},  {3, "Bad PDOP"},  {8, "Sats = 0"},
      {9, "Sats = 1"},    {10, "Sats = 2"}, {11, "Sats = 3"}, {0x80, "  COMM  "},
      {0xFF, "No Reply"}, {2, "Hlth=  2"},  {200, "Hlth=200"}};
  for (auto [health, text] : table) {
    EXPECT_EQ(GpsStatusText(static_cast<std::uint8_t>(health)), text) << health;
  }
  for (int health = 0; health < 256; ++health) {
    EXPECT_EQ(GpsStatusText(static_cast<std::uint8_t>(health)).size(), 8u) << health;
  }
}

TEST(StatusView, GpsAndClockErrorLinesOnlyOnNewSeconds) {
  UseTimeZone("UTC");
  auto rig = ViewRig::Make();
  rig->gps.GpsPresent = 1;
  rig->gps.GpsHealth = 0;
  rig->gps.GpsTimeValid = 1;
  rig->gps.GpsTime = static_cast<double>(kTestSeconds);
  rig->tracking.ClockCorrection = 1.25;
  RecordingCanvas canvas;

  // --- first paint: a new second ---
  rig->view.Paint(canvas);
  EXPECT_TRUE(canvas.HasTextAt(10, 440));
  // The error shown is computer time minus GPS time.
  EXPECT_EQ(canvas.TextAt(320, 440).text, "System Clock Error: -1.25 sec    ");

  // --- same second: neither line ---
  canvas.Clear();
  rig->clock.Advance(500);
  rig->view.Paint(canvas);
  EXPECT_FALSE(canvas.HasTextAt(10, 440));
  EXPECT_FALSE(canvas.HasTextAt(320, 440));

  // --- next second without valid GPS time: GPS line only ---
  canvas.Clear();
  rig->clock.Advance(1000);
  rig->gps.GpsTimeValid = 0;
  rig->view.Paint(canvas);
  EXPECT_TRUE(canvas.HasTextAt(10, 440));
  EXPECT_FALSE(canvas.HasTextAt(320, 440));

  // --- valid flag but no time yet ---
  canvas.Clear();
  rig->clock.Advance(1000);
  rig->gps.GpsTimeValid = 1;
  rig->gps.GpsTime = 0.0;
  rig->view.Paint(canvas);
  EXPECT_FALSE(canvas.HasTextAt(320, 440));

  // --- no correction reads 0.00, not -0.00 (two seconds on: the correction fell by one) ---
  canvas.Clear();
  rig->clock.Advance(2000);
  rig->gps.GpsTime = static_cast<double>(kTestSeconds + 3);
  rig->tracking.ClockCorrection = 0.0;
  rig->view.Paint(canvas);
  EXPECT_EQ(canvas.TextAt(320, 440).text, "System Clock Error: 0.00 sec    ");
  rig->tracking.ClockCorrection = -0.37;
  canvas.Clear();
  rig->clock.Advance(1000);
  rig->view.Paint(canvas);
  EXPECT_EQ(canvas.TextAt(320, 440).text, "System Clock Error: 0.37 sec    ");

  // --- a refused GPS time: the last good error, marked as such ---
  rig->tracking.GpsTimeRefused = 1;
  canvas.Clear();
  rig->clock.Advance(1000);
  rig->view.Paint(canvas);
  EXPECT_EQ(canvas.TextAt(320, 440).text, "GPS Time Refused  Error 0.37 sec  ");
}

TEST(StatusView, CorrectedSecond) {
  UseTimeZone("UTC");
  // --- through the paint: header and LastShownSecond ---
  {
    auto rig = ViewRig::Make();
    rig->clock.Set(SystemTime{kTestSeconds, 900});
    rig->tracking.ClockCorrection = -0.6;
    EXPECT_EQ(PaintAndRead(*rig, 10, 5).substr(0, 24), "Tue Nov 14 22:13:20 2023");
    EXPECT_EQ(rig->view.LastShownSecond(), kTestSeconds);
  }
  {
    auto rig = ViewRig::Make();
    rig->tracking.ClockCorrection = 1.7;
    EXPECT_EQ(PaintAndRead(*rig, 10, 5).substr(0, 24), "Tue Nov 14 22:13:21 2023");
    EXPECT_EQ(rig->view.LastShownSecond(), kTestSeconds + 1);
  }
}

TEST(StatusView, ClockSteppingBackHoldsTheOncePerSecondLines) {
  UseTimeZone("UTC");
  auto rig = ViewRig::Make();
  RecordingCanvas canvas;
  rig->view.Paint(canvas);  // second T
  ASSERT_TRUE(canvas.HasTextAt(10, 440));

  // A new correction moves the station clock back two seconds.
  rig->clock.Advance(1000);
  rig->tracking.ClockCorrection = -2.0;
  canvas.Clear();
  rig->view.Paint(canvas);  // T - 1
  EXPECT_EQ(canvas.TextAt(10, 5).text.substr(0, 24), "Tue Nov 14 22:13:19 2023");
  EXPECT_FALSE(canvas.HasTextAt(10, 440));
  EXPECT_EQ(rig->view.LastShownSecond(), kTestSeconds);

  rig->clock.Advance(1000);
  canvas.Clear();
  rig->view.Paint(canvas);  // T again: not later than the last shown second
  EXPECT_FALSE(canvas.HasTextAt(10, 440));

  rig->clock.Advance(1000);
  canvas.Clear();
  rig->view.Paint(canvas);  // T + 1
  EXPECT_TRUE(canvas.HasTextAt(10, 440));
  EXPECT_EQ(rig->view.LastShownSecond(), kTestSeconds + 1);
}

TEST(StatusView, TimerTicksAreCountedUntilThePaint) {
  UseTimeZone("UTC");
  auto rig = ViewRig::Make();
  RecordingCanvas canvas;
  rig->view.Paint(canvas);  // the first paint starts a replay
  rig->view.TimerTick();
  EXPECT_EQ(rig->view.TimerTicksSincePaint(), 1);

  // One tick: an ordinary update, the replay goes on and no restart clears the panels.
  canvas.Clear();
  rig->view.Paint(canvas);
  EXPECT_EQ(rig->view.TimerTicksSincePaint(), 0);
  EXPECT_TRUE(canvas.OfKind(Kind::Fill).empty());
  EXPECT_EQ(canvas.OfKind(Kind::Row).size(), 10u);  // rows 22..26 of both images

  // Merged ticks: the panels are cleared and the replay starts again.
  rig->view.TimerTick();
  rig->view.TimerTick();
  canvas.Clear();
  rig->view.Paint(canvas);
  EXPECT_EQ(canvas.OfKind(Kind::Fill).size(), 2u);
  EXPECT_EQ(rig->view.quickLookPanel().ReplayRow(), kQuickLookPanelTop);
  EXPECT_EQ(rig->view.TimerTicksSincePaint(), 0);
}

}  // namespace
}  // namespace halvik
