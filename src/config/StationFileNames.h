#pragma once

#include <array>
#include <string_view>

namespace halvik {

// The files a station directory lives by, each named here once.
inline constexpr const char* kElementsFile = "elements.dat";
inline constexpr const char* kOldElementsFile = "elements.dat.old";  // the update's fallback
inline constexpr const char* kSatellitesFile = "sats.dat";
inline constexpr const char* kLocationFile = "location.dat";
inline constexpr const char* kMinimumElevationFile = "minel.dat";
inline constexpr const char* kMapFile = "map.dat";
inline constexpr const char* kPseudoNoiseFile = "pn.fil";
// Map images of the legacy screen layer: drawn for one station position, so they go when the
// position is lost.
inline constexpr const char* kWorldMapFile = "world.map";
inline constexpr const char* kZoomMapFile = "zoom.map";

// The running station's process id, so that tools working on the directory (update-elements)
// can signal it.
inline constexpr const char* kPidFileName = "halvik.pid";
// The hardware options, so a station's command line can stay short.
inline constexpr const char* kHardwareConfFile = "hardware.conf";

inline constexpr std::array<std::string_view, 8> kStationFiles{
    kElementsFile, kSatellitesFile,  kLocationFile, kMinimumElevationFile,
    kMapFile,      kPseudoNoiseFile, kWorldMapFile, kZoomMapFile};

}  // namespace halvik
