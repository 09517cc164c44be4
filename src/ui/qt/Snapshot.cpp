#include "ui/qt/Snapshot.h"

#include <QImageWriter>

#include "ui/qt/QtCanvas.h"

namespace halvik {

QImage RenderStatusImage(StatusView& view) {
  QImage image(kClientWidth, kClientHeight, QImage::Format_RGB32);
  EraseImage(image);
  {
    QtCanvas canvas(image);
    view.Paint(canvas);
    view.DrawQuickLookPicture(canvas);
  }
  return image;
}

std::string SavePng(const QImage& image, const QString& path) {
  QImageWriter writer(path, "PNG");
  if (writer.write(image)) return {};
  const std::string reason = writer.errorString().toStdString();
  return reason.empty() ? "not written" : reason;
}

bool WriteStatusSnapshot(StatusView& view, const QString& path) {
  return SavePng(RenderStatusImage(view), path).empty();
}

}  // namespace halvik
