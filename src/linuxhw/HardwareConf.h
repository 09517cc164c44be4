#pragma once

#include <array>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "config/StationFileNames.h"
#include "linuxhw/LinuxHardware.h"

namespace halvik {

// The hardware options' names: the keys of hardware.conf, and after "--" the options of the
// station's command line.
inline constexpr const char* kHardwareOption = "hardware";
inline constexpr const char* kRotatorModelOption = "rotator-model";
inline constexpr const char* kRotatorPortOption = "rotator-port";
inline constexpr const char* kRigModelOption = "rig-model";
inline constexpr const char* kRigPortOption = "rig-port";
inline constexpr const char* kGpsdOption = "gpsd";
inline constexpr const char* kFramesOption = "frames";
inline constexpr const char* kSdrOption = "sdr";
inline constexpr const char* kSdrRateOption = "sdr-rate";
inline constexpr const char* kSdrGainOption = "sdr-gain";
inline constexpr const char* kRecordIqOption = "record-iq";
inline constexpr std::array<const char*, 11> kHardwareOptions{
    kHardwareOption, kRotatorModelOption, kRotatorPortOption, kRigModelOption,
    kRigPortOption,  kGpsdOption,         kFramesOption,      kSdrOption,
    kSdrRateOption,  kSdrGainOption,      kRecordIqOption};
// The command line's spelling of a hardware option: "--rotator-model".
inline std::string HardwareFlag(const char* option) {
  return std::string("--") + option;
}

// What hardware.conf sets: each key is an option's name without its dashes
// (`rotator-model = 2`, `rotator-port = "localhost:4533"`). Unset keys are empty.
struct HardwareConf {
  std::optional<std::string> hardware;
  std::optional<int> rotatorModel;
  std::optional<std::string> rotatorPort;
  std::optional<int> rigModel;
  std::optional<std::string> rigPort;
  std::optional<std::string> gpsd;
  std::optional<std::string> frames;
  std::optional<std::string> sdr;
  std::optional<double> sdrRate;
  std::optional<std::string> sdrGain;  // "auto", or dB given as a number
  std::optional<bool> recordIq;
};

// Reads `path` (TOML). No file sets nothing. A file that cannot be parsed, holds a key that is
// no hardware option or a value of the wrong kind: `error` is one line naming the file, the
// line and what is wrong, and nothing is set.
HardwareConf ReadHardwareConf(const std::filesystem::path& path, std::string& error);

// Fills what the command line left out from `conf`: `given("--rotator-port")` says whether that
// option was on the command line, which wins.
void FillFromHardwareConf(const HardwareConf& conf, const std::function<bool(const char*)>& given,
                          std::string& hardware, LinuxHardwareOptions& options);

}  // namespace halvik
