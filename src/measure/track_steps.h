#pragma once
#include <cstdint>

#include "model/records.h"
#include "model/frame_history.h"

namespace vanto {

// The steps of an identity's track that the motion and diffusion measures read: link entries
// with linkState accepted whose carriedId is the identity, in the slots of the last 45 frames
// (the current one included), oldest slot first and in stored order within a slot. Each step
// is handed over as (back, entry) where back = 0 is the current frame and back = 44 the oldest.
inline constexpr int32_t kTrackFrames = 45;

// Slot number of the frame `back` frames before frame number `frame`.
inline int32_t slotBack(int32_t frame, int32_t back) { return (frame % kSlotCount + kSlotCount - back) % kSlotCount; }

// Frames back of slot s, seen from frame number `frame`.
inline int32_t backOfSlot(int32_t frame, int32_t s) { return (frame % kSlotCount - s + kSlotCount) % kSlotCount; }

// Visits every entry of slot s up to the first whose prevX is -1 or the slot's end.
template <class Visit>
void forEachSlotEntry(const int32_t* slot, Visit&& visit) {
    for (int32_t k = 0; k < kSlotEntries; ++k) {
        const int32_t* e = linkEntry(slot, k);
        if (e[LinkWord::prevX] == -1) return;
        visit(e);
    }
}

// An entry that may carry an identity: accepted, with an identity (not -1) in carriedId.
inline bool carriesIdentity(const int32_t* e) {
    return e[LinkWord::linkState] == kLinkAccepted && e[LinkWord::carriedId] >= 0;
}

// Track steps found by scanning the 45 slots for one identity. An identity below 0 has none.
struct SlotScanSteps {
    const FrameHistory& history;
    int32_t frame;
    int32_t cellId;

    template <class Visit>
    void operator()(Visit&& visit) const {
        if (cellId < 0) return;
        for (int32_t back = kTrackFrames - 1; back >= 0; --back) {
            forEachSlotEntry(history.slotAt(slotBack(frame, back)), [&](const int32_t* e) {
                if (carriesIdentity(e) && e[LinkWord::carriedId] == cellId) visit(back, e);
            });
        }
    }
};

// Track steps listed beforehand as word offsets into linkHistory, in track order.
struct ListedSteps {
    const int32_t* linkHistory;
    const int32_t* offsets;
    int32_t count;
    int32_t frame;

    template <class Visit>
    void operator()(Visit&& visit) const {
        for (int32_t i = 0; i < count; ++i) {
            const int32_t offset = offsets[i];
            visit(backOfSlot(frame, offset / kSlotWords), linkHistory + offset);
        }
    }
};

}  // namespace vanto
