#include "web/CaptureNames.h"

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

}  // namespace

bool IsCaptureFileName(std::string_view name) {
  if (name.size() != kCaptureNameLength || !LooksLikeCaptureName(name)) return false;
  const std::string_view code = name.substr(9);
  if (code == "str" || code == "fy1") return true;
  return code[0] == 'N' && IsDigit(code[1]) && IsDigit(code[2]);
}

bool IsServableName(std::string_view name) {
  if (IsCaptureFileName(name)) return true;
  if (name.size() <= kCaptureNameLength || !IsCaptureFileName(name.substr(0, kCaptureNameLength)))
    return false;
  const std::string_view rest = name.substr(kCaptureNameLength);
  if (rest == ".json" || rest == ".rgb.png" || rest == ".thumb.png") return true;
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
  // A link is followed only to where it ends; that must still be a file of this directory.
  const std::filesystem::path target = std::filesystem::canonical(home / name, error);
  if (error || target.parent_path() != home) return std::nullopt;
  if (!std::filesystem::is_regular_file(target, error) || error) return std::nullopt;
  return target;
}

}  // namespace halvik::web
