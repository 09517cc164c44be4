// The Hamlib rotator and rig through libhamlib: its dummy devices in-process (model 1), and
// rotctld/rigctld started on loopback ports and reached with the network model 2.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "linuxhw/HamlibRig.h"
#include "linuxhw/HamlibRotator.h"
#include "platform/Clock.h"
#include "platform/Messages.h"
#include "support/Daemon.h"

namespace halvik {
namespace {

constexpr int kDummyModel = 1;
constexpr int kNetworkModel = 2;
// The rig reports its frequency in Hz: a hertz is this much of a MHz.
constexpr double kOneHzInMhz = 1e-6;

// A frame source that only reports a sync, as a stream in lock would.
class SyncOnly final : public FrameSource {
 public:
  bool Open() override { return true; }
  bool Close() override { return true; }
  bool IsOpen() const override { return true; }
  void Configure() override {}
  void Stop() override {}
  void Start(SatelliteFamily) override {}
  FrameRead Read(std::span<std::uint16_t, kSyncBlockWords>, std::size_t& words) override {
    words = 0;
    return FrameRead::NoData;
  }
  FrameSync Sync() const override { return sync; }
  FrameSync sync;
};

TEST(Hamlib, SignalLevelScales) {
  // --- STRENGTH: one volt per 10 dB above S0 (-54 dB), within the view's 0..10 V
  EXPECT_FLOAT_EQ(StrengthToVolts(-54), 0.0f);
  EXPECT_FLOAT_EQ(StrengthToVolts(-80), 0.0f);
  EXPECT_FLOAT_EQ(StrengthToVolts(0), 5.4f);
  EXPECT_FLOAT_EQ(StrengthToVolts(46), kSignalLevelFullScale);
  EXPECT_FLOAT_EQ(StrengthToVolts(60), kSignalLevelFullScale);
  // --- sync quality: the share of frames in sync on the same scale
  EXPECT_FLOAT_EQ(SyncQualityToVolts(0.5), 0.5f * kSignalLevelFullScale);
  EXPECT_FLOAT_EQ(SyncQualityToVolts(-1.0), 0.0f);
  EXPECT_FLOAT_EQ(SyncQualityToVolts(2.0), kSignalLevelFullScale);
}

TEST(Hamlib, DummyRotatorInProcess) {
  ManualClock clock;
  RecordingMessages messages;
  HamlibRotator rotator(kDummyModel, "", clock, messages);
  ASSERT_TRUE(rotator.Open());
  // --- the dummy's travel: a no-flip rotator with an overlap
  const PositionerRange range = rotator.Range();
  EXPECT_DOUBLE_EQ(range.azimuth.minimum, -180.0);
  EXPECT_DOUBLE_EQ(range.azimuth.maximum, 450.0);
  EXPECT_DOUBLE_EQ(range.elevation.minimum, 0.0);
  EXPECT_DOUBLE_EQ(range.elevation.maximum, 90.0);
  // --- a move and a stop: the read-back answers with power and stays put once stopped
  rotator.Point(100.0, 45.0, PointMove::Track);
  rotator.Stop();
  const PositionReading first = rotator.ReadPosition();
  const PositionReading second = rotator.ReadPosition();
  EXPECT_EQ(first.power, kPositionerPowered);
  EXPECT_DOUBLE_EQ(first.azimuth, second.azimuth);
  EXPECT_GE(first.azimuth, 0.0);
  EXPECT_LE(first.azimuth, 100.0);
  EXPECT_TRUE(messages.Shown().empty());
}

TEST(Hamlib, RotctldAwayAtStartThenThereThenGone) {
  ASSERT_TRUE(testing::Installed("rotctld"));
  const int port = testing::FreeLoopbackPort();
  ASSERT_GT(port, 0);
  const std::string address = "127.0.0.1:" + std::to_string(port);
  ManualClock clock;
  RecordingMessages messages;
  HamlibRotator rotator(kNetworkModel, address, clock, messages);

  // --- nobody listens: one message, no power, moves dropped; no new attempt before the pause
  EXPECT_FALSE(rotator.Open());
  ASSERT_EQ(messages.Shown().size(), 1u);
  EXPECT_NE(messages.Shown()[0].find(address), std::string::npos) << messages.Shown()[0];
  EXPECT_EQ(rotator.ReadPosition().power, kPositionerNoAnswer);
  rotator.Point(10.0, 10.0, PointMove::Track);
  EXPECT_FALSE(rotator.IsOpen());

  // --- rotctld comes up: after the pause the rotator is opened and tells the dummy's travel
  testing::Daemon rotctld({"rotctld", "-m", "1", "-T", "127.0.0.1", "-t", std::to_string(port)});
  ASSERT_TRUE(testing::WaitForLoopbackPort(port));
  clock.Advance(Reconnect::kFirstPauseMs);
  rotator.Point(200.0, 30.0, PointMove::Track);
  ASSERT_TRUE(rotator.IsOpen());
  EXPECT_DOUBLE_EQ(rotator.Range().azimuth.maximum, 450.0);
  EXPECT_DOUBLE_EQ(rotator.Range().elevation.maximum, 90.0);
  EXPECT_EQ(rotator.ReadPosition().power, kPositionerPowered);

  // --- rotctld goes: the read-back finds it gone, one message for this outage; the attempts
  // to reopen it add none
  rotctld.Stop();
  EXPECT_EQ(rotator.ReadPosition().power, kPositionerNoAnswer);
  EXPECT_FALSE(rotator.IsOpen());
  ASSERT_EQ(messages.Shown().size(), 2u);
  EXPECT_NE(messages.Shown()[1].find("stopped answering"), std::string::npos);
  for (int attempt = 0; attempt < 3; ++attempt) {
    clock.Advance(Reconnect::kLongestPauseMs);
    EXPECT_EQ(rotator.ReadPosition().power, kPositionerNoAnswer);
  }
  EXPECT_EQ(messages.Shown().size(), 2u);
}

TEST(Hamlib, DummyRigTunesAndReportsThroughRigctld) {
  ASSERT_TRUE(testing::Installed("rigctld"));
  const int port = testing::FreeLoopbackPort();
  ASSERT_GT(port, 0);
  testing::Daemon rigctld({"rigctld", "-m", "1", "-T", "127.0.0.1", "-t", std::to_string(port)});
  ASSERT_TRUE(testing::WaitForLoopbackPort(port));
  ManualClock clock;
  RecordingMessages messages;
  SyncOnly frames;
  HamlibRig rig(kNetworkModel, "127.0.0.1:" + std::to_string(port), frames, clock, messages);
  ASSERT_TRUE(rig.Open());

  // --- a downlink: 1702 is the 1702.5 MHz downlink, read back from the rig itself by its
  // owner (the tracking thread's refresh); the status only reads what that published
  rig.ReceiverTune(1702);
  rig.ReceiverRefresh();
  frames.sync = {true, 1.0};
  const float level = rig.ReceiverReadStatus();
  EXPECT_NEAR(rig.ReceiverFrequency(), 1702.5, kOneHzInMhz);
  EXPECT_EQ(rig.ReceiverLocked(), 1);
  EXPECT_GE(level, 0.0f);
  EXPECT_LE(level, kSignalLevelFullScale);
  // --- the idle frequency; a frequency that is no downlink tunes nothing
  rig.ReceiverTune(ReceiverIdleFrequency);
  rig.ReceiverTune(1693);
  rig.ReceiverRefresh();
  frames.sync = {};
  rig.ReceiverReadStatus();
  EXPECT_NEAR(rig.ReceiverFrequency(), 1691.0, kOneHzInMhz);
  EXPECT_EQ(rig.ReceiverLocked(), 0);
  EXPECT_TRUE(messages.Shown().empty());

  // --- rigctld stops (SIGSTOP): the owner's refresh gives up after its reply wait with one
  // message; the status, which never talks to the rig, shows no signal. Tuning meanwhile is
  // planned, and reaches the rig once rigctld goes on and the pause has passed.
  ASSERT_TRUE(rigctld.Pause());
  rig.ReceiverRefresh();
  ASSERT_EQ(messages.Shown().size(), 1u);
  EXPECT_NE(messages.Shown()[0].find("stopped answering"), std::string::npos);
  EXPECT_EQ(rig.ReceiverReadStatus(), 0.0f);
  rig.ReceiverTune(1698);
  ASSERT_TRUE(rigctld.Resume());
  clock.Advance(Reconnect::kFirstPauseMs);
  rig.ReceiverRefresh();
  EXPECT_NEAR(rig.ReceiverFrequency(), 1698.0, kOneHzInMhz);
  EXPECT_EQ(messages.Shown().size(), 1u);
}

TEST(Hamlib, DaemonThatNeverAnswersHoldsTheOwnerBriefly) {
  // Hamlib's own waits: 2 s for a silent rotctld, 20 s for a silent rigctld. The station's are
  // kHamlibConnectWaitMs to connect and kHamlibReplyWaitMs a reply; anything near Hamlib's is a
  // wait left unbounded.
  constexpr auto kFarBelowHamlibs = std::chrono::seconds(5);
  for (const auto kind : {testing::SilentListener::Accepting, testing::SilentListener::Full}) {
    testing::SilentListener silent(kind);
    ASSERT_GT(silent.port(), 0);
    ManualClock clock;
    RecordingMessages messages;
    SyncOnly frames;
    HamlibRotator rotator(kNetworkModel, silent.address(), clock, messages);
    HamlibRig rig(kNetworkModel, silent.address(), frames, clock, messages);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(rotator.Open());
    const auto rotatorDone = std::chrono::steady_clock::now();
    EXPECT_FALSE(rig.Open());
    const auto rigDone = std::chrono::steady_clock::now();
    EXPECT_LT(rotatorDone - start, kFarBelowHamlibs) << kind;
    EXPECT_LT(rigDone - rotatorDone, kFarBelowHamlibs) << kind;
    ASSERT_EQ(messages.Shown().size(), 2u) << kind;
    for (const std::string& shown : messages.Shown()) {
      EXPECT_NE(shown.find("cannot be opened"), std::string::npos) << shown;
      EXPECT_NE(shown.find(silent.address()), std::string::npos) << shown;
    }
  }
}

TEST(Hamlib, NoRigShowsThePlanAndTheStream) {
  ManualClock clock;
  RecordingMessages messages;
  SyncOnly frames;
  HamlibRig rig(0, "", frames, clock, messages);
  ASSERT_TRUE(rig.Open());
  rig.ReceiverInit();
  EXPECT_NEAR(rig.ReceiverFrequency(), 1691.0, kOneHzInMhz);
  rig.ReceiverTune(1700);
  frames.sync = {true, 0.25};
  EXPECT_FLOAT_EQ(rig.ReceiverReadStatus(), SyncQualityToVolts(0.25));
  EXPECT_NEAR(rig.ReceiverFrequency(), 1700.5, kOneHzInMhz);
  EXPECT_EQ(rig.ReceiverLocked(), 1);
  EXPECT_TRUE(messages.Shown().empty());
}

}  // namespace
}  // namespace halvik
