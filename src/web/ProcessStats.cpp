#include "web/ProcessStats.h"

#include <sys/resource.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

namespace halvik::web {

double ProcessCpuSeconds() {
  rusage usage{};
  if (getrusage(RUSAGE_SELF, &usage) != 0) return 0.0;
  auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

std::optional<std::uint64_t> ResidentPagesFromStatm(std::string_view statm) {
  std::istringstream in{std::string(statm)};
  std::uint64_t size = 0;
  std::uint64_t resident = 0;
  if (!(in >> size >> resident)) return std::nullopt;
  return resident;
}

std::optional<std::uint64_t> ProcessResidentBytes() {
  std::ifstream file("/proc/self/statm");
  std::string text;
  if (!std::getline(file, text)) return std::nullopt;
  const std::optional<std::uint64_t> pages = ResidentPagesFromStatm(text);
  const long pageSize = sysconf(_SC_PAGESIZE);
  if (!pages || pageSize <= 0) return std::nullopt;
  return *pages * static_cast<std::uint64_t>(pageSize);
}

}  // namespace halvik::web
