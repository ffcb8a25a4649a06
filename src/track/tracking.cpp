#include "track/tracking.h"

#include "track/final_cells.h"
#include "track/fragment_merge.h"
#include "track/identity.h"
#include "track/link_candidates.h"
#include "track/link_resolution.h"

namespace vanto {

TrackStatus trackFrame(Workspace& ws, int32_t frame, int32_t smallCellArea) {
    int32_t* slot = ws.slotOfFrame(frame);
    if (frame > 1) {
        if (listLinkCandidates(ws, slot) >= kLinkLimit) return TrackStatus::tooManyLinks;
        resolveLinks(ws, slot);
        absorbUnlinkedFragments(ws);
    } else {
        ws.linkCount = 0;
    }
    relabelAndFillHoles(ws);
    if (labelFinalCells(ws, smallCellArea) == kCellLimit) return TrackStatus::tooManyCells;
    carryIdentities(ws, slot);
    return TrackStatus::ok;
}

}  // namespace vanto
