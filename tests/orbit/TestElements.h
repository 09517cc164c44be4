#pragma once

#include <string>

// Real element sets (public historical NORAD sets) and the published SGP4 test case, as the
// element file holds them.
namespace halvik {

inline const std::string k88888Line1 =
    "1 88888U          80275.98708465  .00073094  13844-3  66816-4 0    87";
inline const std::string k88888Line2 =
    "2 88888  72.8435 115.9689 0086731  52.6988 110.5714 16.05824518  1058";

// NOAA 15 and NOAA 12, 2009-08-03.
inline const std::string kNoaa15Line1 =
    "1 25338U 98030A   09215.38563496 -.00000081  00000-0 -16215-4 0   285";
inline const std::string kNoaa15Line2 =
    "2 25338  98.5861 203.5647 0009524 282.2000  77.8136 14.24776368583490";
inline const std::string kNoaa12Line1 =
    "1 21263U 91032A   09215.48311461  .00000038  00000-0  34842-4 0  2140";
inline const std::string kNoaa12Line2 =
    "2 21263  98.7727 223.5655 0013044  13.6925 346.4605 14.25587729947134";

// NOAA 18, 2009-08-03.
inline const std::string kNoaa18Line1 =
    "1 28654U 05018A   09215.05217427  .00000144  00000-0  10412-3 0  9950";
inline const std::string kNoaa18Line2 =
    "2 28654  98.9066 157.9321 0013428 228.5989 131.4038 14.11274603216563";

// HETE-2, 2009-08-01: inclination 1.95 degrees, never seen from high latitudes.
inline const std::string kHete2Line1 =
    "1 26561U 00061A   09213.63628432  .00000934  00000-0  10906-4 0  4593";
inline const std::string kHete2Line2 =
    "2 26561   1.9479 243.2554 0023774 311.1597  48.6728 14.96065853481923";

// GOES 12, 2007-12-25: geosynchronous, B* field zero with a non-zero first derivative.
inline const std::string kGoes12Line1 =
    "1 26871U 01031A   07359.12381461 -.00000244  00000-0  00000-0 0  3602";
inline const std::string kGoes12Line2 =
    "2 26871   0.4626 264.8340 0001263 119.7249  37.7290  1.00277156 23592";

// SL-12 DEB, 2006-06-26: perigee about 212 km (simplified drag).
inline const std::string kSl12Line1 =
    "1 29238U 06022G   06177.28732010  .00766286  10823-4  13334-2 0   101";
inline const std::string kSl12Line2 =
    "2 29238  51.5595 213.7903 0202579  95.2503 267.9010 15.73823839  1061";

// COSMOS 2405, 2006-06-16: perigee about 127 km (s and QOMS2T adjusted).
inline const std::string kCosmos2405Line1 =
    "1 28350U 04020A   06167.21788666  .16154492  76267-5  18678-3 0  8894";
inline const std::string kCosmos2405Line2 =
    "2 28350  64.9977 345.6130 0024870 260.7578  99.9590 16.47856722116490";

// VANGUARD 1, 2000-06-27: eccentricity 0.186, period 133 minutes.
inline const std::string kVanguardLine1 =
    "1 00005U 58002B   00179.78495062  .00000023  00000-0  28098-4 0  4753";
inline const std::string kVanguardLine2 =
    "2 00005  34.2682 348.7242 1859667 331.7664  19.3264 10.82419157413667";

// The line with its check digit (column 69) recomputed, for fixtures made by editing a field.
inline std::string WithChecksum(std::string line) {
  int sum = 0;
  for (std::size_t i = 0; i < 68; ++i) {
    char c = line[i];
    if (c >= '0' && c <= '9') sum += c - '0';
    if (c == '-') sum += 1;
  }
  line[68] = static_cast<char>('0' + sum % 10);
  return line;
}

}  // namespace halvik
