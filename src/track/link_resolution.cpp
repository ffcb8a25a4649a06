#include "track/link_resolution.h"

#include "segment/index_sort.h"
#include "track/fragment_merge.h"
#include "track/track_scratch.h"

namespace vanto {

namespace {

// One component under resolution: its queued links and cells, and for each listed cell its
// links strongest first (walking the rank order from its last position).
class Component {
public:
    Component(Workspace& ws, int32_t* slot) : ws_(ws), slot_(slot) {}

    // Breadth-first search from link k; the cells join the lists in discovery order.
    void collect(int32_t k) {
        int32_t* queue = ws_.scratchInts + TrackScratch::queue;
        n_ = 0;
        prevCells_ = 0;
        curCells_ = 0;
        queue[n_++] = k;
        state(k) = kLinkRejected;
        for (int32_t head = 0; head < n_; ++head) {
            const int32_t* e = linkEntry(slot_, queue[head]);
            const int32_t p = e[LinkWord::prevIndex];
            int32_t* pr = cellRecord(ws_.prevCellTable, p);
            // A cell's links are all queued the first time the cell is met.
            if (pr[CellWord::linkMark] == kMarkUntouched) {
                pr[CellWord::linkMark] = kMarkInComponent;
                ws_.prevCellList[prevCells_++] = static_cast<int16_t>(p);
                enqueue(ws_.linksByPrev + ws_.linksByPrevStart[p], ws_.linksByPrev + ws_.linksByPrevStart[p + 1]);
            }
            const int32_t c = e[LinkWord::curIndex];
            int32_t* cr = cellRecord(ws_.cellTable, c);
            if (cr[CellWord::linkMark] == kMarkUntouched) {
                cr[CellWord::linkMark] = kMarkInComponent;
                ws_.curCellList[curCells_++] = static_cast<int16_t>(c);
                enqueue(ws_.linksByCur + ws_.linksByCurStart[c], ws_.linksByCur + ws_.linksByCurStart[c + 1]);
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

    const int32_t* queue() const { return ws_.scratchInts + TrackScratch::queue; }
    int32_t size() const { return n_; }
    int32_t prevCells() const { return prevCells_; }

private:
    int32_t& state(int32_t link) { return linkEntry(slot_, link)[LinkWord::linkState]; }
    int32_t prevOf(int32_t link) const { return linkEntry(slot_, link)[LinkWord::prevIndex]; }
    int32_t curOf(int32_t link) const { return linkEntry(slot_, link)[LinkWord::curIndex]; }
    int32_t* prevRecord(int32_t p) { return cellRecord(ws_.prevCellTable, p); }
    int32_t* curRecord(int32_t c) { return cellRecord(ws_.cellTable, c); }

    void enqueue(const int32_t* begin, const int32_t* end) {
        int32_t* queue = ws_.scratchInts + TrackScratch::queue;
        for (const int32_t* j = begin; j != end; ++j) {
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
            ws_.rankOrder[i] = i;
            ws_.rankKey[i] = linkEntry(slot_, q[i])[LinkWord::overlap];
        }
        sortIndicesByIntKey(ws_.rankOrder, ws_.rankKey, n_ - 1, ws_.sortStack, ws_.sortStackRanges);

        int32_t* prevLocal = ws_.scratchInts + TrackScratch::prevLocal;
        int32_t* curLocal = ws_.scratchInts + TrackScratch::curLocal;
        for (int32_t i = 0; i < prevCells_; ++i) prevLocal[ws_.prevCellList[i]] = i;
        for (int32_t i = 0; i < curCells_; ++i) curLocal[ws_.curCellList[i]] = i;
        auto strongestFirst = [&](int32_t r) { return q[ws_.rankOrder[n_ - 1 - r]]; };
        bucketItems(
            n_, strongestFirst, prevCells_, [&](int32_t link) { return prevLocal[prevOf(link)]; },
            ws_.scratchInts + TrackScratch::prevRankStart, ws_.scratchInts + TrackScratch::prevRanked);
        bucketItems(
            n_, strongestFirst, curCells_, [&](int32_t link) { return curLocal[curOf(link)]; },
            ws_.scratchInts + TrackScratch::curRankStart, ws_.scratchInts + TrackScratch::curRanked);
    }

    // A cell that is not small with a single candidate keeps it.
    void acceptSingleCandidates() {
        for (int32_t i = 0; i < prevCells_; ++i) {
            const int32_t p = ws_.prevCellList[i];
            if (prevRecord(p)[CellWord::smallFlag] != 0) continue;
            const int32_t begin = ws_.linksByPrevStart[p];
            if (ws_.linksByPrevStart[p + 1] - begin == 1) accept(ws_.linksByPrev[begin], true, true);
        }
        for (int32_t i = 0; i < curCells_; ++i) {
            const int32_t c = ws_.curCellList[i];
            if (curRecord(c)[CellWord::smallFlag] != 0) continue;
            const int32_t begin = ws_.linksByCurStart[c];
            if (ws_.linksByCurStart[c + 1] - begin == 1) accept(ws_.linksByCur[begin], true, true);
        }
    }

    // Greedy, strongest first: links between two unmatched cells that are not small.
    void acceptGreedy() {
        const int32_t* q = queue();
        for (int32_t r = n_ - 1; r >= 0; --r) {
            const int32_t link = q[ws_.rankOrder[r]];
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
        const int32_t* start = ws_.scratchInts + TrackScratch::prevRankStart;
        const int32_t* ranked = ws_.scratchInts + TrackScratch::prevRanked;
        for (int32_t i = 0; i < prevCells_; ++i) {
            const int32_t p = ws_.prevCellList[i];
            const int32_t* pr = prevRecord(p);
            if (pr[CellWord::smallFlag] != 0 || pr[CellWord::linkMark] != kMarkInComponent) continue;
            const int32_t* begin = ranked + start[i];
            const int32_t* end = ranked + start[i + 1];
            const int32_t* adjacency = ws_.prevAdjacency + static_cast<int64_t>(p) * ws_.prevCount;
            auto joinsMerge = [&](int32_t link) {
                const int32_t c = curOf(link);
                for (int32_t j = ws_.linksByCurStart[c]; j < ws_.linksByCurStart[c + 1]; ++j) {
                    const int32_t other = ws_.linksByCur[j];
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
        const int32_t* start = ws_.scratchInts + TrackScratch::curRankStart;
        const int32_t* ranked = ws_.scratchInts + TrackScratch::curRanked;
        for (int32_t i = 0; i < curCells_; ++i) {
            const int32_t c = ws_.curCellList[i];
            const int32_t* cr = curRecord(c);
            if (cr[CellWord::smallFlag] != 0 || cr[CellWord::linkMark] != kMarkInComponent) continue;
            const int32_t* begin = ranked + start[i];
            const int32_t* end = ranked + start[i + 1];
            const int32_t* adjacency = ws_.pairMatrix + static_cast<int64_t>(c) * ws_.curCount;
            auto joinsSplit = [&](int32_t link) {
                const int32_t p = prevOf(link);
                for (int32_t j = ws_.linksByPrevStart[p]; j < ws_.linksByPrevStart[p + 1]; ++j) {
                    const int32_t other = ws_.linksByPrev[j];
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

    Workspace& ws_;
    int32_t* slot_;
    int32_t n_ = 0;
    int32_t prevCells_ = 0;
    int32_t curCells_ = 0;
};

}  // namespace

void resolveLinks(Workspace& ws, int32_t* slot) {
    const int32_t linkCount = ws.linkCount;
    auto linkNumber = [](int32_t k) { return k; };
    bucketItems(
        linkCount, linkNumber, ws.prevCount,
        [&](int32_t k) { return linkEntry(slot, k)[LinkWord::prevIndex]; }, ws.linksByPrevStart, ws.linksByPrev);
    bucketItems(
        linkCount, linkNumber, ws.curCount, [&](int32_t k) { return linkEntry(slot, k)[LinkWord::curIndex]; },
        ws.linksByCurStart, ws.linksByCur);

    Component component(ws, slot);
    for (int32_t k = 0; k < linkCount; ++k) {
        if (linkEntry(slot, k)[LinkWord::linkState] != kLinkUnexamined) continue;
        component.collect(k);
        component.resolve();
        if (component.size() > 1)
            mergeComponentFragments(ws, slot, component.queue(), component.size(), component.prevCells());
    }
}

}  // namespace vanto
