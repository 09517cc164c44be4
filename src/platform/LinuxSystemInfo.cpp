#include "platform/LinuxSystemInfo.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysinfo.h>

#include <fstream>
#include <sstream>
#include <system_error>
#include <vector>

namespace halvik {
namespace {

// Mount points in mountinfo escape blanks, tabs, newlines and backslashes as \ooo octal.
std::string DecodeMountInfoField(std::string_view field) {
  auto octal = [](char c) { return c >= '0' && c <= '7'; };
  std::string out;
  std::size_t i = 0;
  while (i < field.size()) {
    if (field[i] == '\\' && field.size() - i >= 4 && octal(field[i + 1]) && octal(field[i + 2]) &&
        octal(field[i + 3])) {
      int value = (field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0');
      out.push_back(static_cast<char>(value));
      i += 4;
    } else {
      out.push_back(field[i]);
      i += 1;
    }
  }
  return out;
}

// Whether `mount` is `path` itself or one of its parent directories, component by component
// ("/mnt/data" holds "/mnt/data/x" but not "/mnt/database").
bool Holds(const std::filesystem::path& mount, const std::filesystem::path& path) {
  auto p = path.begin();
  for (const auto& part : mount) {
    if (part.empty()) break;  // a trailing separator
    if (p == path.end() || *p != part) return false;
    ++p;
  }
  return true;
}

// The nearest directory at or above `dir` that exists, absolute and with links resolved.
std::filesystem::path ExistingAncestor(const std::filesystem::path& dir) {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::absolute(dir, ec);
  if (ec) p = dir;
  while (true) {
    std::filesystem::path canonical = std::filesystem::canonical(p, ec);
    if (!ec) return canonical;
    if (!p.has_relative_path()) return p.root_path().empty() ? "/" : p.root_path();
    p = p.parent_path();
  }
}

// Walks up from `dir` until the device number changes: the last directory on the same
// device is the mount point (misses bind mounts of the same device, hence only a fallback).
std::string MountPointByWalking(const std::filesystem::path& dir) {
  std::filesystem::path current = ExistingAncestor(dir);
  struct stat st {};
  if (::stat(current.c_str(), &st) != 0) return "/";
  dev_t device = st.st_dev;
  while (current.has_relative_path()) {
    std::filesystem::path parent = current.parent_path();
    struct stat ps {};
    if (::stat(parent.c_str(), &ps) != 0 || ps.st_dev != device) break;
    current = parent;
  }
  return current.string();
}

}  // namespace

std::string MountPointFromMountInfo(std::string_view mountInfo, const std::filesystem::path& path) {
  std::string best;
  std::size_t bestLength = 0;
  std::size_t start = 0;
  while (start < mountInfo.size()) {
    std::size_t end = mountInfo.find('\n', start);
    if (end == std::string_view::npos) end = mountInfo.size();
    std::string_view line = mountInfo.substr(start, end - start);
    start = end + 1;
    // Fields: mount id, parent id, major:minor, root, mount point, ...
    std::vector<std::string_view> fields;
    std::size_t pos = 0;
    while (pos < line.size() && fields.size() < 5) {
      std::size_t blank = line.find(' ', pos);
      if (blank == std::string_view::npos) blank = line.size();
      if (blank > pos) fields.push_back(line.substr(pos, blank - pos));
      pos = blank + 1;
    }
    if (fields.size() < 5) continue;
    std::string mount = DecodeMountInfoField(fields[4]);
    if (mount.empty() || mount[0] != '/') continue;
    std::filesystem::path mountPath(mount);
    // Later lines win among equal lengths: a mount stacked over another hides it.
    if (Holds(mountPath, path) && mountPath.string().size() >= bestLength) {
      best = mount;
      bestLength = mountPath.string().size();
    }
  }
  return best.empty() ? "/" : best;
}

std::optional<std::uint64_t> LinuxSystemInfo::PhysicalMemoryBytes() {
  struct sysinfo info {};
  if (::sysinfo(&info) != 0) return std::nullopt;
  std::uint64_t unit = info.mem_unit == 0 ? 1 : info.mem_unit;
  return static_cast<std::uint64_t>(info.totalram) * unit;
}

std::optional<double> LinuxSystemInfo::FreeBytes(const std::filesystem::path& dir) {
  struct statvfs fs {};
  if (::statvfs(dir.c_str(), &fs) != 0) return std::nullopt;
  // f_bavail: what an unprivileged writer may still use, without the root reserve.
  return static_cast<double>(fs.f_bavail) * static_cast<double>(fs.f_frsize);
}

std::string LinuxSystemInfo::MountPoint(const std::filesystem::path& dir) {
  std::ifstream in("/proc/self/mountinfo");
  if (in) {
    std::ostringstream text;
    text << in.rdbuf();
    std::string table = text.str();
    if (!table.empty()) return MountPointFromMountInfo(table, ExistingAncestor(dir));
  }
  return MountPointByWalking(dir);
}

}  // namespace halvik
