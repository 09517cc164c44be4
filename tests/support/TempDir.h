#pragma once

#include <filesystem>
#include <string>

namespace halvik {

// A fresh directory under the system's temporary directory, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  // Writes a file (binary, exactly the bytes given) inside the directory.
  void Write(const std::string& name, const std::string& content) const;
  std::string Read(const std::string& name) const;
  // The whole content of any file (empty when it cannot be read).
  static std::string ReadFile(const std::filesystem::path& path);

 private:
  std::filesystem::path path_;
};

}  // namespace halvik
