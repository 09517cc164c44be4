#pragma once

#include <cstdint>
#include <string>

#include "orbit/SatelliteTable.h"
#include "ui/Canvas.h"

namespace halvik {

// Screen places of the satellite panel: slot i has its name at y = 85 + 50 i and its two data
// lines 15 and 30 pixels below, all at x = 10.
inline constexpr int kSatellitePanelX = 10;
inline constexpr int kSatelliteNameY = 85;
inline constexpr int kSatelliteSlotPitch = 50;
inline constexpr int kEpochAgeX = 100;
inline constexpr int kEpochAgeY = 460;

// The satellite panel of the status view: every slot's name, position, look angles and next
// AOS or LOS, coloured by state, then the age of the oldest element set. `now` is the paint's
// corrected second; `systemSeconds` the uncorrected system time the element age is counted on.
// Keeps no state between paints.
void DrawSatellitePanel(Canvas& canvas, const SatelliteTable& table, bool trackingReady,
                        std::int64_t now, std::int64_t systemSeconds);

// The 8-character countdown "hh:mm:ss" from now to an event time. A time already past reads
// 00:00:00 (the event is due; the next prediction step replaces it), one 100 hours or more
// away reads ">99 hrs " since two digits cannot hold its hours.
std::string CountdownText(std::int64_t eventTime, std::int64_t now);

}  // namespace halvik
