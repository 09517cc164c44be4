#pragma once

#include <string>

#include "config/StationFiles.h"
#include "orbit/SatelliteTable.h"
#include "orbit/StationConfig.h"
#include "platform/Messages.h"
#include "support/TempDir.h"

namespace halvik::testing {

// Real historical element sets (November 2000, plus a geosynchronous and a low-inclination
// satellite from December 2007), name line and two element lines each.
inline const std::string kNoaa12 =
    "NOAA 12\n"
    "1 21263U 91032A   00321.95002677  .00000715  00000-0  33157-3 0  9660\n"
    "2 21263  98.5585 313.6325 0011897 261.8628  98.1195 14.23742600493961\n";
inline const std::string kNoaa14 =
    "NOAA 14\n"
    "1 23455U 94089A   00322.04713399  .00000318  00000-0  19705-3 0  5298\n"
    "2 23455  99.1591 303.5706 0010037  25.7760 334.3905 14.12496755303183\n";
inline const std::string kNoaa15 =
    "NOAA 15\n"
    "1 25338U 98030A   00321.93091776  .00000542  00000-0  25755-3 0   101\n"
    "2 25338  98.6214 347.7510 0010209 188.9398 171.1600 14.23403935130596\n";
inline const std::string kNoaa16 =
    "NOAA 16\n"
    "1 26536U 00055A   00322.42232311  .00000205  00000-0  13819-3 0   787\n"
    "2 26536  98.7999 265.9960 0011351 110.3846 249.8716 14.10959573  8038\n";
inline const std::string kGoes12 =
    "GOES 12\n"
    "1 26871U 01031A   07359.12381461 -.00000244  00000-0  00000-0 0  3602\n"
    "2 26871   0.4626 264.8340 0001263 119.7249  37.7290  1.00277156 23592\n";
inline const std::string kHete2 =
    "HETE-2\n"
    "1 26561U 00061A   07359.65628936  .00001100  00000-0  25472-4 0  1983\n"
    "2 26561   1.9511 247.0012 0024076 306.0803  53.7005 14.95820486394175\n";
// NOAA 17 with one digit of line 2 changed, so its check digit no longer matches.
inline const std::string kBadChecksum =
    "NOAA 17\n"
    "1 27453U 02032A   07359.86123029  .00000202  00000-0  10673-3 0  7300\n"
    "2 27453  98.5602  64.3560 0010908 254.1888 105.8081 14.23936277285992\n";

inline const std::string kAllElements =
    kNoaa12 + kNoaa14 + kNoaa15 + kNoaa16 + kGoes12 + kHete2 + kBadChecksum;

// A station directory in a fresh temporary directory with its records and recorded messages.
struct StationUnderTest {
  TempDir dir;
  SatelliteTable table;
  StationConfig station;
  RecordingMessages messages;
  ConfigContext context{dir.path(), table, station, messages};

  StationUnderTest() { dir.Write("elements.dat", kAllElements); }

  // Loads sats.dat with the given content into the table and forgets the messages it showed.
  void LoadList(const std::string& satsDat) {
    dir.Write("sats.dat", satsDat);
    LoadSatellites(context);
    messages.Clear();
  }

  // What the tracking thread does with the commands' requests at its next prediction step.
  void Install() { InstallSlotUpdates(table); }

  std::string Name(int slot) const { return table[static_cast<std::size_t>(slot)].name.Get(); }
  bool Active(int slot) const { return table[static_cast<std::size_t>(slot)].IsActive(); }
};

}  // namespace halvik::testing
