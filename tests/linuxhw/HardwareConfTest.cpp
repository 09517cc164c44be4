#include "linuxhw/HardwareConf.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "support/TempDir.h"

namespace halvik {
namespace {

TEST(HardwareConf, FileFillsWhatTheCommandLineLeftOut) {
  TempDir dir;
  const auto path = dir.path() / kHardwareConfFile;
  std::string error = "stale";
  // No file: nothing set, no error.
  HardwareConf conf = ReadHardwareConf(path, error);
  EXPECT_EQ(error, "");
  EXPECT_FALSE(conf.hardware || conf.rotatorModel || conf.rotatorPort || conf.rigModel ||
               conf.rigPort || conf.gpsd || conf.frames);

  dir.Write(kHardwareConfFile,
            "# the station's devices\n"
            "hardware = \"linux\"\n"
            "rotator-model = 603   # a serial controller\n"
            "rotator-port = \"/dev/ttyUSB0\"\n"
            "rig-model = 0\n"
            "gpsd = \"gps.local:2947\"\n"
            "frames = \"tcp:127.0.0.1:5000\"\n"
            "sdr = \"rtltcp:127.0.0.1:1234\"\n"
            "sdr-rate = 3_000_000\n"
            "sdr-gain = 29.7\n"
            "record-iq = true\n");
  conf = ReadHardwareConf(path, error);
  ASSERT_EQ(error, "");
  EXPECT_EQ(conf.rigPort, std::nullopt);

  // The command line gave --rotator-port and --gpsd: those win, the rest come from the file,
  // and what neither names keeps its default.
  const std::set<std::string> given = {"--rotator-port", "--gpsd", "--sdr-rate"};
  std::string hardware = "sim";
  LinuxHardwareOptions options;
  options.rotatorPort = "127.0.0.1:4533";
  options.gpsd = "none";
  options.rigPort = "/dev/ttyUSB1";
  options.sdrRate = 2.4e6;
  FillFromHardwareConf(
      conf, [&given](const char* name) { return given.count(name) > 0; }, hardware, options);
  EXPECT_EQ(hardware, "linux");
  EXPECT_EQ(options.rotatorModel, 603);
  EXPECT_EQ(options.rotatorPort, "127.0.0.1:4533");
  EXPECT_EQ(options.rigModel, 0);
  EXPECT_EQ(options.rigPort, "/dev/ttyUSB1");
  EXPECT_EQ(options.gpsd, "none");
  EXPECT_EQ(options.frames, "tcp:127.0.0.1:5000");
  EXPECT_EQ(options.sdr, "rtltcp:127.0.0.1:1234");
  EXPECT_EQ(options.sdrRate, 2.4e6);
  EXPECT_EQ(options.sdrGain, "29.7");
  EXPECT_EQ(ParseSdrGain(options.sdrGain), std::optional<double>(29.7));
  EXPECT_TRUE(options.recordIq);
}

TEST(HardwareConf, BadFileIsOneClearLineAndSetsNothing) {
  TempDir dir;
  const auto path = dir.path() / kHardwareConfFile;
  // Each file opens with good keys, so a reader that applied as it went would be caught.
  const std::string good = "hardware = \"linux\"\nrotator-model = 2\n";
  struct Case {
    std::string text;
    std::string error;
  };
  const Case cases[] = {
      {good + "rotator_port = \"x\"\n",
       "hardware.conf:3: rotator_port is no hardware option (hardware, rotator-model, "
       "rotator-port, rig-model, rig-port, gpsd, frames, sdr, sdr-rate, sdr-gain, record-iq)"},
      {good + "sdr-rate = \"3e6\"\n", "hardware.conf:3: sdr-rate wants samples per second"},
      {good + "sdr-rate = 0\n", "hardware.conf:3: sdr-rate wants samples per second"},
      {good + "sdr-gain = \"high\"\n", "hardware.conf:3: sdr-gain wants dB or \"auto\""},
      {good + "record-iq = 1\n", "hardware.conf:3: record-iq wants true or false"},
      {good + "rig-model = \"2\"\n", "hardware.conf:3: rig-model wants a model number"},
      {good + "rig-model = -1\n", "hardware.conf:3: rig-model wants a model number"},
      {good + "rig-model = 2.5\n", "hardware.conf:3: rig-model wants a model number"},
      {good + "gpsd = 2947\n", "hardware.conf:3: gpsd wants a quoted text"},
      {good + "[linux]\nframes = \"none\"\n", "hardware.conf:3: linux is no hardware option"},
      {good + "frames tcp:127.0.0.1:5000\n", "hardware.conf:3: "},  // not TOML
      {good + "rotator-model = 3\n", "hardware.conf:3: "},          // a key given twice
  };
  for (const Case& c : cases) {
    dir.Write(kHardwareConfFile, c.text);
    std::string error;
    const HardwareConf conf = ReadHardwareConf(path, error);
    EXPECT_EQ(error.rfind(c.error, 0), 0u) << c.text << " gave: " << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    EXPECT_FALSE(conf.hardware || conf.rotatorModel) << c.text;
  }

  // A hardware.conf that is not a readable file.
  std::filesystem::remove(path);
  std::filesystem::create_directory(path);
  std::string error;
  const HardwareConf conf = ReadHardwareConf(path, error);
  EXPECT_EQ(error, "hardware.conf: cannot be read as a file");
  EXPECT_FALSE(conf.hardware);
}

}  // namespace
}  // namespace halvik
