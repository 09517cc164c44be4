#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace halvik::web {

// What the first bytes of a connection hold, judged against the request limits.
enum class HeadState { Incomplete, Complete, LineTooLong, HeadTooLarge, TooManyFields };
struct HeadScan {
  HeadState state = HeadState::Incomplete;
  std::size_t length = 0;  // Complete: bytes up to and including the blank line
  bool body = false;       // Complete: the head announces a body
};
// Judges `bytes` as a request head: request line, header fields, blank line. The bounds hold for
// any prefix, so a head is refused as soon as it has passed one, before the rest is read.
HeadScan ScanHead(std::string_view bytes, std::size_t maxLine, std::size_t maxHead, int maxFields);

struct FrontLimits {
  std::size_t maxRequestLine = 4096;
  std::size_t maxHead = 8192;
  int maxFields = 64;
  int workers = 4;
  int connections = 128;                        // open connections held at once, waiting or served
  std::chrono::milliseconds requestTime{5000};  // the whole head, from the wait's start
  std::chrono::milliseconds writeTime{5000};    // each write of the answer
  int requestsPerConnection = 10;
};

// The part of the web server that faces the network. One thread reads every connection's request
// head without blocking, within byte bounds and a deadline for the whole head, so a client that
// trickles or floods holds a buffer of at most the head bound and no worker; only complete heads
// reach the workers. Pipelined requests are answered in turn. Every wait of a worker is bounded
// and Stop cuts the connections in hand, so Stop returns once the answers being made are made.
class HttpFront {
 public:
  // Answers the one request head that `stream` reads, as httplib's server does.
  using Serve = std::function<bool(httplib::Stream& stream, bool closeAfter, bool& clientCloses)>;

  HttpFront(FrontLimits limits, Serve serve);
  ~HttpFront();
  HttpFront(const HttpFront&) = delete;
  HttpFront& operator=(const HttpFront&) = delete;

  // Takes over an accepted connection (closing it when stopped).
  void Adopt(int fd);
  void Stop();

 private:
  using Clock = std::chrono::steady_clock;
  struct Connection {
    int fd = -1;
    std::string bytes;  // received and not yet answered
    Clock::time_point deadline{};
    Clock::time_point since{};  // start of the current head's wait
    int served = 0;
    bool closing = false;  // refused: draining what the client still sends, then closed
    std::size_t drained = 0;
  };
  enum class Next { Keep, Close, Handed };

  void ReadLoop();
  void Work();
  // Reads what `c` has: keep waiting, close it, or it went to a worker.
  Next Receive(Connection& c);
  // Judges what `c` holds: true when a complete head went to a worker (`c` is then empty);
  // a head past a bound is refused.
  bool Judge(Connection& c);
  void Refuse(Connection& c, int status, std::string_view reason);
  void Wake();

  const FrontLimits limits_;
  const Serve serve_;
  int wakeFd_ = -1;
  std::atomic<bool> stopping_{false};
  std::mutex mutex_;  // web threads only
  std::condition_variable ready_;
  std::vector<Connection> arriving_;   // adopted or back from a worker
  std::deque<Connection> complete_;    // heads waiting for a worker
  std::set<int> answering_;            // connections in a worker's hands
  std::map<int, Connection> reading_;  // the reader thread's own
  std::atomic<int> held_{0};
  std::thread reader_;
  std::vector<std::thread> workers_;
};

}  // namespace halvik::web
