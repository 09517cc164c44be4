#include "capture/CaduCapture.h"

#include <fcntl.h>
#include <unistd.h>

#include <bit>
#include <nlohmann/json.hpp>

#include "platform/Text.h"

namespace halvik {
namespace {

using json = nlohmann::json;

// A log line longer than this is no line of ours (a start line holds three element lines).
constexpr std::size_t kLogLineLimit = 4096;

json TallyJson(const PassTally& tally) {
  return {{"cadus", tally.cadus},
          {"marker_bit_errors", tally.markerBitErrors},
          {"sync_losses", tally.syncLosses}};
}

// The log's lines that parse whole; a line a crash cut short does not.
std::vector<json> ReadLog(const std::filesystem::path& path) {
  std::vector<json> lines;
  LineReader reader(path, kLogLineLimit);
  while (auto line = reader.Next()) {
    if (reader.TooLong(*line)) continue;
    json parsed = json::parse(*line, nullptr, false);
    if (parsed.is_object()) lines.push_back(std::move(parsed));
  }
  return lines;
}

}  // namespace

int CaduMarkerErrors(const std::uint16_t* cadu) {
  int errors = 0;
  for (std::size_t i = 0; i < kCaduMarker.size(); ++i) {
    errors += std::popcount(static_cast<unsigned>((cadu[i] ^ kCaduMarker[i]) & 0xFF));
  }
  return errors;
}

std::string PassRecordNameFor(std::string_view caduName) {
  std::string stem(caduName);
  if (stem.ends_with(kPartSuffix)) stem.resize(stem.size() - kPartSuffix.size());
  if (stem.ends_with(kCaduSuffix)) stem.resize(stem.size() - kCaduSuffix.size());
  return stem + std::string(kPassRecordSuffix);
}

bool PassLog::Open(const std::filesystem::path& path, const PassStart& start) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) return false;
  file_.reset(::fdopen(fd, "w"));
  if (!file_) {
    ::close(fd);
    return false;
  }
  json line = {{"satellite", start.satellite},
               {"family", FactsOf(start.family).name},
               {"start_utc", IsoUtcSeconds(start.startSeconds)},
               {"start_seconds", start.startSeconds}};
  line["element_set"] = start.elementSet.empty() ? json(nullptr) : json(start.elementSet);
  Line(line.dump());
  return true;
}

void PassLog::Event(std::string_view kind, int count, std::int64_t seconds,
                    const PassTally& tally) {
  json line = {{"event", kind},
               {"after", count},
               {"utc", IsoUtcSeconds(seconds)},
               {"seconds", seconds},
               {"tally", TallyJson(tally)}};
  Line(line.dump());
}

void PassLog::Line(const std::string& line) {
  if (!file_) return;
  // Each line reaches the file at once: a kill loses nothing written before it.
  std::fputs((line + "\n").c_str(), file_.get());
  std::fflush(file_.get());
}

PassStart ReadPassStart(const std::filesystem::path& logPath) {
  PassStart start;
  const std::vector<json> lines = ReadLog(logPath);
  if (lines.empty()) return start;
  const json& first = lines.front();
  start.satellite = first.value("satellite", std::string());
  start.family = FamilyForSatellite(start.satellite);
  start.startSeconds = first.value("start_seconds", std::int64_t{0});
  if (const auto set = first.find("element_set"); set != first.end() && set->is_array()) {
    for (const json& text : *set)
      if (text.is_string()) start.elementSet.push_back(text.get<std::string>());
  }
  return start;
}

bool FinishPassRecord(const std::filesystem::path& logPath, const std::filesystem::path& recordPath,
                      std::int64_t endSeconds, std::int64_t cadusKept, const PassTally* tally,
                      bool interrupted) {
  const std::vector<json> lines = ReadLog(logPath);
  json record = lines.empty() ? json::object() : lines.front();
  json events = json::array();
  PassTally last;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const json& line = lines[i];
    if (!line.contains("event")) continue;
    events.push_back({{"event", line.value("event", std::string())},
                      {"after", line.value("after", 0)},
                      {"utc", line.value("utc", std::string())}});
    if (const auto t = line.find("tally"); t != line.end() && t->is_object()) {
      last.cadus = t->value("cadus", std::int64_t{0});
      last.markerBitErrors = t->value("marker_bit_errors", std::int64_t{0});
      last.syncLosses = t->value("sync_losses", std::int64_t{0});
    }
  }
  const PassTally counted = tally != nullptr ? *tally : last;
  record["end_utc"] = IsoUtcSeconds(endSeconds);
  record["end_seconds"] = endSeconds;
  record["cadu_bytes"] = kCaduBytes;
  // The CADUs the file holds: after a crash, those the disk kept, whatever the log last said.
  record["cadus"] = cadusKept;
  record["sync_losses"] = counted.syncLosses;
  record["marker_bits"] = counted.cadus * kCaduMarkerBitCount;
  record["marker_bit_errors"] = counted.markerBitErrors;
  record["events"] = std::move(events);
  record["finished_after_interruption"] = interrupted;
  if (!WriteFileAtomically(recordPath, record.dump(2) + "\n")) return false;
  std::error_code error;
  std::filesystem::remove(logPath, error);
  return true;
}

}  // namespace halvik
