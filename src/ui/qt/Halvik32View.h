#pragma once

#include <QBasicTimer>
#include <QImage>
#include <QWidget>

#include "ui/StatusView.h"

namespace halvik {

inline constexpr int kViewTimerId = 256;
inline constexpr int kViewTimerPeriodMs = 100;
// The view's client area; the 640 x 480 status picture sits in its middle.
inline constexpr int kViewWidth = 648;
inline constexpr int kViewHeight = 488;

// The status view's window: a 100 ms timer that asks for a paint without erasing, and a paint
// that draws the status view onto a picture kept between paints and puts it on screen.
class CHalvik32View final : public QWidget {
  Q_OBJECT

 public:
  explicit CHalvik32View(StatusView& view, QWidget* parent = nullptr);

  // The view's timer handler: timer 256 counts a tick and asks for a paint, others do nothing.
  void OnTimer(int timerId);
  // Fills the picture with the background colour, as the window system's erase does.
  void EraseBackground();
  // The picture the paints draw on (640 x 480).
  const QImage& picture() const { return picture_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void timerEvent(QTimerEvent* event) override;

 private:
  StatusView& view_;
  QImage picture_;
  QBasicTimer timer_;
};

}  // namespace halvik
