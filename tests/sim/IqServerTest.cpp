#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cmath>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "dsp/HrptReceiver.h"
#include "dsp/PmDemodulator.h"
#include "dsp/RtlTcpProtocol.h"
#include "dsp/Samples.h"
#include "platform/Socket.h"
#include "sim/IqServer.h"
#include "sim/QpskModulator.h"

namespace halvik::sim {
namespace {

// METEOR-M2 3, CelesTrak, epoch 2026-07-30 (the sample station of today's sky).
constexpr const char* kLine1 =
    "1 57166U 23091A   26211.87182029  .00000010  00000+0  23098-4 0  9995";
constexpr const char* kLine2 =
    "2 57166  98.6056 265.9498 0004816  54.6366 305.5263 14.24050019160730";

// `count` bytes from a connected socket (fewer when it closes).
std::vector<std::uint8_t> Receive(int fd, std::size_t count) {
  std::vector<std::uint8_t> bytes(count);
  std::size_t have = 0;
  while (have < count) {
    const ssize_t n = ::recv(fd, bytes.data() + have, count - have, 0);
    if (n <= 0) break;
    have += static_cast<std::size_t>(n);
  }
  bytes.resize(have);
  return bytes;
}

// A client on the loopback, past the server's greeting; invalid when either fails.
UniqueFd ConnectAndGreet(std::uint16_t port) {
  UniqueFd client(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(client.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      Receive(client.get(), rtltcp::kHeaderBytes).size() != rtltcp::kHeaderBytes) {
    return UniqueFd();
  }
  return client;
}

TEST(IqServer, ServesAMeteorPassAsCadusOnSplitPhasePm) {
  IqServerOptions served;
  ASSERT_EQ(MakeTrueSatellite("METEOR-M2 3", kLine1, kLine2, served.satellite),
            ElementSetResult::Ok);
  const TrueStation where{69.6496, 18.956, 330.0};
  served.station = MakeStationConfig(where);
  const std::optional<double> aos =
      FirstAos(std::span(&served.satellite, 1), where, 1785445200.0, 5.0);
  ASSERT_TRUE(aos.has_value());
  served.startUtcSeconds = *aos;
  served.ebn0Db = 14.0;
  IqServer server(served);
  std::string error;
  ASSERT_TRUE(server.Listen(0, error)) << error;

  UniqueFd client = ConnectAndGreet(server.port());
  ASSERT_TRUE(client.valid());
  // Tuned onto the carrier: 1700.0 MHz and the Doppler of the rising satellite, from the
  // range's own change.
  const auto rangeKm = [&](double t) {
    return LookFrom(served.satellite, served.station, t).rangeKm;
  };
  const double dopplerHz = -(rangeKm(*aos + 0.5) - rangeKm(*aos - 0.5)) / 299792.458 * 1700e6;
  std::vector<std::uint8_t> commands;
  rtltcp::AppendCommand(rtltcp::kSetSampleRate, 3000000, commands);
  rtltcp::AppendCommand(rtltcp::kSetFrequency,
                        static_cast<std::uint32_t>(std::lround(1700e6 + dopplerHz)), commands);
  ASSERT_EQ(::send(client.get(), commands.data(), commands.size(), 0),
            static_cast<ssize_t>(commands.size()));

  // A third of a second: some 27 CADUs.
  const std::vector<std::uint8_t> bytes = Receive(client.get(), 2 * 1'000'000);
  ASSERT_EQ(bytes.size(), 2u * 1'000'000);
  std::vector<Sample> samples(bytes.size() / 2);
  ConvertSamples(SampleFormat::Cu8, bytes, samples);
  PmDemodulator demodulator(3.0e6, 665400.0);
  std::vector<float> soft;
  demodulator.Push(samples, soft);
  EXPECT_TRUE(demodulator.carrierLocked());

  // The attached sync marker in either polarity, every 8192 bits, and the counter behind it
  // counting up by one.
  std::vector<std::uint8_t> bits;
  for (float s : soft) bits.push_back(s > 0 ? 1 : 0);
  const auto wordAt = [&](std::size_t at, int count, bool inverted) {
    std::uint32_t word = 0;
    for (int k = 0; k < count; ++k) word = word << 1 | (bits[at + k] ^ (inverted ? 1 : 0));
    return word;
  };
  std::vector<std::size_t> markers;
  std::vector<std::uint32_t> counters;
  for (std::size_t at = 0; at + 72 <= bits.size(); ++at) {
    for (const bool inverted : {false, true}) {
      if (wordAt(at, 32, inverted) != 0x1ACFFC1D) continue;
      markers.push_back(at);
      counters.push_back(wordAt(at + 48, 24, inverted));
    }
  }
  ASSERT_GE(markers.size(), 20u);
  for (std::size_t k = 1; k < markers.size(); ++k) {
    EXPECT_EQ(markers[k] - markers[k - 1], 8192u) << k;
    EXPECT_EQ(counters[k], (counters[k - 1] + 1) & 0xFFFFFF) << k;
  }
}

// A line set with its checksum digit (the sum of the digits, minus signs as 1, modulo 10).
std::string WithChecksum(std::string line) {
  int sum = 0;
  for (std::size_t i = 0; i + 1 < line.size(); ++i) {
    if (line[i] >= '0' && line[i] <= '9') sum += line[i] - '0';
    if (line[i] == '-') sum += 1;
  }
  line.back() = static_cast<char>('0' + sum % 10);
  return line;
}

TEST(IqServer, ServesAMetopPassAsCodedQpskThatTheChainDecodes) {
  // Metop-B's catalogue number on the Meteor orbit above: a pass at a known hour.
  std::string line1 = kLine1;
  std::string line2 = kLine2;
  line1.replace(2, 5, "38771");
  line2.replace(2, 5, "38771");
  IqServerOptions served;
  ASSERT_EQ(
      MakeTrueSatellite("METOP-B", WithChecksum(line1), WithChecksum(line2), served.satellite),
      ElementSetResult::Ok);
  ASSERT_EQ(served.satellite.downlink.family, SatelliteFamily::Metop);
  const TrueStation where{69.6496, 18.956, 330.0};
  served.station = MakeStationConfig(where);
  const std::optional<double> aos =
      FirstAos(std::span(&served.satellite, 1), where, 1785445200.0, 5.0);
  ASSERT_TRUE(aos.has_value());
  served.startUtcSeconds = *aos;
  served.ebn0Db = 10.0;
  // Patterned CADUs in place of the satellite's, so that each one received names its number.
  served.codedCadus = [](std::int64_t n, std::span<std::uint8_t, kCaduBytes> cadu) {
    PatternedCadu(n, cadu);
  };
  IqServer server(served);
  std::string error;
  ASSERT_TRUE(server.Listen(0, error)) << error;

  UniqueFd client = ConnectAndGreet(server.port());
  ASSERT_TRUE(client.valid());
  // 3.2 Msps, 1.37 samples a symbol; tuned to the downlink, the Doppler left to the search.
  std::vector<std::uint8_t> commands;
  rtltcp::AppendCommand(rtltcp::kSetSampleRate, 3200000, commands);
  rtltcp::AppendCommand(rtltcp::kSetFrequency, 1701300000, commands);
  ASSERT_EQ(::send(client.get(), commands.data(), commands.size(), 0),
            static_cast<ssize_t>(commands.size()));

  // 60 ms: the carrier search takes 20, the hunt two CADUs (2.3 ms each).
  const std::vector<std::uint8_t> bytes = Receive(client.get(), 2 * 192'000);
  ASSERT_EQ(bytes.size(), 2u * 192'000);
  std::vector<Sample> samples(bytes.size() / 2);
  ConvertSamples(SampleFormat::Cu8, bytes, samples);
  HrptReceiver receiver(3.2e6, SatelliteFamily::Metop);
  std::vector<std::vector<std::uint8_t>> got;
  receiver.Push(samples, [&](std::span<const std::uint16_t> frame) {
    got.emplace_back(frame.begin(), frame.end());
  });
  ASSERT_GE(got.size(), 4u);
  // Consecutive patterned CADUs from the pass's first, whole.
  std::vector<std::uint8_t> cadu(kCaduBytes);
  std::int64_t first = -1;
  for (std::int64_t n = 0; n < 100000 && first < 0; ++n) {
    PatternedCadu(n, std::span<std::uint8_t, kCaduBytes>(cadu));
    if (cadu == got[1]) first = n - 1;
  }
  ASSERT_GE(first, 0);
  for (std::size_t i = 1; i < got.size(); ++i) {
    PatternedCadu(first + static_cast<std::int64_t>(i), std::span<std::uint8_t, kCaduBytes>(cadu));
    EXPECT_EQ(got[i], cadu) << i;
  }
  EXPECT_EQ(receiver.quality().uncorrectableCodewords, 0);
}

}  // namespace
}  // namespace halvik::sim
