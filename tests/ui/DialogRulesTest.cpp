#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "platform/SystemInfo.h"
#include "ui/DialogRules.h"

namespace halvik {
namespace {

const std::string kNotANumber = "Please enter a number.";

std::optional<std::string> Check(const std::string& text, NumberLimits limits, double& value) {
  return CheckNumberField(text, limits, value);
}

TEST(DialogRules, NumberFields) {
  double value = -1;
  // --- accepted forms, limits inclusive ---
  EXPECT_EQ(Check("90", kLatitudeLimits, value), std::nullopt);
  EXPECT_EQ(value, 90.0);
  EXPECT_EQ(Check("  -90.0\t", kLatitudeLimits, value), std::nullopt);
  EXPECT_EQ(value, -90.0);
  EXPECT_EQ(Check("+.5e1", kMinimumElevationLimits, value), std::nullopt);
  EXPECT_EQ(value, 5.0);
  EXPECT_EQ(Check("12.", kMinimumElevationLimits, value), std::nullopt);
  EXPECT_EQ(value, 12.0);

  // --- out of range: the limits in the message, value untouched ---
  value = 7;
  EXPECT_EQ(Check("91", kLatitudeLimits, value), "Please enter a number between -90 and 90.");
  EXPECT_EQ(value, 7.0);
  EXPECT_EQ(Check("-180.0001", kLongitudeLimits, value),
            "Please enter a number between -180 and 180.");
  EXPECT_EQ(Check("50000.5", kHeightLimits, value), "Please enter a number between 0 and 50000.");
  EXPECT_EQ(Check("-0.1", kMinimumElevationLimits, value),
            "Please enter a number between 0 and 25.");
  EXPECT_EQ(Check("1e999", kHeightLimits, value), "Please enter a number between 0 and 50000.");
  // The dialog's own height range is wider than the station's 30000 ft.
  EXPECT_EQ(Check("40000", kHeightLimits, value), std::nullopt);
  EXPECT_EQ(value, 40000.0);

  // --- not a number ---
  value = 7;
  for (const char* text :
       {"", "   ", "abc", "12abc", "1e", "-", ".", "45,5", "0x10", "nan", "inf", "1 2", "--1"}) {
    EXPECT_EQ(Check(text, kHeightLimits, value), kNotANumber) << '"' << text << '"';
  }
  EXPECT_EQ(value, 7.0);
}

TEST(DialogRules, NumbersIgnoreTheUsersLocale) {
  if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) {
    GTEST_SKIP() << "no German locale installed";
  }
  double value = 0;
  EXPECT_EQ(CheckNumberField("47.5", kLatitudeLimits, value), std::nullopt);
  EXPECT_EQ(value, 47.5);
  EXPECT_EQ(CheckNumberField("47,5", kLatitudeLimits, value), kNotANumber);
  EXPECT_EQ(DialogNumberText(-122.25), "-122.25");
  std::setlocale(LC_ALL, "C");
}

TEST(DialogRules, NumberTextsKeepFifteenDigits) {
  EXPECT_EQ(DialogNumberText(47.123456789012345), "47.1234567890123");
  EXPECT_EQ(DialogNumberText(0.0), "0");
  EXPECT_EQ(DialogNumberText(5.0000000000000009), "5");
  EXPECT_EQ(DialogNumberText(-90), "-90");
  // Round trip of what the dialog shows.
  double value = 0;
  ASSERT_EQ(CheckNumberField(DialogNumberText(12.3456789), kHeightLimits, value), std::nullopt);
  EXPECT_EQ(value, 12.3456789);
}

TEST(DialogRules, TextFields) {
  EXPECT_EQ(CheckTextField(std::string(30, 'N'), kSatelliteNameMaxCharacters), std::nullopt);
  EXPECT_EQ(CheckTextField("", kSatelliteNameMaxCharacters), std::nullopt);
  EXPECT_EQ(CheckTextField(std::string(31, 'N'), kSatelliteNameMaxCharacters),
            "Please enter no more than 30 characters.");
  // Characters, not bytes: 30 two-byte characters fit.
  std::string umlauts;
  for (int i = 0; i < 30; ++i) umlauts += "\xC3\xBC";
  EXPECT_EQ(CheckTextField(umlauts, kSatelliteNameMaxCharacters), std::nullopt);
  EXPECT_NE(CheckTextField(umlauts + "x", kSatelliteNameMaxCharacters), std::nullopt);
}

class FakeSystemInfo final : public SystemInfo {
 public:
  std::optional<std::uint64_t> PhysicalMemoryBytes() override { return memory; }
  std::optional<double> FreeBytes(const std::filesystem::path& dir) override {
    asked = dir;
    return free;
  }
  std::string MountPoint(const std::filesystem::path&) override { return mount; }

  std::optional<std::uint64_t> memory;
  std::optional<double> free;
  std::string mount = "/";
  std::filesystem::path asked;
};

TEST(DialogRules, AboutValues) {
  FakeSystemInfo info;
  info.memory = 16ull * 1024 * 1024 * 1024 + 1023;
  info.free = 123456.0 * 1024 + 1000;
  info.mount = "/srv/station";
  AboutValues values = ReadAboutValues(info, "/srv/station/run");
  EXPECT_EQ(values.memory, "16777216 KB");
  EXPECT_EQ(values.disk, "123456 KB Free on /srv/station");
  EXPECT_EQ(info.asked, "/srv/station/run");

  // --- more than 4 GiB free is shown in full ---
  info.free = 8.0 * 1024 * 1024 * 1024 * 1024;  // 8 TiB
  info.mount = "/";
  EXPECT_EQ(ReadAboutValues(info, "/").disk, "8589934592 KB Free on /");

  // --- figures that cannot be had ---
  info.memory.reset();
  info.free.reset();
  values = ReadAboutValues(info, "/");
  EXPECT_EQ(values.memory, "Unavailable");
  EXPECT_EQ(values.disk, "Unavailable");
  EXPECT_EQ(AboutDiskText(-1.0, "/"), "Unavailable");
}

}  // namespace
}  // namespace halvik
