#include <gtest/gtest.h>

#include <vector>

#include "orbit/ElementSet.h"
#include "orbit/ScanGeometry.h"
#include "orbit/TestElements.h"
#include "platform/Units.h"
#include "sim/EarthScene.h"
#include "sim/HrptFrame.h"

namespace halvik::sim {
namespace {

// The simulated Earth under NOAA 15: where the satellite is over the Sahara its nadir pixels are
// land (or cloud), over the open Pacific sea (or cloud), and a frame synthesized at such a line's
// time carries those counts in the AVHRR's channel 2.
TEST(EarthScene, TheImagerSeesTheAtlasUnderTheSatellite) {
  ParsedSatellite noaa15 = ParseElementSet("NOAA 15", kNoaa15Line1, kNoaa15Line2);
  ASSERT_TRUE(noaa15.ok());
  const auto land = MakeLandIndex();
  EarthScene scene(noaa15.elements, SatelliteFamily::Noaa, land);
  SwathGeometry swath(noaa15.elements, {2048, Radians(55.4)});
  struct Box {
    const char* name;
    GeoPoint southWest, northEast;
    bool land;
    int lines = 0;
  };
  Box boxes[] = {{"Sahara", {0, 18}, {20, 28}, true}, {"Pacific", {-170, -20}, {-130, 10}, false}};
  std::vector<std::uint16_t> visible(2048), thermal(2048);
  int clear = 0, cloudy = 0;
  const double epoch = noaa15.elements.epochMinutes * 60;
  for (double t = epoch; t < epoch + 2 * 86400; t += 20) {
    swath.SetTime(t);
    const auto nadir = swath.Ground(1023.5);
    for (Box& box : boxes) {
      if (!nadir || nadir->longitude < box.southWest.longitude ||
          nadir->longitude > box.northEast.longitude || nadir->latitude < box.southWest.latitude ||
          nadir->latitude > box.northEast.latitude)
        continue;
      SCOPED_TRACE(box.name);
      ++box.lines;
      const std::int64_t ms = static_cast<std::int64_t>(t * 1000);
      scene.Line(static_cast<double>(ms), visible, thermal);
      for (std::size_t p = 974; p < 1074; ++p) {
        // Clear land: 400 +/- 60 visible, 470 +/- 30 thermal; clear sea 60 and 560; cloud lifts
        // both.
        const bool clearLand = visible[p] >= 340 && visible[p] <= 460 && thermal[p] <= 500;
        const bool clearSea = visible[p] == 60 && thermal[p] == 560;
        ASSERT_FALSE(box.land ? clearSea : clearLand) << p;
        clear += clearLand || clearSea;
        cloudy += !clearLand && !clearSea;
      }
      FrameContext context;
      context.timeMs = ms;
      context.earth = &scene;
      std::vector<std::uint16_t> frame(kNoaaFrameWords);
      SynthesizeFrame(context, frame);
      const FrameLayout& layout = LayoutFor(SatelliteFamily::Noaa);
      for (std::size_t p = 0; p < 2048; p += 7) {
        const int sample = frame[layout.earthFirstWord + p * layout.channels + 1];
        ASSERT_NEAR(sample, visible[p], 16) << p;
      }
    }
  }
  for (const Box& box : boxes) EXPECT_GT(box.lines, 0) << box.name;
  EXPECT_GT(clear, 0);
  EXPECT_GT(cloudy, 0);
}

}  // namespace
}  // namespace halvik::sim
