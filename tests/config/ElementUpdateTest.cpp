// Element updates: fetched over HTTP from a loopback server or read from a file, merged into
// elements.dat by epoch, refused whole when they would break the station; and the running
// station's reload of its listed satellites.
#include <gtest/gtest.h>
#include <httplib.h>

#include <thread>

#include "config/ElementSource.h"
#include "config/ElementUpdate.h"
#include "config/StationFixture.h"
#include "orbit/ElementSet.h"
#include "platform/Text.h"

namespace halvik {
namespace {

using testing::StationUnderTest;

// NOAA 15 and NOAA 14 seven years on (December 2007), as a provider sends them: names padded
// to 24 columns, CRLF line ends.
const std::string kNoaa15Line1 =
    "1 25338U 98030A   07359.97505434 -.00000068  00000-0 -10742-4 0  2876";
const std::string kNoaa15Line2 =
    "2 25338  98.5432 351.3745 0010460 185.1723 174.9348 14.24678216499997";
const std::string kNoaa15In2007 =
    "NOAA 15                 \r\n" + kNoaa15Line1 + "\r\n" + kNoaa15Line2 + "\r\n";

// A loopback HTTP server with one document, /weather.txt; stopped and joined on destruction.
class ElementServer {
 public:
  explicit ElementServer(std::string body) : body_(std::move(body)) {
    server_.Get("/weather.txt", [this](const httplib::Request&, httplib::Response& response) {
      response.set_content(body_, "text/plain");
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    // Bound and listening already: requests wait in the backlog until the loop accepts them.
    thread_ = std::thread([this] { server_.listen_after_bind(); });
  }
  ~ElementServer() {
    // A stop before the loop has begun would be missed, and the join would wait for ever.
    while (!server_.is_running()) std::this_thread::yield();
    server_.stop();
    thread_.join();
  }
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }

 private:
  std::string body_;
  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
};

bool Reports(const ElementUpdateResult& result, const std::string& text) {
  for (const std::string& line : result.report) {
    if (line.find(text) != std::string::npos) return true;
  }
  return false;
}

double EpochOf(const StationUnderTest& s, const char* name) {
  SatelliteRecord record;
  EXPECT_EQ(FindElementSet(s.dir.path() / "elements.dat", name, record), ElementSetResult::Ok)
      << name;
  return record.epochMinutes.load();
}

TEST(UpdateElements, MergesNewerSetsFetchedOverHttp) {
  StationUnderTest s;
  const std::string old = testing::kNoaa12 + testing::kNoaa14 + testing::kNoaa15;
  s.dir.Write("elements.dat", old);
  s.dir.Write("sats.dat", "NOAA 15\nNOAA 12\n \n \n \n \n");
  const double noaa12Epoch = EpochOf(s, "NOAA 12");
  const double noaa15Epoch = EpochOf(s, "NOAA 15");

  // NOAA 14 as elements.dat has it (not newer), a new satellite, and one that fails its check.
  ElementServer server(kNoaa15In2007 + testing::kNoaa14 + testing::kHete2 + testing::kBadChecksum);
  std::string error;
  std::optional<std::string> text = ReadElementSource(server.Url("/weather.txt"), error);
  ASSERT_TRUE(text) << error;
  ElementUpdateResult result = UpdateElementFile(s.dir.path(), *text);

  EXPECT_FALSE(result.refused);
  EXPECT_TRUE(result.changed);
  EXPECT_TRUE(Reports(result, "updated NOAA 15: epoch 2000-11-16"));
  EXPECT_TRUE(Reports(result, "added HETE-2"));
  EXPECT_TRUE(Reports(result, "skipped NOAA 17: Checksum Error in Ephemeris Data"));
  EXPECT_TRUE(Reports(result, "1 set(s) no newer"));
  EXPECT_EQ(s.dir.Read("elements.dat.old"), old);
  // The station's own lookup finds the new set; the others are as they were.
  EXPECT_GT(EpochOf(s, "NOAA 15"), noaa15Epoch + 7 * 365 * 1440.0 - 1440.0);
  EXPECT_EQ(EpochOf(s, "NOAA 12"), noaa12Epoch);
  EXPECT_EQ(EpochOf(s, "hete-2"), EpochOf(s, "HETE-2"));
  EXPECT_EQ(s.dir.Read("elements.dat"), testing::kNoaa12 + testing::kNoaa14 + "NOAA 15\n" +
                                            kNoaa15Line1 + "\n" + kNoaa15Line2 + "\n" +
                                            testing::kHete2);

  // --- the same source again: nothing newer, nothing written ---
  ElementUpdateResult again = UpdateElementFile(s.dir.path(), *text);
  EXPECT_FALSE(again.changed);
  EXPECT_TRUE(Reports(again, "elements.dat is up to date"));
  EXPECT_EQ(s.dir.Read("elements.dat.old"), old);

  // --- an HTTP error is a failed source, not an empty one ---
  EXPECT_FALSE(ReadElementSource(server.Url("/missing.txt"), error));
  EXPECT_NE(error.find("404"), std::string::npos) << error;
}

TEST(UpdateElements, RefusesChangingNothing) {
  StationUnderTest s;
  const std::string old = testing::kNoaa12 + testing::kNoaa15;
  s.dir.Write("elements.dat", old);
  s.dir.Write("sats.dat", "NOAA 15\n \n \n \n \n \n");

  // --- only bad check digits, or no element set at all ---
  for (const std::string& source :
       {testing::kBadChecksum, std::string("<html>Service Unavailable</html>\n")}) {
    ElementUpdateResult result = UpdateElementFile(s.dir.path(), source);
    EXPECT_TRUE(result.refused) << source;
    EXPECT_TRUE(Reports(result, "no valid element set")) << source;
  }

  // --- a good set, but sats.dat lists a satellite that would have none ---
  s.dir.Write("sats.dat", "NOAA 15\nNOAA 99\n \n \n \n \n");
  ElementUpdateResult missing = UpdateElementFile(s.dir.path(), kNoaa15In2007);
  EXPECT_TRUE(missing.refused);
  EXPECT_TRUE(Reports(missing, "sats.dat lists NOAA 99"));

  EXPECT_EQ(s.dir.Read("elements.dat"), old);
  EXPECT_FALSE(std::filesystem::exists(s.dir.path() / "elements.dat.old"));
}

TEST(UpdateElements, ReadsTwoLineSetsFromAFile) {
  StationUnderTest s;
  s.dir.Write("elements.dat", testing::kNoaa15);
  s.dir.Write("sats.dat", "NOAA 15\n \n \n \n \n \n");
  // Without name lines: NOAA 15 is known by its catalogue number, 25338; 99999 is not known.
  // HETE-2's name line carries the "0 " mark of some sources.
  s.dir.Write("source.txt",
              kNoaa15Line1 + "\n" + kNoaa15Line2 + "\n0 " + testing::kHete2 +
                  "1 99999U 07001A   07359.00000000  .00000000  00000-0  00000-0 0  0000\n"
                  "2 99999  98.0000   0.0000 0000000   0.0000   0.0000 14.00000000 00000\n");
  std::string error;
  std::optional<std::string> text =
      ReadElementSource((s.dir.path() / "source.txt").string(), error);
  ASSERT_TRUE(text) << error;
  ElementUpdateResult result = UpdateElementFile(s.dir.path(), *text);
  EXPECT_TRUE(result.changed);
  EXPECT_TRUE(Reports(result, "updated NOAA 15"));
  EXPECT_TRUE(Reports(result, "skipped catalogue number 99999"));
  EXPECT_EQ(s.dir.Read("elements.dat"),
            "NOAA 15\n" + kNoaa15Line1 + "\n" + kNoaa15Line2 + "\n" + testing::kHete2);

  EXPECT_FALSE(ReadElementSource((s.dir.path() / "absent.txt").string(), error));
}

// `line` (69 columns) with its check digit: the sum of its digits, minus signs counting one.
std::string WithCheckDigit(std::string line) {
  int sum = 0;
  for (std::size_t i = 0; i < 68; ++i) {
    if (line[i] >= '0' && line[i] <= '9') sum += line[i] - '0';
    if (line[i] == '-') ++sum;
  }
  line[68] = static_cast<char>('0' + sum % 10);
  return line;
}

// NOAA 15's 2007 set as catalogue number `number` (5 digits) at day `day` of 2007.
std::string SetOf(const std::string& name, const std::string& number, int day) {
  std::string line1 = kNoaa15Line1;
  std::string line2 = kNoaa15Line2;
  line1.replace(2, 5, number);
  line2.replace(2, 5, number);
  line1.replace(20, 3, Format("%03d", day));
  return name + "\n" + WithCheckDigit(line1) + "\n" + WithCheckDigit(line2) + "\n";
}

TEST(UpdateElements, OneSetPerCatalogueNumberAndABoundedCount) {
  StationUnderTest s;
  s.dir.Write("elements.dat", testing::kNoaa15);
  s.dir.Write("sats.dat", "NOAA 15\n \n \n \n \n \n");
  // 300 sets of NOAA 15's number under as many names, in no order of epoch, and a name that
  // would clear the terminal.
  std::string flood;
  for (int i = 0; i < 300; ++i) flood += SetOf(Format("COPY %d", i), "25338", 1 + (i * 7) % 300);
  flood += SetOf("EVIL\x1b[2J\x07", "25339", 100);
  ElementUpdateResult result = UpdateElementFile(s.dir.path(), flood);
  EXPECT_FALSE(result.refused);
  EXPECT_TRUE(Reports(result, "299 set(s) of a catalogue number given more than once"));
  // The newest (day 300) replaces the set of the name sats.dat uses.
  EXPECT_TRUE(Reports(result, "updated NOAA 15: epoch 2000-11-16"));
  EXPECT_TRUE(Reports(result, "-> 2007-10-27"));
  EXPECT_TRUE(Reports(result, "added EVIL\\x1b[2J\\x07 (epoch"));
  for (const std::string& line : result.report) {
    EXPECT_EQ(line.find_first_of("\x1b\x07"), std::string::npos) << line;
  }
  EXPECT_EQ(s.dir.Read("elements.dat"), "NOAA 15\n" + SetOf("", "25338", 300).substr(1) +
                                            SetOf("EVIL\x1b[2J\x07", "25339", 100));

  // More satellites than the file may hold: refused whole.
  std::string many;
  for (int i = 0; i < static_cast<int>(kMaxElementSets); ++i) {
    many += SetOf(Format("SAT %d", i), Format("%05d", 30000 + i), 200);
  }
  ElementUpdateResult tooMany = UpdateElementFile(s.dir.path(), many);
  EXPECT_TRUE(tooMany.refused);
  EXPECT_TRUE(Reports(tooMany, "elements.dat would hold 20002 element sets, more than 20000"));
}

TEST(ReloadElementSets, TakesNewEpochsAndKeepsSetsThatWentMissing) {
  StationUnderTest s;
  s.dir.Write("elements.dat", testing::kNoaa12 + testing::kNoaa15);
  s.LoadList("NOAA 12\nNOAA 15\n \n \n \n \n");
  const double noaa12Epoch = s.table[0].epochMinutes.load();
  const double noaa15Epoch = s.table[1].epochMinutes.load();
  s.table[1].aosTime = 123;

  // --- NOAA 15 newer, NOAA 12 gone from the file ---
  s.dir.Write("elements.dat", kNoaa15In2007);
  EXPECT_EQ(ReloadElementSets(s.context), 1);
  EXPECT_GT(s.table[1].epochMinutes.load(), noaa15Epoch);
  EXPECT_TRUE(s.Active(1));
  EXPECT_EQ(s.table[1].aosTime.load(), 0);  // its pass is searched afresh
  EXPECT_TRUE(s.Active(0));
  EXPECT_EQ(s.table[0].epochMinutes.load(), noaa12Epoch);
  EXPECT_EQ(s.messages.Shown(), std::vector<std::string>{"Satellite not found in Ephemeris file"});

  // --- nothing new: nothing reloaded; no file: its message, every set kept ---
  s.messages.Clear();
  EXPECT_EQ(ReloadElementSets(s.context), 0);
  std::filesystem::remove(s.dir.path() / "elements.dat");
  EXPECT_EQ(ReloadElementSets(s.context), 0);
  EXPECT_EQ(s.messages.Count("Can't find file elements.dat"), 1u);
  EXPECT_TRUE(s.Active(0) && s.Active(1));
}

}  // namespace
}  // namespace halvik
