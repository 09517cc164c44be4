#include "platform/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace halvik {

UniqueFile OpenRegularFile(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st {};
  const int flags = ::fcntl(fd, F_GETFL);
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flags < 0 ||
      ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    ::close(fd);
    return nullptr;
  }
  UniqueFile file(::fdopen(fd, "rb"));
  if (!file) ::close(fd);
  return file;
}

LineReader::LineReader(const std::filesystem::path& path, std::size_t limit)
    : file_(OpenRegularFile(path)), limit_(limit) {}

LineReader::~LineReader() = default;

std::optional<std::string> LineReader::Next() {
  if (!file_) return std::nullopt;
  // Room for the limit and two CRs of a line end; past that the rest of the line is skipped.
  const std::size_t keep = limit_ + 2;
  std::string line;
  int c;
  bool any = false;
  bool overflow = false;
  while ((c = std::fgetc(file_.get())) != EOF) {
    any = true;
    if (c == '\n') break;
    if (line.size() < keep) {
      line.push_back(static_cast<char>(c));
    } else {
      overflow = true;
    }
  }
  if (!any) return std::nullopt;
  if (c == '\n' && !overflow) {
    while (!line.empty() && line.back() == '\r') line.pop_back();
  }
  if (overflow || line.size() > limit_) line.resize(limit_ + 1);
  return line;
}

namespace {

// The kernel's own limit on links followed in one lookup.
constexpr int kMaxLinkHops = 40;

// The file that `path` names once its symbolic links are followed (a relative link from the
// link's own folder). Nothing for a loop of links.
std::optional<std::filesystem::path> FollowLinks(std::filesystem::path path) {
  for (int hops = 0; hops <= kMaxLinkHops; ++hops) {
    std::error_code error;
    if (!std::filesystem::is_symlink(path, error)) return path;
    std::filesystem::path target = std::filesystem::read_symlink(path, error);
    if (error) return std::nullopt;
    path = target.is_absolute() ? target : path.parent_path() / target;
  }
  return std::nullopt;
}

}  // namespace

bool WriteFileAtomically(const std::filesystem::path& link, std::string_view content) {
  // The rename replaces the link's target, not the link: an operator's file kept elsewhere and
  // linked into the station stays where it is.
  const std::optional<std::filesystem::path> target = FollowLinks(link);
  if (!target) return false;
  const std::filesystem::path& path = *target;
  std::filesystem::path temp = path;
  temp += ".new";
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  // The new content keeps the old file's permissions; a new file gets the umask's.
  struct stat old {};
  if (::stat(path.c_str(), &old) == 0 && ::fchmod(fd, old.st_mode & 07777) != 0) {
    ::close(fd);
    ::unlink(temp.c_str());
    return false;
  }
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

std::optional<std::string> ReadSmallFile(const std::filesystem::path& path, std::size_t limit) {
  const UniqueFile file = OpenRegularFile(path);
  if (!file) return std::nullopt;
  std::string text(limit + 1, '\0');
  const std::size_t got = std::fread(text.data(), 1, text.size(), file.get());
  if (got > limit || std::ferror(file.get())) return std::nullopt;
  text.resize(got);
  return text;
}

}  // namespace halvik
