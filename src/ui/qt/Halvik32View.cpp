#include "ui/qt/Halvik32View.h"

#include <QPainter>
#include <QTimerEvent>

#include "ui/qt/QtCanvas.h"
#include "ui/qt/Snapshot.h"

namespace halvik {
namespace {

constexpr int kPictureLeft = (kViewWidth - kClientWidth) / 2;
constexpr int kPictureTop = (kViewHeight - kClientHeight) / 2;

}  // namespace

CHalvik32View::CHalvik32View(StatusView& view, QWidget* parent)
    : QWidget(parent), view_(view), picture_(kClientWidth, kClientHeight, QImage::Format_RGB32) {
  setFixedSize(kViewWidth, kViewHeight);
  // Every paint covers the whole widget from the kept picture; Qt need not clear it first.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_NoSystemBackground);
  EraseBackground();
  timer_.start(kViewTimerPeriodMs, Qt::PreciseTimer, this);
}

void CHalvik32View::OnTimer(int timerId) {
  if (timerId != kViewTimerId) return;
  view_.TimerTick();
  update();
}

void CHalvik32View::EraseBackground() {
  EraseImage(picture_);
}

void CHalvik32View::timerEvent(QTimerEvent* event) {
  if (event->timerId() == timer_.timerId()) {
    OnTimer(kViewTimerId);
  } else {
    QWidget::timerEvent(event);
  }
}

void CHalvik32View::paintEvent(QPaintEvent* /*event*/) {
  {
    QtCanvas canvas(picture_);
    view_.Paint(canvas);
  }
  QPainter painter(this);
  const QColor background = QColor::fromRgb(kBackgroundColour);
  // The margin around the picture is background.
  painter.fillRect(0, 0, kViewWidth, kPictureTop, background);
  painter.fillRect(0, kPictureTop + kClientHeight, kViewWidth, kViewHeight, background);
  painter.fillRect(0, kPictureTop, kPictureLeft, kClientHeight, background);
  painter.fillRect(kPictureLeft + kClientWidth, kPictureTop, kViewWidth, kClientHeight, background);
  painter.drawImage(kPictureLeft, kPictureTop, picture_);
}

}  // namespace halvik
