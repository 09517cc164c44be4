// A demodulator's word stream: the input's first byte picks the frame length, the rest is the
// stream, replayed from a file by the StreamFrameSource on a manual clock until its end. Every
// frame handed over must be whole, carry only 10-bit words and begin a run the stream really
// held; the input also goes through the `--frames` parser.
#include <algorithm>

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

  const std::int32_t frameWords = (data[0] & 1) ? kFengYunFrameWords : kNoaaFrameWords;
  const std::filesystem::path file = fuzz::ScratchDir() / "stream.raw";
  fuzz::WriteBytes(file, std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));
  ManualClock clock;
  RecordingMessages messages;
  StreamFrameSource source(*ParseFrameStreamAddress(file.string()), clock, messages);
  source.Start(frameWords);
  std::size_t frames = 0;
  // Each call reads at least a pace's worth of bytes, so the file ends within this many calls.
  const std::size_t callLimit = size / 1000 + 100;
  for (std::size_t call = 0; call < callLimit && !source.ended(); ++call) {
    const auto frame = source.NextFrame();
    if (frame.empty()) continue;
    ++frames;
    fuzz::Require(frame.size() == static_cast<std::size_t>(frameWords), "a frame cut short");
    fuzz::Require(
        std::all_of(frame.begin(), frame.end(), [](std::uint16_t w) { return w < 0x400; }),
        "a word wider than ten bits");
  }
  fuzz::Require(source.ended(), "the file did not end");
  fuzz::Require(frames * 2 * static_cast<std::size_t>(frameWords) <= size - 1,
                "more frames than the stream held");
  fuzz::Require(messages.Shown().size() == 1, "the end of the file said more than once");
  return 0;
}
