// A demodulator's word stream: the input's first byte picks the frame length, the rest is the
// stream, replayed from a file by the StreamFrameSource on a manual clock until its end. Every
// frame handed over must be whole and carry only 10-bit words, and no more words may come out
// than went in; the input also goes through the `--frames` parser.
#include <algorithm>
#include <array>

#include "FuzzSupport.h"
#include "capture/BitFrame.h"
#include "linuxhw/StreamFrameSource.h"
#include "platform/Clock.h"
#include "platform/Messages.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace halvik;
  if (size == 0) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data), std::min<std::size_t>(size, 80));
  if (const auto parsed = ParseFrameStreamAddress(text); parsed && parsed->tcp) {
    fuzz::Require(!parsed->tcp->host.empty() && !parsed->tcp->port.empty(),
                  "a tcp source without its host or port");
  }

  const SatelliteFamily family = (data[0] & 1) ? SatelliteFamily::FengYun : SatelliteFamily::Noaa;
  const auto frameWords = static_cast<std::size_t>(FamilyFrameLength(family));
  const std::filesystem::path file = fuzz::ScratchDir() / "stream.raw";
  fuzz::WriteBytes(file, std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));
  ManualClock clock;
  RecordingMessages messages;
  StreamFrameSource source(*ParseFrameStreamAddress(file.string()), clock, messages);
  source.Open();
  source.Start(family);
  // Blocks as the capture thread takes them: whole frames, piece by piece.
  std::size_t words = 0;
  // Each call reads at least a pace's worth of bytes, so the file ends within this many calls.
  const std::size_t callLimit = size / 1000 + 100;
  for (std::size_t call = 0; call < callLimit && !source.ended(); ++call) {
    std::array<std::uint16_t, kSyncBlockWords> block{};
    std::size_t n = 0;
    const FrameRead read = source.Read(block, n);
    fuzz::Require(read != FrameRead::Failed, "a file failed for good");
    fuzz::Require(read == FrameRead::Data ? n > 0 && n <= block.size() : n == 0,
                  "a block's length disagrees with its result");
    fuzz::Require(std::all_of(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(n),
                              [](std::uint16_t w) { return w < 0x400; }),
                  "a word wider than ten bits");
    words += n;
  }
  fuzz::Require(source.ended(), "the file did not end");
  fuzz::Require(words % frameWords == 0, "a frame cut short");
  fuzz::Require(words * 2 <= size - 1, "more words than the stream held");
  fuzz::Require(messages.Shown().size() == 1, "the end of the file said more than once");
  return 0;
}
