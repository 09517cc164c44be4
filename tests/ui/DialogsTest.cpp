#include <gtest/gtest.h>

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <vector>

#include "QtTestApp.h"
#include "ViewRig.h"
#include "platform/Messages.h"
#include "ui/qt/Dialogs.h"
#include "ui/qt/MainFrame.h"

namespace halvik {
namespace {

class FakeCommands final : public StationCommands {
 public:
  void AddSatellite(const std::string& name) override { added.push_back(name); }
  void DeleteSatellite(const std::string& name) override { deleted.push_back(name); }
  LocationFields CurrentLocation() override { return location; }
  void UpdateLocation(double latitude, double longitude, double height) override {
    locations.push_back({latitude, longitude, height});
  }
  double MinimumElevationDegrees() override { return minimumElevation; }
  void UpdateMinimumElevation(double degrees) override { elevations.push_back(degrees); }
  AboutValues About() override { return {"16777216 KB", "123456 KB Free on /"}; }

  LocationFields location{47.5, -122.25, 100};
  double minimumElevation = 5.0;
  std::vector<std::string> added, deleted;
  std::vector<LocationFields> locations;
  std::vector<double> elevations;
};

QLineEdit* Field(QWidget& dialog, const char* name) {
  return dialog.findChild<QLineEdit*>(QString::fromLatin1(name));
}
QPushButton* Button(QWidget& dialog, const char* name) {
  return dialog.findChild<QPushButton*>(QString::fromLatin1(name));
}

// Runs `script` on the modal dialog that `open` brings up, from inside its event loop, then
// makes sure the dialog has ended so the test can go on.
void OnModal(const std::function<void(QDialog&)>& script, const std::function<void()>& open) {
  bool ran = false;
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr) return;
    ran = true;
    script(*dialog);
    if (dialog->isVisible()) dialog->reject();
  });
  open();
  EXPECT_TRUE(ran) << "no modal dialog came up";
}

// The focusable controls of a dialog in tab order, by object name or text.
std::vector<QString> TabOrder(QWidget& dialog, QWidget* first) {
  std::vector<QString> order;
  QWidget* w = first;
  do {
    if (w->focusPolicy() & Qt::TabFocus) {
      auto* button = qobject_cast<QPushButton*>(w);
      order.push_back(button ? button->text() : w->objectName());
    }
    w = w->nextInFocusChain();
  } while (w != first && w != nullptr && order.size() < 20);
  (void)dialog;
  return order;
}

TEST(Dialogs, LocationRefusesOutOfRangeAndKeepsTheFieldInFocus) {
  TestApplication();
  RecordingMessages messages;
  CLocationDlg dialog(messages, LocationFields{47.5, -122.25, 100});
  dialog.show();
  EXPECT_EQ(dialog.windowTitle(), "Earth Station Location");
  QLineEdit* latitude = Field(dialog, "latitudeEdit");
  QLineEdit* height = Field(dialog, "heightEdit");
  ASSERT_TRUE(latitude && height);
  // --- opens with the current values, up to 15 digits ---
  EXPECT_EQ(latitude->text(), "47.5");
  EXPECT_EQ(Field(dialog, "longitudeEdit")->text(), "-122.25");
  EXPECT_EQ(height->text(), "100");
  EXPECT_EQ(latitude->property("controlId").toInt(), 1015);

  // --- latitude 91: the range message with -90 and 90, dialog open, field selected ---
  latitude->setText("91");
  Button(dialog, "okButton")->setFocus();
  Button(dialog, "okButton")->click();
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_NE(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(messages.Shown(),
            std::vector<std::string>{"Please enter a number between -90 and 90."});
  EXPECT_EQ(dialog.focusWidget(), latitude);
  EXPECT_EQ(latitude->selectedText(), "91");

  // --- the next field that fails takes the focus ---
  messages.Clear();
  latitude->setText("45");
  height->setText("lots");
  Button(dialog, "okButton")->click();
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(messages.Shown(), std::vector<std::string>{"Please enter a number."});
  EXPECT_EQ(dialog.focusWidget(), height);
  EXPECT_EQ(dialog.values().latitude, 47.5);  // nothing taken until every field passes

  // --- all good ---
  messages.Clear();
  height->setText("40000");
  Button(dialog, "okButton")->click();
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_TRUE(messages.Shown().empty());
  EXPECT_EQ(dialog.values().latitude, 45.0);
  EXPECT_EQ(dialog.values().longitude, -122.25);
  EXPECT_EQ(dialog.values().height, 40000.0);
}

TEST(Dialogs, NameFieldsTakeNoMoreThanThirtyCharacters) {
  TestApplication();
  RecordingMessages messages;
  CAddSatelliteDlg add(messages);
  CDeleteSatelliteDlg remove(messages);
  EXPECT_EQ(add.windowTitle(), "ADD Satellite");
  EXPECT_EQ(remove.windowTitle(), "DELETE Satellite");
  EXPECT_EQ(Field(add, "nameEdit")->property("controlId").toInt(), 1014);
  EXPECT_EQ(Field(remove, "nameEdit")->property("controlId").toInt(), 1013);
  for (CSatelliteNameDlg* dialog :
       {static_cast<CSatelliteNameDlg*>(&add), static_cast<CSatelliteNameDlg*>(&remove)}) {
    dialog->show();
    QLineEdit* name = Field(*dialog, "nameEdit");
    ASSERT_NE(name, nullptr);
    EXPECT_TRUE(name->text().isEmpty());
    QTest::keyClicks(name, QString(30, QChar(u'N')));
    QTest::keyClicks(name, QStringLiteral("X"));  // the 31st
    EXPECT_EQ(name->text(), QString(30, QChar(u'N')));
    Button(*dialog, "okButton")->click();
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(dialog->name(), std::string(30, 'N'));
  }
  EXPECT_TRUE(messages.Shown().empty());

  // --- the texts, in order ---
  std::vector<QString> labels;
  for (QLabel* label : add.findChildren<QLabel*>()) labels.push_back(label->text());
  EXPECT_EQ(labels, std::vector<QString>{"Enter Name of Satellite to ADD"});
  labels.clear();
  for (QLabel* label : remove.findChildren<QLabel*>()) labels.push_back(label->text());
  EXPECT_EQ(labels, std::vector<QString>{"Enter name of Satellite to Delete"});
  EXPECT_EQ(TabOrder(add, Field(add, "nameEdit")),
            (std::vector<QString>{"nameEdit", "OK", "Cancel"}));
}

TEST(Dialogs, MinimumElevationRange) {
  TestApplication();
  RecordingMessages messages;
  CMinElevationDlg dialog(messages, 5.0);
  dialog.show();
  EXPECT_EQ(dialog.windowTitle(), "Minimum Elevation");
  QLineEdit* edit = Field(dialog, "elevationEdit");
  ASSERT_NE(edit, nullptr);
  EXPECT_EQ(edit->text(), "5");
  edit->setText("25.5");
  Button(dialog, "okButton")->click();
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(messages.Shown(), std::vector<std::string>{"Please enter a number between 0 and 25."});
  EXPECT_EQ(dialog.elevation(), 5.0);
  edit->setText("25");
  Button(dialog, "okButton")->click();
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.elevation(), 25.0);
}

TEST(Dialogs, MenuCommandsHandOverWhatWasConfirmed) {
  TestApplication();
  UseTimeZone("UTC");
  auto rig = ViewRig::Make();
  FakeCommands commands;
  RecordingMessages messages;
  CMainFrame frame(rig->view, commands, messages);

  // --- Location, Cancel: nothing changes ---
  OnModal(
      [](QDialog& d) {
        Field(d, "latitudeEdit")->setText("10");
        Button(d, "cancelButton")->click();
      },
      [&] { frame.OnCommand(kCommandLocation); });
  EXPECT_TRUE(commands.locations.empty());

  // --- Location, height 40000: passes the dialog; the station makes its own check ---
  OnModal(
      [](QDialog& d) {
        EXPECT_EQ(Field(d, "heightEdit")->text(), "100");
        Field(d, "heightEdit")->setText("40000");
        Button(d, "okButton")->click();
        EXPECT_FALSE(d.isVisible());
      },
      [&] { frame.OnCommand(kCommandLocation); });
  ASSERT_EQ(commands.locations.size(), 1u);
  EXPECT_EQ(commands.locations[0].latitude, 47.5);
  EXPECT_EQ(commands.locations[0].longitude, -122.25);
  EXPECT_EQ(commands.locations[0].height, 40000.0);

  // --- Minimum Elevation opens with the station's value ---
  commands.minimumElevation = 7.5;
  OnModal(
      [](QDialog& d) {
        EXPECT_EQ(Field(d, "elevationEdit")->text(), "7.5");
        Button(d, "cancelButton")->click();
      },
      [&] { frame.OnCommand(kCommandMinimumElevation); });
  EXPECT_TRUE(commands.elevations.empty());
  OnModal(
      [](QDialog& d) {
        Field(d, "elevationEdit")->setText("12.25");
        Button(d, "okButton")->click();
      },
      [&] { frame.OnCommand(kCommandMinimumElevation); });
  EXPECT_EQ(commands.elevations, std::vector<double>{12.25});

  // --- Add and Delete ---
  OnModal(
      [](QDialog& d) {
        EXPECT_EQ(d.windowTitle(), "ADD Satellite");
        QTest::keyClicks(Field(d, "nameEdit"), "NOAA 15");
        Button(d, "okButton")->click();
      },
      [&] { frame.CommandAction(kCommandAddSatellite)->trigger(); });
  EXPECT_EQ(commands.added, std::vector<std::string>{"NOAA 15"});
  OnModal(
      [](QDialog& d) {
        QTest::keyClicks(Field(d, "nameEdit"), "NOAA 12");
        Button(d, "cancelButton")->click();
      },
      [&] { frame.OnCommand(kCommandDeleteSatellite); });
  EXPECT_TRUE(commands.deleted.empty());
  OnModal(
      [](QDialog& d) {
        EXPECT_EQ(d.windowTitle(), "DELETE Satellite");
        QTest::keyClicks(Field(d, "nameEdit"), "NOAA 12");
        Button(d, "okButton")->click();
      },
      [&] { frame.OnCommand(kCommandDeleteSatellite); });
  EXPECT_EQ(commands.deleted, std::vector<std::string>{"NOAA 12"});

  // --- About shows the station's figures ---
  OnModal(
      [](QDialog& d) {
        EXPECT_EQ(d.windowTitle(), "About Halvik NT");
        std::vector<QString> labels;
        for (QLabel* label : d.findChildren<QLabel*>()) {
          if (!label->text().isEmpty()) labels.push_back(label->text());
        }
        EXPECT_EQ(labels, (std::vector<QString>{"Halvik NT Version 0.32", "Memory:", "16777216 KB",
                                                "Disk Space:", "123456 KB Free on /"}));
        Button(d, "okButton")->click();
        EXPECT_FALSE(d.isVisible());
      },
      [&] { frame.OnCommand(kCommandAbout); });
  EXPECT_TRUE(messages.Shown().empty());
}

TEST(Dialogs, LocationControlsInOrder) {
  TestApplication();
  RecordingMessages messages;
  CLocationDlg dialog(messages, LocationFields{});
  QGroupBox* group = dialog.findChild<QGroupBox*>();
  ASSERT_NE(group, nullptr);
  EXPECT_EQ(group->title(), "Current Earth Location");
  std::vector<QString> labels;
  for (QLabel* label : group->findChildren<QLabel*>()) labels.push_back(label->text());
  EXPECT_EQ(labels, (std::vector<QString>{"Latitude", "Longitude", "Height"}));
  EXPECT_EQ(TabOrder(dialog, Field(dialog, "latitudeEdit")),
            (std::vector<QString>{"latitudeEdit", "longitudeEdit", "heightEdit", "OK", "Cancel"}));
}

}  // namespace
}  // namespace halvik
