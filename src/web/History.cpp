#include "web/History.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <system_error>

#include "orbit/PropagateListing.h"
#include "orbit/Tracks.h"
#include "platform/JsonFields.h"
#include "platform/Text.h"
#include "web/CaptureNames.h"
#include "web/StationJson.h"
#include "web/Svg.h"

namespace halvik::web {
namespace {

using nlohmann::json;

constexpr double kElementReachDays = 30.0;
constexpr int kElevationStepSeconds = 5;
constexpr std::int64_t kLongestPassSeconds = 3600;  // a longer record is not one pass

// Chart geometry: three charts a row, each 220 x 70 with its axis labels.
constexpr double kChartWidth = 200.0;
constexpr double kChartHeight = 56.0;
constexpr double kRowHeight = 96.0;
constexpr double kLeft = 110.0;
constexpr double kChartGap = 240.0;
// The bit error rate's scale: 1e-7 at the bottom to 1e-1 at the top.
constexpr double kLogLow = -7.0;
constexpr double kLogHigh = -1.0;

std::optional<std::int64_t> Time(const json& record, const char* key) {
  const std::optional<std::string> text = JsonField<std::string>(record, key);
  if (!text) return std::nullopt;
  const std::optional<double> seconds = ParseIsoUtc(*text);
  if (!seconds) return std::nullopt;
  return static_cast<std::int64_t>(*seconds);
}

// Chart y of a value within [low, high], clamped to the chart.
double ChartY(double top, double value, double low, double high) {
  const double share = std::clamp((value - low) / (high - low), 0.0, 1.0);
  return top + kChartHeight * (1.0 - share);
}

}  // namespace

std::vector<RecordFile> ListRecordFiles(const std::filesystem::path& dir) {
  std::vector<RecordFile> files;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(dir, error)) {
    const std::string name = entry.path().filename().string();
    if (!IsCaptureFileName(name)) continue;
    const std::optional<std::filesystem::path> record = ServablePath(dir, name + ".json");
    struct stat info {};
    if (!record || ::stat(record->c_str(), &info) != 0) continue;
    files.push_back(
        {name, static_cast<std::int64_t>(info.st_mtime), static_cast<std::int64_t>(info.st_size)});
  }
  std::sort(files.begin(), files.end(), [](const RecordFile& a, const RecordFile& b) {
    return a.modified != b.modified ? a.modified > b.modified : a.capture > b.capture;
  });
  if (files.size() > kHistoryCapturesRead) files.resize(kHistoryCapturesRead);
  return files;
}

std::string RecordFilesKey(const std::vector<RecordFile>& files) {
  std::string key;
  for (const RecordFile& f : files)
    key += Format("%s %lld %lld\n", f.capture.c_str(), static_cast<long long>(f.modified),
                  static_cast<long long>(f.bytes));
  return key;
}

std::vector<PassQuality> ReadPassQualities(const std::filesystem::path& dir,
                                           const std::vector<RecordFile>& files) {
  std::map<std::string, std::vector<PassQuality>> bySatellite;
  for (const RecordFile& file : files) {
    const json record = QualityRecord(dir, file.capture + ".json");
    if (!record.is_object() || record.contains("error")) continue;
    std::optional<std::string> satellite = JsonField<std::string>(record, "satellite");
    if (!satellite) continue;
    PassQuality pass;
    pass.capture = file.capture;
    pass.satellite = std::move(*satellite);
    pass.firstFrame = Time(record, "first_frame_utc").value_or(file.modified);
    pass.lastFrame = Time(record, "last_frame_utc").value_or(0);
    pass.lockFraction = JsonField<double>(record, "lock_fraction");
    pass.bitErrorRate = JsonField<double>(record, "bit_error_rate");
    const std::optional<double> written = JsonField<double>(record, "frames_written");
    const std::optional<double> withSync = JsonField<double>(record, "frames_with_sync");
    if (written && withSync && *written > 0)
      pass.frameErrorRate = std::clamp(1.0 - *withSync / *written, 0.0, 1.0);
    bySatellite[pass.satellite].push_back(std::move(pass));
  }
  std::vector<PassQuality> out;
  for (auto& [name, passes] : bySatellite) {
    std::sort(passes.begin(), passes.end(), [](const PassQuality& a, const PassQuality& b) {
      return a.firstFrame != b.firstFrame ? a.firstFrame < b.firstFrame : a.capture < b.capture;
    });
    const std::size_t skip =
        passes.size() > kHistoryPassesPerSatellite ? passes.size() - kHistoryPassesPerSatellite : 0;
    out.insert(out.end(), std::make_move_iterator(passes.begin() + static_cast<long>(skip)),
               std::make_move_iterator(passes.end()));
  }
  return out;
}

void AddMaxElevations(std::vector<PassQuality>& passes, const SatelliteTable& table,
                      const StationConfig& station) {
  for (PassQuality& pass : passes) {
    if (pass.lastFrame <= pass.firstFrame || pass.lastFrame - pass.firstFrame > kLongestPassSeconds)
      continue;
    for (const SatelliteRecord& slot : table) {
      if (!slot.IsActive() || !EqualsIgnoreCase(slot.name.Get(), pass.satellite)) continue;
      const ElementSet elements = slot.Elements();
      const double ageDays =
          ElementAgeDays(static_cast<double>(pass.firstFrame), elements.epochMinutes);
      if (!(std::fabs(ageDays) <= kElementReachDays)) break;
      double highest = -90.0;
      for (const SkyPoint& p :
           SampleSky(elements, station, pass.firstFrame, pass.lastFrame, kElevationStepSeconds))
        highest = std::max(highest, p.elevationDeg);
      pass.maxElevationDeg = highest;
      break;
    }
  }
}

std::string HistorySvg(const std::vector<PassQuality>& passes) {
  std::vector<std::pair<std::size_t, std::size_t>> rows;  // [first, end) of each satellite
  for (std::size_t i = 0; i < passes.size(); ++i) {
    if (i == 0 || passes[i].satellite != passes[i - 1].satellite) rows.push_back({i, i});
    rows.back().second = i + 1;
  }
  const double height =
      24.0 + kRowHeight * static_cast<double>(std::max<std::size_t>(rows.size(), 1));
  std::string svg = Format(
      "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 820 %s\" font-family=\"sans-serif\" "
      "font-size=\"10\">\n<rect width=\"820\" height=\"%s\" fill=\"#fff\"/>\n",
      Coord(height).c_str(), Coord(height).c_str());
  const char* titles[] = {"lock fraction (0 to 1)",
                          "bit error rate (o, 1e-7 to 0.1) / frames lost (x)",
                          "maximum elevation (0 to 90\u00b0)"};
  for (int c = 0; c < 3; ++c)
    svg += Format("<text x=\"%s\" y=\"14\" fill=\"#374151\">%s</text>\n",
                  Coord(kLeft + c * kChartGap).c_str(), titles[c]);
  if (rows.empty())
    svg += "<text x=\"10\" y=\"50\" fill=\"#6b7280\">no quality records of captures yet</text>\n";
  for (std::size_t r = 0; r < rows.size(); ++r) {
    const double top = 24.0 + kRowHeight * static_cast<double>(r) + 10.0;
    const auto [first, end] = rows[r];
    svg += Format("<g class=\"satellite\" data-name=\"%s\" data-passes=\"%zu\">",
                  XmlEscape(passes[first].satellite).c_str(), end - first);
    svg += Format("<text x=\"4\" y=\"%s\" font-weight=\"bold\">%s</text>", Coord(top + 30).c_str(),
                  XmlEscape(passes[first].satellite).c_str());
    svg += Format("<text x=\"4\" y=\"%s\" fill=\"#6b7280\">%zu passes</text>",
                  Coord(top + 44).c_str(), end - first);
    for (int c = 0; c < 3; ++c)
      svg += Format(
          "<rect x=\"%s\" y=\"%s\" width=\"%s\" height=\"%s\" fill=\"#f8fafc\" "
          "stroke=\"#d1d5db\"/>",
          Coord(kLeft + c * kChartGap).c_str(), Coord(top).c_str(), Coord(kChartWidth).c_str(),
          Coord(kChartHeight).c_str());
    const double step = kChartWidth / static_cast<double>(kHistoryPassesPerSatellite);
    for (std::size_t i = first; i < end; ++i) {
      const PassQuality& p = passes[i];
      // The newest pass at the right end of each chart.
      const double slotX = kChartWidth - step * static_cast<double>(end - i);
      if (p.lockFraction) {
        const double y = ChartY(top, *p.lockFraction, 0.0, 1.0);
        svg += Format(
            "<rect class=\"lock\" x=\"%s\" y=\"%s\" width=\"%s\" height=\"%s\" "
            "fill=\"#16a34a\"><title>%s lock %.3f</title></rect>",
            Coord(kLeft + slotX + 1).c_str(), Coord(y).c_str(), Coord(step - 2).c_str(),
            Coord(top + kChartHeight - y).c_str(), XmlEscape(p.capture).c_str(), *p.lockFraction);
      }
      const double cx = kLeft + kChartGap + slotX + step / 2;
      if (p.bitErrorRate) {
        const double y =
            ChartY(top, std::log10(std::max(*p.bitErrorRate, 1e-9)), kLogLow, kLogHigh);
        svg += Format(
            "<circle class=\"ber\" cx=\"%s\" cy=\"%s\" r=\"2.5\" fill=\"none\" "
            "stroke=\"#dc2626\"><title>%s BER %.2e</title></circle>",
            Coord(cx).c_str(), Coord(y).c_str(), XmlEscape(p.capture).c_str(), *p.bitErrorRate);
      } else if (p.frameErrorRate) {
        const double y =
            ChartY(top, std::log10(std::max(*p.frameErrorRate, 1e-9)), kLogLow, kLogHigh);
        svg += Format(
            "<path class=\"fer\" d=\"M%s %sl5 5m0 -5l-5 5\" stroke=\"#dc2626\">"
            "<title>%s frames lost %.2e</title></path>",
            Coord(cx - 2.5).c_str(), Coord(y - 2.5).c_str(), XmlEscape(p.capture).c_str(),
            *p.frameErrorRate);
      }
      if (p.maxElevationDeg) {
        const double y = ChartY(top, *p.maxElevationDeg, 0.0, 90.0);
        svg += Format(
            "<circle class=\"elevation\" cx=\"%s\" cy=\"%s\" r=\"2.5\" "
            "fill=\"#2563eb\"><title>%s max %.1f\u00b0</title></circle>",
            Coord(kLeft + 2 * kChartGap + slotX + step / 2).c_str(), Coord(y).c_str(),
            XmlEscape(p.capture).c_str(), *p.maxElevationDeg);
      }
    }
    svg += "</g>\n";
  }
  return svg + "</svg>\n";
}

}  // namespace halvik::web
