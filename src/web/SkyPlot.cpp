#include "web/SkyPlot.h"

#include <cmath>

#include "orbit/PropagateListing.h"
#include "platform/Text.h"
#include "platform/Units.h"
#include "web/StationJson.h"
#include "web/Svg.h"

namespace halvik::web {
namespace {

constexpr double kCentre = 200.0;
constexpr double kHorizonRadius = 180.0;
constexpr int kTrackStepSeconds = 10;
// The trail shown with a pass: from the pre-positioning before its AOS to a little after LOS.
constexpr std::int64_t kTrailLeadSeconds = 90;
constexpr std::int64_t kTrailLagSeconds = 30;

std::string Clock(std::int64_t t) {
  return FormatIsoUtc(static_cast<double>(t)).substr(11, 8);
}

std::string Polyline(const std::vector<SkyPoint>& points) {
  std::string out;
  for (const SkyPoint& p : points) {
    const PlotXY xy = SkyToPlot(p.azimuthDeg, std::max(p.elevationDeg, 0.0));
    if (!out.empty()) out += ' ';
    out += Coord(xy.x) + "," + Coord(xy.y);
  }
  return out;
}

const SatelliteRecord* SlotNamed(const SatelliteTable& table, int slot, const std::string& name) {
  if (slot < 0 || slot >= kSlotCount) return nullptr;
  const SatelliteRecord& record = table[static_cast<std::size_t>(slot)];
  return record.IsActive() && EqualsIgnoreCase(record.name.Get(), name) ? &record : nullptr;
}

}  // namespace

void AntennaTrail::Sample(std::int64_t now, const AntennaState& antenna, bool following) {
  if (!following || antenna.AntennaPower <= 50) return;
  double azimuth = antenna.AntennaAzimuth;
  double elevation = antenna.AntennaElevation;
  // Outside the axes' limits the read-back says only "under" or "over".
  if (azimuth < 0 || azimuth > 360 || elevation < 0 || elevation > 180) return;
  if (elevation > 90) {
    elevation = 180 - elevation;
    azimuth = std::fmod(azimuth + 180, 360.0);
  }
  std::lock_guard lock(mutex_);
  if (!points_.empty() && points_.back().time >= now) return;
  points_.push_back({now, azimuth, elevation});
  while (points_.size() > kMaxPoints) points_.pop_front();
}

std::vector<SkyPoint> AntennaTrail::Between(std::int64_t from, std::int64_t to) const {
  std::lock_guard lock(mutex_);
  std::vector<SkyPoint> out;
  for (const SkyPoint& p : points_)
    if (p.time >= from && p.time <= to) out.push_back(p);
  return out;
}

PlotXY SkyToPlot(double azimuthDeg, double elevationDeg) {
  const double r = kHorizonRadius * (90.0 - elevationDeg) / 90.0;
  const double a = azimuthDeg * kTrueRadiansPerDegree;
  return {kCentre + r * std::sin(a), kCentre - r * std::cos(a)};
}

SkyPlot MakeSkyPlot(const Station& station, const PassListing& listing, std::int64_t now,
                    const AntennaTrail& trail) {
  SkyPlot plot;
  plot.now = now;
  plot.minimumElevationDeg = station.station.minimumElevation * kDisplayDegreesPerRadian;
  int followedSlot = -1;
  if (const SchedulerState* scheduler = station.scheduler()) {
    if (scheduler->TrackingActive != 0) followedSlot = scheduler->SelectedSatellite;
  }
  const std::vector<bool> followed = FollowedPasses(listing);
  const ListedPassTimes* chosen = nullptr;
  for (std::size_t i = 0; i < listing.passes.size(); ++i) {
    const ListedPassTimes& pass = listing.passes[i];
    if (pass.los <= 0 || pass.los < now) continue;  // ended, or up for a day: no track
    if (pass.slot == followedSlot && pass.aos <= now + kDueLeadSeconds) {
      chosen = &pass;
      plot.followedNow = true;
      break;
    }
    if (!chosen && followed[i]) chosen = &pass;
  }
  if (!chosen) return plot;
  const SatelliteRecord* record = SlotNamed(station.table, chosen->slot, chosen->name);
  if (!record) return plot;
  plot.havePass = true;
  plot.pass = *chosen;
  const ElementSet elements = record->Elements();
  const StationConfig& config = station.station;
  plot.track = SampleSky(elements, config, chosen->aos, chosen->los, kTrackStepSeconds);
  const std::int64_t firstMinute = (chosen->aos / 60 + 1) * 60;
  if (firstMinute < chosen->los) {
    plot.ticks = SampleSky(elements, config, firstMinute, chosen->los, 60);
    plot.ticks.pop_back();  // the LOS, added as the end
  }
  if (chosen->flip && !plot.track.empty()) {
    // Where the azimuth would wrap through north, else the top of the pass: the antenna goes
    // over the zenith to spare the turn there.
    const SkyPoint* mark = &plot.track.front();
    for (const SkyPoint& p : plot.track)
      if (p.elevationDeg > mark->elevationDeg) mark = &p;
    for (std::size_t i = 1; i < plot.track.size(); ++i) {
      const double a = plot.track[i - 1].azimuthDeg;
      const double b = plot.track[i].azimuthDeg;
      if ((a > 270 && b < 90) || (a < 90 && b > 270)) {
        mark = &plot.track[i];
        break;
      }
    }
    plot.flipMark = *mark;
  }
  const std::vector<SkyPoint> at = SampleSky(elements, config, now, now, 1);
  if (!at.empty() && at.front().elevationDeg >= 0) plot.satellite = at.front();
  plot.trail = trail.Between(chosen->aos - kTrailLeadSeconds, chosen->los + kTrailLagSeconds);
  return plot;
}

std::string SkyPlotSvg(const SkyPlot& plot) {
  std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 400 430\"";
  if (plot.havePass) {
    svg += " data-aos=\"" + FormatIsoUtc(static_cast<double>(plot.pass.aos)) + "\" data-los=\"" +
           FormatIsoUtc(static_cast<double>(plot.pass.los)) + "\"";
  }
  svg +=
      " font-family=\"sans-serif\" font-size=\"11\">\n"
      "<rect width=\"400\" height=\"430\" fill=\"#fff\"/>\n";
  // Elevation circles: horizon, 30 and 60 degrees, and the minimum elevation dashed.
  for (int elevation : {0, 30, 60}) {
    svg += Format("<circle cx=\"200\" cy=\"200\" r=\"%s\" fill=\"%s\" stroke=\"#9ca3af\"/>\n",
                  Coord(kHorizonRadius * (90 - elevation) / 90).c_str(),
                  elevation == 0 ? "#f8fafc" : "none");
    if (elevation > 0)
      svg += Format("<text x=\"203\" y=\"%s\" fill=\"#6b7280\">%d\u00b0</text>\n",
                    Coord(200 - kHorizonRadius * (90 - elevation) / 90 - 2).c_str(), elevation);
  }
  svg += Format(
      "<circle id=\"minimum\" cx=\"200\" cy=\"200\" r=\"%s\" fill=\"none\" stroke=\"#b45309\" "
      "stroke-dasharray=\"4 3\"/>\n",
      Coord(kHorizonRadius * (90 - plot.minimumElevationDeg) / 90).c_str());
  svg +=
      "<path d=\"M200 20V380M20 200H380\" stroke=\"#e5e7eb\"/>\n"
      "<text x=\"200\" y=\"14\" text-anchor=\"middle\" font-weight=\"bold\">N</text>\n"
      "<text x=\"390\" y=\"204\" text-anchor=\"middle\">E</text>\n"
      "<text x=\"200\" y=\"394\" text-anchor=\"middle\">S</text>\n"
      "<text x=\"10\" y=\"204\" text-anchor=\"middle\">W</text>\n";
  if (!plot.havePass) {
    svg +=
        "<text x=\"200\" y=\"418\" text-anchor=\"middle\" fill=\"#6b7280\">no pass ahead</text>\n";
    return svg + "</svg>\n";
  }
  const ListedPassTimes& pass = plot.pass;
  svg += "<polyline id=\"track\" fill=\"none\" stroke=\"#2563eb\" stroke-width=\"2\" points=\"" +
         Polyline(plot.track) + "\"/>\n";
  for (const SkyPoint& tick : plot.ticks) {
    const PlotXY xy = SkyToPlot(tick.azimuthDeg, std::max(tick.elevationDeg, 0.0));
    svg += Format("<circle cx=\"%s\" cy=\"%s\" r=\"2\" fill=\"#2563eb\"/>", Coord(xy.x).c_str(),
                  Coord(xy.y).c_str());
    if (tick.time % 120 == 0)
      svg += Format("<text x=\"%s\" y=\"%s\" font-size=\"9\" fill=\"#1e3a8a\">%s</text>",
                    Coord(xy.x + 4).c_str(), Coord(xy.y - 3).c_str(),
                    Clock(tick.time).substr(0, 5).c_str());
    svg += "\n";
  }
  if (!plot.trail.empty()) {
    svg +=
        "<polyline id=\"trail\" fill=\"none\" stroke=\"#dc2626\" stroke-width=\"1.5\" "
        "stroke-dasharray=\"1 2\" points=\"" +
        Polyline(plot.trail) + "\"/>\n";
    const PlotXY last = SkyToPlot(plot.trail.back().azimuthDeg, plot.trail.back().elevationDeg);
    svg += Format(
        "<rect id=\"antenna\" x=\"%s\" y=\"%s\" width=\"8\" height=\"8\" fill=\"none\" "
        "stroke=\"#dc2626\" stroke-width=\"2\"><title>antenna read-back</title></rect>\n",
        Coord(last.x - 4).c_str(), Coord(last.y - 4).c_str());
  }
  const SkyPoint& aos = plot.track.front();
  const SkyPoint& los = plot.track.back();
  for (const auto& [id, point, colour] :
       {std::tuple{"aos", aos, "#16a34a"}, std::tuple{"los", los, "#6b7280"}}) {
    const PlotXY xy = SkyToPlot(point.azimuthDeg, std::max(point.elevationDeg, 0.0));
    svg += Format(
        "<circle id=\"%s\" cx=\"%s\" cy=\"%s\" r=\"5\" fill=\"%s\"/><text x=\"%s\" y=\"%s\" "
        "font-weight=\"bold\" fill=\"%s\">%s %s</text>\n",
        id, Coord(xy.x).c_str(), Coord(xy.y).c_str(), colour, Coord(xy.x + 7).c_str(),
        Coord(xy.y + 12).c_str(), colour, id == std::string_view("aos") ? "AOS" : "LOS",
        Clock(point.time).c_str());
  }
  if (plot.flipMark) {
    const PlotXY xy = SkyToPlot(plot.flipMark->azimuthDeg, plot.flipMark->elevationDeg);
    svg += Format(
        "<path id=\"flip\" d=\"M%s %sl6 -10h-12z\" fill=\"#7c3aed\"/><text x=\"%s\" y=\"%s\" "
        "fill=\"#7c3aed\">flip: antenna over the zenith</text>\n",
        Coord(xy.x).c_str(), Coord(xy.y + 5).c_str(), Coord(xy.x + 9).c_str(),
        Coord(xy.y - 2).c_str());
  }
  if (plot.satellite) {
    const PlotXY xy = SkyToPlot(plot.satellite->azimuthDeg, plot.satellite->elevationDeg);
    svg += Format(
        "<circle id=\"satellite\" cx=\"%s\" cy=\"%s\" r=\"6\" fill=\"#f59e0b\" stroke=\"#000\">"
        "<title>%s now: az %.1f, el %.1f</title></circle>\n",
        Coord(xy.x).c_str(), Coord(xy.y).c_str(), XmlEscape(pass.name).c_str(),
        plot.satellite->azimuthDeg, plot.satellite->elevationDeg);
  }
  svg += Format(
      "<text x=\"200\" y=\"412\" text-anchor=\"middle\" font-weight=\"bold\">%s %s, max "
      "%.1f\u00b0, "
      "%s%s</text>\n",
      XmlEscape(pass.name).c_str(), plot.followedNow ? "followed now" : "next",
      pass.maxElevationDeg, pass.northbound ? "northbound" : "southbound",
      pass.flip ? ", flip" : "");
  svg += Format(
      "<text x=\"200\" y=\"426\" text-anchor=\"middle\" fill=\"#6b7280\">AOS %s  LOS %s UTC  "
      "(blue: predicted, red: antenna)</text>\n",
      Clock(pass.aos).c_str(), Clock(pass.los).c_str());
  return svg + "</svg>\n";
}

}  // namespace halvik::web
