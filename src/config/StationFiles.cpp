#include "config/StationFiles.h"

#include <time.h>

#include <optional>
#include <string>
#include <system_error>

#include "config/StationFileNames.h"
#include "orbit/ElementSet.h"
#include "orbit/StationGeometry.h"
#include "platform/Files.h"
#include "platform/Text.h"

namespace halvik {
namespace {

// The longest name a slot can hold; a longer sats.dat line can never name a loaded slot.
constexpr std::size_t kMaxNameLength = kNameCapacity - 1;

bool InMinimumElevationRange(double degrees) {
  // Written so that a NaN fails too.
  return degrees >= 0.0 && degrees <= kMaximumMinimumElevationDeg;
}

// The tracking thread clears the pass flags at its next step, so every slot searches its pass
// again from the new station.
void ResetPasses(SatelliteTable& table) {
  for (SatelliteRecord& slot : table) slot.update.PostPassReset();
}

void DeactivateAll(SatelliteTable& table) {
  for (SatelliteRecord& slot : table) slot.active.store(0, std::memory_order_release);
}

// sats.dat as the station writes it: each active slot's name, a single blank for an empty one.
std::string SatellitesText(const SatelliteTable& table) {
  std::string text;
  for (const SatelliteRecord& slot : table) {
    text += slot.IsActive() ? slot.name.Get() : std::string(" ");
    text += '\n';
  }
  return text;
}

std::string MinimumElevationText(const StationConfig& station) {
  return Format("%f\n", DisplayDegrees(station.minimumElevation));
}

ListRead ListReadOf(const std::filesystem::path& path, bool loaded) {
  if (loaded) return ListRead::Read;
  std::error_code error;
  const auto type = std::filesystem::symlink_status(path, error).type();
  return type == std::filesystem::file_type::not_found ? ListRead::Absent : ListRead::Failed;
}

bool NeedsSaving(const ListAsRead& asRead, const std::string& heldNow) {
  switch (asRead.read) {
    case ListRead::Absent:
      return true;
    case ListRead::Read:
      return heldNow != asRead.text;
    case ListRead::Failed:
      break;
  }
  return false;
}

// A file's lines exactly as they are, line ends (LF, CRs before it) removed; nothing when it
// cannot be opened or is larger than any station list.
std::vector<std::string> RawLines(const std::filesystem::path& path) {
  constexpr std::size_t kLargest = 1 << 20;
  std::vector<std::string> lines;
  const UniqueFile file = OpenRegularFile(path);
  if (!file) return lines;
  std::string content(kLargest + 1, '\0');
  content.resize(std::fread(content.data(), 1, content.size(), file.get()));
  if (content.size() > kLargest) return lines;
  std::size_t start = 0;
  while (start < content.size()) {
    std::size_t end = content.find('\n', start);
    const bool lastWithoutEnd = end == std::string::npos;
    if (lastWithoutEnd) end = content.size();
    std::string line = content.substr(start, end - start);
    if (!lastWithoutEnd) {
      while (!line.empty() && line.back() == '\r') line.pop_back();
    }
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

std::string CantWrite(const char* file) {
  return std::string("Can't write file ") + file;
}

// Why a line read from a station file holds no value of the station's; nothing for a sound
// line. A line cut at the reader's limit is not read as a shorter value, and one with control
// bytes (a binary file, a disk block of zeros) is no number the operator wrote.
std::optional<std::string> LineDamage(const LineReader& reader, const std::string& line) {
  if (reader.TooLong(line)) return Format("is longer than %zu characters", kMaxLineLength);
  for (const char c : line) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && c != '\t' && c != '\r') || byte == 0x7F) {
      return std::string("holds bytes that are not text");
    }
  }
  return std::nullopt;
}

// The four lines of location.dat as text; lines past the end of the file are absent. A damaged
// line reads as an empty one (its value is 0) and is named in `damage`, one message per line.
struct LocationLines {
  bool found = false;
  std::optional<std::string> line[4];
  std::vector<std::string> damage;
};

LocationLines ReadLocationLines(const std::filesystem::path& dir) {
  LocationLines out;
  LineReader reader(dir / kLocationFile);
  if (!reader.ok()) return out;
  int number = 0;
  for (auto& line : out.line) {
    ++number;
    line = reader.Next();
    if (!line) continue;
    if (std::optional<std::string> why = LineDamage(reader, *line)) {
      out.damage.push_back(Format("%s line %d %s: its value reads as 0; the file is left as it is",
                                  kLocationFile, number, why->c_str()));
      line = std::string();
    }
  }
  out.found = true;
  return out;
}

}  // namespace

bool LoadStation(ConfigContext& context) {
  LocationLines lines = ReadLocationLines(context.dir);
  if (!lines.found) {
    context.messages.Show("Can't find file location.dat");
    SetStation(context.station, "0.0", "0.0", "0");
    std::error_code ignored;
    std::filesystem::remove(context.dir / kWorldMapFile, ignored);
    std::filesystem::remove(context.dir / kZoomMapFile, ignored);
    return false;
  }
  // A damaged file is no missing one: the station keeps what it could read, says which line it
  // could not, and neither deletes nor rewrites anything because of it.
  for (const std::string& message : lines.damage) context.messages.Show(message);
  SetStation(context.station, lines.line[0].value_or(""), lines.line[1].value_or(""),
             lines.line[2].value_or(""));
  return true;
}

void ReloadStation(ConfigContext& context) {
  LoadStation(context);
  ResetPasses(context.table);
}

namespace {

// minel.dat's value in degrees (nothing when the file cannot be opened) and, for a damaged
// line, why it holds no value.
struct MinimumElevationRead {
  std::optional<double> degrees;
  std::optional<std::string> damage;
};

MinimumElevationRead MinimumElevationIn(const std::filesystem::path& dir) {
  LineReader reader(dir / kMinimumElevationFile);
  if (!reader.ok()) return {};
  // An empty file (a zero-length leftover) has no value at all and gets the default, like any
  // value outside the range; a line without a number reads as 0.
  std::optional<std::string> line = reader.Next();
  double degrees = line ? ParseDouble(*line) : kDefaultMinimumElevationDeg;
  std::optional<std::string> damage = line ? LineDamage(reader, *line) : std::nullopt;
  if (damage) degrees = kDefaultMinimumElevationDeg;
  return {InMinimumElevationRange(degrees) ? degrees : kDefaultMinimumElevationDeg, damage};
}

}  // namespace

bool LoadMinimumElevation(ConfigContext& context) {
  const MinimumElevationRead read = MinimumElevationIn(context.dir);
  if (!read.degrees) context.messages.Show("Can't find file minel.dat");
  if (read.damage) {
    context.messages.Show(
        Format("%s line 1 %s: the minimum elevation is 5 degrees; the file is left as it is",
               kMinimumElevationFile, read.damage->c_str()));
  }
  context.station.minimumElevation = Radians(read.degrees.value_or(kDefaultMinimumElevationDeg));
  // A damaged file counts as not read, so shut-down leaves it as it is.
  return read.degrees.has_value() && !read.damage;
}

double ReadMinimumElevationDeg(const std::filesystem::path& dir) {
  return MinimumElevationIn(dir).degrees.value_or(kDefaultMinimumElevationDeg);
}

bool SaveMinimumElevation(ConfigContext& context) {
  const std::string text = MinimumElevationText(context.station);
  if (WriteFileAtomically(context.dir / kMinimumElevationFile, text)) return true;
  context.messages.Show(CantWrite(kMinimumElevationFile));
  return false;
}

bool LoadSatellites(ConfigContext& context, std::vector<KeptLine>* unloaded) {
  const std::filesystem::path elements = context.dir / kElementsFile;
  auto keep = [&](int slot, std::size_t line, const std::string& text, ElementSetResult code) {
    if (unloaded) unloaded->push_back({slot, line, text, ElementSetMessage(code)});
  };
  if (!LineReader(elements).ok()) {
    DeactivateAll(context.table);
    context.messages.Show(ElementSetMessage(ElementSetResult::FileMissing));
    // Every name stays unloaded: each keeps its place among the blank lines.
    LineReader sats(context.dir / kSatellitesFile);
    std::size_t number = 0;
    for (int slot = 0; slot < kSlotCount; ++number) {
      std::optional<std::string> line = sats.Next();
      if (!line || line->empty() || line->front() == ' ') {
        ++slot;
      } else {
        keep(slot, number, *line, ElementSetResult::FileMissing);
      }
    }
    return false;
  }
  LineReader sats(context.dir / kSatellitesFile);
  if (!sats.ok()) {
    DeactivateAll(context.table);
    context.messages.Show("Can't find file sats.dat");
    return false;
  }
  bool allLoaded = true;
  DeactivateAll(context.table);
  int slot = 0;
  for (std::size_t number = 0; slot < kSlotCount; ++number) {
    std::optional<std::string> line = sats.Next();
    // End of file, a leading blank, or an empty line (an editor that strips trailing blanks
    // turns the one-blank marker into one): the slot stays empty.
    if (!line || line->empty() || line->front() == ' ') {
      ++slot;
      continue;
    }
    if (line->size() > kMaxNameLength) {
      // The reader drops what lies past its limit, so a long line's tail never spills into the
      // next slot. No slot can hold so long a name and no element-file entry answers to one: it
      // fails as a name not found.
      context.messages.Show(ElementSetMessage(ElementSetResult::SatelliteNotFound));
      keep(slot, number, *line, ElementSetResult::SatelliteNotFound);
      allLoaded = false;
      continue;
    }
    ElementSetResult code =
        FindElementSet(elements, *line, context.table[static_cast<std::size_t>(slot)]);
    if (code == ElementSetResult::Ok) {
      ++slot;
    } else {
      context.messages.Show(ElementSetMessage(code));
      keep(slot, number, *line, code);
      allLoaded = false;
    }
  }
  return allLoaded;
}

bool SaveSatellites(ConfigContext& context) {
  if (WriteFileAtomically(context.dir / kSatellitesFile, SatellitesText(context.table))) {
    return true;
  }
  context.messages.Show(CantWrite(kSatellitesFile));
  return false;
}

ListAsRead SatellitesAsRead(const ConfigContext& context, bool loaded, std::vector<KeptLine> kept) {
  const std::filesystem::path path = context.dir / kSatellitesFile;
  // The kept lines byte for byte: the reader cuts a line at its limit, the file does not.
  const std::vector<std::string> raw = RawLines(path);
  for (KeptLine& line : kept) {
    if (line.line < raw.size()) line.text = raw[line.line];
  }
  return {ListReadOf(path, loaded), SatellitesText(context.table), LineReader(path).ok(),
          std::move(kept)};
}

ListAsRead MinimumElevationAsRead(const ConfigContext& context, bool loaded) {
  const std::filesystem::path path = context.dir / kMinimumElevationFile;
  return {
      ListReadOf(path, loaded), MinimumElevationText(context.station), LineReader(path).ok(), {}};
}

namespace {

// sats.dat as the table would write it with the lines that did not load back in their places.
std::string SatellitesTextKeeping(const SatelliteTable& table, const std::vector<KeptLine>& kept) {
  std::vector<std::string> lines;
  auto next = kept.begin();
  for (int slot = 0; slot < kSlotCount; ++slot) {
    for (; next != kept.end() && next->beforeSlot <= slot; ++next) lines.push_back(next->text);
    const SatelliteRecord& record = table[static_cast<std::size_t>(slot)];
    lines.push_back(record.IsActive() ? record.name.Get() : std::string(" "));
  }
  for (; next != kept.end(); ++next) lines.push_back(next->text);
  // Blank lines past the sixth only mark slots that end of file leaves empty anyway.
  while (lines.size() > static_cast<std::size_t>(kSlotCount) && lines.back() == " ") {
    lines.pop_back();
  }
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

}  // namespace

void SaveSatellitesAtShutDown(ConfigContext& context, const ListAsRead& asRead) {
  const std::string heldNow = SatellitesText(context.table);
  if (asRead.read != ListRead::Failed) {
    if (NeedsSaving(asRead, heldNow)) SaveSatellites(context);
    return;
  }
  if (heldNow == asRead.text) return;  // not changed during the run: left byte for byte
  if (!asRead.linesRead) {
    context.messages.Show(
        "sats.dat could not be read at start-up: the changes made to the list are not saved");
    return;
  }
  const std::filesystem::path path = context.dir / kSatellitesFile;
  if (!WriteFileAtomically(path, SatellitesTextKeeping(context.table, asRead.kept))) {
    context.messages.Show(CantWrite(kSatellitesFile));
    return;
  }
  if (asRead.kept.empty()) return;
  std::string message =
      "sats.dat saved with the changes made to the list; kept as they were, not loaded at "
      "start-up: ";
  for (std::size_t i = 0; i < asRead.kept.size(); ++i) {
    if (i > 0) message += ", ";
    message += asRead.kept[i].text + " (" + asRead.kept[i].reason + ")";
  }
  context.messages.Show(message);
}

void SaveMinimumElevationAtShutDown(ConfigContext& context, const ListAsRead& asRead) {
  if (NeedsSaving(asRead, MinimumElevationText(context.station))) SaveMinimumElevation(context);
}

long MachineTimeZoneHours() {
  tzset();
  return timezone / 3600;  // integer division cuts toward zero
}

LocationValues ReadLocation(const std::filesystem::path& dir) {
  LocationLines lines = ReadLocationLines(dir);
  LocationValues out;
  out.found = lines.found;
  if (!lines.found) {
    // The station runs at 0, 0, 0 feet without the file, so that is what the operator edits.
    out.timeZoneHours = MachineTimeZoneHours();
    return out;
  }
  out.latitude = ParseDouble(lines.line[0].value_or(""));
  out.longitude = ParseDouble(lines.line[1].value_or(""));
  out.height = ParseDouble(lines.line[2].value_or(""));
  // A file cut short before its time-zone line gets the machine's.
  out.timeZoneHours = lines.line[3] ? ParseLong(*lines.line[3]) : MachineTimeZoneHours();
  return out;
}

namespace {

// Six decimals, as the file has always held them; a value so large that its line would be
// too long to read back is written in exponent form instead, which reads back exactly.
std::string LocationNumber(double value) {
  std::string text = Format("%f", value);
  if (text.size() > kMaxLineLength) text = Format("%.17g", value);
  return text;
}

}  // namespace

std::string LocationText(double latitudeDeg, double longitudeDeg, double heightFeet,
                         long timeZoneHours) {
  return LocationNumber(latitudeDeg) + "\n" + LocationNumber(longitudeDeg) + "\n" +
         LocationNumber(heightFeet) + "\n" + Format("%d\n", static_cast<int>(timeZoneHours));
}

bool WriteLocation(ConfigContext& context, double latitudeDeg, double longitudeDeg,
                   double heightFeet, long timeZoneHours) {
  const std::string text = LocationText(latitudeDeg, longitudeDeg, heightFeet, timeZoneHours);
  if (WriteFileAtomically(context.dir / kLocationFile, text)) return true;
  context.messages.Show(CantWrite(kLocationFile));
  return false;
}

void UpdateLocation(ConfigContext& context, const LocationValues& old, double latitudeDeg,
                    double longitudeDeg, double heightFeet,
                    const std::function<void()>& checkMapFiles) {
  // Each check is written so that a NaN fails it.
  if (!(latitudeDeg >= -90.0 && latitudeDeg <= 90.0)) {
    context.messages.Show("Latitude must be between -90 and +90 degrees");
    latitudeDeg = old.latitude;
  }
  if (!(longitudeDeg >= -180.0 && longitudeDeg <= 180.0)) {
    context.messages.Show("Longitude must be between -180 and +180 degrees");
    longitudeDeg = old.longitude;
  }
  if (!(heightFeet >= 0.0 && heightFeet <= 30000.0)) {
    context.messages.Show("Height must be between 0 and 30,000 ft");
    heightFeet = old.height;
  }
  // Without a location.dat the confirmed values are written even when unchanged, so the file
  // exists from now on.
  bool changed = !old.found || latitudeDeg != old.latitude || longitudeDeg != old.longitude ||
                 heightFeet != old.height;
  if (!changed) return;
  if (!WriteLocation(context, latitudeDeg, longitudeDeg, heightFeet, old.timeZoneHours)) return;
  ReloadStation(context);
  if (checkMapFiles) checkMapFiles();
}

void UpdateMinimumElevation(ConfigContext& context, double degrees) {
  if (!InMinimumElevationRange(degrees)) return;
  context.station.minimumElevation = Radians(degrees);
  SaveMinimumElevation(context);
  ResetPasses(context.table);
}

}  // namespace halvik
