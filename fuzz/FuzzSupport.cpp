#include "FuzzSupport.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace halvik::fuzz {

namespace {

constexpr std::string_view kScratchPrefix = "halvik-fuzz-";

// libFuzzer leaves without running exit handlers when it stops on a finding, a time-out or its
// time limit, so the directory of a process that is gone is removed by the next one to start.
void RemoveLeftovers(const std::filesystem::path& base) {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(base, error)) {
    const std::string name = entry.path().filename().string();
    if (name.size() <= kScratchPrefix.size() || name.rfind(kScratchPrefix, 0) != 0) continue;
    const std::string digits = name.substr(kScratchPrefix.size());
    if (digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 9) continue;
    const auto pid = static_cast<pid_t>(std::stol(digits));
    if (::kill(pid, 0) == 0 || errno != ESRCH) continue;  // still running, or not ours to ask
    std::error_code ignored;
    std::filesystem::remove_all(entry.path(), ignored);
  }
}

}  // namespace

const std::filesystem::path& ScratchDir() {
  static const std::filesystem::path dir = [] {
    // Memory-backed when the machine has it: every run writes its files again.
    std::error_code error;
    const std::filesystem::path base = std::filesystem::is_directory("/dev/shm", error)
                                           ? std::filesystem::path("/dev/shm")
                                           : std::filesystem::temp_directory_path();
    RemoveLeftovers(base);
    std::filesystem::path path = base / (std::string(kScratchPrefix) + std::to_string(::getpid()));
    std::filesystem::create_directories(path);
    // An ordinary exit (-runs, the end of a corpus) still cleans up at once.
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(ScratchDir(), ignored);
    });
    return path;
  }();
  return dir;
}

void WriteBytes(const std::filesystem::path& path, std::string_view bytes) {
  // Plain system calls: a stream's buffer is an allocation (filled by the sanitizer) per file
  // per run, and the harness writes several files every run.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  Require(fd >= 0, "the scratch directory cannot be written");
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    Require(n > 0, "a scratch file could not be written whole");
    done += static_cast<std::size_t>(n);
  }
  ::close(fd);
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
