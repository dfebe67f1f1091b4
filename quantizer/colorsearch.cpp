#include "colorsearch_internal.h"

#include <algorithm>
#include <unordered_set>

namespace huecut {

namespace {

const int MAX_CELLS_PER_AXIS = 16;

// One component's share of the distance: the exact square, in 64 bits so
// that three squares of 16-bit differences add up without overflow.
inline uint64_t componentTerm(Sample x, Sample y) {
    const uint64_t d = x > y ? x - y : y - x;
    return d * d;
}

inline Sample component(const SearchEntry& e, int axis) { return axis == 0 ? e.r : axis == 1 ? e.g : e.b; }

uint64_t colorKey(const Pixel& p) { return static_cast<uint64_t>(p.r) << 32 ^ static_cast<uint64_t>(p.g) << 16 ^ p.b; }

inline uint64_t entryDistance(const SearchEntry& e, const Pixel& p) {
    return componentTerm(e.r, p.r) + componentTerm(e.g, p.g) + componentTerm(e.b, p.b);
}

// Cell of a sample along one axis, and the samples a cell spans.
inline int cellOf(Sample s, int cells, Sample maxval) {
    return static_cast<int>(static_cast<uint64_t>(s) * cells / (static_cast<uint64_t>(maxval) + 1));
}
Sample cellLow(int c, int cells, Sample maxval) {
    return static_cast<Sample>((static_cast<uint64_t>(c) * (maxval + 1ull) + cells - 1) / cells);
}
Sample cellHigh(int c, int cells, Sample maxval) { return cellLow(c + 1, cells, maxval) - 1; }

// Least and greatest share of one component over the samples lo..hi.
inline uint64_t leastTerm(Sample s, Sample lo, Sample hi) {
    return s < lo ? componentTerm(s, lo) : s > hi ? componentTerm(s, hi) : 0;
}
inline uint64_t greatestTerm(Sample s, Sample lo, Sample hi) {
    return std::max(componentTerm(s, lo), componentTerm(s, hi));
}

int searchTree(const ColorSearch& search, const Pixel& pixel);

void buildCell(ColorSearch& search, int cell) {
    const int n = search.cellsPerAxis;
    const int cr = cell / (n * n), cg = cell / n % n, cb = cell % n;
    const Sample rLo = cellLow(cr, n, search.maxval), rHi = cellHigh(cr, n, search.maxval);
    const Sample gLo = cellLow(cg, n, search.maxval), gHi = cellHigh(cg, n, search.maxval);
    const Sample bLo = cellLow(cb, n, search.maxval), bHi = cellHigh(cb, n, search.maxval);
    uint64_t bound = UINT64_MAX;
    for (const SearchEntry& e : search.distinct) {
        const uint64_t greatest = greatestTerm(e.r, rLo, rHi) + greatestTerm(e.g, gLo, gHi) +
                                  greatestTerm(e.b, bLo, bHi);
        bound = std::min(bound, greatest);
    }
    const size_t start = search.candidates.size();
    for (const SearchEntry& e : search.distinct) {
        const uint64_t least =
            leastTerm(e.r, rLo, rHi) + leastTerm(e.g, gLo, gHi) + leastTerm(e.b, bLo, bHi);
        if (least <= bound) search.candidates.push_back(e);
    }
    search.cellStart[cell] = static_cast<int32_t>(start);
    search.cellCount[cell] = static_cast<int32_t>(search.candidates.size() - start);
    if (search.cellCount[cell] > GRID_CELL_MAX_CANDIDATES) {
        search.candidates.resize(start);
        search.cellCount[cell] = -1;
    }
}

int searchGrid(ColorSearch& search, const Pixel& pixel) {
    const int n = search.cellsPerAxis;
    const int cell = (cellOf(pixel.r, n, search.maxval) * n + cellOf(pixel.g, n, search.maxval)) * n +
                     cellOf(pixel.b, n, search.maxval);
    if (search.cellStart[cell] < 0) buildCell(search, cell);
    if (search.cellCount[cell] < 0) return searchTree(search, pixel);
    const SearchEntry* e = search.candidates.data() + search.cellStart[cell];
    const int count = search.cellCount[cell];
    // The candidates are in map order: the first of equally near ones wins.
    uint64_t best = UINT64_MAX;
    int answer = 0;
    for (int i = 0; i < count; ++i) {
        const uint64_t d = entryDistance(e[i], pixel);
        if (d < best) {
            best = d;
            answer = e[i].index;
        }
    }
    return answer;
}

const int KD_LEAF_SIZE = 8;

// Builds the node over treeEntries[begin, end) and its subtree; returns its
// position in nodes.
int buildKdNode(ColorSearch& search, int begin, int end) {
    KdNode node;
    for (int axis = 0; axis < 3; ++axis) {
        node.lo[axis] = UINT32_MAX;
        node.hi[axis] = 0;
    }
    for (int i = begin; i < end; ++i)
        for (int axis = 0; axis < 3; ++axis) {
            const Sample v = component(search.treeEntries[i], axis);
            node.lo[axis] = std::min(node.lo[axis], v);
            node.hi[axis] = std::max(node.hi[axis], v);
        }
    node.begin = begin;
    node.end = end;
    node.left = node.right = -1;
    const int at = static_cast<int>(search.nodes.size());
    search.nodes.push_back(node);
    if (end - begin <= KD_LEAF_SIZE) return at;
    int axis = 0;
    for (int a = 1; a < 3; ++a)
        if (node.hi[a] - node.lo[a] > node.hi[axis] - node.lo[axis]) axis = a;
    const int mid = begin + (end - begin) / 2;
    std::nth_element(
        search.treeEntries.begin() + begin, search.treeEntries.begin() + mid, search.treeEntries.begin() + end,
        [axis](const SearchEntry& x, const SearchEntry& y) { return component(x, axis) < component(y, axis); });
    const int left = buildKdNode(search, begin, mid);
    const int right = buildKdNode(search, mid, end);
    search.nodes[at].left = left;
    search.nodes[at].right = right;
    return at;
}

// Least possible distance from the pixel to any colour in the node's box.
inline uint64_t boxBound(const KdNode& node, const Pixel& p) {
    return leastTerm(p.r, node.lo[0], node.hi[0]) + leastTerm(p.g, node.lo[1], node.hi[1]) +
           leastTerm(p.b, node.lo[2], node.hi[2]);
}

// Branch and bound. A box is skipped only when its least distance exceeds
// the best found; an equal one may still hold an equally near entry with a
// lower map index, which wins as in a scan in map order.
int searchTree(const ColorSearch& search, const Pixel& pixel) {
    uint64_t best = UINT64_MAX;
    int answer = 0;
    int stack[64];
    int depth = 0;
    stack[depth++] = 0;
    while (depth > 0) {
        const KdNode& node = search.nodes[stack[--depth]];
        if (boxBound(node, pixel) > best) continue;
        if (node.left < 0) {
            for (int i = node.begin; i < node.end; ++i) {
                const SearchEntry& e = search.treeEntries[i];
                const uint64_t d = entryDistance(e, pixel);
                if (d < best || (d == best && e.index < answer)) {
                    best = d;
                    answer = e.index;
                }
            }
            continue;
        }
        // The nearer child goes on top, so it is searched first.
        const uint64_t leftBound = boxBound(search.nodes[node.left], pixel);
        const uint64_t rightBound = boxBound(search.nodes[node.right], pixel);
        if (leftBound <= rightBound) {
            stack[depth++] = node.right;
            stack[depth++] = node.left;
        } else {
            stack[depth++] = node.left;
            stack[depth++] = node.right;
        }
    }
    return answer;
}

}  // namespace

uint64_t colorDistance(const Pixel& a, const Pixel& b) {
    return componentTerm(a.r, b.r) + componentTerm(a.g, b.g) + componentTerm(a.b, b.b);
}

int scanNearestColor(const ColorHistEntry* map, int mapSize, const Pixel& pixel) {
    uint64_t best = UINT64_MAX;
    int answer = 0;
    for (int i = 0; i < mapSize; ++i) {
        const uint64_t d = colorDistance(pixel, map[i].color);
        if (d < best) {
            best = d;
            answer = i;
        }
    }
    return answer;
}

OwnedColorSearch buildColorSearch(const ColorHistEntry* map, int mapSize, Sample maxval) {
    OwnedColorSearch search(new ColorSearch);
    search->maxval = maxval;
    std::unordered_set<uint64_t> seen;
    for (int i = 0; i < mapSize; ++i) {
        const Pixel& c = map[i].color;
        if (seen.insert(colorKey(c)).second) search->distinct.push_back(SearchEntry{c.r, c.g, c.b, i});
    }
    search->useGrid = static_cast<int>(search->distinct.size()) <= GRID_SEARCH_MAX_COLORS;
    search->cellsPerAxis = static_cast<int>(std::min<Sample>(MAX_CELLS_PER_AXIS, maxval + 1));
    if (search->useGrid) {
        const size_t cells = static_cast<size_t>(search->cellsPerAxis) * search->cellsPerAxis * search->cellsPerAxis;
        search->cellStart.assign(cells, -1);
        search->cellCount.assign(cells, 0);
    }
    search->treeEntries = search->distinct;
    if (!search->treeEntries.empty()) buildKdNode(*search, 0, static_cast<int>(search->treeEntries.size()));
    return search;
}

void ColorSearchRelease::operator()(ColorSearch* search) const { delete search; }

int searchNearestColor(ColorSearch* search, const Pixel& pixel) {
    return search->useGrid ? searchGrid(*search, pixel) : searchTree(*search, pixel);
}

}  // namespace huecut
