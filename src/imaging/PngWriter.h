#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace halvik {

// Hands out row `row` of an image: `width` x `samples` bytes. It may fill `scratch` (that many
// bytes) and return it, or return a pointer to a row it already holds.
using PngRowSource = std::function<const std::uint8_t*(int row, std::uint8_t* scratch)>;

// An 8-bit PNG (1 sample: greyscale, 3: RGB) encoded in memory, row by row, so no second copy
// of the picture is needed. Fast deflate (level 1) with the Sub filter: the pictures are large
// and written once per pass. Empty on failure.
std::string EncodePng(int width, int height, int samples, const PngRowSource& rows);

}  // namespace halvik
