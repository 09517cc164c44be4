#pragma once

#include <string>
#include <vector>

namespace halvik {

// A file the program carries with it (the sample station's files).
struct EmbeddedFile {
  std::string name;
  std::string content;
  bool executable = false;
};

// The files of share/station, as they were when the program was built.
std::vector<EmbeddedFile> SampleStationFiles();

}  // namespace halvik
