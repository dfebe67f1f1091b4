// Orders of a palette's entries for -optimize to try: the order changes how
// well the index rows compress (neighbouring pixels of similar colours get
// similar indexes, frequent colours small ones), never the pixels. Each order
// permutes the non-opaque entries, which tRNS needs first, among themselves
// and the opaque ones among themselves.
#ifndef RASTERPACK_PALETTEORDERS_H
#define RASTERPACK_PALETTEORDERS_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rasterpack {

struct PaletteColour {
    unsigned r = 0, g = 0, b = 0;  // image sample units
    unsigned alpha = 0;            // mask units; compared only with other entries'
};

// order[i]: the old index of the entry that goes to index i.
using PaletteOrder = std::vector<uint8_t>;

// How often each index occurs in the index rows, and where first.
struct IndexUse {
    std::vector<uint64_t> counts;
    std::vector<uint64_t> firstSeen;  // position of the first occurrence; UINT64_MAX for none
};

// indexes: one index a pixel, each below entries (at most 256).
IndexUse countIndexUse(const uint8_t* indexes, size_t count, size_t entries);

// Most frequent first (ties: the lower index first).
PaletteOrder orderByFrequency(const IndexUse& use, size_t nonOpaque);
// In the order the pixels first use them; unused entries last.
PaletteOrder orderByFirstAppearance(const IndexUse& use, size_t nonOpaque);
// Darkest first, by integer luma (ties: the lower index first).
PaletteOrder orderByLuminance(const std::vector<PaletteColour>& colours, size_t nonOpaque);
// From the most frequent entry, each next entry the nearest not yet taken
// (squared distance over colour and alpha; ties: the lower index).
PaletteOrder orderByNearestWalk(const std::vector<PaletteColour>& colours, const IndexUse& use, size_t nonOpaque);

struct NamedPaletteOrder {
    const char* name;  // for -verbose: "as built", "by frequency", ...
    PaletteOrder order;
};

// The orders worth a trial: the given order first, then the four above,
// each once (an order equal to one before it is left out).
std::vector<NamedPaletteOrder> candidatePaletteOrders(const std::vector<PaletteColour>& colours, const IndexUse& use,
                                                      size_t nonOpaque);

// Rewrites indexes under an order (old index -> its new place).
void remapIndexes(const PaletteOrder& order, uint8_t* indexes, size_t count);

}  // namespace rasterpack

#endif
