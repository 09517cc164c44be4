#include "ui/qt/QtCanvas.h"

#include <QFontDatabase>
#include <QGlyphRun>
#include <QString>
#include <cmath>

namespace halvik {
namespace {

constexpr int kFontPixelSize = 11;
// Widens the face's 0.6-em advance (6.6 pixels) to fill the 8-pixel cell, as Courier does.
constexpr int kFontStretch = 121;

QColor ToQColor(Colour colour) {
  return QColor::fromRgb(static_cast<QRgb>(colour));
}

}  // namespace

QFont QtCanvas::QtFont(Font font) {
  // "Courier" on this platform: the bundled monospace face, else whatever the system calls
  // its fixed-pitch font.
  QFont qfont;
  qfont.setFamilies({QStringLiteral("DejaVu Sans Mono"),
                     QFontDatabase::systemFont(QFontDatabase::FixedFont).family()});
  qfont.setStyleHint(QFont::Monospace);
  qfont.setFixedPitch(true);
  qfont.setPixelSize(kFontPixelSize);
  qfont.setStretch(kFontStretch);
  qfont.setWeight(font == Font::HeadingFont ? QFont::Bold : QFont::Normal);
  qfont.setHintingPreference(QFont::PreferFullHinting);
  return qfont;
}

QtCanvas::QtCanvas(QImage& image)
    : image_(image),
      textRaw_(QRawFont::fromFont(QtFont(Font::TextFont))),
      headingRaw_(QRawFont::fromFont(QtFont(Font::HeadingFont))) {
  // Pixels are written straight into 32-bit rows.
  if (image_.format() != QImage::Format_RGB32) {
    image_.convertTo(QImage::Format_RGB32);
  }
  // Descenders and underscores sit in the bottom rows of the cell.
  baseline_ = kTextCellHeight - static_cast<int>(std::ceil(textRaw_.descent()));
}

QtCanvas::~QtCanvas() = default;

QPainter& QtCanvas::Painter() {
  if (!painter_) painter_ = std::make_unique<QPainter>(&image_);
  return *painter_;
}

void QtCanvas::DrawText(int x, int y, std::string_view text, Font font, Colour textColour,
                        Colour background) {
  const QString characters = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  const int width = static_cast<int>(characters.size()) * kTextCellWidth;
  if (width == 0) return;
  QPainter& painter = Painter();
  const QRect cells(x, y, width, kTextCellHeight);
  // Opaque text: the cells first, then the glyphs, none of them reaching outside the cells.
  painter.fillRect(cells, ToQColor(background));

  // One glyph run per line, each glyph placed in its own cell.
  const QRawFont& raw = font == Font::HeadingFont ? headingRaw_ : textRaw_;
  const QList<quint32> glyphs = raw.glyphIndexesForString(characters);
  QList<QPointF> positions;
  positions.reserve(glyphs.size());
  QList<quint32> drawn;
  drawn.reserve(glyphs.size());
  const QList<QPointF> advances = raw.advancesForGlyphIndexes(glyphs);
  for (qsizetype i = 0; i < glyphs.size() && i < characters.size(); ++i) {
    if (characters[i] == u' ') continue;
    const double inset = (kTextCellWidth - advances[i].x()) / 2.0;
    positions.append(QPointF(i * kTextCellWidth + inset, 0.0));
    drawn.append(glyphs[i]);
  }
  if (drawn.isEmpty()) return;
  QGlyphRun run;
  run.setRawFont(raw);
  run.setGlyphIndexes(drawn);
  run.setPositions(positions);
  painter.save();
  painter.setClipRect(cells);
  painter.setPen(ToQColor(textColour));
  painter.drawGlyphRun(QPointF(x, y + baseline_), run);
  painter.restore();
}

void QtCanvas::FillRect(int left, int top, int right, int bottom, Colour colour) {
  if (right <= left || bottom <= top) return;
  Painter().fillRect(QRect(left, top, right - left, bottom - top), ToQColor(colour));
}

void QtCanvas::SetPixel(int x, int y, Colour colour) {
  if (x < 0 || y < 0 || x >= image_.width() || y >= image_.height()) return;
  EndPainting();
  reinterpret_cast<QRgb*>(image_.scanLine(y))[x] = 0xFF000000u | colour;
}

void QtCanvas::GreyRow(int x, int y, const std::uint8_t* greys, int count) {
  if (y < 0 || y >= image_.height()) return;
  EndPainting();
  QRgb* row = reinterpret_cast<QRgb*>(image_.scanLine(y));
  for (int i = 0; i < count; ++i) {
    const int px = x + i;
    if (px < 0 || px >= image_.width()) continue;
    row[px] = 0xFF000000u | Grey(greys[i]);
  }
}

void EraseImage(QImage& image) {
  image.fill(QColor::fromRgb(kBackgroundColour));
}

}  // namespace halvik
