// The station's web interface under hostile clients, on loopback: the whole `halvik` process is
// run headless on the simulated boards and attacked the way an outsider would. Each benchmark
// runs once and reports what it saw as counters; every loop has its own bound.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/Daemon.h"
#include "web/RawClient.h"

namespace {

using halvik::testing::FreeLoopbackPort;

using Clock = std::chrono::steady_clock;

// A fresh connection to the station on loopback; -1 when it cannot be made.
int Connect(int port) {
  return halvik::web::SendRaw(port, "");
}

// Sends all of `bytes`, waiting at most `seconds` in all; false when the peer stopped taking them.
bool SendAll(int fd, const std::string& bytes, int seconds) {
  const auto end = Clock::now() + std::chrono::seconds(seconds);
  std::size_t sent = 0;
  while (sent < bytes.size() && Clock::now() < end) {
    pollfd p{fd, POLLOUT, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    const ssize_t n =
        send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return sent == bytes.size();
}

// Reads until the peer closes, `limit` bytes came or `seconds` passed; the byte count.
std::size_t Drain(int fd, std::size_t limit, int seconds, std::string* head = nullptr) {
  const auto end = Clock::now() + std::chrono::seconds(seconds);
  std::size_t got = 0;
  char buffer[65536];
  while (got < limit && Clock::now() < end) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    const ssize_t n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n <= 0) break;
    if (head && head->size() < 512) head->append(buffer, static_cast<std::size_t>(n));
    got += static_cast<std::size_t>(n);
  }
  return got;
}

// The status of one GET on a fresh connection within `seconds`; 0 without an answer.
int Status(int port, const std::string& request, int seconds) {
  const int fd = Connect(port);
  if (fd < 0) return 0;
  std::string head;
  if (SendAll(fd, request, seconds)) Drain(fd, 512, seconds, &head);
  close(fd);
  return head.size() >= 12 && head.compare(0, 5, "HTTP/") == 0 ? std::atoi(head.c_str() + 9) : 0;
}

std::size_t ResidentBytes(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string word;
  while (status >> word) {
    if (word == "VmRSS:") {
      std::size_t kb = 0;
      status >> kb;
      return kb * 1024;
    }
  }
  return 0;
}

// The station program: HALVIK_EXE in the environment (to measure another build) or this build's.
std::string Program() {
  const char* chosen = std::getenv("HALVIK_EXE");
  return chosen && *chosen ? chosen : HALVIK_EXE;
}

// A sample station running headless in a fresh directory, serving HTTP on a loopback port.
class Station {
 public:
  explicit Station(const std::function<void(const std::filesystem::path&)>& prepare = {}) {
    dir_ = std::filesystem::temp_directory_path() /
           ("halvik-bench-web-" + std::to_string(getpid()) + "-" + std::to_string(++count_));
    std::filesystem::remove_all(dir_);
    Run({Program(), "init-station", dir_.string()}, true);
    if (prepare) prepare(dir_);
    port_ = FreeLoopbackPort();
    pid_ = Run({Program(), "--headless", "--http", "127.0.0.1:" + std::to_string(port_)}, false);
    halvik::testing::WaitForLoopbackPort(port_, 60000);
  }
  ~Station() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    std::filesystem::remove_all(dir_);
  }
  static std::string Get(const std::string& path, const std::string& more = "") {
    return "GET " + path + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n" + more + "\r\n";
  }
  int port() const { return port_; }
  pid_t pid() const { return pid_; }
  const std::filesystem::path& dir() const { return dir_; }
  // Sends `signal` and waits up to `seconds` for the end; the wait status, or -1 still running.
  int SignalAndWait(int signal, int seconds) {
    kill(pid_, signal);
    for (int i = 0; i < seconds * 10; ++i) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return status;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return -1;
  }

 private:
  pid_t Run(const std::vector<std::string>& args, bool wait) {
    const pid_t pid = fork();
    if (pid == 0) {
      if (!wait && chdir(dir_.c_str()) != 0) _exit(127);
      const int null = open("/dev/null", O_WRONLY);
      dup2(null, 1);
      dup2(null, 2);
      std::vector<char*> argv;
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    if (wait) waitpid(pid, nullptr, 0);
    return pid;
  }
  static inline int count_ = 0;
  std::filesystem::path dir_;
  int port_ = 0;
  pid_t pid_ = -1;
};

// Four clients each send up to 25 MB of header lines and never the blank line.
void BM_HeaderFlood(benchmark::State& state) {
  for (auto _ : state) {
    Station station;
    const std::size_t before = ResidentBytes(station.pid());
    std::string line;
    for (int i = 0; i < 64 * 1024 / 16; ++i) line += "X-Flood-0000: 1\r\n";
    std::vector<int> fds;
    std::vector<std::size_t> sent(4, 0);
    for (int i = 0; i < 4; ++i) {
      fds.push_back(Connect(station.port()));
      SendAll(fds.back(), "GET /status.json HTTP/1.1\r\nHost: x\r\n", 2);
    }
    constexpr std::size_t kEach = 25u << 20;
    std::size_t peak = before;
    for (int round = 0; round < 1000; ++round) {
      bool any = false;
      for (int i = 0; i < 4; ++i) {
        if (fds[i] < 0 || sent[i] >= kEach) continue;
        if (SendAll(fds[i], line, 2)) {
          sent[i] += line.size();
          any = true;
        } else {
          close(fds[i]);
          fds[i] = -1;
        }
      }
      peak = std::max(peak, ResidentBytes(station.pid()));
      if (!any) break;
    }
    std::size_t total = 0;
    for (std::size_t s : sent) total += s;
    state.counters["sent_MB"] = static_cast<double>(total) / 1e6;
    state.counters["rss_before_MB"] = static_cast<double>(before) / 1e6;
    state.counters["rss_peak_MB"] = static_cast<double>(peak) / 1e6;
    for (int fd : fds)
      if (fd >= 0) close(fd);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    state.counters["rss_after_MB"] = static_cast<double>(ResidentBytes(station.pid())) / 1e6;
  }
}
BENCHMARK(BM_HeaderFlood)->Iterations(1)->Unit(benchmark::kSecond);

// The most of `counts` clients, each opened by `open`, beside which /status.json still answers
// within 2 s.
int MostClientsBeside(const Station& station, std::initializer_list<int> counts,
                      const std::function<int()>& open) {
  int survived = 0;
  for (int clients : counts) {
    std::vector<int> held;
    for (int i = 0; i < clients; ++i) held.push_back(open());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const int status = Status(station.port(), Station::Get("/status.json"), 2);
    for (int fd : held)
      if (fd >= 0) close(fd);
    if (status != 200) break;
    survived = clients;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }
  return survived;
}

// Clients that trickle their request and never finish it.
void BM_SlowClients(benchmark::State& state) {
  for (auto _ : state) {
    Station station;
    state.counters["slow_clients_survived"] =
        MostClientsBeside(station, {1, 2, 3, 4, 8, 16, 32, 64, 128, 256, 400}, [&] {
          const int fd = Connect(station.port());
          if (fd >= 0) send(fd, "GET /status.json HTTP/1.1\r\nHo", 29, MSG_NOSIGNAL);
          return fd;
        });
  }
}
BENCHMARK(BM_SlowClients)->Iterations(1)->Unit(benchmark::kSecond);

// Clients that ask for a 64 MB capture and do not read it.
void BM_SlowReaders(benchmark::State& state) {
  for (auto _ : state) {
    Station station([](const std::filesystem::path& dir) {
      std::ofstream(dir / "Mo01JanA.N15");
      std::filesystem::resize_file(dir / "Mo01JanA.N15", 64u << 20);
    });
    state.counters["slow_readers_survived"] = MostClientsBeside(station, {1, 2, 3, 4, 8, 16}, [&] {
      const int fd = Connect(station.port());
      const int small = 4096;
      setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
      SendAll(fd, "GET /captures/Mo01JanA.N15 HTTP/1.1\r\nHost: x\r\n\r\n", 2);
      return fd;
    });
  }
}
BENCHMARK(BM_SlowReaders)->Iterations(1)->Unit(benchmark::kSecond);

// One 100 KB capture asked for with 700 overlapping ranges.
void BM_SevenHundredRanges(benchmark::State& state) {
  for (auto _ : state) {
    Station station([](const std::filesystem::path& dir) {
      std::ofstream(dir / "Mo01JanA.N15") << std::string(100000, 'x');
    });
    std::string ranges = "Range: bytes=0-99999";
    for (int i = 1; i < 700; ++i) ranges += ",0-99999";
    const int fd = Connect(station.port());
    SendAll(fd, Station::Get("/captures/Mo01JanA.N15", ranges + "\r\n"), 2);
    std::string head;
    const std::size_t got = Drain(fd, std::size_t{1} << 30, 60, &head);
    close(fd);
    state.counters["request_bytes"] = static_cast<double>(ranges.size());
    state.counters["status"] = head.size() >= 12 ? std::atoi(head.c_str() + 9) : 0;
    state.counters["answer_bytes"] = static_cast<double>(got);
  }
}
BENCHMARK(BM_SevenHundredRanges)->Iterations(1)->Unit(benchmark::kSecond);

// A regular file and a FIFO swapped under a capture name for 3 s while eight clients ask for it
// over and over; then /status.json beside them and SIGTERM: seconds to the end (-1: still
// running after 20 s).
void BM_FifoSwappedIn(benchmark::State& state) {
  for (auto _ : state) {
    Station station([](const std::filesystem::path& dir) {
      std::ofstream(dir / "Mo01JanA.N15") << std::string(1000, 'x');
      mkfifo((dir / "fifo").c_str(), 0600);
    });
    std::atomic<bool> done{false};
    std::thread swapper([&] {
      const std::string name = (station.dir() / "Mo01JanA.N15").string();
      const std::string fifo = (station.dir() / "fifo").string();
      while (!done.load())
        renameat2(AT_FDCWD, name.c_str(), AT_FDCWD, fifo.c_str(), RENAME_EXCHANGE);
    });
    std::vector<std::thread> clients;
    std::atomic<int> answered{0};
    for (int i = 0; i < 8; ++i) {
      clients.emplace_back([&] {
        while (!done.load()) {
          if (Status(station.port(), Station::Get("/captures/Mo01JanA.N15"), 1) != 0) ++answered;
        }
      });
    }
    std::this_thread::sleep_for(std::chrono::seconds(3));
    done = true;
    swapper.join();
    for (std::thread& c : clients) c.join();
    state.counters["answers_while_swapping"] = answered.load();
    state.counters["status_after"] = Status(station.port(), Station::Get("/status.json"), 2);
    const auto start = Clock::now();
    const int status = station.SignalAndWait(SIGTERM, 20);
    state.counters["stop_seconds"] =
        status == -1 ? -1.0 : std::chrono::duration<double>(Clock::now() - start).count();
  }
}
BENCHMARK(BM_FifoSwappedIn)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
