#pragma once

#include <string>
#include <string_view>

namespace halvik::web {

// Text for an SVG or HTML element or attribute: the five markup characters as entities, and
// control characters (none of which XML 1.0 allows) as '?'.
std::string XmlEscape(std::string_view text);

// A strong entity tag of a body: its 64-bit FNV-1a hash in hexadecimal, quoted.
std::string EntityTag(std::string_view body);

// A number for an SVG coordinate: one decimal, C locale.
std::string Coord(double value);

}  // namespace halvik::web
