#include "measure/average_report.h"

#include <algorithm>

#include "measure/cell_report.h"
#include "measure/frame_report.h"
#include "measure/track_steps.h"
#include "model/records.h"

namespace vanto {

namespace {

constexpr const char* kDirections[8] = {"N", "NE", "E", "SE", "S", "SW", "W", "NW"};

void addToGroup(GroupSums& g, const int32_t* r, const MotionMeasures& motion) {
    ++g.count;
    g.size += r[CellWord::size];
    g.circumference += r[CellWord::circumference];
    g.life += r[CellWord::life];
    g.circularity += circularity(r);
    if (motion.lastCount > 0) {
        ++g.stepCount;
        g.way += motion.distance1;
    }
}

// Divisor of a mean: the count, at least 1.
int32_t divisor(int32_t count) { return std::max(count, 1); }

void countSlot(const int32_t* slot, int32_t* bins) {
    forEachSlotEntry(slot, [&](const int32_t* e) {
        if (e[LinkWord::linkState] == kLinkAccepted && e[LinkWord::curSmall] == 0) ++bins[directionBin(e)];
    });
}

}  // namespace

void AverageSums::addCell(const int32_t* r, const MotionMeasures& motion, const DiffusionExponents& diffusion) {
    addToGroup(all, r, motion);
    if (r[CellWord::smallFlag] != 0) return;
    addToGroup(mutch, r, motion);
    const double d[3] = {diffusion.d15, diffusion.d30, diffusion.d45};
    for (int i = 0; i < 3; ++i) {
        if (!exponentPresent(d[i])) continue;
        ++diffuseCount[i];
        diffuseSum[i] += d[i];
    }
    thick += r[CellWord::maxWidth] / 100.0;
    thin += r[CellWord::minWidth] / 100.0;
    aspect += static_cast<double>(r[CellWord::maxWidth]) / static_cast<double>(r[CellWord::minWidth]);
}

int32_t directionBin(const int32_t* e) {
    const double deg = stepAngle(e[LinkWord::prevX], e[LinkWord::prevY], e[LinkWord::curX], e[LinkWord::curY]);
    const auto t = static_cast<int32_t>(deg + 360 + 90 + 22.5);
    return t % 360 / 45;
}

DirectionCounts countDirections(const FrameHistory& history, int32_t frame) {
    DirectionCounts d;
    countSlot(history.slotAt(frame % kSlotCount), d.last1);
    for (int32_t i = 0; i < 30; ++i) countSlot(history.slotAt((frame % kSlotCount + 21 + i) % kSlotCount), d.last30);
    return d;
}

void writeAverageReportHeader(std::ostream& out) {
    out << ",,,";
    for (int i = 0; i < 12; ++i) out << "Mutch,";
    for (int i = 0; i < 8; ++i) out << "Last 1,";
    for (int i = 0; i < 8; ++i) out << "Last 30,";
    out << ',';
    for (int i = 0; i < 6; ++i) out << "Small,";
    out << ',';
    for (int i = 0; i < 6; ++i) out << "All,";
    out << std::endl;

    out << "Index,Time,,Count,Size,Circumference,Circularity,Life,Way,Diffuse (15),Diffuse (30),Diffuse (45),"
           "Thick,Thin,Aspect,";
    for (int pass = 0; pass < 2; ++pass) {
        for (const char* name : kDirections) out << name << ',';
    }
    out << ",Count,Size,Circumference,Circularity,Life,Way,,Count,Size,Circumference,Circularity,Life,Way,";
    out << std::endl;
}

void writeAverageRow(std::ostream& out, int32_t frame, int64_t elapsedMs, const AverageSums& s,
                     const DirectionCounts& directions) {
    const GroupSums& m = s.mutch;
    const GroupSums& a = s.all;
    const double mc = divisor(m.count);
    out << frame << ',' << elapsedMs << ",," << m.count << ',' << m.size / mc << ',' << m.circumference / mc << ','
        << m.circularity / mc << ',' << m.life / mc << ',' << m.way / divisor(m.stepCount) << ',';
    for (int i = 0; i < 3; ++i) out << s.diffuseSum[i] / divisor(s.diffuseCount[i]) << ',';
    out << s.thick / mc << ',' << s.thin / mc << ',' << s.aspect / mc << ',';
    for (int32_t c : directions.last1) out << c << ',';
    for (int32_t c : directions.last30) out << c << ',';

    // "Small": differences of the all-cell and "Mutch" sums.
    const int32_t sc = std::max(a.count - m.count, 1);
    out << ',' << sc << ',' << (static_cast<double>(a.size) - static_cast<double>(m.size)) / sc << ','
        << (static_cast<double>(a.circumference) - static_cast<double>(m.circumference)) / sc << ','
        << (a.circularity - m.circularity) / sc << ','
        << (static_cast<double>(a.life) - static_cast<double>(m.life)) / sc << ','
        << (a.way - m.way) / divisor(a.stepCount - m.stepCount) << ',';

    const double n = divisor(a.count);
    out << ',' << a.count << ',' << a.size / n << ',' << a.circumference / n << ',' << a.circularity / n << ','
        << a.life / n << ',' << a.way / divisor(a.stepCount) << ',';
    out << std::endl;
}

}  // namespace vanto
