#pragma once

#include <QMainWindow>

#include "ui/StationCommands.h"

class QAction;
class QMenu;

namespace halvik {

class CHalvik32View;
class Messages;
class StatusView;

// The document of the main window: the station keeps its state elsewhere, so it holds nothing
// and new, load and store do nothing.
class CHalvik32Doc {
 public:
  bool OnNewDocument() { return true; }
};

// The station's one window: fixed size (a 648 x 488 client under the menu), centred on the
// screen, caption "HALVIK NT", the status view as its client and the operator's menu. Closing
// it ends the application's event loop; the station's shut-down follows from there.
class CMainFrame final : public QMainWindow {
  Q_OBJECT

 public:
  // `dialogMessages` shows the dialogs' validation messages.
  CMainFrame(StatusView& statusView, StationCommands& commands, Messages& dialogMessages,
             QWidget* parent = nullptr);

  CHalvik32View& view() { return *view_; }
  // The menu item of a command id, or nullptr.
  QAction* CommandAction(int commandId) const;
  // Runs a menu command as if its item had been chosen.
  void OnCommand(int commandId);

 private:
  void AddCommand(QMenu* menu, const char* text, int commandId);
  void OnAbout();
  void OnAddSatellite();
  void OnDeleteSatellite();
  void OnLocation();
  void OnMinimumElevation();

  StationCommands& commands_;
  Messages& dialogMessages_;
  CHalvik32Doc document_;
  CHalvik32View* view_;
};

}  // namespace halvik
