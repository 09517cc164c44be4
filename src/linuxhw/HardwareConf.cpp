#include "linuxhw/HardwareConf.h"

#include <toml++/toml.h>

#include <cstdio>
#include <system_error>

#include "platform/Files.h"
#include "platform/Text.h"

namespace halvik {
namespace {

// Seven short lines and their comments fit many times over.
constexpr std::size_t kLongestHardwareConf = 64 * 1024;

std::string Where(const std::filesystem::path& path, const toml::source_region& region) {
  return Format("%s:%u", path.filename().string().c_str(),
                static_cast<unsigned>(region.begin.line));
}

}  // namespace

HardwareConf ReadHardwareConf(const std::filesystem::path& path, std::string& error) {
  error.clear();
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) return {};

  // Read through the station's own opener: a directory or FIFO in the file's place is refused
  // instead of read as empty or waited on.
  const UniqueFile file = OpenRegularFile(path);
  if (!file) {
    error = Format("%s: cannot be read as a file", path.filename().string().c_str());
    return {};
  }
  std::string text;
  char buffer[4096];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0;) {
    text.append(buffer, got);
    if (text.size() > kLongestHardwareConf) break;
  }
  const bool readFailed = std::ferror(file.get()) != 0;
  if (readFailed || text.size() > kLongestHardwareConf) {
    error = Format("%s: %s", path.filename().string().c_str(),
                   readFailed ? "cannot be read as a file" : "is too long for a hardware.conf");
    return {};
  }

  toml::table table;
  try {
    table = toml::parse(text, path.string());
  } catch (const toml::parse_error& failure) {
    error = Format("%s: %s", Where(path, failure.source()).c_str(),
                   std::string(failure.description()).c_str());
    return {};
  }

  HardwareConf conf;
  for (const auto& entry : table) {
    const toml::node& node = entry.second;  // a plain reference: lambdas may capture it
    const std::string name(entry.first.str());
    const std::string where = Where(path, node.source());
    auto text = [&](std::optional<std::string>& field) {
      if (const auto* value = node.as_string()) {
        field = value->get();
        return true;
      }
      error = Format("%s: %s wants a quoted text", where.c_str(), name.c_str());
      return false;
    };
    auto number = [&](std::optional<int>& field) {
      if (const auto* value = node.as_integer();
          value && value->get() >= 0 && value->get() <= 999999) {
        field = static_cast<int>(value->get());
        return true;
      }
      error = Format("%s: %s wants a model number", where.c_str(), name.c_str());
      return false;
    };
    auto rate = [&](std::optional<double>& field) {
      if (const auto value = node.value<double>(); value && *value > 0) {
        field = *value;
        return true;
      }
      error = Format("%s: %s wants samples per second", where.c_str(), name.c_str());
      return false;
    };
    auto gain = [&](std::optional<std::string>& field) {
      if (const auto value = node.value<double>()) {
        field = Format("%g", *value);
        return true;
      }
      if (const auto* value = node.as_string(); value && value->get() == "auto") {
        field = value->get();
        return true;
      }
      error = Format("%s: %s wants dB or \"auto\"", where.c_str(), name.c_str());
      return false;
    };
    auto flag = [&](std::optional<bool>& field) {
      if (const auto* value = node.as_boolean()) {
        field = value->get();
        return true;
      }
      error = Format("%s: %s wants true or false", where.c_str(), name.c_str());
      return false;
    };
    bool ok = false;
    if (name == kHardwareOption) {
      ok = text(conf.hardware);
    } else if (name == kRotatorModelOption) {
      ok = number(conf.rotatorModel);
    } else if (name == kRotatorPortOption) {
      ok = text(conf.rotatorPort);
    } else if (name == kRigModelOption) {
      ok = number(conf.rigModel);
    } else if (name == kRigPortOption) {
      ok = text(conf.rigPort);
    } else if (name == kGpsdOption) {
      ok = text(conf.gpsd);
    } else if (name == kFramesOption) {
      ok = text(conf.frames);
    } else if (name == kSdrOption) {
      ok = text(conf.sdr);
    } else if (name == kSdrRateOption) {
      ok = rate(conf.sdrRate);
    } else if (name == kSdrGainOption) {
      ok = gain(conf.sdrGain);
    } else if (name == kRecordIqOption) {
      ok = flag(conf.recordIq);
    } else {
      std::string known;
      for (const char* option : kHardwareOptions)
        known += (known.empty() ? "" : ", ") + std::string(option);
      error =
          Format("%s: %s is no hardware option (%s)", where.c_str(), name.c_str(), known.c_str());
    }
    if (!ok) return {};
  }
  return conf;
}

void FillFromHardwareConf(const HardwareConf& conf, const std::function<bool(const char*)>& given,
                          std::string& hardware, LinuxHardwareOptions& options) {
  auto fill = [&given](const char* name, auto& field, const auto& value) {
    if (value && !given(HardwareFlag(name).c_str())) field = *value;
  };
  fill(kHardwareOption, hardware, conf.hardware);
  fill(kRotatorModelOption, options.rotatorModel, conf.rotatorModel);
  fill(kRotatorPortOption, options.rotatorPort, conf.rotatorPort);
  fill(kRigModelOption, options.rigModel, conf.rigModel);
  fill(kRigPortOption, options.rigPort, conf.rigPort);
  fill(kGpsdOption, options.gpsd, conf.gpsd);
  fill(kFramesOption, options.frames, conf.frames);
  fill(kSdrOption, options.sdr, conf.sdr);
  fill(kSdrRateOption, options.sdrRate, conf.sdrRate);
  fill(kSdrGainOption, options.sdrGain, conf.sdrGain);
  fill(kRecordIqOption, options.recordIq, conf.recordIq);
}

}  // namespace halvik
