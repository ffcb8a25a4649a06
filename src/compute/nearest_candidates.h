#pragma once
#include <cstdint>
#include <vector>

namespace vanto {

// The records that can be nearest to some pixel of each square group of pixels that addone
// runs in, so that the kernel compares a few centres per pixel instead of every centre.
//
// Groups are side x side pixels from the frame's top-left corner, in rows of
// ceil(width / side); the last row and column may be partial. For a group whose pixel
// rectangle is R, the bound is the smallest, over all records, of the squared distance from the
// record's centre to the farthest point of R; every pixel of R lies within the bound of that
// record, so its nearest record lies within the bound of the pixel, hence no farther from R
// than the bound. The group's list holds exactly the records whose centre lies within the
// bound of R's nearest point, each once, in no particular order; the kernel breaks ties on
// the record index. Distances are exact 64-bit squares, as in the kernel.
//
// Records are found through a coarse grid of centres (about one record a bin) searched in
// rings around the group, so the cost grows with the pixels and the local crowding, not with
// pixels x records. A group whose list would pass kGroupListLimit entries, or the room left,
// gets count -1: the kernel then compares every record, which gives the same answer.
class NearestCandidates {
public:
    static constexpr int32_t kGroupListLimit = 64;
    static constexpr int32_t kEveryRecord = -1;

    // Sizes every table for a width x height frame cut into side x side groups; reserved once.
    // False when the sizes are not positive or memory cannot be had.
    bool reserve(int32_t width, int32_t height, int32_t side);

    // Lists the candidates of every group for the records of cellTable up to its first end
    // marker (at most kTableRecords records).
    void build(const int32_t* cellTable);

    int32_t siteCount() const { return siteCount_; }
    int32_t groupCount() const { return static_cast<int32_t>(spans_.size() / 2); }
    // Two entries a group, in group order: the first list entry and the count (or kEveryRecord).
    const std::vector<int32_t>& spans() const { return spans_; }
    // The lists, one after another; entryCount() of them are in use.
    const std::vector<int32_t>& entries() const { return entries_; }
    int32_t entryCount() const { return entryCount_; }

private:
    // Square bins of `size` pixels, across x down of them, each listing the records whose
    // centre it holds.
    struct Bins {
        int64_t size = 1;
        int32_t across = 1;
        int32_t down = 1;
    };
    // Takes the records' centres up to the end marker and sorts them into bins.
    Bins binSites(const int32_t* cellTable);

    int32_t width_ = 0, height_ = 0, side_ = 1;
    int32_t groupsAcross_ = 0, groupsDown_ = 0;
    int32_t siteCount_ = 0;
    int32_t entryCount_ = 0;
    std::vector<int64_t> siteX_, siteY_;
    std::vector<int32_t> binStart_, binRecords_, binOfSite_;
    std::vector<int32_t> spans_, entries_;
};

}  // namespace vanto
