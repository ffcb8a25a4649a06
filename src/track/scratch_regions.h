#pragma once
#include <algorithm>
#include <cstdint>

#include "model/records.h"

namespace vanto {

// Regions of TrackScratch::scratchInts used by the tracking stages (nothing survives a
// frame). The link list of the candidate search and the link queue of a component share the
// first region.
struct ScratchRegion {
    static constexpr int64_t queue = 0;                                  // kLinkLimit
    static constexpr int64_t prevLocal = queue + kLinkLimit;             // kTableRecords
    static constexpr int64_t curLocal = prevLocal + kTableRecords;       // kTableRecords
    static constexpr int64_t prevRankStart = curLocal + kTableRecords;   // kTableRecords + 1
    static constexpr int64_t prevRanked = prevRankStart + kTableRecords + 1;  // kLinkLimit
    static constexpr int64_t curRankStart = prevRanked + kLinkLimit;     // kTableRecords + 1
    static constexpr int64_t curRanked = curRankStart + kTableRecords + 1;    // kLinkLimit
    static constexpr int64_t mergeLocal = curRanked + kLinkLimit;        // kTableRecords
    static constexpr int64_t mergeStart = mergeLocal + kTableRecords;    // kTableRecords + 1
    static constexpr int64_t mergeItems = mergeStart + kTableRecords + 1;     // kLinkLimit
    static constexpr int64_t prevAccepted = mergeItems + kLinkLimit;     // kTableRecords
    static constexpr int64_t curAccepted = prevAccepted + kTableRecords; // kTableRecords
    static constexpr int64_t end = curAccepted + kTableRecords;
};

// Distributes the items itemAt(0 .. n - 1) into buckets by keyOf(item), 0 .. keys - 1,
// keeping their order inside each bucket: bucket b is items[start[b] .. start[b + 1]).
template <typename ItemAt, typename KeyOf>
void bucketItems(int32_t n, ItemAt itemAt, int32_t keys, KeyOf keyOf, int32_t* start, int32_t* items) {
    std::fill_n(start, keys + 1, 0);
    for (int32_t i = 0; i < n; ++i) ++start[keyOf(itemAt(i)) + 1];
    for (int32_t b = 0; b < keys; ++b) start[b + 1] += start[b];
    for (int32_t i = 0; i < n; ++i) {
        const int32_t item = itemAt(i);
        items[start[keyOf(item)]++] = item;
    }
    // Each start[b] now holds the end of bucket b; move them back by one bucket.
    for (int32_t b = keys; b > 0; --b) start[b] = start[b - 1];
    start[0] = 0;
}

}  // namespace vanto
