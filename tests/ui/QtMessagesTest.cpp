#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "QtTestApp.h"
#include "ui/qt/QtMessages.h"

namespace halvik {
namespace {

TEST(QtMessages, WorkerWaitsForTheBoxShownByTheUserInterfaceThread) {
  TestApplication();
  const std::thread::id uiThread = std::this_thread::get_id();
  std::atomic<bool> workerReturned{false};
  std::thread::id shownOn;
  QString shownText;
  bool shownBeforeReturn = false;
  QtMessages messages([&](const QString& text) {
    shownOn = std::this_thread::get_id();
    shownText = text;
    shownBeforeReturn = !workerReturned.load();
  });

  // --- from the user-interface thread: shown at once ---
  messages.Show("Error Installing Driver: hrptRcvr. /x");
  EXPECT_EQ(shownText, "Error Installing Driver: hrptRcvr. /x");
  EXPECT_EQ(shownOn, uiThread);

  // --- from a worker: shown on the user-interface thread, the worker waits for it ---
  shownText.clear();
  QEventLoop loop;
  std::thread worker([&] {
    messages.Show("Cannot Open Bit/Frame Sync Device");
    workerReturned = true;
    QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
  });
  loop.exec();
  worker.join();
  EXPECT_EQ(shownText, "Cannot Open Bit/Frame Sync Device");
  EXPECT_EQ(shownOn, uiThread);
  EXPECT_TRUE(shownBeforeReturn);

  // --- after the event loop has stopped, workers no longer wait ---
  shownText.clear();
  messages.StopDisplaying();
  std::thread late([&] { messages.Show("late"); });
  late.join();
  EXPECT_TRUE(shownText.isEmpty());
}

TEST(QtMessages, TwoWorkersEachGetTheirBox) {
  TestApplication();
  std::vector<QString> shown;
  QtMessages messages([&](const QString& text) { shown.push_back(text); });
  std::atomic<int> returned{0};
  QEventLoop loop;
  auto worker = [&](const char* text) {
    return std::thread([&, text] {
      messages.Show(text);
      if (returned.fetch_add(1) + 1 == 2)
        QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
    });
  };
  std::thread tracking = worker("Tracker Timeout");
  std::thread capture = worker("Cannot Open Bit/Frame Sync Device");
  loop.exec();
  tracking.join();
  capture.join();
  std::sort(shown.begin(), shown.end());
  EXPECT_EQ(shown, (std::vector<QString>{"Cannot Open Bit/Frame Sync Device", "Tracker Timeout"}));
}

TEST(QtMessages, TheBoxIsAWarningWithOkAndTheApplicationCaption) {
  TestApplication();
  QtMessages messages;
  bool seen = false;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    seen = true;
    EXPECT_EQ(box->windowTitle(), "Halvik32");
    EXPECT_EQ(box->text(), "Error Starting Driver");
    EXPECT_EQ(box->icon(), QMessageBox::Warning);
    EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
    box->button(QMessageBox::Ok)->click();
  });
  messages.Show("Error Starting Driver");
  EXPECT_TRUE(seen);
}

}  // namespace
}  // namespace halvik
