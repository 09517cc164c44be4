#include "imaging/PngWriter.h"

#include <png.h>

#include <csetjmp>
#include <vector>

namespace halvik {
namespace {

void AppendToString(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<std::string*>(png_get_io_ptr(png));
  out->append(reinterpret_cast<const char*>(data), length);
}

void NoFlush(png_structp) {}

// libpng reports fatal errors by longjmp; nothing here owns resources across that jump except
// the png structures, which are destroyed after it.
bool Encode(png_structp png, png_infop info, int width, int height, int samples,
            const PngRowSource& rows, std::string& out, std::vector<std::uint8_t>& scratch) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_write_fn(png, &out, AppendToString, NoFlush);
  png_set_compression_level(png, 1);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
               samples == 3 ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
  png_write_info(png, info);
  for (int row = 0; row < height; ++row) {
    const std::uint8_t* data = rows(row, scratch.data());
    png_write_row(png, data);
  }
  png_write_end(png, nullptr);
  return true;
}

}  // namespace

std::string EncodePng(int width, int height, int samples, const PngRowSource& rows) {
  if (width <= 0 || height <= 0 || (samples != 1 && samples != 3)) return {};
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (!png) return {};
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    return {};
  }
  std::string out;
  std::vector<std::uint8_t> scratch(static_cast<std::size_t>(width) * samples);
  bool ok = Encode(png, info, width, height, samples, rows, out, scratch);
  png_destroy_write_struct(&png, &info);
  if (!ok) out.clear();
  return out;
}

}  // namespace halvik
