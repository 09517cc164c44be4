#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "devices/PortIo.h"
#include "devices/Tracker.h"
#include "platform/Clock.h"
#include "platform/Messages.h"
#include "sim/SimGpsReceiver.h"
#include "sim/SimTrackerBoard.h"
#include "support/InstantTracker.h"
#include "support/PassLink.h"
#include "support/ScriptedRegisters.h"

namespace halvik {

// A GPS receiver that answers at once and leaves settings unconfirmed, so only the replies a
// test asks for reach the relay.
inline sim::SimGpsOptions QuietGpsOptions() {
  sim::SimGpsOptions options;
  options.fullWeekNumber = true;
  options.acknowledgeSettings = false;
  options.answerDelayMs = 0;
  return options;
}

// The simulated tracker board with the simulated GPS receiver behind its relay, reached through
// scripted registers that pass every access on to the board and log it. The board's tap keeps
// every byte it took; the receiver's every packet id it got.
struct TrackerBoardBench {
  explicit TrackerBoardBench(
      sim::SimTrackerOptions trackerOptions = testing::InstantTrackerOptions(),
      sim::SimGpsOptions receiverOptions = QuietGpsOptions(), SystemTime start = {})
      : clock(start), boardOptions(trackerOptions), gpsOptions(receiverOptions) {
    boards.Publish("board", board);
    EXPECT_TRUE(boardHandle.Open("board"));
    ScriptedRegisters& registers = *device.registers;
    for (std::uint32_t reg : {kTrackerData, kTrackerStatus, kTrackerReply, kTrackerSpare}) {
      registers.AllowRead(reg);
      registers.OnRead(reg, [this, reg] { return ReadPortByte(boardHandle, reg); });
    }
    registers.AllowWrite(kTrackerData);
    registers.OnWrite(kTrackerData, [this](std::uint8_t byte) {
      WritePortByte(boardHandle, kTrackerData, byte);
    });
    board->SetTap([this](TrackerCommand command, std::uint8_t parameter) {
      received.push_back(CommandByte(command));
      switch (command) {
        case TrackerCommand::GpsPutByte:
          toGps.push_back(parameter);
          [[fallthrough]];
        case TrackerCommand::SetAzimuth:
        case TrackerCommand::SetElevation:
          received.push_back(parameter);
          return;
        default:
          return;
      }
    });
    gpsReceiver->SetTap([this](std::uint8_t id) { packetsToGps.push_back(id); });
  }

  void ChangeBoard(const std::function<void(sim::SimTrackerOptions&)>& change) {
    change(boardOptions);
    board->SetOptions(boardOptions);
  }
  void ChangeGps(const std::function<void(sim::SimGpsOptions&)>& change) {
    change(gpsOptions);
    gpsReceiver->SetOptions(gpsOptions);
  }
  // Lets a millisecond pass, so the relay's line carries what it holds in both directions.
  void Settle() {
    clock.Advance(1);
    board->counters();
  }

  ManualClock clock;
  sim::SimTrackerOptions boardOptions;
  sim::SimGpsOptions gpsOptions;
  testing::PassLink sky{clock, {}};
  std::shared_ptr<sim::SimGpsReceiver> gpsReceiver =
      std::make_shared<sim::SimGpsReceiver>(clock, gpsOptions);
  std::shared_ptr<sim::SimTrackerBoard> board =
      std::make_shared<sim::SimTrackerBoard>(clock, sky, boardOptions, gpsReceiver);
  DeviceNamespace boards;
  DeviceHandle boardHandle{boards};
  ScriptedDevice device{"\\\\.\\hrptTrkr"};
  CountingBeeper beeper;
  Tracker tracker{device.handle, clock, beeper};

  // Every byte the board took, commands and parameters, in order.
  std::vector<std::uint8_t> received;
  // The bytes put to the GPS receiver, as they went over its serial line (stuffed).
  std::vector<std::uint8_t> toGps;
  // Ids of the whole packets the GPS receiver got.
  std::vector<std::uint8_t> packetsToGps;
};

}  // namespace halvik
