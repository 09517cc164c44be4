#include "ui/DialogRules.h"

#include <cmath>

#include "platform/SystemInfo.h"
#include "platform/Text.h"

namespace halvik {
namespace {

constexpr int kDialogPrecision = 15;
static_assert(
    sizeof(unsigned long) == 8,
    "\"%lu KB\" must hold 64-bit kilobyte counts");  // significant digits of numbers in the dialogs

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// True when the text, blanks aside, is exactly one decimal number.
bool IsDecimalNumber(std::string_view text) {
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n && IsBlank(text[i])) ++i;
  if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
  std::size_t digits = 0;
  while (i < n && IsDigit(text[i])) ++i, ++digits;
  if (i < n && text[i] == '.') {
    ++i;
    while (i < n && IsDigit(text[i])) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
    std::size_t exponentDigits = 0;
    while (i < n && IsDigit(text[i])) ++i, ++exponentDigits;
    if (exponentDigits == 0) return false;
  }
  while (i < n && IsBlank(text[i])) ++i;
  return i == n;
}

}  // namespace

std::optional<std::string> CheckNumberField(std::string_view text, NumberLimits limits,
                                            double& value) {
  if (!IsDecimalNumber(text)) return std::string("Please enter a number.");
  // Too large a number reads as infinity and fails the range like any other.
  const double number = ParseDouble(text);
  if (!(number >= limits.minimum && number <= limits.maximum)) {
    return "Please enter a number between " + DialogNumberText(limits.minimum) + " and " +
           DialogNumberText(limits.maximum) + ".";
  }
  value = number;
  return std::nullopt;
}

std::optional<std::string> CheckTextField(std::string_view text, int maxCharacters) {
  long characters = 0;
  for (char c : text) {
    // UTF-8 continuation bytes belong to the character before them.
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++characters;
  }
  if (characters <= maxCharacters) return std::nullopt;
  return "Please enter no more than " + Format("%d", maxCharacters) + " characters.";
}

std::string DialogNumberText(double value) {
  return Format("%.*g", kDialogPrecision, value);
}

std::string AboutMemoryText(std::optional<std::uint64_t> physicalBytes) {
  if (!physicalBytes) return "Unavailable";
  return Format("%lu KB", static_cast<unsigned long>(*physicalBytes / 1024));
}

std::string AboutDiskText(std::optional<double> freeBytes, const std::string& mountPoint) {
  if (!freeBytes || !(*freeBytes >= 0) || !std::isfinite(*freeBytes)) return "Unavailable";
  // 64-bit kilobytes: volumes with more than 4 GiB free are shown in full.
  const auto kilobytes = static_cast<unsigned long>(std::floor(*freeBytes / 1024.0));
  return Format("%lu KB Free on %s", kilobytes, mountPoint.c_str());
}

AboutValues ReadAboutValues(SystemInfo& system, const std::filesystem::path& dir) {
  AboutValues values;
  values.memory = AboutMemoryText(system.PhysicalMemoryBytes());
  std::optional<double> free = system.FreeBytes(dir);
  values.disk = free ? AboutDiskText(free, system.MountPoint(dir)) : "Unavailable";
  return values;
}

}  // namespace halvik
