#include "web/Svg.h"

#include <cstdint>

#include "platform/Text.h"

namespace halvik::web {

std::string XmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += static_cast<unsigned char>(c) < 0x20 ? '?' : c;
    }
  }
  return out;
}

std::string EntityTag(std::string_view body) {
  std::uint64_t hash = 14695981039346656037ull;
  for (char c : body) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  return Format("\"%016llx\"", static_cast<unsigned long long>(hash));
}

std::string Coord(double value) {
  std::string text = Format("%.1f", value);
  if (text == "-0.0") text = "0.0";
  return text;
}

}  // namespace halvik::web
