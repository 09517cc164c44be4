#include "ui/qt/StatusPng.h"

#include <QBuffer>
#include <QByteArray>
#include <QGuiApplication>

#include "ui/qt/Snapshot.h"

namespace halvik {

std::string RenderStatusPng(const StatusSources& sources) {
  if (QGuiApplication::instance() == nullptr) return {};
  StatusView view(sources);
  const QImage image = RenderStatusImage(view);
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  if (!image.save(&buffer, "PNG")) return {};
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

}  // namespace halvik
