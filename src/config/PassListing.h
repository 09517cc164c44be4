#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/Messages.h"

namespace halvik {

// One listed pass, as its line gives it.
struct ListedPassTimes {
  int slot = 0;
  std::string name;      // as sats.dat has it
  std::int64_t aos = 0;  // s since 1970 UTC
  std::int64_t los = 0;  // s since 1970 UTC; 0 when it stays up for a day (no end listed)
  double maxElevationDeg = 0;
  bool northbound = false;
  bool flip = false;
};

// What `halvik passes` prints for a station directory.
struct PassListing {
  // A header line starting with '#', then one line per pass, fields separated by single
  // blanks: slot name aos los max_el_deg direction flip. The name has its blanks replaced by
  // '_'; aos and los are UTC as YYYY-MM-DDTHH:MM:SSZ, exactly the times the station's AOS and
  // LOS searches store; max_el_deg with one decimal; direction north or south; flip "flip" or
  // "-". Geosynchronous slots come first, one line each with "geo geo - - -"; the passes follow
  // ordered by AOS (by slot for equal times).
  std::vector<std::string> lines;
  // The passes of `lines` in the same order, geosynchronous slots left out.
  std::vector<ListedPassTimes> passes;
  int satellitesLoaded = 0;  // active slots after loading sats.dat and elements.dat
};

// Loads minel.dat, location.dat, sats.dat and elements.dat from `dir` with the station's own
// loaders (their messages go to `messages`) and lists every pass of every active slot whose
// AOS lies in [fromSeconds, fromSeconds + hours), UTC seconds since 1970. A pass already under
// way at fromSeconds began before the window and is not listed.
PassListing ListPasses(const std::filesystem::path& dir, std::int64_t fromSeconds, double hours,
                       Messages& messages);

}  // namespace halvik
