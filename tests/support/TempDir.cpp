#include "support/TempDir.h"

#include <stdlib.h>

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace halvik {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "halvik-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void TempDir::Write(const std::string& name, const std::string& content) const {
  std::ofstream out(path_ / name, std::ios::binary | std::ios::trunc);
  out << content;
}

std::string TempDir::Read(const std::string& name) const {
  return ReadFile(path_ / name);
}

std::string TempDir::ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace halvik
