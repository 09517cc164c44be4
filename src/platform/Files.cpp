#include "platform/Files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace halvik {

LineReader::LineReader(const std::filesystem::path& path)
    : file_(std::fopen(path.c_str(), "rb")) {}

LineReader::~LineReader() {
  if (file_) std::fclose(file_);
}

std::optional<std::string> LineReader::Next() {
  if (!file_) return std::nullopt;
  std::string line;
  int c;
  bool any = false;
  while ((c = std::fgetc(file_)) != EOF) {
    any = true;
    if (c == '\n') break;
    line.push_back(static_cast<char>(c));
  }
  if (!any) return std::nullopt;
  if (c == '\n' && !line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

bool WriteFileAtomically(const std::filesystem::path& path, std::string_view content) {
  std::filesystem::path temp = path;
  temp += ".new";
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const char* data = content.data();
  std::size_t left = content.size();
  bool ok = true;
  while (left > 0) {
    ssize_t n = ::write(fd, data, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    data += n;
    left -= static_cast<std::size_t>(n);
  }
  if (ok && ::fsync(fd) != 0) ok = false;
  if (::close(fd) != 0) ok = false;
  if (ok && ::rename(temp.c_str(), path.c_str()) != 0) ok = false;
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

}  // namespace halvik
