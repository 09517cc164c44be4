#pragma once

#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "capture/CaptureFile.h"

namespace halvik {

struct CaptureHeader {
  bool found = false;  // the element set was in elements.dat
  std::string nameLine;
  std::string line1;
  std::string line2;
};

struct CaptureMarker {
  MarkerKind kind = MarkerKind::EndOfCapture;
  std::uint16_t count = 0;
  std::uint32_t time = 0;  // seconds since 1970-01-01 00:00 UTC
};

// Consecutive frame blocks between two markers.
struct CaptureFrameRun {
  std::int64_t frames = 0;
  std::int64_t withSync = 0;  // frames that begin with the six frame-sync words
};

using CaptureEntry = std::variant<CaptureMarker, CaptureFrameRun>;

// A capture file as read back: the header, then markers and runs of frames in file order.
struct CaptureFileContents {
  std::int32_t blockWords = 0;  // 11090 or 22180
  CaptureHeader header;
  std::vector<CaptureEntry> entries;
  std::int64_t totalFrames = 0;
  std::uint64_t bytes = 0;  // size of the file
};

struct CaptureReadResult {
  bool opened = false;  // false: the file could not be opened at all
  bool ok = false;
  // What was read; when !ok, everything before the fault.
  CaptureFileContents contents;
  std::string error;  // names the offset of the fault
  std::uint64_t errorOffset = 0;
};

// Block length in words told by a file's name: 22180 for a FengYun code ("fy1"), none (0) for a
// temporary file, whose length must be found from its blocks, else 11090.
std::int32_t BlockWordsForName(std::string_view fileName);

// Reads a capture file block by block. `blockWords` 0 tries 11090 and 22180 and keeps the one
// under which every header and marker block lines up.
CaptureReadResult ReadCaptureFile(const std::filesystem::path& path, std::int32_t blockWords);
// Block length from the file's name.
CaptureReadResult ReadCaptureFile(const std::filesystem::path& path);

// One line per header, marker and frame run, then the totals:
//   header found "NOAA 14" "1 ..." "2 ..."   or   header not-found
//   marker sync-acquired 30 2001-10-11T12:00:00Z
//   frames 1200 sync 1187
//   total frames 1200 bytes 26704720
std::vector<std::string> InspectionLines(const CaptureFileContents& contents, bool withTotal);

// `halvik inspect FILE`: the lines on `out`; a fault on `err`. Returns the exit status: 0, or
// 2 for a file that cannot be read, is truncated or is malformed.
int InspectCaptureFile(const std::filesystem::path& path, std::ostream& out, std::ostream& err);

}  // namespace halvik
