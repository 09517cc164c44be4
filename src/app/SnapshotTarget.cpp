#include "app/SnapshotTarget.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <system_error>

#include "config/StationFileNames.h"
#include "platform/Files.h"
#include "platform/Text.h"

namespace halvik {
namespace {

constexpr unsigned char kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};

bool IsPng(const std::filesystem::path& path) {
  const UniqueFile file = OpenRegularFile(path);
  if (!file) return false;
  unsigned char head[sizeof kPngSignature] = {};
  return std::fread(head, 1, sizeof head, file.get()) == sizeof head &&
         std::memcmp(head, kPngSignature, sizeof head) == 0;
}

}  // namespace

std::string SnapshotTargetProblem(const std::filesystem::path& path) {
  const std::string name = path.filename().string();
  // Capture files carry satellite codes, never .png, so only these need refusing by name.
  for (std::string_view station : kStationFiles) {
    if (EqualsIgnoreCase(name, station)) return path.string() + " is a station file";
  }
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::symlink_status(path, error);
  if (std::filesystem::exists(status)) {
    if (std::filesystem::is_regular_file(status) && IsPng(path)) return "";
    return path.string() + " exists and is not a PNG file";
  }
  const std::string extension = path.extension().string();
  if (!EqualsIgnoreCase(extension, ".png")) return path.string() + " must end in .png";
  const std::filesystem::path parent = path.has_parent_path() ? path.parent_path() : ".";
  if (!std::filesystem::is_directory(parent, error)) {
    return parent.string() + " is not a directory";
  }
  return "";
}

}  // namespace halvik
