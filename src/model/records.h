#pragma once
#include <cstdint>

namespace vanto {

// Word positions of a cell record (20 signed 32-bit words). Word 2 holds relabelTo in
// segmentation records and voronoiArea in final records.
struct CellWord {
    enum : int {
        smallFlag = 0,
        size = 1,
        relabelTo = 2,
        voronoiArea = 2,
        circumference = 3,
        minWidthAngle = 4,
        maxWidthAngle = 5,
        centerX = 6,
        centerY = 7,
        minWidth = 8,
        maxWidth = 9,
        minX = 10,
        minY = 11,
        maxX = 12,
        maxY = 13,
        cellId = 14,
        life = 15,
        totalWay = 16,
        reserved = 17,
        linkMark = 18,
        idDrawn = 19,  // kept 0: the calculation image marks the identities it drew in a list of its own
    };
};
inline constexpr int kCellWords = 20;
inline constexpr int kTableRecords = 2000;  // records per cell table, end marker included
inline constexpr int kCellLimit = 2000;     // the 2,000th cell of a frame stops the run
inline constexpr int32_t kEndMarker = -1;   // smallFlag of the record after a table's last

// linkMark values
inline constexpr int32_t kMarkUntouched = -1;
inline constexpr int32_t kMarkInComponent = 0;
inline constexpr int32_t kMarkMatched = 2;

// Word positions of a link entry (10 signed 32-bit words). carriedId holds the overlap
// count while links are resolved.
struct LinkWord {
    enum : int {
        prevX = 0,
        prevY = 1,
        curX = 2,
        curY = 3,
        linkState = 4,
        prevIndex = 5,
        curIndex = 6,
        spare = 7,
        carriedId = 8,
        overlap = 8,
        curSmall = 9,
    };
};
inline constexpr int kLinkWords = 10;

// linkState values
inline constexpr int32_t kLinkUnexamined = -1;
inline constexpr int32_t kLinkRejected = 0;
inline constexpr int32_t kLinkVanished = 1;
inline constexpr int32_t kLinkAccepted = 2;

inline constexpr int32_t kLinkLimit = 20000;  // 20,000 candidates stop the run
inline constexpr int kSlotCount = 50;
// A slot holds every link a frame can keep (at most 19,999) plus the ending entry.
inline constexpr int kSlotEntries = kLinkLimit;
inline constexpr int kSlotWords = kSlotEntries * kLinkWords;

inline int32_t* cellRecord(int32_t* table, int32_t index) { return table + static_cast<int64_t>(index) * kCellWords; }
inline const int32_t* cellRecord(const int32_t* table, int32_t index) {
    return table + static_cast<int64_t>(index) * kCellWords;
}
inline int32_t* linkEntry(int32_t* slot, int32_t index) { return slot + static_cast<int64_t>(index) * kLinkWords; }
inline const int32_t* linkEntry(const int32_t* slot, int32_t index) {
    return slot + static_cast<int64_t>(index) * kLinkWords;
}
// Makes entry index of a slot its end entry (every word -1; readers stop at its prevX of -1),
// so that the slot holds the entries before it.
inline void endSlotAt(int32_t* slot, int32_t index) {
    int32_t* e = linkEntry(slot, index);
    for (int w = 0; w < kLinkWords; ++w) e[w] = -1;
}

}  // namespace vanto
