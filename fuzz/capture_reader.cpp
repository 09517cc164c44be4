// The capture-file reader (`halvik inspect`): the input as a capture file, read with each
// block length (the name is a temporary file's, which does not tell it), then listed as
// `inspect` lists it. Reading the file a second time through InspectCaptureFile would only
// repeat the same parse at twice the cost per run.
#include <string>
#include <vector>

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
  // `inspect` shows what came before a fault too.
  if (result.ok || result.errorOffset > 0) {
    const std::vector<std::string> lines = InspectionLines(result.contents, result.ok);
    fuzz::Require(!lines.empty() && (lines.front().rfind("header found \"", 0) == 0 ||
                                     lines.front() == "header not-found"),
                  "a listing that does not begin with the header");
  }
  return 0;
}
