#include "web/WebServer.h"

namespace halvik::web {
namespace {

// One page, no framework: the script fetches the JSON routes and redraws its panels. Texts from
// the station go in through textContent only, never as markup.
constexpr std::string_view kPage = R"HTML(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Halvik NT station</title>
<style>
body { font: 14px/1.4 sans-serif; margin: 0; background: #f3f4f6; color: #111; }
header { background: #1f2937; color: #fff; padding: 10px 18px; display: flex; gap: 24px;
         align-items: baseline; flex-wrap: wrap; }
header h1 { font-size: 18px; margin: 0; }
main { padding: 14px 18px; display: grid; gap: 14px;
       grid-template-columns: repeat(auto-fit, minmax(230px, 1fr)); }
section { background: #fff; border-radius: 6px; padding: 10px 14px; box-shadow: 0 1px 2px #0002; }
section.wide { grid-column: 1 / -1; }
h2 { font-size: 13px; text-transform: uppercase; letter-spacing: .05em; color: #555; margin: 0 0 6px; }
.big { font-size: 20px; font-weight: 600; }
.ok { color: #0a7a20; } .bad { color: #b42318; } .dim { color: #777; }
table { border-collapse: collapse; width: 100%; }
td, th { padding: 3px 8px; text-align: left; border-bottom: 1px solid #eee; white-space: nowrap; }
th { font-weight: 600; color: #555; font-size: 12px; }
.next { color: #0000a0; font-weight: 600; } .pass { color: #00a000; font-weight: 600; }
#timeline svg, #map svg, #history svg { width: 100%; height: auto; display: block; }
#sky svg { width: 100%; max-width: 420px; height: auto; display: block; margin: auto; }
.where { display: flex; gap: 14px; flex-wrap: wrap; }
.where > div { flex: 1 1 300px; } .where > div.map { flex: 2.4 1 480px; }
.captures { display: flex; gap: 12px; flex-wrap: wrap; }
.capture { width: 170px; font-size: 12px; }
.capture img { width: 160px; background: #000; display: block; min-height: 40px; }
.legend span { display: inline-block; width: 12px; height: 12px; margin: 0 4px 0 12px;
               vertical-align: -2px; }
</style>
</head>
<body>
<header><h1>Halvik NT</h1><span id="utc" class="big">-</span><span id="clock">-</span>
<span id="updated" class="dim"></span></header>
<main>
<section><h2>Receiver</h2><div id="receiver" class="big">-</div><div id="receiver2"></div></section>
<section><h2>Antenna</h2><div id="antenna" class="big">-</div><div id="antenna2"></div></section>
<section><h2>Capture</h2><div id="capture" class="big">-</div><div id="capture2"></div></section>
<section><h2>GPS</h2><div id="gps" class="big">-</div><div id="gps2"></div></section>
<section><h2>Disk</h2><div id="disk" class="big">-</div><div class="dim">free in the station directory</div></section>
<section class="wide"><h2>Satellites</h2><table><thead><tr><th>Slot</th><th>Satellite</th>
<th>Lat</th><th>Lon</th><th>Az</th><th>El</th><th>Next</th><th>At (UTC)</th><th>In</th></tr></thead>
<tbody id="sats"></tbody></table><div id="satwarn" class="bad"></div></section>
<section class="wide where"><div><h2>Sky</h2><div id="sky" class="dim">-</div></div>
<div class="map"><h2>Where they are</h2><div id="map" class="dim">-</div></div></section>
<section class="wide"><h2>Next 24 hours</h2><div id="timeline"></div>
<div class="legend dim"><span style="background:#16a34a"></span>followed
<span style="background:#d1d5db"></span>skipped by the priority rule</div></section>
<section class="wide"><h2>Quality of the last passes</h2><div id="history" class="dim">-</div></section>
<section class="wide"><h2>Last captures</h2><div id="captures" class="captures dim">-</div></section>
</main>
<script>
"use strict";
const $ = (id) => document.getElementById(id);
function put(id, text, cls) { const e = $(id); e.textContent = text; e.className = cls || e.className; }
function el(tag, text, cls) { const e = document.createElement(tag); if (text !== undefined) e.textContent = text; if (cls) e.className = cls; return e; }
function fixed(v, n) { return v === null || v === undefined ? "-" : Number(v).toFixed(n); }
function span(s) { s = Math.max(0, Math.round(s)); const h = Math.floor(s / 3600), m = Math.floor(s / 60) % 60, x = s % 60;
  return String(h).padStart(2, "0") + ":" + String(m).padStart(2, "0") + ":" + String(x).padStart(2, "0"); }
function bytes(b) { if (b === null || b === undefined) return "-"; const u = ["B", "kB", "MB", "GB", "TB"]; let i = 0;
  while (b >= 1000 && i < u.length - 1) { b /= 1000; i++; } return b.toFixed(i ? 1 : 0) + " " + u[i]; }
async function get(path) { const r = await fetch(path, {cache: "no-store"}); if (!r.ok) throw new Error(path + " " + r.status); return r.json(); }
let nowUtc = Date.now() / 1000;

function showStatus(s) {
  nowUtc = Date.parse(s.time_utc) / 1000;
  put("utc", s.time_utc.replace("T", " ").replace("Z", " UTC"));
  put("clock", "clock correction " + fixed(s.clock_correction_s, 2) + " s" +
      (s.gps.time_refused ? " (GPS time refused)" : ""));
  $("clock").className = s.gps.time_refused ? "bad" : "";
  const r = s.receiver;
  put("receiver", fixed(r.frequency_mhz, 3) + " MHz", "big " + (r.locked ? "ok" : ""));
  put("receiver2", (r.locked ? "locked" : "no lock") + ", level " + fixed(r.level_v, 2) + " V");
  const a = s.antenna;
  put("antenna", a.powered ? "AZ " + fixed(a.azimuth_deg, 1) + "\u00b0  EL " + fixed(a.elevation_deg, 1) + "\u00b0" : "NO POWER",
      "big " + (a.powered ? "" : "bad"));
  put("antenna2", (s.followed ? "following " + s.followed.name : "parked / idle") + (a.flipped ? ", flipped" : ""));
  const c = s.capture;
  put("capture", c.state_text, "big " + (c.state === 3 ? "ok" : ""));
  put("capture2", (c.satellite ? c.satellite + ", " : "") + "BER " + Number(c.bit_error_rate).toExponential(1) +
      ", frames " + c.frames_written + " (" + c.frames_with_sync + " with sync), captures " + c.captures_finished);
  const g = s.gps;
  put("gps", g.present ? g.status : "no GPS", "big " + (g.present && g.health_code === 0 ? "ok" : ""));
  put("gps2", g.latitude_deg === null ? "no fix" : fixed(g.latitude_deg, 2) + ", " + fixed(g.longitude_deg, 2) + ", " + fixed(g.altitude_ft, 0) + " ft");
  put("disk", bytes(s.disk_free_bytes));
  const body = $("sats"); body.replaceChildren();
  for (const t of s.satellites) {
    const cls = t.slot === s.next_aos_slot ? "next" : (t.slot === s.in_pass_slot ? "pass" : "");
    const row = el("tr", undefined, cls);
    const at = t.next_event_utc ? t.next_event_utc.substr(11, 8) : "";
    const cells = [t.slot, t.name, t.latitude_deg, t.longitude_deg, fixed(t.azimuth_deg, 1), fixed(t.elevation_deg, 1),
      t.geosynchronous ? "geosynchronous" : (t.next_event || "").toUpperCase(), at,
      t.next_event_in_s === undefined ? "" : span(t.next_event_in_s)];
    for (const v of cells) row.appendChild(el("td", String(v)));
    body.appendChild(row);
  }
  const old = s.satellites.filter(t => t.elements_stale)
    .map(t => t.name + " (" + Math.round(t.element_age_s / 86400) + " days)");
  put("satwarn", s.nothing_predictable
    ? "No listed satellite can be predicted: every element set is more than ten years from the station clock"
    : (old.length ? "Element sets older than " + s.element_age_limit_days + " days: " + old.join(", ") : ""));
  put("updated", "updated " + new Date().toLocaleTimeString());
}

function showPasses(p) {
  const ns = "http://www.w3.org/2000/svg", W = 960, left = 120, rowH = 22;
  const from = Date.parse(p.from_utc) / 1000, spanS = p.hours * 3600;
  const names = []; for (const q of p.passes) if (!names.some(n => n.slot === q.slot)) names.push({slot: q.slot, name: q.name});
  names.sort((a, b) => a.slot - b.slot);
  const H = 24 + rowH * Math.max(names.length, 1);
  const svg = document.createElementNS(ns, "svg"); svg.setAttribute("viewBox", "0 0 " + W + " " + H);
  const add = (tag, attrs, text) => { const e = document.createElementNS(ns, tag); for (const k in attrs) e.setAttribute(k, attrs[k]);
    if (text !== undefined) e.textContent = text; svg.appendChild(e); return e; };
  const x = (t) => left + (W - left - 10) * (t - from) / spanS;
  for (let h = 0; h <= p.hours; h += 3) { const t = from + h * 3600;
    add("line", {x1: x(t), x2: x(t), y1: 14, y2: H, stroke: "#e5e7eb"});
    add("text", {x: x(t), y: 11, "font-size": 10, "text-anchor": "middle", fill: "#555"}, new Date(t * 1000).toISOString().substr(11, 5)); }
  names.forEach((n, i) => add("text", {x: 4, y: 24 + i * rowH + 14, "font-size": 12}, n.slot + " " + n.name));
  for (const q of p.passes) {
    const i = names.findIndex(n => n.slot === q.slot), a = Date.parse(q.aos_utc) / 1000;
    const l = q.los_utc ? Date.parse(q.los_utc) / 1000 : from + spanS;
    const r = add("rect", {x: x(a), y: 24 + i * rowH + 3, width: Math.max(2, x(l) - x(a)), height: rowH - 6, rx: 2,
      fill: q.decision === "follow" ? "#16a34a" : "#d1d5db"});
    const tip = document.createElementNS(ns, "title");
    tip.textContent = q.name + " " + q.aos_utc + " to " + (q.los_utc || "-") + ", max " + fixed(q.max_elevation_deg, 1) + "\u00b0, " + q.decision;
    r.appendChild(tip);
  }
  add("line", {x1: x(nowUtc), x2: x(nowUtc), y1: 14, y2: H, stroke: "#b42318"});
  $("timeline").replaceChildren(svg);
}

function showCaptures(list) {
  const box = $("captures"); box.replaceChildren(); box.className = "captures";
  if (!list.length) { box.textContent = "no captures yet"; box.className = "captures dim"; return; }
  for (const c of list.slice(0, 12)) {
    const d = el("div", undefined, "capture");
    if (c.thumbnail) { const a = el("a"); a.href = "/captures/" + encodeURIComponent(c.images[0] || c.thumbnail);
      const img = el("img"); img.src = "/captures/" + encodeURIComponent(c.thumbnail); img.alt = c.name; a.appendChild(img); d.appendChild(a); }
    const link = el("a", c.name); link.href = "/captures/" + encodeURIComponent(c.name); d.appendChild(link);
    d.appendChild(el("div", c.modified_utc.replace("T", " ").replace("Z", " UTC") + ", " + bytes(c.bytes), "dim"));
    const r = c.record;
    if (r && !r.error) {
      const parts = [];
      if (r.satellite) parts.push(r.satellite);
      if (r.lock_fraction !== undefined) parts.push("lock " + (100 * r.lock_fraction).toFixed(0) + " %");
      if (r.bit_error_rate !== undefined) parts.push("BER " + Number(r.bit_error_rate).toExponential(1));
      if (r.scan_lines !== undefined) parts.push(r.scan_lines + " lines");
      d.appendChild(el("div", parts.join(", ")));
    } else if (r && r.error) d.appendChild(el("div", r.error, "bad"));
    box.appendChild(d);
  }
}

// The station's own pictures, asked with the tag of the one shown: an unchanged picture is
// answered 304 and left in place. Parsed as SVG, never as HTML, so it carries no markup of ours.
const tags = {};
async function picture(id, path) {
  const r = await fetch(path, {cache: "no-store", headers: tags[path] ? {"If-None-Match": tags[path]} : {}});
  if (r.status === 304 || !r.ok) return;
  const doc = new DOMParser().parseFromString(await r.text(), "image/svg+xml");
  if (doc.documentElement.nodeName !== "svg") return;
  $(id).replaceChildren(document.importNode(doc.documentElement, true));
  $(id).className = "";
  tags[path] = r.headers.get("ETag");
}

async function tick(n) {
  try { showStatus(await get("/status.json")); } catch (e) { put("updated", "station not answering", "bad"); }
  try { await picture("sky", "/sky.svg"); } catch (e) {}
  if (n % 5 === 0) { try { await picture("map", "/map.svg"); } catch (e) {} }
  if (n % 10 === 0) { try { await picture("history", "/history.svg"); } catch (e) {} }
  if (n % 20 === 0) { try { showPasses(await get("/passes.json?hours=24")); } catch (e) {} }
  if (n % 10 === 0) { try { showCaptures(await get("/captures.json")); } catch (e) {} }
}
let n = 0; tick(n); setInterval(() => tick(++n), 3000);
</script>
</body>
</html>
)HTML";

}  // namespace

std::string_view PageHtml() {
  return kPage;
}

}  // namespace halvik::web
