#pragma once

#include <cstdint>
#include <string_view>

namespace halvik {

// A colour as 0xRRGGBB.
using Colour = std::uint32_t;

inline constexpr Colour kBackgroundColour = 0xE0E0E0;  // text cells and the erased window
inline constexpr Colour kBlack = 0x000000;
inline constexpr Colour kRed = 0xFF0000;
inline constexpr Colour kGreen = 0x00A000;
inline constexpr Colour kBlue = 0x0000A0;

// The two fonts of the status view: both a fixed-pitch "Courier" 10 pixels high, the heading
// one bold.
enum class Font { TextFont, HeadingFont };

// The drawing surface the status view paints on, in pixels of the 640 x 480 client area. The
// view never erases: every call paints over what is there, and whatever a call does not cover
// stays as an earlier paint left it.
class Canvas {
 public:
  virtual ~Canvas() = default;

  // Text with its top-left corner at (x, y), each character cell filled with `background`
  // first (opaque text), so a line covers whatever earlier text lay under it.
  virtual void DrawText(int x, int y, std::string_view text, Font font, Colour textColour,
                        Colour background) = 0;

  // Fills left <= x < right, top <= y < bottom.
  virtual void FillRect(int left, int top, int right, int bottom, Colour colour) = 0;

  virtual void SetPixel(int x, int y, Colour colour) = 0;

  // Pixels (x + i, y) for i = 0 .. count - 1, each in the grey of greys[i]. The same as that
  // many SetPixel calls; a surface that can write a whole row at once overrides it.
  virtual void GreyRow(int x, int y, const std::uint8_t* greys, int count) {
    for (int i = 0; i < count; ++i) SetPixel(x + i, y, Grey(greys[i]));
  }

  static constexpr Colour Grey(std::uint8_t level) { return Colour{level} * 0x010101u; }
};

}  // namespace halvik
