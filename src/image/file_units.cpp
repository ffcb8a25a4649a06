#include "image/file_units.h"

#include <fcntl.h>
#include <tiffio.h>
#include <unistd.h>

#include <cctype>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <memory>

#include "image/frame_loader.h"

namespace vanto {

namespace {

std::string trimmed(const std::string& text) {
    size_t a = 0, b = text.size();
    while (a < b && std::isspace(static_cast<unsigned char>(text[a]))) ++a;
    while (b > a && std::isspace(static_cast<unsigned char>(text[b - 1]))) --b;
    return text.substr(a, b - a);
}

// A positive finite decimal number as a whole; 0 otherwise.
double positive(const std::string& text) {
    const std::string t = trimmed(text);
    char* end = nullptr;
    const double v = std::strtod(t.c_str(), &end);
    return !t.empty() && end == t.c_str() + t.size() && std::isfinite(v) && v > 0 ? v : 0;
}

// The value of attribute name in the XML element tag (its text from '<' to '>'); empty when absent.
std::string attribute(const std::string& tag, const std::string& name) {
    for (size_t at = tag.find(name); at != std::string::npos; at = tag.find(name, at + 1)) {
        if (at == 0 || !std::isspace(static_cast<unsigned char>(tag[at - 1]))) continue;
        size_t p = at + name.size();
        while (p < tag.size() && std::isspace(static_cast<unsigned char>(tag[p]))) ++p;
        if (p >= tag.size() || tag[p] != '=') continue;
        ++p;
        while (p < tag.size() && std::isspace(static_cast<unsigned char>(tag[p]))) ++p;
        if (p >= tag.size() || (tag[p] != '"' && tag[p] != '\'')) continue;
        const size_t close = tag.find(tag[p], p + 1);
        if (close == std::string::npos) return {};
        return tag.substr(p + 1, close - p - 1);
    }
    return {};
}

// The first <Pixels ...> element of OME-XML (the first image's), empty when there is none.
std::string omePixelsTag(const std::string& xml) {
    for (size_t at = xml.find("<"); at != std::string::npos; at = xml.find('<', at + 1)) {
        // The element may carry a namespace prefix (<ome:Pixels).
        size_t name = at + 1;
        const size_t colon = xml.find_first_of(": \t\r\n>/", name);
        if (colon != std::string::npos && xml[colon] == ':') name = colon + 1;
        if (xml.compare(name, 6, "Pixels") != 0) continue;
        const char after = name + 6 < xml.size() ? xml[name + 6] : '>';
        if (!std::isspace(static_cast<unsigned char>(after)) && after != '>' && after != '/') continue;
        const size_t end = xml.find('>', name);
        return xml.substr(at, end == std::string::npos ? std::string::npos : end - at + 1);
    }
    return {};
}

// The value of key=VALUE on a line of an ImageJ description; empty when absent.
std::string imageJValue(const std::string& description, const std::string& key) {
    const std::string text = "\n" + description;
    const std::string word = "\n" + key + "=";
    const size_t at = text.find(word);
    if (at == std::string::npos) return {};
    const size_t start = at + word.size();
    const size_t end = text.find('\n', start);
    return trimmed(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
}

void fromOme(const std::string& description, FileUnits& units) {
    if (description.find("<OME") == std::string::npos && description.find(":OME") == std::string::npos) return;
    const std::string pixels = omePixelsTag(description);
    if (pixels.empty()) return;
    const double size = positive(attribute(pixels, "PhysicalSizeX"));
    const std::string sizeUnit = attribute(pixels, "PhysicalSizeXUnit");
    const double perUnit = micrometresPer(sizeUnit.empty() ? "µm" : sizeUnit);  // the schema's default
    if (size > 0 && perUnit > 0) {
        units.pixelSize = size * perUnit;
        units.pixelSizeFrom = "OME-XML";
    }
    const double step = positive(attribute(pixels, "TimeIncrement"));
    const std::string timeUnit = attribute(pixels, "TimeIncrementUnit");
    const double minutes = minutesPer(timeUnit.empty() ? "s" : timeUnit);
    if (step > 0 && minutes > 0) {
        units.frameInterval = step * minutes;
        units.frameIntervalFrom = "OME-XML";
    }
}

void fromImageJ(const UnitFields& fields, FileUnits& units) {
    if (fields.description.rfind("ImageJ=", 0) != 0) return;
    const double perUnit = micrometresPer(imageJValue(fields.description, "unit"));
    if (units.pixelSize == 0 && fields.xResolution > 0 && std::isfinite(fields.xResolution) && perUnit > 0) {
        units.pixelSize = perUnit / fields.xResolution;
        units.pixelSizeFrom = "ImageJ description";
    }
    const double interval = positive(imageJValue(fields.description, "finterval"));
    const std::string timeUnit = imageJValue(fields.description, "tunit");
    const double minutes = minutesPer(timeUnit.empty() ? "sec" : timeUnit);
    if (units.frameInterval == 0 && interval > 0 && minutes > 0) {
        units.frameInterval = interval * minutes;
        units.frameIntervalFrom = "ImageJ description";
    }
}

void fromResolution(const UnitFields& fields, FileUnits& units) {
    if (units.pixelSize > 0 || !(fields.xResolution > 0) || !std::isfinite(fields.xResolution)) return;
    // 72 per inch is what many programs write when they know no calibration (a screen's
    // resolution), not a microscope's pixel size.
    if (fields.resolutionUnit == RESUNIT_INCH && fields.xResolution == 72) return;
    const double perUnit = fields.resolutionUnit == RESUNIT_INCH ? 25400.0
                           : fields.resolutionUnit == RESUNIT_CENTIMETER ? 10000.0
                                                                          : 0;
    if (perUnit == 0) return;
    units.pixelSize = perUnit / fields.xResolution;
    units.pixelSizeFrom = "TIFF resolution";
}

int quietTiff(TIFF*, void*, const char*, const char*, va_list) { return 1; }

}  // namespace

double micrometresPer(const std::string& name) {
    const std::string u = trimmed(name);
    // "µm" in UTF-8 (micro sign or Greek mu) or Latin-1, and ImageJ's escaped form.
    if (u == "\xC2\xB5m" || u == "\xCE\xBCm" || u == "\xB5m" || u == "\\u00B5m" || u == "um" || u == "micron" ||
        u == "microns" || u == "micrometer" || u == "micrometre" || u == "micrometers" || u == "micrometres")
        return 1;
    if (u == "nm" || u == "nanometer" || u == "nanometre") return 1e-3;
    if (u == "pm") return 1e-6;
    if (u == "\xC3\x85" || u == "\xC5" || u == "angstrom") return 1e-4;
    if (u == "mm" || u == "millimeter" || u == "millimetre") return 1e3;
    if (u == "cm" || u == "centimeter" || u == "centimetre") return 1e4;
    if (u == "m" || u == "meter" || u == "metre") return 1e6;
    if (u == "in" || u == "inch" || u == "inches") return 25400;
    return 0;
}

double minutesPer(const std::string& name) {
    const std::string u = trimmed(name);
    if (u == "s" || u == "sec" || u == "second" || u == "seconds") return 1.0 / 60;
    if (u == "ms" || u == "msec" || u == "millisecond" || u == "milliseconds") return 1.0 / 60000;
    if (u == "min" || u == "minute" || u == "minutes") return 1;
    if (u == "h" || u == "hr" || u == "hour" || u == "hours") return 60;
    if (u == "d" || u == "day" || u == "days") return 1440;
    return 0;
}

FileUnits unitsOfFields(const UnitFields& fields) {
    FileUnits units;
    fromOme(fields.description, units);
    fromImageJ(fields, units);
    fromResolution(fields, units);
    return units;
}

FileUnits readFileUnits(const char* path) {
    if (!isTiffFile(path)) return {};
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return {};
    std::unique_ptr<TIFFOpenOptions, void (*)(TIFFOpenOptions*)> options(TIFFOpenOptionsAlloc(),
                                                                         TIFFOpenOptionsFree);
    if (!options) {
        ::close(fd);
        return {};
    }
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), quietTiff, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), quietTiff, nullptr);
    TIFF* tif = TIFFFdOpenExt(fd, path, "r", options.get());
    if (!tif) {
        ::close(fd);
        return {};
    }
    UnitFields fields;
    const char* description = nullptr;
    if (TIFFGetField(tif, TIFFTAG_IMAGEDESCRIPTION, &description) && description) fields.description = description;
    float xResolution = 0;
    if (TIFFGetField(tif, TIFFTAG_XRESOLUTION, &xResolution)) fields.xResolution = xResolution;
    uint16_t unit = RESUNIT_INCH;
    if (TIFFGetField(tif, TIFFTAG_RESOLUTIONUNIT, &unit)) fields.resolutionUnit = unit;
    TIFFClose(tif);
    return unitsOfFields(fields);
}

}  // namespace vanto
