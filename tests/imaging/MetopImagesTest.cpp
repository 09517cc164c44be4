#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "capture/Avhrr3.h"
#include "imaging/CaptureImages.h"
#include "sim/HrptFrame.h"
#include "sim/MetopFrame.h"
#include "support/TempDir.h"

extern "C" {
#include <fec.h>
}

namespace halvik {
namespace {

// Metop CADUs in the tests' own numbers, after the CCSDS recommendations: the VCDU header from
// byte 4 (version 01, spacecraft id, virtual channel; 24-bit counter), the 11-bit first-header
// pointer in bytes 10-11, the packet zone in bytes 12-895 and four interleaved (255,223)
// codewords' check bytes in 896-1023.
using Cadu = std::array<std::uint8_t, 1024>;

void PutCheckBytes(Cadu& cadu) {
  for (int c = 0; c < 4; ++c) {
    std::uint8_t data[223], parity[32];
    for (int k = 0; k < 223; ++k) data[k] = cadu[static_cast<std::size_t>(4 + c + 4 * k)];
    encode_rs_ccsds(data, parity, 0);
    for (int k = 0; k < 32; ++k) cadu[static_cast<std::size_t>(896 + c + 4 * k)] = parity[k];
  }
}

Cadu Header(int spacecraft, int channel, std::uint32_t counter, int pointer) {
  Cadu cadu{0x1A, 0xCF, 0xFC, 0x1D};
  const unsigned id =
      0x4000u | static_cast<unsigned>(spacecraft << 6) | static_cast<unsigned>(channel);
  cadu[4] = static_cast<std::uint8_t>(id >> 8);
  cadu[5] = static_cast<std::uint8_t>(id);
  for (int i = 0; i < 3; ++i) cadu[6 + i] = static_cast<std::uint8_t>(counter >> (16 - 8 * i));
  cadu[10] = static_cast<std::uint8_t>(pointer >> 8);
  cadu[11] = static_cast<std::uint8_t>(pointer);
  return cadu;
}

// Packets back to back on virtual channel 9, cut into zones of 884 bytes.
std::vector<Cadu> ToCadus(const std::vector<std::vector<std::uint8_t>>& packets, int spacecraft,
                          std::uint32_t counter) {
  std::vector<std::uint8_t> stream;
  std::vector<std::size_t> starts;
  for (const auto& packet : packets) {
    starts.push_back(stream.size());
    stream.insert(stream.end(), packet.begin(), packet.end());
  }
  std::vector<Cadu> cadus;
  for (std::size_t at = 0; at < stream.size(); at += 884, counter = (counter + 1) & 0xFFFFFF) {
    const auto next = std::lower_bound(starts.begin(), starts.end(), at);
    const int pointer =
        next != starts.end() && *next < at + 884 ? static_cast<int>(*next - at) : 0x7FF;
    Cadu& cadu = cadus.emplace_back(Header(spacecraft, 9, counter, pointer));
    // Past the stream's end, the start of an idle packet that never ends.
    for (std::size_t i = 0; i < 884; ++i)
      cadu[12 + i] = at + i < stream.size() ? stream[at + i] : 0xFF;
    PutCheckBytes(cadu);
  }
  return cadus;
}

// An AVHRR/3 line packet of 12966 bytes: primary header, days since 2000 and ms of day, and the
// 10-bit words from byte 20, earth view from word 55, channels interleaved pixel by pixel.
std::vector<std::uint8_t> AvhrrPacket(int apid, int days, std::uint32_t ms,
                                      const std::function<int(int, int)>& sample) {
  std::vector<std::uint8_t> p(12966);
  p[0] = static_cast<std::uint8_t>(0x08 | (apid >> 8));
  p[1] = static_cast<std::uint8_t>(apid);
  p[2] = 0xC0;
  p[4] = 0x32;  // 12959: the data field's length less one
  p[5] = 0x9F;
  p[6] = static_cast<std::uint8_t>(days >> 8);
  p[7] = static_cast<std::uint8_t>(days);
  for (int i = 0; i < 4; ++i)
    p[static_cast<std::size_t>(8 + i)] = static_cast<std::uint8_t>(ms >> (24 - 8 * i));
  for (int w = 0; w < 5 * 2048; ++w) {
    const int bit = (55 + w) * 10;
    const unsigned value = static_cast<unsigned>(sample(w % 5, w / 5)) & 0x3FF;
    for (int b = 0; b < 10; ++b) {
      if ((value >> (9 - b)) & 1)
        p[static_cast<std::size_t>(20 + (bit + b) / 8)] |=
            static_cast<std::uint8_t>(0x80 >> ((bit + b) % 8));
    }
  }
  return p;
}

// Another instrument's packet of `bytes`.
std::vector<std::uint8_t> OtherPacket(int apid, int bytes) {
  std::vector<std::uint8_t> p(static_cast<std::size_t>(bytes), 0xA5);
  p[0] = static_cast<std::uint8_t>(apid >> 8);
  p[1] = static_cast<std::uint8_t>(apid);
  p[2] = 0xC0;
  p[3] = 0;
  p[4] = static_cast<std::uint8_t>((bytes - 7) >> 8);
  p[5] = static_cast<std::uint8_t>(bytes - 7);
  return p;
}

int Pattern(int line, int channel, int pixel) {
  return (line * 97 + channel * 211 + pixel) % 1024;
}

std::vector<Avhrr3Line> Read(const std::vector<Cadu>& cadus, Avhrr3Reader& reader) {
  std::vector<Avhrr3Line> lines;
  for (const Cadu& cadu : cadus) {
    if (reader.Push(std::span<const std::uint8_t, 1024>(cadu)) == Avhrr3Event::Line)
      lines.push_back(reader.Line());
  }
  return lines;
}

TEST(Avhrr3, LiteralBytesOfAPacketBecomeTheLine) {
  std::vector<std::uint8_t> packet = AvhrrPacket(103, 0, 0, [](int, int) { return 0; });
  // Days 9320 (2025-07-08), ms 43,200,123; word 55 (channel 1, pixel 0) = 0x3FF, word 56
  // (channel 2, pixel 0) = 0x201, word 10294 (channel 5, pixel 2047) = 0x297.
  const std::pair<std::size_t, std::vector<std::uint8_t>> bytes[] = {
      {6, {0x24, 0x68, 0x02, 0x93, 0x2E, 0x7B}},
      {88, {0x03, 0xFF, 0x80, 0x40}},
      {12887, {0x0A, 0x5C}}};
  for (const auto& [at, values] : bytes)
    std::copy(values.begin(), values.end(), packet.begin() + static_cast<long>(at));
  Avhrr3Reader reader;
  const std::vector<Avhrr3Line> lines =
      Read(ToCadus({packet, OtherPacket(37, 900)}, 13, 5), reader);
  ASSERT_EQ(lines.size(), 1u);
  const Avhrr3Line& line = lines[0];
  EXPECT_EQ(line.utcMs, 1751976000000 + 123);  // 2025-07-08T12:00:00.123Z
  EXPECT_TRUE(line.channel3A);
  EXPECT_EQ(line.spacecraftId, 13);
  EXPECT_EQ(line.Channel(0)[0], 0x3FF);
  EXPECT_EQ(line.Channel(1)[0], 0x201);
  EXPECT_EQ(line.Channel(4)[2047], 0x297);
  EXPECT_EQ(line.Channel(2)[0], 0);
  EXPECT_EQ(reader.counts().packetsPerApid[103], 1);
}

TEST(Avhrr3, PacketsAcrossCadusLostAndUncorrectableCadus) {
  std::vector<std::vector<std::uint8_t>> packets;
  for (int k = 0; k < 4; ++k) {
    packets.push_back(OtherPacket(37, 300 + 50 * k));
    packets.push_back(AvhrrPacket(k == 3 ? 103 : 104, 9320, 1000u * static_cast<unsigned>(k),
                                  [k](int c, int p) { return Pattern(k, c, p); }));
  }
  packets.push_back(OtherPacket(0x7FF, 1000));                     // idle, to close the last line
  const std::vector<Cadu> whole = ToCadus(packets, 11, 0xFFFFFE);  // the counter wraps
  // Line k's packet starts at byte 300 + 50 k + sum of the earlier packets: CADU 16 lies inside
  // line 1's, CADU 46 inside line 3's, CADU 31 inside line 2's.
  struct Case {
    const char* what;
    std::function<void(std::vector<Cadu>&)> change;
    std::vector<int> lines;  // which lines come out whole
    std::int64_t lost, uncorrectable, failedWords, corrected;
  };
  const std::vector<Case> cases = {
      {"whole", [](std::vector<Cadu>&) {}, {0, 1, 2, 3}, 0, 0, 0, 0},
      {"a CADU lost", [](std::vector<Cadu>& c) { c.erase(c.begin() + 16); }, {0, 2, 3}, 1, 0, 0, 0},
      {"fill between",
       [](std::vector<Cadu>& c) {
         Cadu fill = Header(11, 63, 0, 0x7FE);
         PutCheckBytes(fill);
         c.insert(c.begin() + 20, fill);
       },
       {0, 1, 2, 3},
       0,
       0,
       0,
       0},
      {"past correcting",
       [](std::vector<Cadu>& c) {
         for (int k = 0; k < 17; ++k) c[46][static_cast<std::size_t>(100 + 4 * k)] ^= 0x5A;
       },
       {0, 1, 2},
       0,
       1,
       1,
       0},
      {"corrected",
       [](std::vector<Cadu>& c) {
         for (int k = 0; k < 16; ++k) c[31][static_cast<std::size_t>(101 + 4 * k)] ^= 0x33;
         c[5][1000] ^= 1;
       },
       {0, 1, 2, 3},
       0,
       0,
       0,
       17}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<Cadu> cadus = whole;
    c.change(cadus);
    Avhrr3Reader reader(true);
    const std::vector<Avhrr3Line> lines = Read(cadus, reader);
    ASSERT_EQ(lines.size(), c.lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
      const int k = c.lines[i];
      EXPECT_EQ(lines[i].utcMs, 1751932800000 + 1000 * k);
      EXPECT_EQ(lines[i].channel3A, k == 3);
      for (int ch = 0; ch < 5; ++ch)
        for (int p = 0; p < 2048; p += 31)
          ASSERT_EQ(lines[i].Channel(ch)[p], Pattern(k, ch, p)) << k << " " << ch << " " << p;
    }
    const Avhrr3Reader::Counts& n = reader.counts();
    EXPECT_EQ(n.linesCut, 4 - static_cast<std::int64_t>(c.lines.size()));
    EXPECT_EQ(n.cadusLost, c.lost);
    EXPECT_EQ(n.uncorrectable, c.uncorrectable);
    EXPECT_EQ(n.rsFailedCodewords, c.failedWords);
    EXPECT_EQ(n.rsCorrectedBytes, c.corrected);
    EXPECT_EQ(n.packetsBroken, 0);
    EXPECT_EQ(n.packetsPerApid[37] + n.packetsPerApid[103] + n.packetsPerApid[104],
              4 + static_cast<std::int64_t>(c.lines.size()));
    EXPECT_EQ(n.packetsPerApid[0x7FF], 1);
  }
}

// A METOP-C element set (catalogue 43689) near 2025-07-08 12:00 with the given mean anomaly.
std::vector<std::string> MetopCElements(const char* meanAnomaly) {
  auto checksummed = [](std::string line) {
    int sum = 0;
    for (char ch : line) sum += ch == '-' ? 1 : (ch >= '0' && ch <= '9' ? ch - '0' : 0);
    return line + std::to_string(sum % 10);
  };
  return {checksummed("1 43689U 18087A   25189.50000000  .00000100  00000-0  60000-4 0  999"),
          checksummed("2 43689  98.7000 100.0000 0001000  90.0000 " + std::string(meanAnomaly) +
                      " 14.21000000 1000")};
}

struct Picture {
  int width = 0, height = 0;
  std::vector<std::uint8_t> pixels;
  int at(int column, int row) const {
    return pixels[static_cast<std::size_t>(row) * width + column];
  }
};

Picture ReadPng(const std::filesystem::path& path) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  Picture picture;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return picture;
  image.format = PNG_FORMAT_GRAY;
  picture.width = static_cast<int>(image.width);
  picture.height = static_cast<int>(image.height);
  picture.pixels.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, picture.pixels.data(), 0, nullptr)) return {};
  return picture;
}

TEST(MetopImages, PatternPicturedInOrderNorthUpAndTheSpacecraftChecked) {
  const struct {
    int spacecraft;
    const char* meanAnomaly;
  } cases[] = {{13, "160.0000"}, {13, "340.0000"}, {11, "160.0000"}};
  std::vector<bool> turns;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.spacecraft) + " " + c.meanAnomaly);
    std::vector<std::vector<std::uint8_t>> packets;
    for (int k = 0; k < 12; ++k) {
      packets.push_back(
          AvhrrPacket(104, 9320, 43200000u + static_cast<unsigned>(k * 1000 / 6),
                      [k](int ch, int p) { return ch == 1 ? (k + 1) * 40 : p * 1023 / 2047; }));
    }
    packets.push_back(OtherPacket(0x7FF, 900));
    std::vector<Cadu> cadus = ToCadus(packets, c.spacecraft, 40);
    cadus.erase(cadus.begin() + 95);  // inside line 6: bytes 77796-90762, CADUs 88-102
    std::string bytes;
    for (const Cadu& cadu : cadus) bytes.append(cadu.begin(), cadu.end());
    TempDir dir;
    dir.Write("We08JulA.mtp.cadu", bytes);
    nlohmann::json pass = {{"satellite", "METOP-C"},
                           {"start_utc", "2025-07-08T12:00:00Z"},
                           {"element_set", MetopCElements(c.meanAnomaly)}};
    dir.Write("We08JulA.mtp.pass.json", pass.dump());
    std::ostringstream out, err;
    ASSERT_EQ(ImageCaptureFile(dir.path() / "We08JulA.mtp.cadu", std::nullopt, out, err), 0)
        << err.str();
    const nlohmann::json record = nlohmann::json::parse(dir.Read("We08JulA.mtp.json"));
    ASSERT_TRUE(record["northbound"].is_boolean()) << record.dump();
    const bool turned = record["northbound"].get<bool>();
    turns.push_back(turned);
    std::vector<Picture> ch;
    for (int k = 1; k <= 5; ++k) {
      ch.push_back(ReadPng(dir.path() / ("We08JulA.mtp.ch" + std::to_string(k) + ".png")));
      ASSERT_EQ(ch.back().width * 100 + ch.back().height, 2048 * 100 + 12);
    }
    auto row = [&](int k) { return turned ? 11 - k : k; };
    auto column = [&](int p) { return turned ? 2047 - p : p; };
    EXPECT_LT(ch[0].at(column(100), row(3)), ch[0].at(column(1900), row(3)));
    // Thermal channel 4's counts fall with temperature: high counts are cold, white.
    EXPECT_LT(ch[3].at(column(100), row(3)), ch[3].at(column(1900), row(3)));
    EXPECT_LT(ch[1].at(700, row(2)), ch[1].at(700, row(10)));
    for (int x = 0; x < 2048; x += 7) EXPECT_EQ(ch[0].at(x, row(6)), 0) << x;
    const bool mismatch = c.spacecraft != 13;
    const nlohmann::json expected = {
        {"family", "metop"},
        {"scan_lines", 12},
        {"black_lines", 1},
        {"lines_cut", 1},
        {"cadus_lost", 1},
        {"lines_3b", 11},
        {"lines_3a", 0},
        {"rs_uncorrectable_codewords", 0},
        {"packets_per_apid", {{"104", 11}, {"2047", 1}}},
        {"spacecraft_ids", {{{"spacecraft_id", c.spacecraft}, {"vcdus", cadus.size()}}}},
        {"expected_spacecraft_id", 13},
        {"spacecraft_mismatch", mismatch},
        {"first_line_utc", "2025-07-08T12:00:00.000Z"},
        {"last_line_utc", "2025-07-08T12:00:01.833Z"}};
    for (const auto& [key, value] : expected.items()) EXPECT_EQ(record[key], value) << key;
    const std::string warning = err.str();
    EXPECT_EQ(std::count(warning.begin(), warning.end(), '\n'), mismatch ? 1 : 0) << warning;
    if (mismatch) {
      EXPECT_NE(warning.find("spacecraft 11, not 13 of METOP-C"), std::string::npos);
    }
  }
  EXPECT_NE(turns[0], turns[1]);
}

TEST(MetopImages, SimulatedCadusDecodeCleanIntoTheScene) {
  sim::MetopStream stream("METOP-B");
  const std::int64_t first = sim::CaduNumberAt(SatelliteFamily::Metop, 1751976000000.0);
  Avhrr3Reader reader(true);
  std::vector<Avhrr3Line> lines;
  Cadu cadu{};
  int avhrr = 0;
  for (std::int64_t n = first; n < first + 600; ++n) {
    stream.Cadu(n, 0.3, cadu);
    Cadu copy = cadu;
    const CaduCheck check = CorrectCadu(copy);
    ASSERT_EQ(check.failedCodewords + check.correctedBytes, 0) << n;
    avhrr += (cadu[5] & 0x3F) == 9 ? 1 : 0;
    if (reader.Push(std::span<const std::uint8_t, 1024>(cadu)) == Avhrr3Event::Line)
      lines.push_back(reader.Line());
  }
  // 600 CADUs last 1.40 s: the AVHRR's 6 lines a second take 88 of the 427 CADUs a second.
  EXPECT_NEAR(avhrr, 600 * 88 / 427, 2);
  ASSERT_GE(lines.size(), 7u);
  std::vector<std::uint16_t> visible(2048), thermal(2048);
  sim::SceneLine(0.3, visible, thermal);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].spacecraftId, 11);
    EXPECT_FALSE(lines[i].channel3A);
    if (i > 0) {
      EXPECT_NEAR(static_cast<double>(lines[i].utcMs - lines[i - 1].utcMs), 1000.0 / 6, 1);
    }
    for (int p = 0; p < 2048; p += 13) {
      ASSERT_EQ(lines[i].Channel(0)[p], visible[static_cast<std::size_t>(p)]) << p;
      ASSERT_EQ(lines[i].Channel(4)[p], thermal[static_cast<std::size_t>(p)]) << p;
    }
  }
  EXPECT_EQ(reader.counts().gaps, 0);
  EXPECT_EQ(reader.counts().packetsBroken, 0);
  EXPECT_GT(reader.counts().otherVcdus, 400);
}

}  // namespace
}  // namespace halvik
