#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "orbit/ElementSet.h"

namespace halvik {

// What `halvik propagate` lists: one satellite of an element file at a set of times, either
// given as minutes since its epoch or as a UTC start, a step and a count; optionally with the
// look angles and the sub-satellite point seen from a station.
struct PropagateOptions {
  std::filesystem::path elementsFile;
  std::string name;
  std::vector<double> minutes;        // tsince values, used when `fromSeconds` is empty
  std::optional<double> fromSeconds;  // UTC seconds since 1970 of the first line
  double stepSeconds = 0;             // between lines of the --from form
  int count = 0;                      // lines of the --from form
  std::optional<std::vector<std::string>> station;  // latitude deg, longitude deg, height ft
};

// Looks the satellite up and writes the listing to `out`: a header line starting with '#', then
// one line per time, fields separated by single blanks:
//   [utc] tsince_min x_km y_km z_km xdot_km_s ydot_km_s zdot_km_s [az_deg el_deg range_km
//   sublat_deg sublon_deg]
// state values with %.8f, station values with %.6f. Returns Ok, or the element-set result of a
// failed lookup (nothing written then).
ElementSetResult WritePropagateListing(const PropagateOptions& options, std::string& out);

// What is wrong with options that parsed, in one line for the user, or "" when they make a
// listing: steps positive, every time within 1950 to 2100 (or within kMaxPropagateMinutes of the
// epoch), the station on the globe at 0 to 30000 ft. Far outside those the propagator yields
// no number, and a listing of "nan" helps nobody.
inline constexpr double kMaxPropagateMinutes = 1e8;
std::string PropagateOptionsProblem(const PropagateOptions& options);

// A UTC time written as YYYY-MM-DDTHH:MM:SS[.fff]Z, as seconds since 1970. Nothing for any
// other text or an impossible date.
std::optional<double> ParseIsoUtc(std::string_view text);

// Seconds since 1970 as YYYY-MM-DDTHH:MM:SSZ (with .fff when not a whole second).
std::string FormatIsoUtc(double secondsSince1970);

// A whole text as one decimal number in the C locale (no blanks, nothing after it).
std::optional<double> ParseNumber(std::string_view text);

// Comma-separated texts, split without trimming.
std::vector<std::string> SplitCommas(std::string_view text);

}  // namespace halvik
