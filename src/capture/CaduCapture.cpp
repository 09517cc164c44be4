#include "capture/CaduCapture.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <limits>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>

#include "devices/MeteorFormat.h"
#include "platform/JsonFields.h"
#include "platform/Text.h"

namespace halvik {
namespace {

using json = nlohmann::json;

// A log line longer than this is no line of ours (a start line holds three element lines).
constexpr std::size_t kLogLineLimit = 4096;
// A pass's record: a few hundred events at most.
constexpr std::size_t kRecordLimit = 1 << 20;

void AddCoding(json& out, const std::optional<CodingTally>& coding) {
  if (!coding) return;
  out["rs_corrected_bytes"] = coding->correctedBytes;
  out["rs_uncorrectable_codewords"] = coding->uncorrectableCodewords;
}

json TallyJson(const PassTally& tally) {
  json out = {{"cadus", tally.cadus},
              {"marker_bit_errors", tally.markerBitErrors},
              {"sync_losses", tally.syncLosses}};
  AddCoding(out, tally.coding);
  return out;
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
  start.satellite = JsonField<std::string>(first, "satellite").value_or("");
  start.family = FamilyForSatellite(start.satellite);
  start.startSeconds = JsonField<std::int64_t>(first, "start_seconds").value_or(0);
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
    json event = {{"event", JsonField<std::string>(line, "event").value_or("")},
                  {"after", JsonField<int>(line, "after").value_or(0)},
                  {"utc", JsonField<std::string>(line, "utc").value_or("")}};
    if (const auto t = line.find("tally"); t != line.end() && t->is_object()) {
      last.cadus = JsonField<std::int64_t>(*t, "cadus").value_or(0);
      // Where in the file it happened: the CADUs written before it.
      event["cadu"] = last.cadus;
      last.markerBitErrors = JsonField<std::int64_t>(*t, "marker_bit_errors").value_or(0);
      last.syncLosses = JsonField<std::int64_t>(*t, "sync_losses").value_or(0);
      if (const auto corrected = JsonField<std::int64_t>(*t, "rs_corrected_bytes")) {
        last.coding = CodingTally{
            *corrected, JsonField<std::int64_t>(*t, "rs_uncorrectable_codewords").value_or(0)};
      }
    }
    events.push_back(std::move(event));
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
  AddCoding(record, counted.coding);
  record["events"] = std::move(events);
  record["finished_after_interruption"] = interrupted;
  if (!WriteFileAtomically(recordPath, record.dump(2) + "\n")) return false;
  std::error_code error;
  std::filesystem::remove(logPath, error);
  return true;
}

int InspectCaduFile(const std::filesystem::path& path, std::ostream& out, std::ostream& err) {
  const UniqueFile file = OpenRegularFile(path);
  if (!file) {
    err << "halvik inspect: " << path.string() << ": cannot open the file\n";
    return 2;
  }
  // The record beside the capture (or beside its temporary name, as a log) gives the satellite
  // and the events; a .cadu from elsewhere has none.
  const std::filesystem::path dir = path.parent_path();
  const std::string recordName = PassRecordNameFor(path.filename().string());
  json record =
      json::parse(ReadSmallFile(dir / recordName, kRecordLimit).value_or(""), nullptr, false);
  if (!record.is_object()) {
    const std::vector<json> log = ReadLog(dir / (recordName + std::string(kPartSuffix)));
    record = log.empty() ? json::object() : log.front();
  }
  const json set =
      record.is_object() && record.contains("element_set") ? record["element_set"] : json();
  const auto isString = [](const json& text) { return text.is_string(); };
  if (set.is_array() && set.size() == 3 && std::all_of(set.begin(), set.end(), isString)) {
    out << "header found";
    for (const json& text : set) out << " \"" << text.get<std::string>() << "\"";
    out << "\n";
  } else {
    out << "header not-found\n";
  }
  std::vector<std::pair<std::int64_t, std::string>> events;  // CADUs before it, its line
  const json listed = record.is_object() && record.contains("events") ? record["events"] : json();
  for (const json& event : listed.is_array() ? listed : json::array()) {
    events.emplace_back(
        JsonField<std::int64_t>(event, "cadu").value_or(0),
        Format("marker %s %d %s", JsonField<std::string>(event, "event").value_or("").c_str(),
               JsonField<int>(event, "after").value_or(0),
               JsonField<std::string>(event, "utc").value_or("").c_str()));
  }
  std::size_t nextEvent = 0;
  std::int64_t cadus = 0, runCadus = 0, runSync = 0, gaps = 0;
  std::optional<std::uint32_t> counter;
  auto endRun = [&] {
    if (runCadus > 0) {
      out << Format("cadus %lld sync %lld\n", static_cast<long long>(runCadus),
                    static_cast<long long>(runSync));
    }
    runCadus = runSync = 0;
  };
  auto eventsUpTo = [&](std::int64_t at) {
    for (; nextEvent < events.size() && events[nextEvent].first <= at; ++nextEvent) {
      endRun();
      out << events[nextEvent].second << "\n";
    }
  };
  std::array<std::uint8_t, kCaduBytes> cadu{};
  std::size_t got = 0;
  while ((got = std::fread(cadu.data(), 1, cadu.size(), file.get())) == cadu.size()) {
    eventsUpTo(cadus);
    int errors = 0;
    for (std::size_t i = 0; i < kCaduMarker.size(); ++i)
      errors += std::popcount(static_cast<unsigned>(cadu[i] ^ kCaduMarker[i]));
    runSync += errors <= kCaduMarkerBitErrors ? 1 : 0;
    const std::uint32_t now = (std::uint32_t{cadu[kCaduCounterOffset]} << 16) |
                              (std::uint32_t{cadu[kCaduCounterOffset + 1]} << 8) |
                              cadu[kCaduCounterOffset + 2];
    if (counter && now != ((*counter + 1) & 0xFFFFFF)) ++gaps;
    counter = now;
    ++runCadus;
    ++cadus;
  }
  eventsUpTo(std::numeric_limits<std::int64_t>::max());
  endRun();
  out << Format("total cadus %lld counter-gaps %lld bytes %lld\n", static_cast<long long>(cadus),
                static_cast<long long>(gaps),
                static_cast<long long>(cadus * kCaduBytes + static_cast<std::int64_t>(got)));
  if (got != 0) {
    err << "halvik inspect: " << path.string() << ": " << got
        << " bytes after the last whole CADU\n";
    return 2;
  }
  return 0;
}

}  // namespace halvik
