#include <gtest/gtest.h>

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
