#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "ui/StationCommands.h"

namespace halvik {

class SystemInfo;

// The checks the operator's dialogs make when OK is pressed, and the texts they show. Numbers
// are read and written in the C locale, whatever the user's locale.

struct NumberLimits {
  double minimum;
  double maximum;
};

inline constexpr NumberLimits kLatitudeLimits{-90.0, 90.0};     // degrees
inline constexpr NumberLimits kLongitudeLimits{-180.0, 180.0};  // degrees
// Feet. Wider than what the station accepts (30000 ft); the station refuses the rest itself.
inline constexpr NumberLimits kHeightLimits{0.0, 50000.0};
inline constexpr NumberLimits kMinimumElevationLimits{0.0, 25.0};  // degrees
inline constexpr int kSatelliteNameMaxCharacters = 30;

// A number field's text: a decimal number (optional sign, digits with an optional point,
// optional exponent) with nothing around it but blanks and tabs, inside the limits inclusive.
// On success stores the number in `value` and returns nothing; otherwise returns the message
// to show ("Please enter a number." or "Please enter a number between %1 and %2.") and leaves
// `value` alone.
std::optional<std::string> CheckNumberField(std::string_view text, NumberLimits limits,
                                            double& value);

// A text field of at most `maxCharacters` characters (UTF-8 text, counted in characters).
// Returns the message "Please enter no more than %1 characters." when it is longer.
std::optional<std::string> CheckTextField(std::string_view text, int maxCharacters);

// A number as an edit field shows it: up to 15 significant digits.
std::string DialogNumberText(double value);

// The About box values: "%lu KB" of physical memory, and "%lu KB Free on <mount point>" for
// the file system that holds `dir` ("Unavailable" when a figure cannot be had).
std::string AboutMemoryText(std::optional<std::uint64_t> physicalBytes);
std::string AboutDiskText(std::optional<double> freeBytes, const std::string& mountPoint);
AboutValues ReadAboutValues(SystemInfo& system, const std::filesystem::path& dir);

}  // namespace halvik
