#include "ui/qt/Snapshot.h"

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

bool WriteStatusSnapshot(StatusView& view, const QString& path) {
  return RenderStatusImage(view).save(path, "PNG");
}

}  // namespace halvik
