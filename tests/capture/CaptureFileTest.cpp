#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "CaptureFakes.h"
#include "capture/CaptureFile.h"
#include "capture/CaptureFileReader.h"
#include "platform/Clock.h"
#include "platform/Messages.h"
#include "platform/Text.h"
#include "support/TempDir.h"

namespace halvik {
namespace {

namespace fs = std::filesystem;
using testing::FakeSystemInfo;
using testing::FrameKind;
using testing::MakeFrame;
using testing::ReadWords;
using testing::RecordingSpawner;

constexpr std::int64_t kWednesday2Jan2002Noon = 1009972800;  // 2002-01-02T12:00:00Z

const char* kElements =
    "NOAA 14\n"
    "1 23455U 94089A   02001.50000000  .00000100  00000-0  80000-4 0  9990\n"
    "2 23455  99.1000 100.0000 0010000 200.0000 160.0000 14.12000000 10000\n"
    "NOAA 15   \n"
    "1 25338U 98030A   02001.50000000  .00000100  00000-0  60000-4 0  9991\n"
    "2 25338  98.6000  50.0000 0011000 100.0000 260.0000 14.23000000 20000\n"
    "NOAA 16\t\n"
    "1 26536U 00055A   02001.50000000  .00000100  00000-0  70000-4 0  9992\n"
    "2 26536  99.0000  60.0000 0010000 110.0000 250.0000 14.11000000 30000\n";

// Runs the test in the UTC zone so that dates are the same on every machine.
class ZoneGuard {
 public:
  explicit ZoneGuard(const char* zone) {
    const char* old = getenv("TZ");
    if (old) saved_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ZoneGuard() {
    if (saved_) {
      setenv("TZ", saved_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  std::optional<std::string> saved_;
};

class CaptureFileTest : public ::testing::Test {
 protected:
  CaptureFileContext Context() {
    return CaptureFileContext{dir.path(), clock,   messages,
                              systemInfo, spawner, budget ? &*budget : nullptr};
  }
  void Touch(const std::string& name, std::int64_t mtime, const std::string& content = "x") {
    dir.Write(name, content);
    fs::last_write_time(
        dir.path() / name,
        fs::file_time_type::clock::now() + std::chrono::seconds(mtime - kWednesday2Jan2002Noon));
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir.path())) {
      names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  std::size_t Size(const std::string& name) const { return fs::file_size(dir.path() / name); }

  ZoneGuard zone{"UTC"};
  TempDir dir;
  ManualClock clock{SystemTime{kWednesday2Jan2002Noon, 0}};
  RecordingMessages messages;
  FakeSystemInfo systemInfo;
  RecordingSpawner spawner;
  std::optional<DiskBudget> budget;
};

TEST_F(CaptureFileTest, NamesFollowDateLetterAndCode) {
  // --- Codes by satellite, letter case ignored ---
  EXPECT_EQ(CaptureFileCode("noaa 9"), "N09");
  EXPECT_EQ(CaptureFileCode("NOAA 10"), "N10");
  EXPECT_EQ(CaptureFileCode("Noaa 16"), "N16");
  EXPECT_EQ(CaptureFileCode("SeaStar"), "str");
  EXPECT_EQ(CaptureFileCode("OrbView 2"), "str");
  EXPECT_EQ(CaptureFileCode("orbview 2 (seastar)"), "str");
  EXPECT_EQ(CaptureFileCode("FENGYUN 1C"), "fy1");
  // Names in no row: another NOAA number keeps it, anything else is N00; both are NOAA-like.
  EXPECT_EQ(CaptureFileCode("NOAA 17"), "N17");
  EXPECT_EQ(CaptureFileCode("noaa 5"), "N05");
  EXPECT_EQ(CaptureFileCode("NOAA 15 [+]"), "N00");
  EXPECT_EQ(CaptureFileCode("noaa 123"), "N00");
  EXPECT_EQ(CaptureFileCode("METEOR 3-5"), "N00");
  EXPECT_EQ(FamilyForSatellite("METEOR 3-5"), SatelliteFamily::Noaa);
  EXPECT_EQ(FamilyForSatellite("Orbview 2"), SatelliteFamily::SeaStar);
  EXPECT_EQ(FamilyForSatellite("FengYun 1C"), SatelliteFamily::FengYun);
  EXPECT_EQ(FamilyForSatellite("fengyun 1d"), SatelliteFamily::Noaa);

  // --- Two captures the same day: A, then B ---
  CaptureFile file(Context());
  ASSERT_TRUE(file.OpenCaptureFile("NOAA 14", SatelliteFamily::Noaa));
  EXPECT_EQ(file.finalName(), "We02JanA.N14");
  EXPECT_EQ(file.temporaryName(), "We02JanA.tmp");
  auto frame = MakeFrame(FrameKind::Sync, 1, 11090);
  ASSERT_TRUE(file.WriteFrame(frame.data()));
  file.FinishCaptureFile(true);
  ASSERT_TRUE(file.OpenCaptureFile("NOAA 14", SatelliteFamily::Noaa));
  EXPECT_EQ(file.finalName(), "We02JanB.N14");
  file.CloseCaptureFile();

  // --- Another satellite the same day starts at A again, past a leftover temporary file ---
  // We02JanB.tmp (left by the close above) holds a header: a recording, so B is passed over.
  ASSERT_TRUE(file.OpenCaptureFile("NOAA 15", SatelliteFamily::Noaa));
  EXPECT_EQ(file.finalName(), "We02JanA.N15");
  EXPECT_EQ(file.temporaryName(), "We02JanA.tmp");
  file.FinishCaptureFile(false);
  EXPECT_TRUE(fs::exists(dir.path() / "We02JanB.tmp"));
  ASSERT_TRUE(file.OpenCaptureFile("NOAA 14", SatelliteFamily::Noaa));
  EXPECT_EQ(file.finalName(), "We02JanC.N14") << "B is still held by its temporary file";
  file.FinishCaptureFile(false);

  // --- An empty file under a name does not hold it ---
  dir.Write("We02JanA.fy1", "");
  ASSERT_TRUE(file.OpenCaptureFile("FengYun 1C", SatelliteFamily::FengYun));
  EXPECT_EQ(file.finalName(), "We02JanA.fy1");
  ASSERT_TRUE(file.WriteFrame(MakeFrame(FrameKind::Sync, 1, 22180).data()));
  file.FinishCaptureFile(true);
  EXPECT_EQ(Size("We02JanA.fy1"), 3u * 44360u) << "the empty file gave way to the capture";
  EXPECT_TRUE(messages.Shown().empty());
}

TEST_F(CaptureFileTest, LettersRunOnAfterZAndTheNameRunsOut) {
  CaptureFile file(Context());
  for (char c = 'A'; c <= 'Z'; ++c) dir.Write(std::string("We02Jan") + c + ".N14", "x");
  ASSERT_TRUE(file.OpenCaptureFile("NOAA 14", SatelliteFamily::Noaa));
  EXPECT_EQ(file.finalName(), "We02Jan1.N14");
  file.FinishCaptureFile(false);
  for (char c = '1'; c <= '9'; ++c) dir.Write(std::string("We02Jan") + c + ".N14", "x");
  ASSERT_TRUE(file.OpenCaptureFile("NOAA 14", SatelliteFamily::Noaa));
  EXPECT_EQ(file.finalName(), "We02Jana.N14");
  file.FinishCaptureFile(false);
  for (char c = 'a'; c <= 'z'; ++c) dir.Write(std::string("We02Jan") + c + ".N14", "x");
  EXPECT_FALSE(file.OpenCaptureFile("NOAA 14", SatelliteFamily::Noaa));
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(messages.Shown(),
            std::vector<std::string>{"Cannot Create Capture File: No Free Name for We02Jan?.N14"});
  // Every one of the 61 files is still there.
  EXPECT_EQ(Names().size(), 61u);
}

TEST_F(CaptureFileTest, DatePartIsTheUtcDateOrOneHourLaterUnderSummerTime) {
  EXPECT_EQ(CaptureDatePart(kWednesday2Jan2002Noon), "We02Jan");
  EXPECT_EQ(CaptureDatePart(1026343800), "We10Jul");  // 2002-07-10T23:30:00Z
  EXPECT_EQ(CaptureDatePart(0), "Th01Jan");
  EXPECT_EQ(CaptureDatePart(1009843199), "Mo31Dec");  // 2001-12-31T23:59:59Z
  {
    // West of Greenwich in winter: still the UTC date.
    ZoneGuard newYork("EST5EDT,M3.2.0,M11.1.0");
    EXPECT_EQ(CaptureDatePart(1009843199), "Mo31Dec");
    EXPECT_EQ(CaptureDatePart(1009843200), "Tu01Jan");
  }
  {
    // Central Europe: the UTC date in winter, UTC + 1 h under summer time.
    ZoneGuard berlin("CET-1CEST,M3.5.0,M10.5.0/3");
    EXPECT_EQ(CaptureDatePart(kWednesday2Jan2002Noon), "We02Jan");
    EXPECT_EQ(CaptureDatePart(1009843199), "Mo31Dec");
    EXPECT_EQ(CaptureDatePart(1026343800), "Th11Jul");
  }
}

TEST_F(CaptureFileTest, HeaderBlockCarriesTheElementSet) {
  dir.Write("elements.dat", kElements);
  CaptureFile file(Context());

  // --- Found: 0x8000 0x8000 0x0000, then the three lines one character per word ---
  ASSERT_TRUE(file.OpenCaptureFile("noaa 14", SatelliteFamily::Noaa));
  file.CloseCaptureFile();
  auto words = ReadWords(dir.path() / "We02JanA.tmp");
  ASSERT_EQ(words.size(), 11090u);
  EXPECT_EQ(words[0], 0x8000);
  EXPECT_EQ(words[1], 0x8000);
  EXPECT_EQ(words[2], 0x0000);
  std::string expected =
      std::string("NOAA 14") + '\0' +
      "1 23455U 94089A   02001.50000000  .00000100  00000-0  80000-4 0  9990" + '\0' +
      "2 23455  99.1000 100.0000 0010000 200.0000 160.0000 14.12000000 10000" + '\0';
  for (std::size_t i = 0; i < expected.size(); ++i) {
    ASSERT_EQ(words[3 + i], static_cast<std::uint16_t>(expected[i])) << "word " << 3 + i;
  }
  for (std::size_t i = 3 + expected.size(); i < words.size(); ++i) ASSERT_EQ(words[i], 0);

  // --- A name line padded with spaces matches; the header holds the name without them ---
  fs::remove(dir.path() / "We02JanA.tmp");
  ASSERT_TRUE(file.OpenCaptureFile("NOAA 15", SatelliteFamily::Noaa));
  file.CloseCaptureFile();
  words = ReadWords(dir.path() / "We02JanA.tmp");
  EXPECT_EQ(words[2], 0x0000);
  EXPECT_EQ(words[3 + 7], 0) << "NOAA 15 and its end";
  EXPECT_EQ(words[3 + 8], '1');

  // --- A name line ending in a tab does not match: not found, no text, one block ---
  fs::remove(dir.path() / "We02JanA.tmp");
  ASSERT_TRUE(file.OpenCaptureFile("NOAA 16", SatelliteFamily::Noaa));
  file.CloseCaptureFile();
  words = ReadWords(dir.path() / "We02JanA.tmp");
  ASSERT_EQ(words.size(), 11090u);
  EXPECT_EQ(words[0], 0x8000);
  EXPECT_EQ(words[1], 0x8000);
  EXPECT_EQ(words[2], 0xFFFF);
  for (std::size_t i = 3; i < words.size(); ++i) ASSERT_EQ(words[i], 0);

  // --- Characters above 0x7F are sign-extended; a FengYun header is a FengYun block ---
  fs::remove(dir.path() / "We02JanA.tmp");
  dir.Write("elements.dat", "FENGYUN 1C\n1 \xE9\n2 x\n");
  ASSERT_TRUE(file.OpenCaptureFile("fengyun 1c", SatelliteFamily::FengYun));
  file.CloseCaptureFile();
  words = ReadWords(dir.path() / "We02JanA.tmp");
  ASSERT_EQ(words.size(), 22180u);
  EXPECT_EQ(words[2], 0x0000);
  EXPECT_EQ(words[3 + 11 + 2], 0xFFE9);

  // --- No elements.dat at all: not found ---
  fs::remove(dir.path() / "We02JanA.tmp");
  fs::remove(dir.path() / "elements.dat");
  ASSERT_TRUE(file.OpenCaptureFile("NOAA 14", SatelliteFamily::Noaa));
  file.CloseCaptureFile();
  words = ReadWords(dir.path() / "We02JanA.tmp");
  ASSERT_EQ(words.size(), 11090u);
  EXPECT_EQ(words[2], 0xFFFF);
}

TEST_F(CaptureFileTest, MarkersCarryKindCountAndTime) {
  CaptureFile file(Context());
  ASSERT_TRUE(file.OpenCaptureFile("NOAA 14", SatelliteFamily::Noaa));
  clock.Set(SystemTime{0x12345678, 0});
  ASSERT_TRUE(file.WriteMarker(MarkerKind::SyncAcquired, 30));
  clock.Set(SystemTime{kWednesday2Jan2002Noon, 999});
  ASSERT_TRUE(file.WriteMarker(MarkerKind::SyncLost, 30));
  ASSERT_TRUE(file.WriteMarker(MarkerKind::SyncAcquired, 2));
  file.FinishCaptureFile(true);
  auto words = ReadWords(dir.path() / "We02JanA.N14");
  ASSERT_EQ(words.size(), 5u * 11090u);
  auto marker = [&](int block) {
    return std::vector<std::uint16_t>(&words[block * 11090], &words[block * 11090 + 6]);
  };
  EXPECT_EQ(marker(1), (std::vector<std::uint16_t>{0x8000, 0x8100, 30, 0x1234, 0x5678, 0}));
  const std::uint16_t high = kWednesday2Jan2002Noon >> 16, low = kWednesday2Jan2002Noon & 0xFFFF;
  EXPECT_EQ(marker(2), (std::vector<std::uint16_t>{0x8000, 0x8200, 30, high, low, 0}));
  EXPECT_EQ(marker(3), (std::vector<std::uint16_t>{0x8000, 0x8100, 2, high, low, 0}));
  EXPECT_EQ(marker(4), (std::vector<std::uint16_t>{0x8000, 0x8300, 0, high, low, 0}));
  for (int i = 5; i < 11090; ++i) ASSERT_EQ(words[4 * 11090 + i], 0);
}

TEST_F(CaptureFileTest, FinishedCapturesAreRenamedAndPostProcessed) {
  CaptureFile file(Context());
  auto frame = MakeFrame(FrameKind::Sync, 7, 11090);

  // --- Frames written: final name, the family's program with the full path ---
  ASSERT_TRUE(file.OpenCaptureFile("NOAA 14", SatelliteFamily::Noaa));
  ASSERT_TRUE(file.WriteMarker(MarkerKind::SyncAcquired, 30));
  ASSERT_TRUE(file.WriteFrame(frame.data()));
  file.FinishCaptureFile(true);
  EXPECT_FALSE(fs::exists(dir.path() / "We02JanA.tmp"));
  ASSERT_TRUE(fs::exists(dir.path() / "We02JanA.N14"));
  auto spawned = spawner.Spawned();
  ASSERT_EQ(spawned.size(), 1u);
  EXPECT_EQ(spawned[0].program, dir.path() / "ppnoaa.exe");
  const std::string full = fs::canonical(dir.path() / "We02JanA.N14").string();
  EXPECT_EQ(spawned[0].argv, (std::vector<std::string>{"ppnoaa.exe", full}));
  EXPECT_TRUE(fs::path(spawned[0].argv[1]).is_absolute());

  // --- No frame written: the file goes, no program starts ---
  ASSERT_TRUE(file.OpenCaptureFile("seastar", SatelliteFamily::SeaStar));
  ASSERT_TRUE(file.WriteMarker(MarkerKind::SyncAcquired, 30));
  file.FinishCaptureFile(false);
  EXPECT_EQ(Names(), std::vector<std::string>{"We02JanA.N14"});
  EXPECT_EQ(spawner.Spawned().size(), 1u);

  // --- Each family its program ---
  ASSERT_TRUE(file.OpenCaptureFile("seastar", SatelliteFamily::SeaStar));
  ASSERT_TRUE(file.WriteFrame(frame.data()));
  file.FinishCaptureFile(true);
  ASSERT_TRUE(file.OpenCaptureFile("FENGYUN 1C", SatelliteFamily::FengYun));
  ASSERT_TRUE(file.WriteFrame(MakeFrame(FrameKind::Sync, 1, 22180).data()));
  file.FinishCaptureFile(true);
  spawned = spawner.Spawned();
  ASSERT_EQ(spawned.size(), 3u);
  EXPECT_EQ(spawned[1].argv[0], "ppsea.exe");
  EXPECT_EQ(spawned[1].argv[1], fs::canonical(dir.path() / "We02JanA.str").string());
  EXPECT_EQ(spawned[2].program, dir.path() / "ppfy1c.exe");
  EXPECT_EQ(spawned[2].argv[1], fs::canonical(dir.path() / "We02JanA.fy1").string());

  // --- Nothing open: finishing does nothing ---
  file.FinishCaptureFile(true);
  EXPECT_EQ(spawner.Spawned().size(), 3u);
  EXPECT_TRUE(messages.Shown().empty());
}

TEST_F(CaptureFileTest, LeftoverTemporaryFilesAreFinished) {
  dir.Write("elements.dat", kElements);
  const auto frame = MakeFrame(FrameKind::Sync, 7, 11090);
  // --- a recording cut off mid-block by a crash, last written in 2040 ---
  {
    CaptureFile crashed(Context());
    ASSERT_TRUE(crashed.OpenCaptureFile("NOAA 15", SatelliteFamily::Noaa));
    ASSERT_TRUE(crashed.WriteMarker(MarkerKind::SyncAcquired, 30));
    ASSERT_TRUE(crashed.WriteFrame(frame.data()));
    ASSERT_TRUE(crashed.WriteFrame(frame.data()));
    crashed.CloseCaptureFile();
    // A header-only recording and an empty one hold nothing.
    ASSERT_TRUE(crashed.OpenCaptureFile("NOAA 14", SatelliteFamily::Noaa));
    crashed.CloseCaptureFile();
  }
  {
    std::ofstream torn(dir.path() / "We02JanA.tmp", std::ios::binary | std::ios::app);
    torn << std::string(1000, '\x01');
  }
  constexpr std::int64_t k2040 = 2208988800;  // 2040-01-01T00:00:00Z, past 2^31 s
  const timespec times[2] = {{k2040, 0}, {k2040, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, (dir.path() / "We02JanA.tmp").c_str(), times, 0), 0);
  dir.Write("Su01JanA.tmp", "");
  dir.Write("notes.tmp", "kept");

  CaptureFile file(Context());
  file.FinishLeftoverCaptures();
  EXPECT_EQ(Names(), (std::vector<std::string>{"We02JanA.N15", "elements.dat", "notes.tmp"}));
  auto words = ReadWords(dir.path() / "We02JanA.N15");
  ASSERT_EQ(words.size(), 5u * 11090u) << "header, marker, two frames, end; the torn block gone";
  EXPECT_EQ(std::vector<std::uint16_t>(&words[4 * 11090], &words[4 * 11090 + 6]),
            (std::vector<std::uint16_t>{0x8000, 0x8300, 0, 0x83AA, 0x7E80, 0}));
  auto spawned = spawner.Spawned();
  ASSERT_EQ(spawned.size(), 1u);
  EXPECT_EQ(spawned[0].argv,
            (std::vector<std::string>{"ppnoaa.exe",
                                      fs::canonical(dir.path() / "We02JanA.N15").string()}));
  EXPECT_TRUE(messages.Shown().empty());
}

// A CADU with the marker damaged in `markerErrors` bits and `fill` as its other bytes.
std::vector<std::uint16_t> Cadu(int markerErrors, std::uint8_t fill) {
  std::vector<std::uint16_t> cadu(kCaduBytes, fill);
  for (std::size_t i = 0; i < kCaduMarker.size(); ++i) cadu[i] = kCaduMarker[i];
  for (int b = 0; b < markerErrors; ++b) cadu[static_cast<std::size_t>(b)] ^= 0x01;
  return cadu;
}

nlohmann::json ReadJson(const fs::path& path) {
  std::ifstream in(path);
  return nlohmann::json::parse(in, nullptr, false);
}

TEST_F(CaptureFileTest, ACaduPassIsPlainCadusWithItsRecordBeside) {
  dir.Write("elements.dat",
            "METEOR-M2 3\n"
            "1 57166U 23091A   26001.50000000  .00000100  00000-0  60000-4 0  9990\n"
            "2 57166  98.7000  50.0000 0004000 100.0000 260.0000 14.24000000 20000\n");
  CaptureFile file(Context());
  // --- A whole pass: clean markers in the file, their errors and the events in the record ---
  ASSERT_TRUE(file.OpenCaptureFile("METEOR-M2 3", SatelliteFamily::Meteor));
  ASSERT_TRUE(file.WriteMarker(MarkerKind::SyncAcquired, 30));
  ASSERT_TRUE(file.WriteFrame(Cadu(0, 0x11).data()));
  ASSERT_TRUE(file.WriteFrame(Cadu(2, 0x22).data()));
  clock.Advance(600000);
  ASSERT_TRUE(file.WriteMarker(MarkerKind::SyncLost, 30));
  ASSERT_TRUE(file.WriteFrame(Cadu(0, 0x33).data()));
  file.FinishCaptureFile(true);
  EXPECT_EQ(Names(), (std::vector<std::string>{"We02JanA.mtr.cadu", "We02JanA.mtr.pass.json",
                                               "elements.dat"}));
  std::ifstream in(dir.path() / "We02JanA.mtr.cadu", std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_EQ(bytes.size(), 3u * kCaduBytes);
  for (std::size_t k = 0; k < 3; ++k) {
    EXPECT_EQ(bytes.substr(k * kCaduBytes, 5),
              std::string("\x1a\xcf\xfc\x1d") + static_cast<char>(0x11 * (k + 1)));
  }
  nlohmann::json record = ReadJson(dir.path() / "We02JanA.mtr.pass.json");
  EXPECT_EQ(record["satellite"], "METEOR-M2 3");
  EXPECT_EQ(record["family"], "meteor");
  ASSERT_EQ(record["element_set"].size(), 3u);
  EXPECT_EQ(record["element_set"][1].get<std::string>().substr(0, 7), "1 57166");
  EXPECT_EQ(record["start_utc"], "2002-01-02T12:00:00Z");
  EXPECT_EQ(record["end_utc"], "2002-01-02T12:10:00Z");
  EXPECT_EQ(record["cadus"], 3);
  EXPECT_EQ(record["marker_bits"], 96);
  EXPECT_EQ(record["marker_bit_errors"], 2);
  EXPECT_EQ(record["sync_losses"], 1);
  ASSERT_EQ(record["events"].size(), 2u);
  EXPECT_EQ(record["events"][1]["event"], "sync_lost");
  EXPECT_EQ(record["events"][1]["utc"], "2002-01-02T12:10:00Z");
  EXPECT_EQ(record["finished_after_interruption"], false);
  EXPECT_FALSE(record.contains("rs_corrected_bytes"));  // Meteor's downlink is not coded
  ASSERT_EQ(spawner.Spawned().size(), 1u);
  EXPECT_EQ(spawner.Spawned()[0].argv,
            (std::vector<std::string>{"ppmeteor.exe",
                                      fs::canonical(dir.path() / "We02JanA.mtr.cadu").string()}));
  std::ostringstream out, err;
  EXPECT_EQ(InspectCaptureFile(dir.path() / "We02JanA.mtr.cadu", out, err), 0);
  EXPECT_EQ(out.str(), "header found \"METEOR-M2 3\" \"" +
                           record["element_set"][1].get<std::string>() + "\" \"" +
                           record["element_set"][2].get<std::string>() +
                           "\"\n"
                           "marker sync_acquired 30 2002-01-02T12:00:00Z\n"
                           "cadus 2 sync 2\n"
                           "marker sync_lost 30 2002-01-02T12:10:00Z\n"
                           "cadus 1 sync 1\n"
                           "total cadus 3 counter-gaps 2 bytes 3072\n");

  // --- A pass cut off by a crash mid-CADU is finished at the next start ---
  {
    CaptureFile crashed(Context());
    ASSERT_TRUE(crashed.OpenCaptureFile("METEOR-M2 3", SatelliteFamily::Meteor));
    // The decoder's work so far goes with each line of the log, so a crash keeps it.
    crashed.NoteCoding({7, 1});
    ASSERT_TRUE(crashed.WriteMarker(MarkerKind::SyncAcquired, 30));
    ASSERT_TRUE(crashed.WriteFrame(Cadu(1, 0x44).data()));
    ASSERT_TRUE(crashed.WriteFrame(Cadu(0, 0x55).data()));
    crashed.CloseCaptureFile();
  }
  {
    std::ofstream torn(dir.path() / "We02JanB.mtr.cadu.part", std::ios::binary | std::ios::app);
    torn << std::string(100, '\x01');
    std::ofstream log(dir.path() / "We02JanB.mtr.pass.json.part", std::ios::app);
    // A damaged line of the wrong types is passed over, then the line being written when it
    // died.
    log << "{\"event\": 5, \"after\": \"x\", \"tally\": {\"cadus\": \"many\"}}\n";
    log << "{\"event\": \"sync_lo";
  }
  CaptureFile restarted(Context());
  restarted.FinishLeftoverCaptures();
  EXPECT_EQ(fs::file_size(dir.path() / "We02JanB.mtr.cadu"), 2u * kCaduBytes);
  EXPECT_FALSE(fs::exists(dir.path() / "We02JanB.mtr.cadu.part"));
  EXPECT_FALSE(fs::exists(dir.path() / "We02JanB.mtr.pass.json.part"));
  record = ReadJson(dir.path() / "We02JanB.mtr.pass.json");
  EXPECT_EQ(record["satellite"], "METEOR-M2 3");
  EXPECT_EQ(record["cadus"], 2);
  EXPECT_EQ(record["events"].size(), 2u);
  EXPECT_EQ(record["rs_corrected_bytes"], 7);
  EXPECT_EQ(record["rs_uncorrectable_codewords"], 1);
  EXPECT_EQ(record["finished_after_interruption"], true);
  EXPECT_EQ(spawner.Spawned().size(), 2u);
  // A record damaged by hand still lets inspect list the CADUs.
  dir.Write("We02JanB.mtr.pass.json", R"({"element_set": [1, 2, 3], "events": {"a": 1}})");
  std::ostringstream listed, refused;
  EXPECT_EQ(InspectCaptureFile(dir.path() / "We02JanB.mtr.cadu", listed, refused), 0);
  EXPECT_TRUE(listed.str().starts_with("header not-found\ncadus 2 sync 2\n")) << listed.str();

  // --- Pruning takes a capture's record with it, and never an HRPT family's files ---
  Touch("Mo01JanA.N15", kWednesday2Jan2002Noon - 86400 * 3);
  fs::last_write_time(dir.path() / "We02JanA.mtr.cadu",
                      fs::file_time_type::clock::now() - std::chrono::hours(48));
  file.PruneCaptureFiles(SatelliteFamily::Meteor, 1);
  EXPECT_EQ(Names(), (std::vector<std::string>{"Mo01JanA.N15", "We02JanB.mtr.cadu",
                                               "We02JanB.mtr.pass.json", "elements.dat"}));
  EXPECT_TRUE(messages.Shown().empty());
}

TEST_F(CaptureFileTest, AFailedRenameKeepsTheRecordingUnderItsTemporaryName) {
  CaptureFile file(Context());
  ASSERT_TRUE(file.OpenCaptureFile("NOAA 14", SatelliteFamily::Noaa));
  ASSERT_TRUE(file.WriteFrame(MakeFrame(FrameKind::Sync, 1, 11090).data()));
  // Something else claims the final name during the pass.
  dir.Write("We02JanA.N14", "another recording");
  file.FinishCaptureFile(true);
  EXPECT_EQ(dir.Read("We02JanA.N14"), "another recording");
  ASSERT_TRUE(fs::exists(dir.path() / "We02JanA.tmp"));
  EXPECT_EQ(Size("We02JanA.tmp"), 3u * 22180u) << "header, frame, end marker";
  EXPECT_TRUE(spawner.Spawned().empty());
  EXPECT_EQ(messages.Shown(),
            std::vector<std::string>{
                "Cannot Rename Capture File We02JanA.tmp to We02JanA.N14: Kept as We02JanA.tmp"});
  // The next capture leaves the kept recording alone.
  ASSERT_TRUE(file.OpenCaptureFile("NOAA 14", SatelliteFamily::Noaa));
  EXPECT_EQ(file.finalName(), "We02JanB.N14");
  file.FinishCaptureFile(false);
  EXPECT_EQ(Size("We02JanA.tmp"), 3u * 22180u);
}

TEST_F(CaptureFileTest, PruningKeepsTheNewestOfTheFamily) {
  // --- 101 NOAA captures: a NOAA capture deletes exactly the oldest ---
  for (int i = 0; i < 101; ++i) {
    Touch(Format("Mo%02dJan%c.N%02d", 1 + i % 28, 'A' + i / 28, 9 + i % 8),
          kWednesday2Jan2002Noon - 86400 + 600 * ((i * 37) % 101));
  }
  const std::string oldest = Format("Mo%02dJan%c.N%02d", 1 + 0, 'A', 9);  // i = 0: offset 0
  dir.Write("sats.dat.new", "NOAA 14\n");
  fs::last_write_time(dir.path() / "sats.dat.new",
                      fs::file_time_type::clock::now() - std::chrono::hours(100));
  dir.Write("We01JanA.tmp", "leftover");
  CaptureFile file(Context());
  ASSERT_TRUE(file.OpenCaptureFile("seastar", SatelliteFamily::SeaStar));
  file.FinishCaptureFile(false);
  EXPECT_EQ(Names().size(), 101u + 2u) << "a SeaStar capture deletes no NOAA capture";
  ASSERT_TRUE(file.OpenCaptureFile("NOAA 14", SatelliteFamily::Noaa));
  file.FinishCaptureFile(false);
  auto names = Names();
  EXPECT_EQ(names.size(), 100u + 2u);
  EXPECT_EQ(std::count(names.begin(), names.end(), oldest), 0) << oldest << " was the oldest";
  // Station files and temporary captures are never pruned, however old.
  EXPECT_TRUE(fs::exists(dir.path() / "sats.dat.new"));
  EXPECT_TRUE(fs::exists(dir.path() / "We01JanA.tmp"));

  // --- Equal times: the first in name order goes first ---
  TempDir other;
  const auto anHourAgo = std::chrono::floor<std::chrono::seconds>(fs::file_time_type::clock::now() -
                                                                  std::chrono::hours(1));
  for (const char* name : {"Tu01JanC.str", "Tu01JanA.str", "Tu01JanB.str"}) {
    other.Write(name, "x");
    fs::last_write_time(other.path() / name, anHourAgo);
  }
  CaptureFileContext context = Context();
  context.workingDirectory = other.path();
  CaptureFile otherFile(context);
  otherFile.PruneCaptureFiles(SatelliteFamily::SeaStar, 2);
  EXPECT_FALSE(fs::exists(other.path() / "Tu01JanA.str"));
  EXPECT_TRUE(fs::exists(other.path() / "Tu01JanB.str"));
  // Pattern letters ignore case: "*.N*" takes ".n15" too.
  other.Write("Tu01JanA.n15", "x");
  other.Write("Tu01JanB.N15", "x");
  otherFile.PruneCaptureFiles(SatelliteFamily::Noaa, 1);
  EXPECT_EQ(fs::exists(other.path() / "Tu01JanA.n15") + fs::exists(other.path() / "Tu01JanB.N15"),
            1);
}

TEST_F(CaptureFileTest, LowFreeSpacePrunesDownToTheNewestFile) {
  for (int i = 0; i < 20; ++i)
    Touch(Format("Tu01Jan%c.N14", 'A' + i), kWednesday2Jan2002Noon - 3600 + 60 * i);

  // --- Never enough space: the rule stops at one file, the newest, and the capture goes on ---
  systemInfo.free = [] { return std::optional<double>(199999999.0); };
  CaptureFile file(Context());
  ASSERT_TRUE(file.OpenCaptureFile("NOAA 14", SatelliteFamily::Noaa));
  file.FinishCaptureFile(false);
  EXPECT_EQ(Names(), std::vector<std::string>{"Tu01JanT.N14"});
  EXPECT_EQ(systemInfo.queries, 100) << "one query, then one after each limit 99 .. 1";

  // --- Space comes back as files go: the rule stops as soon as there is enough ---
  for (int i = 0; i < 19; ++i)
    Touch(Format("Mo31Dec%c.N15", 'A' + i), kWednesday2Jan2002Noon - 7200 + 60 * i);
  systemInfo.queries = 0;
  systemInfo.free = [this] {
    auto files = static_cast<double>(Names().size());
    return std::optional<double>(files > 15 ? 1e8 : 2e8);
  };
  ASSERT_TRUE(file.OpenCaptureFile("NOAA 15", SatelliteFamily::Noaa));
  file.FinishCaptureFile(false);
  EXPECT_EQ(Names().size(), 15u);
  EXPECT_TRUE(fs::exists(dir.path() / "Tu01JanT.N14")) << "the newest files stay";

  // --- A failed query counts as enough space ---
  systemInfo.free = [] { return std::optional<double>(); };
  ASSERT_TRUE(file.OpenCaptureFile("NOAA 15", SatelliteFamily::Noaa));
  file.FinishCaptureFile(false);
  EXPECT_EQ(Names().size(), 15u);
}

TEST_F(CaptureFileTest, LowFreeSpaceTakesBasebandRecordingsBeforeCaptures) {
  for (int i = 0; i < 3; ++i) Touch(Format("Tu01Jan%c.N14", 'A' + i), kWednesday2Jan2002Noon - 60);
  // Three passes' baseband, the newest first in name order; each pair counts as one.
  for (const auto& [stamp, age] : {std::pair{"20020102T110000Z", 3600},
                                   {"20020101T110000Z", 7200},
                                   {"20020101T100000Z", 10800}}) {
    Touch(std::string(kIqRecordingPrefix) + stamp + ".sigmf-data", kWednesday2Jan2002Noon - age);
    Touch(std::string(kIqRecordingPrefix) + stamp + ".sigmf-meta", kWednesday2Jan2002Noon - age);
  }
  // Space is back once two recordings are gone.
  systemInfo.free = [this] { return std::optional<double>(Names().size() > 5 ? 1e8 : 2e8); };
  CaptureFile file(Context());
  ASSERT_TRUE(file.OpenCaptureFile("NOAA 14", SatelliteFamily::Noaa));
  file.FinishCaptureFile(false);
  EXPECT_EQ(Names(), (std::vector<std::string>{"Tu01JanA.N14", "Tu01JanB.N14", "Tu01JanC.N14",
                                               "iq-20020102T110000Z.sigmf-data",
                                               "iq-20020102T110000Z.sigmf-meta"}));
}

TEST_F(CaptureFileTest, AFullDiskCutsTheShortBlockOff) {
  // Room for the header, a marker, one frame and half of the next.
  budget.emplace(3 * 22180 + 11090);
  CaptureFile file(Context());
  auto frame = MakeFrame(FrameKind::Sync, 1, 11090);
  ASSERT_TRUE(file.OpenCaptureFile("NOAA 14", SatelliteFamily::Noaa));
  ASSERT_TRUE(file.WriteMarker(MarkerKind::SyncAcquired, 30));
  ASSERT_TRUE(file.WriteFrame(frame.data()));
  EXPECT_FALSE(file.WriteFrame(frame.data()));
  EXPECT_EQ(Size("We02JanA.tmp"), 3u * 22180u);
  EXPECT_FALSE(file.WriteMarker(MarkerKind::SyncLost, 30));
  // The end marker does not fit either: shown, and the capture still gets its name.
  file.FinishCaptureFile(true);
  EXPECT_EQ(messages.Shown(), std::vector<std::string>{"Out of Disk Space"});
  EXPECT_EQ(Size("We02JanA.N14"), 3u * 22180u);
  EXPECT_EQ(spawner.Spawned().size(), 1u);
  // Space again: writes store whole blocks.
  budget->Set(1 << 30);
  ASSERT_TRUE(file.OpenCaptureFile("NOAA 14", SatelliteFamily::Noaa));
  EXPECT_TRUE(file.WriteFrame(frame.data()));
  file.CloseCaptureFile();
}

TEST_F(CaptureFileTest, OnAFullDiskTheEndMarkerTakesTheLastFramesPlace) {
  // Room for the header, a marker and three frames: the end marker finds none, so the last
  // frame gives way to it and the capture ends as every reader expects.
  budget.emplace(5 * 22180);
  CaptureFile file(Context());
  ASSERT_TRUE(file.OpenCaptureFile("NOAA 14", SatelliteFamily::Noaa));
  ASSERT_TRUE(file.WriteMarker(MarkerKind::SyncAcquired, 30));
  for (int i = 1; i <= 3; ++i) {
    ASSERT_TRUE(file.WriteFrame(MakeFrame(FrameKind::Sync, i, 11090).data()));
  }
  clock.Advance(7000);
  file.FinishCaptureFile(true);
  EXPECT_EQ(messages.Shown(), std::vector<std::string>{"Out of Disk Space"});
  CaptureReadResult read = ReadCaptureFile(dir.path() / "We02JanA.N14");
  ASSERT_TRUE(read.ok) << read.error;
  EXPECT_EQ(read.contents.totalFrames, 2);
  const auto* end = std::get_if<CaptureMarker>(&read.contents.entries.back());
  ASSERT_TRUE(end);
  EXPECT_EQ(end->kind, MarkerKind::EndOfCapture);
  EXPECT_EQ(end->time, kWednesday2Jan2002Noon + 7);
  EXPECT_EQ(budget->left(), 0);

  // A file that ends in a marker keeps it: nothing of the kind is given up for the end.
  budget->Set(5 * 22180);
  ASSERT_TRUE(file.OpenCaptureFile("NOAA 14", SatelliteFamily::Noaa));
  ASSERT_TRUE(file.WriteMarker(MarkerKind::SyncAcquired, 30));
  ASSERT_TRUE(file.WriteFrame(MakeFrame(FrameKind::Sync, 1, 11090).data()));
  ASSERT_TRUE(file.WriteFrame(MakeFrame(FrameKind::Sync, 2, 11090).data()));
  ASSERT_TRUE(file.WriteMarker(MarkerKind::SyncLost, 0));
  file.FinishCaptureFile(true);
  EXPECT_EQ(Size("We02JanB.N14"), 5u * 22180u);
}

TEST_F(CaptureFileTest, TheRealDiskRefusingBytesIsAShortWrite) {
  // A file-size limit makes write() store part of a block and then fail, as a full disk does.
  auto oldHandler = signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  CaptureFile file(Context());
  ASSERT_TRUE(file.OpenCaptureFile("NOAA 14", SatelliteFamily::Noaa));
  rlimit limited = old;
  limited.rlim_cur = 2 * 22180 + 1000;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  auto frame = MakeFrame(FrameKind::Sync, 1, 11090);
  const bool first = file.WriteFrame(frame.data());
  const bool second = file.WriteFrame(frame.data());
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, oldHandler);
  EXPECT_TRUE(first);
  EXPECT_FALSE(second);
  file.CloseCaptureFile();
  EXPECT_EQ(Size("We02JanA.tmp"), 2u * 22180u);
}

TEST_F(CaptureFileTest, ATemporaryFileThatCannotBeMadeIsShown) {
  CaptureFileContext context = Context();
  context.workingDirectory = dir.path() / "gone";
  CaptureFile file(context);
  EXPECT_FALSE(file.OpenCaptureFile("NOAA 14", SatelliteFamily::Noaa));
  EXPECT_FALSE(file.IsOpen());
  EXPECT_FALSE(file.WriteFrame(MakeFrame(FrameKind::Sync, 1, 11090).data()));
  file.FinishCaptureFile(true);
  EXPECT_TRUE(spawner.Spawned().empty());
  EXPECT_EQ(messages.Shown(),
            std::vector<std::string>{
                "Cannot Create Capture File We02JanA.tmp: No such file or directory"});
}

TEST(CaptureNames, WildcardsAndCaptureForms) {
  EXPECT_TRUE(WildcardMatch("*.N*", "We02JanA.N14"));
  EXPECT_TRUE(WildcardMatch("*.N*", "we02jana.n14"));
  EXPECT_FALSE(WildcardMatch("*.N*", "We02JanA.tmp"));
  EXPECT_FALSE(WildcardMatch("*.N*", "We02JanA.str"));
  EXPECT_TRUE(WildcardMatch("*.fy1", "We02JanA.FY1"));
  EXPECT_FALSE(WildcardMatch("*.fy1", "We02JanA.fy10"));
  EXPECT_TRUE(WildcardMatch("a?c*", "abcdef"));
  EXPECT_TRUE(LooksLikeCaptureName("We02JanA.N14"));
  EXPECT_TRUE(LooksLikeCaptureName("Su31Dec9.fy1"));
  EXPECT_FALSE(LooksLikeCaptureName("sats.dat.new"));
  EXPECT_FALSE(LooksLikeCaptureName("We02JanAB.N14"));
  EXPECT_FALSE(LooksLikeCaptureName("WeO2JanA.N14"));
}

}  // namespace
}  // namespace halvik
