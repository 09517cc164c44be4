#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "dsp/SampleSource.h"
#include "dsp/Samples.h"
#include "platform/Clock.h"

namespace halvik {

// Sample rates a recording may claim, Hz: below, no downlink of the family table fits (and a
// rate of 0 or a typo in kHz lands here); above, no SDR a station uses delivers it.
inline constexpr double kMinRecordingRate = 100e3;
inline constexpr double kMaxRecordingRate = 100e6;

// What a recording is: a SigMF pair (`NAME.sigmf-meta` + `NAME.sigmf-data`, either path given)
// or a raw IQ file, whose format and rate only the caller knows.
struct RecordingRequest {
  std::filesystem::path path;
  std::optional<SampleFormat> format{};  // raw files: required; SigMF: overrides the metadata
  std::optional<double> sampleRate{};    // Hz; the same
  // A FIFO or character device gives samples without end: fine for a live replay, never for
  // offline work, which needs an end.
  bool endlessAllowed = false;
};

// What the metadata and the data file say.
struct RecordingInfo {
  SampleFormat format = SampleFormat::Cf32;
  double sampleRate = 0;              // Hz
  std::optional<double> frequencyHz;  // the first capture's centre, when given
  std::filesystem::path dataPath;
  std::optional<std::int64_t> samples;  // whole samples; nothing for an endless stream
  std::size_t trailingBytes = 0;        // a partial sample at the end, dropped
  bool sigmf = false;
};

// Replays a recording as a sample source: as fast as it is read (offline work), or paced at its
// sample rate on the station clock from the first read (the live station's `file:` source).
// Its end is End; it cannot be tuned.
class RecordingSource final : public SampleSource {
 public:
  // The recording, or nothing and one line in `error` that names the file and what is wrong.
  static std::unique_ptr<RecordingSource> Open(const RecordingRequest& request, std::string& error);
  ~RecordingSource() override;

  // From the next read on, no sample is handed over before its time on `clock`.
  void PaceOn(Clock& clock) { pace_ = &clock; }
  const RecordingInfo& info() const { return info_; }
  // Samples handed over so far.
  std::int64_t position() const { return position_; }

  double sampleRate() const override { return info_.sampleRate; }
  SampleRead Read(std::span<Sample> out, std::size_t& count) override;
  bool Tune(double) override { return false; }
  bool SetGain(std::optional<double>) override { return false; }
  std::string error() const override { return error_; }

 private:
  RecordingSource(RecordingInfo info, int fd) : info_(std::move(info)), fd_(fd) {}
  std::size_t PacedLimit(std::size_t wanted);

  RecordingInfo info_;
  int fd_;
  Clock* pace_ = nullptr;
  std::optional<std::int64_t> paceStartMs_;
  std::int64_t position_ = 0;
  std::vector<std::uint8_t> bytes_;
  std::size_t carried_ = 0;  // bytes of a partial sample from the last read of a stream
  std::string error_;
};

// What a SigMF recording's metadata says about it.
struct SigmfDescription {
  SampleFormat format = SampleFormat::Cs16;
  double sampleRate = 0;              // Hz
  std::optional<double> frequencyHz;  // the SDR's centre at the first sample
  SystemTime firstSample;             // UTC
  std::string hardware;               // the device, e.g. "rtl_tcp 127.0.0.1:1234"
  std::string description;            // e.g. the satellite and pass
};

// Writes a SigMF recording: the data under a temporary name while it grows, renamed with the
// metadata beside it only when Finish succeeds, so a recording cut short by a crash or a full
// disk never passes for a whole one.
class SigmfWriter {
 public:
  SigmfWriter() = default;
  ~SigmfWriter();
  SigmfWriter(const SigmfWriter&) = delete;
  SigmfWriter& operator=(const SigmfWriter&) = delete;

  // `base` without extension: NAME.sigmf-data and NAME.sigmf-meta are made.
  bool Open(const std::filesystem::path& base, const SigmfDescription& description,
            std::string& error);
  // Samples converted to the recording's format (integers saturate at full scale).
  bool Write(std::span<const Sample> samples);
  // Bytes already in the recording's format (rtl_tcp's cu8), whole samples only.
  bool WriteBytes(std::span<const std::uint8_t> bytes);
  bool Finish(std::string& error);
  // Throws away what was written.
  void Abandon();

  bool open() const { return fd_ >= 0; }
  std::int64_t samples() const { return samples_; }

 private:
  std::filesystem::path base_;
  std::filesystem::path temporary_;
  SigmfDescription description_;
  int fd_ = -1;
  std::int64_t samples_ = 0;
  std::string writeError_;
  std::vector<std::uint8_t> buffer_;
};

// The metadata text of a recording of `samples` samples.
std::string SigmfMetadata(const SigmfDescription& description, std::int64_t samples);

}  // namespace halvik
