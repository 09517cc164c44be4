#include "imaging/CaduImages.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <nlohmann/json.hpp>
#include <system_error>

#include "capture/Avhrr3.h"
#include "capture/MsuMr.h"
#include "devices/MetopFormat.h"
#include "imaging/PassMap.h"
#include "imaging/Pictures.h"
#include "imaging/ScanLines.h"
#include "orbit/PropagateListing.h"
#include "platform/Files.h"
#include "platform/JsonFields.h"
#include "platform/Text.h"
#include "platform/Units.h"

namespace halvik {
namespace {

constexpr std::size_t kCadusPerRead = 64;

using File = UniqueFile;

// What the station wrote beside the capture about its pass.
struct PassRecord {
  std::optional<std::string> satellite;
  std::optional<std::int64_t> startMs;
  std::vector<std::string> elementLines;  // two or three lines
  // The receiver's Reed-Solomon work in the pass (the file holds CADUs already corrected).
  std::optional<std::int64_t> rsCorrectedBytes, rsUncorrectableCodewords;
};

PassRecord ReadPassRecord(const std::filesystem::path& path) {
  PassRecord pass;
  File file = OpenRegularFile(path);
  if (!file) return pass;
  const nlohmann::json record = nlohmann::json::parse(file.get(), nullptr, false);
  if (!record.is_object()) return pass;
  pass.satellite = JsonField<std::string>(record, "satellite");
  if (const auto start = JsonField<std::string>(record, "start_utc")) {
    if (auto seconds = ParseIsoUtc(*start))
      pass.startMs = static_cast<std::int64_t>(*seconds * 1000.0);
  }
  pass.rsCorrectedBytes = JsonField<std::int64_t>(record, "rs_corrected_bytes");
  pass.rsUncorrectableCodewords = JsonField<std::int64_t>(record, "rs_uncorrectable_codewords");
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

std::optional<ElementSet> PassElements(const PassRecord& pass) {
  const std::vector<std::string>& lines = pass.elementLines;
  if (lines.size() == 3) return ElementsOf(lines[0], lines[1], lines[2]);
  if (lines.size() == 2 && pass.satellite) return ElementsOf(*pass.satellite, lines[0], lines[1]);
  return std::nullopt;
}

// Feeds every whole CADU of the file to a fresh reader and hands each event on.
template <typename Reader, typename OnEvent>
typename Reader::Counts ReadCadus(std::FILE* file, std::unique_ptr<Reader> reader,
                                  OnEvent&& onEvent) {
  std::rewind(file);
  std::vector<std::uint8_t> block(kCaduBytes * kCadusPerRead);
  for (;;) {
    const std::size_t got = std::fread(block.data(), kCaduBytes, kCadusPerRead, file);
    for (std::size_t k = 0; k < got; ++k) {
      const std::span<const std::uint8_t, kCaduBytes> cadu(block.data() + k * kCaduBytes,
                                                           kCaduBytes);
      const auto event = reader->Push(cadu);
      if (event != decltype(event)::None) onEvent(event, reader->Line());
    }
    if (got < kCadusPerRead) break;
  }
  return reader->counts();
}

std::string TimeOfDay(std::int64_t ms) {
  return IsoUtc(ms).substr(11);  // "HH:MM:SS.mmmZ"
}

// One scan line as the pictures need it: whole or lost (a black line), its time, and its
// samples channel after channel.
struct LineView {
  bool whole = false;
  std::optional<std::int64_t> timeMs;
  const std::uint16_t* samples = nullptr;
};

// What the pictures came to.
struct PicturePlan {
  ScanLinePlan plan;
  std::optional<bool> northbound;
  nlohmann::json map;  // the quality record's "map" entry
};

// The channel pictures of an imager's lines. `read(onLine)` reads the capture from its start and
// calls onLine(LineView) for every line, whole or lost, in order; it is called twice. Nothing,
// and `result` says why, when there is no whole line (`noLines`) or a picture is not written.
template <typename Read>
std::optional<PicturePlan> DrawPictures(Read&& read, const char* noLines, const FamilyFacts& facts,
                                        bool thermalCountsRise, const PassRecord& pass,
                                        const std::filesystem::path& outDir,
                                        const std::string& name, CaptureImagesResult& result) {
  const HrptLayout& layout = facts.layout;
  const auto channels = static_cast<std::size_t>(layout.channels);
  const auto pixels = static_cast<std::size_t>(layout.pixels);
  // First reading: each line's place and each channel's histogram.
  std::vector<FrameStamp> stamps;
  std::vector<CountHistogram> histograms(channels);
  read([&](const LineView& line) {
    FrameStamp stamp;
    if (line.whole) {
      stamp.sync = true;
      stamp.timeMs = line.timeMs;
      for (std::size_t c = 0; c < channels; ++c) {
        const std::uint16_t* sample = line.samples + c * pixels;
        for (std::size_t p = 0; p < pixels; ++p) histograms[c][sample[p] & 0x3FF] += 1;
      }
    }
    stamps.push_back(stamp);
  });
  if (std::none_of(stamps.begin(), stamps.end(), [](const FrameStamp& s) { return s.sync; })) {
    result = Failed(noLines);
    return std::nullopt;
  }
  PicturePlan out{PlanScanLines(stamps, layout.framesPerSecond), std::nullopt, nullptr};
  std::optional<std::int64_t> midMs;
  if (out.plan.firstTimeMs && out.plan.lastTimeMs)
    midMs = (*out.plan.firstTimeMs + *out.plan.lastTimeMs) / 2;
  const std::optional<ElementSet> elements = PassElements(pass);
  out.northbound = NorthboundAt(elements, midMs);

  // Second reading: the pictures.
  std::vector<GreyTable> tables;
  for (std::size_t c = 0; c < channels; ++c) {
    const bool thermal = (layout.thermalChannels >> c) & 1;
    tables.push_back(StretchTable(histograms[c], thermal && thermalCountsRise));
  }
  ChannelPictures pictures(layout.pixels, out.plan.rows, layout.channels,
                           out.northbound.value_or(false));
  std::size_t index = 0;
  read([&](const LineView& line) {
    const std::size_t i = index++;
    if (!line.whole) return;  // a black line
    for (std::size_t c = 0; c < channels; ++c) {
      pictures.Draw(static_cast<int>(c), out.plan.rowOfFrame[i], line.samples + c * pixels, 1,
                    tables[c]);
    }
  });
  if (!WritePictureSet(pictures, layout, outDir, name, result)) return std::nullopt;
  out.map = AddPassMap(pictures, layout, facts.family, out.northbound.value_or(false), elements,
                       FirstLineMs(out.plan, stamps, layout.framesPerSecond), outDir, name, result);
  return out;
}

// The catalogue number in an element set's first line (columns 3-7), or 0.
int CatalogueNumber(const PassRecord& pass) {
  for (const std::string& line : pass.elementLines) {
    if (line.size() < 7 || line[0] != '1' || line[1] != ' ') continue;
    int number = 0;
    for (std::size_t i = 2; i < 7; ++i) {
      if (line[i] == ' ') continue;
      if (!std::isdigit(static_cast<unsigned char>(line[i]))) return 0;
      number = number * 10 + (line[i] - '0');
    }
    return number;
  }
  return 0;
}

// The family of a capture: given, or by the file code before ".cadu" ("NAME.mtp.cadu"), or by
// the satellite of its pass record; Meteor's when nothing says.
SatelliteFamily CaptureFamily(const std::filesystem::path& capture,
                              std::optional<SatelliteFamily> family, const PassRecord& pass) {
  if (family) return *family;
  const std::string code = std::filesystem::path(capture.stem()).extension().string();
  for (const FamilyFacts& facts : kFamilies) {
    if (facts.frameKind == FrameKind::Cadu && code == std::string(".") + facts.fileCode)
      return facts.family;
  }
  if (pass.satellite) {
    if (auto downlink = DownlinkFor(*pass.satellite, CatalogueNumber(pass)))
      return downlink->family;
  }
  return SatelliteFamily::Meteor;
}

}  // namespace

CaptureImagesResult MakeCaduImages(const std::filesystem::path& capture,
                                   const std::filesystem::path& outDir,
                                   std::optional<SatelliteFamily> family) {
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
  const SatelliteFamily captureFamily = CaptureFamily(capture, family, pass);
  const FamilyFacts& facts = FactsOf(captureFamily);
  const HrptLayout& layout = facts.layout;

  // The family's own fields, after the ones every CADU capture's record has.
  nlohmann::ordered_json extra = nlohmann::ordered_json::object();
  struct {
    std::int64_t decoded, cut, gaps, cadusLost;
  } lines{};
  bool datedTimes = true;
  std::optional<PicturePlan> pictures;
  if (facts.imager == Imager::Avhrr3Packets) {
    // The capture's CADUs were corrected on the way in: the check finds those that could not be.
    Avhrr3Reader::Counts counts;
    auto read = [&](auto&& onLine) {
      counts =
          ReadCadus(file.get(), std::make_unique<Avhrr3Reader>(true),
                    [&](Avhrr3Event event, const Avhrr3Line& line) {
                      onLine(LineView{event == Avhrr3Event::Line, line.utcMs, line.samples.data()});
                    });
    };
    pictures = DrawPictures(read, "no AVHRR/3 line in the CADUs", facts,
                            kAvhrrThermalCountsRiseWithTemperature, pass, outDir, name, result);
    if (!pictures) return result;
    lines = {counts.lines, counts.linesCut, counts.gaps, counts.cadusLost};
    extra["lines_3a"] = counts.lines3A;
    extra["lines_3b"] = counts.lines - counts.lines3A;
    // What the receiver corrected, when its record says; else what the file's check finds.
    extra["rs_corrected_bytes"] = pass.rsCorrectedBytes.value_or(counts.rsCorrectedBytes);
    extra["rs_uncorrectable_codewords"] =
        pass.rsUncorrectableCodewords.value_or(counts.rsFailedCodewords);
    extra["cadus_uncorrectable"] = counts.uncorrectable;
    extra["other_vcdus"] = counts.otherVcdus;
    nlohmann::ordered_json packets = nlohmann::ordered_json::object();
    for (std::size_t apid = 0; apid < counts.packetsPerApid.size(); ++apid) {
      if (counts.packetsPerApid[apid] > 0)
        packets[std::to_string(apid)] = counts.packetsPerApid[apid];
    }
    extra["packets_per_apid"] = packets;
    extra["packets_broken"] = counts.packetsBroken;
    // The recognition check: the spacecraft the VCDUs name against the pass record's satellite.
    nlohmann::ordered_json seen = nlohmann::ordered_json::array();
    std::vector<int> ids;
    for (std::size_t id = 0; id < counts.vcdusPerSpacecraft.size(); ++id) {
      if (counts.vcdusPerSpacecraft[id] == 0) continue;
      ids.push_back(static_cast<int>(id));
      seen.push_back(
          nlohmann::ordered_json{{"spacecraft_id", id}, {"vcdus", counts.vcdusPerSpacecraft[id]}});
    }
    extra["spacecraft_ids"] = seen;
    std::optional<int> expected;
    if (pass.satellite) {
      if (auto downlink = DownlinkFor(*pass.satellite, CatalogueNumber(pass)))
        expected = MetopSpacecraftId(downlink->catalogueNumber);
    }
    extra["expected_spacecraft_id"] =
        expected ? nlohmann::json(*expected) : nlohmann::json(nullptr);
    const bool mismatch = expected && !ids.empty() && (ids.size() > 1 || ids.front() != *expected);
    extra["spacecraft_mismatch"] = mismatch;
    if (mismatch) {
      std::string named;
      for (int id : ids) named += (named.empty() ? "" : ", ") + std::to_string(id);
      result.notes.push_back(Format("the VCDUs name spacecraft %s, not %d of %s", named.c_str(),
                                    *expected, pass.satellite->c_str()));
    }
  } else {
    std::array<std::int64_t, 256> serials{};
    std::optional<std::int64_t> referenceMs = pass.startMs;
    MsuMrReader::Counts counts;
    int readings = 0;
    auto read = [&](auto&& onLine) {
      const bool first = readings++ == 0;
      counts =
          ReadCadus(file.get(), std::make_unique<MsuMrReader>(),
                    [&](MsuMrEvent event, const MsuMrLine& line) {
                      LineView view{event == MsuMrEvent::Line, std::nullopt, line.samples.data()};
                      if (view.whole && first) serials[static_cast<std::size_t>(line.serial)] += 1;
                      if (view.whole && line.msOfDay) {
                        // The time of day on the day that puts it nearest the pass's start (without
                        // a record, nearest the first line's, on 1970-01-01): a pass over midnight
                        // goes on.
                        if (!referenceMs) referenceMs = *line.msOfDay;
                        std::int64_t t = *referenceMs - *referenceMs % kMsPerDay + *line.msOfDay;
                        if (t - *referenceMs > kMsPerDay / 2) t -= kMsPerDay;
                        if (*referenceMs - t > kMsPerDay / 2) t += kMsPerDay;
                        view.timeMs = t;
                      }
                      onLine(view);
                    });
    };
    // Without a date from the record, the lines' times are no date to turn the picture by.
    PassRecord turnBy = pass;
    if (!pass.startMs) turnBy.elementLines.clear();
    pictures = DrawPictures(read, "no MSU-MR line in the CADUs", facts,
                            kMsuMrThermalCountsRiseWithTemperature, turnBy, outDir, name, result);
    if (!pictures) return result;
    // Times carry their date only when the pass record gave one.
    datedTimes = pass.startMs.has_value();
    lines = {counts.lines, counts.linesCut, counts.gaps, counts.cadusLost};
    nlohmann::ordered_json seen = nlohmann::ordered_json::array();
    for (std::size_t s = 0; s < serials.size(); ++s) {
      if (serials[s] > 0)
        seen.push_back(nlohmann::ordered_json{{"serial", s}, {"lines", serials[s]}});
    }
    extra["msumr_serials"] = seen;
  }
  file.reset();
  const ScanLinePlan& plan = pictures->plan;
  auto lineTime = [&](std::optional<std::int64_t> ms) {
    if (!ms) return nlohmann::json(nullptr);
    return nlohmann::json(datedTimes ? IsoUtc(*ms) : TimeOfDay(*ms));
  };
  nlohmann::ordered_json record;
  record["capture"] = capture.filename().string();
  record["satellite"] = pass.satellite ? nlohmann::json(*pass.satellite) : nlohmann::json(nullptr);
  record["family"] = facts.name;
  record["first_line_utc"] = lineTime(plan.firstTimeMs);
  record["last_line_utc"] = lineTime(plan.lastTimeMs);
  record["scan_lines"] = plan.rows;
  record["cadus"] = cadus;
  record["lines_decoded"] = lines.decoded;
  record["lock_fraction"] = static_cast<double>(lines.decoded) / plan.rows;
  record["black_lines"] = plan.rows - lines.decoded;
  record["lines_cut"] = lines.cut;
  record["sync_losses"] = lines.gaps;
  record["cadus_lost"] = lines.cadusLost;
  for (const auto& [key, value] : extra.items()) record[key] = value;
  const std::optional<bool> northbound = pictures->northbound;
  record["northbound"] = northbound ? nlohmann::json(*northbound) : nlohmann::json(nullptr);
  record["composite_channels"] = {layout.composite[0] + 1, layout.composite[1] + 1,
                                  layout.composite[2] + 1};
  record["map"] = pictures->map;
  record["images"] = result.written;
  record["capture_bytes"] = bytes;
  if (!result.notes.empty()) record["notes"] = result.notes;
  WriteQualityRecord(record, outDir, name, result);
  return result;
}

}  // namespace halvik
