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
  std::FILE* file = OpenRegularFile(dir.path() / "lines.txt");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(std::fgetc(file), 'x');
  std::fclose(file);
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

}  // namespace
}  // namespace halvik
