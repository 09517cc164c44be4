#include "ui/qt/QtMessages.h"

#include <QMessageBox>
#include <QThread>
#include <algorithm>
#include <cstdio>

namespace halvik {
namespace {

void ToStandardError(const std::string& text) {
  std::fprintf(stderr, "Halvik32: %s\n", text.c_str());
  std::fflush(stderr);
}

}  // namespace

QtMessages::QtMessages(Display display)
    : display_(display ? std::move(display) : Display(&QtMessages::ShowMessageBox)) {}

QtMessages::~QtMessages() {
  StopDisplaying();
}

void QtMessages::ShowMessageBox(const QString& text) {
  QMessageBox box(QMessageBox::Warning, QStringLiteral("Halvik32"), text, QMessageBox::Ok);
  box.exec();
}

void QtMessages::Show(const std::string& text) {
  if (QThread::currentThread() == thread()) {
    display_(QString::fromStdString(text));
    return;
  }
  if (!displaying_.load(std::memory_order_acquire)) {
    ToStandardError(text);
    return;
  }
  PendingMessage message;
  message.text = text;
  std::future<void> shown = message.shown.get_future();
  message.next = pending_.load(std::memory_order_relaxed);
  while (!pending_.compare_exchange_weak(message.next, &message, std::memory_order_release,
                                         std::memory_order_relaxed)) {
  }
  // Only a wake-up crosses through Qt's event queue; the message itself goes through
  // `pending_`.
  QMetaObject::invokeMethod(this, "ShowPending", Qt::QueuedConnection);
  shown.wait();
}

std::vector<QtMessages::PendingMessage*> QtMessages::TakePending() {
  std::vector<PendingMessage*> messages;
  for (PendingMessage* m = pending_.exchange(nullptr, std::memory_order_acquire); m != nullptr;
       m = m->next) {
    messages.push_back(m);
  }
  std::reverse(messages.begin(), messages.end());  // the stack gives the newest first
  return messages;
}

void QtMessages::ShowPending() {
  // Each message's worker goes on (and its message ceases to exist) once it is marked shown.
  for (PendingMessage* message : TakePending()) {
    display_(QString::fromStdString(message->text));
    message->shown.set_value();
  }
}

void QtMessages::StopDisplaying() {
  displaying_.store(false, std::memory_order_release);
  for (PendingMessage* message : TakePending()) {
    ToStandardError(message->text);
    message->shown.set_value();
  }
}

}  // namespace halvik
