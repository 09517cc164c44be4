#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string_view>

namespace halvik::web {

// True for a final capture name the station gives its files: weekday (2 letters), day (2
// digits), month (3 letters), one letter or digit, '.', and the code N09..N16 (Nxx) / str / fy1,
// for example "We02JanA.N14"; a CADU family's capture has ".cadu" after its code
// ("We02JanA.mtr.cadu").
bool IsCaptureFileName(std::string_view name);

// The name its pictures and quality record are named by: a capture's name without ".cadu".
std::string_view CaptureStem(std::string_view name);

// True for a file the station or its image tool makes for a capture: the capture itself, or
// NAME.chK.png, NAME.rgb.png, NAME.thumb.png, NAME.map.png and NAME.json beside it (NAME its stem),
// and a CADU capture's pass record NAME.pass.json.
bool IsServableName(std::string_view name);

// The regular file `name` inside `dir` (not a link), when the name is servable; nothing
// otherwise.
std::optional<std::filesystem::path> ServablePath(const std::filesystem::path& dir,
                                                  std::string_view name);

// A servable file opened for reading: closed with its last holder.
struct ServedFile {
  ServedFile() = default;
  ServedFile(const ServedFile&) = delete;
  ServedFile& operator=(const ServedFile&) = delete;
  ~ServedFile();
  int fd = -1;
  std::uint64_t size = 0;
};
// The regular file `name` inside `dir`, opened without following a link or waiting on a FIFO;
// null when the name is not servable or the file is anything but a regular file.
std::shared_ptr<const ServedFile> OpenServable(const std::filesystem::path& dir,
                                               std::string_view name);

}  // namespace halvik::web
