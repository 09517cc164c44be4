#include <gtest/gtest.h>
#include <png.h>
#include <stdlib.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <numeric>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "capture/BitFrame.h"
#include "capture/CaptureFileReader.h"
#include "capture/MsuMr.h"
#include "devices/ControlCodes.h"
#include "devices/Downlink.h"
#include "devices/FrameSyncDevice.h"
#include "imaging/CaptureImages.h"
#include "imaging/PassMap.h"
#include "imaging/Pictures.h"
#include "orbit/Tracks.h"
#include "platform/Clock.h"
#include "platform/Device.h"
#include "platform/Messages.h"
#include "sim/PseudoNoise.h"
#include "sim/SimSynchronizer.h"
#include "sim/SkyLink.h"
#include "support/PassLink.h"
#include "support/PlatformFakes.h"
#include "support/TempDir.h"

namespace halvik {
namespace {

// Images made from captures the capture engine records from the simulated synchronizer.

constexpr std::int64_t kAos = 1009972800;  // 2002-01-02T12:00:00Z
constexpr double kPassSeconds = 24;
constexpr const char* kCapture = "We02JanA.N14";
constexpr int kWidth = 2048;

// NOAA 14 element lines; the mean anomaly is swapped to put the satellite on the other half of
// its orbit, going the other way.
std::string ElementLines(const char* meanAnomaly) {
  std::string line2 = "2 23455  99.1000 100.0000 0010000 200.0000 " + std::string(meanAnomaly) +
                      " 14.12000000 1000";
  int sum = 0;
  for (char ch : line2) sum += ch == '-' ? 1 : (ch >= '0' && ch <= '9' ? ch - '0' : 0);
  return "NOAA 14\n1 23455U 94089A   02001.50000000  .00000100  00000-0  80000-4 0  9990\n" +
         line2 + std::to_string(sum % 10) + "\n";
}

// The element set of ElementLines' text.
std::optional<ElementSet> ElementsOfText(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines.size() == 3 ? ElementsOf(lines[0], lines[1], lines[2]) : std::nullopt;
}

// Records one pass of `seconds` and leaves the capture in dir; with `earth`, the imager sees the
// Earth under the element set's orbit rather than the synthetic scene.
struct Recording {
  explicit Recording(const std::string& elements, double fadeStart = -1, double fadeEnd = -1,
                     double seconds = kPassSeconds, bool earth = false)
      // The island of the synthetic scene lies at 0.3 of the way through.
      : link(clock, {.aos = kAos,
                     .fadeStart = fadeStart,
                     .fadeEnd = fadeEnd,
                     .alongAtAos = 0.2,
                     .alongPerSecond = 0.2 / kPassSeconds,
                     .elements = earth ? ElementsOfText(elements) : std::nullopt}) {
    setenv("TZ", "UTC", 1);
    tzset();
    dir.Write("pn.fil", sim::PseudoNoiseFileBytes());
    dir.Write("elements.dat", elements);
    devices.Publish(kSynchronizerDevicePath, std::make_shared<sim::SimSynchronizer>(link, clock));
    CaptureEngineContext context{synchronizer, clock,   messages, systemInfo, spawner,
                                 dir.path(),   handOff, status,   *quickLook, stop};
    context.raiseThreadPriority = false;
    CaptureEngine engine(context);
    EXPECT_TRUE(engine.Begin());
    while (clock.Now().seconds < kAos) engine.Cycle();
    handOff.CaptureSatelliteName.Set("NOAA 14");
    handOff.CaptureStartRequest.store(1, std::memory_order_release);
    while (clock.Now().AsSeconds() < static_cast<double>(kAos) + seconds) engine.Cycle();
    handOff.CaptureEndRequest.store(1, std::memory_order_release);
    engine.Cycle();
    stop.store(1);
    engine.Cycle();
    engine.End();
  }
  std::filesystem::path capture() const { return dir.path() / kCapture; }

  TempDir dir;
  ManualClock clock{SystemTime{kAos - 2, 0}};
  testing::PassLink link;
  DeviceNamespace devices;
  FrameSyncDevice synchronizer{devices};
  RecordingMessages messages;
  testing::RoomySystemInfo systemInfo;
  testing::RecordingSpawner spawner;
  CaptureHandOff handOff;
  CaptureStatus status;
  std::unique_ptr<QuickLookBuffer> quickLook = std::make_unique<QuickLookBuffer>();
  std::atomic<std::int32_t> stop{0};
};

struct Picture {
  int width = 0, height = 0;
  std::vector<std::uint8_t> pixels;  // grey, or RGB when read as colour
  int at(int column, int row) const {
    return pixels[static_cast<std::size_t>(row) * width + column];
  }
};

Picture ReadPng(const std::filesystem::path& path, bool colour = false) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  Picture picture;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return picture;
  image.format = colour ? PNG_FORMAT_RGB : PNG_FORMAT_GRAY;
  picture.width = static_cast<int>(image.width);
  picture.height = static_cast<int>(image.height);
  picture.pixels.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, picture.pixels.data(), 0, nullptr)) return {};
  return picture;
}

// The capture's frames as recorded, each a copy of its words.
std::vector<std::vector<std::uint16_t>> Frames(const std::filesystem::path& path) {
  std::string bytes = TempDir::ReadFile(path);
  std::vector<std::vector<std::uint16_t>> frames;
  const std::size_t block = 11090 * 2;
  for (std::size_t at = block; at + block <= bytes.size(); at += block) {
    std::vector<std::uint16_t> words(11090);
    for (std::size_t i = 0; i < words.size(); ++i) {
      words[i] =
          static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[at + 2 * i]) |
                                     (static_cast<unsigned char>(bytes[at + 2 * i + 1]) << 8));
    }
    if (!(words[0] & 0x8000)) frames.push_back(std::move(words));
  }
  return frames;
}

nlohmann::json Record(const std::filesystem::path& dir) {
  return nlohmann::json::parse(TempDir::ReadFile(dir / (std::string(kCapture) + ".json")));
}

const std::string kSouthbound = ElementLines("340.0000");
const std::string kNorthbound = ElementLines("160.0000");

TEST(CaptureImages, SamplesLandWhereTheLayoutPutsThem) {
  Recording pass(kSouthbound);
  CaptureImagesResult made = MakeCaptureImages(pass.capture(), pass.dir.path());
  ASSERT_TRUE(made.ok) << made.error;
  const std::string name = kCapture;
  EXPECT_EQ(made.written,
            (std::vector<std::string>{name + ".ch1.png", name + ".ch2.png", name + ".ch3.png",
                                      name + ".ch4.png", name + ".ch5.png", name + ".rgb.png",
                                      name + ".thumb.png", name + ".map.png", name + ".json"}));
  const auto frames = Frames(pass.capture());
  const nlohmann::json record = Record(pass.dir.path());
  ASSERT_EQ(record["northbound"], false);
  ASSERT_EQ(record["scan_lines"], frames.size());

  // --- Every channel: row r is frame r, column p the pixel p of words 751 + 5p + c ---
  std::vector<Picture> channels;
  for (int c = 0; c < 5; ++c) {
    channels.push_back(ReadPng(pass.dir.path() / made.written[c]));
    ASSERT_EQ(channels[c].width, kWidth);
    ASSERT_EQ(channels[c].height, static_cast<int>(frames.size()));
    // The stretch is monotonic: a larger count is never a darker grey, within the frames of
    // a region around the island, across channels compared one by one.
    std::vector<std::pair<int, int>> countAndGrey;
    for (std::size_t r = 0; r < frames.size(); r += 7) {
      for (int p = 1300; p < 1800; p += 3) {
        countAndGrey.emplace_back(frames[r][750 + 5 * p + c],
                                  channels[c].at(p, static_cast<int>(r)));
      }
    }
    std::sort(countAndGrey.begin(), countAndGrey.end());
    int inversions = 0;
    for (std::size_t i = 1; i < countAndGrey.size(); ++i) {
      if (countAndGrey[i].second < countAndGrey[i - 1].second) ++inversions;
    }
    // Bit errors (1e-4) may spoil a sample's count; nothing else may break the order.
    EXPECT_LE(inversions, 3) << "channel " << c + 1;
  }

  // --- The scene: at a third of the way, the island (column ~1535) is land in the sea ---
  const int islandRow = static_cast<int>(frames.size() / 2);
  auto mean = [&](const Picture& picture, int column) {
    int sum = 0;
    for (int dx = -8; dx <= 8; ++dx) sum += picture.at(column + dx, islandRow);
    return sum / 17;
  };
  const int island = 1535, sea = 1850, mainland = 300;
  EXPECT_GT(mean(channels[1], island), mean(channels[1], sea) + 100) << "land bright in ch2";
  EXPECT_GT(mean(channels[1], mainland), mean(channels[1], sea) + 100);
  // Thermal: the warm island darker than the cooler sea, no cloud yet.
  EXPECT_LT(mean(channels[3], island), mean(channels[3], sea) - 50) << "warm land dark in ch4";

  // --- Composite 2-2-4 and the thumbnail ---
  Picture rgb = ReadPng(pass.dir.path() / (name + ".rgb.png"), true);
  ASSERT_EQ(rgb.width, kWidth);
  const std::size_t at = (static_cast<std::size_t>(islandRow) * kWidth + island) * 3;
  EXPECT_EQ(rgb.pixels[at], channels[1].at(island, islandRow));
  EXPECT_EQ(rgb.pixels[at + 1], channels[1].at(island, islandRow));
  EXPECT_EQ(rgb.pixels[at + 2], channels[3].at(island, islandRow));
  Picture thumb = ReadPng(pass.dir.path() / (name + ".thumb.png"), true);
  EXPECT_EQ(thumb.width, 512);
  EXPECT_EQ(thumb.height, static_cast<int>(frames.size()) / 4);
}

TEST(CaptureImages, AFadeLeavesBlackLinesInPlaceAndTheRecordAgreesWithTheCapture) {
  // Lost from 8 s to 14 s: 31 frames of noise are recorded before the loss is declared, the
  // rest of the fade and the resync leave no frames.
  Recording pass(kSouthbound, 8.0, 14.0);
  ASSERT_TRUE(MakeCaptureImages(pass.capture(), pass.dir.path()).ok);
  CaptureReadResult read = ReadCaptureFile(pass.capture());
  ASSERT_TRUE(read.ok);
  const nlohmann::json record = Record(pass.dir.path());

  // --- The record against what inspect reads and what the engine counted ---
  std::int64_t withSync = 0;
  std::vector<std::uint32_t> lost, regained;
  for (const CaptureEntry& entry : read.contents.entries) {
    if (const auto* run = std::get_if<CaptureFrameRun>(&entry)) withSync += run->withSync;
    if (const auto* marker = std::get_if<CaptureMarker>(&entry)) {
      if (marker->kind == MarkerKind::SyncLost) lost.push_back(marker->time);
      if (marker->kind == MarkerKind::SyncAcquired) regained.push_back(marker->time);
    }
  }
  EXPECT_EQ(record["capture"], kCapture);
  EXPECT_EQ(record["satellite"], "NOAA 14");
  EXPECT_EQ(record["family"], "noaa");
  EXPECT_EQ(record["frames_written"], read.contents.totalFrames);
  EXPECT_EQ(record["frames_with_sync"], withSync);
  EXPECT_EQ(record["capture_bytes"], read.contents.bytes);
  EXPECT_EQ(record["bits_compared"], pass.status.BitsCompared.load());
  EXPECT_EQ(record["bit_errors"], pass.status.BitErrorCount.load());
  ASSERT_EQ(lost.size(), 1u);
  ASSERT_EQ(record["sync_losses"].size(), 1u);
  EXPECT_EQ(record["sync_losses"][0]["lost_utc"], "2002-01-02T12:00:13.000Z");
  EXPECT_EQ(record["sync_losses"][0]["regained_utc"], "2002-01-02T12:00:14.000Z");
  EXPECT_EQ(lost[0], kAos + 13);
  EXPECT_EQ(regained.back(), kAos + 14);
  EXPECT_EQ(record["images"].size(), 8u);  // the map as well

  // --- Black lines: the noise frames and the scan periods between the last frame before the
  // fade and the first after it, by their time codes ---
  const auto frames = Frames(pass.capture());
  auto timeMs = [](const std::vector<std::uint16_t>& f) {
    return (static_cast<std::int64_t>(f[9] & 0x7F) << 20) | (f[10] << 10) | f[11];
  };
  std::size_t lastBefore = 0;
  while (HasFrameSync(frames[lastBefore + 1].data())) ++lastBefore;
  const std::size_t firstAfter = lastBefore + 32;
  ASSERT_TRUE(HasFrameSync(frames[firstAfter].data()));
  ASSERT_FALSE(HasFrameSync(frames[firstAfter - 1].data()));
  const double gapLines = (timeMs(frames[firstAfter]) - timeMs(frames[lastBefore])) * 6 / 1000.0;
  const auto blackLines = static_cast<int>(std::lround(gapLines)) - 1;
  EXPECT_GT(blackLines, 6 * 5);  // the fade lasts 6 s
  EXPECT_LT(blackLines, 6 * 7);
  const int rows = static_cast<int>(frames.size()) - 31 + blackLines;
  EXPECT_EQ(record["scan_lines"], rows);
  EXPECT_EQ(record["black_lines"], blackLines);
  EXPECT_DOUBLE_EQ(record["lock_fraction"].get<double>(), static_cast<double>(withSync) / rows);
  EXPECT_EQ(record["first_frame_utc"].get<std::string>().substr(0, 20), "2002-01-02T12:00:05.");

  Picture ch1 = ReadPng(pass.dir.path() / (std::string(kCapture) + ".ch1.png"));
  ASSERT_EQ(ch1.height, rows);
  auto lineIsBlack = [&](int row) {
    return std::all_of(ch1.pixels.begin() + row * kWidth, ch1.pixels.begin() + (row + 1) * kWidth,
                       [](std::uint8_t v) { return v == 0; });
  };
  int black = 0;
  for (int row = 0; row < rows; ++row) {
    const bool inGap =
        row > static_cast<int>(lastBefore) && row <= static_cast<int>(lastBefore) + blackLines;
    EXPECT_EQ(lineIsBlack(row), inGap) << "row " << row;
    black += lineIsBlack(row);
  }
  EXPECT_EQ(black, blackLines);
}

TEST(CaptureImages, ANorthboundPassIsTurnedNorthUp) {
  Recording south(kSouthbound);
  Recording north(kNorthbound);
  ASSERT_TRUE(MakeCaptureImages(south.capture(), south.dir.path()).ok);
  ASSERT_TRUE(MakeCaptureImages(north.capture(), north.dir.path()).ok);
  EXPECT_EQ(Record(south.dir.path())["northbound"], false);
  EXPECT_EQ(Record(north.dir.path())["northbound"], true);
  // The two passes carry the same frames; only their element sets differ.
  ASSERT_EQ(Frames(south.capture()), Frames(north.capture()));
  for (const char* suffix : {".ch2.png", ".ch4.png"}) {
    Picture a = ReadPng(south.dir.path() / (std::string(kCapture) + suffix));
    Picture b = ReadPng(north.dir.path() / (std::string(kCapture) + suffix));
    ASSERT_EQ(a.width, b.width);
    ASSERT_EQ(a.height, b.height);
    std::reverse(b.pixels.begin(), b.pixels.end());
    EXPECT_TRUE(a.pixels == b.pixels) << suffix << ": not half a turn apart";
  }
}

TEST(CaptureImages, BadInputsFailCleanlyLeavingNoFileUnderAFinalName) {
  Recording pass(kSouthbound);
  TempDir work;
  const std::string whole = TempDir::ReadFile(pass.capture());
  const std::string header = whole.substr(0, 22180);
  std::string endMarker(22180, '\0');
  endMarker[1] = '\x80';
  endMarker[2] = '\x00';
  endMarker[3] = '\x83';
  struct Case {
    const char* what;
    std::string name;
    std::string content;  // written to `name` unless `missing`
    bool missing = false;
    std::filesystem::path outDir{};
    const char* says;
  };
  const std::vector<Case> cases = {
      {"empty", "Mo01JanA.N14", "", false, {}, "empty file"},
      {"truncated", "Mo01JanB.N14", whole.substr(0, whole.size() - 1000), false, {}, "truncated"},
      {"not a capture", "notes.txt", "these are not frames\n", false, {}, "not a whole capture"},
      {"no frames", "Mo01JanC.N14", header + endMarker, false, {}, "no frames"},
      {"unreadable", "Mo01JanD.N14", "", true, {}, "cannot open"},
      {"unwritable directory", "Mo01JanE.N14", whole, false, work.path() / "missing",
       "cannot write into"},
      {"directory is a file", "Mo01JanF.N14", whole, false, work.path() / "notes.txt",
       "cannot write into"},
      // The channels are written, then the composite fails: they are taken back.
      {"composite's name taken", "Mo01JanG.N14", whole, false, work.path() / "taken",
       "cannot write"},
  };
  work.Write("notes.txt", "a file, not a directory\n");
  const std::filesystem::path taken = work.path() / "taken" / "Mo01JanG.N14.rgb.png";
  std::filesystem::create_directories(taken);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (!c.missing) work.Write(c.name, c.content);
    std::ostringstream out, err;
    const std::filesystem::path outDir = c.outDir.empty() ? work.path() : c.outDir;
    EXPECT_EQ(ImageCaptureFile(work.path() / c.name, outDir, out, err), 2);
    EXPECT_EQ(out.str(), "");
    const std::string message = err.str();
    EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1) << message;
    EXPECT_NE(message.find(c.says), std::string::npos) << message;
    for (const auto& entry : std::filesystem::directory_iterator(work.path())) {
      const std::string file = entry.path().filename().string();
      EXPECT_EQ(file.find(".png"), std::string::npos) << file;
      EXPECT_EQ(file.find(".json"), std::string::npos) << file;
    }
  }
  for (const auto& entry : std::filesystem::directory_iterator(taken.parent_path()))
    EXPECT_EQ(entry.path(), taken);
}

// Meteor CADUs as the downlink's public description lays them out, in the tests' own numbers:
// the 24-bit counter in bytes 6-8 and the imager's bytes at 1-based 23-260, 279-516, 535-772
// and 791-1024 of each (948 a CADU).
using Cadu = std::array<std::uint8_t, 1024>;
std::vector<Cadu> ToCadus(const std::vector<std::uint8_t>& msumr, std::uint32_t counter) {
  std::vector<Cadu> cadus;
  for (std::size_t at = 0; at < msumr.size(); counter = (counter + 1) & 0xFFFFFF) {
    Cadu& cadu = cadus.emplace_back(Cadu{0x1A, 0xCF, 0xFC, 0x1D, 0x40, 0x05});
    for (int i = 0; i < 3; ++i) cadu[6 + i] = static_cast<std::uint8_t>(counter >> (16 - 8 * i));
    for (int i : {22, 278, 534, 790}) {
      for (int end = i == 790 ? 1024 : i + 238; i < end && at < msumr.size(); ++i)
        cadu[i] = msumr[at++];
    }
  }
  return cadus;
}

// MSU-MR frames of 11850 bytes: the sync, hour, minute, second, 1/255 s and serial from byte 8,
// and from byte 50 the 6 x 1572 counts of `sample(line, channel, pixel)`, 10 bits MSB first.
std::vector<std::uint8_t> MsuMrFrames(int lines, const std::function<int(int, int, int)>& sample) {
  std::vector<std::uint8_t> stream;
  for (int k = 0; k < lines; ++k) {
    const std::size_t at = stream.size();
    stream.insert(stream.end(), {0x02, 0x18, 0xA7, 0xA3, 0x92, 0xDD, 0x9A, 0xBF, 12, 0,
                                 static_cast<std::uint8_t>(5 + k / 6),
                                 static_cast<std::uint8_t>(k % 6 * 255 / 6), 42});
    stream.resize(at + 11850, 0);
    std::size_t bit = (at + 50) * 8;
    for (int c = 0; c < 6; ++c) {
      for (int p = 0; p < 1572; ++p) {
        for (int b = 9; b >= 0; --b, ++bit) {
          if ((sample(k, c, p) >> b) & 1)
            stream[bit / 8] |= static_cast<std::uint8_t>(0x80 >> (bit % 8));
        }
      }
    }
  }
  return stream;
}

int Pattern(int line, int channel, int pixel) {
  return (line * 7 + channel * 300 + pixel) & 0x3FF;
}

// Every line the reader makes of the CADUs, pushed as the capture thread's words.
std::vector<MsuMrLine> ReadLines(const std::vector<Cadu>& cadus, MsuMrReader& reader) {
  std::vector<MsuMrLine> lines;
  for (const Cadu& cadu : cadus) {
    std::array<std::uint16_t, 1024> words;
    std::copy(cadu.begin(), cadu.end(), words.begin());
    if (reader.Push(std::span<const std::uint16_t, 1024>(words)) == MsuMrEvent::Line)
      lines.push_back(reader.Line());
  }
  return lines;
}

TEST(MsuMr, LiteralBytesSetInTheCadusBecomeTheLine) {
  // Line 0 all zero but for bytes set by hand in the CADUs; line 1 packed with a pattern.
  std::vector<Cadu> cadus = ToCadus(
      MsuMrFrames(2, [](int k, int c, int p) { return k == 0 ? 0 : Pattern(k, c, p); }), 0x100);
  const auto set = [&](int cadu, int at, std::vector<std::uint8_t> bytes) {
    std::copy(bytes.begin(), bytes.end(), cadus[static_cast<std::size_t>(cadu)].begin() + at);
  };
  set(0, 30, {13, 45, 30, 51, 0x2A});          // 13:45:30 + 51/255 s, serial 42
  set(0, 72, {0xFF, 0xC0, 0x00, 0x00, 0x01});  // channel 1, pixels 0-3: 1023, 0, 0, 1
  // Channel 3, pixels 4-7, 512 each: frame byte 50 + 2 x 1965 + 5 = 3985, CADU 4, run 1.
  set(4, 215, {0x80, 0x20, 0x08, 0x02, 0x00});
  // Channel 6, pixel 1571 = 1023: frame bytes 11835-11839, CADU 12, run 2.
  set(12, 499, {0x00, 0x00, 0x00, 0x03, 0xFF});
  MsuMrReader reader;
  const std::vector<MsuMrLine> lines = ReadLines(cadus, reader);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].msOfDay, ((13 * 60 + 45) * 60 + 30) * 1000 + 200);
  EXPECT_EQ(lines[0].serial, 42);
  EXPECT_EQ(lines[0].Channel(0)[0], 1023);
  EXPECT_EQ(lines[0].Channel(0)[3], 1);
  for (int p = 4; p < 8; ++p) EXPECT_EQ(lines[0].Channel(2)[p], 512) << p;
  EXPECT_EQ(lines[0].Channel(5)[1571], 1023);
  EXPECT_EQ(std::accumulate(lines[0].samples.begin(), lines[0].samples.end(), 0),
            1023 + 1 + 4 * 512 + 1023);                       // nothing else
  EXPECT_EQ(lines[1].msOfDay, (12 * 3600 + 5) * 1000 + 165);  // 42/255 s
  for (int c = 0; c < 6; ++c)
    for (int p = 0; p < 1572; p += 97) EXPECT_EQ(lines[1].Channel(c)[p], Pattern(1, c, p));
}

TEST(MsuMr, SyncBitErrorsAndLostCadus) {
  // Bits wrong in line 0's sync (searched for) and line 1's (due at once): lines found of 3.
  const int cases[][3] = {{4, 0, 3}, {5, 0, 2}, {0, 12, 3}, {0, 13, 2}};
  for (const auto& c : cases) {
    std::vector<std::uint8_t> stream = MsuMrFrames(3, Pattern);
    for (int i = 0; i < c[0]; ++i) stream[i % 8] ^= static_cast<std::uint8_t>(1 << (i / 8));
    for (int i = 0; i < c[1]; ++i) stream[11850 + i % 8] ^= static_cast<std::uint8_t>(1 << (i / 8));
    MsuMrReader reader;
    EXPECT_EQ(ReadLines(ToCadus(stream, 0), reader).size(), static_cast<std::size_t>(c[2]))
        << c[0] << " and " << c[1] << " bits";
  }
  // The counter wraps at 2^24 inside line 0; CADU 20, inside line 1, is lost.
  std::vector<Cadu> cadus = ToCadus(MsuMrFrames(3, Pattern), 0xFFFFF8);
  cadus.erase(cadus.begin() + 20);
  MsuMrReader reader;
  const std::vector<MsuMrLine> lines = ReadLines(cadus, reader);
  EXPECT_EQ(reader.counts().gaps, 1);
  EXPECT_EQ(reader.counts().cadusLost, 1);
  EXPECT_EQ(reader.counts().linesCut, 1);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1].msOfDay, (12 * 3600 + 5) * 1000 + 333);  // line 2, not a splice
  for (int p = 0; p < 1572; p += 97) EXPECT_EQ(lines[1].Channel(5)[p], Pattern(2, 5, p));
}

// 24 lines from 12:00:05 on the day of kAos. Channel 1 rises from pixel 0 to 1571, channel 2
// brightens line by line. CADU 130 lies inside line 10.
std::string MeteorCapture(bool loseLine10) {
  std::vector<Cadu> cadus = ToCadus(
      MsuMrFrames(24, [](int k, int c, int p) { return c == 1 ? (k + 1) * 40 : p * 1023 / 1571; }),
      77);
  if (loseLine10) cadus.erase(cadus.begin() + 130);
  std::string bytes;
  for (const Cadu& cadu : cadus) bytes.append(cadu.begin(), cadu.end());
  return bytes;
}

TEST(CaptureImages, MeteorCadusArePicturedNorthUpWithLostLinesBlack) {
  // The pass record's element set (one text, or its lines), or no record.
  const std::pair<std::string, bool> cases[] = {
      {kSouthbound, false}, {kNorthbound, true}, {"", false}};
  for (const auto& [elements, turned] : cases) {
    SCOPED_TRACE(turned ? "northbound" : elements.empty() ? "no record" : "southbound");
    TempDir dir;
    dir.Write("We02JanA.mtr.cadu", MeteorCapture(true));
    nlohmann::json pass = {{"satellite", "METEOR-M2 3"}, {"start_utc", "2002-01-02T12:00:00Z"}};
    pass["element_set"] = elements;
    if (!turned) {
      pass["element_set"] = nlohmann::json::array();
      std::istringstream in(elements);
      for (std::string line; std::getline(in, line);) pass["element_set"].push_back(line);
    }
    if (!elements.empty()) dir.Write("We02JanA.mtr.pass.json", pass.dump());
    std::ostringstream out, err;
    ASSERT_EQ(ImageCaptureFile(dir.path() / "We02JanA.mtr.cadu", std::nullopt, out, err), 0)
        << err.str();
    std::vector<Picture> ch;
    for (int k = 1; k <= 6; ++k) {
      ch.push_back(ReadPng(dir.path() / ("We02JanA.mtr.ch" + std::to_string(k) + ".png")));
      ASSERT_EQ(ch.back().width * 100 + ch.back().height, 1572 * 100 + 24);
    }
    auto row = [&](int k) { return turned ? 23 - k : k; };
    auto column = [&](int p) { return turned ? 1571 - p : p; };
    EXPECT_LT(ch[0].at(column(100), row(3)), ch[0].at(column(1500), row(3)));
    // Thermal channel 6 is inverted: its high counts are warm, dark.
    EXPECT_GT(ch[5].at(column(100), row(3)), ch[5].at(column(1500), row(3)));
    EXPECT_LT(ch[1].at(700, row(2)), ch[1].at(700, row(20)));
    for (const Picture& picture : ch)
      for (int x = 0; x < 1572; x += 7) EXPECT_EQ(picture.at(x, row(10)), 0) << x;
    const nlohmann::json record = nlohmann::json::parse(dir.Read("We02JanA.mtr.json"));
    const nlohmann::json expected = {
        {"scan_lines", 24},
        {"black_lines", 1},
        {"lines_cut", 1},
        {"sync_losses", 1},
        {"cadus", 300 - 1},
        {"lock_fraction", 23.0 / 24},
        {"composite_channels", {2, 2, 1}},
        {"msumr_serials", {{{"serial", 42}, {"lines", 23}}}},
        {"first_line_utc", elements.empty() ? "12:00:05.000Z" : "2002-01-02T12:00:05.000Z"},
        {"northbound", elements.empty() ? nlohmann::json(nullptr) : nlohmann::json(turned)}};
    for (const auto& [key, value] : expected.items()) EXPECT_EQ(record[key], value) << key;
    EXPECT_NE(out.str().find("We02JanA.mtr.thumb.png"), std::string::npos);
  }
}

TEST(CaptureImages, BadCaduCapturesFailCleanly) {
  TempDir work;
  std::filesystem::create_directory(work.path() / "made");
  const std::string whole = MeteorCapture(false);
  const std::filesystem::path made = work.path() / "made", missing = work.path() / "missing";
  struct Case {
    std::string content;  // none: no file
    std::filesystem::path outDir;
    int status;
    const char* says;
  };
  const std::vector<Case> cases = {{whole.substr(0, 1000), made, 2, "no whole CADU"},
                                   {std::string(50 * 1024, 'U'), made, 2, "no MSU-MR line"},
                                   {"", made, 2, "cannot open"},
                                   {whole, missing, 2, "cannot write into"},
                                   {whole + "abc", work.path(), 0, "last 3 bytes are no whole"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.says);
    if (!c.content.empty()) work.Write("a.mtr.cadu", c.content);
    std::ostringstream out, err;
    EXPECT_EQ(ImageCaptureFile(work.path() / (c.content.empty() ? "b.cadu" : "a.mtr.cadu"),
                               c.outDir, out, err),
              c.status);
    const std::string message = err.str();
    // A capture pictured without a pass record has no element set to map it by: one more line.
    EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), c.status == 0 ? 2 : 1) << message;
    EXPECT_NE(message.find(c.says), std::string::npos) << message;
    if (c.status == 0) {
      EXPECT_NE(message.find("no a.mtr.map.png: the capture carries no usable element set"),
                std::string::npos)
          << message;
    }
    if (c.status == 2) {
      EXPECT_TRUE(std::filesystem::is_empty(made));
    }
  }
  // Named by --family rather than by its name, a capture is read as CADUs all the same.
  work.Write("pass.bin", whole);
  std::ostringstream out, err;
  EXPECT_EQ(ImageCaptureFile(work.path() / "pass.bin", made, out, err, SatelliteFamily::Meteor), 0);
  EXPECT_TRUE(std::filesystem::exists(made / "pass.bin.ch6.png"));
}

}  // namespace
}  // namespace halvik

namespace halvik {
namespace {

// Kilometres from `p` to the nearest coastline segment near it, on the plane tangent at `p`.
double KmToCoast(GeoPoint p, const Coastlines& coastlines) {
  const double kmPerDegree = kEarthRadiusKm * kTrueRadiansPerDegree;
  const double shrink = std::cos(p.latitude * kTrueRadiansPerDegree);
  double best = std::numeric_limits<double>::max();
  for (const auto& ring : coastlines.rings) {
    for (std::size_t i = 1; i < ring.size(); ++i) {
      const double ax = (ring[i - 1].longitude - p.longitude) * shrink * kmPerDegree;
      const double ay = (ring[i - 1].latitude - p.latitude) * kmPerDegree;
      const double bx = (ring[i].longitude - p.longitude) * shrink * kmPerDegree;
      const double by = (ring[i].latitude - p.latitude) * kmPerDegree;
      if (std::min(std::fabs(ay), std::fabs(by)) > best && ay * by > 0) continue;
      const double dx = bx - ax, dy = by - ay;
      const double len2 = dx * dx + dy * dy;
      const double t = len2 > 0 ? std::clamp(-(ax * dx + ay * dy) / len2, 0.0, 1.0) : 0.0;
      best = std::min(best, std::hypot(ax + t * dx, ay + t * dy));
    }
  }
  return best;
}

// A simulated NOAA pass southward over Denmark and southern Sweden, 300 scan lines, recorded by
// the capture engine and pictured: on its map, every land/sea edge of the picture within 250 km of
// the ground track lies within 5 km of the coastline drawn over it. A picture placed a second
// late, mirrored or scanned at another angle puts these edges 6 km to hundreds of km off.
TEST(PassMap, ASimulatedPassLinesUpWithTheCoastlines) {
  const std::string elements = ElementLines("241.0000");
  Recording pass(elements, -1, -1, 50, true);
  CaptureImagesResult made = MakeCaptureImages(pass.capture(), pass.dir.path());
  ASSERT_TRUE(made.ok) << made.error;
  const nlohmann::json map = Record(pass.dir.path())["map"];
  ASSERT_TRUE(map.is_object());
  EXPECT_EQ(map["projection"], "stereographic");
  const StereographicView view({map["centre_longitude"], map["centre_latitude"]},
                               map["km_per_pixel"], map["west_km"], map["north_km"]);
  const Picture picture = ReadPng(pass.dir.path() / (std::string(kCapture) + ".map.png"), true);
  ASSERT_EQ(picture.width, map["width"]);
  ASSERT_EQ(picture.height, map["height"]);

  // Clear sea is dark in channel 2 (red) and mid-grey in the 10.8 um channel (blue); clear land
  // is brighter in red and darker in blue; cloud is bright in both.
  enum Kind { Other, Sea, Land };
  auto kind = [&](int x, int y) {
    const std::uint8_t* p = &picture.pixels[(static_cast<std::size_t>(y) * picture.width + x) * 3];
    if (p[0] < 40 && p[2] > 40 && p[2] < 110) return Sea;
    if (p[0] >= 60 && p[0] < 200 && p[2] < 40) return Land;
    return Other;
  };
  std::vector<std::array<double, 2>> track;
  for (const GeoPoint& g : GroundTrack(*ElementsOfText(elements), kAos, 50, 1))
    if (auto at = view.Pixel(g)) track.push_back(*at);
  const double nearTrack = 250 / view.kmPerPixel();
  const Coastlines coastlines = BuiltInCoastlines();
  std::vector<double> km;
  int sea = 0, land = 0;
  for (int y = 2; y + 2 < picture.height; ++y) {
    for (int x = 2; x + 2 < picture.width; ++x) {
      const Kind k = kind(x, y);
      sea += k == Sea;
      land += k == Land;
      if (k != Land) continue;
      // The coastline drawn over the picture parts land from sea by a line a pixel wide: the
      // edge lies half-way to the nearest sea pixel within two.
      int seaDx = 0, seaDy = 0, seaD2 = 99;
      for (int dy = -2; dy <= 2; ++dy) {
        for (int dx = -2; dx <= 2; ++dx) {
          if (dx * dx + dy * dy < seaD2 && kind(x + dx, y + dy) == Sea) {
            seaD2 = dx * dx + dy * dy;
            seaDx = dx;
            seaDy = dy;
          }
        }
      }
      if (seaD2 == 99) continue;
      const bool near = std::any_of(track.begin(), track.end(), [&](const auto& t) {
        return std::hypot(t[0] - x - 0.5, t[1] - y - 0.5) < nearTrack;
      });
      if (near)
        km.push_back(
            KmToCoast(view.Ground(x + 0.5 + seaDx / 2.0, y + 0.5 + seaDy / 2.0), coastlines));
    }
  }
  ASSERT_GT(km.size(), 200u) << sea << " sea, " << land << " land pixels";
  std::sort(km.begin(), km.end());
  const double median = km[km.size() / 2];
  const double worst = km.back();
  RecordProperty("edge_pixels", static_cast<int>(km.size()));
  RecordProperty("median_km", std::to_string(median));
  RecordProperty("worst_km", std::to_string(worst));
  EXPECT_LT(median, 1.0) << km.size() << " edges, " << view.kmPerPixel() << " km a pixel";
  EXPECT_LE(worst, 5.0) << km.size() << " edges, " << view.kmPerPixel() << " km a pixel";
}

}  // namespace
}  // namespace halvik
