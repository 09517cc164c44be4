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

std::string CantWrite(const char* file) {
  return std::string("Can't write file ") + file;
}

// The four lines of location.dat as text; lines past the end of the file are absent.
struct LocationLines {
  bool found = false;
  std::optional<std::string> line[4];
};

LocationLines ReadLocationLines(const std::filesystem::path& dir) {
  LocationLines out;
  LineReader reader(dir / kLocationFile);
  if (!reader.ok()) return out;
  for (auto& line : out.line) {
    line = reader.Next();
    // An over-long line holds no value of the station's; the file is as good as missing.
    if (line && reader.TooLong(*line)) return LocationLines{};
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
  SetStation(context.station, lines.line[0].value_or(""), lines.line[1].value_or(""),
             lines.line[2].value_or(""));
  return true;
}

void ReloadStation(ConfigContext& context) {
  LoadStation(context);
  ResetPasses(context.table);
}

namespace {

// minel.dat's value in degrees; nothing when the file cannot be opened.
std::optional<double> MinimumElevationIn(const std::filesystem::path& dir) {
  LineReader reader(dir / kMinimumElevationFile);
  if (!reader.ok()) return std::nullopt;
  // An empty file (a zero-length leftover) has no value at all and gets the default, like any
  // value outside the range; a line without a number reads as 0.
  std::optional<std::string> line = reader.Next();
  double degrees = line ? ParseDouble(*line) : kDefaultMinimumElevationDeg;
  if (line && reader.TooLong(*line)) degrees = kDefaultMinimumElevationDeg;
  return InMinimumElevationRange(degrees) ? degrees : kDefaultMinimumElevationDeg;
}

}  // namespace

bool LoadMinimumElevation(ConfigContext& context) {
  std::optional<double> degrees = MinimumElevationIn(context.dir);
  if (!degrees) context.messages.Show("Can't find file minel.dat");
  context.station.minimumElevation = Radians(degrees.value_or(kDefaultMinimumElevationDeg));
  return degrees.has_value();
}

double ReadMinimumElevationDeg(const std::filesystem::path& dir) {
  return MinimumElevationIn(dir).value_or(kDefaultMinimumElevationDeg);
}

bool SaveMinimumElevation(ConfigContext& context) {
  const std::string text = MinimumElevationText(context.station);
  if (WriteFileAtomically(context.dir / kMinimumElevationFile, text)) return true;
  context.messages.Show(CantWrite(kMinimumElevationFile));
  return false;
}

bool LoadSatellites(ConfigContext& context) {
  const std::filesystem::path elements = context.dir / kElementsFile;
  if (!LineReader(elements).ok()) {
    DeactivateAll(context.table);
    context.messages.Show(ElementSetMessage(ElementSetResult::FileMissing));
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
  while (slot < kSlotCount) {
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
      allLoaded = false;
      continue;
    }
    ElementSetResult code =
        FindElementSet(elements, *line, context.table[static_cast<std::size_t>(slot)]);
    if (code == ElementSetResult::Ok) {
      ++slot;
    } else {
      context.messages.Show(ElementSetMessage(code));
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

ListAsRead SatellitesAsRead(const ConfigContext& context, bool loaded) {
  return {ListReadOf(context.dir / kSatellitesFile, loaded), SatellitesText(context.table)};
}

ListAsRead MinimumElevationAsRead(const ConfigContext& context, bool loaded) {
  return {ListReadOf(context.dir / kMinimumElevationFile, loaded),
          MinimumElevationText(context.station)};
}

void SaveSatellitesAtShutDown(ConfigContext& context, const ListAsRead& asRead) {
  if (NeedsSaving(asRead, SatellitesText(context.table))) SaveSatellites(context);
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
