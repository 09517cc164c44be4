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
// The files of share/station-today, which a station of today's sky takes in their place.
std::vector<EmbeddedFile> TodayStationFiles();

}  // namespace halvik
