#pragma once

#include <filesystem>

#include "imaging/CaptureImages.h"

namespace halvik {

// The products of a capture of CADUs (a `.cadu` file: CADUs of 1024 bytes, marker first) of the
// family given, or else of the family whose file code precedes ".cadu" ("NAME.mtp.cadu": Metop),
// or else of the pass record's satellite (Meteor when nothing says), named as MakeCaptureImages
// names them with NAME the file name without ".cadu": the imager's channels (Meteor's MSU-MR,
// Metop's AVHRR/3), the composite, the thumbnail and the quality record. For Metop the record
// also holds the Reed-Solomon counts, the packets per APID and the VCDU spacecraft ids, checked
// against the pass record's satellite (a disagreement is also a note). The pass
// record beside the capture (NAME.pass.json: "satellite", "element_set", "start_utc",
// "end_utc"), when there is one, gives the satellite, the date of the lines' times of day and
// the element set that says whether the pass went north; without it the lines keep their
// times of day and the picture is not turned, as for an HRPT capture without an element set.
// A last CADU cut short is left out and said so in `notes`.
CaptureImagesResult MakeCaduImages(const std::filesystem::path& capture,
                                   const std::filesystem::path& outDir,
                                   std::optional<SatelliteFamily> family = std::nullopt);

}  // namespace halvik
