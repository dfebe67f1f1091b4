// The match search of the optimal-parse coder: for every position, the
// matches worth weighing, each the closest one found of its length.
#ifndef RASTERPACK_DEFLATEMATCHES_H
#define RASTERPACK_DEFLATEMATCHES_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rasterpack {

struct MatchCandidate {
    uint16_t length;
    uint16_t distance;
};

// The matches of the positions start .. start + count - 1, by increasing
// length and distance, at most 24 a position: a length between two
// candidates' lengths is best taken at the longer one's distance.
struct MatchTable {
    size_t start = 0;
    size_t count = 0;
    std::vector<uint32_t> first;  // count + 1 entries into candidates
    std::vector<MatchCandidate> candidates;
};

// Binary trees of the window's positions, one per hash of three bytes and
// ordered by what follows each position, walked position by position: a
// search descends towards ever longer matches, which hash chains reach
// only after every shorter one (screenshots' blank runs make those chains
// long). Each span must start where the previous one ended; matches reach
// back into the earlier spans. Positions are 31-bit. Memory: 512 KB plus the tables it fills.
class MatchFinder {
public:
    // Visits at most maxDepth earlier positions per position.
    MatchFinder(const uint8_t* data, size_t size, int maxDepth);
    void find(size_t start, size_t end, MatchTable* table);

private:
    size_t commonLength(size_t position, size_t earlier, size_t from, size_t limit) const;
    void searchAndInsert(size_t position, MatchTable* table);

    const uint8_t* data_;
    size_t size_;
    int maxDepth_;
    std::vector<int32_t> head_, children_;
};

}  // namespace rasterpack

#endif
