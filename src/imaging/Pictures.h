#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "devices/Downlink.h"
#include "imaging/CaptureImages.h"
#include "orbit/SatelliteTable.h"

namespace halvik {

// What every imager's products share, whichever frames their scan lines come from.

inline constexpr int kTenBitLevels = 1024;
using CountHistogram = std::array<std::uint32_t, kTenBitLevels>;
using GreyTable = std::array<std::uint8_t, kTenBitLevels>;

// 10-bit count to grey: the 2nd percentile of the histogram to 0, the 98th to 255, linear
// between; `inverted`, the other way round, for a thermal channel whose counts rise with
// temperature (the HRPT families' fall: they need no flip, see CaptureImages.h).
GreyTable StretchTable(const CountHistogram& histogram, bool inverted = false);

// ms since 1970 as "2002-01-02T12:00:05.123Z"; nothing as null.
std::string IsoUtc(std::int64_t ms);
nlohmann::json IsoOrNull(std::optional<std::int64_t> ms);

// The element set of a capture's lines; nothing when they are not a valid one.
std::optional<ElementSet> ElementsOf(std::string_view name, std::string_view line1,
                                     std::string_view line2);

// Northbound when the satellite's inertial velocity points north at `midMs`; nothing without an
// element set or a time.
std::optional<bool> NorthboundAt(std::optional<ElementSet> elements,
                                 std::optional<std::int64_t> midMs);

// The grey pictures of every channel of a pass, one byte per pixel, channel after channel,
// black until drawn. Turned half a turn (the last scan line on top, each line mirrored) when
// `turn`, so that a northbound pass has north up.
class ChannelPictures {
 public:
  ChannelPictures(int width, int rows, int channels, bool turn);
  // Scan line `row` of `channel`: pixel p is samples[p * step].
  void Draw(int channel, int row, const std::uint16_t* samples, std::size_t step,
            const GreyTable& table);
  const std::uint8_t* Plane(int channel) const {
    return pixels_.data() + static_cast<std::size_t>(channel) * plane_;
  }
  int width() const { return width_; }
  int rows() const { return rows_; }

 private:
  int width_;
  int rows_;
  bool turn_;
  std::size_t plane_;
  std::vector<std::uint8_t> pixels_;
};

// A result that failed for `error`.
CaptureImagesResult Failed(std::string error);

// NAME.chK.png for every channel, NAME.rgb.png (the layout's composite) and NAME.thumb.png in
// `outDir`, each named in `result.written`. On a failure nothing of the set is left and
// `result` says why.
bool WritePictureSet(const ChannelPictures& pictures, const HrptLayout& layout,
                     const std::filesystem::path& outDir, const std::string& name,
                     CaptureImagesResult& result);

// NAME.json; `result.ok` when written.
void WriteQualityRecord(const nlohmann::ordered_json& record, const std::filesystem::path& outDir,
                        const std::string& name, CaptureImagesResult& result);

}  // namespace halvik
