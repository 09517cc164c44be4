// The web interface's request handling: the input goes as it is (request line, path, query,
// headers and anything after them) over a loopback connection to the WebServer of a station that
// is not started, in a sample station directory with one capture and one picture beside it. The
// answer must be one HTTP response with a status this server gives, never an internal error,
// and must come without the client having to wait out a time-out.
#include <fcntl.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "FuzzSupport.h"
#include "app/BoardHardware.h"
#include "app/SampleStation.h"
#include "app/Station.h"
#include "linuxhw/StreamSocket.h"
#include "platform/Clock.h"
#include "platform/Device.h"
#include "platform/LinuxSystemInfo.h"
#include "platform/Messages.h"
#include "platform/PosixSpawner.h"
#include "sim/SimServiceManager.h"
#include "web/WebServer.h"

namespace halvik {
namespace {

// One station and server for the whole run: starting them is most of the cost of a request.
struct Served {
  Served() {
    const std::filesystem::path& dir = fuzz::ScratchDir();
    fuzz::Require(InitStation(dir).empty(), "the sample station could not be laid out");
    fuzz::WriteBytes(dir / "We02JanA.N14", std::string(22180, '\0'));
    fuzz::WriteBytes(dir / "We02JanA.N14.thumb.png", "\x89PNG\r\n\x1a\n");
    hardware = std::make_unique<BoardHardware>(dir, services, devices, clock, messages, beeper);
    station = std::make_unique<Station>(
        StationEnvironment{dir, clock, messages, beeper, systemInfo, spawner, *hardware});
    server = std::make_unique<web::WebServer>(*station, nullptr);
    fuzz::Require(server->Start(web::HttpAddress{"127.0.0.1", 0}).empty(),
                  "the server could not listen on loopback");
  }

  // 2002-01-02T12:00:00Z, a day the sample element sets cover.
  ManualClock clock{SystemTime{1009972800, 0}};
  RecordingMessages messages;
  CountingBeeper beeper;
  LinuxSystemInfo systemInfo;
  PosixSpawner spawner;
  DeviceNamespace devices;
  sim::SimServiceManager services{devices};
  std::unique_ptr<BoardHardware> hardware;
  std::unique_ptr<Station> station;
  std::unique_ptr<web::WebServer> server;
};

Served* served = nullptr;

// A loopback connection that takes longer is a finding.
constexpr int kConnectWaitMs = 5000;

// Everything the server sends until it closes the connection.
std::string Exchange(int port, std::string_view request) {
  std::string error;
  UniqueFd socket = ConnectTcp(HostPort{"127.0.0.1", std::to_string(port)}, kConnectWaitMs, error);
  if (!socket.valid()) {
    std::fprintf(stderr, "connect: %s\n", error.c_str());
    fuzz::Require(false, "the server refused a connection");
  }
  const int fd = socket.get();
  // Blocking from here, with a bound: longer than the server's own read time-out, so a server
  // that waits for more than was sent shows as a reply that never came.
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  timeval timeout{2 * web::kWebTimeoutSeconds, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  for (std::size_t sent = 0; sent < request.size();) {
    const ssize_t n = ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;  // libFuzzer's time-out alarm
    if (n <= 0) break;  // the server may close before reading everything: an answer follows
    sent += static_cast<std::size_t>(n);
  }
  // The request ends here: a server waiting for more reads the end of the stream.
  ::shutdown(fd, SHUT_WR);
  std::string reply;
  char buffer[16384];
  for (;;) {
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      // A server that answers before reading the whole request and then closes makes the
      // kernel reset the connection: that ends the answer too. Only a time-out is a finding.
      fuzz::Require(n == 0 || errno == ECONNRESET, "the server kept the client waiting");
      break;
    }
    reply.append(buffer, static_cast<std::size_t>(n));
  }
  return reply;
}

}  // namespace
}  // namespace halvik

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  using namespace halvik;
  // The pictures of the status view need Qt; this server answers /snapshot.png with 503.
  served = new Served;
  std::atexit([] {
    served->server->Stop();
    delete served;
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace halvik;
  const std::string reply =
      Exchange(served->server->port(), std::string_view(reinterpret_cast<const char*>(data), size));
  // No answer at all is fine for what is not a request (the server closes at once); anything
  // sent must be a status line.
  if (reply.empty()) return 0;
  fuzz::Require(reply.rfind("HTTP/1.1 ", 0) == 0 && reply.size() >= 12,
                "an answer without a status line");
  const int status = std::atoi(reply.substr(9, 3).c_str());
  fuzz::Require((status >= 200 && status < 500) || status == 503, "an internal error");
  return 0;
}
