#include "RecordingCanvas.h"

#include <gtest/gtest.h>

namespace halvik {

const RecordingCanvas::Call& RecordingCanvas::TextAt(int x, int y) const {
  std::vector<const Call*> found = TextsAt(x, y);
  EXPECT_EQ(found.size(), 1u) << "texts drawn at (" << x << ", " << y << ")";
  static const Call kNone;
  return found.empty() ? kNone : *found.front();
}

}  // namespace halvik
