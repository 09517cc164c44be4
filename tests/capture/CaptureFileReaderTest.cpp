#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "CaptureFakes.h"
#include "capture/CaptureFile.h"
#include "capture/CaptureFileReader.h"
#include "platform/Clock.h"
#include "platform/Messages.h"
#include "support/TempDir.h"

namespace halvik {
namespace {

namespace fs = std::filesystem;
using testing::FakeSystemInfo;
using testing::FrameKind;
using testing::MakeFrame;
using testing::RecordingSpawner;

constexpr std::int64_t kThursday11Oct2001Noon = 1002801600;  // 2001-10-11T12:00:00Z

// Writes capture files through the station's own writer.
class CaptureFileReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
    dir.Write("elements.dat",
              "NOAA 14\n1 23455U 94089A   01284.50000000  .00000100  00000-0  80000-4 0  9990\n"
              "2 23455  99.1000 100.0000 0010000 200.0000 160.0000 14.12000000 10000\n");
  }
  CaptureFileContext Context() {
    return CaptureFileContext{dir.path(), clock, messages, systemInfo, spawner};
  }
  // Header, acquired, 5 frames (one without sync), lost, acquired again, 3 frames, end.
  void WriteTypicalCapture(CaptureFile& file, const std::string& name, SatelliteFamily family) {
    const int words = FamilyFrameLength(family);
    ASSERT_TRUE(file.OpenCaptureFile(name, family));
    ASSERT_TRUE(file.WriteMarker(MarkerKind::SyncAcquired, 30));
    for (int i = 0; i < 5; ++i) {
      ASSERT_TRUE(file.WriteFrame(
          MakeFrame(i == 3 ? FrameKind::NoSync : FrameKind::Sync, i, words).data()));
    }
    clock.Advance(65536 * 1000);
    ASSERT_TRUE(file.WriteMarker(MarkerKind::SyncLost, 30));
    ASSERT_TRUE(file.WriteMarker(MarkerKind::SyncAcquired, 2));
    for (int i = 0; i < 3; ++i)
      ASSERT_TRUE(file.WriteFrame(MakeFrame(FrameKind::Sync, i, words).data()));
    file.FinishCaptureFile(true);
  }
  void WriteRaw(const std::string& name, const std::vector<std::uint16_t>& words) {
    std::string bytes;
    for (std::uint16_t w : words) {
      bytes.push_back(static_cast<char>(w & 0xFF));
      bytes.push_back(static_cast<char>(w >> 8));
    }
    dir.Write(name, bytes);
  }
  std::vector<std::uint16_t> Block(std::initializer_list<std::uint16_t> start, int words = 11090) {
    std::vector<std::uint16_t> block(static_cast<std::size_t>(words), 0);
    std::copy(start.begin(), start.end(), block.begin());
    return block;
  }
  static void Append(std::vector<std::uint16_t>& file, const std::vector<std::uint16_t>& block) {
    file.insert(file.end(), block.begin(), block.end());
  }
  struct Run {
    int status;
    std::string out;
    std::string err;
  };
  Run Inspect(const std::string& name) {
    std::ostringstream out, err;
    int status = InspectCaptureFile(dir.path() / name, out, err);
    return {status, out.str(), err.str()};
  }

  TempDir dir;
  ManualClock clock{SystemTime{kThursday11Oct2001Noon, 0}};
  RecordingMessages messages;
  FakeSystemInfo systemInfo;
  RecordingSpawner spawner;
};

// The marker block's words in their places: a time past 2038 keeps its top bit.
TEST(MarkerBlock, WordsInPlace) {
  std::array<std::uint16_t, 8> block{};
  SetMarkerWords(block.data(), MarkerKind::SyncLost, 1234, 0xF0E1D2C3u);
  EXPECT_EQ(block, (std::array<std::uint16_t, 8>{0x8000, 0x8200, 1234, 0xF0E1, 0xD2C3, 0, 0, 0}));
  EXPECT_EQ(MarkerKindWord(block.data()), 0x8200);
  EXPECT_EQ(MarkerCount(block.data()), 1234);
  EXPECT_EQ(MarkerSeconds(block.data()), 0xF0E1D2C3u);
}

TEST_F(CaptureFileReaderTest, ReadsBackWhatTheStationWrote) {
  CaptureFile file(Context());
  WriteTypicalCapture(file, "NOAA 14", SatelliteFamily::Noaa);
  Run run = Inspect("Th11OctA.N14");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            "header found \"NOAA 14\" "
            "\"1 23455U 94089A   01284.50000000  .00000100  00000-0  80000-4 0  9990\" "
            "\"2 23455  99.1000 100.0000 0010000 200.0000 160.0000 14.12000000 10000\"\n"
            "marker sync-acquired 30 2001-10-11T12:00:00Z\n"
            "frames 5 sync 4\n"
            "marker sync-lost 30 2001-10-12T06:12:16Z\n"
            "marker sync-acquired 2 2001-10-12T06:12:16Z\n"
            "frames 3 sync 3\n"
            "marker end 0 2001-10-12T06:12:16Z\n"
            "total frames 8 bytes 288340\n");
  EXPECT_TRUE(run.err.empty());

  // --- FengYun: the long blocks, known from the code ---
  WriteTypicalCapture(file, "FENGYUN 1C", SatelliteFamily::FengYun);
  CaptureReadResult read = ReadCaptureFile(dir.path() / "Fr12OctA.fy1");
  ASSERT_TRUE(read.ok) << read.error;
  EXPECT_EQ(read.contents.blockWords, 22180);
  EXPECT_EQ(read.contents.totalFrames, 8);
  EXPECT_FALSE(read.contents.header.found);
  EXPECT_EQ(InspectionLines(read.contents, true).front(), "header not-found");
  EXPECT_EQ(InspectionLines(read.contents, true).back(), "total frames 8 bytes 576680");
}

TEST_F(CaptureFileReaderTest, TemporaryFilesShowTheirBlockLength) {
  CaptureFile file(Context());
  // --- Whole captures under the temporary name ---
  ASSERT_TRUE(file.OpenCaptureFile("FENGYUN 1C", SatelliteFamily::FengYun));
  ASSERT_TRUE(file.WriteMarker(MarkerKind::SyncAcquired, 30));
  ASSERT_TRUE(file.WriteFrame(MakeFrame(FrameKind::Sync, 1, 22180).data()));
  file.CloseCaptureFile();
  CaptureReadResult read = ReadCaptureFile(dir.path() / "Th11OctA.tmp");
  ASSERT_TRUE(read.ok) << read.error;
  EXPECT_EQ(read.contents.blockWords, 22180);
  EXPECT_EQ(
      InspectionLines(read.contents, false),
      (std::vector<std::string>{"header not-found", "marker sync-acquired 30 2001-10-11T12:00:00Z",
                                "frames 1 sync 1"}));
  fs::rename(dir.path() / "Th11OctA.tmp", dir.path() / "fy.tmp");

  ASSERT_TRUE(file.OpenCaptureFile("NOAA 14", SatelliteFamily::Noaa));
  ASSERT_TRUE(file.WriteMarker(MarkerKind::SyncAcquired, 30));
  ASSERT_TRUE(file.WriteFrame(MakeFrame(FrameKind::Sync, 1, 11090).data()));
  file.CloseCaptureFile();
  read = ReadCaptureFile(dir.path() / "Th11OctA.tmp");
  ASSERT_TRUE(read.ok) << read.error;
  EXPECT_EQ(read.contents.blockWords, 11090);

  // --- The smallest files, where a length could fit the size of both ---
  WriteRaw("noaa-header.tmp", Block({0x8000, 0x8000, 0xFFFF}));
  WriteRaw("fy-header.tmp", Block({0x8000, 0x8000, 0xFFFF}, 22180));
  auto headerAndMarker = Block({0x8000, 0x8000, 0xFFFF});
  Append(headerAndMarker, Block({0x8000, 0x8300, 0, 0x3BC5, 0x89C0}));
  WriteRaw("noaa-two.tmp", headerAndMarker);
  EXPECT_EQ(ReadCaptureFile(dir.path() / "noaa-header.tmp").contents.blockWords, 11090);
  EXPECT_EQ(ReadCaptureFile(dir.path() / "fy-header.tmp").contents.blockWords, 22180);
  read = ReadCaptureFile(dir.path() / "noaa-two.tmp");
  ASSERT_TRUE(read.ok) << read.error;
  EXPECT_EQ(read.contents.blockWords, 11090);
  EXPECT_EQ(InspectionLines(read.contents, false).back(), "marker end 0 2001-10-11T12:00:00Z");
}

TEST_F(CaptureFileReaderTest, AFifoOrDirectoryIsNoCaptureFile) {
  // `inspect FIFO` used to wait for a writer for ever.
  ASSERT_EQ(::mkfifo((dir.path() / "pipe.N14").c_str(), 0600), 0);
  fs::create_directory(dir.path() / "folder.N14");
  for (const char* name : {"pipe.N14", "folder.N14"}) {
    Run run = Inspect(name);
    EXPECT_EQ(run.status, 2) << name;
    EXPECT_NE(run.err.find("cannot open the file"), std::string::npos) << run.err;
  }
}

TEST_F(CaptureFileReaderTest, FaultsNameTheirOffset) {
  auto header = Block({0x8000, 0x8000, 0xFFFF});
  auto acquired = Block({0x8000, 0x8100, 30, 0x3BC5, 0x89C0});
  auto frame = MakeFrame(FrameKind::Sync, 1, 11090);

  // --- Truncated: what came before is shown, the fault on the error stream, status 2 ---
  std::vector<std::uint16_t> words;
  Append(words, header);
  Append(words, acquired);
  Append(words, frame);
  words.insert(words.end(), frame.begin(), frame.begin() + 500);
  WriteRaw("We02JanA.N14", words);
  Run run = Inspect("We02JanA.N14");
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out,
            "header not-found\nmarker sync-acquired 30 2001-10-11T12:00:00Z\nframes 1 sync 1\n");
  EXPECT_NE(run.err.find("truncated block at offset 66540: 1000 of 22180 bytes"), std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("We02JanA.N14"), std::string::npos);

  // --- Malformed files ---
  struct Case {
    std::vector<std::vector<std::uint16_t>> blocks;
    std::string fault;
  };
  const Case cases[] = {
      {{Block({0x8000, 0x8100, 30})}, "malformed header block at offset 0"},
      {{Block({0x8000, 0x8000, 0x1234})}, "malformed header block at offset 0"},
      {{Block({0x8000, 0x8000, 0xFFFF, 'x'})}, "malformed header block at offset 0"},
      {{Block({0x8000, 0x8000, 0x0000, 'N', 0x0200})}, "malformed header block at offset 0"},
      {{header, frame}, "frame block without a sync-acquired marker before it at offset 22180"},
      {{header, acquired, Block({0x8000, 0x8200, 30}), frame},
       "frame block without a sync-acquired marker before it at offset 66540"},
      {{header, acquired, Block({0x8000, 0x8400, 1})},
       "malformed marker block at offset 44360 (words 0x8000 0x8400)"},
      {{header, Block({0x8000, 0x8000, 0xFFFF})},
       "malformed marker block at offset 22180 (words 0x8000 0x8000)"},
      {{header, Block({0x8000, 0x8300, 0}), acquired},
       "block after the end marker at offset 44360"},
  };
  for (const Case& c : cases) {
    std::vector<std::uint16_t> file;
    for (const auto& block : c.blocks) Append(file, block);
    WriteRaw("bad.N14", file);
    run = Inspect("bad.N14");
    EXPECT_EQ(run.status, 2) << c.fault;
    EXPECT_NE(run.err.find(c.fault), std::string::npos) << run.err;
  }

  // --- Empty, missing ---
  dir.Write("empty.N14", "");
  run = Inspect("empty.N14");
  EXPECT_EQ(run.status, 2);
  EXPECT_TRUE(run.out.empty());
  EXPECT_NE(run.err.find("offset 0"), std::string::npos);
  run = Inspect("absent.N14");
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("cannot open"), std::string::npos);
}

}  // namespace
}  // namespace halvik
