#pragma once

#include <filesystem>
#include <string>
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

// What the parser makes of a name and two element lines: a result code and, when it is
// kElementsOk, the satellite ready to be installed into a slot.
struct ParsedSatellite {
  int code = kElementsOk;
  std::string name;
  ElementSet elements;
  bool ok() const { return code == kElementsOk; }
};

// Checks two element lines and reads the satellite `name` from them; touches no slot.
ParsedSatellite ParseElementSet(std::string_view name, std::string_view line1,
                                std::string_view line2);

// Looks `name` up (ASCII case ignored, trailing blanks of name lines trimmed) in the element
// file and parses the two lines after the matching name line.
ParsedSatellite FindElementSet(const std::filesystem::path& elementsFile, std::string_view name);

// For the thread that owns `slot`: the above, installed into the slot. A parse failure leaves
// the slot cleared; a missing file or name leaves it untouched.
int ParseElementSet(std::string_view name, std::string_view line1, std::string_view line2,
                    SatelliteRecord& slot);
int FindElementSet(const std::filesystem::path& elementsFile, std::string_view name,
                   SatelliteRecord& slot);

}  // namespace halvik
