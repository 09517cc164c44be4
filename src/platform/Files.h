#pragma once

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace halvik {

// Reads a text file line by line. A line ends in LF or CRLF and both are removed; a last line
// without a line end keeps all its characters. Lines of any length are returned whole, so a
// caller that expects a fixed layout sees an over-long line for what it is.
class LineReader {
 public:
  explicit LineReader(const std::filesystem::path& path);
  ~LineReader();
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  bool ok() const { return file_ != nullptr; }
  // The next line, or nothing at end of file (or when the file could not be opened).
  std::optional<std::string> Next();

 private:
  std::FILE* file_;
};

// Replaces a file's content through a temporary file in the same directory and a rename, so a
// crash or a full disk never leaves half a file: either the old content or the new one is
// there. A symbolic link is followed: its target gets the content and the link stays. The file
// keeps its permission bits; a new one is made with 0666 less the umask. Returns false (old file
// intact) when any step fails.
bool WriteFileAtomically(const std::filesystem::path& path, std::string_view content);

}  // namespace halvik
