#include "web/HttpFront.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/Text.h"

namespace halvik::web {
namespace {

using Clock = std::chrono::steady_clock;

// What a refused client may still send, read and dropped before its connection is closed:
// closing with unread bytes would reset the connection and lose the answer.
constexpr std::size_t kDrainBytes = 64 * 1024;
constexpr std::chrono::milliseconds kDrainTime{1000};
constexpr std::size_t kReadChunk = 4096;

int MillisecondsUntil(Clock::time_point when) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(when - Clock::now());
  return static_cast<int>(std::clamp<std::int64_t>(left.count(), 0, 1000));
}

void Address(const sockaddr_storage& at, std::string& ip, int& port) {
  char text[INET6_ADDRSTRLEN] = {};
  if (at.ss_family == AF_INET) {
    const auto& v4 = reinterpret_cast<const sockaddr_in&>(at);
    inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
    port = ntohs(v4.sin_port);
  } else if (at.ss_family == AF_INET6) {
    const auto& v6 = reinterpret_cast<const sockaddr_in6&>(at);
    inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
    port = ntohs(v6.sin6_port);
  }
  ip = text;
}

// One complete request head for httplib to read, and the connection to write its answer to.
// Nothing past the head is ever read from the socket here: the head is all a request may be.
class HeadStream final : public httplib::Stream {
 public:
  HeadStream(int fd, std::string_view head, std::chrono::milliseconds writeTime)
      : fd_(fd), head_(head), writeTime_(writeTime) {}
  bool is_readable() const override { return at_ < head_.size(); }
  bool is_writable() const override {
    pollfd p{fd_, POLLOUT, 0};
    return poll(&p, 1, static_cast<int>(writeTime_.count())) > 0 && (p.revents & POLLOUT);
  }
  ssize_t read(char* ptr, size_t size) override {
    const std::size_t n = std::min(size, head_.size() - at_);
    std::copy_n(head_.data() + at_, n, ptr);
    at_ += n;
    return static_cast<ssize_t>(n);
  }
  ssize_t write(const char* ptr, size_t size) override {
    std::size_t sent = 0;
    const Clock::time_point end = Clock::now() + writeTime_;
    while (sent < size) {
      const ssize_t n = send(fd_, ptr + sent, size - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n > 0) {
        sent += static_cast<std::size_t>(n);
        continue;
      }
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return -1;
      pollfd p{fd_, POLLOUT, 0};
      if (Clock::now() >= end || poll(&p, 1, MillisecondsUntil(end)) < 0) return -1;
      if (p.revents & (POLLERR | POLLHUP)) return -1;
    }
    return static_cast<ssize_t>(sent);
  }
  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    sockaddr_storage at{};
    socklen_t size = sizeof at;
    if (getpeername(fd_, reinterpret_cast<sockaddr*>(&at), &size) == 0) Address(at, ip, port);
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    sockaddr_storage at{};
    socklen_t size = sizeof at;
    if (getsockname(fd_, reinterpret_cast<sockaddr*>(&at), &size) == 0) Address(at, ip, port);
  }
  socket_t socket() const override { return fd_; }

 private:
  int fd_;
  std::string_view head_;
  std::size_t at_ = 0;
  std::chrono::milliseconds writeTime_;
};

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
    text.remove_suffix(1);
  return text;
}

}  // namespace

HeadScan ScanHead(std::string_view bytes, std::size_t maxLine, std::size_t maxHead, int maxFields) {
  const std::size_t lineEnd = bytes.find('\n');
  if (lineEnd == std::string_view::npos) {
    return {bytes.size() > maxLine ? HeadState::LineTooLong : HeadState::Incomplete};
  }
  if (lineEnd + 1 > maxLine) return {HeadState::LineTooLong};
  HeadScan scan;
  int fields = 0;
  for (std::size_t at = lineEnd + 1;;) {
    const std::size_t end = bytes.find('\n', at);
    if (end == std::string_view::npos) {
      return {bytes.size() > maxHead ? HeadState::HeadTooLarge : HeadState::Incomplete};
    }
    if (end + 1 > maxHead) return {HeadState::HeadTooLarge};
    const std::string_view line = Trim(bytes.substr(at, end - at));
    at = end + 1;
    if (line.empty()) {
      scan.state = HeadState::Complete;
      scan.length = at;
      return scan;
    }
    if (++fields > maxFields) return {HeadState::TooManyFields};
    const std::size_t colon = line.find(':');
    const std::string_view name = Trim(line.substr(0, colon));
    const std::string_view value =
        colon == std::string_view::npos ? std::string_view{} : Trim(line.substr(colon + 1));
    if (EqualsIgnoreCase(name, "Transfer-Encoding") ||
        (EqualsIgnoreCase(name, "Content-Length") && value != "0")) {
      scan.body = true;
    }
  }
}

HttpFront::HttpFront(FrontLimits limits, Serve serve) : limits_(limits), serve_(std::move(serve)) {
  wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  reader_ = std::thread([this] { ReadLoop(); });
  for (int i = 0; i < limits_.workers; ++i) workers_.emplace_back([this] { Work(); });
}

HttpFront::~HttpFront() {
  Stop();
  if (wakeFd_ >= 0) close(wakeFd_);
}

void HttpFront::Wake() {
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = write(wakeFd_, &one, sizeof one);
}

void HttpFront::Adopt(int fd) {
  if (stopping_.load()) {
    close(fd);
    return;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  Connection c;
  c.fd = fd;
  c.since = Clock::now();
  c.deadline = c.since + limits_.requestTime;
  held_.fetch_add(1);
  {
    std::lock_guard lock(mutex_);
    arriving_.push_back(std::move(c));
  }
  Wake();
}

void HttpFront::Stop() {
  if (stopping_.exchange(true)) return;
  Wake();
  if (reader_.joinable()) reader_.join();
  {
    std::lock_guard lock(mutex_);
    // A worker blocked on a client's socket returns at once; it closes the connection itself.
    for (int fd : answering_) shutdown(fd, SHUT_RDWR);
  }
  ready_.notify_all();
  for (std::thread& worker : workers_) worker.join();
  workers_.clear();
  for (Connection& c : arriving_) close(c.fd);
  for (Connection& c : complete_) close(c.fd);
  arriving_.clear();
  complete_.clear();
}

void HttpFront::Refuse(Connection& c, int status, std::string_view reason) {
  const std::string text(reason);
  const std::string answer = Format(
      "HTTP/1.1 %d %s\r\nContent-Type: text/plain; charset=utf-8\r\n"
      "Content-Length: %zu\r\nConnection: close\r\n\r\n%s\n",
      status, text.c_str(), text.size() + 1, text.c_str());
  [[maybe_unused]] const ssize_t n =
      send(c.fd, answer.data(), answer.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  shutdown(c.fd, SHUT_WR);
  c.closing = true;
  c.bytes.clear();
  c.bytes.shrink_to_fit();
  c.deadline = Clock::now() + kDrainTime;
}

bool HttpFront::Judge(Connection& c) {
  const HeadScan scan =
      ScanHead(c.bytes, limits_.maxRequestLine, limits_.maxHead, limits_.maxFields);
  switch (scan.state) {
    case HeadState::Incomplete:
      return false;
    case HeadState::LineTooLong:
      Refuse(c, 414, "URI Too Long");
      return false;
    case HeadState::HeadTooLarge:
    case HeadState::TooManyFields:
      Refuse(c, 431, "Request Header Fields Too Large");
      return false;
    case HeadState::Complete:
      break;
  }
  {
    std::lock_guard lock(mutex_);
    complete_.push_back(std::move(c));
  }
  ready_.notify_one();
  return true;
}

HttpFront::Next HttpFront::Receive(Connection& c) {
  char chunk[kReadChunk];
  for (;;) {
    // Never more than one byte past the bound: enough to see that it was passed.
    const std::size_t room =
        c.closing ? sizeof chunk : std::min(sizeof chunk, limits_.maxHead + 1 - c.bytes.size());
    const ssize_t n = recv(c.fd, chunk, room, MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return Next::Keep;
    if (n <= 0) return Next::Close;
    if (c.closing) {
      c.drained += static_cast<std::size_t>(n);
      if (c.drained > kDrainBytes) return Next::Close;
      continue;
    }
    c.bytes.append(chunk, static_cast<std::size_t>(n));
    if (Judge(c)) return Next::Handed;
  }
}

void HttpFront::ReadLoop() {
  auto finish = [this](int fd) {
    close(fd);
    held_.fetch_sub(1);
  };
  std::vector<pollfd> polls;
  while (!stopping_.load()) {
    std::vector<Connection> arrived;
    {
      std::lock_guard lock(mutex_);
      arrived.swap(arriving_);
    }
    for (Connection& c : arrived) {
      // Over the bound, the connection that has waited longest for its head makes room: a
      // client that sends its request at once is never the one.
      while (held_.load() > limits_.connections) {
        auto oldest = std::min_element(reading_.begin(), reading_.end(), [](auto& a, auto& b) {
          return std::pair(!a.second.closing, a.second.since) <
                 std::pair(!b.second.closing, b.second.since);
        });
        if (oldest == reading_.end()) break;
        if (!oldest->second.closing) Refuse(oldest->second, 503, "Service Unavailable");
        finish(oldest->first);
        reading_.erase(oldest);
      }
      if (held_.load() > limits_.connections) {
        Refuse(c, 503, "Service Unavailable");
        finish(c.fd);
        continue;
      }
      // Pipelined requests already received are judged before waiting for more.
      if (!c.bytes.empty() && Judge(c)) continue;
      const int fd = c.fd;
      reading_.emplace(fd, std::move(c));
    }

    polls.assign(1, pollfd{wakeFd_, POLLIN, 0});
    Clock::time_point next = Clock::now() + std::chrono::seconds(1);
    for (auto& [fd, c] : reading_) {
      polls.push_back(pollfd{fd, POLLIN, 0});
      next = std::min(next, c.deadline);
    }
    if (poll(polls.data(), polls.size(), MillisecondsUntil(next)) < 0 && errno != EINTR) break;
    if (polls[0].revents & POLLIN) {
      std::uint64_t count = 0;
      [[maybe_unused]] const ssize_t n = read(wakeFd_, &count, sizeof count);
    }
    const Clock::time_point now = Clock::now();
    for (std::size_t i = 1; i < polls.size(); ++i) {
      auto it = reading_.find(polls[i].fd);
      Connection& c = it->second;
      bool keep = true;
      if (polls[i].revents != 0) {
        const Next next = Receive(c);
        if (next == Next::Handed) {
          reading_.erase(it);
          continue;
        }
        keep = next == Next::Keep;
      }
      if (keep && now >= c.deadline) {
        if (c.closing || c.bytes.empty()) {
          keep = false;
        } else {
          Refuse(c, 408, "Request Timeout");
        }
      }
      if (!keep) {
        finish(c.fd);
        reading_.erase(it);
      }
    }
  }
  for (auto& [fd, c] : reading_) finish(fd);
  reading_.clear();
}

void HttpFront::Work() {
  for (;;) {
    Connection c;
    {
      std::unique_lock lock(mutex_);
      ready_.wait(lock, [this] { return stopping_.load() || !complete_.empty(); });
      if (complete_.empty()) return;
      c = std::move(complete_.front());
      complete_.pop_front();
      answering_.insert(c.fd);
    }
    const HeadScan scan =
        ScanHead(c.bytes, limits_.maxRequestLine, limits_.maxHead, limits_.maxFields);
    // A body is never read: the connection ends after the answer that refuses it.
    const bool last = scan.body || ++c.served >= limits_.requestsPerConnection;
    bool clientCloses = false;
    bool ok = false;
    if (!stopping_.load()) {
      HeadStream stream(c.fd, std::string_view(c.bytes).substr(0, scan.length), limits_.writeTime);
      ok = serve_(stream, last, clientCloses);
    }
    {
      std::lock_guard lock(mutex_);
      answering_.erase(c.fd);
      if (!ok || last || clientCloses || stopping_.load()) {
        close(c.fd);
        held_.fetch_sub(1);
        continue;
      }
      c.bytes.erase(0, scan.length);
      c.since = Clock::now();
      c.deadline = c.since + limits_.requestTime;
      arriving_.push_back(std::move(c));
    }
    Wake();
  }
}

}  // namespace halvik::web
