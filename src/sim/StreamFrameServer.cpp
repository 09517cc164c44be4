#include "sim/StreamFrameServer.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <random>

#include "devices/Downlink.h"
#include "sim/HrptFrame.h"
#include "sim/Sky.h"

namespace halvik {
namespace {

// How often the serving thread looks at its stop flag while it waits for a client or for room.
constexpr int kStopCheckMs = 50;

}  // namespace

std::vector<std::uint8_t> StreamBytes(std::span<const std::uint16_t> words) {
  std::vector<std::uint8_t> bytes;
  bytes.reserve(words.size() * 2);
  for (std::uint16_t w : words) {
    bytes.push_back(static_cast<std::uint8_t>(w & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(w >> 8));
  }
  return bytes;
}

std::vector<std::uint16_t> ServedFrame(const FrameServerOptions& options, std::int64_t n) {
  return sim::StreamFrame(options.satelliteName, options.startUtcMs, options.passFrames, n);
}

StreamFrameServer::StreamFrameServer(FrameServerOptions options) : options_(std::move(options)) {}

StreamFrameServer::~StreamFrameServer() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

bool StreamFrameServer::Listen(std::uint16_t port, std::string& error) {
  listener_ = ListenLoopback(port, error);
  if (!listener_.valid()) return false;
  port_ = port;
  thread_ = std::thread([this] { Serve(); });
  return true;
}

void StreamFrameServer::Serve() {
  std::mt19937 noise(1);
  std::int64_t next = 0;  // the next frame to send
  while (!stop_ && (options_.totalFrames < 0 || next < options_.totalFrames)) {
    pollfd p{listener_.get(), POLLIN, 0};
    if (::poll(&p, 1, kStopCheckMs) <= 0) continue;
    UniqueFd client(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (!client.valid()) continue;
    ++connections_;
    std::vector<std::uint8_t> lead(static_cast<std::size_t>(options_.leadingNoiseBytes));
    for (auto& b : lead) b = static_cast<std::uint8_t>(noise());
    if (!SendAll(client.get(), lead, stop_, kStopCheckMs)) continue;
    // The downlink's pace, counted from the start of the connection.
    using Steady = std::chrono::steady_clock;
    const Steady::time_point began = Steady::now();
    const double framesPerSecond =
        1.0 / sim::ShapeOf(sim::DownlinkPlanFor(options_.satelliteName).family).frameSeconds();
    for (std::int64_t sent = 0; options_.totalFrames < 0 || next < options_.totalFrames; ++sent) {
      if (options_.speed > 0) {
        const auto due =
            began + std::chrono::duration_cast<Steady::duration>(std::chrono::duration<double>(
                        static_cast<double>(sent) / (framesPerSecond * options_.speed)));
        for (Steady::duration left = due - Steady::now(); !stop_ && left > left.zero();
             left = due - Steady::now()) {
          std::this_thread::sleep_for(
              std::min<Steady::duration>(left, std::chrono::milliseconds(kStopCheckMs)));
        }
      }
      const std::vector<std::uint8_t> bytes = StreamBytes(ServedFrame(options_, next));
      if (options_.dropAfterFrames >= 0 && sent == options_.dropAfterFrames) {
        // Half a frame, then the line goes dead; the next client gets this frame whole.
        SendAll(client.get(), std::span(bytes).first(bytes.size() / 2), stop_, kStopCheckMs);
        break;
      }
      if (!SendAll(client.get(), bytes, stop_, kStopCheckMs)) break;
      ++next;
      ++framesSent_;
    }
  }
}

}  // namespace halvik
