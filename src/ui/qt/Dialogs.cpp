#include "ui/qt/Dialogs.h"

#include <QApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "platform/Messages.h"
#include "ui/DialogRules.h"

namespace halvik {
namespace {

// Dialog units of the 8-point dialog font (average character 6 x 13 pixels).
QSize DialogUnits(int width, int height) {
  return QSize(width * 6 / 4, height * 13 / 8);
}

// The dialog's own size from its layout, at least its size in dialog units; not resizable.
void FixSize(QDialog& dialog, int widthDlu, int heightDlu) {
  dialog.setFixedSize(dialog.sizeHint().expandedTo(DialogUnits(widthDlu, heightDlu)));
}

QLineEdit* Edit(const char* objectName, int controlId, QWidget* parent) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(QString::fromLatin1(objectName));
  edit->setProperty("controlId", controlId);
  return edit;
}

// OK and Cancel, stacked at the dialog's right.
QVBoxLayout* OkCancelColumn(QDialog& dialog) {
  auto* column = new QVBoxLayout;
  auto* ok = new QPushButton(QStringLiteral("OK"), &dialog);
  ok->setObjectName(QStringLiteral("okButton"));
  ok->setDefault(true);
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), &dialog);
  cancel->setObjectName(QStringLiteral("cancelButton"));
  QObject::connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);
  QObject::connect(cancel, &QPushButton::clicked, &dialog, &QDialog::reject);
  column->addWidget(ok);
  column->addWidget(cancel);
  column->addStretch();
  return column;
}

QString FieldText(double value) {
  return QString::fromStdString(DialogNumberText(value));
}

// Checks one number field; on failure shows the message and hands the field the focus with
// its text selected, as the operator has to correct it.
bool ExchangeNumber(Messages& messages, QLineEdit* edit, NumberLimits limits, double& value) {
  std::optional<std::string> failure = CheckNumberField(edit->text().toStdString(), limits, value);
  if (!failure) return true;
  messages.Show(*failure);
  edit->setFocus();
  edit->selectAll();
  return false;
}

}  // namespace

CAboutDlg::CAboutDlg(const AboutValues& values, QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("About Halvik NT"));
  auto* grid = new QGridLayout(this);

  auto* icon = new QLabel(this);
  QIcon appIcon = QApplication::windowIcon();
  if (appIcon.isNull()) appIcon = style()->standardIcon(QStyle::SP_ComputerIcon);
  icon->setPixmap(appIcon.pixmap(32, 32));
  grid->addWidget(icon, 0, 0);
  grid->addWidget(new QLabel(QStringLiteral("Halvik NT Version 0.32"), this), 0, 1);
  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName(QStringLiteral("okButton"));
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  grid->addWidget(ok, 0, 2);

  grid->addWidget(new QLabel(QStringLiteral("Memory:"), this), 1, 0);
  auto* memory = new QLabel(QString::fromStdString(values.memory), this);
  memory->setObjectName(QStringLiteral("memoryValue"));
  memory->setProperty("controlId", 1012);
  grid->addWidget(memory, 1, 1, 1, 2);

  grid->addWidget(new QLabel(QStringLiteral("Disk Space:"), this), 2, 0);
  auto* disk = new QLabel(QString::fromStdString(values.disk), this);
  disk->setObjectName(QStringLiteral("diskValue"));
  disk->setProperty("controlId", 1013);
  grid->addWidget(disk, 2, 1, 1, 2);
  grid->setRowStretch(3, 1);
  FixSize(*this, 233, 126);
}

CSatelliteNameDlg::CSatelliteNameDlg(Messages& messages, const char* caption, const char* prompt,
                                     int editId, int widthDlu, int heightDlu, QWidget* parent)
    : QDialog(parent), messages_(messages) {
  setWindowTitle(QString::fromLatin1(caption));
  auto* row = new QHBoxLayout(this);
  auto* fields = new QVBoxLayout;
  fields->addWidget(new QLabel(QString::fromLatin1(prompt), this));
  nameEdit_ = Edit("nameEdit", editId, this);
  // The field itself takes no more; the check on OK still guards pasted or set text.
  nameEdit_->setMaxLength(kSatelliteNameMaxCharacters);
  fields->addWidget(nameEdit_);
  fields->addStretch();
  row->addLayout(fields);
  row->addLayout(OkCancelColumn(*this));
  FixSize(*this, widthDlu, heightDlu);
}

void CSatelliteNameDlg::accept() {
  const std::string text = nameEdit_->text().toStdString();
  if (std::optional<std::string> failure = CheckTextField(text, kSatelliteNameMaxCharacters)) {
    messages_.Show(*failure);
    nameEdit_->setFocus();
    nameEdit_->selectAll();
    return;
  }
  name_ = text;
  QDialog::accept();
}

CDeleteSatelliteDlg::CDeleteSatelliteDlg(Messages& messages, QWidget* parent)
    : CSatelliteNameDlg(messages, "DELETE Satellite", "Enter name of Satellite to Delete", 1013,
                        165, 71, parent) {}

CAddSatelliteDlg::CAddSatelliteDlg(Messages& messages, QWidget* parent)
    : CSatelliteNameDlg(messages, "ADD Satellite", "Enter Name of Satellite to ADD", 1014, 168, 68,
                        parent) {}

CLocationDlg::CLocationDlg(Messages& messages, const LocationFields& values, QWidget* parent)
    : QDialog(parent), messages_(messages), values_(values) {
  setWindowTitle(QStringLiteral("Earth Station Location"));
  auto* row = new QHBoxLayout(this);
  auto* group = new QGroupBox(QStringLiteral("Current Earth Location"), this);
  auto* grid = new QGridLayout(group);
  latitudeEdit_ = Edit("latitudeEdit", 1015, group);
  longitudeEdit_ = Edit("longitudeEdit", 1016, group);
  heightEdit_ = Edit("heightEdit", 1017, group);
  grid->addWidget(new QLabel(QStringLiteral("Latitude"), group), 0, 0);
  grid->addWidget(latitudeEdit_, 0, 1);
  grid->addWidget(new QLabel(QStringLiteral("Longitude"), group), 1, 0);
  grid->addWidget(longitudeEdit_, 1, 1);
  grid->addWidget(new QLabel(QStringLiteral("Height"), group), 2, 0);
  grid->addWidget(heightEdit_, 2, 1);
  row->addWidget(group);
  row->addLayout(OkCancelColumn(*this));

  latitudeEdit_->setText(FieldText(values_.latitude));
  longitudeEdit_->setText(FieldText(values_.longitude));
  heightEdit_->setText(FieldText(values_.height));
  FixSize(*this, 186, 127);
}

void CLocationDlg::accept() {
  // Field by field in order; the first that fails keeps the dialog open.
  LocationFields entered = values_;
  if (!ExchangeNumber(messages_, latitudeEdit_, kLatitudeLimits, entered.latitude)) return;
  if (!ExchangeNumber(messages_, longitudeEdit_, kLongitudeLimits, entered.longitude)) return;
  if (!ExchangeNumber(messages_, heightEdit_, kHeightLimits, entered.height)) return;
  values_ = entered;
  QDialog::accept();
}

CMinElevationDlg::CMinElevationDlg(Messages& messages, double elevationDeg, QWidget* parent)
    : QDialog(parent), messages_(messages), elevation_(elevationDeg) {
  setWindowTitle(QStringLiteral("Minimum Elevation"));
  auto* row = new QHBoxLayout(this);
  auto* fields = new QVBoxLayout;
  fields->addWidget(new QLabel(QStringLiteral("Enter Minimum Acquisition Elevation"), this));
  elevationEdit_ = Edit("elevationEdit", 1018, this);
  elevationEdit_->setText(FieldText(elevation_));
  fields->addWidget(elevationEdit_);
  fields->addStretch();
  row->addLayout(fields);
  row->addLayout(OkCancelColumn(*this));
  FixSize(*this, 152, 61);
}

void CMinElevationDlg::accept() {
  double entered = elevation_;
  if (!ExchangeNumber(messages_, elevationEdit_, kMinimumElevationLimits, entered)) return;
  elevation_ = entered;
  QDialog::accept();
}

}  // namespace halvik
