// The web interface and the station process against clients that mean harm, on loopback: heads
// that never end, clients that trickle, files swapped under a capture's name, ranges that
// multiply the answer, and signals the station has no use for.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <fstream>
#include <vector>

#include "e2e/StationRig.h"
#include "support/Daemon.h"
#include "support/TempDir.h"
#include "web/ByteRange.h"
#include "web/HttpFront.h"
#include "web/RawClient.h"
#include "web/WebServer.h"

namespace halvik::web {
namespace {

TEST(HttpFront, HeadsAreJudgedWithinTheirBounds) {
  using enum HeadState;
  const std::string get = "GET / HTTP/1.1\r\nHost: x\r\n\r\n";
  struct Case {
    std::string bytes;
    HeadState state;
    bool body;
  };
  const std::vector<Case> cases = {
      {get, Complete, false},
      {get + "GET /next HTTP/1.1\r\n", Complete, false},  // pipelined: the first head only
      {"GET / HTTP/1.1\r\nContent-Length: 0\r\n\r\n", Complete, false},
      {"GET / HTTP/1.1\r\ncontent-length: 5\r\n\r\nhello", Complete, true},
      {"GET / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", Complete, true},
      {"GET /" + std::string(60, 'a'), Incomplete, false},
      {"GET /" + std::string(96, 'a'), LineTooLong, false},  // no end of line yet, past 100
      {"GET /" + std::string(90, 'a') + " HTTP/1.1\r\n\r\n", LineTooLong, false},
      {"GET / HTTP/1.1\r\n" + std::string(200, 'X'), HeadTooLarge, false},
      {"GET / HTTP/1.1\r\nA: 1\r\nB: 2\r\nC: 3\r\nD: 4\r\n\r\n", TooManyFields, false},
  };
  for (const Case& c : cases) {
    const HeadScan scan = ScanHead(c.bytes, 100, 200, 3);
    EXPECT_EQ(scan.state, c.state) << c.bytes;
    EXPECT_EQ(scan.body, c.body) << c.bytes;
  }
  EXPECT_EQ(ScanHead(get + "GET /next", 100, 200, 3).length, get.size());
  // Every prefix of a good head waits for more; a flood is refused at its first byte past the
  // bound, whatever follows.
  for (std::size_t n = 0; n < get.size(); ++n)
    EXPECT_EQ(ScanHead(get.substr(0, n), 100, 200, 3).state, Incomplete);
  const std::string flood = "GET / HTTP/1.1\r\n" + std::string(1000, 'X');
  EXPECT_EQ(ScanHead(flood.substr(0, 200), 100, 200, 3).state, Incomplete);
  EXPECT_EQ(ScanHead(flood.substr(0, 201), 100, 200, 3).state, HeadTooLarge);
}

TEST(HttpFront, ByteRangesOfAFile) {
  using enum ByteRange::Kind;
  struct Case {
    const char* header;
    ByteRange::Kind kind;
    std::uint64_t first, length;
  };
  // A file of 1000 bytes.
  const std::vector<Case> cases = {
      {"", Whole, 0, 1000},
      {"bytes=0-99", Part, 0, 100},
      {"bytes=990-", Part, 990, 10},
      {"bytes=990-5000", Part, 990, 10},  // the end cut to the file
      {"bytes=-10", Part, 990, 10},
      {"bytes=-5000", Part, 0, 1000},
      {"bytes=999-999", Part, 999, 1},
      {"bytes=1000-", Unsatisfiable, 0, 0},  // starts past the end: nothing to send
      {"bytes=1000-2000", Unsatisfiable, 0, 0},
      {"bytes=-0", Unsatisfiable, 0, 0},
      {"bytes=50-10", Unsatisfiable, 0, 0},
      {"bytes=0-99,0-99", Whole, 0, 1000},  // several, overlapping or not: the file once
      {"bytes=0-1,5-6", Whole, 0, 1000},
      {"lines=0-9", Whole, 0, 1000},
      {"bytes=x-9", Whole, 0, 1000},
      {"bytes=99999999999999999999-", Whole, 0, 1000},
  };
  for (const Case& c : cases) {
    const ByteRange range = ChooseRange(c.header, 1000);
    EXPECT_EQ(range.kind, c.kind) << c.header;
    if (c.kind != Unsatisfiable) {
      EXPECT_EQ(range.first, c.first) << c.header;
      EXPECT_EQ(range.length, c.length) << c.header;
    }
  }
  EXPECT_EQ(ChooseRange("bytes=0-", 0).kind, Unsatisfiable);
}

// A web server on a station that is not running: enough for the files and the state.
class HostileWeb : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(server_.Start({"127.0.0.1", 0}), "");
    port_ = server_.port();
  }
  std::string Get(const std::string& path, const std::string& more = "") const {
    const int fd = SendRaw(
        port_, "GET " + path + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n" + more + "\r\n");
    std::string answer = ReadAll(fd);
    close(fd);
    return answer;
  }
  static int StatusOf(const std::string& answer) {
    return answer.size() >= 12 ? std::atoi(answer.c_str() + 9) : 0;
  }
  static std::string BodyOf(const std::string& answer) {
    const std::size_t end = answer.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : answer.substr(end + 4);
  }

  e2e::StationRig rig_{e2e::RigOptions{}};
  WebServer server_{rig_.station(), nullptr};
  int port_ = 0;
};

TEST_F(HostileWeb, FloodsAndTricklesAreCutShort) {
  // A header block that never ends: refused once it passes the bound, not after a megabyte.
  const int flood = SendRaw(port_, "GET /status.json HTTP/1.1\r\n");
  std::string lines;
  while (lines.size() < kWebMaxHeadBytes * 2) lines += "X-Flood: 1\r\n";
  send(flood, lines.data(), lines.size(), MSG_NOSIGNAL);
  EXPECT_EQ(StatusOf(ReadAll(flood)), 431);
  close(flood);
  // An over-long URL is refused as soon as it is over, before its line ends.
  const int longUrl = SendRaw(port_, "GET /" + std::string(kWebMaxRequestLine, 'a'));
  EXPECT_EQ(StatusOf(ReadAll(longUrl)), 414);
  close(longUrl);
  EXPECT_EQ(RawStatus(port_, "GET /status.json HTTP/1.1\r\nHost: x\r\n" + lines + "\r\n"), 431);

  // More trickling clients than the server holds connections: the oldest make room, and the
  // state is answered beside them.
  std::vector<int> slow;
  for (int i = 0; i < kWebConnections + 20; ++i) slow.push_back(SendRaw(port_, "GET /status.js"));
  const std::string status = Get("/status.json");
  EXPECT_EQ(StatusOf(status), 200);
  EXPECT_NE(BodyOf(status).find("\"capture\""), std::string::npos) << status;
  // The first of them was let go to make room (with an answer saying so).
  EXPECT_EQ(StatusOf(ReadAll(slow.front())), 503);
  for (int fd : slow) close(fd);

  // Pipelined requests are each answered, in order, on the one connection.
  const int pipelined =
      SendRaw(port_,
              "GET /captures/We02JanA.N14 HTTP/1.1\r\nHost: x\r\n\r\n"
              "GET /status.json HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  const std::string both = ReadAll(pipelined);
  close(pipelined);
  EXPECT_EQ(both.find("HTTP/1.1 404"), 0u) << both;
  EXPECT_NE(both.find("HTTP/1.1 200", 10), std::string::npos) << both;
}

TEST_F(HostileWeb, OnlyRegularFilesAreServedAndOnlyOnce) {
  const std::filesystem::path dir = rig_.dir();
  std::string bytes;
  for (int i = 0; i < 1000; ++i) bytes += static_cast<char>('a' + i % 26);
  std::ofstream(dir / "We02JanA.N14", std::ios::binary) << bytes;
  std::filesystem::create_symlink(dir / "elements.dat", dir / "We02JanL.N14");
  ASSERT_EQ(mkfifo((dir / "We02JanF.N14").c_str(), 0600), 0);

  // The capture's record is a link, and another capture's a FIFO: neither is read.
  std::ofstream(dir / "record.json") << R"({"lock_fraction": 0.5})";
  std::filesystem::create_symlink(dir / "record.json", dir / "We02JanA.N14.json");
  std::ofstream(dir / "We02JanB.N14") << "frames";
  ASSERT_EQ(mkfifo((dir / "We02JanB.N14.json").c_str(), 0600), 0);
  const std::string captures = BodyOf(Get("/captures.json"));
  EXPECT_EQ(std::count(captures.begin(), captures.end(), '{'), 2) << captures;
  EXPECT_EQ(captures.find("lock_fraction"), std::string::npos) << captures;

  EXPECT_EQ(BodyOf(Get("/captures/We02JanA.N14")), bytes);
  // A link inside the directory, and a FIFO that would block whoever opened it, are not files.
  EXPECT_EQ(StatusOf(Get("/captures/We02JanL.N14")), 404);
  for (int i = 0; i < kWebWorkers + 2; ++i) EXPECT_EQ(StatusOf(Get("/captures/We02JanF.N14")), 404);

  const std::string part = Get("/captures/We02JanA.N14", "Range: bytes=10-19\r\n");
  EXPECT_EQ(StatusOf(part), 206);
  EXPECT_NE(part.find("Content-Range: bytes 10-19/1000"), std::string::npos) << part;
  EXPECT_EQ(BodyOf(part), bytes.substr(10, 10));
  const std::string past = Get("/captures/We02JanA.N14", "Range: bytes=1000-1099\r\n");
  EXPECT_EQ(StatusOf(past), 416);
  EXPECT_NE(past.find("Content-Range: bytes */1000"), std::string::npos) << past;
  // 700 overlapping ranges: the file once.
  std::string many = "Range: bytes=0-999";
  for (int i = 1; i < 700; ++i) many += ",0-999";
  const std::string once = Get("/captures/We02JanA.N14", many + "\r\n");
  EXPECT_EQ(StatusOf(once), 200);
  EXPECT_EQ(BodyOf(once), bytes);
  // Nor does any other answer multiply.
  EXPECT_EQ(StatusOf(Get("/status.json", "Range: bytes=0-10,0-10,0-10\r\n")), 200);

  // Clients that take a large capture and do not read it hold all workers but one; a further
  // download waits its turn, and the state is answered beside them.
  ASSERT_EQ(truncate((dir / "We02JanA.N14").c_str(), 16 << 20), 0);
  std::vector<int> readers;
  for (int i = 0; i < kWebWorkers - 1; ++i) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    const int small = 4096;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(port_));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
    const std::string get = "GET /captures/We02JanA.N14 HTTP/1.1\r\nHost: x\r\n\r\n";
    send(fd, get.data(), get.size(), MSG_NOSIGNAL);
    char head[12];
    ASSERT_EQ(recv(fd, head, sizeof head, MSG_WAITALL), 12);  // its answer has begun
    readers.push_back(fd);
  }
  EXPECT_EQ(StatusOf(Get("/captures/We02JanA.N14")), 503);
  EXPECT_EQ(StatusOf(Get("/status.json")), 200);
  for (int fd : readers) close(fd);

  // Stopping with clients still connected returns.
  const int held = SendRaw(port_, "GET /captures/We02JanF.N14 HTTP/1.1\r\n");
  server_.Stop();
  EXPECT_EQ(ReadAll(held), "");
  close(held);
}

// Starts the station program with `args` in `dir`, its output discarded.
pid_t StartProgram(const std::vector<std::string>& args, const std::filesystem::path& dir) {
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_WRONLY);
    if (chdir(dir.c_str()) != 0 || dup2(null, 1) < 0 || dup2(null, 2) < 0) _exit(127);
    std::vector<char*> argv{const_cast<char*>(HALVIK_EXE)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(HALVIK_EXE, argv.data());
    _exit(127);
  }
  return pid;
}

// The station program, run headless in a fresh sample station: signals it has no use for are
// ignored, so the SIGTERM after them still ends it in order.
TEST(StationProcess, UserSignalsLeaveItRunning) {
  TempDir dir;
  const std::filesystem::path station = dir.path() / "station";
  int status = -1;
  waitpid(StartProgram({"init-station", station.string()}, dir.path()), &status, 0);
  ASSERT_EQ(status, 0);
  const int port = testing::FreeLoopbackPort();
  const pid_t pid = StartProgram(
      {"--headless", "--sim-speed", "20", "--http", "127.0.0.1:" + std::to_string(port)}, station);
  // The signal handlers are in place before the web interface listens.
  ASSERT_TRUE(testing::WaitForLoopbackPort(port, 60000));
  ASSERT_EQ(kill(pid, SIGUSR1), 0);
  ASSERT_EQ(kill(pid, SIGUSR2), 0);
  EXPECT_EQ(RawStatus(port, "GET /status.json HTTP/1.1\r\nHost: x\r\n\r\n"), 200);
  ASSERT_EQ(kill(pid, SIGTERM), 0);
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  // An orderly end removes the pid file.
  EXPECT_FALSE(std::filesystem::exists(station / "halvik.pid"));
}

}  // namespace
}  // namespace halvik::web
