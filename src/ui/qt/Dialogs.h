#pragma once

#include <QDialog>
#include <string>

#include "ui/StationCommands.h"

class QLineEdit;
class QLabel;
class QPushButton;

namespace halvik {

class Messages;

// The operator's five modal dialogs. Each number or text field is checked when OK is pressed;
// a field that fails shows its message through `messages` (caption "Halvik32", OK, warning
// icon), takes the focus with its text selected, and the dialog stays open.

class CAboutDlg final : public QDialog {
  Q_OBJECT

 public:
  explicit CAboutDlg(const AboutValues& values, QWidget* parent = nullptr);
};

// The common shape of the Add and Delete dialogs: one prompt, one name field of at most 30
// characters that opens empty, OK and Cancel.
class CSatelliteNameDlg : public QDialog {
  Q_OBJECT

 public:
  // The name entered, once the dialog has been confirmed.
  const std::string& name() const { return name_; }
  void accept() override;

 protected:
  CSatelliteNameDlg(Messages& messages, const char* caption, const char* prompt, int editId,
                    int widthDlu, int heightDlu, QWidget* parent);

 private:
  Messages& messages_;
  QLineEdit* nameEdit_;
  std::string name_;
};

class CDeleteSatelliteDlg final : public CSatelliteNameDlg {
  Q_OBJECT

 public:
  explicit CDeleteSatelliteDlg(Messages& messages, QWidget* parent = nullptr);
};

class CAddSatelliteDlg final : public CSatelliteNameDlg {
  Q_OBJECT

 public:
  explicit CAddSatelliteDlg(Messages& messages, QWidget* parent = nullptr);
};

class CLocationDlg final : public QDialog {
  Q_OBJECT

 public:
  // Opens with the given values in its fields.
  CLocationDlg(Messages& messages, const LocationFields& values, QWidget* parent = nullptr);
  // The values entered, once the dialog has been confirmed; before that the opening values.
  const LocationFields& values() const { return values_; }
  void accept() override;

 private:
  Messages& messages_;
  QLineEdit* latitudeEdit_;
  QLineEdit* longitudeEdit_;
  QLineEdit* heightEdit_;
  LocationFields values_;
};

class CMinElevationDlg final : public QDialog {
  Q_OBJECT

 public:
  CMinElevationDlg(Messages& messages, double elevationDeg, QWidget* parent = nullptr);
  double elevation() const { return elevation_; }  // degrees
  void accept() override;

 private:
  Messages& messages_;
  QLineEdit* elevationEdit_;
  double elevation_;
};

}  // namespace halvik
