#include "deflatematches.h"

#include "deflatesymbols.h"

#include <algorithm>
#include <cstring>

namespace rasterpack {

namespace {

const int HASH_BITS = 16;
const size_t WINDOW_MASK = DEFLATE_WINDOW - 1;
// A position rarely has more than a few; the longest ones are kept, since a
// match also gives every shorter length at its distance.
const size_t MAX_CANDIDATES = 24;

uint32_t hashAt(const uint8_t* p) {
    uint32_t v = uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
    return (v * 2654435761u) >> (32 - HASH_BITS);
}

}  // namespace

MatchFinder::MatchFinder(const uint8_t* data, size_t size, int maxDepth)
    : data_(data), size_(size), maxDepth_(maxDepth), head_(size_t(1) << HASH_BITS, -1),
      children_(2 * size_t(DEFLATE_WINDOW), -1) {}

size_t MatchFinder::commonLength(size_t position, size_t earlier, size_t from, size_t limit) const {
    const uint8_t* a = data_ + position;
    const uint8_t* b = data_ + earlier;
    size_t n = from;
    while (n + 8 <= limit) {
        uint64_t x, y;
        memcpy(&x, a + n, 8);
        memcpy(&y, b + n, 8);
        if (x != y) return n + size_t(__builtin_ctzll(x ^ y) / 8);
        n += 8;
    }
    while (n < limit && a[n] == b[n]) ++n;
    return n;
}

// Descends the tree of position's hash, noting each longer match, and
// re-roots the tree at position: every node passed goes to the side it
// falls on, so the order holds for the searches to come.
void MatchFinder::searchAndInsert(size_t i, MatchTable* table) {
    size_t limit = std::min(size_ - i, size_t(DEFLATE_MAX_MATCH));
    uint32_t h = hashAt(data_ + i);
    int32_t node = head_[h];
    head_[h] = int32_t(i);
    int32_t* pendingLess = &children_[2 * (i & WINDOW_MASK)];
    int32_t* pendingMore = pendingLess + 1;
    size_t lessLength = 0, moreLength = 0, best = DEFLATE_MIN_MATCH - 1;
    // A slot of the ring is reused once its position is a window away, so a
    // node that far back ends the descent before its slot is read.
    for (int depth = maxDepth_; node >= 0 && i - size_t(node) < size_t(DEFLATE_WINDOW) && depth > 0; --depth) {
        size_t q = size_t(node);
        int32_t* children = &children_[2 * (q & WINDOW_MASK)];
        size_t length = commonLength(i, q, std::min(lessLength, moreLength), limit);
        if (length > best) {
            best = length;
            table->candidates.push_back(MatchCandidate{uint16_t(length), uint16_t(i - q)});
        }
        if (length == limit) {
            // Indistinguishable from position within any later search's
            // reach: position takes its place.
            *pendingLess = children[0];
            *pendingMore = children[1];
            return;
        }
        if (data_[q + length] < data_[i + length]) {
            *pendingLess = node;
            pendingLess = &children[1];
            node = *pendingLess;
            lessLength = length;
        } else {
            *pendingMore = node;
            pendingMore = &children[0];
            node = *pendingMore;
            moreLength = length;
        }
    }
    *pendingLess = -1;
    *pendingMore = -1;
}

void MatchFinder::find(size_t start, size_t end, MatchTable* table) {
    table->start = start;
    table->count = end - start;
    table->first.resize(table->count + 1);
    table->candidates.clear();
    for (size_t i = start; i < end; ++i) {
        table->first[i - start] = uint32_t(table->candidates.size());
        if (size_ - i >= size_t(DEFLATE_MIN_MATCH)) searchAndInsert(i, table);
        size_t found = table->candidates.size() - table->first[i - start];
        if (found > MAX_CANDIDATES)
            table->candidates.erase(table->candidates.begin() + long(table->first[i - start]),
                                    table->candidates.end() - long(MAX_CANDIDATES));
    }
    table->first[table->count] = uint32_t(table->candidates.size());
}

}  // namespace rasterpack
