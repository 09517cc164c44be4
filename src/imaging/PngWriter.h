#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>

namespace halvik {

// Hands out row `row` of an image: `width` x `samples` bytes. It may fill `scratch` (that many
// bytes) and return it, or return a pointer to a row it already holds.
using PngRowSource = std::function<const std::uint8_t*(int row, std::uint8_t* scratch)>;

// Writes an 8-bit PNG (1 sample: greyscale, 3: RGB) row by row straight to a temporary file
// beside `path` ("NAME.new") and renames it to `path`, so no copy of the picture is held and no
// half-written picture is ever found under its name. Sub filter with Huffman-only deflate: the
// pictures are large and written once per pass, and a radiometer's noise leaves few runs or
// repeats to find (on a 15-minute NOAA capture run-length matching made the files no smaller
// and took longer). False, with nothing left behind, on any failure.
bool WritePng(const std::filesystem::path& path, int width, int height, int samples,
              const PngRowSource& rows);

}  // namespace halvik
