#include "sim/IqServer.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <vector>

#include "devices/Downlink.h"
#include "dsp/RtlTcpProtocol.h"
#include "dsp/Samples.h"
#include "orbit/Sgp4.h"
#include "orbit/StationGeometry.h"
#include "platform/Units.h"
#include "sim/CaduStream.h"
#include "sim/EarthScene.h"
#include "sim/HrptFrame.h"
#include "sim/MeteorFrame.h"
#include "sim/PmModulator.h"
#include "sim/QpskModulator.h"

namespace halvik::sim {
namespace {

using Steady = std::chrono::steady_clock;

// How often the serving thread looks at its stop flag while it waits for a client or for room.
constexpr int kStopCheckMs = 50;
// How long a new client is given to send its settings before the samples start.
constexpr int kSettingsWaitMs = 500;
// The synthetic scene runs through the pass in twelve minutes.
constexpr double kPassSeconds = 12 * 60;
// The greeting of a dongle with the common tuner: R820T, 29 gain steps.
constexpr rtltcp::Header kGreeting{5, 29};
constexpr double kEbN0AtHorizonDb = 8.0;
constexpr double kEbN0RiseDb = 8.0;

// The satellite as the station sees it at `utcSeconds`.
struct LinkState {
  double elevationDeg = 0;
  double dopplerHz = 0;
};

LinkState LinkAt(const IqServerOptions& options, double utcSeconds) {
  ElementSet elements = options.satellite.elements;
  const double tsince = Tsince(utcSeconds, elements.epochMinutes);
  StateVector state;
  Propagate(tsince, elements, state);
  const LookAngles look =
      ComputeLookAngles(tsince, elements.epoch1950Minutes, state.position, options.station);
  const double rate = RangeRateKmPerS(tsince, elements.epoch1950Minutes, state.position,
                                      state.velocity, options.station);
  return {look.elevation * kDisplayDegreesPerRadian,
          DopplerShiftHz(rate, options.satellite.downlink.frequencyMHz * kHzPerMhz)};
}

}  // namespace

double PassEbN0Db(double elevationDeg) {
  return kEbN0AtHorizonDb + kEbN0RiseDb * std::sin(Radians(std::clamp(elevationDeg, 0.0, 90.0)));
}

IqServer::IqServer(IqServerOptions options) : options_(std::move(options)) {
  tunedHz_ = options_.satellite.downlink.frequencyMHz * kHzPerMhz;
  sampleRate_ = options_.sampleRate;
}

IqServer::~IqServer() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

bool IqServer::Listen(std::uint16_t port, std::string& error) {
  listener_ = ListenLoopback(port, error);
  if (!listener_.valid()) return false;
  port_ = port;
  began_ = Steady::now();
  thread_ = std::thread([this] { Serve(); });
  return true;
}

bool IqServer::ReadCommands(int fd, std::vector<std::uint8_t>& pending) {
  std::array<std::uint8_t, 256> buffer;
  for (;;) {
    const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
    if (n == 0) return false;
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN) break;
      return false;
    }
    pending.insert(pending.end(), buffer.begin(), buffer.begin() + n);
  }
  std::size_t at = 0;
  for (; pending.size() - at >= rtltcp::kCommandBytes; at += rtltcp::kCommandBytes) {
    const rtltcp::Command command =
        rtltcp::ParseCommand(std::span(pending).subspan(at).first<rtltcp::kCommandBytes>());
    // Gain and AGC commands change nothing a simulated signal shows.
    if (command.code == rtltcp::kSetFrequency) tunedHz_ = command.value;
    if (command.code == rtltcp::kSetSampleRate && command.value > 0) sampleRate_ = command.value;
  }
  pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(at));
  return true;
}

void IqServer::ServeClient(int fd) {
  std::vector<std::uint8_t> bytes;
  rtltcp::AppendHeader(kGreeting, bytes);
  if (!SendAll(fd, bytes, stop_, kStopCheckMs)) return;
  // A client answers the greeting with its settings at once: waited for, so that its first
  // samples are already at its rate and frequency.
  pollfd settings{fd, POLLIN, 0};
  ::poll(&settings, 1, kSettingsWaitMs);

  const SatelliteFamily family = options_.satellite.downlink.family;
  // Frames of the family's kind: HRPT minor frames, or CADUs carried one byte a word; frame n
  // goes down n frame periods after the pass's start.
  const FrameShape shape = ShapeOf(family);
  const double framesPerSecond = 1.0 / shape.frameSeconds();
  const auto passFrames = static_cast<std::int64_t>(std::llround(kPassSeconds * framesPerSecond));
  const bool qpsk = FactsOf(family).modulation == Modulation::Qpsk;
  std::unique_ptr<CaduStream> cadus;
  std::int64_t firstCadu = 0;
  if (FactsOf(family).frameKind == FrameKind::Cadu) {
    cadus = MakeCaduStream(options_.satellite.name);
    firstCadu = CaduNumberAt(family, options_.startUtcSeconds * 1000.0);
  }
  // The frames' scan lines show the Earth under the satellite at their own times.
  EarthScene earth(options_.satellite.elements, family, MakeLandIndex());
  if (cadus) cadus->SetEarth(&earth);
  std::vector<std::uint16_t> frame(static_cast<std::size_t>(shape.words));
  const double downlinkHz = options_.satellite.downlink.frequencyMHz * kHzPerMhz;
  const auto startMs = static_cast<std::int64_t>(std::llround(options_.startUtcSeconds * 1000.0));
  std::unique_ptr<PmModulator> modulator;
  std::unique_ptr<QpskModulator> qpskModulator;
  std::array<std::uint8_t, kCaduBytes> coded{};
  double modulatedRate = 0;
  std::vector<std::uint8_t> pending;
  std::vector<std::uint8_t> bits;
  std::vector<Sample> samples;
  while (!stop_) {
    if (options_.speed > 0) {
      // The frame of the pass at the simulated instant: waited for when the client is ahead,
      // skipped to when it is behind (a slow reader loses samples, as on a real pass).
      const double passSeconds =
          options_.clockStartUtcSeconds - options_.startUtcSeconds +
          std::chrono::duration<double>(Steady::now() - began_).count() * options_.speed;
      const auto due = static_cast<std::int64_t>(std::floor(passSeconds * framesPerSecond));
      if (due > next_) next_ = due;
      SleepUntil(
          began_ + std::chrono::duration_cast<Steady::duration>(std::chrono::duration<double>(
                       (options_.startUtcSeconds - options_.clockStartUtcSeconds +
                        static_cast<double>(next_) / framesPerSecond) /
                       options_.speed)),
          stop_, kStopCheckMs);
    }
    if (!ReadCommands(fd, pending)) return;
    if ((!modulator && !qpskModulator) || modulatedRate != sampleRate_.load()) {
      // A new rate is a new signal: its phase and timing start afresh, as a retuned dongle's do.
      modulatedRate = sampleRate_.load();
      if (qpsk) {
        QpskSignal signal;
        signal.sampleRate = modulatedRate;
        signal.symbolRate = FactsOf(family).symbolRate;
        signal.seed = static_cast<std::uint64_t>(next_) + 1;
        qpskModulator = std::make_unique<QpskModulator>(signal);
      } else {
        PmSignal signal;
        signal.sampleRate = modulatedRate;
        signal.bitRate = FamilyBitRate(family);
        signal.seed = static_cast<std::uint64_t>(next_) + 1;
        modulator = std::make_unique<PmModulator>(signal);
      }
    }
    // The link as it is half-way through the frame.
    const double mid =
        options_.startUtcSeconds + (static_cast<double>(next_) + 0.5) / framesPerSecond;
    const LinkState link = LinkAt(options_, mid);
    const double offsetHz = downlinkHz + link.dopplerHz - tunedHz_.load();
    const double ebn0Db = options_.ebn0Db.value_or(PassEbN0Db(link.elevationDeg));
    samples.clear();
    // How far through the pass the frame is, for the scene.
    const double along = static_cast<double>(next_ % passFrames) / static_cast<double>(passFrames);
    if (qpsk) {
      if (options_.codedCadus) {
        options_.codedCadus(firstCadu + next_, coded);
      } else if (cadus) {
        cadus->CaduWords(firstCadu + next_, along, frame);
        std::copy(frame.begin(), frame.end(), coded.begin());
      } else {
        PatternedCadu(firstCadu + next_, coded);
      }
      qpskModulator->SetCarrierOffset(offsetHz);
      qpskModulator->SetEbN0(ebn0Db);
      qpskModulator->Modulate(coded, samples);
      ToFormat(SampleFormat::Cu8, samples, bytes);
      if (!SendAll(fd, bytes, stop_, kStopCheckMs)) return;
      ++next_;
      ++framesSent_;
      continue;
    }
    modulator->SetCarrierOffset(offsetHz);
    modulator->SetEbN0(ebn0Db);
    bits.clear();
    if (cadus) {
      cadus->CaduWords(firstCadu + next_, along, frame);
    } else {
      frame = StreamFrame(options_.satellite.name, startMs, passFrames, next_, &earth);
    }
    AppendWordBits(frame, shape.bitsPerWord, bits);
    modulator->Modulate(bits, samples);
    ToFormat(SampleFormat::Cu8, samples, bytes);
    if (!SendAll(fd, bytes, stop_, kStopCheckMs)) return;
    ++next_;
    ++framesSent_;
  }
}

void IqServer::Serve() {
  while (!stop_) {
    pollfd p{listener_.get(), POLLIN, 0};
    if (::poll(&p, 1, kStopCheckMs) <= 0) continue;
    UniqueFd client(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (!client.valid()) continue;
    ++connections_;
    ServeClient(client.get());
  }
}

}  // namespace halvik::sim
