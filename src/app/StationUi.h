#pragma once

#include "app/Station.h"
#include "config/StationFiles.h"
#include "ui/StationCommands.h"
#include "ui/StatusView.h"

namespace halvik {

// The status view's receiver readout, served by the station's receiver.
class StationReceiverReadout final : public ReceiverReadout {
 public:
  explicit StationReceiverReadout(Tuner& receiver) : receiver_(receiver) {}
  float ReceiverReadStatus() override { return receiver_.ReceiverReadStatus(); }
  int ReceiverLocked() override { return receiver_.ReceiverLocked(); }
  double ReceiverFrequency() override { return receiver_.ReceiverFrequency(); }
  std::optional<std::int64_t> ReceiverDroppedSamples() override {
    return receiver_.ReceiverDroppedSamples();
  }

 private:
  Tuner& receiver_;
};

// The menu's commands carried out on the station's records and files.
class StationMenuCommands final : public StationCommands {
 public:
  explicit StationMenuCommands(Station& station) : station_(station) {}
  void AddSatellite(const std::string& name) override;
  void DeleteSatellite(const std::string& name) override;
  LocationFields CurrentLocation() override;
  void UpdateLocation(double latitudeDeg, double longitudeDeg, double heightFeet) override;
  double MinimumElevationDegrees() override;
  void UpdateMinimumElevation(double degrees) override;
  AboutValues About() override;

 private:
  Station& station_;
  LocationValues shownLocation_{};  // what the Location dialog was opened with
};

// The view's sources on a station.
StatusSources StatusSourcesOf(Station& station, ReceiverReadout& receiver);

}  // namespace halvik
