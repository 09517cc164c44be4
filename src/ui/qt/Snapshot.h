#pragma once

#include <string>

#include <QImage>
#include <QString>

#include "ui/StatusView.h"

namespace halvik {

inline constexpr int kClientWidth = 640;
inline constexpr int kClientHeight = 480;

// The status view as a freshly opened window shows it: the background erased, one paint, and
// (since a still picture has no later paints to finish a replay) the whole quick-look picture.
// The paint counts as one of the view's paints. Needs a QGuiApplication (fonts).
QImage RenderStatusImage(StatusView& view);

// Writes `image` to `path` as a PNG file: "" when written, otherwise why not, in the system's
// words ("Permission denied").
std::string SavePng(const QImage& image, const QString& path);

// RenderStatusImage written to a PNG file; false when the file cannot be written.
bool WriteStatusSnapshot(StatusView& view, const QString& path);

}  // namespace halvik
