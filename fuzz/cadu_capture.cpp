// A CADU capture as `halvik inspect` and the Meteor reader meet it: the input is the pass
// record's text (or, after an "L", its log), a NUL, then the CADU bytes. Inspect lists it or
// refuses it in one line, and the MSU-MR reader takes every whole CADU without tripping.
#include <sstream>
#include <string>

#include "FuzzSupport.h"
#include "capture/CaduCapture.h"
#include "capture/MsuMr.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace halvik;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string_view> parts = fuzz::Split(input, '\0', 2);
  const std::filesystem::path dir = fuzz::ScratchDir();
  const bool log = !parts[0].empty() && parts[0].front() == 'L';
  fuzz::WriteBytes(dir / (log ? "We02JanA.mtr.pass.json.part" : "We02JanA.mtr.pass.json"),
                   parts[0].substr(log ? 1 : 0));
  fuzz::WriteBytes(dir / (log ? "We02JanA.mtr.cadu.part" : "We02JanA.mtr.cadu"), parts[1]);
  std::ostringstream out, err;
  const int status =
      InspectCaduFile(dir / (log ? "We02JanA.mtr.cadu.part" : "We02JanA.mtr.cadu"), out, err);
  fuzz::Require(status == 0 || status == 2, "an exit status other than 0 or 2");
  fuzz::Require(out.str().rfind("header ", 0) == 0,
                "a listing that does not begin with the header");
  fuzz::Require((status == 0) == err.str().empty(), "a refusal without its reason");
  MsuMrReader reader;
  for (std::size_t at = 0; at + kCaduBytes <= parts[1].size(); at += kCaduBytes) {
    const auto* cadu = reinterpret_cast<const std::uint8_t*>(parts[1].data() + at);
    reader.Push(std::span<const std::uint8_t, kCaduBytes>(cadu, kCaduBytes));
  }
  fuzz::Require(reader.counts().lines + reader.counts().linesCut <= reader.counts().cadus,
                "more lines than CADUs could hold");
  // Removed, so the next run's log does not meet this run's record (the directory stays).
  for (const char* name : {"We02JanA.mtr.pass.json.part", "We02JanA.mtr.pass.json",
                           "We02JanA.mtr.cadu.part", "We02JanA.mtr.cadu"}) {
    std::error_code ignored;
    std::filesystem::remove(dir / name, ignored);
  }
  return 0;
}
