#include "app/SampleStation.h"

#include <algorithm>
#include <system_error>

#include "app/EmbeddedFile.h"
#include "config/StationFileNames.h"
#include "platform/Files.h"
#include "sim/PseudoNoise.h"

namespace halvik {
namespace {

// Stands for the absolute path of `halvik` in the sample post-processing programs.
constexpr std::string_view kHalvikPlaceholder = "@HALVIK@";

std::vector<EmbeddedFile> AllFiles(SampleSky sky) {
  std::vector<EmbeddedFile> files = SampleStationFiles();
  files.push_back({kPseudoNoiseFile, sim::PseudoNoiseFileBytes(), false});
  if (sky == SampleSky::Today) {
    // Today's files take the place of the historical ones of the same name; the map, the
    // pseudo-noise table and the other programs stay.
    for (EmbeddedFile& today : TodayStationFiles()) {
      auto same = std::find_if(files.begin(), files.end(),
                               [&](const EmbeddedFile& file) { return file.name == today.name; });
      if (same != files.end())
        *same = std::move(today);
      else
        files.push_back(std::move(today));
    }
  }
  return files;
}

}  // namespace

std::vector<std::string> SampleStationFileNames(SampleSky sky) {
  std::vector<std::string> names;
  for (const EmbeddedFile& file : AllFiles(sky)) names.push_back(file.name);
  return names;
}

std::string InitStation(const std::filesystem::path& dir,
                        const std::filesystem::path& halvikProgram, SampleSky sky) {
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  if (error) return "cannot create " + dir.string() + ": " + error.message();

  std::vector<EmbeddedFile> files = AllFiles(sky);
  // The post-processing programs call back the program that laid the station out, by its
  // absolute path, inside single quotes in the script.
  std::string quoted;
  for (char c : halvikProgram.string())
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  for (EmbeddedFile& file : files) {
    if (!file.executable) continue;
    for (std::size_t at; (at = file.content.find(kHalvikPlaceholder)) != std::string::npos;) {
      file.content.replace(at, kHalvikPlaceholder.size(), quoted);
    }
  }
  for (const EmbeddedFile& file : files) {
    if (std::filesystem::exists(dir / file.name)) {
      return dir.string() + " already holds a station (" + file.name +
             " exists); nothing was written";
    }
  }
  for (const EmbeddedFile& file : files) {
    std::filesystem::path path = dir / file.name;
    if (!WriteFileAtomically(path, file.content)) return "cannot write " + path.string();
    if (file.executable) {
      std::filesystem::permissions(path,
                                   std::filesystem::perms::owner_exec |
                                       std::filesystem::perms::group_exec |
                                       std::filesystem::perms::others_exec,
                                   std::filesystem::perm_options::add, error);
      if (error) return "cannot make " + path.string() + " executable: " + error.message();
    }
  }
  return {};
}

}  // namespace halvik
