#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "orbit/SatelliteTable.h"
#include "orbit/StationConfig.h"
#include "platform/Messages.h"
#include "platform/Units.h"

namespace halvik {

// The station files: location.dat (latitude and longitude in degrees, height in feet, time-zone
// hours), minel.dat (minimum elevation in degrees) and sats.dat (one satellite name per slot, a
// single blank for an empty slot). All live in `dir`, the station's working directory; numbers
// are read and written in the C locale, files are written with LF line ends through a temporary
// file and a rename, so a crash or a full disk leaves the previous file whole.

// What the configuration operations work on. The table and the station are read by the tracking
// thread while the user-interface thread changes them; every field is a shared value and the
// slots follow the active-flag protocol (readers test IsActive() first). The user-interface
// thread changes a slot only through its update request (SatelliteRecord::update).
struct ConfigContext {
  std::filesystem::path dir;
  SatelliteTable& table;
  StationConfig& station;
  Messages& messages;
};

inline constexpr double kDefaultMinimumElevationDeg = 5.0;
inline constexpr double kMaximumMinimumElevationDeg = 25.0;

// Reads location.dat into the station. True when the file was read; false when it is missing,
// after "Can't find file location.dat", with the station at latitude 0, longitude 0, height 0
// and the legacy map images world.map and zoom.map deleted.
bool LoadStation(ConfigContext& context);

// LoadStation, then has the tracking thread clear aosPending and inPass of all six slots at its
// next step, so that every slot searches its pass again for the new station.
void ReloadStation(ConfigContext& context);

// Reads minel.dat: a value from 0 to 25 degrees is taken, anything else gives 5 degrees; a
// missing file gives 5 degrees after "Can't find file minel.dat". True when the file was read.
bool LoadMinimumElevation(ConfigContext& context);

// The minimum elevation in degrees that LoadMinimumElevation takes from minel.dat, read without
// messages.
double ReadMinimumElevationDeg(const std::filesystem::path& dir);

// Writes the minimum elevation in degrees ("%f\n"). False, with a message and the old file
// intact, when the file cannot be written.
bool SaveMinimumElevation(ConfigContext& context);

// A line of sats.dat that named no satellite the station could load, kept to be written back as
// it was: it takes no slot (the names after it moved up), so it goes back before the line of
// the slot that followed it.
struct KeptLine {
  int beforeSlot = 0;
  std::size_t line = 0;  // its line number in sats.dat, from 0
  std::string text;      // the line as read, line end removed
  std::string reason;    // the message its load showed
};

// Fills the table from sats.dat and elements.dat. Line i names slot i; a line beginning with a
// blank (or an empty line) keeps its slot empty; a name that fails to load is reported and the
// names after it move up one slot. True when both files were read and every name loaded.
// `unloaded` receives the lines that named no loadable satellite (every name when elements.dat
// is missing).
bool LoadSatellites(ConfigContext& context, std::vector<KeptLine>* unloaded = nullptr);

// Writes sats.dat from the table: each active slot's name, a single blank for an empty slot.
// False, with a message and the old file intact, when the file cannot be written.
bool SaveSatellites(ConfigContext& context);

// How start-up found one of the operator's lists (sats.dat, minel.dat), and the file as the
// station would have written it right after the load.
enum class ListRead { Read, Absent, Failed };
struct ListAsRead {
  ListRead read = ListRead::Failed;
  std::string text;
  bool linesRead = false;      // the file's lines are known (it could be opened)
  std::vector<KeptLine> kept;  // sats.dat: the lines that did not load, as they are in the file
};
// After LoadSatellites or LoadMinimumElevation returned `loaded`: Read when it did; Absent when
// the name holds nothing at all (not even a dangling link); Failed otherwise.
ListAsRead SatellitesAsRead(const ConfigContext& context, bool loaded,
                            std::vector<KeptLine> kept = {});
ListAsRead MinimumElevationAsRead(const ConfigContext& context, bool loaded);

// Shut-down's saves. A list is written only when no line of the operator's can be lost by it:
// it was absent (the station's values create it), it was read whole and the station now holds
// something else, or its load failed and the operator changed the list during the run. In the
// last case sats.dat gets the table with every line that did not load back in its place, as it
// was, and one message names those lines and why they did not load; a list that was not
// changed, or whose lines could not be read at all, is left byte for byte. minel.dat holds one
// value, which the Minimum Elevation command writes at once: one that could not be read is left
// as it is until the operator sets a new value.
void SaveSatellitesAtShutDown(ConfigContext& context, const ListAsRead& asRead);
void SaveMinimumElevationAtShutDown(ConfigContext& context, const ListAsRead& asRead);

// The values of location.dat that the Location command starts from.
struct LocationValues {
  double latitude = 0;     // degrees, north positive
  double longitude = 0;    // degrees, east positive
  double height = 0;       // feet
  long timeZoneHours = 0;  // hours between UTC and local standard time, positive west
  bool found = false;      // location.dat could be opened
};

// Reads location.dat as LoadStation does. When the file cannot be opened the values are those
// the station falls back to (0, 0, 0 feet) with the machine's time zone, and `found` is false.
LocationValues ReadLocation(const std::filesystem::path& dir);

// The machine's time zone as location.dat's fourth line holds it: seconds west of UTC divided
// by 3600, cut toward zero (UTC+05:30 gives -5).
long MachineTimeZoneHours();

// location.dat's text: latitude, longitude and height as "%f\n" each, the time-zone hours as
// "%d\n".
std::string LocationText(double latitudeDeg, double longitudeDeg, double heightFeet,
                         long timeZoneHours);

// Rewrites location.dat with LocationText. False, with a message and the old file intact, when
// it cannot be written.
bool WriteLocation(ConfigContext& context, double latitudeDeg, double longitudeDeg,
                   double heightFeet, long timeZoneHours);

// The Location command after the operator confirmed: each value out of range is reported and
// replaced by its old value; when anything differs from `old` (or there was no location.dat),
// location.dat is rewritten keeping the old time-zone line, the station is reloaded and the map
// files are checked. When the rewrite fails the station keeps its current values.
void UpdateLocation(ConfigContext& context, const LocationValues& old, double latitudeDeg,
                    double longitudeDeg, double heightFeet,
                    const std::function<void()>& checkMapFiles);

// The Minimum Elevation command: a value from 0 to 25 degrees is taken and saved, and every slot
// searches its pass again from the tracking thread's next step; anything else changes nothing.
void UpdateMinimumElevation(ConfigContext& context, double degrees);

}  // namespace halvik
