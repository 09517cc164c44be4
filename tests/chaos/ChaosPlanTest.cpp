// The chaos run's plan: the faults it draws, the seconds it counts as lost and the newer element
// sets it hands to update-elements.
#include <gtest/gtest.h>

#include <set>

#include "chaos/ChaosPlan.h"

namespace halvik::chaos {
namespace {

TEST(ChaosPlan, FaultsFromASeed) {
  const std::vector<FaultKind> kinds = FaultKinds(false, true);
  const std::vector<Fault> a = PlanFaults(kinds, 1000, 1000 + 30 * 86400, 1800, 7);
  const std::vector<Fault> b = PlanFaults(kinds, 1000, 1000 + 30 * 86400, 1800, 7);
  ASSERT_EQ(a.size(), b.size());
  for (std::size_t i = 0; i < a.size(); ++i) {
    EXPECT_EQ(a[i].kind, b[i].kind);
    EXPECT_EQ(a[i].begin, b[i].begin);
    EXPECT_EQ(a[i].stepMs, b[i].stepMs);
  }
  EXPECT_NE(PlanFaults(kinds, 1000, 1000 + 30 * 86400, 1800, 8)[0].begin, a[0].begin);
  // Inside the window, one after another, every kind about equally often, steps both ways and
  // from a second to three hours.
  std::map<FaultKind, int> count;
  bool forwards = false, backwards = false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    EXPECT_GE(a[i].begin, 1000);
    EXPECT_LT(a[i].end, 1000 + 30 * 86400);
    EXPECT_GE(a[i].end, a[i].begin);
    if (i > 0) {
      EXPECT_GT(a[i].begin, a[i - 1].end);
    }
    ++count[a[i].kind];
    if (a[i].kind == FaultKind::ClockStep) {
      EXPECT_GE(std::abs(a[i].stepMs), 1000);
      EXPECT_LE(std::abs(a[i].stepMs), 3 * 3600 * 1000 + 1000);
      forwards = forwards || a[i].stepMs > 0;
      backwards = backwards || a[i].stepMs < 0;
    }
  }
  EXPECT_TRUE(forwards && backwards);
  EXPECT_EQ(count.size(), kinds.size());
  for (const auto& [kind, n] : count) EXPECT_LE(std::abs(n - count.begin()->second), 1);

  // Each kind of run has its own faults; without a file system of its own no disk faults.
  auto has = [](const std::vector<FaultKind>& list, FaultKind kind) {
    return std::find(list.begin(), list.end(), kind) != list.end();
  };
  EXPECT_TRUE(has(kinds, FaultKind::GpsGarbage) && !has(kinds, FaultKind::RotctldHung));
  const std::vector<FaultKind> linux = FaultKinds(true, false);
  EXPECT_TRUE(has(linux, FaultKind::RotctldHung) && has(linux, FaultKind::Kill));
  EXPECT_FALSE(has(linux, FaultKind::ReceiverSilent) || has(linux, FaultKind::DiskFull));
}

TEST(ChaosPlan, UncoveredSecondsAndLockSpans) {
  EXPECT_DOUBLE_EQ(UncoveredSeconds({0, 100}, {}), 100);
  EXPECT_DOUBLE_EQ(UncoveredSeconds({0, 100}, {{10, 20}, {15, 30}, {90, 200}}), 70);
  EXPECT_DOUBLE_EQ(UncoveredSeconds({0, 100}, {{-5, 50}, {50, 100}}), 0);
  EXPECT_DOUBLE_EQ(UncoveredSeconds({0, 100}, {{200, 300}, {-50, -10}}), 100);

  CaptureFileContents contents;
  contents.entries = {CaptureMarker{MarkerKind::SyncAcquired, 30, 100},
                      CaptureFrameRun{10, 10},
                      CaptureMarker{MarkerKind::SyncLost, 0, 160},
                      CaptureMarker{MarkerKind::SyncAcquired, 30, 170},
                      CaptureMarker{MarkerKind::SyncAcquired, 30, 175},
                      CaptureMarker{MarkerKind::EndOfCapture, 0, 400}};
  EXPECT_EQ(LockSpans(contents), (std::vector<Span>{{100, 160}, {170, 400}}));
}

TEST(ChaosPlan, APassIsCapturedOrInsideAFault) {
  soak::ListedPass pass;
  pass.code = "N15";
  pass.aos = 1000;
  pass.los = 1600;
  soak::CaptureCheck good;
  good.code = "N15";
  good.acquiredTime = 1030;
  good.endTime = 1570;
  soak::CaptureCheck other = good;
  other.code = "N16";
  soak::CaptureCheck broken = good;
  broken.fault = "no frames";
  // Captured, in lock from 1030 to 1300 and 1400 to 1570: 100 s lost between 1060 and 1540.
  PassAccount a = AccountPass(pass, {other, broken, good},
                              {{{1000, 1600}}, {{1000, 1600}}, {{1030, 1300}, {1400, 1570}}}, {});
  EXPECT_TRUE(a.captured && a.accounted);
  EXPECT_DOUBLE_EQ(a.lostSeconds, 100);
  EXPECT_FALSE(a.fault);
  // The gap inside a fault's window is the fault's own: nothing lost beyond it.
  a = AccountPass(pass, {good}, {{{1030, 1300}, {1400, 1570}}}, {{100, 200}, {1290, 1410}});
  EXPECT_DOUBLE_EQ(a.lostSeconds, 0);
  EXPECT_EQ(a.fault, 1u);
  // Not captured: accounted for only when the windows cover the whole pass.
  a = AccountPass(pass, {other, broken}, {{{1000, 1600}}, {{1000, 1600}}}, {{900, 1300}});
  EXPECT_FALSE(a.captured || a.accounted);
  EXPECT_DOUBLE_EQ(a.lostSeconds, 240);
  EXPECT_TRUE(AccountPass(pass, {}, {}, {{900, 1300}, {1300, 1700}}).accounted);
  // A fault that ended more than 61 s before AOS touches no pass; a capture that ended then
  // is another pass's.
  soak::CaptureCheck early = good;
  early.endTime = 938;
  a = AccountPass(pass, {early}, {{{900, 938}}}, {{500, 938}});
  EXPECT_FALSE(a.captured || a.fault);
}

TEST(ChaosPlan, NewerElementSetsOfTheSameOrbit) {
  // A published set with its checksums (the last digit of each line).
  const std::string one = "1 25544U 98067A   08264.51782528 -.00002182  00000-0 -11606-4 0  2927";
  const std::string two = "2 25544  51.6416 247.4627 0006703 130.5360 325.0288 15.72125391563537";
  EXPECT_EQ(ElementLineChecksum(one), 7);
  EXPECT_EQ(ElementLineChecksum(two), 7);
  // A tenth of a day on: 1.572 revolutions, 565.97 degrees of mean anomaly.
  const auto [newOne, newTwo] = MoveEpoch(one, two, 0.1);
  EXPECT_EQ(newOne.substr(18, 14), "08264.61782528");
  EXPECT_EQ(newTwo.substr(43, 8), "170.9939");
  EXPECT_EQ(newOne.size(), one.size());
  EXPECT_EQ(newTwo.size(), two.size());
  EXPECT_EQ(newOne[68] - '0', ElementLineChecksum(newOne));
  EXPECT_EQ(newTwo[68] - '0', ElementLineChecksum(newTwo));
  EXPECT_EQ(newOne.substr(0, 18), one.substr(0, 18));
  EXPECT_EQ(newTwo.substr(52), two.substr(52, 16) + newTwo.substr(68));
}

}  // namespace
}  // namespace halvik::chaos
