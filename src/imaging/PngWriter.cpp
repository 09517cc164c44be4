#include "imaging/PngWriter.h"

#include <png.h>

#include <zlib.h>
#include <csetjmp>
#include <cstdio>
#include <vector>

namespace halvik {
namespace {

// libpng reports fatal errors by longjmp; nothing here owns resources across that jump except
// the png structures and the file, which are released after it.
bool Encode(png_structp png, png_infop info, std::FILE* file, int width, int height, int samples,
            const PngRowSource& rows, std::vector<std::uint8_t>& scratch) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_init_io(png, file);
  png_set_compression_level(png, 1);
  png_set_compression_strategy(png, Z_HUFFMAN_ONLY);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
               samples == 3 ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
  png_write_info(png, info);
  for (int row = 0; row < height; ++row) {
    png_write_row(png, rows(row, scratch.data()));
  }
  png_write_end(png, nullptr);
  return true;
}

}  // namespace

bool WritePng(const std::filesystem::path& path, int width, int height, int samples,
              const PngRowSource& rows) {
  if (width <= 0 || height <= 0 || (samples != 1 && samples != 3)) return false;
  std::filesystem::path temporary = path;
  temporary += ".new";
  std::FILE* file = std::fopen(temporary.c_str(), "wb");
  if (!file) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  std::vector<std::uint8_t> scratch(static_cast<std::size_t>(width) * samples);
  bool ok = info && Encode(png, info, file, width, height, samples, rows, scratch);
  if (png) png_destroy_write_struct(&png, info ? &info : nullptr);
  ok = std::fclose(file) == 0 && ok;
  ok = ok && std::rename(temporary.c_str(), path.c_str()) == 0;
  if (!ok) std::remove(temporary.c_str());
  return ok;
}

}  // namespace halvik
