// The web interface of a station on the simulated boards, asked during a pass with a real HTTP
// client. One station run serves every check: its answers are gathered while the capture is
// receiving and judged by the checks below.
#include <gtest/gtest.h>
#include <httplib.h>

#include <QGuiApplication>
#include <cmath>
#include <cstdlib>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>
#include <vector>

#include "e2e/StationRig.h"
#include "orbit/PropagateListing.h"
#include "platform/Files.h"
#include "ui/qt/StatusPng.h"
#include "web/RawClient.h"
#include "web/WebServer.h"

namespace halvik::web {
namespace {

using enum CaptureStateValue;

using nlohmann::json;

struct Answer {
  int status = 0;  // 0: no answer
  std::string body;
  std::string type;
  std::string tag;  // ETag
};

// What the station looked like just before and just after a request.
struct Around {
  CaptureStateValue captureStateBefore{}, captureStateAfter{};
  std::int64_t framesBefore = 0, framesAfter = 0;
  double frequencyBefore = 0, frequencyAfter = 0;
  float azimuthBefore = 0;
};

struct Gathered {
  bool askedDuringPass = false;
  std::map<std::string, Answer> answers;  // by request
  std::map<std::string, int> rawStatus;   // status of a hand-written request, by name
  Around status;
  std::int64_t framesAfterAbuse = 0;
  std::int64_t framesBeforeAbuse = 0;
  std::int64_t framesAtEnd = 0;
  std::string captureAfterPass;  // /captures.json after the pass
  std::string metricsAfterPass;
  std::int64_t capturesFinished = 0;
  std::string thumbBytes;
  std::string passesListing;   // `halvik passes` around the sky plot's pass
  int historyAgainStatus = 0;  // /history.svg asked again with its tag
};

// The value of attribute `name` in the first element that has it; empty when none does.
std::string Attribute(const std::string& svg, const std::string& name) {
  std::smatch m;
  const std::regex pattern(" " + name + "=\"([^\"]*)\"");
  return std::regex_search(svg, m, pattern) ? m[1].str() : std::string();
}

constexpr const char* kThumb = "\x89PNG\r\n\x1a\nnot really a picture";

Answer Ask(httplib::Client& client, const std::string& path, const httplib::Headers& headers = {}) {
  Answer answer;
  if (auto res = client.Get(path.c_str(), headers)) {
    answer.status = res->status;
    answer.body = res->body;
    answer.type = res->get_header_value("Content-Type");
    answer.tag = res->get_header_value("ETag");
  }
  return answer;
}

void Gather(Gathered& out) {
  e2e::RigOptions options;
  options.prepare = [](const std::filesystem::path& dir) {
    // Captures of earlier days, as the image tool leaves them; one record broken, and a link
    // that points out of the station directory under a capture's name.
    WriteFileAtomically(dir / "Mo01JanA.N15", std::string(4096, 'x'));
    WriteFileAtomically(dir / "Mo01JanA.N15.thumb.png", kThumb);
    WriteFileAtomically(dir / "Mo01JanA.N15.ch2.png", kThumb);
    WriteFileAtomically(dir / "Mo01JanA.N15.json",
                        R"({"capture": "Mo01JanA.N15", "satellite": "NOAA 15", "family": "noaa",
                              "lock_fraction": 0.93, "bit_error_rate": 2.5e-05, "scan_lines": 4200})");
    WriteFileAtomically(dir / "Mo01JanB.N16", std::string(100, 'y'));
    WriteFileAtomically(dir / "Mo01JanB.N16.json", "{\"capture\": \"Mo01Ja");
    std::filesystem::create_symlink("/etc/hostname", dir / "Mo01JanC.N15");
  };
  e2e::StationRig rig(options);
  WebServer server(rig.station(), nullptr, RenderStatusPng);
  ASSERT_EQ(server.Start({"127.0.0.1", 0}), "");
  const int port = server.port();
  httplib::Client client("127.0.0.1", port);
  client.set_read_timeout(20, 0);
  out.thumbBytes = kThumb;

  auto ask = [&](const std::string& path, const httplib::Headers& headers = {}) {
    out.answers[path] = Ask(client, path, headers);
  };
  auto during = [&](Station& station) {
    CaptureStatus& capture = station.captureStatus;
    if (out.askedDuringPass || capture.CaptureState != ReceivingData || capture.FramesWritten < 100)
      return;
    out.askedDuringPass = true;
    Around& around = out.status;
    around.captureStateBefore = capture.CaptureState;
    around.framesBefore = capture.FramesWritten;
    around.frequencyBefore = station.receiver.ReceiverFrequency();
    around.azimuthBefore = station.antennaState.AntennaAzimuth;
    ask("/status.json");
    around.captureStateAfter = capture.CaptureState;
    around.framesAfter = capture.FramesWritten;
    around.frequencyAfter = station.receiver.ReceiverFrequency();
    for (const char* path : {"/",
                             "/passes.json?hours=24",
                             "/passes.json?hours=168",
                             "/passes.json",
                             "/metrics",
                             "/captures.json",
                             "/snapshot.png",
                             "/sky.svg",
                             "/map.svg",
                             "/history.svg",
                             "/captures/Mo01JanA.N15.thumb.png",
                             "/captures/Mo01JanA.N15",
                             "/passes.json?hours=0",
                             "/passes.json?hours=169",
                             "/passes.json?hours=abc",
                             "/passes.json?hours=-5",
                             "/passes.json?hours=24&hours=2",
                             "/captures/Mo01JanC.N15",
                             "/captures/..%2Fsats.dat",
                             "/captures/%2e%2e%2fsats.dat",
                             "/captures/sats.dat",
                             "/captures/%2Fetc%2Fpasswd",
                             "/captures/Mo01JanA.N15%2F..",
                             "/captures/",
                             "/captures",
                             "/sats.dat",
                             "/nothing",
                             "/status.json/x"}) {
      ask(path);
    }
    if (auto res =
            client.Get("/history.svg", {{"If-None-Match", out.answers["/history.svg"].tag}})) {
      out.historyAgainStatus = res->status;
    }
    out.framesBeforeAbuse = capture.FramesWritten;
    // Clients that stop half-way through their request hold no worker.
    std::vector<int> stalled;
    for (int i = 0; i < kWebWorkers - 1; ++i) {
      stalled.push_back(SendRaw(port, "GET /status.json HTTP/1.1\r\nHost: x\r\n"));
    }
    // Within less than the server's read time-out: a pool all held by them would not answer.
    httplib::Client quick("127.0.0.1", port);
    quick.set_connection_timeout(3, 0);
    quick.set_read_timeout(3, 0);
    out.answers["beside stalled clients"] = Ask(quick, "/status.json");
    for (int fd : stalled) close(fd);
    httplib::Headers many;
    for (int i = 0; i < 200; ++i) many.emplace("X-Filler-" + std::to_string(i), "1");
    out.answers["/status.json#many-headers"] = Ask(client, "/status.json", many);
    out.rawStatus["garbage"] = RawStatus(port, "GARBAGE\r\n\r\n");
    out.rawStatus["dot-dot"] =
        RawStatus(port, "GET /captures/../sats.dat HTTP/1.1\r\nHost: x\r\n\r\n");
    out.rawStatus["absolute"] =
        RawStatus(port, "GET /captures//etc/passwd HTTP/1.1\r\nHost: x\r\n\r\n");
    out.rawStatus["post"] =
        RawStatus(port, "POST /status.json HTTP/1.1\r\nHost: x\r\nContent-Length: 2\r\n\r\n{}");
    out.rawStatus["delete"] =
        RawStatus(port, "DELETE /captures/Mo01JanA.N15 HTTP/1.1\r\nHost: x\r\n\r\n");
    out.rawStatus["bad-version"] = RawStatus(port, "GET / HTTP/9.9\r\nHost: x\r\n\r\n");
    out.rawStatus["get-body"] = RawStatus(
        port, "GET /status.json HTTP/1.1\r\nHost: x\r\nContent-Length: 100000\r\n\r\nzzzz");
    out.rawStatus["chunked"] = RawStatus(
        port,
        "GET /status.json HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n");
    out.framesAfterAbuse = capture.FramesWritten;
  };
  ASSERT_TRUE(rig.Run(1, 3600, during));
  out.capturesFinished = rig.station().captureStatus.CapturesFinished;
  // What `halvik passes` lists around the sky plot's pass, from twenty minutes before its AOS.
  if (const std::optional<double> aos =
          ParseIsoUtc(Attribute(out.answers["/sky.svg"].body, "data-aos"))) {
    const std::string command = "cd '" + rig.dir().string() + "' && " + HALVIK_EXE +
                                " passes --from " + FormatIsoUtc(*aos - 1200) + " --hours 1";
    if (FILE* pipe = popen(command.c_str(), "r")) {
      char buffer[4096];
      std::size_t got = 0;
      while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out.passesListing.append(buffer, got);
      pclose(pipe);
    }
  }
  out.framesAtEnd = rig.station().captureStatus.FramesWritten;
  out.captureAfterPass = Ask(client, "/captures.json").body;
  out.metricsAfterPass = Ask(client, "/metrics").body;
  server.Stop();
}

const Answer& Get(const Gathered& g, const std::string& path) {
  return g.answers.at(path);
}

json Json(const Gathered& g, const std::string& path) {
  const Answer& answer = Get(g, path);
  EXPECT_EQ(answer.status, 200) << path;
  EXPECT_EQ(answer.type, "application/json") << path;
  json parsed = json::parse(answer.body, nullptr, false);
  EXPECT_FALSE(parsed.is_discarded()) << path << ": " << answer.body;
  return parsed;
}

void StatusDuringThePassMatchesTheStation(const Gathered& g) {
  ASSERT_TRUE(g.askedDuringPass);
  const Around& around = g.status;
  const json status = Json(g, "/status.json");
  ASSERT_TRUE(status.is_object());
  // ISO 8601 UTC to the second.
  const std::regex iso(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)");
  EXPECT_TRUE(std::regex_match(status.at("time_utc").get<std::string>(), iso));

  // The capture was receiving before and after the request, so the page says so.
  ASSERT_EQ(around.captureStateBefore, ReceivingData);
  ASSERT_EQ(around.captureStateAfter, ReceivingData);
  const json& capture = status.at("capture");
  EXPECT_EQ(capture.at("state"), CaptureStateCode(ReceivingData));
  EXPECT_EQ(capture.at("state_text"), "Receiving Data");
  const std::int64_t frames = capture.at("frames_written");
  EXPECT_GE(frames, around.framesBefore);
  EXPECT_LE(frames, around.framesAfter);
  EXPECT_LE(capture.at("frames_with_sync").get<std::int64_t>(), frames);
  EXPECT_GT(capture.at("frames_with_sync").get<std::int64_t>(), 0);
  EXPECT_GE(capture.at("bit_error_rate").get<double>(), 0.0);
  EXPECT_LT(capture.at("bit_error_rate").get<double>(), 0.01);
  ASSERT_TRUE(capture.at("satellite").is_string());

  // The receiver is tuned to the satellite's downlink, not the idle 1691 MHz.
  EXPECT_EQ(around.frequencyBefore, around.frequencyAfter);
  EXPECT_EQ(status.at("receiver").at("frequency_mhz").get<double>(), around.frequencyBefore);
  EXPECT_NE(around.frequencyBefore, 1691.0);
  EXPECT_TRUE(status.at("receiver").at("level_v").is_null());  // no window polls here

  const json& antenna = status.at("antenna");
  EXPECT_TRUE(antenna.at("powered"));
  EXPECT_NEAR(antenna.at("azimuth_deg").get<double>(), around.azimuthBefore, 5.0);
  EXPECT_TRUE(antenna.contains("elevation_deg"));

  // The satellite being recorded is the one followed, in its pass and with a LOS ahead.
  const json& followed = status.at("followed");
  ASSERT_TRUE(followed.is_object());
  EXPECT_EQ(followed.at("name"), capture.at("satellite"));
  EXPECT_EQ(status.at("passes_followed"), 1);
  bool seen = false;
  for (const json& satellite : status.at("satellites")) {
    for (const char* key : {"slot", "name", "latitude_deg", "longitude_deg", "azimuth_deg",
                            "elevation_deg", "in_pass", "next_event"}) {
      EXPECT_TRUE(satellite.contains(key)) << key;
    }
    if (satellite.at("slot") != followed.at("slot")) continue;
    seen = true;
    EXPECT_TRUE(satellite.at("in_pass"));
    EXPECT_EQ(satellite.at("next_event"), "los");
    EXPECT_GT(satellite.at("next_event_in_s").get<std::int64_t>(), 0);
    EXPECT_GT(satellite.at("elevation_deg").get<double>(), 0.0);
  }
  EXPECT_TRUE(seen);
  EXPECT_EQ(status.at("disk_free_bytes").get<double>(), 1e12);  // the rig's roomy disk
  EXPECT_TRUE(status.at("gps").contains("status"));
}

void PassesWithThePriorityDecision(const Gathered& g) {
  for (const char* path : {"/passes.json?hours=24", "/passes.json?hours=168", "/passes.json"}) {
    const json listing = Json(g, path);
    const int hours = listing.at("hours");
    EXPECT_EQ(hours, std::string(path).find("168") != std::string::npos ? 168 : 24);
    const double from = *ParseIsoUtc(listing.at("from_utc").get<std::string>());
    ASSERT_FALSE(listing.at("passes").empty()) << path;
    double previous = 0;
    int followed = 0;
    for (const json& pass : listing.at("passes")) {
      const double aos = *ParseIsoUtc(pass.at("aos_utc").get<std::string>());
      EXPECT_GE(aos, from);
      EXPECT_LT(aos, from + hours * 3600.0);
      EXPECT_GE(aos, previous);
      previous = aos;
      if (pass.at("los_utc").is_string()) {
        EXPECT_GT(*ParseIsoUtc(pass.at("los_utc").get<std::string>()), aos);
      }
      const std::string decision = pass.at("decision");
      EXPECT_TRUE(decision == "follow" || decision == "skip") << decision;
      followed += decision == "follow";
    }
    // The lowest slot's passes always go through.
    EXPECT_GT(followed, 0);
  }
  // A week holds about seven times the passes of a day.
  EXPECT_GT(Json(g, "/passes.json?hours=168").at("passes").size(),
            5 * Json(g, "/passes.json?hours=24").at("passes").size());
  for (const char* bad :
       {"/passes.json?hours=0", "/passes.json?hours=169", "/passes.json?hours=abc",
        "/passes.json?hours=-5", "/passes.json?hours=24&hours=2"}) {
    EXPECT_EQ(Get(g, bad).status, 400) << bad;
  }
}

void CapturesAndTheirFiles(const Gathered& g) {
  const json captures = Json(g, "/captures.json");
  std::map<std::string, json> byName;
  for (const json& capture : captures) byName[capture.at("name")] = capture;
  ASSERT_TRUE(byName.count("Mo01JanA.N15"));
  const json& good = byName["Mo01JanA.N15"];
  EXPECT_EQ(good.at("bytes"), 4096);
  EXPECT_EQ(good.at("thumbnail"), "Mo01JanA.N15.thumb.png");
  EXPECT_EQ(good.at("images"), json::array({"Mo01JanA.N15.ch2.png"}));
  EXPECT_EQ(good.at("record").at("lock_fraction"), 0.93);
  // A broken record is reported as such; the link out of the directory is not a capture.
  EXPECT_TRUE(byName.at("Mo01JanB.N16").at("record").contains("error"));
  EXPECT_TRUE(byName.at("Mo01JanB.N16").at("thumbnail").is_null());
  EXPECT_FALSE(byName.count("Mo01JanC.N15"));

  const Answer& thumb = Get(g, "/captures/Mo01JanA.N15.thumb.png");
  EXPECT_EQ(thumb.status, 200);
  EXPECT_EQ(thumb.type, "image/png");
  EXPECT_EQ(thumb.body, g.thumbBytes);
  EXPECT_EQ(Get(g, "/captures/Mo01JanA.N15").body, std::string(4096, 'x'));

  // The pass recorded during the run is listed once it has its final name.
  EXPECT_EQ(g.capturesFinished, 1);
  const json after = json::parse(g.captureAfterPass);
  ASSERT_EQ(after.size(), 3u);
  EXPECT_NE(after[0].at("name").get<std::string>().substr(0, 7), "Mo01Jan");
  EXPECT_GT(after[0].at("bytes").get<std::int64_t>(), 100000);
}

void RefusesWhatIsNotServed(const Gathered& g) {
  for (const char* path :
       {"/captures/Mo01JanC.N15", "/captures/..%2Fsats.dat", "/captures/%2e%2e%2fsats.dat",
        "/captures/sats.dat", "/captures/%2Fetc%2Fpasswd", "/captures/Mo01JanA.N15%2F..",
        "/captures/", "/captures", "/sats.dat", "/nothing", "/status.json/x"}) {
    EXPECT_EQ(Get(g, path).status, 404) << path;
    EXPECT_EQ(Get(g, path).body.find("frames"), std::string::npos);
  }
  const std::map<std::string, int>& raw = g.rawStatus;
  EXPECT_EQ(raw.at("garbage"), 400);
  EXPECT_EQ(raw.at("dot-dot"), 404);
  EXPECT_EQ(raw.at("absolute"), 404);
  EXPECT_EQ(raw.at("post"), 405);
  EXPECT_EQ(raw.at("delete"), 405);
  EXPECT_EQ(raw.at("bad-version"), 400);
  EXPECT_EQ(raw.at("get-body"), 413);
  EXPECT_EQ(raw.at("chunked"), 413);
  EXPECT_EQ(Get(g, "/status.json#many-headers").status, 431);
  EXPECT_EQ(Get(g, "beside stalled clients").status, 200);
  // None of it held up the capture: it went on writing frames to the end of the pass.
  EXPECT_GE(g.framesAfterAbuse, g.framesBeforeAbuse);
  EXPECT_GT(g.framesAtEnd, g.framesAfterAbuse);
  EXPECT_EQ(g.capturesFinished, 1);
  EXPECT_EQ(Get(g, "/captures/Mo01JanA.N15").status, 200);
}

// The rules of the text exposition format that a scraper relies on.
void ExpectPrometheusText(const std::string& text, std::map<std::string, double>& samples) {
  const std::regex help(R"(# HELP ([a-zA-Z_:][a-zA-Z0-9_:]*) \S.*)");
  const std::regex type(
      R"(# TYPE ([a-zA-Z_:][a-zA-Z0-9_:]*) (counter|gauge|histogram|summary|untyped))");
  const std::regex sample(
      R"(([a-zA-Z_:][a-zA-Z0-9_:]*)(\{([a-zA-Z_][a-zA-Z0-9_]*="[^"\\]*")(,[a-zA-Z_][a-zA-Z0-9_]*="[^"\\]*")*\})? (\S+))");
  std::map<std::string, std::string> types;
  std::set<std::string> helped, sampled, series;
  ASSERT_FALSE(text.empty());
  ASSERT_EQ(text.back(), '\n');
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::smatch m;
    if (std::regex_match(line, m, help)) {
      EXPECT_TRUE(helped.insert(m[1]).second) << "second HELP: " << line;
      EXPECT_FALSE(sampled.count(m[1])) << "HELP after samples: " << line;
    } else if (std::regex_match(line, m, type)) {
      EXPECT_TRUE(types.emplace(m[1], m[2]).second) << "second TYPE: " << line;
      EXPECT_FALSE(sampled.count(m[1])) << "TYPE after samples: " << line;
      if (m[2] == "counter") {
        EXPECT_TRUE(std::string(m[1]).ends_with("_total")) << line;
      } else {
        EXPECT_FALSE(std::string(m[1]).ends_with("_total")) << line;
      }
    } else if (std::regex_match(line, m, sample)) {
      const std::string name = m[1];
      EXPECT_TRUE(name.starts_with("halvik_")) << line;
      EXPECT_TRUE(types.count(name)) << "sample without TYPE: " << line;
      EXPECT_TRUE(series.insert(name + std::string(m[2])).second) << "repeated series: " << line;
      const std::string value = m[5];
      char* end = nullptr;
      const double v = std::strtod(value.c_str(), &end);
      EXPECT_EQ(*end, '\0') << "value: " << line;
      if (types[name] == "counter") {
        EXPECT_GE(v, 0.0) << line;
      }
      sampled.insert(name);
      samples[name + std::string(m[2])] = v;
    } else {
      ADD_FAILURE() << "not exposition text: '" << line << "'";
    }
  }
}

void MetricsAreExpositionText(const Gathered& g) {
  const Answer& answer = Get(g, "/metrics");
  EXPECT_EQ(answer.status, 200);
  EXPECT_EQ(answer.type, "text/plain; version=0.0.4");
  std::map<std::string, double> during;
  ExpectPrometheusText(answer.body, during);
  for (const char* name :
       {"halvik_passes_followed_total", "halvik_passes_planned{decision=\"follow\"}",
        "halvik_passes_planned{decision=\"skip\"}", "halvik_captures_finished_total",
        "halvik_frames_written_total", "halvik_frames_with_sync_total", "halvik_capture_bit_errors",
        "halvik_receiver_locked", "halvik_disk_free_bytes", "halvik_clock_correction_seconds",
        "halvik_antenna_azimuth_degrees", "halvik_antenna_elevation_degrees", "halvik_gps_healthy",
        "halvik_process_cpu_seconds_total", "halvik_process_resident_memory_bytes"}) {
    EXPECT_TRUE(during.count(name)) << name;
  }
  EXPECT_EQ(during["halvik_passes_followed_total"], 1);
  EXPECT_EQ(during["halvik_capture_state"], CaptureStateCode(ReceivingData));
  EXPECT_GT(during["halvik_frames_written_total"], 0);
  EXPECT_GT(during["halvik_passes_planned{decision=\"follow\"}"], 0);
  EXPECT_GT(during["halvik_process_resident_memory_bytes"], 1e6);

  std::map<std::string, double> after;
  ExpectPrometheusText(g.metricsAfterPass, after);
  EXPECT_EQ(after["halvik_captures_finished_total"], 1);
  EXPECT_GE(after["halvik_frames_written_total"], during["halvik_frames_written_total"]);
  EXPECT_GE(after["halvik_process_cpu_seconds_total"], during["halvik_process_cpu_seconds_total"]);
}

void PageAndPicture(const Gathered& g) {
  const Answer& page = Get(g, "/");
  EXPECT_EQ(page.status, 200);
  EXPECT_EQ(page.type, "text/html; charset=utf-8");
  EXPECT_NE(page.body.find("fetch("), std::string::npos);
  EXPECT_NE(page.body.find("/status.json"), std::string::npos);

  // A PNG of the window's client area, 640 x 480 (IHDR width and height, big-endian).
  const Answer& picture = Get(g, "/snapshot.png");
  EXPECT_EQ(picture.status, 200);
  EXPECT_EQ(picture.type, "image/png");
  ASSERT_GT(picture.body.size(), 24u);
  EXPECT_EQ(picture.body.substr(0, 8), "\x89PNG\r\n\x1a\n");
  auto be32 = [&](std::size_t at) {
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < 4; ++i)
      v = v << 8 | static_cast<unsigned char>(picture.body[at + i]);
    return v;
  };
  EXPECT_EQ(be32(16), 640u);
  EXPECT_EQ(be32(20), 480u);
}

void PicturesOfTheSkyTheMapAndTheHistory(const Gathered& g) {
  for (const char* path : {"/sky.svg", "/map.svg", "/history.svg"}) {
    const Answer& answer = Get(g, path);
    EXPECT_EQ(answer.status, 200) << path;
    EXPECT_EQ(answer.type, "image/svg+xml") << path;
    EXPECT_TRUE(answer.body.starts_with("<svg xmlns=\"http://www.w3.org/2000/svg\"")) << path;
    EXPECT_TRUE(answer.body.ends_with("</svg>\n")) << path;
    EXPECT_EQ(answer.body.find("<script"), std::string::npos) << path;
    EXPECT_EQ(answer.tag.size(), 18u) << path;
  }
  // Unchanged since it was fetched: 304, so the page keeps the picture it shows.
  EXPECT_EQ(g.historyAgainStatus, 304);

  // The sky plot shows the pass being captured, with the satellite, its track and the antenna.
  const std::string& sky = Get(g, "/sky.svg").body;
  for (const char* id : {"id=\"track\"", "id=\"aos\"", "id=\"los\"", "id=\"satellite\"",
                         "id=\"trail\"", "followed now"})
    EXPECT_NE(sky.find(id), std::string::npos) << id;
  // Its AOS and LOS are those of `halvik passes` within a second.
  const std::optional<double> aos = ParseIsoUtc(Attribute(sky, "data-aos"));
  const std::optional<double> los = ParseIsoUtc(Attribute(sky, "data-los"));
  ASSERT_TRUE(aos && los);
  bool listed = false;
  std::istringstream lines(g.passesListing);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string slot, name, listedAos, listedLos;
    fields >> slot >> name >> listedAos >> listedLos;
    const std::optional<double> a = ParseIsoUtc(listedAos);
    const std::optional<double> l = ParseIsoUtc(listedLos);
    if (!a || !l || std::fabs(*a - *aos) > 1.0) continue;
    listed = true;
    EXPECT_NEAR(*l, *los, 1.0) << line;
  }
  EXPECT_TRUE(listed) << g.passesListing;

  // The map: land, the station, every listed satellite and the followed pass.
  const std::string& map = Get(g, "/map.svg").body;
  for (const char* id : {"id=\"land\"", "id=\"station\"", "id=\"pass\""})
    EXPECT_NE(map.find(id), std::string::npos) << id;
  std::size_t satellites = 0;
  for (std::size_t at = map.find("class=\"satellite\""); at != std::string::npos;
       at = map.find("class=\"satellite\"", at + 1))
    ++satellites;
  EXPECT_EQ(satellites, 5u);  // the sample station's five

  // The history holds the earlier captures' records; the broken one is left out.
  const std::string& history = Get(g, "/history.svg").body;
  EXPECT_NE(history.find("data-name=\"NOAA 15\" data-passes=\"1\""), std::string::npos);
  EXPECT_EQ(history.find("N16"), std::string::npos);
}

// One station run for all the checks: each needs the station in the middle of a pass.
TEST(WebStation, EndpointsDuringAPass) {
  int argc = 1;
  char name[] = "halvik_web_tests";
  char* argv[] = {name, nullptr};
  QGuiApplication gui(argc, argv);  // fonts for the status view's picture
  Gathered g;
  Gather(g);
  if (HasFatalFailure()) return;
  {
    SCOPED_TRACE("StatusDuringThePassMatchesTheStation");
    StatusDuringThePassMatchesTheStation(g);
  }
  {
    SCOPED_TRACE("PassesWithThePriorityDecision");
    PassesWithThePriorityDecision(g);
  }
  {
    SCOPED_TRACE("CapturesAndTheirFiles");
    CapturesAndTheirFiles(g);
  }
  {
    SCOPED_TRACE("RefusesWhatIsNotServed");
    RefusesWhatIsNotServed(g);
  }
  {
    SCOPED_TRACE("MetricsAreExpositionText");
    MetricsAreExpositionText(g);
  }
  {
    SCOPED_TRACE("PageAndPicture");
    PageAndPicture(g);
  }
  {
    SCOPED_TRACE("PicturesOfTheSkyTheMapAndTheHistory");
    PicturesOfTheSkyTheMapAndTheHistory(g);
  }
}

}  // namespace
}  // namespace halvik::web
