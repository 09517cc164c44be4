#pragma once

#include <filesystem>
#include <string_view>

#include "orbit/SatelliteTable.h"

namespace halvik {

// Result codes of ParseElementSet and FindElementSet.
enum ElementSetResult : int {
  kElementsOk = 0,
  kChecksumError = 2,
  kLine1StartError = 10,
  kLine1LengthError = 11,
  kLine2StartError = 12,
  kLine2LengthError = 13,
  // A field that is not a number of its kind (an epoch that is no day of a year 1950 to 2049, a
  // value that is not finite) is the format error of its line.
  kLine1FieldError = kLine1StartError,
  kLine2FieldError = kLine2StartError,
  kElementsFileMissing = 100,
  kSatelliteNotFound = 101,
};

// The message every caller shows for a result code ("" for success).
const char* ElementSetMessage(int code);

// Checks two element lines and loads them into `slot` under `name`. Clears the slot first and
// sets `active` last (release), so a reader that sees the slot active sees it whole.
int ParseElementSet(std::string_view name, std::string_view line1, std::string_view line2,
                    SatelliteRecord& slot);

// Looks `name` up (ASCII case ignored, trailing blanks of name lines trimmed) in the element
// file and parses the two lines after the matching name line into `slot`.
int FindElementSet(const std::filesystem::path& elementsFile, std::string_view name,
                   SatelliteRecord& slot);

}  // namespace halvik
