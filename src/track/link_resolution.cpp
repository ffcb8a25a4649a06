#include "track/link_resolution.h"

#include "segment/index_sort.h"
#include "track/fragment_merge.h"
#include "track/scratch_regions.h"

namespace vanto {

namespace {

// One component under resolution: its queued links and cells, and for each listed cell its
// links strongest first (walking the rank order from its last position).
class Component {
public:
    Component(FrameCells& cells, FrameHistory& history, TrackScratch& scratch, int32_t* slot)
        : cells_(cells), history_(history), scratch_(scratch), slot_(slot) {}

    // Breadth-first search from link k; the cells join the lists in discovery order.
    void collect(int32_t k) {
        int32_t* queue = scratch_.scratchInts + ScratchRegion::queue;
        n_ = 0;
        prevCells_ = 0;
        curCells_ = 0;
        queue[n_++] = k;
        state(k) = kLinkRejected;
        for (int32_t head = 0; head < n_; ++head) {
            const int32_t* e = linkEntry(slot_, queue[head]);
            const int32_t p = e[LinkWord::prevIndex];
            int32_t* pr = cellRecord(history_.prevCellTable, p);
            // A cell's links are all queued the first time the cell is met.
            if (pr[CellWord::linkMark] == kMarkUntouched) {
                pr[CellWord::linkMark] = kMarkInComponent;
                scratch_.prevCellList[prevCells_++] = static_cast<int16_t>(p);
                enqueue(scratch_.linksByPrevStart, scratch_.linksByPrev, p);
            }
            const int32_t c = e[LinkWord::curIndex];
            int32_t* cr = cellRecord(cells_.cellTable, c);
            if (cr[CellWord::linkMark] == kMarkUntouched) {
                cr[CellWord::linkMark] = kMarkInComponent;
                scratch_.curCellList[curCells_++] = static_cast<int16_t>(c);
                enqueue(scratch_.linksByCurStart, scratch_.linksByCur, c);
            }
        }
    }

    void resolve() {
        if (n_ == 1) {
            accept(queue()[0], true, true);
            return;
        }
        rank();
        acceptSingleCandidates();
        acceptGreedy();
        matchPrevCells();
        matchCurCells();
    }

    const int32_t* queue() const { return scratch_.scratchInts + ScratchRegion::queue; }
    int32_t size() const { return n_; }
    int32_t prevCells() const { return prevCells_; }

private:
    int32_t& state(int32_t link) { return linkEntry(slot_, link)[LinkWord::linkState]; }
    int32_t prevOf(int32_t link) const { return linkEntry(slot_, link)[LinkWord::prevIndex]; }
    int32_t curOf(int32_t link) const { return linkEntry(slot_, link)[LinkWord::curIndex]; }
    int32_t* prevRecord(int32_t p) { return cellRecord(history_.prevCellTable, p); }
    int32_t* curRecord(int32_t c) { return cellRecord(cells_.cellTable, c); }

    // Queues the unexamined links of cell `cell` (links[start[cell] .. start[cell + 1])).
    void enqueue(const int32_t* start, const int32_t* links, int32_t cell) {
        int32_t* queue = scratch_.scratchInts + ScratchRegion::queue;
        for (const int32_t* j = links + start[cell]; j != links + start[cell + 1]; ++j) {
            if (state(*j) != kLinkUnexamined) continue;
            state(*j) = kLinkRejected;
            queue[n_++] = *j;
        }
    }

    void accept(int32_t link, bool markPrev, bool markCur) {
        state(link) = kLinkAccepted;
        if (markPrev) prevRecord(prevOf(link))[CellWord::linkMark] = kMarkMatched;
        if (markCur) curRecord(curOf(link))[CellWord::linkMark] = kMarkMatched;
    }

    // Rank order of the queue positions by overlap, and the per-cell strongest-first lists.
    void rank() {
        const int32_t* q = queue();
        for (int32_t i = 0; i < n_; ++i) {
            scratch_.rankOrder[i] = i;
            scratch_.rankKey[i] = linkEntry(slot_, q[i])[LinkWord::overlap];
        }
        sortIndicesByIntKey(scratch_.rankOrder, scratch_.rankKey, n_ - 1, scratch_.sortStack, scratch_.sortStackRanges);

        int32_t* prevLocal = scratch_.scratchInts + ScratchRegion::prevLocal;
        int32_t* curLocal = scratch_.scratchInts + ScratchRegion::curLocal;
        for (int32_t i = 0; i < prevCells_; ++i) prevLocal[scratch_.prevCellList[i]] = i;
        for (int32_t i = 0; i < curCells_; ++i) curLocal[scratch_.curCellList[i]] = i;
        auto strongestFirst = [&](int32_t r) { return q[scratch_.rankOrder[n_ - 1 - r]]; };
        bucketItems(
            n_, strongestFirst, prevCells_, [&](int32_t link) { return prevLocal[prevOf(link)]; },
            scratch_.scratchInts + ScratchRegion::prevRankStart, scratch_.scratchInts + ScratchRegion::prevRanked);
        bucketItems(
            n_, strongestFirst, curCells_, [&](int32_t link) { return curLocal[curOf(link)]; },
            scratch_.scratchInts + ScratchRegion::curRankStart, scratch_.scratchInts + ScratchRegion::curRanked);
    }

    // A cell that is not small with a single candidate keeps it.
    void acceptSingleCandidates() {
        for (int32_t i = 0; i < prevCells_; ++i) {
            const int32_t p = scratch_.prevCellList[i];
            if (prevRecord(p)[CellWord::smallFlag] != 0) continue;
            const int32_t begin = scratch_.linksByPrevStart[p];
            if (scratch_.linksByPrevStart[p + 1] - begin == 1) accept(scratch_.linksByPrev[begin], true, true);
        }
        for (int32_t i = 0; i < curCells_; ++i) {
            const int32_t c = scratch_.curCellList[i];
            if (curRecord(c)[CellWord::smallFlag] != 0) continue;
            const int32_t begin = scratch_.linksByCurStart[c];
            if (scratch_.linksByCurStart[c + 1] - begin == 1) accept(scratch_.linksByCur[begin], true, true);
        }
    }

    // Greedy, strongest first: links between two unmatched cells that are not small.
    void acceptGreedy() {
        const int32_t* q = queue();
        for (int32_t r = n_ - 1; r >= 0; --r) {
            const int32_t link = q[scratch_.rankOrder[r]];
            if (state(link) != kLinkRejected) continue;
            const int32_t* pr = prevRecord(prevOf(link));
            const int32_t* cr = curRecord(curOf(link));
            if (pr[CellWord::smallFlag] != 0 || cr[CellWord::smallFlag] != 0) continue;
            if (pr[CellWord::linkMark] != kMarkInComponent || cr[CellWord::linkMark] != kMarkInComponent) continue;
            accept(link, true, true);
        }
    }

    // Each unmatched previous cell that is not small joins a merge, else takes an
    // unmatched partner, else its strongest link.
    void matchPrevCells() {
        const int32_t* start = scratch_.scratchInts + ScratchRegion::prevRankStart;
        const int32_t* ranked = scratch_.scratchInts + ScratchRegion::prevRanked;
        for (int32_t i = 0; i < prevCells_; ++i) {
            const int32_t p = scratch_.prevCellList[i];
            const int32_t* pr = prevRecord(p);
            if (pr[CellWord::smallFlag] != 0 || pr[CellWord::linkMark] != kMarkInComponent) continue;
            const int32_t* begin = ranked + start[i];
            const int32_t* end = ranked + start[i + 1];
            const int32_t* adjacency = history_.prevAdjacency + static_cast<int64_t>(p) * history_.prevCount;
            auto joinsMerge = [&](int32_t link) {
                const int32_t c = curOf(link);
                for (int32_t j = scratch_.linksByCurStart[c]; j < scratch_.linksByCurStart[c + 1]; ++j) {
                    const int32_t other = scratch_.linksByCur[j];
                    if (state(other) == kLinkAccepted && adjacency[prevOf(other)] != 0) return true;
                }
                return false;
            };
            if (acceptFirst(begin, end, joinsMerge, true, false)) continue;
            if (acceptFirst(
                    begin, end,
                    [&](int32_t link) { return curRecord(curOf(link))[CellWord::linkMark] == kMarkInComponent; },
                    true, true))
                continue;
            acceptFirst(begin, end, [](int32_t) { return true; }, true, true);
        }
    }

    // The same for the current cells, joining a split through the current adjacency.
    void matchCurCells() {
        const int32_t* start = scratch_.scratchInts + ScratchRegion::curRankStart;
        const int32_t* ranked = scratch_.scratchInts + ScratchRegion::curRanked;
        for (int32_t i = 0; i < curCells_; ++i) {
            const int32_t c = scratch_.curCellList[i];
            const int32_t* cr = curRecord(c);
            if (cr[CellWord::smallFlag] != 0 || cr[CellWord::linkMark] != kMarkInComponent) continue;
            const int32_t* begin = ranked + start[i];
            const int32_t* end = ranked + start[i + 1];
            const int32_t* adjacency = cells_.pairMatrix + static_cast<int64_t>(c) * cells_.curCount;
            auto joinsSplit = [&](int32_t link) {
                const int32_t p = prevOf(link);
                for (int32_t j = scratch_.linksByPrevStart[p]; j < scratch_.linksByPrevStart[p + 1]; ++j) {
                    const int32_t other = scratch_.linksByPrev[j];
                    if (state(other) == kLinkAccepted && adjacency[curOf(other)] != 0) return true;
                }
                return false;
            };
            if (acceptFirst(begin, end, joinsSplit, false, true)) continue;
            if (acceptFirst(
                    begin, end,
                    [&](int32_t link) { return prevRecord(prevOf(link))[CellWord::linkMark] == kMarkInComponent; },
                    true, true))
                continue;
            acceptFirst(begin, end, [](int32_t) { return true; }, true, true);
        }
    }

    // Accepts the first link of [begin, end) still at linkState 0 that meets the test.
    template <typename Test>
    bool acceptFirst(const int32_t* begin, const int32_t* end, Test test, bool markPrev, bool markCur) {
        for (const int32_t* l = begin; l != end; ++l) {
            if (state(*l) != kLinkRejected || !test(*l)) continue;
            accept(*l, markPrev, markCur);
            return true;
        }
        return false;
    }

    FrameCells& cells_;
    FrameHistory& history_;
    TrackScratch& scratch_;
    int32_t* slot_;
    int32_t n_ = 0;
    int32_t prevCells_ = 0;
    int32_t curCells_ = 0;
};

}  // namespace

void resolveLinks(FrameCells& cells, FrameHistory& history, TrackScratch& scratch, int32_t* slot,
                  bool mergeFragments) {
    const int32_t linkCount = cells.linkCount;
    auto linkNumber = [](int32_t k) { return k; };
    bucketItems(
        linkCount, linkNumber, history.prevCount,
        [&](int32_t k) { return linkEntry(slot, k)[LinkWord::prevIndex]; }, scratch.linksByPrevStart,
        scratch.linksByPrev);
    bucketItems(
        linkCount, linkNumber, cells.curCount, [&](int32_t k) { return linkEntry(slot, k)[LinkWord::curIndex]; },
        scratch.linksByCurStart, scratch.linksByCur);

    Component component(cells, history, scratch, slot);
    for (int32_t k = 0; k < linkCount; ++k) {
        if (linkEntry(slot, k)[LinkWord::linkState] != kLinkUnexamined) continue;
        component.collect(k);
        component.resolve();
        if (mergeFragments && component.size() > 1)
            mergeComponentFragments(cells, scratch, slot, component.queue(), component.size(), component.prevCells());
    }
}

}  // namespace vanto
