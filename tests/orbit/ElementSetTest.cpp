#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "orbit/ElementSet.h"
#include "orbit/TestElements.h"
#include "support/TempDir.h"

namespace halvik {
namespace {

constexpr double kTwoPiValue = 6.283185307179586;
constexpr double kDeg = 0.0174532925199433;

// Line with columns [first, last] (from 1) replaced by `text` and its check digit recomputed.
std::string Patched(std::string line, std::size_t first, const std::string& text) {
  line.replace(first - 1, text.size(), text);
  return WithChecksum(line);
}

TEST(ParseElementSet, ReadsTheFieldsOfARealElementSet) {
  SatelliteRecord slot;
  ASSERT_EQ(ParseElementSet("NOAA 15", kNoaa15Line1, kNoaa15Line2, slot), ElementSetResult::Ok);
  EXPECT_TRUE(slot.IsActive());
  EXPECT_EQ(slot.name.Get(), "NOAA 15");
  // 2 25338  98.5861 203.5647 0009524 282.2000  77.8136 14.24776368583490
  EXPECT_DOUBLE_EQ(slot.inclination, 98.5861 * kDeg);
  EXPECT_DOUBLE_EQ(slot.ascendingNode, 203.5647 * kDeg);
  EXPECT_DOUBLE_EQ(slot.eccentricity, 0.0009524);
  EXPECT_DOUBLE_EQ(slot.argumentOfPerigee, 282.2 * kDeg);
  EXPECT_DOUBLE_EQ(slot.meanAnomaly, 77.8136 * kDeg);
  EXPECT_DOUBLE_EQ(slot.meanMotion, 14.24776368 * kTwoPiValue / 1440);
  // 1 25338U 98030A   09215.38563496 -.00000081  00000-0 -16215-4 0   285
  EXPECT_DOUBLE_EQ(slot.meanMotionDot, -0.00000081 * kTwoPiValue / (1440.0 * 1440.0));
  EXPECT_DOUBLE_EQ(slot.meanMotionDdot, 0.0);
  EXPECT_DOUBLE_EQ(slot.bstar, -0.16215e-4);
  // 2009 day 215.38563496 = 2009-08-03 09:15:18 UTC.
  EXPECT_NEAR(slot.epochMinutes * 60, 1249290918.8605, 1e-3);
  EXPECT_EQ(slot.aosTime, 0);
  EXPECT_EQ(slot.inPass, 0);
}

TEST(ParseElementSet, Epoch) {
  SatelliteRecord slot;
  // --- 2001-10-11 12:00 UTC.
  std::string line1 = Patched(kNoaa15Line1, 19, "01284.50000000");
  ASSERT_EQ(ParseElementSet("X", line1, kNoaa15Line2, slot), ElementSetResult::Ok);
  EXPECT_DOUBLE_EQ(slot.epochMinutes, 16713360.0);
  EXPECT_DOUBLE_EQ(slot.epoch1950Minutes, 27234000.0);

  // --- Two-digit years: 49 is 2049, 50 is 1950 (day 1.0 is 1 January 00:00).
  ASSERT_EQ(ParseElementSet("X", Patched(kNoaa15Line1, 19, "49001.00000000"), kNoaa15Line2, slot),
            ElementSetResult::Ok);
  EXPECT_DOUBLE_EQ(slot.epochMinutes, 2493072000.0 / 60);  // 2049-01-01 00:00 UTC
  ASSERT_EQ(ParseElementSet("X", Patched(kNoaa15Line1, 19, "50001.00000000"), kNoaa15Line2, slot),
            ElementSetResult::Ok);
  EXPECT_DOUBLE_EQ(slot.epoch1950Minutes, 1440.0);
  EXPECT_DOUBLE_EQ(slot.epochMinutes, -631152000.0 / 60);  // 1950-01-01 00:00 UTC
  // Leap years on both sides of 1970: 1968-03-01 and 2000-03-01.
  ASSERT_EQ(ParseElementSet("X", Patched(kNoaa15Line1, 19, "68061.00000000"), kNoaa15Line2, slot),
            ElementSetResult::Ok);
  EXPECT_DOUBLE_EQ(slot.epochMinutes, -57974400.0 / 60);
  ASSERT_EQ(ParseElementSet("X", Patched(kNoaa15Line1, 19, "00061.00000000"), kNoaa15Line2, slot),
            ElementSetResult::Ok);
  EXPECT_DOUBLE_EQ(slot.epochMinutes, 951868800.0 / 60);

  // --- Blanks inside the field read as zeros.
  ASSERT_EQ(ParseElementSet("X", Patched(kNoaa15Line1, 19, "01 84.50000000"), kNoaa15Line2, slot),
            ElementSetResult::Ok);
  double withBlank = slot.epochMinutes;
  ASSERT_EQ(ParseElementSet("X", Patched(kNoaa15Line1, 19, "01084.50000000"), kNoaa15Line2, slot),
            ElementSetResult::Ok);
  EXPECT_DOUBLE_EQ(withBlank, slot.epochMinutes);
  ASSERT_EQ(ParseElementSet("X", Patched(kNoaa15Line1, 19, "01  5.5       "), kNoaa15Line2, slot),
            ElementSetResult::Ok);
  withBlank = slot.epochMinutes;
  ASSERT_EQ(ParseElementSet("X", Patched(kNoaa15Line1, 19, "01005.50000000"), kNoaa15Line2, slot),
            ElementSetResult::Ok);
  EXPECT_DOUBLE_EQ(withBlank, slot.epochMinutes);
}

TEST(ParseElementSet, AnEpochOrFieldThatIsNoNumberOfItsKindIsTheFormatErrorOfItsLine) {
  SatelliteRecord slot;
  // Check digits do not see blanks or points, so each of these passes them.
  for (const char* epoch : {"99999999999999", "   inf        ", "  nan         ", "01000.00000000",
                            "01367.00000000", "-1284.5000000 ", "1e300         "}) {
    SCOPED_TRACE(epoch);
    EXPECT_EQ(ParseElementSet("X", Patched(kNoaa15Line1, 19, epoch), kNoaa15Line2, slot),
              ElementSetResult::Line1FieldError);
    EXPECT_FALSE(slot.IsActive());
    EXPECT_STREQ(ElementSetMessage(ElementSetResult::Line1FieldError),
                 "Format Error in Line 1 of Ephemeris Data");
  }
  // The last day of a leap year, to its last fraction, is a day.
  EXPECT_EQ(ParseElementSet("X", Patched(kNoaa15Line1, 19, "00366.99999999"), kNoaa15Line2, slot),
            ElementSetResult::Ok);
  // A line 1 whose epoch field is all nines, as a garbled download delivers it.
  EXPECT_EQ(
      ParseElementSet("X", "1 23455U 94089A   99999999999999  .00000233  00000-0  14721-3 0  9463",
                      kNoaa15Line2, slot),
      ElementSetResult::Line1FieldError);
  // A field of line 2 that is not finite.
  EXPECT_EQ(ParseElementSet("X", kNoaa15Line1, Patched(kNoaa15Line2, 53, "inf        "), slot),
            ElementSetResult::Line2FieldError);
  EXPECT_FALSE(slot.IsActive());
}

TEST(ParseElementSet, DragFields) {
  SatelliteRecord slot;
  // --- B*: " 00000-0" is 0, "-11606-4" is -0.11606e-4, a blank first digit column is 0.
  ASSERT_EQ(ParseElementSet("X", Patched(kNoaa15Line1, 54, " 00000-0"), kNoaa15Line2, slot),
            ElementSetResult::Ok);
  EXPECT_EQ(slot.bstar, 0.0);
  ASSERT_EQ(ParseElementSet("X", Patched(kNoaa15Line1, 54, "-11606-4"), kNoaa15Line2, slot),
            ElementSetResult::Ok);
  EXPECT_DOUBLE_EQ(slot.bstar, -0.11606e-4);
  ASSERT_EQ(ParseElementSet("X", Patched(kNoaa15Line1, 54, " 12345+1"), kNoaa15Line2, slot),
            ElementSetResult::Ok);
  EXPECT_DOUBLE_EQ(slot.bstar, 1.2345);
  ASSERT_EQ(ParseElementSet("X", Patched(kNoaa15Line1, 54, "  2345-1"), kNoaa15Line2, slot),
            ElementSetResult::Ok);
  EXPECT_EQ(slot.bstar, 0.0);

  // --- Second derivative, same packed form, scaled to rad/min^3.
  ASSERT_EQ(ParseElementSet("X", k88888Line1, k88888Line2, slot), ElementSetResult::Ok);
  EXPECT_DOUBLE_EQ(slot.meanMotionDdot, 0.13844e-3 * kTwoPiValue / (1440.0 * 1440.0 * 1440.0));
  EXPECT_DOUBLE_EQ(slot.meanMotionDot, 0.00073094 * kTwoPiValue / (1440.0 * 1440.0));
  EXPECT_DOUBLE_EQ(slot.bstar, 0.66816e-4);

  // --- First derivative: 0 when column 36 is blank.
  ASSERT_EQ(ParseElementSet("X", Patched(kNoaa15Line1, 34, "   .      "), kNoaa15Line2, slot),
            ElementSetResult::Ok);
  EXPECT_EQ(slot.meanMotionDot, 0.0);
}

TEST(ParseElementSet, FieldsAreReadWithinTheirOwnColumnsInTheCLocale) {
  // A field ends at its first blank; the next field's digits never leak into it.
  SatelliteRecord slot;
  ASSERT_EQ(ParseElementSet("X", kNoaa15Line1, Patched(kNoaa15Line2, 9, " 98.5  1"), slot),
            ElementSetResult::Ok);
  EXPECT_DOUBLE_EQ(slot.inclination, 98.5 * kDeg);

  // A decimal-comma locale must not change the numbers.
  std::string saved = std::setlocale(LC_ALL, nullptr);
  bool german = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
  ASSERT_EQ(ParseElementSet("X", kNoaa15Line1, kNoaa15Line2, slot), ElementSetResult::Ok);
  std::setlocale(LC_ALL, saved.c_str());
  EXPECT_DOUBLE_EQ(slot.meanMotion, 14.24776368 * kTwoPiValue / 1440);
  EXPECT_DOUBLE_EQ(slot.inclination, 98.5861 * kDeg);
  if (!german) GTEST_LOG_(INFO) << "de_DE.UTF-8 not installed; checked in the C locale only";
}

TEST(ParseElementSet, FormatAndChecksumErrors) {
  SatelliteRecord slot;
  auto parse = [&](const std::string& l1, const std::string& l2) {
    // A loaded slot, so that each failure is seen to clear it.
    EXPECT_EQ(ParseElementSet("OLD", kNoaa15Line1, kNoaa15Line2, slot), ElementSetResult::Ok);
    slot.aosTime = 1234;
    slot.inPass = 1;
    slot.geosynchronous = 1;
    slot.elevationDeg = 12.0;
    return ParseElementSet("NEW", l1, l2, slot);
  };
  auto expectCleared = [&] {
    EXPECT_FALSE(slot.IsActive());
    EXPECT_EQ(slot.name.Get(), "");
    EXPECT_EQ(slot.aosTime, 0);
    EXPECT_EQ(slot.inPass, 0);
    EXPECT_EQ(slot.geosynchronous, 0);
    EXPECT_EQ(slot.elevationDeg, 0.0);
  };

  // --- Line 1: first character, then length (a trailing blank fails).
  EXPECT_EQ(parse("2" + kNoaa15Line1.substr(1), kNoaa15Line2), ElementSetResult::Line1StartError);
  expectCleared();
  EXPECT_EQ(parse("", kNoaa15Line2), ElementSetResult::Line1StartError);
  EXPECT_EQ(parse(kNoaa15Line1 + " ", kNoaa15Line2), ElementSetResult::Line1LengthError);
  expectCleared();
  EXPECT_STREQ(ElementSetMessage(ElementSetResult::Line1LengthError),
               "Format Error in Line 1 of Ephemeris Data");
  EXPECT_EQ(parse(kNoaa15Line1.substr(0, 68), kNoaa15Line2), ElementSetResult::Line1LengthError);
  // An over-long line is rejected, never read as far as it goes.
  EXPECT_EQ(parse(kNoaa15Line1 + std::string(200, '7'), kNoaa15Line2),
            ElementSetResult::Line1LengthError);

  // --- Line 2, checked after line 1 is good.
  EXPECT_EQ(parse(kNoaa15Line1, "1" + kNoaa15Line2.substr(1)), ElementSetResult::Line2StartError);
  EXPECT_EQ(parse("x", "x"), ElementSetResult::Line1StartError);
  EXPECT_EQ(parse(kNoaa15Line1, kNoaa15Line2 + " "), ElementSetResult::Line2LengthError);
  expectCleared();
  EXPECT_EQ(parse(kNoaa15Line1, ""), ElementSetResult::Line2StartError);
  EXPECT_STREQ(ElementSetMessage(ElementSetResult::Line2StartError),
               "Format Error in Line 2 of Ephemeris Data");

  // --- Check digits: one wrong digit in either line; a minus sign counts 1.
  std::string bad1 = kNoaa15Line1;
  bad1[68] = static_cast<char>('0' + (bad1[68] - '0' + 1) % 10);
  EXPECT_EQ(parse(bad1, kNoaa15Line2), ElementSetResult::ChecksumError);
  expectCleared();
  std::string bad2 = kNoaa15Line2;
  bad2[68] = static_cast<char>('0' + (bad2[68] - '0' + 9) % 10);
  EXPECT_EQ(parse(kNoaa15Line1, bad2), ElementSetResult::ChecksumError);
  std::string minusToPlus = kNoaa15Line1;  // "-.00000081": the sign counts 1, '+' counts 0
  minusToPlus[33] = '+';
  EXPECT_EQ(parse(minusToPlus, kNoaa15Line2), ElementSetResult::ChecksumError);
  EXPECT_STREQ(ElementSetMessage(ElementSetResult::ChecksumError),
               "Checksum Error in Ephemeris Data");

  // --- Every real element set of the reference file passes (they carry both signs).
  EXPECT_EQ(parse(k88888Line1, k88888Line2), ElementSetResult::Ok);
  EXPECT_EQ(parse(kHete2Line1, kHete2Line2), ElementSetResult::Ok);
  EXPECT_EQ(parse(kGoes12Line1, kGoes12Line2), ElementSetResult::Ok);
  EXPECT_EQ(slot.name.Get(), "NEW");
}

TEST(ElementSetMessage, Texts) {
  EXPECT_STREQ(ElementSetMessage(ElementSetResult::Ok), "");
  EXPECT_STREQ(ElementSetMessage(ElementSetResult::FileMissing), "Can't find file elements.dat");
  EXPECT_STREQ(ElementSetMessage(ElementSetResult::SatelliteNotFound),
               "Satellite not found in Ephemeris file");
}

TEST(FindElementSet, Lookup) {
  TempDir dir;
  auto file = dir.path() / "elements.dat";
  SatelliteRecord slot;

  // --- No file: 100, slot untouched.
  ASSERT_EQ(ParseElementSet("KEEP", kNoaa15Line1, kNoaa15Line2, slot), ElementSetResult::Ok);
  EXPECT_EQ(FindElementSet(file, "NOAA 15", slot), ElementSetResult::FileMissing);
  EXPECT_EQ(slot.name.Get(), "KEEP");
  EXPECT_TRUE(slot.IsActive());

  // --- Trailing blanks trimmed, case ignored, the file's spelling kept; CRLF lines.
  dir.Write("elements.dat", "NOAA 12\r\n" + kNoaa12Line1 + "\r\n" + kNoaa12Line2 + "\r\n" +
                                "NOAA 15   \r\n" + kNoaa15Line1 + "\r\n" + kNoaa15Line2 + "\r\n");
  EXPECT_EQ(FindElementSet(file, "noaa 15", slot), ElementSetResult::Ok);
  EXPECT_EQ(slot.name.Get(), "NOAA 15");
  EXPECT_DOUBLE_EQ(slot.bstar, -0.16215e-4);
  EXPECT_EQ(FindElementSet(file, "NOAA 1", slot), ElementSetResult::SatelliteNotFound);
  EXPECT_EQ(slot.name.Get(), "NOAA 15");  // 101 leaves the slot as it was
  EXPECT_EQ(FindElementSet(file, " NOAA 15", slot),
            ElementSetResult::SatelliteNotFound);  // leading blanks count

  // --- A name line with a tab before its trailing blanks keeps the tab.
  dir.Write("elements.dat", "NOAA 15\t  \n" + kNoaa15Line1 + "\n" + kNoaa15Line2 + "\n");
  EXPECT_EQ(FindElementSet(file, "NOAA 15", slot), ElementSetResult::SatelliteNotFound);
  EXPECT_EQ(FindElementSet(file, "NOAA 15\t", slot), ElementSetResult::Ok);
  // ... a blank before the tab ends the name there.
  dir.Write("elements.dat", "NOAA 15 \t \n" + kNoaa15Line1 + "\n" + kNoaa15Line2 + "\n");
  EXPECT_EQ(FindElementSet(file, "NOAA 15", slot), ElementSetResult::Ok);
  // ... and a blank line never matches a name.
  dir.Write("elements.dat", "   \n" + kNoaa15Line1 + "\n" + kNoaa15Line2 + "\n");
  EXPECT_EQ(FindElementSet(file, "NOAA 15", slot), ElementSetResult::SatelliteNotFound);

  // --- The last line of the file without a line end keeps all its characters.
  dir.Write("elements.dat", "NOAA 15\n" + kNoaa15Line1 + "\n" + kNoaa15Line2);
  EXPECT_EQ(FindElementSet(file, "NOAA 15", slot), ElementSetResult::Ok);

  // --- Bad element lines after a matching name clear the slot.
  dir.Write("elements.dat", "NOAA 15\n" + kNoaa15Line1 + " \n" + kNoaa15Line2 + "\n");
  EXPECT_EQ(FindElementSet(file, "NOAA 15", slot), ElementSetResult::Line1LengthError);
  EXPECT_FALSE(slot.IsActive());
  // A file ending right after the name: line 1 is missing.
  dir.Write("elements.dat", "NOAA 15\n");
  EXPECT_EQ(FindElementSet(file, "NOAA 15", slot), ElementSetResult::Line1StartError);

  // --- Every line is a candidate: the first match wins, wherever it is.
  dir.Write("elements.dat", "JUNK\nNOAA 12\n" + kNoaa12Line1 + "\n" + kNoaa12Line2 + "\n");
  EXPECT_EQ(FindElementSet(file, "NOAA 12", slot), ElementSetResult::Ok);
  EXPECT_EQ(slot.name.Get(), "NOAA 12");
}

TEST(FindElementSet, LongLinesAndLongNames) {
  TempDir dir;
  auto file = dir.path() / "elements.dat";
  SatelliteRecord slot;

  // --- A name line longer than 79 characters is compared whole: its first 79 characters are
  // not a name of their own.
  std::string longName(100, 'A');
  dir.Write("elements.dat", longName + "\n" + kNoaa15Line1 + "\n" + kNoaa15Line2 + "\n");
  EXPECT_EQ(FindElementSet(file, longName.substr(0, 79), slot),
            ElementSetResult::SatelliteNotFound);
  EXPECT_EQ(FindElementSet(file, longName.substr(0, 23), slot),
            ElementSetResult::SatelliteNotFound);

  // --- An element line longer than 79 characters is one line, and too long.
  dir.Write("elements.dat",
            "NOAA 15\n" + kNoaa15Line1 + std::string(60, ' ') + "\n" + kNoaa15Line2 + "\n");
  EXPECT_EQ(FindElementSet(file, "NOAA 15", slot), ElementSetResult::Line1LengthError);

  // --- Names: 23 characters fit; longer ones are never matched (they would be cut in the
  // satellite list and not be found again at the next start).
  std::string name23 = "ABCDEFGHIJKLMNOPQRSTUVW";
  std::string name24 = name23 + "X";
  dir.Write("elements.dat", name24 + "\n" + kNoaa12Line1 + "\n" + kNoaa12Line2 + "\n" + name23 +
                                "  \n" + kNoaa15Line1 + "\n" + kNoaa15Line2 + "\n");
  EXPECT_EQ(FindElementSet(file, name24, slot), ElementSetResult::SatelliteNotFound);
  EXPECT_EQ(FindElementSet(file, name23, slot), ElementSetResult::Ok);
  EXPECT_EQ(slot.name.Get(), name23);
  EXPECT_DOUBLE_EQ(slot.bstar, -0.16215e-4);  // NOAA 15's, not the 24-character entry's

  // --- A name line ending in CR CR LF is the name without them; a name holding a NUL (which
  // would load as an empty name) is in no entry.
  dir.Write("elements.dat", "NOAA 15\r\r\n" + kNoaa15Line1 + "\r\n" + kNoaa15Line2 + "\r\r\n" +
                                std::string("\0NOAA 12\n", 9) + kNoaa12Line1 + "\n" + kNoaa12Line2 +
                                "\n");
  EXPECT_EQ(FindElementSet(file, "NOAA 15", slot), ElementSetResult::Ok);
  EXPECT_EQ(slot.name.Get(), "NOAA 15");
  EXPECT_EQ(FindElementSet(file, std::string("\0NOAA 12", 8), slot),
            ElementSetResult::SatelliteNotFound);
  EXPECT_EQ(slot.name.Get(), "NOAA 15");
  // Found by fuzzing: the empty name matched an empty first line and loaded a nameless slot.
  dir.Write("elements.dat", "\n" + kNoaa15Line1 + "\n" + kNoaa15Line2 + "\n");
  EXPECT_EQ(FindElementSet(file, "", slot), ElementSetResult::SatelliteNotFound);
  EXPECT_EQ(slot.name.Get(), "NOAA 15");
}

}  // namespace
}  // namespace halvik
