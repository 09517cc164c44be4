#include "web/CaptureNames.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/TempDir.h"
#include "web/ProcessStats.h"
#include "web/WebServer.h"

namespace halvik::web {
namespace {

TEST(CaptureNames, OnlyTheStationsOwnNameForms) {
  for (const char* good :
       {"We02JanA.N14", "Mo31Dec9.N09", "Fr01Febz.str", "Su12Mar1.fy1", "Tu03AprB.N17",
        "We02JanA.N14.ch1.png", "We02JanA.N14.ch5.png", "We02JanA.N14.rgb.png",
        "We02JanA.N14.thumb.png", "We02JanA.N14.map.png", "We02JanA.N14.json", "We02JanA.mtr.cadu",
        "We02JanA.mtr.pass.json", "We02JanA.mtr.ch6.png"}) {
    EXPECT_TRUE(IsServableName(good)) << good;
  }
  for (const char* bad : {"",
                          "sats.dat",
                          "elements.dat",
                          "..",
                          "../We02JanA.N14",
                          "/etc/passwd",
                          "We02JanA.N1",
                          "We02JanA.N145",
                          "We02JanA.NAB",
                          "We02JanA.STR",
                          "We02JanA.fy2",
                          "We2JanAA.N14",
                          "We02JanA_N14",
                          "We02JanA.N14.ch.png",
                          "We02JanA.N14.ch12.png",
                          "We02JanA.N14.jpg",
                          "We02JanA.N14.json.bak",
                          "We02JanA.N14/../x",
                          "We02JanA.N14.thumb.png/",
                          "We02Jan!.N14",
                          "We02JanA.N14.tmp",
                          "We02JanA.N14.cadu",
                          "We02JanA.N14.pass.json",
                          "We02JanA.mtr.cadu.part",
                          "We02JanA.mtr.pass.json.part",
                          "hrptRcvr.sys"}) {
    EXPECT_FALSE(IsServableName(bad)) << bad;
  }
  EXPECT_TRUE(IsCaptureFileName("We02JanA.N14"));
  EXPECT_FALSE(IsCaptureFileName("We02JanA.N14.json"));
  EXPECT_TRUE(IsCaptureFileName("We02JanA.mtr.cadu"));
  EXPECT_FALSE(IsCaptureFileName("We02JanA.mtr"));
}

TEST(CaptureNames, ServesRegularFilesOfTheDirectoryOnly) {
  TempDir outside;
  outside.Write("secret", "not for the web");
  TempDir station;
  station.Write("We02JanA.N14", "frames");
  station.Write("We02JanA.N14.json", "{}");
  std::filesystem::create_directory(station.path() / "We02JanB.N14");
  std::filesystem::create_symlink(outside.path() / "secret", station.path() / "We02JanC.N14");
  std::filesystem::create_symlink(station.path() / "We02JanA.N14", station.path() / "We02JanD.N14");
  std::filesystem::create_symlink(outside.path() / "missing", station.path() / "We02JanE.N14");

  EXPECT_EQ(ServablePath(station.path(), "We02JanA.N14"),
            std::filesystem::canonical(station.path() / "We02JanA.N14"));
  EXPECT_TRUE(ServablePath(station.path(), "We02JanA.N14.json"));
  // Not even a link that stays inside the directory: it could name any station file.
  EXPECT_FALSE(ServablePath(station.path(), "We02JanD.N14"));
  EXPECT_FALSE(ServablePath(station.path(), "We02JanB.N14"));  // a directory
  EXPECT_FALSE(ServablePath(station.path(), "We02JanC.N14"));  // a link out
  EXPECT_FALSE(ServablePath(station.path(), "We02JanE.N14"));  // a dangling link
  EXPECT_FALSE(ServablePath(station.path(), "We02JanF.N14"));  // absent
  EXPECT_FALSE(ServablePath(station.path() / "nowhere", "We02JanA.N14"));
}

TEST(WebAddress, AddressAndPortForms) {
  auto check = [](const char* text, const char* host, int port) {
    std::optional<HttpAddress> address = ParseHttpAddress(text);
    ASSERT_TRUE(address) << text;
    EXPECT_EQ(address->host, host) << text;
    EXPECT_EQ(address->port, port) << text;
  };
  check("127.0.0.1:8073", "127.0.0.1", 8073);
  check("0.0.0.0:80", "0.0.0.0", 80);
  check("[::1]:8073", "::1", 8073);
  check("localhost:1", "localhost", 1);
  // Without a host the server stays on loopback.
  check(":8073", "127.0.0.1", 8073);
  check("8073", "127.0.0.1", 8073);
  for (const char* bad : {"", ":", "127.0.0.1:", "127.0.0.1:65536", "127.0.0.1:80x", "::1:8073",
                          "127.0.0.1:-1", "127.0.0.1:123456"}) {
    EXPECT_FALSE(ParseHttpAddress(bad)) << bad;
  }
}

TEST(ProcessStats, ResidentPagesAndOwnFigures) {
  EXPECT_EQ(ResidentPagesFromStatm("5513 1234 800 10 0 400 0\n"), 1234u);
  EXPECT_FALSE(ResidentPagesFromStatm("5513"));
  EXPECT_FALSE(ResidentPagesFromStatm(""));
  // This test program holds at least a page and has used some CPU time.
  ASSERT_TRUE(ProcessResidentBytes());
  EXPECT_GT(*ProcessResidentBytes(), 4096u);
  EXPECT_GE(ProcessCpuSeconds(), 0.0);
}

}  // namespace
}  // namespace halvik::web
