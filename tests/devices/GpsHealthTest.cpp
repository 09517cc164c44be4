#include "devices/GpsHealth.h"

#include <gtest/gtest.h>

namespace halvik {
namespace {

TEST(GpsHealth, ReportsMapToTheReceiversWords) {
  using M = GpsFixMode;
  using H = GpsHealthCode;
  struct Row {
    GpsReport report;  // mode, time fresh, fix on globe, satellites used
    H want;
  };
  const Row rows[] = {
      {{M::ThreeD, true, true, 7}, H::Fixing},
      {{M::ThreeD, false, true, 7}, H::NoTime},  // a stale report is no present time
      {{M::NotSeen, false, false, 0}, H::NoTime},
      {{M::ThreeD, true, false, 7}, H::BadPdop},  // a 3-D "fix" off the globe is none
      {{M::TwoD, true, true, 3}, H::ThreeSatellites},
      {{M::TwoD, true, false, 9}, H::ThreeSatellites},
      {{M::NoFix, true, false, 0}, H::NoSatellites},
      {{M::NoFix, true, false, 1}, H::OneSatellite},
      {{M::NoFix, true, false, 2}, H::TwoSatellites},
      {{M::NoFix, true, false, 3}, H::ThreeSatellites},
      {{M::NoFix, true, false, 4}, H::BadPdop},
      {{M::NoFix, true, false, 12}, H::BadPdop},
      {{M::NoFix, true, false, -1}, H::NoSatellites},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(GpsHealthFromReport(row.report), row.want)
        << static_cast<int>(row.report.mode) << " " << row.report.satellitesUsed;
  }
}

TEST(GpsHealth, ReportIsFreshForFiveSecondsOfItsClock) {
  struct Row {
    std::int64_t readAt, now;
    bool fresh;
  };
  const Row rows[] = {
      {1000, 1000, true}, {1000, 6000, true}, {1000, 6001, false}, {0, 3'600'000, false}};
  for (const Row& row : rows) {
    EXPECT_EQ(GpsReportFresh(row.readAt, row.now), row.fresh) << row.now;
  }
}

}  // namespace
}  // namespace halvik
