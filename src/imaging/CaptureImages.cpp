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
#include "imaging/PngWriter.h"
#include "imaging/ScanLines.h"
#include "orbit/ElementSet.h"
#include "orbit/Sgp4.h"
#include "platform/Files.h"
#include "platform/Text.h"

namespace halvik {
namespace {

constexpr int kTenBitLevels = 1024;
constexpr double kStretchLow = 0.02;
constexpr double kStretchHigh = 0.98;
constexpr int kThumbnailWidth = 512;
// Frames read from the file at a time.
constexpr std::size_t kFramesPerRead = 32;

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

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
  std::vector<std::array<std::uint32_t, kTenBitLevels>> histograms;  // per channel
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
      markerSeconds = (static_cast<std::int64_t>(block[3]) << 16) | block[4];
      const auto kind = static_cast<MarkerKind>(block[1]);
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

// 10-bit count to grey: the 2nd percentile of the histogram to 0, the 98th to 255, linear
// between. Thermal channels need no flip of their own (see the header).
std::array<std::uint8_t, kTenBitLevels> StretchTable(
    const std::array<std::uint32_t, kTenBitLevels>& histogram) {
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
  std::array<std::uint8_t, kTenBitLevels> table{};
  for (int v = 0; v < kTenBitLevels; ++v) {
    const double grey = 255.0 * (v - low) / (high - low);
    table[v] = static_cast<std::uint8_t>(std::clamp(std::lround(grey), 0L, 255L));
  }
  return table;
}

// Northbound when the satellite's inertial velocity points north at the middle of the pass.
std::optional<bool> Northbound(const CaptureHeader& header, std::optional<std::int64_t> midMs) {
  if (!header.found || !midMs) return std::nullopt;
  SatelliteRecord slot;
  if (ParseElementSet(TrimRight(header.nameLine), header.line1, header.line2, slot) !=
      ElementSetResult::Ok) {
    return std::nullopt;
  }
  ElementSet elements = slot.Elements();
  StateVector state;
  Propagate(static_cast<double>(*midMs) / 60000.0 - elements.epochMinutes, elements, state);
  return state.velocity[2] > 0;
}

// The channel pictures, one byte per pixel, channel after channel; north up.
std::vector<std::uint8_t> DrawChannels(std::FILE* file, std::int32_t blockWords,
                                       const HrptLayout& layout, const ScanLinePlan& plan,
                                       const std::vector<FrameStamp>& stamps,
                                       const std::vector<std::array<std::uint8_t, 1024>>& tables,
                                       bool turn) {
  const auto width = static_cast<std::size_t>(layout.pixels);
  const std::size_t plane = width * static_cast<std::size_t>(plan.rows);
  std::vector<std::uint8_t> pixels(plane * static_cast<std::size_t>(layout.channels), 0);
  BlockReader reader(file, blockWords);
  reader.Next();
  std::size_t frame = 0;
  while (const std::uint16_t* block = reader.Next()) {
    if (block[0] & kBlockFlag) continue;
    const std::size_t i = frame++;
    if (!stamps[i].sync) continue;  // a black line
    const auto row = static_cast<std::size_t>(plan.rowOfFrame[i]);
    const std::uint16_t* sample = block + layout.earthFirstWord;
    for (std::size_t c = 0; c < static_cast<std::size_t>(layout.channels); ++c) {
      const std::uint8_t* table = tables[c].data();
      std::uint8_t* out = pixels.data() + c * plane;
      const std::uint16_t* in = sample + c;
      const std::size_t step = static_cast<std::size_t>(layout.channels);
      if (turn) {
        // Half a turn: the last scan line on top, each line mirrored.
        std::uint8_t* line = out + (static_cast<std::size_t>(plan.rows) - 1 - row) * width;
        for (std::size_t p = 0; p < width; ++p) line[width - 1 - p] = table[in[p * step] & 0x3FF];
      } else {
        std::uint8_t* line = out + row * width;
        for (std::size_t p = 0; p < width; ++p) line[p] = table[in[p * step] & 0x3FF];
      }
    }
  }
  return pixels;
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

CaptureImagesResult MakeCaptureImages(const std::filesystem::path& capture,
                                      const std::filesystem::path& outDir) {
  CaptureImagesResult result;
  auto fail = [&](std::string text) {
    result.ok = false;
    result.error = std::move(text);
    return result;
  };
  std::error_code error;
  if (std::filesystem::is_directory(capture, error)) return fail("a directory, not a capture");
  CaptureReadResult read = ReadCaptureFile(capture);
  if (!read.opened) return fail(std::string("cannot open the file: ") + std::strerror(errno));
  if (!read.ok) return fail("not a whole capture: " + read.error);
  const CaptureFileContents& contents = read.contents;
  if (contents.totalFrames == 0) return fail("the capture holds no frames");
  if (!std::filesystem::is_directory(outDir, error)) {
    return fail("cannot write into " + outDir.string() + ": not a directory");
  }

  const std::string name = capture.filename().string();
  std::optional<std::string> satellite;
  SatelliteFamily family = SatelliteFamily::Noaa;
  Identify(contents, name, satellite, family);
  const HrptLayout& layout = FactsOf(family).layout;

  File file(std::fopen(capture.c_str(), "rb"));
  if (!file) return fail(std::string("cannot open the file: ") + std::strerror(errno));
  const auto pnTable = LoadPnTable(capture.parent_path());
  Survey survey = SurveyFrames(file.get(), contents.blockWords, layout, pnTable);
  const ScanLinePlan plan = PlanScanLines(survey.stamps, layout.framesPerSecond);

  std::optional<std::int64_t> midMs;
  if (plan.firstTimeMs && plan.lastTimeMs) midMs = (*plan.firstTimeMs + *plan.lastTimeMs) / 2;
  const std::optional<bool> northbound = Northbound(contents.header, midMs);

  std::vector<std::array<std::uint8_t, kTenBitLevels>> tables;
  for (const auto& histogram : survey.histograms) tables.push_back(StretchTable(histogram));
  survey.histograms.clear();
  const std::vector<std::uint8_t> pixels =
      DrawChannels(file.get(), contents.blockWords, layout, plan, survey.stamps, tables,
                   northbound.value_or(false));
  file.reset();

  const int width = layout.pixels;
  const std::size_t plane = static_cast<std::size_t>(width) * static_cast<std::size_t>(plan.rows);
  auto written = [&](bool ok, const std::string& fileName) {
    if (!ok) {
      fail("cannot write " + (outDir / fileName).string());
      return false;
    }
    result.written.push_back(fileName);
    return true;
  };
  const std::array<const std::uint8_t*, 3> planes = {
      pixels.data() + static_cast<std::size_t>(layout.composite[0]) * plane,
      pixels.data() + static_cast<std::size_t>(layout.composite[1]) * plane,
      pixels.data() + static_cast<std::size_t>(layout.composite[2]) * plane};
  // The channels and the composite are deflated on two threads: deflate is most of the work.
  // Each picture is claimed through `next`; results land in their own slots.
  const int pictures = layout.channels + 1;
  std::vector<std::string> names;
  for (int c = 0; c < layout.channels; ++c)
    names.push_back(Format("%s.ch%d.png", name.c_str(), c + 1));
  names.push_back(name + ".rgb.png");
  std::vector<char> done(static_cast<std::size_t>(pictures), 0);
  std::atomic<int> next{0};
  auto encode = [&] {
    for (int k = next++; k < pictures; k = next++) {
      const std::filesystem::path path = outDir / names[static_cast<std::size_t>(k)];
      if (k < layout.channels) {
        const std::uint8_t* channel = pixels.data() + static_cast<std::size_t>(k) * plane;
        done[static_cast<std::size_t>(k)] =
            WritePng(path, width, plan.rows, 1, [&](int row, std::uint8_t*) {
              return channel + static_cast<std::size_t>(row) * width;
            });
      } else {
        done[static_cast<std::size_t>(k)] =
            WritePng(path, width, plan.rows, 3, [&](int row, std::uint8_t* line) {
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
  for (int k = 0; k < pictures; ++k) {
    if (!written(done[static_cast<std::size_t>(k)] != 0, names[static_cast<std::size_t>(k)])) {
      // Complete pictures of a set that could not be finished are taken away again.
      for (int j = 0; j < pictures; ++j) {
        if (done[static_cast<std::size_t>(j)])
          std::filesystem::remove(outDir / names[static_cast<std::size_t>(j)], error);
      }
      result.written.clear();
      return result;
    }
  }
  int thumbWidth = 0;
  int thumbRows = 0;
  const std::vector<std::uint8_t> thumb =
      Thumbnail(planes, width, plan.rows, thumbWidth, thumbRows);
  if (!written(WritePng(outDir / (name + ".thumb.png"), thumbWidth, thumbRows, 3,
                        [&](int row, std::uint8_t*) {
                          return thumb.data() + static_cast<std::size_t>(row) * thumbWidth * 3;
                        }),
               name + ".thumb.png")) {
    return result;
  }

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
  record["images"] = result.written;
  record["capture_bytes"] = contents.bytes;
  if (!written(WriteFileAtomically(outDir / (name + ".json"), record.dump(2) + "\n"),
               name + ".json")) {
    return result;
  }
  result.ok = true;
  return result;
}

int ImageCaptureFile(const std::filesystem::path& capture,
                     const std::optional<std::filesystem::path>& outDir, std::ostream& out,
                     std::ostream& err) {
  std::filesystem::path dir = outDir ? *outDir : capture.parent_path();
  if (dir.empty()) dir = ".";
  CaptureImagesResult result = MakeCaptureImages(capture, dir);
  if (!result.ok) {
    err << "halvik image: " << capture.string() << ": " << result.error << '\n';
    return 2;
  }
  for (const std::string& name : result.written) out << (dir / name).string() << '\n';
  return 0;
}

}  // namespace halvik
