#include "measure/frame_tracks.h"

#include <algorithm>

#include "model/records.h"

namespace vanto {

int32_t FrameTracks::identityGroup(int32_t cellId) const {
    const int32_t* end = identities_ + groupCount_;
    const int32_t* it = std::lower_bound(static_cast<const int32_t*>(identities_), end, cellId);
    return it != end && *it == cellId ? static_cast<int32_t>(it - identities_) : -1;
}

bool FrameTracks::build(const FrameCells& cells, const FrameHistory& history, int32_t frame, int32_t* scratch,
                        int64_t capacity) {
    const int32_t n = cells.finalCount;
    const int64_t fixed = 3 * int64_t{n} + 1;
    if (capacity < fixed) return false;
    linkHistory_ = history.linkHistory;
    frame_ = frame;
    groupOfCell_ = scratch;
    identities_ = scratch + n;
    start_ = identities_ + n;
    offsets_ = start_ + n + 1;

    // Identities below 0 have no steps.
    int32_t ids = 0;
    for (int32_t i = 0; i < n; ++i) {
        const int32_t id = cellRecord(cells.cellTable, i)[CellWord::cellId];
        if (id >= 0) identities_[ids++] = id;
    }
    std::sort(identities_, identities_ + ids);
    groupCount_ = static_cast<int32_t>(std::unique(identities_, identities_ + ids) - identities_);
    for (int32_t i = 0; i < n; ++i) groupOfCell_[i] = identityGroup(cellRecord(cells.cellTable, i)[CellWord::cellId]);

    // Count the steps of each group, then turn the counts into starts.
    std::fill_n(start_, groupCount_ + 1, 0);
    const auto forEachStep = [&](auto&& visit) {
        for (int32_t back = kTrackFrames - 1; back >= 0; --back) {
            const int32_t* slot = history.slotAt(slotBack(frame, back));
            forEachSlotEntry(slot, [&](const int32_t* e) {
                if (!carriesIdentity(e)) return;
                const int32_t g = identityGroup(e[LinkWord::carriedId]);
                if (g >= 0) visit(g, e);
            });
        }
    };
    forEachStep([&](int32_t g, const int32_t*) { ++start_[g + 1]; });
    for (int32_t g = 0; g < groupCount_; ++g) start_[g + 1] += start_[g];
    if (capacity - fixed < start_[groupCount_]) return false;

    // Fill in track order; start_[g] runs up to the old start_[g + 1] and is shifted back after.
    forEachStep([&](int32_t g, const int32_t* e) {
        offsets_[start_[g]++] = static_cast<int32_t>(e - history.linkHistory);
    });
    for (int32_t g = groupCount_; g > 0; --g) start_[g] = start_[g - 1];
    start_[0] = 0;
    return true;
}

ListedSteps FrameTracks::stepsOf(int32_t cellIndex) const {
    const int32_t g = groupOfCell_[cellIndex];
    if (g < 0) return {linkHistory_, offsets_, 0, frame_};
    return {linkHistory_, offsets_ + start_[g], start_[g + 1] - start_[g], frame_};
}

}  // namespace vanto
