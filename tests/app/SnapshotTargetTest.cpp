#include "app/SnapshotTarget.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/TempDir.h"

namespace halvik {
namespace {

TEST(SnapshotTarget, OnlyANewPngOrAnExistingPngTakesThePicture) {
  TempDir dir;
  const auto at = [&](const char* name) { return dir.path() / name; };
  dir.Write("elements.dat", "NOAA 15\n");
  dir.Write("old.png", std::string("\x89PNG\r\n\x1a\n", 8) + "rest");
  dir.Write("notes.png", "plain text");
  std::filesystem::create_directory(at("folder.png"));

  EXPECT_EQ(SnapshotTargetProblem(at("new.png")), "");
  EXPECT_EQ(SnapshotTargetProblem(at("old.png")), "");
  EXPECT_EQ(SnapshotTargetProblem("relative.PNG"), "");

  // The station's own files, whether there yet or not: the next start would lose them.
  for (const char* name : {"elements.dat", "sats.dat", "location.dat", "minel.dat", "pn.fil"}) {
    EXPECT_NE(SnapshotTargetProblem(at(name)), "") << name;
  }
  EXPECT_NE(SnapshotTargetProblem(at("notes.png")), "");   // exists, not a PNG
  EXPECT_NE(SnapshotTargetProblem(at("folder.png")), "");  // a directory
  EXPECT_NE(SnapshotTargetProblem(at("picture.jpg")), "");
  EXPECT_NE(SnapshotTargetProblem(at("absent/new.png")), "");
}

}  // namespace
}  // namespace halvik
