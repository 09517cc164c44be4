#include "platform/Text.h"

#include <locale.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

namespace halvik {
namespace {

// A C locale for this thread's formatting and parsing, made once per thread.
locale_t CLocale() {
  thread_local locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  return c;
}

class InCLocale {
 public:
  InCLocale() : previous_(uselocale(CLocale())) {}
  ~InCLocale() { uselocale(previous_); }
  InCLocale(const InCLocale&) = delete;
  InCLocale& operator=(const InCLocale&) = delete;

 private:
  locale_t previous_;
};

}  // namespace

double ParseDouble(std::string_view text) {
  std::string copy(text);
  InCLocale c;
  return std::strtod(copy.c_str(), nullptr);
}

long ParseLong(std::string_view text) {
  std::string copy(text);
  InCLocale c;
  return std::strtol(copy.c_str(), nullptr, 10);
}

std::string Format(const char* format, ...) {
  InCLocale c;
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string out;
  if (n > 0) {
    out.resize(static_cast<std::size_t>(n) + 1);
    std::vsnprintf(out.data(), out.size(), format, args);
    out.resize(static_cast<std::size_t>(n));
  }
  va_end(args);
  return out;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::string IsoUtcSeconds(std::int64_t seconds) {
  const auto t = static_cast<std::time_t>(seconds);
  std::tm utc{};
  if (!gmtime_r(&t, &utc)) return "?";
  return Format("%04d-%02d-%02dT%02d:%02d:%02dZ", utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday,
                utc.tm_hour, utc.tm_min, utc.tm_sec);
}

}  // namespace halvik
