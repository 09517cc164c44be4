#pragma once

#include <QFont>
#include <QImage>
#include <QPainter>
#include <QRawFont>
#include <memory>

#include "ui/Canvas.h"

namespace halvik {

// Character cells of the status view's fonts. The view's lines are laid out for an 8-pixel
// cell: the 77-character header starts at x = 10 in a 640-pixel client and the 38-character
// satellite lines end just left of the quick-look panel at x = 323. Every character is drawn
// in its own cell, so the grid holds whatever the font's own advance is. The cell is 12 pixels
// high so descenders and the headings' underscores show; lines lie 15 pixels apart or more.
inline constexpr int kTextCellWidth = 8;
inline constexpr int kTextCellHeight = 12;

// The status view's surface in Qt: paints onto a QImage (Format_RGB32) that the caller keeps
// between paints, so whatever a paint does not draw stays as the last paint left it. Make one
// per paint; text and fills go through a QPainter, pixels straight into the image's rows.
class QtCanvas final : public Canvas {
 public:
  explicit QtCanvas(QImage& image);
  ~QtCanvas() override;
  QtCanvas(const QtCanvas&) = delete;
  QtCanvas& operator=(const QtCanvas&) = delete;

  void DrawText(int x, int y, std::string_view text, Font font, Colour textColour,
                Colour background) override;
  void FillRect(int left, int top, int right, int bottom, Colour colour) override;
  void SetPixel(int x, int y, Colour colour) override;
  void GreyRow(int x, int y, const std::uint8_t* greys, int count) override;

  // The font a status-view font is drawn with: the system's fixed-pitch face.
  static QFont QtFont(Font font);

 private:
  QPainter& Painter();
  void EndPainting() { painter_.reset(); }

  QImage& image_;
  std::unique_ptr<QPainter> painter_;
  QRawFont textRaw_;
  QRawFont headingRaw_;
  int baseline_;  // from the top of a cell
};

// Fills a whole image with the window background, as the window system's erase does.
void EraseImage(QImage& image);

}  // namespace halvik
