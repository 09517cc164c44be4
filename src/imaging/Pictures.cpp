#include "imaging/Pictures.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <ctime>
#include <thread>

#include "imaging/PngWriter.h"
#include "orbit/ElementSet.h"
#include "orbit/Sgp4.h"
#include "platform/Files.h"
#include "platform/Text.h"

namespace halvik {
namespace {

constexpr double kStretchLow = 0.02;
constexpr double kStretchHigh = 0.98;
constexpr int kThumbnailWidth = 512;

// A product set that could not be finished leaves nothing behind.
void TakeBack(const std::filesystem::path& outDir, CaptureImagesResult& result,
              const std::string& failed) {
  std::error_code error;
  for (const std::string& fileName : result.written)
    std::filesystem::remove(outDir / fileName, error);
  result.written.clear();
  result.ok = false;
  result.error = "cannot write " + (outDir / failed).string();
}

// The composite at most kThumbnailWidth wide: each thumbnail pixel the mean of a square of
// picture pixels.
std::vector<std::uint8_t> Thumbnail(const std::array<const std::uint8_t*, 3>& planes, int width,
                                    int rows, int& thumbWidth, int& thumbRows) {
  const int factor = (width + kThumbnailWidth - 1) / kThumbnailWidth;
  thumbWidth = std::max(1, width / factor);
  thumbRows = std::max(1, rows / factor);
  std::vector<std::uint8_t> thumb(static_cast<std::size_t>(thumbWidth) * thumbRows * 3);
  for (int ty = 0; ty < thumbRows; ++ty) {
    const int y0 = ty * factor;
    const int y1 = std::min(rows, y0 + factor);
    for (int tx = 0; tx < thumbWidth; ++tx) {
      const int x0 = tx * factor;
      for (int k = 0; k < 3; ++k) {
        unsigned sum = 0;
        unsigned n = 0;
        for (int y = y0; y < y1; ++y) {
          const std::uint8_t* line = planes[k] + static_cast<std::size_t>(y) * width;
          for (int x = x0; x < x0 + factor; ++x, ++n) sum += line[x];
        }
        thumb[(static_cast<std::size_t>(ty) * thumbWidth + tx) * 3 + k] =
            static_cast<std::uint8_t>((sum + n / 2) / std::max(1u, n));
      }
    }
  }
  return thumb;
}

}  // namespace

CaptureImagesResult Failed(std::string error) {
  CaptureImagesResult result;
  result.error = std::move(error);
  return result;
}

GreyTable StretchTable(const CountHistogram& histogram, bool inverted) {
  std::uint64_t total = 0;
  for (std::uint32_t n : histogram) total += n;
  int low = 0;
  int high = kTenBitLevels - 1;
  if (total > 0) {
    const auto lowCount = static_cast<std::uint64_t>(kStretchLow * static_cast<double>(total));
    const auto highCount = static_cast<std::uint64_t>(kStretchHigh * static_cast<double>(total));
    std::uint64_t seen = 0;
    low = -1;
    for (int v = 0; v < kTenBitLevels; ++v) {
      seen += histogram[v];
      if (low < 0 && seen > lowCount) low = v;
      if (seen > highCount || v == kTenBitLevels - 1) {
        high = v;
        break;
      }
    }
  }
  if (high <= low) high = low + 1;
  GreyTable table{};
  for (int v = 0; v < kTenBitLevels; ++v) {
    const double grey = 255.0 * (v - low) / (high - low);
    const long level = std::clamp(std::lround(grey), 0L, 255L);
    table[v] = static_cast<std::uint8_t>(inverted ? 255 - level : level);
  }
  return table;
}

std::string IsoUtc(std::int64_t ms) {
  std::int64_t seconds = ms >= 0 ? ms / 1000 : (ms - 999) / 1000;
  std::time_t t = static_cast<std::time_t>(seconds);
  std::tm utc{};
  gmtime_r(&t, &utc);
  return Format("%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                static_cast<int>(ms - seconds * 1000));
}

nlohmann::json IsoOrNull(std::optional<std::int64_t> ms) {
  return ms ? nlohmann::json(IsoUtc(*ms)) : nlohmann::json(nullptr);
}

std::optional<ElementSet> ElementsOf(std::string_view name, std::string_view line1,
                                     std::string_view line2) {
  ParsedSatellite parsed = ParseElementSet(name, line1, line2);
  if (!parsed.ok()) return std::nullopt;
  return parsed.elements;
}

std::optional<bool> NorthboundAt(std::optional<ElementSet> elements,
                                 std::optional<std::int64_t> midMs) {
  if (!midMs || !elements) return std::nullopt;
  StateVector state;
  Propagate(static_cast<double>(*midMs) / 60000.0 - elements->epochMinutes, *elements, state);
  return state.velocity[2] > 0;
}

ChannelPictures::ChannelPictures(int width, int rows, int channels, bool turn)
    : width_(width),
      rows_(rows),
      turn_(turn),
      plane_(static_cast<std::size_t>(width) * static_cast<std::size_t>(rows)),
      pixels_(plane_ * static_cast<std::size_t>(channels), 0) {}

void ChannelPictures::Draw(int channel, int row, const std::uint16_t* samples, std::size_t step,
                           const GreyTable& table) {
  const auto width = static_cast<std::size_t>(width_);
  std::uint8_t* out = pixels_.data() + static_cast<std::size_t>(channel) * plane_;
  if (turn_) {
    std::uint8_t* line = out + static_cast<std::size_t>(rows_ - 1 - row) * width;
    for (std::size_t p = 0; p < width; ++p) line[width - 1 - p] = table[samples[p * step] & 0x3FF];
  } else {
    std::uint8_t* line = out + static_cast<std::size_t>(row) * width;
    for (std::size_t p = 0; p < width; ++p) line[p] = table[samples[p * step] & 0x3FF];
  }
}

bool WritePictureSet(const ChannelPictures& pictures, const HrptLayout& layout,
                     const std::filesystem::path& outDir, const std::string& name,
                     CaptureImagesResult& result) {
  const int width = pictures.width();
  const int rows = pictures.rows();
  auto fail = [&](const std::string& fileName) {
    TakeBack(outDir, result, fileName);
    return false;
  };
  const std::array<const std::uint8_t*, 3> planes = {pictures.Plane(layout.composite[0]),
                                                     pictures.Plane(layout.composite[1]),
                                                     pictures.Plane(layout.composite[2])};
  // The channels and the composite are deflated on two threads: deflate is most of the work.
  // Each picture is claimed through `next`; results land in their own slots.
  const int count = layout.channels + 1;
  std::vector<std::string> names;
  for (int c = 0; c < layout.channels; ++c)
    names.push_back(Format("%s.ch%d.png", name.c_str(), c + 1));
  names.push_back(name + ".rgb.png");
  std::vector<char> done(static_cast<std::size_t>(count), 0);
  std::atomic<int> next{0};
  auto encode = [&] {
    for (int k = next++; k < count; k = next++) {
      const std::filesystem::path path = outDir / names[static_cast<std::size_t>(k)];
      if (k < layout.channels) {
        const std::uint8_t* channel = pictures.Plane(k);
        done[static_cast<std::size_t>(k)] =
            WritePng(path, width, rows, 1, [&](int row, std::uint8_t*) {
              return channel + static_cast<std::size_t>(row) * width;
            });
      } else {
        done[static_cast<std::size_t>(k)] =
            WritePng(path, width, rows, 3, [&](int row, std::uint8_t* line) {
              const std::size_t at = static_cast<std::size_t>(row) * width;
              for (int x = 0; x < width; ++x) {
                for (int j = 0; j < 3; ++j) line[x * 3 + j] = planes[j][at + x];
              }
              return static_cast<const std::uint8_t*>(line);
            });
      }
    }
  };
  {
    std::thread helper(encode);
    encode();
    helper.join();
  }
  for (int k = 0; k < count; ++k) {
    if (done[static_cast<std::size_t>(k)])
      result.written.push_back(names[static_cast<std::size_t>(k)]);
  }
  for (int k = 0; k < count; ++k) {
    if (!done[static_cast<std::size_t>(k)]) return fail(names[static_cast<std::size_t>(k)]);
  }
  int thumbWidth = 0;
  int thumbRows = 0;
  const std::vector<std::uint8_t> thumb = Thumbnail(planes, width, rows, thumbWidth, thumbRows);
  if (!WritePng(outDir / (name + ".thumb.png"), thumbWidth, thumbRows, 3,
                [&](int row, std::uint8_t*) {
                  return thumb.data() + static_cast<std::size_t>(row) * thumbWidth * 3;
                })) {
    return fail(name + ".thumb.png");
  }
  result.written.push_back(name + ".thumb.png");
  return true;
}

void WriteQualityRecord(const nlohmann::ordered_json& record, const std::filesystem::path& outDir,
                        const std::string& name, CaptureImagesResult& result) {
  if (!WriteFileAtomically(outDir / (name + ".json"), record.dump(2) + "\n")) {
    TakeBack(outDir, result, name + ".json");
    return;
  }
  result.written.push_back(name + ".json");
  result.ok = true;
}

}  // namespace halvik
