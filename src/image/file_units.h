#pragma once
#include <cstdint>
#include <string>

namespace vanto {

// The pixel size and frame interval a TIFF file states, converted to micrometres and minutes;
// 0, with an empty origin, where it states none. Each is taken from the first of: OME-XML in
// the image description (PhysicalSizeX with PhysicalSizeXUnit, TimeIncrement with
// TimeIncrementUnit), an ImageJ description (its unit for the resolution tags, finterval with
// tunit), the resolution tags alone (XResolution per inch or centimetre).
struct FileUnits {
    double pixelSize = 0;
    double frameInterval = 0;
    std::string pixelSizeFrom;      // "OME-XML", "ImageJ description" or "TIFF resolution"
    std::string frameIntervalFrom;  // "OME-XML" or "ImageJ description"
};

// The fields of a TIFF page the units are read from.
struct UnitFields {
    std::string description;     // the image description; empty when absent
    double xResolution = 0;      // pixels per resolution unit; 0 when absent
    uint16_t resolutionUnit = 2;  // 1 none, 2 inch (the TIFF default), 3 centimetre
};

FileUnits unitsOfFields(const UnitFields& fields);

// The units of the first page of the TIFF file at path; none for a file that is not a
// readable TIFF file.
FileUnits readFileUnits(const char* path);

// A length in the named unit as micrometres per unit ("µm", "um", "micron", "nm", "mm", "cm",
// "m", "inch", ...); 0 for a unit it does not know (ImageJ's "pixel" among them).
double micrometresPer(const std::string& unit);
// A time in the named unit as minutes per unit ("s", "sec", "ms", "min", "h", ...); 0 when unknown.
double minutesPer(const std::string& unit);

}  // namespace vanto
