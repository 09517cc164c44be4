#pragma once

#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "devices/Downlink.h"
#include "devices/FrameSource.h"
#include "platform/Files.h"

namespace halvik {

// Bit errors in a CADU's marker: its first four words, one byte in the low bits of each.
int CaduMarkerErrors(const std::uint16_t* cadu);

// The names a CADU capture goes by: "We02JanA.mtr.cadu" for the CADUs, and beside it
// "We02JanA.mtr.pass.json" for the station's record of the pass; while recording each has
// ".part" appended (the record is then a log, one JSON object a line).
inline constexpr std::string_view kCaduSuffix = ".cadu";
inline constexpr std::string_view kPassRecordSuffix = ".pass.json";
inline constexpr std::string_view kPartSuffix = ".part";

// The record's name beside a CADU file's final or temporary name.
std::string PassRecordNameFor(std::string_view caduName);

// What the record says at the start of a pass.
struct PassStart {
  std::string satellite;
  SatelliteFamily family = SatelliteFamily::Meteor;
  std::vector<std::string> elementSet;  // name line and both element lines; empty: not found
  std::int64_t startSeconds = 0;
};

// The running tallies each log line carries, so a log cut short by a crash still has them.
struct PassTally {
  std::int64_t cadus = 0;
  std::int64_t markerBitErrors = 0;
  std::int64_t syncLosses = 0;
  // A coded downlink's Reed-Solomon work in this pass, as the receiver's decoder counted it.
  std::optional<CodingTally> coding;
};

// The record of a CADU pass while it is recorded: an append-only log, one JSON object a line,
// written as the pass goes (a start line, then one line per sync event). A crash loses at most
// the line being written; FinishPassRecord turns the log into the record.
class PassLog {
 public:
  // Creates the log; false when it cannot be created.
  bool Open(const std::filesystem::path& path, const PassStart& start);
  // "sync_acquired" or "sync_lost" after `count` CADUs in a row, at `seconds`.
  void Event(std::string_view kind, int count, std::int64_t seconds, const PassTally& tally);
  void Close() { file_.reset(); }
  bool IsOpen() const { return static_cast<bool>(file_); }

 private:
  void Line(const std::string& line);
  UniqueFile file_;
};

// Reads a log's whole lines and writes the record, `recordPath`, atomically: the start facts,
// the events, the tallies (`tally` when given, else the last the log holds), the end time and
// whether the capture was finished after an interruption. The log is removed once the record is
// written. False when nothing could be written (the log is then kept).
bool FinishPassRecord(const std::filesystem::path& logPath, const std::filesystem::path& recordPath,
                      std::int64_t endSeconds, std::int64_t cadusKept, const PassTally* tally,
                      bool interrupted);

// The start facts of a log (for a leftover: its satellite fixes the family and the name).
PassStart ReadPassStart(const std::filesystem::path& logPath);

// `halvik inspect` for a CADU capture: the record's element set and events between runs of
// CADUs (with how many carry their marker), then the totals and the breaks in the CADU counter.
// Exit status 0, or 2 for a file that cannot be read or ends in part of a CADU.
int InspectCaduFile(const std::filesystem::path& path, std::ostream& out, std::ostream& err);

}  // namespace halvik
