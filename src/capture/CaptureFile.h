#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "capture/CaduCapture.h"
#include "devices/Downlink.h"

namespace halvik {

class Clock;
class Messages;
class ProcessSpawner;
class SystemInfo;

// Word 0 of every header and marker block: bit 15 set, which no 10-bit HRPT word has.
inline constexpr std::uint16_t kBlockFlag = 0x8000;
inline constexpr std::uint16_t kHeaderFound = 0x0000;
inline constexpr std::uint16_t kHeaderNotFound = 0xFFFF;

enum class MarkerKind : std::uint16_t {
  SyncAcquired = 0x8100,
  SyncLost = 0x8200,
  EndOfCapture = 0x8300,
};

// A marker block's words: kBlockFlag, the kind, the frame count, then the station time as 32 bits
// of seconds, high half first. The rest of the block is zero.
inline constexpr std::size_t kMarkerBlockUsedWords = 5;
constexpr std::uint16_t MarkerKindWord(const std::uint16_t* block) {
  return block[1];
}
constexpr std::uint16_t MarkerCount(const std::uint16_t* block) {
  return block[2];
}
constexpr std::uint32_t MarkerSeconds(const std::uint16_t* block) {
  return (static_cast<std::uint32_t>(block[3]) << 16) | block[4];
}
// Fills the marker's words of a zeroed block.
constexpr void SetMarkerWords(std::uint16_t* block, MarkerKind kind, std::uint16_t count,
                              std::uint32_t seconds) {
  block[0] = kBlockFlag;
  block[1] = static_cast<std::uint16_t>(kind);
  block[2] = count;
  block[3] = static_cast<std::uint16_t>(seconds >> 16);
  block[4] = static_cast<std::uint16_t>(seconds & 0xFFFF);
}

// Below this many free bytes the oldest captures of the family are pruned (2 x 10^8).
inline constexpr double kMinimumFreeBytes = 200000000.0;
// What an SDR's baseband recording of a pass (--record-iq) is named by, in the working directory
// beside the captures: the prefix, the UTC time, ".sigmf-data" and ".sigmf-meta".
inline constexpr const char* kIqRecordingPrefix = "iq-";
// Captures of one family kept before the oldest are deleted.
inline constexpr int kCaptureFileLimit = 100;
// Element-set lines are kept to this many characters in the header block.
inline constexpr std::size_t kHeaderLineLimit = 79;

// The three-character code that ends a capture's final name: "N09".."N16", "str", "fy1".
// Another "noaa <number>" (1..99) gets "N" and the number in two digits (NOAA 17 -> "N17"), so it
// still falls under the NOAA pruning pattern; every other name gets "N00".
std::string CaptureFileCode(std::string_view name);

// Weekday (2) + day (2) + month (3) of a capture name, for example "We02Jan", from the station
// time `seconds` plus the time-zone offset broken down as local time: the UTC date, or the
// date one hour later while daylight saving time is in effect.
std::string CaptureDatePart(std::int64_t seconds);

// The letters that tell apart the captures of one name and day, in the order they are tried.
inline constexpr std::string_view kCaptureLetters =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZ123456789abcdefghijklmnopqrstuvwxyz";

// Windows-style wildcard match ('*' any run, '?' one character), ignoring ASCII letter case.
bool WildcardMatch(std::string_view pattern, std::string_view name);

// True for a name of the form the capture files get: "We02JanA.N14", or for a CADU family
// "We02JanA.mtr.cadu".
bool LooksLikeCaptureName(std::string_view name);

// Stands in for a disk that fills up: once its bytes are spent, writes store fewer bytes than
// asked, as a full disk does. Thread-safe, so a test may refill or drain it at any moment.
class DiskBudget {
 public:
  explicit DiskBudget(std::int64_t bytes) : left_(bytes) {}
  // Bytes of a write of `wanted` bytes that fit; they are spent.
  std::size_t Take(std::size_t wanted);
  // Bytes given back (a short write cut off again).
  void Give(std::size_t bytes) { left_.fetch_add(static_cast<std::int64_t>(bytes)); }
  void Set(std::int64_t bytes) { left_.store(bytes); }
  std::int64_t left() const { return left_.load(); }

 private:
  std::atomic<std::int64_t> left_;
};

struct CaptureFileContext {
  std::filesystem::path workingDirectory;
  Clock& clock;
  Messages& messages;
  SystemInfo& systemInfo;
  ProcessSpawner& spawner;
  DiskBudget* diskBudget = nullptr;  // nullptr: only the real disk limits the writes
};

// The capture file of the pass being recorded: written under a temporary name, given its final
// name when complete and handed to the family's post-processing program. Capture thread only.
class CaptureFile {
 public:
  explicit CaptureFile(CaptureFileContext context);
  ~CaptureFile();
  CaptureFile(const CaptureFile&) = delete;
  CaptureFile& operator=(const CaptureFile&) = delete;

  // Pruning, the free-space rule, the name, the temporary file and its header block. False,
  // after a message, when no temporary file could be created: the capture then has no file.
  bool OpenCaptureFile(const std::string& satelliteName, SatelliteFamily family);
  // Each returns false when fewer bytes than the block holds were stored; the block is then cut
  // off again so that the file keeps whole blocks only.
  bool WriteFrame(const std::uint16_t* frame);
  bool WriteMarker(MarkerKind kind, std::uint16_t count);
  // A coded CADU pass: the receiver's Reed-Solomon work since the pass began, for the record's
  // next line and its end.
  void NoteCoding(const CodingTally& sincePassStart) { tally_.coding = sincePassStart; }
  // End marker, close, then the final name and post-processing when frames were written, or
  // deletion when none were. Nothing happens when no file is open.
  void FinishCaptureFile(bool framesWritten);
  // Closes a file in progress as it is, under its temporary name.
  void CloseCaptureFile();
  // Finishes every temporary capture file in the working directory as FinishCaptureFile
  // would: the blocks a crash cut short dropped, an end marker stamped with the file's last
  // write, its final name (its own date, the code of the satellite its header names) and the
  // post-processing program when it holds a frame; deleted when it holds none. For start-up,
  // before any capture is open.
  void FinishLeftoverCaptures();
  // Keeps at most `limit` capture files of the family, deleting the oldest.
  void PruneCaptureFiles(SatelliteFamily family, int limit);

  bool IsOpen() const { return fd_ >= 0; }
  std::int32_t FrameLength() const { return frameLength_; }
  const std::string& finalName() const { return finalName_; }
  const std::string& temporaryName() const { return temporaryName_; }

 private:
  void ApplyFreeSpaceRule(SatelliteFamily family);
  // Deletes baseband recordings, oldest first, until the free space is back or none is left;
  // true when it deleted any.
  bool PruneIqRecordings();
  double FreeBytes();
  // The first free letter for `date` and `code`; the temporary name `ownTemporaryName` (a
  // leftover being finished) does not count as taken.
  bool ChooseName(const std::string& date, const std::string& code,
                  std::string_view ownTemporaryName);
  bool WriteMarkerAt(MarkerKind kind, std::uint16_t count, std::int64_t seconds);
  void EndCapture(bool framesWritten, std::int64_t endSeconds, bool interrupted = false);
  // On a full disk the end marker takes the last frame's place, so the capture still ends as
  // every reader expects; false (nothing changed) when the file has fewer than two frames or
  // ends in a marker.
  bool EndInPlaceOfLastFrame(std::int64_t endSeconds);
  void FinishLeftover(const std::string& temporaryName);
  void FinishCaduLeftover(const std::string& temporaryName);
  bool IsCadu() const { return FactsOf(family_).frameKind == FrameKind::Cadu; }
  // The name line and both element lines of a satellite in elements.dat; empty when absent.
  std::vector<std::string> ElementSetOf(const std::string& satelliteName) const;
  std::string HeaderSatelliteName() const;
  // Whether the block at `offset` is a frame; nothing when it cannot be read.
  std::optional<bool> FrameBlockAt(std::int64_t offset) const;
  bool HasFrameBlock(std::int64_t blockBytes) const;
  void WriteHeaderBlock(const std::string& satelliteName);
  bool WriteBlock(const std::uint16_t* words);
  bool WriteBytes(const char* data, std::size_t wanted);
  bool Rename();
  std::filesystem::path InDirectory(const std::string& name) const {
    return context_.workingDirectory / name;
  }

  CaptureFileContext context_;
  SatelliteFamily family_ = SatelliteFamily::Noaa;
  std::int32_t frameLength_ = kNoaaFrameWords;
  int fd_ = -1;
  std::int64_t size_ = 0;  // bytes of whole blocks in the open file
  std::string finalName_;
  std::string temporaryName_;
  std::unique_ptr<std::uint16_t[]> block_;    // header and marker blocks are built here
  std::unique_ptr<std::uint16_t[]> swapped_;  // byte-swapped copy, big-endian machines only
  // A CADU family's pass: its record's log, its tallies, and one CADU as bytes.
  PassLog passLog_;
  PassTally tally_;
  std::array<char, kCaduBytes> cadu_{};
};

}  // namespace halvik
