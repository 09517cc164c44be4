#include "web/Metrics.h"

#include "platform/Text.h"
#include "web/ProcessStats.h"
#include "web/ReceiverLevel.h"

namespace halvik::web {
namespace {

class Exposition {
 public:
  void Family(const char* name, const char* type, const char* help) {
    text_ += Format("# HELP %s %s\n# TYPE %s %s\n", name, help, name, type);
  }
  void Sample(const char* name, double value, const char* labels = "") {
    text_ += Format("%s%s %.17g\n", name, labels, value);
  }
  void One(const char* name, const char* type, const char* help, double value) {
    Family(name, type, help);
    Sample(name, value);
  }
  std::string Take() { return std::move(text_); }

 private:
  std::string text_;
};

// A label value as the exposition format escapes it: backslash, double quote and line feed.
std::string LabelValue(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c == '\n' ? std::string("\\n") : std::string(1, c);
  }
  return out;
}

}  // namespace

std::string MetricsText(Station& station, const LevelRecordingReadout* polled,
                        const std::optional<PlannedPasses>& planned) {
  const StationEnvironment& env = station.environment();
  const CaptureStatus& capture = station.captureStatus;
  const AntennaState& antenna = station.antennaState;
  const GpsState& gps = station.gpsState;
  Exposition out;

  out.One("halvik_passes_followed_total", "counter",
          "Passes handed to the capture engine since start-up.",
          static_cast<double>(station.tracking.PassesFollowed.load()));
  if (planned) {
    out.Family("halvik_passes_planned", "gauge",
               "Passes of the next 24 hours by the priority rule's decision.");
    out.Sample("halvik_passes_planned", planned->follow, "{decision=\"follow\"}");
    out.Sample("halvik_passes_planned", planned->skip, "{decision=\"skip\"}");
  }
  out.One("halvik_captures_finished_total", "counter", "Captures closed down since start-up.",
          static_cast<double>(capture.CapturesFinished.load()));
  out.One("halvik_frames_written_total", "counter", "Frames written to capture files.",
          static_cast<double>(capture.FramesWritten.load()));
  out.One("halvik_frames_with_sync_total", "counter",
          "Frames written that carried the frame sync words.",
          static_cast<double>(capture.FramesWithSync.load()));
  out.One("halvik_frames_overrun_total", "counter",
          "Frames lost because the frame ring filled up before they were taken.",
          static_cast<double>(capture.FramesOverrun.load()));
  out.One("halvik_capture_bit_errors", "gauge",
          "Bit errors counted against the pseudo-noise words in the current or last capture.",
          capture.BitErrorCount.load());
  out.One("halvik_capture_bits_compared", "gauge",
          "Bits compared with the pseudo-noise words in the current or last capture.",
          capture.BitsCompared.load());
  out.One("halvik_capture_state", "gauge",
          "Capture state: 0 waiting for satellite, 1 setting up, 2 waiting for data, 3 receiving, "
          "4 resync, 5 closing down.",
          CaptureStateCode(capture.CaptureState.load()));
  out.One("halvik_receiver_locked", "gauge", "1 while the receiver reported lock at its last poll.",
          station.receiver.ReceiverLocked() != 0 ? 1 : 0);
  out.One("halvik_receiver_frequency_hertz", "gauge", "Frequency the receiver was last tuned to.",
          station.receiver.ReceiverFrequency() * 1e6);
  if (const std::optional<std::int64_t> dropped = station.receiver.ReceiverDroppedSamples()) {
    out.One("halvik_receiver_dropped_samples_total", "counter",
            "Samples the SDR lost since start-up: device overflows, link gaps, demodulator behind.",
            static_cast<double>(*dropped));
  }
  if (const std::optional<CodingTally> coding = station.receiver.ReceiverCoding()) {
    out.One("halvik_receiver_rs_corrected_bytes_total", "counter",
            "Bytes the Reed-Solomon decoder corrected since start-up (coded downlinks).",
            static_cast<double>(coding->correctedBytes));
    out.One("halvik_receiver_rs_uncorrectable_codewords_total", "counter",
            "Reed-Solomon codewords beyond correction since start-up (coded downlinks).",
            static_cast<double>(coding->uncorrectableCodewords));
  }
  if (polled) {
    out.One("halvik_receiver_signal_volts", "gauge", "Signal level at the last receiver poll.",
            polled->LastLevel());
  }
  if (const std::optional<double> free = env.systemInfo.FreeBytes(env.dir)) {
    out.One("halvik_disk_free_bytes", "gauge", "Free space of the station directory's file system.",
            *free);
  }
  out.One("halvik_clock_correction_seconds", "gauge", "GPS time minus computer time.",
          station.tracking.ClockCorrection.load());
  out.One("halvik_gps_time_refused", "gauge",
          "1 while the last GPS time was refused (before the build and more than a day off); the "
          "clock correction keeps its last good value.",
          station.tracking.GpsTimeRefused.load() != 0 ? 1 : 0);
  out.One("halvik_antenna_powered", "gauge", "1 while the positioner reports power.",
          AntennaPowered(antenna.AntennaPower.load()) ? 1 : 0);
  out.One("halvik_antenna_azimuth_degrees", "gauge", "Antenna azimuth read back.",
          antenna.AntennaAzimuth.load());
  out.One("halvik_antenna_elevation_degrees", "gauge", "Antenna elevation read back.",
          antenna.AntennaElevation.load());
  out.One("halvik_gps_present", "gauge", "1 when a GPS receiver answered at start-up.",
          gps.GpsPresent.load() != 0 ? 1 : 0);
  out.One("halvik_gps_healthy", "gauge", "1 while the GPS receiver reports doing fixes.",
          gps.GpsPresent.load() != 0 && gps.GpsHealth.load() == HealthByte(GpsHealthCode::Fixing)
              ? 1
              : 0);
  out.One("halvik_gps_health_code", "gauge", "GPS receiver health code (255: no reply yet).",
          gps.GpsHealth.load());
  out.Family("halvik_element_age_seconds", "gauge",
             "Age of each listed satellite's element set on the station clock.");
  const double now = static_cast<double>(
      CorrectedSeconds(env.clock.Now().seconds, station.tracking.ClockCorrection));
  for (const SatelliteRecord& slot : station.table) {
    if (!slot.IsActive()) continue;
    const std::string labels = "{satellite=\"" + LabelValue(slot.name.Get()) + "\"}";
    out.Sample("halvik_element_age_seconds",
               ElementAgeDays(now, slot.epochMinutes) * kSecondsPerDay, labels.c_str());
  }
  out.One("halvik_nothing_predictable", "gauge",
          "1 while satellites are listed and no element set of theirs predicts anything.",
          station.tracking.NothingPredictable.load() != 0 ? 1 : 0);
  out.One("halvik_process_cpu_seconds_total", "counter", "CPU time used by the station process.",
          ProcessCpuSeconds());
  if (const std::optional<std::uint64_t> resident = ProcessResidentBytes()) {
    out.One("halvik_process_resident_memory_bytes", "gauge",
            "Resident memory of the station process.", static_cast<double>(*resident));
  }
  return out.Take();
}

}  // namespace halvik::web
