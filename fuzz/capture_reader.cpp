// The capture-file reader (`halvik inspect`): the input as a capture file, read with each
// block length and with the one told by the name.
#include <sstream>

#include "FuzzSupport.h"
#include "capture/CaptureFileReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace halvik;
  const std::filesystem::path file = fuzz::ScratchDir() / "capture.tmp";
  fuzz::WriteBytes(file, std::string_view(reinterpret_cast<const char*>(data), size));
  const CaptureReadResult result = ReadCaptureFile(file);
  fuzz::Require(result.opened, "a regular capture file did not open");
  fuzz::Require(result.ok || !result.error.empty(), "a fault without its reason");
  fuzz::Require(result.contents.bytes == size, "the file's size was misread");
  std::ostringstream out;
  std::ostringstream err;
  const int status = InspectCaptureFile(file, out, err);
  fuzz::Require((status == 0) == result.ok, "inspect's status disagrees with the reader");
  return 0;
}
