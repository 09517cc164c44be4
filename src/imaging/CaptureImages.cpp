#include "imaging/CaptureImages.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <nlohmann/json.hpp>
#include <ostream>
#include <system_error>
#include <thread>

#include "capture/BitFrame.h"
#include "capture/CaptureFile.h"
#include "capture/CaptureFileReader.h"
#include "config/StationFileNames.h"
#include "imaging/CaduImages.h"
#include "imaging/PassMap.h"
#include "imaging/Pictures.h"
#include "imaging/ScanLines.h"
#include "orbit/ElementSet.h"
#include "orbit/Sgp4.h"
#include "platform/Files.h"
#include "platform/Text.h"

namespace halvik {
namespace {

// Frames read from the file at a time.
constexpr std::size_t kFramesPerRead = 32;

using File = UniqueFile;

std::string TrimRight(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

// The satellite and its family: from the header's name line, else from the file's code; the
// block length overrules both, since only FengYun frames are 22180 words long.
void Identify(const CaptureFileContents& contents, const std::string& fileName,
              std::optional<std::string>& satellite, SatelliteFamily& family) {
  if (contents.header.found) satellite = TrimRight(contents.header.nameLine);
  std::size_t dot = fileName.rfind('.');
  std::string code = dot == std::string::npos ? "" : fileName.substr(dot + 1);
  family = satellite ? FamilyForSatellite(*satellite) : FamilyForFileCode(code);
  if (contents.blockWords == FamilyFrameLength(SatelliteFamily::FengYun)) {
    family = SatelliteFamily::FengYun;
  }
}

// The station's pseudo-noise table beside the capture, as the capture engine reads it.
std::optional<std::array<std::uint16_t, kPnTableWords>> LoadPnTable(
    const std::filesystem::path& dir) {
  File file(std::fopen((dir / kPseudoNoiseFile).c_str(), "rb"));
  if (!file) return std::nullopt;
  std::uint8_t bytes[kPnTableWords * 2] = {};
  std::size_t got = std::fread(bytes, 1, sizeof bytes, file.get());
  std::array<std::uint16_t, kPnTableWords> table{};
  for (std::size_t i = 0; i + 1 < got; i += 2) {
    table[i / 2] = static_cast<std::uint16_t>(bytes[i] | (bytes[i + 1] << 8));
  }
  return table;
}

// Reads the capture's blocks in file order, whole frames at a time. The words are stored
// little-endian, as this machine holds them: they are read straight into place.
class BlockReader {
 public:
  BlockReader(std::FILE* file, std::int32_t blockWords)
      : file_(file), words_(static_cast<std::size_t>(blockWords)), block_(words_ * kFramesPerRead) {
    std::rewind(file_);
  }
  // The next block, or nullptr at the end of the file.
  const std::uint16_t* Next() {
    if (index_ == count_) {
      std::size_t got = std::fread(block_.data(), words_ * 2, kFramesPerRead, file_);
      if (got == 0) return nullptr;
      if constexpr (std::endian::native != std::endian::little) {
        for (std::size_t i = 0; i < got * words_; ++i) {
          block_[i] = static_cast<std::uint16_t>((block_[i] >> 8) | (block_[i] << 8));
        }
      }
      count_ = got;
      index_ = 0;
    }
    return block_.data() + words_ * index_++;
  }

 private:
  std::FILE* file_;
  std::size_t words_;
  std::vector<std::uint16_t> block_;
  std::size_t count_ = 0;
  std::size_t index_ = 0;
};

struct SyncLoss {
  std::int64_t lostMs = 0;
  std::optional<std::int64_t> regainedMs;
};

// Everything the first pass over the frames learns.
struct Survey {
  std::vector<FrameStamp> stamps;
  std::vector<CountHistogram> histograms;  // per channel
  std::vector<SyncLoss> syncLosses;
  std::int64_t framesWithSync = 0;
  std::int64_t bitErrors = 0;
  std::int64_t bitsCompared = 0;
};

Survey SurveyFrames(std::FILE* file, std::int32_t blockWords, const HrptLayout& layout,
                    const std::optional<std::array<std::uint16_t, kPnTableWords>>& pnTable) {
  Survey survey;
  survey.histograms.assign(static_cast<std::size_t>(layout.channels), {});
  BlockReader reader(file, blockWords);
  reader.Next();  // the header block
  std::int64_t markerSeconds = 0;
  while (const std::uint16_t* block = reader.Next()) {
    if (block[0] & kBlockFlag) {
      markerSeconds = MarkerSeconds(block);
      const auto kind = static_cast<MarkerKind>(MarkerKindWord(block));
      if (kind == MarkerKind::SyncLost) {
        survey.syncLosses.push_back({markerSeconds * 1000, std::nullopt});
      } else if (kind == MarkerKind::SyncAcquired && !survey.syncLosses.empty() &&
                 !survey.syncLosses.back().regainedMs) {
        survey.syncLosses.back().regainedMs = markerSeconds * 1000;
      }
      continue;
    }
    FrameStamp stamp;
    stamp.sync = HasFrameSync(block);
    // The engine counts bit errors in every frame it writes.
    if (pnTable) {
      survey.bitErrors += CountBitErrors(block, blockWords, *pnTable);
      survey.bitsCompared += kPnTableWords * 10;
    }
    if (stamp.sync) {
      survey.framesWithSync += 1;
      stamp.timeMs = FrameTimeMs(block, layout, markerSeconds);
      const std::uint16_t* sample = block + layout.earthFirstWord;
      for (int p = 0; p < layout.pixels; ++p) {
        for (auto& histogram : survey.histograms) histogram[*sample++ & 0x3FF] += 1;
      }
    }
    survey.stamps.push_back(stamp);
  }
  return survey;
}

// The channel pictures of the frames, north up.
void DrawChannels(std::FILE* file, std::int32_t blockWords, const HrptLayout& layout,
                  const ScanLinePlan& plan, const std::vector<FrameStamp>& stamps,
                  const std::vector<GreyTable>& tables, ChannelPictures& pictures) {
  BlockReader reader(file, blockWords);
  reader.Next();
  std::size_t frame = 0;
  while (const std::uint16_t* block = reader.Next()) {
    if (block[0] & kBlockFlag) continue;
    const std::size_t i = frame++;
    if (!stamps[i].sync) continue;  // a black line
    const std::uint16_t* sample = block + layout.earthFirstWord;
    for (int c = 0; c < layout.channels; ++c) {
      pictures.Draw(c, plan.rowOfFrame[i], sample + c, static_cast<std::size_t>(layout.channels),
                    tables[static_cast<std::size_t>(c)]);
    }
  }
}

}  // namespace

CaptureImagesResult MakeCaptureImages(const std::filesystem::path& capture,
                                      const std::filesystem::path& outDir) {
  CaptureImagesResult result;
  std::error_code error;
  if (std::filesystem::is_directory(capture, error)) return Failed("a directory, not a capture");
  CaptureReadResult read = ReadCaptureFile(capture);
  if (!read.opened) return Failed(std::string("cannot open the file: ") + std::strerror(errno));
  if (!read.ok) return Failed("not a whole capture: " + read.error);
  const CaptureFileContents& contents = read.contents;
  if (contents.totalFrames == 0) return Failed("the capture holds no frames");
  if (!std::filesystem::is_directory(outDir, error)) {
    return Failed("cannot write into " + outDir.string() + ": not a directory");
  }

  const std::string name = capture.filename().string();
  std::optional<std::string> satellite;
  SatelliteFamily family = SatelliteFamily::Noaa;
  Identify(contents, name, satellite, family);
  const HrptLayout& layout = FactsOf(family).layout;

  File file(std::fopen(capture.c_str(), "rb"));
  if (!file) return Failed(std::string("cannot open the file: ") + std::strerror(errno));
  const auto pnTable = LoadPnTable(capture.parent_path());
  Survey survey = SurveyFrames(file.get(), contents.blockWords, layout, pnTable);
  const ScanLinePlan plan = PlanScanLines(survey.stamps, layout.framesPerSecond);

  std::optional<std::int64_t> midMs;
  if (plan.firstTimeMs && plan.lastTimeMs) midMs = (*plan.firstTimeMs + *plan.lastTimeMs) / 2;
  const CaptureHeader& header = contents.header;
  const std::optional<ElementSet> elements =
      ElementsOf(header.found ? TrimRight(header.nameLine) : "", header.line1, header.line2);
  const std::optional<bool> northbound = NorthboundAt(elements, midMs);

  std::vector<GreyTable> tables;
  for (const auto& histogram : survey.histograms) tables.push_back(StretchTable(histogram));
  survey.histograms.clear();
  ChannelPictures pictures(layout.pixels, plan.rows, layout.channels, northbound.value_or(false));
  DrawChannels(file.get(), contents.blockWords, layout, plan, survey.stamps, tables, pictures);
  file.reset();
  if (!WritePictureSet(pictures, layout, outDir, name, result)) return result;
  const nlohmann::json map =
      AddPassMap(pictures, layout, family, northbound.value_or(false), elements,
                 FirstLineMs(plan, survey.stamps, layout.framesPerSecond), outDir, name, result);

  nlohmann::ordered_json record;
  record["capture"] = name;
  record["satellite"] = satellite ? nlohmann::json(*satellite) : nlohmann::json(nullptr);
  record["family"] = FactsOf(family).name;
  record["first_frame_utc"] = IsoOrNull(plan.firstTimeMs);
  record["last_frame_utc"] = IsoOrNull(plan.lastTimeMs);
  record["scan_lines"] = plan.rows;
  record["frames_written"] = contents.totalFrames;
  record["frames_with_sync"] = survey.framesWithSync;
  record["lock_fraction"] =
      plan.rows > 0 ? static_cast<double>(survey.framesWithSync) / plan.rows : 0.0;
  record["black_lines"] = plan.rows - survey.framesWithSync;
  nlohmann::json losses = nlohmann::json::array();
  for (const SyncLoss& loss : survey.syncLosses) {
    losses.push_back(
        {{"lost_utc", IsoUtc(loss.lostMs)}, {"regained_utc", IsoOrNull(loss.regainedMs)}});
  }
  record["sync_losses"] = losses;
  record["bit_errors"] = survey.bitErrors;
  record["bits_compared"] = survey.bitsCompared;
  record["bit_error_rate"] = survey.bitsCompared > 0
                                 ? nlohmann::json(static_cast<double>(survey.bitErrors) /
                                                  static_cast<double>(survey.bitsCompared))
                                 : nlohmann::json(nullptr);
  record["northbound"] = northbound ? nlohmann::json(*northbound) : nlohmann::json(nullptr);
  record["composite_channels"] = {layout.composite[0] + 1, layout.composite[1] + 1,
                                  layout.composite[2] + 1};
  record["map"] = map;
  record["images"] = result.written;
  record["capture_bytes"] = contents.bytes;
  WriteQualityRecord(record, outDir, name, result);
  return result;
}

bool IsCaduCapture(const std::filesystem::path& capture, std::optional<SatelliteFamily> family) {
  if (family) return FactsOf(*family).frameKind == FrameKind::Cadu;
  return capture.extension() == ".cadu";
}

int ImageCaptureFile(const std::filesystem::path& capture,
                     const std::optional<std::filesystem::path>& outDir, std::ostream& out,
                     std::ostream& err, std::optional<SatelliteFamily> family) {
  std::filesystem::path dir = outDir ? *outDir : capture.parent_path();
  if (dir.empty()) dir = ".";
  CaptureImagesResult result = IsCaduCapture(capture, family) ? MakeCaduImages(capture, dir, family)
                                                              : MakeCaptureImages(capture, dir);
  if (!result.ok) {
    err << "halvik image: " << capture.string() << ": " << result.error << '\n';
    return 2;
  }
  for (const std::string& note : result.notes) {
    err << "halvik image: " << capture.string() << ": " << note << '\n';
  }
  for (const std::string& name : result.written) out << (dir / name).string() << '\n';
  return 0;
}

}  // namespace halvik
