#include "platform/LinuxSystemInfo.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "support/TempDir.h"

namespace halvik {
namespace {

constexpr std::uint64_t kMiB = 1024 * 1024;

TEST(LinuxSystemInfo, FiguresOfThisMachineArePlausible) {
  LinuxSystemInfo info;
  TempDir dir;

  // --- memory: more than a toy's, less than any machine this runs on could have
  auto memory = info.PhysicalMemoryBytes();
  ASSERT_TRUE(memory.has_value());
  EXPECT_GT(*memory, 64 * kMiB);
  EXPECT_LT(*memory, 64ull * 1024 * 1024 * kMiB);

  // --- free space where the tests write their files
  auto free = info.FreeBytes(dir.path());
  ASSERT_TRUE(free.has_value());
  EXPECT_GT(*free, 0.0);
  EXPECT_FALSE(info.FreeBytes(dir.path() / "no" / "such" / "dir").has_value());

  // --- the mount point holds the directory and is on the same file system
  std::string mount = info.MountPoint(dir.path());
  ASSERT_TRUE(std::filesystem::is_directory(mount)) << mount;
  std::string canonical = std::filesystem::canonical(dir.path()).string();
  EXPECT_EQ(canonical.compare(0, mount.size(), mount), 0) << mount << " vs " << canonical;
  struct stat a {};
  struct stat b {};
  ASSERT_EQ(::stat(mount.c_str(), &a), 0);
  ASSERT_EQ(::stat(canonical.c_str(), &b), 0);
  EXPECT_EQ(a.st_dev, b.st_dev);
  // A directory not made yet belongs where its nearest existing parent is.
  EXPECT_EQ(info.MountPoint(dir.path() / "later" / "captures"), mount);
  EXPECT_EQ(info.MountPoint("/"), "/");
}

TEST(LinuxSystemInfo, MountPointFromAMountTable) {
  const std::string table =
      "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
      "30 22 8:2 / /mnt/data rw,relatime - ext4 /dev/sdb1 rw\n"
      "31 22 8:3 / /mnt/my\\040disk rw - ext4 /dev/sdc1 rw\n"
      "32 30 0:40 / /mnt/data/sub rw - tmpfs tmpfs rw\n"
      "33 22 0:41 / /mnt/data rw - tmpfs tmpfs rw";  // stacked over 30, no final newline

  // --- longest parent wins, component by component
  EXPECT_EQ(MountPointFromMountInfo(table, "/mnt/data/x/y"), "/mnt/data");
  EXPECT_EQ(MountPointFromMountInfo(table, "/mnt/database/x"), "/");
  EXPECT_EQ(MountPointFromMountInfo(table, "/mnt/data/sub"), "/mnt/data/sub");
  EXPECT_EQ(MountPointFromMountInfo(table, "/mnt/data/subway"), "/mnt/data");
  EXPECT_EQ(MountPointFromMountInfo(table, "/home/station"), "/");
  // --- blanks in mount points are escaped in the table
  EXPECT_EQ(MountPointFromMountInfo(table, "/mnt/my disk/captures"), "/mnt/my disk");
  // --- an empty or unreadable table still gives the root
  EXPECT_EQ(MountPointFromMountInfo("", "/srv"), "/");
  EXPECT_EQ(MountPointFromMountInfo("garbage line\n", "/srv"), "/");
}

}  // namespace
}  // namespace halvik
