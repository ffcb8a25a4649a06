#include "track/tracking.h"

#include "track/final_cells.h"
#include "track/fragment_merge.h"
#include "track/identity.h"
#include "track/link_candidates.h"
#include "track/link_resolution.h"
#include "track/scratch_regions.h"

namespace vanto {

TrackStatus trackFrame(FrameCells& cells, FrameHistory& history, TrackScratch& scratch,
                       const NeighbourhoodTables& tables, int32_t frame, int32_t smallCellArea,
                       bool mergeFragments) {
    int32_t* slot = history.slotOfFrame(frame);
    if (frame > 1) {
        int32_t* linkList = scratch.scratchInts + ScratchRegion::queue;
        if (listLinkCandidates(cells, history, scratch.crossFrameNearest(), linkList, slot) >= kLinkLimit)
            return TrackStatus::tooManyLinks;
        resolveLinks(cells, history, scratch, slot, mergeFragments);
        absorbUnlinkedFragments(cells);
    } else {
        cells.linkCount = 0;
    }
    relabelAndFillHoles(cells, scratch.holeFill(), tables);
    if (labelFinalCells(cells, scratch.scratchInts, smallCellArea) == kCellLimit) return TrackStatus::tooManyCells;
    carryIdentities(cells, history, finalLabelMap(cells), scratch, slot);
    return TrackStatus::ok;
}

}  // namespace vanto
