#include "linuxhw/RtlTcpSource.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>

#include <cmath>
#include <optional>
#include <span>
#include <thread>
#include <vector>

#include "dsp/HrptReceiver.h"
#include "orbit/TestElements.h"
#include "platform/Clock.h"
#include "platform/Messages.h"
#include "sim/IqServer.h"

namespace halvik {
namespace {

using Bytes = std::vector<std::uint8_t>;

// One scripted connection of a loopback rtl_tcp server: the greeting, the samples, then the
// commands it waits for before it hangs up.
struct Connection {
  Bytes greeting;
  Bytes samples;
  std::size_t commandBytes = 0;
  Bytes received;  // filled in by the server
};

// Serves each connection in turn on its own thread; every wait is bounded so a fault in the
// client fails the test instead of hanging it.
class LoopbackRtlTcp {
 public:
  explicit LoopbackRtlTcp(std::vector<Connection> script) : script_(std::move(script)) {
    std::string error;
    listener_ = ListenLoopback(port_, error);
    thread_ = std::thread([this] { Serve(); });
  }
  ~LoopbackRtlTcp() {
    if (thread_.joinable()) thread_.join();
  }
  HostPort address() const { return {"127.0.0.1", std::to_string(port_)}; }
  // After the client is done: joins the server and hands over what it saw.
  std::vector<Connection> Finish() {
    if (thread_.joinable()) thread_.join();
    return script_;
  }

 private:
  void Serve() {
    for (Connection& c : script_) {
      pollfd p{listener_.get(), POLLIN, 0};
      if (::poll(&p, 1, 5000) <= 0) return;
      const UniqueFd fd(::accept(listener_.get(), nullptr, nullptr));
      ::send(fd.get(), c.greeting.data(), c.greeting.size(), MSG_NOSIGNAL);
      ::send(fd.get(), c.samples.data(), c.samples.size(), MSG_NOSIGNAL);
      std::uint8_t buffer[64];
      while (c.received.size() < c.commandBytes) {
        pollfd q{fd.get(), POLLIN, 0};
        if (::poll(&q, 1, 5000) <= 0) break;
        const ssize_t n = ::recv(fd.get(), buffer, sizeof buffer, 0);
        if (n <= 0) break;
        c.received.insert(c.received.end(), buffer, buffer + n);
      }
    }
  }

  std::vector<Connection> script_;
  std::uint16_t port_ = 0;
  UniqueFd listener_;
  std::thread thread_;
};

const Bytes kGreeting = {'R', 'T', 'L', '0', 0, 0, 0, 5, 0, 0, 0, 29};  // R820T, 29 gains

// Reads until `samples` have come or `reads` are spent.
std::vector<Sample> ReadSamples(RtlTcpSource& source, std::size_t samples, int reads = 100) {
  std::vector<Sample> all;
  std::vector<Sample> block(256);
  for (int i = 0; i < reads && all.size() < samples; ++i) {
    std::size_t count = 0;
    if (source.Read(block, count) == SampleRead::Data) {
      all.insert(all.end(), block.begin(), block.begin() + static_cast<long>(count));
    }
  }
  return all;
}

TEST(RtlTcpSourceTest, SpeaksTheProtocolAndCountsAReconnectAsAGap) {
  Bytes first(1001);  // the last sample is cut in half by the server going away
  for (std::size_t i = 0; i < first.size(); ++i) first[i] = static_cast<std::uint8_t>(i);
  const Bytes settings = {
      0x02, 0x00, 0x0F, 0x42, 0x40,  // sample rate 1,000,000
      0x01, 0x65, 0x35, 0x6C, 0x80,  // frequency 1,698,000,000
      0x08, 0x00, 0x00, 0x00, 0x00,  // the chip's AGC off
      0x03, 0x00, 0x00, 0x00, 0x01,  // manual gain
      0x04, 0x00, 0x00, 0x00, 0xC5,  // 19.7 dB in tenths
  };
  LoopbackRtlTcp server({{kGreeting, first, settings.size(), {}},
                         {kGreeting, Bytes(200, 128), settings.size() + 5, {}}});
  ManualClock clock;
  RecordingMessages messages;
  RtlTcpSource source({server.address(), 1e6, 1698e6, 19.7}, clock, messages);

  const std::vector<Sample> got = ReadSamples(source, 500);
  ASSERT_EQ(got.size(), 500u);
  EXPECT_EQ(source.tunerType(), 5u);
  EXPECT_FLOAT_EQ(got[0].real(), -1.0f);    // byte 0
  EXPECT_FLOAT_EQ(got[127].imag(), 1.0f);   // byte 255
  EXPECT_FLOAT_EQ(got[128].real(), -1.0f);  // byte 256 wraps to 0
  EXPECT_EQ(source.dropped(), 0);

  // The server goes: said once, and the retry waits for the back-off.
  std::size_t count = 0;
  std::vector<Sample> block(256);
  for (int i = 0; i < 50 && source.connected(); ++i) source.Read(block, count);
  ASSERT_FALSE(source.connected());
  EXPECT_EQ(messages.Shown(),
            std::vector<std::string>{"SDR rtl_tcp " + server.address().host + ":" +
                                     server.address().port +
                                     " lost (the server closed the connection): retrying every "
                                     "30 s at most"});
  clock.Advance(1500);
  EXPECT_TRUE(source.Tune(1700e6));  // kept for the next connection... and sent on it below
  const std::vector<Sample> again = ReadSamples(source, 100);
  ASSERT_EQ(again.size(), 100u);
  EXPECT_FLOAT_EQ(again[0].real(), 0.5f / 127.5f);
  // 1.5 s away at 1 Msps, and the half sample.
  EXPECT_EQ(source.dropped(), 1500001);
  EXPECT_TRUE(source.Tune(1698e6));

  const std::vector<Connection> seen = server.Finish();
  EXPECT_EQ(seen[0].received, settings);
  Bytes retuned = settings;
  std::copy_n(Bytes{0x01, 0x65, 0x53, 0xF1, 0x00}.begin(), 5, retuned.begin() + 5);
  retuned.insert(retuned.end(), {0x01, 0x65, 0x35, 0x6C, 0x80});
  EXPECT_EQ(seen[1].received, retuned);
  EXPECT_EQ(messages.Shown().size(), 1u);
}

TEST(RtlTcpSourceTest, ServerThatIsNotRtlTcpIsRefused) {
  LoopbackRtlTcp server(
      {{Bytes{'H', 'T', 'T', 'P', '/', '1', '.', '1', ' ', '2', '0', '0'}, {}, 0, {}}});
  ManualClock clock;
  RecordingMessages messages;
  RtlTcpSource source({server.address(), 2.4e6, std::nullopt, std::nullopt}, clock, messages);
  std::vector<Sample> block(16);
  std::size_t count = 0;
  EXPECT_EQ(source.Read(block, count), SampleRead::NoData);
  EXPECT_FALSE(source.connected());
  EXPECT_NE(source.error().find("not available (no rtl_tcp greeting)"), std::string::npos)
      << source.error();
  server.Finish();
}

TEST(RtlTcpSourceTest, TheIqServersPassDemodulatesWhereTuned) {
  // NOAA 15 rising over the station: the carrier some 40 kHz high, Eb/N0 that of 5 degrees.
  sim::IqServerOptions served;
  ASSERT_EQ(sim::MakeTrueSatellite("NOAA 15", kNoaa15Line1, kNoaa15Line2, served.satellite),
            ElementSetResult::Ok);
  const sim::TrueStation where{56.0, 10.0, 150.0};
  served.station = sim::MakeStationConfig(where);
  const std::optional<double> aos =
      sim::FirstAos(std::span(&served.satellite, 1), where, 1198627200.0, 5.0);
  ASSERT_TRUE(aos.has_value());
  served.startUtcSeconds = *aos;
  served.sampleRate = 1.0e6;  // the client's rate must win
  // The Doppler of the frames to come from the range's own change, a reference apart from the
  // server's range rate.
  const double downlinkHz = served.satellite.downlink.frequencyMHz * 1e6;
  const auto rangeKm = [&](double t) {
    return sim::LookFrom(served.satellite, served.station, t).rangeKm;
  };
  const double rangeRate = rangeKm(*aos + 0.5) - rangeKm(*aos - 0.5);
  const double dopplerHz = -rangeRate / 299792.458 * downlinkHz;
  EXPECT_GT(dopplerHz, 20e3);
  sim::IqServer server(served);
  std::string error;
  ASSERT_TRUE(server.Listen(0, error)) << error;

  // Tuned onto the carrier, then 4 kHz above it: the receiver finds it 4 kHz low.
  for (const double mistuneHz : {0.0, 4000.0}) {
    SCOPED_TRACE(mistuneHz);
    ManualClock clock;
    RecordingMessages messages;
    const double tunedHz = std::round(downlinkHz + dopplerHz + mistuneHz);
    RtlTcpSource source({{"127.0.0.1", std::to_string(server.port())}, 3.0e6, tunedHz, {}}, clock,
                        messages);
    HrptReceiver receiver(3.0e6, SatelliteFamily::Noaa);
    std::int64_t framesSeen = 0;
    std::vector<Sample> block(1 << 16);
    for (std::size_t total = 0, reads = 0; total < 1'500'000 && reads < 10'000; ++reads) {
      std::size_t count = 0;
      if (source.Read(block, count) != SampleRead::Data) continue;
      receiver.Push(std::span(block).first(count), [&](auto) { ++framesSeen; });
      total += count;
    }
    EXPECT_EQ(server.tunedHz(), tunedHz);
    EXPECT_EQ(server.sampleRate(), 3.0e6);
    const ReceiveQuality quality = receiver.quality();
    EXPECT_TRUE(quality.carrierLocked);
    EXPECT_TRUE(quality.frameSync);
    EXPECT_GE(quality.framesWithSync, 1);
    EXPECT_GE(framesSeen, 1);
    EXPECT_NEAR(quality.carrierOffsetHz, -mistuneHz, 300.0);
    EXPECT_EQ(source.dropped(), 0);
  }
  EXPECT_EQ(server.connections(), 2);
}

}  // namespace
}  // namespace halvik
