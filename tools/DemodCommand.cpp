#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <iostream>
#include <memory>

#include "devices/Downlink.h"
#include "dsp/OfflineDemodulation.h"
#include "dsp/Recording.h"
#include "tools/Commands.h"

namespace halvik::tools {

namespace {

// Where the frames go when --out is not given: beside the recording, its stem + ".raw16", or
// + ".cadu" for a CADU family.
std::filesystem::path DefaultOutput(const std::filesystem::path& recording,
                                    SatelliteFamily family) {
  std::filesystem::path out = recording;
  out.replace_extension(FactsOf(family).frameKind == FrameKind::Cadu ? ".cadu" : ".raw16");
  return out;
}

// Percent done on the terminal, redrawn in place; nothing when standard error is a file.
class Progress {
 public:
  Progress() : shown_(isatty(STDERR_FILENO) != 0) {}
  ~Progress() {
    if (shown_ && lastPercent_ >= 0) std::cerr << "\r     \r" << std::flush;
  }
  void operator()(double fraction) {
    const int percent = static_cast<int>(fraction * 100);
    if (!shown_ || percent == lastPercent_) return;
    lastPercent_ = percent;
    std::cerr << '\r' << percent << " %" << std::flush;
  }

 private:
  bool shown_;
  int lastPercent_ = -1;
};

}  // namespace

void AddDemodCommand(CLI::App& app, int& exitCode) {
  struct Settings {
    std::string recording;
    std::string family = "noaa";
    std::string format;
    std::optional<double> rate;
    std::string out;
  };
  auto settings = std::make_shared<Settings>();
  CLI::App* command = app.add_subcommand(
      "demod",
      "Demodulate an IQ recording (SigMF, or raw with --format and --rate) into the HRPT word "
      "stream a demodulator gives the station (--frames), or the CADUs of a CADU family");
  command
      ->add_option("RECORDING", settings->recording,
                   "NAME.sigmf-meta or NAME.sigmf-data, or a raw IQ file")
      ->required();
  command->add_option("--family", settings->family, "Downlink family")
      ->check(CLI::IsMember({"noaa", "seastar", "fengyun", "meteor", "metop"}))
      ->capture_default_str();
  command
      ->add_option("--format", settings->format,
                   "Sample format of a raw recording (overrides the SigMF datatype)")
      ->check(CLI::IsMember({"cf32", "cs16", "cs8", "cu8"}));
  command->add_option("--rate", settings->rate,
                      "Sample rate in Hz of a raw recording (overrides the SigMF rate)");
  command->add_option(
      "--out", settings->out,
      "Frames to write (default: the recording's stem + .raw16, or .cadu for meteor and metop)");
  command->callback([settings, &exitCode] {
    RecordingRequest request{.path = settings->recording};
    if (!settings->format.empty()) request.format = ParseSampleFormat(settings->format);
    request.sampleRate = settings->rate;
    std::string error;
    const std::unique_ptr<RecordingSource> source = RecordingSource::Open(request, error);
    if (!source) {
      std::cerr << "halvik demod: " << error << "\n";
      exitCode = 2;
      return;
    }
    SatelliteFamily family = SatelliteFamily::Noaa;
    for (const FamilyFacts& facts : kFamilies) {
      if (settings->family == facts.name) family = facts.family;
    }
    const std::filesystem::path out = settings->out.empty() ? DefaultOutput(request.path, family)
                                                            : std::filesystem::path(settings->out);
    std::error_code same;
    if (std::filesystem::equivalent(out, source->info().dataPath, same)) {
      std::cerr << "halvik demod: " << out.string() << " is the recording itself\n";
      exitCode = 2;
      return;
    }
    if (source->info().trailingBytes > 0) {
      std::cerr << "halvik demod: " << source->info().dataPath.string()
                << ": a partial sample at the end (" << source->info().trailingBytes << " of "
                << BytesPerSample(source->info().format) << " bytes) dropped\n";
    }
    DemodulationSummary summary;
    bool done = false;
    {
      Progress progress;
      done = DemodulateRecording(*source, family, out, summary, error, std::ref(progress));
    }
    if (!done) {
      std::cerr << "halvik demod: " << error << "\n";
      exitCode = 2;
      return;
    }
    std::cout << SummaryLine(summary, out) << std::endl;
    exitCode = 0;
  });
}

}  // namespace halvik::tools
