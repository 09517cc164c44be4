#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "devices/FrameSource.h"

namespace halvik {

// Hands the capture thread the next piece of a whole `frame` of which `left` words are still to
// go: copies at most one block into `block`, lowers `left`, and returns the words copied.
inline std::size_t HandOverPiece(std::span<const std::uint16_t> frame, std::size_t& left,
                                 std::span<std::uint16_t, kSyncBlockWords> block) {
  const std::size_t from = frame.size() - left;
  const std::size_t words = std::min(left, block.size());
  std::copy_n(frame.begin() + static_cast<std::ptrdiff_t>(from), words, block.begin());
  left -= words;
  return words;
}

}  // namespace halvik
