#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ui/Canvas.h"

namespace halvik {

// A canvas that keeps every call made to it, in order.
class RecordingCanvas final : public Canvas {
 public:
  enum class Kind { Text, Fill, Pixel, Row };

  struct Call {
    Kind kind = Kind::Text;
    int x = 0;  // text/pixel/row position; rectangle left
    int y = 0;  // text/pixel/row position; rectangle top
    int right = 0;
    int bottom = 0;
    std::string text;
    Font font = Font::TextFont;
    Colour colour = 0;  // text colour, fill colour or pixel colour
    Colour background = 0;
    std::vector<std::uint8_t> greys;
  };

  void DrawText(int x, int y, std::string_view text, Font font, Colour textColour,
                Colour background) override {
    Call call = Make(Kind::Text, x, y);
    call.text = std::string(text);
    call.font = font;
    call.colour = textColour;
    call.background = background;
    calls.push_back(std::move(call));
  }
  void FillRect(int left, int top, int right, int bottom, Colour colour) override {
    Call call = Make(Kind::Fill, left, top);
    call.right = right;
    call.bottom = bottom;
    call.colour = colour;
    calls.push_back(std::move(call));
  }
  void SetPixel(int x, int y, Colour colour) override {
    Call call = Make(Kind::Pixel, x, y);
    call.colour = colour;
    calls.push_back(std::move(call));
  }
  void GreyRow(int x, int y, const std::uint8_t* greys, int count) override {
    Call call = Make(Kind::Row, x, y);
    call.greys.assign(greys, greys + count);
    calls.push_back(std::move(call));
  }

  // The texts drawn at (x, y), in order.
  std::vector<const Call*> TextsAt(int x, int y) const {
    std::vector<const Call*> found;
    for (const Call& c : calls) {
      if (c.kind == Kind::Text && c.x == x && c.y == y) found.push_back(&c);
    }
    return found;
  }
  // The one text drawn at (x, y); fails the test when there is not exactly one.
  const Call& TextAt(int x, int y) const;
  bool HasTextAt(int x, int y) const { return !TextsAt(x, y).empty(); }

  std::vector<const Call*> OfKind(Kind kind) const {
    std::vector<const Call*> found;
    for (const Call& c : calls) {
      if (c.kind == kind) found.push_back(&c);
    }
    return found;
  }

  void Clear() { calls.clear(); }

  static Call Make(Kind kind, int x, int y) {
    Call call;
    call.kind = kind;
    call.x = x;
    call.y = y;
    return call;
  }

  std::vector<Call> calls;
};

}  // namespace halvik
