#include "imaging/CaduImages.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <nlohmann/json.hpp>
#include <system_error>

#include "capture/MsuMr.h"
#include "imaging/Pictures.h"
#include "imaging/ScanLines.h"
#include "orbit/PropagateListing.h"
#include "platform/Files.h"
#include "platform/Text.h"

namespace halvik {
namespace {

constexpr std::int64_t kMsPerDay = 86400000;
constexpr std::size_t kCadusPerRead = 64;

using File = UniqueFile;

// What the station wrote beside the capture about its pass.
struct PassRecord {
  std::optional<std::string> satellite;
  std::optional<std::int64_t> startMs;
  std::vector<std::string> elementLines;  // two or three lines
};

PassRecord ReadPassRecord(const std::filesystem::path& path) {
  PassRecord pass;
  File file = OpenRegularFile(path);
  if (!file) return pass;
  const nlohmann::json record = nlohmann::json::parse(file.get(), nullptr, false);
  if (!record.is_object()) return pass;
  if (record.contains("satellite") && record["satellite"].is_string())
    pass.satellite = record["satellite"].get<std::string>();
  if (record.contains("start_utc") && record["start_utc"].is_string()) {
    if (auto seconds = ParseIsoUtc(record["start_utc"].get<std::string>()))
      pass.startMs = static_cast<std::int64_t>(*seconds * 1000.0);
  }
  // The element set as an array of lines or as one text of lines.
  if (record.contains("element_set")) {
    const nlohmann::json& set = record["element_set"];
    if (set.is_array()) {
      for (const auto& line : set)
        if (line.is_string()) pass.elementLines.push_back(line.get<std::string>());
    } else if (set.is_string()) {
      for (std::string_view text = set.get_ref<const std::string&>(); !text.empty();) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        std::string line(text.substr(0, end));
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) pass.elementLines.push_back(line);
        text.remove_prefix(std::min(end + 1, text.size()));
      }
    }
  }
  return pass;
}

std::optional<bool> PassNorthbound(const PassRecord& pass, std::optional<std::int64_t> midMs) {
  const std::vector<std::string>& lines = pass.elementLines;
  if (lines.size() == 3) return NorthboundAt(lines[0], lines[1], lines[2], midMs);
  if (lines.size() == 2 && pass.satellite)
    return NorthboundAt(*pass.satellite, lines[0], lines[1], midMs);
  return std::nullopt;
}

// Feeds every whole CADU of the file to a fresh reader and hands each event on.
template <typename OnEvent>
MsuMrReader::Counts ReadCadus(std::FILE* file, OnEvent&& onEvent) {
  std::rewind(file);
  auto reader = std::make_unique<MsuMrReader>();
  std::vector<std::uint8_t> block(kCaduBytes * kCadusPerRead);
  for (;;) {
    const std::size_t got = std::fread(block.data(), kCaduBytes, kCadusPerRead, file);
    for (std::size_t k = 0; k < got; ++k) {
      const std::span<const std::uint8_t, kCaduBytes> cadu(block.data() + k * kCaduBytes,
                                                           kCaduBytes);
      const MsuMrEvent event = reader->Push(cadu);
      if (event != MsuMrEvent::None) onEvent(event, reader->Line());
    }
    if (got < kCadusPerRead) break;
  }
  return reader->counts();
}

std::string TimeOfDay(std::int64_t ms) {
  return IsoUtc(ms).substr(11);  // "HH:MM:SS.mmmZ"
}

}  // namespace

CaptureImagesResult MakeCaduImages(const std::filesystem::path& capture,
                                   const std::filesystem::path& outDir) {
  CaptureImagesResult result;
  std::error_code error;
  if (std::filesystem::is_directory(capture, error)) return Failed("a directory, not a capture");
  File file = OpenRegularFile(capture);
  if (!file) return Failed(std::string("cannot open the file: ") + std::strerror(errno));
  const auto bytes = std::filesystem::file_size(capture, error);
  if (error) return Failed("cannot read the file: " + error.message());
  const auto cadus = static_cast<std::int64_t>(bytes / kCaduBytes);
  if (cadus == 0) return Failed("holds no whole CADU of 1024 bytes");
  if (!std::filesystem::is_directory(outDir, error)) {
    return Failed("cannot write into " + outDir.string() + ": not a directory");
  }
  if (bytes % kCaduBytes != 0) {
    result.notes.push_back(Format("the last %d bytes are no whole CADU and are left out",
                                  static_cast<int>(bytes % kCaduBytes)));
  }

  std::string name = capture.filename().string();
  if (capture.extension() == ".cadu") name = capture.stem().string();
  const PassRecord pass = ReadPassRecord(capture.parent_path() / (name + ".pass.json"));
  const HrptLayout& layout = FactsOf(SatelliteFamily::Meteor).layout;

  // First reading: each line's place and each channel's histogram.
  std::vector<FrameStamp> stamps;
  std::vector<CountHistogram> histograms(static_cast<std::size_t>(kMsuMrChannels));
  std::array<std::int64_t, 256> serials{};
  std::optional<std::int64_t> referenceMs = pass.startMs;
  const MsuMrReader::Counts counts =
      ReadCadus(file.get(), [&](MsuMrEvent event, const MsuMrLine& line) {
        FrameStamp stamp;
        if (event == MsuMrEvent::Line) {
          stamp.sync = true;
          serials[static_cast<std::size_t>(line.serial)] += 1;
          for (int c = 0; c < kMsuMrChannels; ++c) {
            const std::uint16_t* sample = line.Channel(c);
            for (int p = 0; p < kMsuMrPixels; ++p)
              histograms[static_cast<std::size_t>(c)][sample[p] & 0x3FF] += 1;
          }
          if (line.msOfDay) {
            // The time of day on the day that puts it nearest the pass's start (without a
            // record, nearest the first line's, on 1970-01-01): a pass over midnight goes on.
            if (!referenceMs) referenceMs = *line.msOfDay;
            std::int64_t t = *referenceMs - *referenceMs % kMsPerDay + *line.msOfDay;
            if (t - *referenceMs > kMsPerDay / 2) t -= kMsPerDay;
            if (*referenceMs - t > kMsPerDay / 2) t += kMsPerDay;
            stamp.timeMs = t;
          }
        }
        stamps.push_back(stamp);
      });
  if (counts.lines == 0) return Failed("no MSU-MR line in the CADUs");
  const ScanLinePlan plan = PlanScanLines(stamps, layout.framesPerSecond);

  std::optional<std::int64_t> midMs;
  if (pass.startMs && plan.firstTimeMs && plan.lastTimeMs)
    midMs = (*plan.firstTimeMs + *plan.lastTimeMs) / 2;
  const std::optional<bool> northbound = PassNorthbound(pass, midMs);

  // Second reading: the pictures.
  std::vector<GreyTable> tables;
  for (int c = 0; c < kMsuMrChannels; ++c) {
    const bool thermal = (layout.thermalChannels >> c) & 1;
    tables.push_back(StretchTable(histograms[static_cast<std::size_t>(c)],
                                  thermal && kMsuMrThermalCountsRiseWithTemperature));
  }
  ChannelPictures pictures(kMsuMrPixels, plan.rows, kMsuMrChannels, northbound.value_or(false));
  std::size_t index = 0;
  ReadCadus(file.get(), [&](MsuMrEvent event, const MsuMrLine& line) {
    const std::size_t i = index++;
    if (event != MsuMrEvent::Line) return;  // a black line
    for (int c = 0; c < kMsuMrChannels; ++c)
      pictures.Draw(c, plan.rowOfFrame[i], line.Channel(c), 1, tables[static_cast<std::size_t>(c)]);
  });
  file.reset();
  if (!WritePictureSet(pictures, layout, outDir, name, result)) return result;

  // Times carry their date only when the pass record gave one.
  auto lineTime = [&](std::optional<std::int64_t> ms) {
    if (!ms) return nlohmann::json(nullptr);
    return nlohmann::json(pass.startMs ? IsoUtc(*ms) : TimeOfDay(*ms));
  };
  nlohmann::ordered_json record;
  record["capture"] = capture.filename().string();
  record["satellite"] = pass.satellite ? nlohmann::json(*pass.satellite) : nlohmann::json(nullptr);
  record["family"] = FactsOf(SatelliteFamily::Meteor).name;
  record["first_line_utc"] = lineTime(plan.firstTimeMs);
  record["last_line_utc"] = lineTime(plan.lastTimeMs);
  record["scan_lines"] = plan.rows;
  record["cadus"] = cadus;
  record["lines_decoded"] = counts.lines;
  record["lock_fraction"] = static_cast<double>(counts.lines) / plan.rows;
  record["black_lines"] = plan.rows - counts.lines;
  record["lines_cut"] = counts.linesCut;
  record["sync_losses"] = counts.gaps;
  record["cadus_lost"] = counts.cadusLost;
  nlohmann::ordered_json seen = nlohmann::ordered_json::array();
  for (std::size_t s = 0; s < serials.size(); ++s) {
    if (serials[s] > 0)
      seen.push_back(nlohmann::ordered_json{{"serial", s}, {"lines", serials[s]}});
  }
  record["msumr_serials"] = seen;
  record["northbound"] = northbound ? nlohmann::json(*northbound) : nlohmann::json(nullptr);
  record["composite_channels"] = {layout.composite[0] + 1, layout.composite[1] + 1,
                                  layout.composite[2] + 1};
  record["images"] = result.written;
  record["capture_bytes"] = bytes;
  if (!result.notes.empty()) record["notes"] = result.notes;
  WriteQualityRecord(record, outDir, name, result);
  return result;
}

}  // namespace halvik
