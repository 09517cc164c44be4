#include "web/CaptureNames.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <system_error>

#include "capture/CaptureFile.h"

namespace halvik::web {
namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

bool EndsWith(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

// The length of a final capture name: "We02JanA.N14".
constexpr std::size_t kCaptureNameLength = 12;

bool IsCaduCode(std::string_view code) {
  for (const FamilyFacts& facts : kFamilies)
    if (facts.frameKind == FrameKind::Cadu && code == facts.fileCode) return true;
  return false;
}

bool IsCaptureStem(std::string_view stem) {
  if (stem.size() != kCaptureNameLength || !LooksLikeCaptureName(stem)) return false;
  const std::string_view code = stem.substr(9);
  if (code == "str" || code == "fy1" || IsCaduCode(code)) return true;
  return code[0] == 'N' && IsDigit(code[1]) && IsDigit(code[2]);
}

}  // namespace

bool IsCaptureFileName(std::string_view name) {
  if (name.ends_with(kCaduSuffix)) {
    name.remove_suffix(kCaduSuffix.size());
    return IsCaptureStem(name) && IsCaduCode(name.substr(9));
  }
  return IsCaptureStem(name) && !IsCaduCode(name.substr(9));
}

std::string_view CaptureStem(std::string_view name) {
  if (name.ends_with(kCaduSuffix)) name.remove_suffix(kCaduSuffix.size());
  return name;
}

bool IsServableName(std::string_view name) {
  if (IsCaptureFileName(name)) return true;
  if (name.size() <= kCaptureNameLength || !IsCaptureStem(name.substr(0, kCaptureNameLength)))
    return false;
  const std::string_view rest = name.substr(kCaptureNameLength);
  if (rest == ".json" || rest == ".rgb.png" || rest == ".thumb.png" || rest == ".map.png")
    return true;
  if (rest == kPassRecordSuffix) return IsCaduCode(name.substr(9, 3));
  // ".chK.png": one channel digit.
  return rest.size() == 8 && rest.substr(0, 3) == ".ch" && IsDigit(rest[3]) &&
         EndsWith(rest, ".png");
}

std::optional<std::filesystem::path> ServablePath(const std::filesystem::path& dir,
                                                  std::string_view name) {
  if (!IsServableName(name)) return std::nullopt;
  std::error_code error;
  const std::filesystem::path home = std::filesystem::canonical(dir, error);
  if (error) return std::nullopt;
  const std::filesystem::path file = home / name;
  // Not through a link, even one that stays in the directory: it could name any station file.
  if (std::filesystem::symlink_status(file, error).type() != std::filesystem::file_type::regular)
    return std::nullopt;
  return file;
}

ServedFile::~ServedFile() {
  if (fd >= 0) close(fd);
}

std::shared_ptr<const ServedFile> OpenServable(const std::filesystem::path& dir,
                                               std::string_view name) {
  if (!IsServableName(name)) return nullptr;
  // Opened first and judged by what was opened, so nothing can be swapped in between; a FIFO
  // does not block the open, and a link is not followed.
  const std::filesystem::path path = dir / name;
  auto file = std::make_shared<ServedFile>();
  file->fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  struct stat info {};
  if (file->fd < 0 || fstat(file->fd, &info) != 0 || !S_ISREG(info.st_mode)) return nullptr;
  file->size = static_cast<std::uint64_t>(info.st_size);
  return file;
}

}  // namespace halvik::web
