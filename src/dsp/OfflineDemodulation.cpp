#include "dsp/OfflineDemodulation.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "dsp/HrptReceiver.h"

namespace halvik {

namespace {
// Samples per read: a few tens of milliseconds at the usual rates.
constexpr std::size_t kBlockSamples = 1 << 16;
}  // namespace

bool DemodulateRecording(RecordingSource& source, SatelliteFamily family,
                         const std::filesystem::path& out, DemodulationSummary& summary,
                         std::string& error, const std::function<void(double)>& progress) {
  summary = {};
  summary.frameKind = FactsOf(family).frameKind;
  const bool cadus = summary.frameKind == FrameKind::Cadu;
  HrptReceiver receiver(source.sampleRate(), family);
  PartFile file;
  std::vector<std::uint8_t> bytes;
  double ebn0Sum = 0;
  bool failed = false;
  const HrptReceiver::FrameSink sink = [&](std::span<const std::uint16_t> frame) {
    if (failed) return;
    // The file is made with the first frame: noise leaves nothing behind.
    if (!file.open() && !file.Open(out, error)) {
      failed = true;
      return;
    }
    if (cadus) {
      // A byte a word. The marker is written clean: a flywheel CADU sits where its marker
      // should, and the tools that read CADU files find each CADU by its marker.
      bytes.assign(frame.begin(), frame.end());
      std::copy(kCaduMarker.begin(), kCaduMarker.end(), bytes.begin());
    } else {
      bytes.resize(frame.size() * 2);
      for (std::size_t i = 0; i < frame.size(); ++i) {
        bytes[2 * i] = static_cast<std::uint8_t>(frame[i]);
        bytes[2 * i + 1] = static_cast<std::uint8_t>(frame[i] >> 8);
      }
    }
    const ReceiveQuality quality = receiver.quality();
    if (summary.frames == 0) summary.carrierOffsetHz = quality.carrierOffsetHz;
    summary.codingPhase = quality.codingPhase;
    ebn0Sum += quality.ebn0Db;
    ++summary.frames;
    if (!file.Write(bytes)) {
      file.Commit(error);  // the write error, and the part removed
      failed = true;
    }
  };

  std::vector<Sample> block(kBlockSamples);
  const double total = source.info().samples ? static_cast<double>(*source.info().samples) : 0;
  for (;;) {
    std::size_t count = 0;
    const SampleRead read = source.Read(block, count);
    if (read == SampleRead::End) break;
    if (read == SampleRead::Failed) {
      error = source.error();
      return false;
    }
    receiver.Push(std::span(block).first(count), sink);
    summary.samples += static_cast<std::int64_t>(count);
    if (failed) return false;
    if (progress && total > 0) progress(static_cast<double>(summary.samples) / total);
  }
  const ReceiveQuality last = receiver.quality();
  summary.framesWithSync = last.framesWithSync;
  summary.correctedBytes = last.correctedBytes;
  summary.uncorrectableCodewords = last.uncorrectableCodewords;
  if (summary.frames > 0) summary.meanEbn0Db = ebn0Sum / static_cast<double>(summary.frames);
  if (!file.open()) return true;
  if (!file.Commit(error)) return false;
  summary.written = true;
  return true;
}

std::string SummaryLine(const DemodulationSummary& summary, const std::filesystem::path& out) {
  const char* frames = summary.frameKind == FrameKind::Cadu ? "CADUs" : "frames";
  if (summary.frames == 0) {
    return std::string("0 ") + frames + " in " + std::to_string(summary.samples) +
           " samples: no signal found, nothing written";
  }
  char text[200];
  std::snprintf(text, sizeof text,
                "%lld %s, %lld with sync, mean Eb/N0 %.1f dB, carrier found %+.0f Hz from the "
                "centre",
                static_cast<long long>(summary.frames), frames,
                static_cast<long long>(summary.framesWithSync), summary.meanEbn0Db,
                summary.carrierOffsetHz);
  std::string line(text);
  if (!summary.codingPhase.empty()) {
    line += ", Reed-Solomon corrected " + std::to_string(summary.correctedBytes) + " bytes, " +
            std::to_string(summary.uncorrectableCodewords) + " codewords beyond correction, " +
            "locked at " + summary.codingPhase;
  }
  return line + (summary.written ? ", written to " + out.string() : std::string());
}

}  // namespace halvik
