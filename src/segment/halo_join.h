#pragma once
#include <cstdint>

#include "segment/offset_steps.h"

namespace vanto {

// Half the side of the square window whose mean gray is a pixel's local background for -halo.
inline constexpr int32_t kHaloWindowRadius = 15;

// Scratch of joinHalos, lent by the caller for one call.
struct HaloPlanes {
    int32_t* marks;    // w x h entries
    int32_t* queue;    // w x h entries
    int32_t* columns;  // w entries
    int32_t* tally;    // 2 x count entries
};

// -halo T: joins to the cells the bright parts that touch them. A pixel is bright when its gray
// is at least T above the mean gray of the square of side 2 kHaloWindowRadius + 1 around it (the
// part of the square inside the frame). A bright part is a 4-connected piece of bright pixels of
// no cell. A part with a 4-neighbour in a cell joins the cell it touches most (counted as pairs
// of a part pixel and a cell pixel 4-neighbours of each other; the lower cell number on a tie).
// With loneArea > 0, a part of at least loneArea pixels that touches no cell becomes a cell of
// its own, numbered count, count + 1, ... in raster order of its first pixel. labels: w x h, a
// cell number 0..count-1 or negative (no cell); joined pixels take their cell's number. gray:
// the segmentation's view of the frame. steps: the offsets for width w (its first four, the
// 4-neighbours, are used). Returns the cells added (lone parts); labels then hold
// count + that many cell numbers.
int32_t joinHalos(int32_t* labels, int32_t w, int32_t h, int32_t count, const uint8_t* gray, double t,
                  int32_t loneArea, const OffsetSteps& steps, const HaloPlanes& planes);

}  // namespace vanto
