#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "orbit/SatelliteTable.h"

namespace halvik {

// Results of ParseElementSet and FindElementSet.
enum class ElementSetResult {
  Ok = 0,
  ChecksumError = 2,
  Line1StartError = 10,
  Line1LengthError = 11,
  Line2StartError = 12,
  Line2LengthError = 13,
  // A field that is not a number of its kind (an epoch that is no day of a year 1950 to 2049, a
  // value that is not finite) is the format error of its line.
  Line1FieldError = Line1StartError,
  Line2FieldError = Line2StartError,
  FileMissing = 100,
  SatelliteNotFound = 101,
};

// The message every caller shows for a result ("" for success).
const char* ElementSetMessage(ElementSetResult result);

// What the parser makes of a name and two element lines: a result and, when it is Ok, the
// satellite ready to be installed into a slot.
struct ParsedSatellite {
  ElementSetResult code = ElementSetResult::Ok;
  std::string name;
  ElementSet elements;
  bool ok() const { return code == ElementSetResult::Ok; }
};

// Checks two element lines and reads the satellite `name` from them; touches no slot.
ParsedSatellite ParseElementSet(std::string_view name, std::string_view line1,
                                std::string_view line2);

// Looks `name` up (ASCII case ignored, trailing blanks of name lines trimmed) in the element
// file and parses the two lines after the matching name line.
ParsedSatellite FindElementSet(const std::filesystem::path& elementsFile, std::string_view name);

// For the thread that owns `slot`: the above, installed into the slot. A parse failure leaves
// the slot cleared; a missing file or name leaves it untouched.
ElementSetResult ParseElementSet(std::string_view name, std::string_view line1,
                                 std::string_view line2, SatelliteRecord& slot);
ElementSetResult FindElementSet(const std::filesystem::path& elementsFile, std::string_view name,
                                SatelliteRecord& slot);

}  // namespace halvik
