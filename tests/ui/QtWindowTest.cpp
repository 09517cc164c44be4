#include <gtest/gtest.h>

#include <filesystem>

#include <QAction>
#include <QImage>
#include <QMenu>
#include <QMenuBar>
#include <QPixmap>

#include "QtTestApp.h"
#include "ViewRig.h"
#include "platform/Messages.h"
#include "support/TempDir.h"
#include "ui/qt/Halvik32View.h"
#include "ui/qt/MainFrame.h"
#include "ui/qt/QtCanvas.h"
#include "ui/qt/Snapshot.h"

namespace halvik {
namespace {

class NullCommands final : public StationCommands {
 public:
  void AddSatellite(const std::string&) override {}
  void DeleteSatellite(const std::string&) override {}
  LocationFields CurrentLocation() override { return {}; }
  void UpdateLocation(double, double, double) override {}
  double MinimumElevationDegrees() override { return 5.0; }
  void UpdateMinimumElevation(double) override {}
  AboutValues About() override { return {}; }
};

constexpr QRgb kBackground = 0xFFE0E0E0;

// Pixels in a rectangle of the picture that differ from the background.
int InkIn(const QImage& image, int left, int top, int right, int bottom) {
  int ink = 0;
  for (int y = top; y < bottom; ++y) {
    for (int x = left; x < right; ++x) ink += image.pixel(x, y) != kBackground ? 1 : 0;
  }
  return ink;
}

QImage Band(const QImage& image, int top, int height) {
  return image.copy(0, top, image.width(), height);
}

TEST(MainFrame, FixedSizeCaptionAndMenu) {
  TestApplication();
  UseTimeZone("UTC");
  auto rig = ViewRig::Make();
  NullCommands commands;
  RecordingMessages messages;
  CMainFrame frame(rig->view, commands, messages);

  // --- fixed size: the 648 x 488 view under the menu, and no maximise ---
  EXPECT_EQ(frame.windowTitle(), "HALVIK NT");
  EXPECT_EQ(frame.minimumSize(), frame.maximumSize());
  EXPECT_EQ(frame.centralWidget(), &frame.view());
  EXPECT_EQ(frame.view().size(), QSize(648, 488));
  EXPECT_EQ(frame.size().height(), 488 + frame.menuBar()->sizeHint().height());
  EXPECT_FALSE(frame.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(frame.windowFlags() & Qt::WindowMinimizeButtonHint);

  // --- the menu, in order, with its command ids ---
  struct Item {
    QString menu, item;
    int id;
  };
  const std::vector<Item> expected = {{"&File", "E&xit", 57665},
                                      {"&Satellite", "&Add...", 32773},
                                      {"&Satellite", "&Delete...", 32774},
                                      {"Setu&p", "&Location...", 32776},
                                      {"Setu&p", "&Minimun Elevation...", 32780},
                                      {"&Help", "&About Halvik NT...", 57664}};
  std::vector<Item> found;
  for (QAction* top : frame.menuBar()->actions()) {
    ASSERT_NE(top->menu(), nullptr);
    for (QAction* action : top->menu()->actions()) {
      found.push_back({top->text(), action->text(), action->data().toInt()});
    }
  }
  ASSERT_EQ(found.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(found[i].menu, expected[i].menu);
    EXPECT_EQ(found[i].item, expected[i].item);
    EXPECT_EQ(found[i].id, expected[i].id);
    ASSERT_NE(frame.CommandAction(expected[i].id), nullptr);
    EXPECT_EQ(frame.CommandAction(expected[i].id)->text(), expected[i].item);
  }

  // --- Exit closes the window ---
  frame.show();
  ASSERT_TRUE(frame.isVisible());
  frame.CommandAction(kCommandExit)->trigger();
  EXPECT_FALSE(frame.isVisible());
}

TEST(Halvik32View, TimerTicksAndPaintsWithoutErasing) {
  TestApplication();
  UseTimeZone("UTC");
  auto rig = ViewRig::Make();
  rig->gps.GpsPresent = 1;
  CHalvik32View view(rig->view);
  EXPECT_EQ(InkIn(view.picture(), 0, 0, 640, 480), 0);  // erased before the first paint

  // --- only timer 256 counts ---
  view.OnTimer(257);
  EXPECT_EQ(rig->view.TimerTicksSincePaint(), 0);
  view.OnTimer(kViewTimerId);
  EXPECT_EQ(rig->view.TimerTicksSincePaint(), 1);

  // --- a paint draws the status view, takes the ticks and shows the picture ---
  const QImage shown = view.grab().toImage().convertToFormat(QImage::Format_RGB32);
  EXPECT_EQ(rig->view.TimerTicksSincePaint(), 0);
  EXPECT_GT(InkIn(view.picture(), 10, 5, 630, 15), 100);    // header
  EXPECT_GT(InkIn(view.picture(), 10, 440, 300, 450), 50);  // GPS line (a new second)
  const QImage gpsLine = Band(view.picture(), 440, kTextCellHeight);
  ASSERT_EQ(shown.size(), QSize(648, 488));
  EXPECT_EQ(shown.copy(4, 4, 640, 480), view.picture());
  EXPECT_EQ(shown.pixel(0, 0), kBackground);

  // --- a paint in the same second leaves the GPS line as it was ---
  rig->gps.GpsPresent = 0;
  rig->clock.Advance(300);
  view.OnTimer(kViewTimerId);
  view.grab();
  EXPECT_EQ(Band(view.picture(), 440, kTextCellHeight), gpsLine);

  // --- the erase is the only thing that clears it ---
  view.EraseBackground();
  EXPECT_EQ(InkIn(view.picture(), 0, 0, 640, 480), 0);
}

TEST(QtCanvas, TextCellsFillsAndPixels) {
  TestApplication();
  QImage image(640, 480, QImage::Format_RGB32);
  EraseImage(image);
  {
    QtCanvas canvas(image);
    canvas.DrawText(10, 30, "AB CD", Font::HeadingFont, kRed, 0x123456);
    canvas.FillRect(323, 22, 476, 380, kBlack);
    const std::uint8_t greys[] = {10, 200};
    canvas.GreyRow(482, 100, greys, 2);
    canvas.SetPixel(639, 479, kGreen);
    canvas.SetPixel(640, 479, kGreen);  // outside: ignored
    canvas.DrawText(100, 200, "W", Font::TextFont, kBlue, kBackgroundColour);
  }
  // --- opaque text: exactly 5 cells of 8 x 12, background where there is no glyph ---
  EXPECT_EQ(image.pixel(10, 30), 0xFF123456u);
  EXPECT_EQ(image.pixel(10 + 5 * kTextCellWidth - 1, 30 + kTextCellHeight - 1), 0xFF123456u);
  EXPECT_EQ(image.pixel(10 + 5 * kTextCellWidth, 30), kBackground);
  EXPECT_EQ(image.pixel(10, 30 + kTextCellHeight), kBackground);
  // Glyphs in the text colour (antialiased edges aside, some pixels are fully red).
  int red = 0;
  for (int y = 30; y < 40; ++y) {
    for (int x = 10; x < 50; ++x) red += image.pixel(x, y) == 0xFFFF0000u ? 1 : 0;
  }
  EXPECT_GT(red, 10);
  // The blank cell holds no glyph.
  int cellBackground = 0;
  for (int y = 30; y < 30 + kTextCellHeight; ++y) {
    for (int x = 10 + 2 * kTextCellWidth; x < 10 + 3 * kTextCellWidth; ++x) {
      cellBackground += image.pixel(x, y) == 0xFF123456u ? 1 : 0;
    }
  }
  EXPECT_EQ(cellBackground, kTextCellWidth * kTextCellHeight);
  // One character draws in one cell only.
  EXPECT_GT(InkIn(image, 100, 200, 108, 212), 5);
  EXPECT_EQ(InkIn(image, 108, 200, 120, 212), 0);
  EXPECT_EQ(InkIn(image, 100, 212, 108, 220), 0);

  // --- fills and pixels ---
  EXPECT_EQ(image.pixel(323, 22), 0xFF000000u);
  EXPECT_EQ(image.pixel(475, 379), 0xFF000000u);
  EXPECT_EQ(image.pixel(476, 379), kBackground);
  EXPECT_EQ(image.pixel(323, 380), kBackground);
  EXPECT_EQ(image.pixel(482, 100), 0xFF0A0A0Au);
  EXPECT_EQ(image.pixel(483, 100), 0xFFC8C8C8u);
  EXPECT_EQ(image.pixel(639, 479), 0xFF00A000u);
}

TEST(Snapshot, WritesTheClientAreaAsPng) {
  TestApplication();
  UseTimeZone("UTC");
  auto rig = ViewRig::Make();
  rig->quickLook.image[0][100 * kQuickLookColumns + 5] = 200;
  TempDir dir;
  const QString path = QString::fromStdString((dir.path() / "status.png").string());
  ASSERT_TRUE(WriteStatusSnapshot(rig->view, path));

  QImage image(path, "PNG");
  ASSERT_FALSE(image.isNull());
  EXPECT_EQ(image.size(), QSize(640, 480));
  EXPECT_EQ(image.pixel(0, 0) | 0xFF000000u, kBackground);
  EXPECT_EQ(image.pixel(639, 479) | 0xFF000000u, kBackground);
  EXPECT_GT(InkIn(image.convertToFormat(QImage::Format_RGB32), 10, 5, 630, 15), 100);
  // The whole quick-look picture, not a replay just begun.
  EXPECT_EQ(image.pixel(323 + 5, 100) | 0xFF000000u, 0xFFC8C8C8u);
  EXPECT_EQ(image.pixel(323 + 6, 100) | 0xFF000000u, 0xFF000000u);

  EXPECT_FALSE(WriteStatusSnapshot(rig->view, path + "/no/such/dir/x.png"));
  // A save that fails says why, and leaves nothing behind.
  const QString missing = QString::fromStdString((dir.path() / "no" / "x.png").string());
  EXPECT_NE(SavePng(image, missing).find("No such file or directory"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "no"));
  EXPECT_EQ(SavePng(image, path), "");
}

}  // namespace
}  // namespace halvik
