#pragma once

#include <string_view>

#include "ui/Canvas.h"

namespace halvik::testing {

// A canvas that draws nowhere: the paint still runs, so the receiver is polled as with a window.
class NullCanvas final : public Canvas {
 public:
  void DrawText(int, int, std::string_view, Font, Colour, Colour) override {}
  void FillRect(int, int, int, int, Colour) override {}
  void SetPixel(int, int, Colour) override {}
};

}  // namespace halvik::testing
