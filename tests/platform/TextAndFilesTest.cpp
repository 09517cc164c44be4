#include <gtest/gtest.h>
#include <sys/stat.h>

#include <clocale>
#include <filesystem>
#include <fstream>

#include "platform/Files.h"
#include "platform/Text.h"
#include "support/TempDir.h"

namespace halvik {
namespace {

TEST(Text, NumbersIgnoreTheProcessLocale) {
  // A locale with a decimal comma must not change how station files are read or written.
  const char* old = std::setlocale(LC_ALL, nullptr);
  std::string saved = old ? old : "C";
  bool german = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
  EXPECT_DOUBLE_EQ(ParseDouble("45.5"), 45.5);
  EXPECT_EQ(Format("%f", 45.5), "45.500000");
  std::setlocale(LC_ALL, saved.c_str());
  if (!german) GTEST_LOG_(INFO) << "de_DE.UTF-8 not installed; checked in the C locale only";

  EXPECT_DOUBLE_EQ(ParseDouble("  -12.25xyz"), -12.25);
  EXPECT_DOUBLE_EQ(ParseDouble("no number"), 0.0);
  EXPECT_EQ(ParseLong("-5\n"), -5);
  EXPECT_TRUE(EqualsIgnoreCase("NOAA 15", "noaa 15"));
  EXPECT_FALSE(EqualsIgnoreCase("NOAA 15", "noaa 15 "));
}

TEST(Files, LineEndsAndLastLineWithoutNewline) {
  TempDir dir;
  auto path = dir.path() / "lines.txt";
  {
    std::ofstream out(path, std::ios::binary);
    out << "first\r\nsecond\n\nlast";
  }
  LineReader reader(path);
  ASSERT_TRUE(reader.ok());
  EXPECT_EQ(reader.Next(), "first");
  EXPECT_EQ(reader.Next(), "second");
  EXPECT_EQ(reader.Next(), "");
  EXPECT_EQ(reader.Next(), "last");
  EXPECT_EQ(reader.Next(), std::nullopt);

  LineReader missing(dir.path() / "absent");
  EXPECT_FALSE(missing.ok());
  EXPECT_EQ(missing.Next(), std::nullopt);
}

TEST(Files, OverLongLinesComeBackWholeAsTooLongAndOnlyRegularFilesOpen) {
  TempDir dir;
  const std::string fits(kMaxLineLength, 'x');
  dir.Write("lines.txt", fits + "\r\n" + std::string(5000, '7') + "\nNOAA 15\r\r\n" +
                             std::string(kMaxLineLength + 1, 'y'));
  LineReader reader(dir.path() / "lines.txt");
  ASSERT_TRUE(reader.ok());
  std::optional<std::string> line = reader.Next();
  EXPECT_EQ(line, fits);
  EXPECT_FALSE(reader.TooLong(*line));
  // Not cut into a shorter line that would pass for a number or a name; the rest is skipped.
  line = reader.Next();
  ASSERT_TRUE(line);
  EXPECT_TRUE(reader.TooLong(*line));
  EXPECT_EQ(reader.Next(), "NOAA 15");  // CR CR LF is one line end
  line = reader.Next();
  ASSERT_TRUE(line);
  EXPECT_TRUE(reader.TooLong(*line));
  EXPECT_EQ(reader.Next(), std::nullopt);

  // A directory, a FIFO without a writer (an open that blocked would hang this test) and a
  // device are not files to read.
  std::filesystem::create_directory(dir.path() / "folder");
  ASSERT_EQ(::mkfifo((dir.path() / "fifo").c_str(), 0600), 0);
  for (const std::filesystem::path& path :
       {dir.path() / "folder", dir.path() / "fifo", std::filesystem::path("/dev/zero")}) {
    EXPECT_FALSE(LineReader(path).ok()) << path;
    EXPECT_EQ(OpenRegularFile(path), nullptr) << path;
  }
  const UniqueFile file = OpenRegularFile(dir.path() / "lines.txt");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(std::fgetc(file.get()), 'x');
}

TEST(Files, AtomicRewriteReplacesWholeOrNothing) {
  TempDir dir;
  auto path = dir.path() / "sats.dat";
  ASSERT_TRUE(WriteFileAtomically(path, "NOAA 14\n"));
  ASSERT_TRUE(WriteFileAtomically(path, "NOAA 15\n \n"));
  std::ifstream in(path);
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(all, "NOAA 15\n \n");
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "sats.dat.new"));

  // A directory that does not exist: the write fails and nothing is left behind.
  EXPECT_FALSE(WriteFileAtomically(dir.path() / "no" / "such.dat", "x"));
}

TEST(Files, AtomicRewriteFollowsLinksAndKeepsTheMode) {
  namespace fs = std::filesystem;
  TempDir dir;
  fs::create_directory(dir.path() / "kept");
  dir.Write("kept/minel.dat", "10.0\n");
  fs::permissions(dir.path() / "kept" / "minel.dat",
                  fs::perms::owner_read | fs::perms::owner_write);
  // --- a relative link through a second link: the target is rewritten, both links stay ---
  fs::create_symlink("kept/minel.dat", dir.path() / "first");
  fs::create_symlink("first", dir.path() / "minel.dat");
  ASSERT_TRUE(WriteFileAtomically(dir.path() / "minel.dat", "12.000000\n"));
  EXPECT_TRUE(fs::is_symlink(dir.path() / "minel.dat"));
  EXPECT_TRUE(fs::is_symlink(dir.path() / "first"));
  EXPECT_EQ(dir.Read("kept/minel.dat"), "12.000000\n");
  EXPECT_EQ(fs::status(dir.path() / "kept" / "minel.dat").permissions(),
            fs::perms::owner_read | fs::perms::owner_write);

  // --- a group-writable file stays so ---
  dir.Write("sats.dat", "NOAA 15\n");
  const fs::perms shared = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                           fs::perms::group_write;
  fs::permissions(dir.path() / "sats.dat", shared);
  ASSERT_TRUE(WriteFileAtomically(dir.path() / "sats.dat", "NOAA 12\n"));
  EXPECT_EQ(fs::status(dir.path() / "sats.dat").permissions(), shared);

  // --- a loop of links is refused, the links untouched ---
  fs::create_symlink("loop.b", dir.path() / "loop.a");
  fs::create_symlink("loop.a", dir.path() / "loop.b");
  EXPECT_FALSE(WriteFileAtomically(dir.path() / "loop.a", "x"));
  EXPECT_TRUE(fs::is_symlink(dir.path() / "loop.a"));
}

}  // namespace
}  // namespace halvik
