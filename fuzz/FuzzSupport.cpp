#include "FuzzSupport.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace halvik::fuzz {

const std::filesystem::path& ScratchDir() {
  static const std::filesystem::path dir = [] {
    // Memory-backed when the machine has it: every run writes its files again.
    std::error_code error;
    const std::filesystem::path base = std::filesystem::is_directory("/dev/shm", error)
                                           ? std::filesystem::path("/dev/shm")
                                           : std::filesystem::temp_directory_path();
    std::filesystem::path path = base / ("halvik-fuzz-" + std::to_string(::getpid()));
    std::filesystem::create_directories(path);
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(ScratchDir(), ignored);
    });
    return path;
  }();
  return dir;
}

void WriteBytes(const std::filesystem::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::string_view> Split(std::string_view input, char separator, std::size_t parts) {
  std::vector<std::string_view> out;
  while (out.size() + 1 < parts) {
    const std::size_t at = input.find(separator);
    if (at == std::string_view::npos) break;
    out.push_back(input.substr(0, at));
    input.remove_prefix(at + 1);
  }
  out.push_back(input);
  out.resize(parts);
  return out;
}

void Require(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "finding: %s\n", what);
  std::abort();
}

}  // namespace halvik::fuzz
