#pragma once

#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace halvik {

// A stdio file closed when its owner goes.
struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

// Opens an existing regular file for reading, or returns an empty handle. A directory, FIFO or
// device in a file's place is refused, and the open never blocks (a FIFO without a writer would
// otherwise hold the caller for ever).
UniqueFile OpenRegularFile(const std::filesystem::path& path);

// The longest line a station file holds, line end not counted.
inline constexpr std::size_t kMaxLineLength = 79;

// Reads a text file line by line. A line ends in LF, CRLF or LF after several CRs, and the line
// end is removed; a last line without a line end keeps all its characters. Only regular files
// open (see OpenRegularFile). A line longer than the limit is consumed whole and comes back as
// its first limit + 1 characters: longer than any line a caller accepts, so it is rejected as a
// whole instead of passing as a shorter, plausible one, and memory stays bounded.
class LineReader {
 public:
  explicit LineReader(const std::filesystem::path& path, std::size_t limit = kMaxLineLength);
  ~LineReader();
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  bool ok() const { return file_ != nullptr; }
  // The next line, or nothing at end of file (or when the file could not be opened).
  std::optional<std::string> Next();
  // True for a line Next() returned from a line over the limit.
  bool TooLong(const std::string& line) const { return line.size() > limit_; }

 private:
  UniqueFile file_;
  std::size_t limit_;
};

// The whole content of a regular file of at most `limit` bytes (see OpenRegularFile); nothing
// for a file that cannot be opened or is larger.
std::optional<std::string> ReadSmallFile(const std::filesystem::path& path, std::size_t limit);

// Replaces a file's content through a temporary file in the same directory and a rename, so a
// crash or a full disk never leaves half a file: either the old content or the new one is
// there. A symbolic link is followed: its target gets the content and the link stays. The file
// keeps its permission bits; a new one is made with 0666 less the umask. Returns false (old file
// intact) when any step fails.
bool WriteFileAtomically(const std::filesystem::path& path, std::string_view content);

}  // namespace halvik
