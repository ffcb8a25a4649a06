#include "measure/cell_report.h"

#include <cmath>

#include "measure/frame_report.h"
#include "model/records.h"

namespace vanto {

namespace {

constexpr const char* kCellColumns[] = {
    "Frame",        "Index",         "Id",            "Size",          "Circumference", "Circularity",
    "Center X",     "Center Y",      "Voronoi",       "Min X",         "Min Y",         "Max X",
    "Max Y",        "Min Angle",     "Min Length",    "Max Angle",     "Max Length",    "Thick / Thin",
    "Life",         "",              "Total Way",     "Ave. Way (15)", "Ave. Way (30)", "Ave. Way (45)",
    "Diffuse (15)", "Diffuse (30)",  "Diffuse (45)",  "",              "Angle (1)",     "Distance (1)",
    "Angle (45)",   "Distance (45)",
};

// A field and its comma; an absent value is an empty field.
void optionalField(std::ostream& out, bool present, double value) {
    if (present) out << value;
    out << ',';
}

}  // namespace

void writeCellReportHeader(std::ostream& out) {
    for (const char* name : kCellColumns) out << name << ',';
    out << std::endl;
}

double circularity(const int32_t* record) {
    return 2 * std::sqrt(record[CellWord::size] / kDegreePi) * kDegreePi * (1.0 / record[CellWord::circumference]);
}

void writeCellRow(std::ostream& out, int32_t frame, int32_t index, const int32_t* r, const MotionMeasures& motion,
                  const DiffusionExponents& diffusion) {
    out << frame << ',' << index << ',' << r[CellWord::cellId] << ',' << r[CellWord::size] << ','
        << r[CellWord::circumference] << ',' << circularity(r) << ',' << r[CellWord::centerX] << ','
        << r[CellWord::centerY] << ',' << r[CellWord::voronoiArea] << ',' << r[CellWord::minX] << ','
        << r[CellWord::minY] << ',' << r[CellWord::maxX] << ',' << r[CellWord::maxY] << ','
        << r[CellWord::minWidthAngle] << ',' << r[CellWord::minWidth] / 100.0 << ',' << r[CellWord::maxWidthAngle]
        << ',' << r[CellWord::maxWidth] / 100.0 << ','
        << static_cast<double>(r[CellWord::maxWidth]) / static_cast<double>(r[CellWord::minWidth]) << ','
        << r[CellWord::life] << ",," << r[CellWord::totalWay] / 100.0 << ',';
    optionalField(out, motion.count15 >= 1, motion.aveWay15);
    optionalField(out, motion.count30 >= 1, motion.aveWay30);
    optionalField(out, motion.count45 >= 1, motion.aveWay45);
    optionalField(out, exponentPresent(diffusion.d15), diffusion.d15);
    optionalField(out, exponentPresent(diffusion.d30), diffusion.d30);
    optionalField(out, exponentPresent(diffusion.d45), diffusion.d45);
    out << ',';
    if (motion.lastCount > 0) {
        out << motion.angle1 << ',' << motion.distance1 << ',' << motion.angle45 << ',' << motion.distance45 << ',';
    }
    out << std::endl;
}

}  // namespace vanto
