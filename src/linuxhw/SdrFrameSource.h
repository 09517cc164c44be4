#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "capture/CaptureFile.h"
#include "devices/FrameSource.h"
#include "dsp/HrptReceiver.h"
#include "dsp/Recording.h"
#include "dsp/SampleSource.h"
#include "linuxhw/FrameSyncTally.h"
#include "linuxhw/Reconnect.h"

namespace halvik {

class Clock;
class Messages;

// Samples in, whole frames out: the receive chain as the SDR frame source drives it. One thread
// at a time.
class FrameDemodulator {
 public:
  using FrameSink = HrptReceiver::FrameSink;
  virtual ~FrameDemodulator() = default;
  virtual void Reset(SatelliteFamily family) = 0;
  virtual void SetFrequencyCorrection(double hz) = 0;
  virtual void Push(std::span<const Sample> samples, const FrameSink& sink) = 0;
  virtual ReceiveQuality quality() const = 0;
};

// Makes the demodulator for a sample rate and a family; the station's is MakeHrptDemodulator.
using DemodulatorFactory =
    std::function<std::unique_ptr<FrameDemodulator>(double sampleRate, SatelliteFamily family)>;
std::unique_ptr<FrameDemodulator> MakeHrptDemodulator(double sampleRate, SatelliteFamily family);

// Opens the sample source afresh (at start, and after each loss); nothing, with `error` set,
// while the device is away.
using SampleSourceOpener = std::function<std::unique_ptr<SampleSource>(std::string& error)>;

// Samples per block read from the device (about 22 ms at 3 Msps).
inline constexpr std::size_t kSdrBlockSamples = 65536;
// Blocks waiting for the demodulator at most (about 0.7 s at 3 Msps): beyond that the reading
// thread drops and counts what it reads rather than wait.
inline constexpr std::size_t kSdrQueueBlocks = 32;
// Whole frames waiting for the capture thread at most (two and a half seconds of frames).
inline constexpr std::size_t kSdrFrameSlots = 16;
// The longest the capture thread idles in Read when no frame is ready.
inline constexpr int kSdrIdleWaitMs = 10;

// The station's own demodulator as its frame source: an SDR (or a recording, or an rtl_tcp
// server) read on one thread, demodulated on another, whole frames handed to the capture thread
// through a bounded queue it never waits on. A device that is absent when the source opens, or
// is lost while it runs, is said so once and opened again at the pace of Reconnect; the
// demodulator then acquires afresh, so no frame mixes two connections. When the demodulator
// falls behind, the reading thread drops whole blocks and counts their samples, as it counts
// what the device itself lost: nothing is stitched. A recording's end is the end of the data
// and is said once. Capture thread only, except the setters and the figures, which any thread
// may use.
class SdrFrameSource final : public FrameSource {
 public:
  // `name` is how the messages call the device ("rtltcp:localhost:1234").
  SdrFrameSource(std::string name, SampleSourceOpener open, DemodulatorFactory demodulator,
                 Clock& clock, Messages& messages);
  ~SdrFrameSource() override;
  SdrFrameSource(const SdrFrameSource&) = delete;
  SdrFrameSource& operator=(const SdrFrameSource&) = delete;

  // Starts the reading and demodulating threads; true whatever the device did, since an absent
  // device is retried.
  bool Open() override;
  // Stops and joins both threads and closes the device.
  bool Close() override;
  bool IsOpen() const override { return open_; }
  void Configure() override {}
  void Stop() override;
  // Frames of the family from the next whole one on; frames still queued are dropped.
  void Start(SatelliteFamily family) override;
  // A piece of the frame being handed over, or of the next queued frame; NoData at once (after
  // an idle wait of kSdrIdleWaitMs) when none is queued.
  FrameRead Read(std::span<std::uint16_t, kSyncBlockWords> block, std::size_t& words) override;
  FrameSync Sync() const override { return sync_.Sync(); }
  std::optional<CodingTally> CodingWork() const override;

  // Any thread. The device's centre frequency, applied by the reading thread before its next
  // read (and on every reopening); the pass's predicted Doppler, mixed out by the demodulator.
  void SetCentre(double hz);
  void SetDopplerCorrection(double hz) { doppler_.store(hz, std::memory_order_relaxed); }
  void SetGain(std::optional<double> db);
  // Before Open: keeps the baseband of every capture (Start to Stop) as a SigMF recording
  // `kIqRecordingPrefix` + UTC time in `dir`, beside the captures.
  void RecordPassesIn(std::filesystem::path dir) { recordDir_ = std::move(dir); }

  // Any thread: the figures of the chain.
  double centreHz() const { return centre_.load(std::memory_order_relaxed); }
  double dopplerHz() const { return doppler_.load(std::memory_order_relaxed); }
  // Samples lost: by the device or its link, and dropped here for want of demodulator time.
  std::int64_t droppedSamples() const;
  // Whole frames the capture thread was too slow to take.
  std::int64_t droppedFrames() const { return framesDropped_.load(std::memory_order_relaxed); }
  double ebn0Db() const { return ebn0Db_.load(std::memory_order_relaxed); }
  bool carrierLocked() const { return carrierLocked_.load(std::memory_order_relaxed); }
  // Outages said so far (each once); a recording read to its end.
  int outages() const { return outages_.load(std::memory_order_relaxed); }
  bool ended() const { return ended_.load(std::memory_order_relaxed); }

 private:
  struct Block {
    std::vector<Sample> samples;
    std::size_t count = 0;
    double rate = 0.0;
    bool fresh = false;  // first block of a new connection
  };
  struct FrameSlot {
    std::vector<std::uint16_t> words;
    std::int32_t length = 0;
  };

  void ReadLoop();
  void DemodulateLoop();
  // Reading thread: opens the device when a retry is due; false while it is away.
  bool Connect();
  void Outage(const std::string& reason);
  Block* TakeFree();
  void Queue(Block* block);
  void Release(Block* block);
  // Demodulating thread: one frame out of the chain.
  void Deliver(std::span<const std::uint16_t> frame);
  // Reading thread: opens, feeds and finishes the pass's recording as the capture starts and
  // stops.
  void Record(std::span<const Sample> samples);
  void FinishRecording();

  std::string name_;
  SampleSourceOpener openSource_;
  DemodulatorFactory makeDemodulator_;
  Clock& clock_;
  Messages& messages_;
  bool open_ = false;

  // Reading thread only.
  std::unique_ptr<SampleSource> source_;
  Reconnect reconnect_;
  bool everRead_ = false;
  bool inOutage_ = false;
  bool nextFresh_ = true;
  std::uint32_t tunedGeneration_ = 0;
  std::uint32_t gainGeneration_ = 0;
  std::vector<Sample> scratch_;  // what is read while every block waits
  std::optional<std::filesystem::path> recordDir_;
  SigmfWriter recording_;
  bool recordingFailed_ = false;  // for this pass: said once, tried again at the next

  // Between the two threads of the source (neither is the capture nor the tracking thread).
  std::vector<Block> blocks_;
  std::mutex queueLock_;
  std::condition_variable queued_;
  std::vector<Block*> free_;
  std::vector<Block*> full_;  // oldest first

  // Demodulating thread only.
  std::unique_ptr<FrameDemodulator> demodulator_;
  double demodulatorRate_ = 0.0;
  SatelliteFamily demodulatorFamily_ = SatelliteFamily::Noaa;
  std::optional<double> appliedDoppler_;  // nothing: not yet given to this acquisition
  CodingTally demodulatorCoding_;         // the current acquisition's, already counted

  // Frames from the demodulating thread to the capture thread: one writer, one reader.
  std::array<FrameSlot, kSdrFrameSlots> frames_;
  std::atomic<std::uint64_t> frameHead_{0};  // written by the demodulating thread
  std::atomic<std::uint64_t> frameTail_{0};  // written by the capture thread
  // Capture thread: the frame being handed over.
  std::vector<std::uint16_t> frame_;
  std::size_t frameLeft_ = 0;
  std::int32_t frameWords_ = kNoaaFrameWords;

  std::atomic<bool> stop_{false};
  std::atomic<bool> started_{false};
  std::atomic<SatelliteFamily> family_{SatelliteFamily::Noaa};
  std::atomic<double> centre_{0.0};
  std::atomic<std::uint32_t> centreGeneration_{0};
  std::atomic<double> gainDb_{0.0};
  std::atomic<bool> gainAuto_{true};
  std::atomic<std::uint32_t> gainGenerationWanted_{0};
  std::atomic<double> doppler_{0.0};
  std::atomic<std::int64_t> samplesDropped_{0};  // here, and by closed sources
  std::atomic<std::int64_t> sourceDropped_{0};   // by the current source
  std::atomic<std::int64_t> framesDropped_{0};
  std::atomic<double> ebn0Db_{0.0};
  std::atomic<bool> carrierLocked_{false};
  std::atomic<std::int64_t> rsCorrectedBytes_{0};
  std::atomic<std::int64_t> rsUncorrectable_{0};
  std::atomic<int> outages_{0};
  std::atomic<bool> ended_{false};
  FrameSyncTally sync_;

  std::thread reader_;
  std::thread demodulating_;
};

}  // namespace halvik
