#include "ui/qt/MainFrame.h"

#include <QAction>
#include <QGuiApplication>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>

#include "ui/qt/Dialogs.h"
#include "ui/qt/Halvik32View.h"

namespace halvik {

CMainFrame::CMainFrame(StatusView& statusView, StationCommands& commands, Messages& dialogMessages,
                       QWidget* parent)
    : QMainWindow(parent), commands_(commands), dialogMessages_(dialogMessages) {
  // A caption, a system menu, minimise and close: no sizing border, no maximise box.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setWindowTitle(QStringLiteral("HALVIK NT"));
  document_.OnNewDocument();

  QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
  AddCommand(file, "E&xit", kCommandExit);
  QMenu* satellite = menuBar()->addMenu(QStringLiteral("&Satellite"));
  AddCommand(satellite, "&Add...", kCommandAddSatellite);
  AddCommand(satellite, "&Delete...", kCommandDeleteSatellite);
  QMenu* setup = menuBar()->addMenu(QStringLiteral("Setu&p"));
  AddCommand(setup, "&Location...", kCommandLocation);
  AddCommand(setup, "&Minimun Elevation...", kCommandMinimumElevation);
  QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
  AddCommand(help, "&About Halvik NT...", kCommandAbout);

  view_ = new CHalvik32View(statusView, this);
  setCentralWidget(view_);

  // Fixed: the view's size plus the menu; Qt's own frame goes around it.
  const QSize size(kViewWidth, kViewHeight + menuBar()->sizeHint().height());
  setFixedSize(size);
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->geometry();
    move(area.x() + area.width() / 2 - size.width() / 2,
         area.y() + area.height() / 2 - size.height() / 2);
  }
}

void CMainFrame::AddCommand(QMenu* menu, const char* text, int commandId) {
  QAction* action = menu->addAction(QString::fromLatin1(text));
  action->setData(commandId);
  connect(action, &QAction::triggered, this, [this, commandId] { OnCommand(commandId); });
}

QAction* CMainFrame::CommandAction(int commandId) const {
  for (QAction* top : menuBar()->actions()) {
    if (QMenu* menu = top->menu()) {
      for (QAction* action : menu->actions()) {
        if (action->data().toInt() == commandId) return action;
      }
    }
  }
  return nullptr;
}

void CMainFrame::OnCommand(int commandId) {
  switch (commandId) {
    case kCommandExit:
      close();
      break;
    case kCommandAddSatellite:
      OnAddSatellite();
      break;
    case kCommandDeleteSatellite:
      OnDeleteSatellite();
      break;
    case kCommandLocation:
      OnLocation();
      break;
    case kCommandMinimumElevation:
      OnMinimumElevation();
      break;
    case kCommandAbout:
      OnAbout();
      break;
    default:
      break;
  }
}

void CMainFrame::OnAbout() {
  CAboutDlg dialog(commands_.About(), this);
  dialog.exec();
}

void CMainFrame::OnAddSatellite() {
  CAddSatelliteDlg dialog(dialogMessages_, this);
  if (dialog.exec() == QDialog::Accepted) commands_.AddSatellite(dialog.name());
}

void CMainFrame::OnDeleteSatellite() {
  CDeleteSatelliteDlg dialog(dialogMessages_, this);
  if (dialog.exec() == QDialog::Accepted) commands_.DeleteSatellite(dialog.name());
}

void CMainFrame::OnLocation() {
  CLocationDlg dialog(dialogMessages_, commands_.CurrentLocation(), this);
  if (dialog.exec() != QDialog::Accepted) return;
  const LocationFields& entered = dialog.values();
  commands_.UpdateLocation(entered.latitude, entered.longitude, entered.height);
}

void CMainFrame::OnMinimumElevation() {
  CMinElevationDlg dialog(dialogMessages_, commands_.MinimumElevationDegrees(), this);
  if (dialog.exec() == QDialog::Accepted) commands_.UpdateMinimumElevation(dialog.elevation());
}

}  // namespace halvik
