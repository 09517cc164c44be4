#include "web/WebServer.h"

#include <httplib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "orbit/Coastlines.h"
#include "platform/Text.h"
#include "web/ByteRange.h"
#include "web/CaptureNames.h"
#include "web/History.h"
#include "web/HttpFront.h"
#include "web/Metrics.h"
#include "web/ReceiverLevel.h"
#include "web/StationJson.h"
#include "web/Svg.h"
#include "web/WorldMap.h"

namespace halvik::web {
namespace {

using nlohmann::json;

constexpr const char* kLoopback = "127.0.0.1";
constexpr std::int64_t kListingLifetimeSeconds = 60;  // station seconds a pass listing is reused
constexpr int kTimelineHours = 24;
constexpr std::size_t kCapturesListed = 50;
constexpr std::size_t kFileChunkBytes = 64 * 1024;
constexpr int kKeepAliveRequests = 10;
// The sky plot's listing reaches back this far, past the AOS of any pass still under way, and
// ahead far enough to hold the next pass the priority rule lets through.
constexpr std::int64_t kSkyLookBackSeconds = 1800;
constexpr double kSkyListingHours = 12.5;
// The map's satellites move on once in this many station seconds: between two such steps the
// map is the same picture, and a page asking again gets 304.
constexpr std::int64_t kMapStepSeconds = 30;
// How often the antenna's read-back is looked at for the sky plot's trail, real time.
constexpr auto kTrailSampleInterval = std::chrono::milliseconds(500);
// Answers longer than this count as downloads (a capture, not a thumbnail or record).
constexpr std::uint64_t kLargeAnswerBytes = 1 << 20;

// One of the workers that large answers may hold, taken while one is free and given back when
// the answer is done with.
struct DownloadSlot {
  explicit DownloadSlot(std::atomic<int>& count) : count_(count) {
    held = count_.fetch_add(1) < kWebWorkers - 1;
  }
  ~DownloadSlot() { count_.fetch_sub(1); }
  DownloadSlot(const DownloadSlot&) = delete;
  DownloadSlot& operator=(const DownloadSlot&) = delete;
  bool held = false;

 private:
  std::atomic<int>& count_;
};

// The pass listing's loaders report a broken station file as a message box; here they only
// make the listing shorter.
class SilentMessages final : public Messages {
 public:
  void Show(const std::string&) override {}
};

// The accepting thread hands each connection straight to the front, which never blocks.
class InlineQueue final : public httplib::TaskQueue {
 public:
  void enqueue(std::function<void()> job) override { job(); }
  void shutdown() override {}
};

FrontLimits WebLimits() {
  FrontLimits limits;
  limits.maxRequestLine = kWebMaxRequestLine;
  limits.maxHead = kWebMaxHeadBytes;
  limits.maxFields = kWebMaxHeaders;
  limits.workers = kWebWorkers;
  limits.connections = kWebConnections;
  limits.requestTime = std::chrono::seconds(kWebTimeoutSeconds);
  limits.writeTime = std::chrono::seconds(kWebTimeoutSeconds);
  limits.requestsPerConnection = kKeepAliveRequests;
  return limits;
}

}  // namespace

// httplib's server with the front in place of its own reading of sockets: httplib still parses,
// routes and writes each answer, from a head the front has read whole and within bounds.
class FrontedServer final : public httplib::Server {
 public:
  FrontedServer()
      : front_(WebLimits(), [this](httplib::Stream& stream, bool closeAfter, bool& clientCloses) {
          // Ranges are honoured by the capture files alone (one range each); httplib's own
          // handling would answer every range asked for, overlapping or not.
          return process_request(stream, closeAfter, clientCloses,
                                 [](httplib::Request& req) { req.ranges.clear(); });
        }) {
    new_task_queue = [] { return new InlineQueue; };
  }
  void StopFront() { front_.Stop(); }
  // httplib listens with a backlog of five: a burst of clients while the accepting thread waits
  // for the processor would be turned away and kept waiting a second for their retry.
  void WidenBacklog() { ::listen(svr_sock_, kWebConnections); }

 private:
  bool process_and_close_socket(socket_t sock) override {
    front_.Adopt(sock);
    return true;
  }
  HttpFront front_;
};

namespace {

unsigned long long ULL(std::uint64_t value) {
  return static_cast<unsigned long long>(value);
}

std::string Dump(const json& value) {
  // Satellite names come from a file an operator edits: bytes that are not UTF-8 are replaced
  // rather than failing the request.
  return value.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}

void SendJson(httplib::Response& res, const json& value) {
  res.set_header("Cache-Control", "no-store");
  res.set_content(Dump(value), "application/json");
}

void SendError(httplib::Response& res, int status, const std::string& text) {
  res.status = status;
  res.set_content(text + "\n", "text/plain; charset=utf-8");
}

const char* ContentType(const std::string& name) {
  if (name.size() > 4 && name.compare(name.size() - 4, 4, ".png") == 0) return "image/png";
  if (name.size() > 5 && name.compare(name.size() - 5, 5, ".json") == 0) return "application/json";
  return "application/octet-stream";
}

// A picture drawn by the station, with its entity tag: a page that already has this picture
// (If-None-Match) gets 304 and no body, and keeps what it shows.
void SendSvg(const httplib::Request& req, httplib::Response& res, std::string body) {
  const std::string tag = EntityTag(body);
  res.set_header("ETag", tag);
  res.set_header("Cache-Control", "no-cache");
  if (req.get_header_value("If-None-Match") == tag) {
    res.status = 304;
    return;
  }
  res.set_content(std::move(body), "image/svg+xml");
}

// N of "hours=N": a whole number within 1..168, nothing otherwise.
std::optional<int> ParseHours(const std::string& text) {
  if (text.empty() || text.size() > 3) return std::nullopt;
  int hours = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    hours = hours * 10 + (c - '0');
  }
  if (hours < 1 || hours > kWebMaxPassHours) return std::nullopt;
  return hours;
}

}  // namespace

std::optional<HttpAddress> ParseHttpAddress(std::string_view text) {
  HttpAddress address;
  std::string_view port = text;
  const std::size_t colon = text.rfind(':');
  if (colon != std::string_view::npos) {
    std::string_view host = text.substr(0, colon);
    port = text.substr(colon + 1);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
      host = host.substr(1, host.size() - 2);
    } else if (host.find(':') != std::string_view::npos) {
      return std::nullopt;  // an IPv6 address needs its brackets
    }
    address.host = std::string(host);
  }
  if (address.host.empty()) address.host = kLoopback;
  if (port.empty() || port.size() > 5) return std::nullopt;
  long value = 0;
  for (char c : port) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value > 65535) return std::nullopt;
  address.port = static_cast<int>(value);
  return address;
}

WebServer::WebServer(Station& station, LevelRecordingReadout* polled, PngRenderer renderPng)
    : station_(station),
      polled_(polled),
      renderPng_(std::move(renderPng)),
      coastlinePath_(CoastlinePath(BuiltInCoastlines())) {}

WebServer::~WebServer() {
  Stop();
}

std::int64_t WebServer::StationNow() const {
  return CorrectedSeconds(station_.environment().clock.Now().seconds,
                          station_.tracking.ClockCorrection);
}

WebServer::CachedListing WebServer::Listing(std::int64_t now, int hours) {
  std::lock_guard lock(listingMutex_);
  CachedListing& cached = listings_[hours];
  if (!cached.listing || now < cached.madeAt || now - cached.madeAt >= kListingLifetimeSeconds) {
    SilentMessages quiet;
    cached.listing = std::make_shared<const PassListing>(
        ListPasses(station_.environment().dir, now, static_cast<double>(hours), quiet));
    cached.madeAt = now;
  }
  return cached;
}

WebServer::CachedListing WebServer::SkyListing(std::int64_t now) {
  std::lock_guard lock(listingMutex_);
  CachedListing& cached = skyListing_;
  if (!cached.listing || now < cached.madeAt || now - cached.madeAt >= kListingLifetimeSeconds) {
    SilentMessages quiet;
    cached.listing = std::make_shared<const PassListing>(
        ListPasses(station_.environment().dir, now - kSkyLookBackSeconds, kSkyListingHours, quiet));
    cached.madeAt = now;
  }
  return cached;
}

std::string WebServer::HistoryPicture() {
  const std::filesystem::path& dir = station_.environment().dir;
  const std::vector<RecordFile> files = ListRecordFiles(dir);
  std::string key = RecordFilesKey(files);
  std::lock_guard lock(historyMutex_);
  // Records are read again only when one of them changed.
  if (historySvg_.empty() || key != historyKey_) {
    std::vector<PassQuality> passes = ReadPassQualities(dir, files);
    AddMaxElevations(passes, station_.table, station_.station);
    historySvg_ = HistorySvg(passes);
    historyKey_ = std::move(key);
  }
  return historySvg_;
}

void WebServer::SampleTrail() {
  std::unique_lock lock(trailMutex_);
  while (!stopping_) {
    const SchedulerState* scheduler = station_.scheduler();
    const bool following = scheduler && scheduler->TrackingActive != 0;
    trail_.Sample(StationNow(), station_.antennaState, following);
    trailStop_.wait_for(lock, kTrailSampleInterval, [this] { return stopping_; });
  }
}

std::string WebServer::Snapshot() {
  std::lock_guard lock(snapshotMutex_);
  // A view of our own over a copy of the quick-look picture: the window's view keeps its paint
  // state, and QuickLookCleared (which a paint clears) stays the window's to act on.
  if (!snapshotQuickLook_) snapshotQuickLook_ = std::make_unique<QuickLookBuffer>();
  *snapshotQuickLook_ = station_.quickLook;
  snapshotQuickLook_->QuickLookCleared = 0;
  std::unique_ptr<ReceiverReadout> receiver;
  // Without the window's readout the picture shows the receiver unpolled (level 0).
  class Unpolled final : public ReceiverReadout {
   public:
    explicit Unpolled(Tuner& r) : r_(r) {}
    float ReceiverReadStatus() override { return 0.0f; }
    int ReceiverLocked() override { return r_.ReceiverLocked(); }
    double ReceiverFrequency() override { return r_.ReceiverFrequency(); }

   private:
    Tuner& r_;
  };
  if (polled_) {
    receiver = std::make_unique<LastPollReadout>(*polled_);
  } else {
    receiver = std::make_unique<Unpolled>(station_.receiver);
  }
  const StatusSources sources{station_.environment().clock,
                              *receiver,
                              station_.tracking,
                              station_.table,
                              station_.antennaState,
                              station_.captureStatus,
                              station_.gpsState,
                              *snapshotQuickLook_};
  return renderPng_(sources);
}

void WebServer::Route() {
  httplib::Server& server = *server_;
  server.set_pre_routing_handler([](const httplib::Request& req, httplib::Response& res) {
    if (req.method != "GET" && req.method != "HEAD") {
      res.set_header("Allow", "GET, HEAD");
      SendError(res, 405, "Read-only: only GET and HEAD");
      return httplib::Server::HandlerResponse::Handled;
    }
    // Nothing here takes a body: one announced is refused before any of it is read.
    if (req.has_header("Transfer-Encoding") ||
        (req.has_header("Content-Length") && req.get_header_value("Content-Length") != "0")) {
      SendError(res, 413, "No request body is accepted");
      return httplib::Server::HandlerResponse::Handled;
    }
    return httplib::Server::HandlerResponse::Unhandled;
  });
  server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
    if (!res.body.empty()) return;
    SendError(res, res.status, res.status == 404 ? "Not found" : "Bad request");
  });
  server.set_exception_handler([](const httplib::Request&, httplib::Response& res,
                                  std::exception_ptr) { SendError(res, 500, "Internal error"); });

  server.Get("/", [](const httplib::Request&, httplib::Response& res) {
    res.set_header("Content-Security-Policy",
                   "default-src 'self'; script-src 'unsafe-inline'; style-src 'unsafe-inline'");
    res.set_content(std::string(PageHtml()), "text/html; charset=utf-8");
  });
  server.Get("/status.json", [this](const httplib::Request&, httplib::Response& res) {
    SendJson(res, StatusJson(station_, polled_));
  });
  server.Get("/passes.json", [this](const httplib::Request& req, httplib::Response& res) {
    std::optional<int> hours = kTimelineHours;
    if (req.has_param("hours")) hours = ParseHours(req.get_param_value("hours"));
    if (!hours || req.get_param_value_count("hours") > 1) {
      SendError(res, 400, "hours must be a whole number from 1 to 168");
      return;
    }
    // The listing may be up to a minute old; it says which moment it was made for.
    const CachedListing listing = Listing(StationNow(), *hours);
    SendJson(res, PassesJson(*listing.listing, listing.madeAt, *hours));
  });
  server.Get("/captures.json", [this](const httplib::Request&, httplib::Response& res) {
    SendJson(res, CapturesJson(station_.environment().dir, kCapturesListed));
  });
  server.Get(R"(/captures/([^/]+))", [this](const httplib::Request& req, httplib::Response& res) {
    const std::string name = req.matches[1];
    const std::shared_ptr<const ServedFile> file = OpenServable(station_.environment().dir, name);
    if (!file) {
      SendError(res, 404, "Not found");
      return;
    }
    const ByteRange range = ChooseRange(req.get_header_value("Range"), file->size);
    if (range.kind == ByteRange::Unsatisfiable) {
      res.set_header("Content-Range", Format("bytes */%llu", ULL(file->size)));
      SendError(res, 416, "Range Not Satisfiable");
      return;
    }
    if (range.kind == ByteRange::Part) {
      res.status = 206;
      res.set_header("Content-Range", Format("bytes %llu-%llu/%llu", ULL(range.first),
                                             ULL(range.first + range.length - 1), ULL(file->size)));
    }
    // A large answer may take a worker as long as its client takes to read it: all but one
    // worker at most, so the page's state is always answered.
    std::shared_ptr<DownloadSlot> slot;
    if (range.length > kLargeAnswerBytes) {
      slot = std::make_shared<DownloadSlot>(downloads_);
      if (!slot->held) {
        res.set_header("Retry-After", "10");
        SendError(res, 503, "Busy with other downloads: try again shortly");
        return;
      }
    }
    res.set_header("Accept-Ranges", "bytes");
    if (std::string(ContentType(name)) == "application/octet-stream") {
      res.set_header("Content-Disposition", "attachment; filename=\"" + name + "\"");
    }
    res.set_content_provider(static_cast<std::size_t>(range.length), ContentType(name),
                             [file, slot, first = range.first](
                                 std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                               std::vector<char> chunk(std::min(length, kFileChunkBytes));
                               const ssize_t got = pread(file->fd, chunk.data(), chunk.size(),
                                                         static_cast<off_t>(first + offset));
                               // A file cut short under us ends the response early; the client sees
                               // it truncated.
                               if (got <= 0) return false;
                               return sink.write(chunk.data(), static_cast<std::size_t>(got));
                             });
  });
  server.Get("/snapshot.png", [this](const httplib::Request&, httplib::Response& res) {
    if (!renderPng_) {
      SendError(res, 503, "No picture of the status view in this build");
      return;
    }
    std::string png = Snapshot();
    if (png.empty()) {
      SendError(res, 503, "The status view could not be drawn");
      return;
    }
    res.set_header("Cache-Control", "no-store");
    res.set_content(std::move(png), "image/png");
  });
  server.Get("/sky.svg", [this](const httplib::Request& req, httplib::Response& res) {
    const std::int64_t now = StationNow();
    const CachedListing listing = SkyListing(now);
    SendSvg(req, res, SkyPlotSvg(MakeSkyPlot(station_, *listing.listing, now, trail_)));
  });
  server.Get("/map.svg", [this](const httplib::Request& req, httplib::Response& res) {
    const std::int64_t now = StationNow();
    const CachedListing listing = SkyListing(now);
    const SkyPlot sky = MakeSkyPlot(station_, *listing.listing, now, trail_);
    const std::int64_t step = now - now % kMapStepSeconds;
    SendSvg(req, res, WorldMapSvg(MakeWorldMap(station_, step, sky), coastlinePath_));
  });
  server.Get("/history.svg", [this](const httplib::Request& req, httplib::Response& res) {
    SendSvg(req, res, HistoryPicture());
  });
  server.Get("/metrics", [this](const httplib::Request&, httplib::Response& res) {
    std::optional<PlannedPasses> planned;
    const CachedListing listing = Listing(StationNow(), kTimelineHours);
    if (listing.listing->satellitesLoaded > 0) {
      planned = PlannedPasses{};
      for (bool follow : FollowedPasses(*listing.listing))
        ++(follow ? planned->follow : planned->skip);
    }
    res.set_content(MetricsText(station_, polled_, planned), "text/plain; version=0.0.4");
  });
}

std::string WebServer::Start(const HttpAddress& address) {
  if (server_) return "already serving";
  server_ = std::make_unique<FrontedServer>();
  // What the answers announce; the front holds a connection to them.
  server_->set_keep_alive_max_count(kKeepAliveRequests);
  server_->set_keep_alive_timeout(kWebTimeoutSeconds);
  server_->set_payload_max_length(kWebMaxBodyBytes);  // for any body read before routing
  Route();
  if (address.port == 0) {
    port_ = server_->bind_to_any_port(address.host);
  } else if (server_->bind_to_port(address.host, address.port)) {
    port_ = address.port;
  } else {
    port_ = -1;
  }
  if (port_ <= 0) {
    server_.reset();
    return Format("cannot listen on %s port %d", address.host.c_str(), address.port);
  }
  server_->WidenBacklog();
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  {
    std::lock_guard lock(trailMutex_);
    stopping_ = false;
  }
  trailThread_ = std::thread([this] { SampleTrail(); });
  return {};
}

void WebServer::Stop() {
  if (!server_) return;
  {
    std::lock_guard lock(trailMutex_);
    stopping_ = true;
  }
  trailStop_.notify_all();
  if (trailThread_.joinable()) trailThread_.join();
  server_->stop();
  if (thread_.joinable()) thread_.join();
  server_->StopFront();
  server_.reset();
}

}  // namespace halvik::web
