#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace halvik {

// Numbers in station files and on screen are always read and written in the C locale, whatever
// the locale of the process (a German locale must not turn "45.5" into 45).

// The leading decimal number of a text, as strtod reads it in the C locale (leading blanks
// skipped, optional sign, digits, optional fraction and exponent); 0.0 when there is none.
double ParseDouble(std::string_view text);

// The leading integer of a text, as atol reads it in the C locale; 0 when there is none.
long ParseLong(std::string_view text);

// printf-style formatting in the C locale.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Whole-string comparison ignoring the case of ASCII letters.
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

// Seconds since 1970 as UTC in ISO 8601, to the second: "2026-12-10T19:00:00Z".
std::string IsoUtcSeconds(std::int64_t seconds);

}  // namespace halvik
