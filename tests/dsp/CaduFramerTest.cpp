#include "dsp/CaduFramer.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "sim/PmModulator.h"
#include "support/TestCadu.h"

namespace halvik {
namespace {

constexpr std::size_t kCaduBits = kCaduBytes * 8;

// `lead` random bits, then the CADUs' bits, then a few random bits more.
struct Stream {
  std::vector<std::vector<std::uint16_t>> sent;
  std::vector<std::uint8_t> bits;
  std::size_t start = 0;  // of the first CADU

  Stream(int cadus, std::size_t lead) {
    std::mt19937 random(7);
    for (std::size_t i = 0; i < lead; ++i) bits.push_back(static_cast<std::uint8_t>(random() & 1));
    start = bits.size();
    for (int i = 0; i < cadus; ++i) {
      sent.push_back(TestCadu(static_cast<unsigned>(100 + i)));
      AppendWordBits(sent.back(), 8, bits);
    }
    for (int i = 0; i < 40; ++i) bits.push_back(static_cast<std::uint8_t>(random() & 1));
  }
  // Flips `errors` bits of CADU `cadu`'s marker, in what is sent and in what should come out.
  void DamageMarker(std::size_t cadu, int errors) {
    for (int k = 0; k < errors; ++k) {
      const auto bit = static_cast<std::size_t>(k * 9 % 32);
      bits[At(cadu, bit)] ^= 1;
      sent[cadu][bit / 8] ^= static_cast<std::uint16_t>(0x80 >> (bit % 8));
    }
  }
  std::size_t At(std::size_t cadu, std::size_t bit) const { return start + cadu * kCaduBits + bit; }
};

struct Framed {
  std::vector<std::vector<std::uint16_t>> cadus;
  CaduFramer framer;
  void Push(const std::vector<std::uint8_t>& bits, bool inverted) {
    std::vector<float> soft;
    for (std::uint8_t bit : bits) soft.push_back((bit != 0) != inverted ? 0.8f : -0.6f);
    // In uneven pieces, as the demodulator hands them over.
    for (std::size_t at = 0; at < soft.size(); at += 3001) {
      framer.Push(
          std::span(soft).subspan(at, std::min<std::size_t>(3001, soft.size() - at)),
          [this](std::span<const std::uint16_t> c) { cadus.emplace_back(c.begin(), c.end()); });
    }
  }
};

TEST(CaduFramer, LocksOnTwoMarkersInEitherPolarityAndFlywheelsOverDamagedOnes) {
  struct Case {
    const char* what;
    bool inverted;
    std::vector<int> markerErrors;  // per CADU sent
    std::vector<std::size_t> out;   // CADUs expected out, in order
    std::int64_t withSync;
    bool lockedAtEnd;
  };
  const Case cases[] = {
      {"clean", false, {0, 0, 0, 0}, {0, 1, 2, 3}, 4, true},
      {"inverted, the allowance in both lock markers", true, {3, 3, 0, 2}, {0, 1, 2, 3}, 4, true},
      {"first marker beyond the allowance: lock one CADU later",
       true,
       {4, 0, 0, 0},
       {1, 2, 3},
       3,
       true},
      {"three damaged markers ride the flywheel",
       false,
       {0, 0, 0, 4, 9, 16, 0, 0},
       {0, 1, 2, 3, 4, 5, 6, 7},
       5,
       true},
      {"a fourth one drops lock; two markers take it again",
       true,
       {0, 0, 4, 5, 6, 7, 0, 0, 0},
       {0, 1, 2, 3, 4, 6, 7, 8},
       5,
       true},
      {"noise only", false, {}, {}, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Stream stream(static_cast<int>(c.markerErrors.size()), 30000);
    for (std::size_t i = 0; i < c.markerErrors.size(); ++i) {
      stream.DamageMarker(i, c.markerErrors[i]);
    }
    Framed framed;
    framed.Push(stream.bits, c.inverted);
    ASSERT_EQ(framed.cadus.size(), c.out.size());
    for (std::size_t i = 0; i < c.out.size(); ++i) {
      EXPECT_EQ(framed.cadus[i], stream.sent[c.out[i]]) << "CADU " << c.out[i];
    }
    EXPECT_EQ(framed.framer.framesOut(), static_cast<std::int64_t>(c.out.size()));
    EXPECT_EQ(framed.framer.framesWithSync(), c.withSync);
    EXPECT_EQ(framed.framer.locked(), c.lockedAtEnd);
  }
}

TEST(CaduFramer, ABitSlipOrAHalfTurnCostsOnlyTheCaduItHappensIn) {
  Stream stream(10, 500);
  // Pieces counted from the end, so earlier positions hold.
  for (std::size_t at = stream.At(7, 0); at < stream.At(10, 0); ++at) stream.bits[at] ^= 1;
  stream.bits.insert(stream.bits.begin() + static_cast<std::ptrdiff_t>(stream.At(4, 3000)), 1);
  stream.bits.erase(stream.bits.begin() + static_cast<std::ptrdiff_t>(stream.At(2, 5000)));
  Framed framed;
  framed.Push(stream.bits, false);
  // The CADU with the lost bit and the one with the extra bit come out damaged; the marker
  // after each is found a bit early or late and its CADU is whole again, as are those after
  // the inversion.
  ASSERT_EQ(framed.cadus.size(), 10u);
  for (std::size_t i = 0; i < 10; ++i) {
    EXPECT_EQ(framed.cadus[i] == stream.sent[i], i != 2 && i != 4) << "CADU " << i;
  }
  EXPECT_EQ(framed.framer.framesWithSync(), 10);
  EXPECT_TRUE(framed.framer.locked());
}

}  // namespace
}  // namespace halvik
