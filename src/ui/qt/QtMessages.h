#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <functional>
#include <future>
#include <string>
#include <vector>

#include "platform/Messages.h"

namespace halvik {

// The station's message box in the window: caption "Halvik32", an OK button, the warning
// icon. The box is always shown by the user-interface thread; a worker thread that calls Show
// has it shown there and waits until the operator has closed it, as a thread that meets a
// failure waits on its message. Make it on the user-interface thread.
class QtMessages final : public QObject, public Messages {
  Q_OBJECT

 public:
  // Shows one box and returns when it is closed; runs on the user-interface thread.
  using Display = std::function<void(const QString& text)>;

  // Without a display, a QMessageBox is used.
  explicit QtMessages(Display display = {});
  ~QtMessages() override;

  void Show(const std::string& text) override;

  // Call on the user-interface thread once its event loop has stopped (shut-down): a worker's
  // message could no longer be shown and its thread would wait for ever. Messages still
  // waiting, and every later one from a worker, go to standard error and do not wait.
  void StopDisplaying();

  static void ShowMessageBox(const QString& text);

 private:
  // One worker's message on its way to the user-interface thread; lives on the worker's stack
  // until `shown` is set.
  struct PendingMessage {
    std::string text;
    std::promise<void> shown;
    PendingMessage* next = nullptr;
  };

  // Runs on the user-interface thread: shows every pending message, oldest first.
  Q_INVOKABLE void ShowPending();
  std::vector<PendingMessage*> TakePending();

  Display display_;
  std::atomic<bool> displaying_{true};
  // Workers push, the user-interface thread takes the whole list: a lock-free stack.
  std::atomic<PendingMessage*> pending_{nullptr};
};

}  // namespace halvik
