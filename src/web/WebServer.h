#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "app/Station.h"
#include "config/PassListing.h"
#include "ui/StatusView.h"
#include "web/SkyPlot.h"

namespace halvik::web {

class LevelRecordingReadout;
class FrontedServer;

// Host and port of `--http`: "ADDR:PORT", "[IPv6]:PORT", or ":PORT" / "PORT" for loopback.
struct HttpAddress {
  std::string host;
  int port = 0;  // 0: any free port
};
std::optional<HttpAddress> ParseHttpAddress(std::string_view text);

// Limits of the web interface: what one request and the server as a whole may hold.
inline constexpr int kWebWorkers = 4;                    // answers made at once
inline constexpr int kWebConnections = 128;              // open connections, waiting or answered
inline constexpr std::size_t kWebMaxRequestLine = 4096;  // bytes, else 414
inline constexpr std::size_t kWebMaxHeadBytes = 8192;    // request line and fields, else 431
inline constexpr int kWebMaxHeaders = 64;                // request header fields, else 431
inline constexpr int kWebMaxBodyBytes = 1024;            // nothing here takes a body
inline constexpr int kWebTimeoutSeconds = 5;  // the whole request head; each write of an answer
inline constexpr int kWebMaxPassHours = 168;

// A read-only HTTP interface to a running station: the page, its state as JSON, the coming
// passes, the captures and their images, a picture of the status view and metrics. It serves on
// its own threads and only reads the station's shared records, as the status view does; nothing
// it does takes a lock the tracking or capture threads use.
class WebServer {
 public:
  // Renders the status view of the given sources as PNG bytes (empty on failure); without one
  // /snapshot.png answers 503.
  using PngRenderer = std::function<std::string(const StatusSources&)>;

  // `polled` (may be null) is the window's receiver readout, for the signal level.
  WebServer(Station& station, LevelRecordingReadout* polled, PngRenderer renderPng = {});
  ~WebServer();
  WebServer(const WebServer&) = delete;
  WebServer& operator=(const WebServer&) = delete;

  // Binds the address and starts serving; an empty text on success, else what went wrong.
  std::string Start(const HttpAddress& address);
  // Stops accepting, cuts the connections in hand and joins once the answers being made are
  // made: no wait of the server's threads is without a bound.
  void Stop();
  int port() const { return port_; }

 private:
  struct CachedListing {
    std::int64_t madeAt = 0;  // station second
    std::shared_ptr<const PassListing> listing;
  };
  void Route();
  // The pass listing from about `now` (made afresh once a minute of station time).
  CachedListing Listing(std::int64_t now, int hours);
  // The listing the sky plot and the map choose their pass from: from half an hour before
  // about `now`, so that it still holds a pass under way.
  CachedListing SkyListing(std::int64_t now);
  std::string HistoryPicture();
  // Keeps the antenna's trail until `Stop`.
  void SampleTrail();
  std::int64_t StationNow() const;
  std::string Snapshot();

  Station& station_;
  LevelRecordingReadout* polled_;
  PngRenderer renderPng_;
  std::unique_ptr<FrontedServer> server_;
  std::thread thread_;
  int port_ = 0;

  std::mutex listingMutex_;  // web threads only
  std::map<int, CachedListing> listings_;
  CachedListing skyListing_;
  std::string coastlinePath_;  // made once: the land of every map
  AntennaTrail trail_;
  std::thread trailThread_;
  std::mutex trailMutex_;  // web threads only: the sampler's stop
  std::condition_variable trailStop_;
  bool stopping_ = false;
  std::mutex historyMutex_;  // web threads only
  std::string historyKey_;
  std::string historySvg_;
  std::mutex snapshotMutex_;  // web threads only: one picture at a time
  std::unique_ptr<QuickLookBuffer> snapshotQuickLook_;
  std::atomic<int> downloads_{0};  // large answers being written
};

// The page served at "/".
std::string_view PageHtml();

}  // namespace halvik::web
