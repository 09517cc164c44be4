// A SigMF recording as `halvik demod` and the live `file:` source meet it: the input is the
// metadata text, a NUL, then the data bytes. Whatever the metadata claims, the recording opens
// with one line of reason or reads to its end with exactly the samples it announced.
#include <array>
#include <string>

#include "FuzzSupport.h"
#include "dsp/Recording.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace halvik;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string_view> parts = fuzz::Split(input, '\0', 2);
  const std::filesystem::path base = fuzz::ScratchDir() / "pass";
  fuzz::WriteBytes(base.string() + ".sigmf-meta", parts[0]);
  fuzz::WriteBytes(base.string() + ".sigmf-data", parts[1]);
  std::string error;
  const std::unique_ptr<RecordingSource> source =
      RecordingSource::Open({base.string() + ".sigmf-meta"}, error);
  if (!source) {
    fuzz::Require(!error.empty() && error.find('\n') == std::string::npos,
                  "a refused recording without one line of reason");
    return 0;
  }
  fuzz::Require(
      source->sampleRate() >= kMinRecordingRate && source->sampleRate() <= kMaxRecordingRate,
      "a rate out of bounds was taken");
  std::array<Sample, 4096> samples{};
  std::int64_t total = 0;
  for (;;) {
    std::size_t count = 0;
    const SampleRead read = source->Read(samples, count);
    total += static_cast<std::int64_t>(count);
    if (read != SampleRead::Data) {
      fuzz::Require(read == SampleRead::End, "a regular file that did not end");
      break;
    }
  }
  fuzz::Require(!source->info().samples || *source->info().samples == total,
                "samples read differ from samples announced");
  return 0;
}
