#include "web/ByteRange.h"

#include <algorithm>
#include <optional>

namespace halvik::web {
namespace {

// The digits of `text` as a number; nothing when empty, not all digits or too long.
std::optional<std::uint64_t> Number(std::string_view text) {
  if (text.empty() || text.size() > 18) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return value;
}

}  // namespace

ByteRange ChooseRange(std::string_view header, std::uint64_t size) {
  const ByteRange whole{ByteRange::Whole, 0, size};
  constexpr std::string_view kUnit = "bytes=";
  if (header.substr(0, kUnit.size()) != kUnit) return whole;
  const std::string_view range = header.substr(kUnit.size());
  const std::size_t dash = range.find('-');
  if (range.find(',') != std::string_view::npos || dash == std::string_view::npos) return whole;
  const std::string_view fromText = range.substr(0, dash);
  const std::string_view toText = range.substr(dash + 1);
  const std::optional<std::uint64_t> from = Number(fromText);
  const std::optional<std::uint64_t> to = Number(toText);
  if (!fromText.empty() && !from) return whole;
  if (!from) {
    // "-n": the last n bytes.
    if (!to) return whole;
    if (*to == 0 || size == 0) return {ByteRange::Unsatisfiable};
    const std::uint64_t length = std::min(*to, size);
    return {ByteRange::Part, size - length, length};
  }
  if (!toText.empty() && !to) return whole;
  if (to && *to < *from) return {ByteRange::Unsatisfiable};
  if (*from >= size) return {ByteRange::Unsatisfiable};
  const std::uint64_t last = to ? std::min(*to, size - 1) : size - 1;
  return {ByteRange::Part, *from, last - *from + 1};
}

}  // namespace halvik::web
