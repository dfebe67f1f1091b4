#include "colorsearch.h"

#include <algorithm>
#include <unordered_set>

namespace {

const int MAX_CELLS_PER_AXIS = 16;

// One component's share of the distance. It only grows with the difference,
// and truncating each square on its own keeps every share a lower bound of
// the whole distance: the bounds of both searches hold under the coarse rule
// as well.
inline uint32_t componentTerm(Sample x, Sample y, bool coarse) {
    const uint32_t d = x > y ? x - y : y - x;
    const uint32_t sq = d * d;
    return coarse ? sq / 16 : sq;
}

inline Sample component(const SearchEntry& e, int axis) { return axis == 0 ? e.r : axis == 1 ? e.g : e.b; }
inline Sample component(const Pixel& p, int axis) { return axis == 0 ? p.r : axis == 1 ? p.g : p.b; }

uint64_t colorKey(const Pixel& p) { return (uint64_t)p.r << 32 ^ (uint64_t)p.g << 16 ^ p.b; }

inline uint32_t entryDistance(const SearchEntry& e, const Pixel& p, bool coarse) {
    return componentTerm(e.r, p.r, coarse) + componentTerm(e.g, p.g, coarse) + componentTerm(e.b, p.b, coarse);
}

// Cell of a sample along one axis, and the samples a cell spans.
inline int cellOf(Sample s, int cells, Sample maxval) { return (int)((uint64_t)s * cells / ((uint64_t)maxval + 1)); }
Sample cellLow(int c, int cells, Sample maxval) {
    return (Sample)(((uint64_t)c * (maxval + 1ull) + cells - 1) / cells);
}
Sample cellHigh(int c, int cells, Sample maxval) { return cellLow(c + 1, cells, maxval) - 1; }

// Least and greatest share of one component over the samples lo..hi.
inline uint32_t leastTerm(Sample s, Sample lo, Sample hi, bool coarse) {
    return s < lo ? componentTerm(s, lo, coarse) : s > hi ? componentTerm(s, hi, coarse) : 0;
}
inline uint32_t greatestTerm(Sample s, Sample lo, Sample hi, bool coarse) {
    return std::max(componentTerm(s, lo, coarse), componentTerm(s, hi, coarse));
}

void buildCell(ColorSearch& search, int cell) {
    const int n = search.cellsPerAxis;
    const bool coarse = search.maxval > 255;
    const int cr = cell / (n * n), cg = cell / n % n, cb = cell % n;
    const Sample rLo = cellLow(cr, n, search.maxval), rHi = cellHigh(cr, n, search.maxval);
    const Sample gLo = cellLow(cg, n, search.maxval), gHi = cellHigh(cg, n, search.maxval);
    const Sample bLo = cellLow(cb, n, search.maxval), bHi = cellHigh(cb, n, search.maxval);
    uint32_t bound = UINT32_MAX;
    for (const SearchEntry& e : search.distinct) {
        const uint32_t greatest = greatestTerm(e.r, rLo, rHi, coarse) + greatestTerm(e.g, gLo, gHi, coarse) +
                                  greatestTerm(e.b, bLo, bHi, coarse);
        bound = std::min(bound, greatest);
    }
    search.cellStart[cell] = (int32_t)search.candidates.size();
    for (const SearchEntry& e : search.distinct) {
        const uint32_t least = leastTerm(e.r, rLo, rHi, coarse) + leastTerm(e.g, gLo, gHi, coarse) +
                               leastTerm(e.b, bLo, bHi, coarse);
        if (least <= bound) search.candidates.push_back(e);
    }
    search.cellCount[cell] = (int32_t)search.candidates.size() - search.cellStart[cell];
}

int searchGrid(ColorSearch& search, const Pixel& pixel) {
    const int n = search.cellsPerAxis;
    const int cell = (cellOf(pixel.r, n, search.maxval) * n + cellOf(pixel.g, n, search.maxval)) * n +
                     cellOf(pixel.b, n, search.maxval);
    if (search.cellStart[cell] < 0) buildCell(search, cell);
    const bool coarse = search.maxval > 255;
    const SearchEntry* e = search.candidates.data() + search.cellStart[cell];
    const int count = search.cellCount[cell];
    // The candidates are in map order: the first of equally near ones wins.
    uint32_t best = UINT32_MAX;
    int answer = 0;
    for (int i = 0; i < count; ++i) {
        const uint32_t d = entryDistance(e[i], pixel, coarse);
        if (d < best) {
            best = d;
            answer = e[i].index;
        }
    }
    return answer;
}

int searchSorted(const ColorSearch& search, const Pixel& pixel) {
    const bool coarse = search.maxval > 255;
    const int axis = search.keyAxis;
    const Sample key = component(pixel, axis);
    const SearchEntry* e = search.sorted.data();
    const int n = (int)search.sorted.size();

    uint32_t best = UINT32_MAX;
    int answer = 0;
    // An equal distance wins only with a lower map index, as in a scan in
    // map order.
    auto consider = [&](int i) {
        const uint32_t d = entryDistance(e[i], pixel, coarse);
        if (d < best || (d == best && e[i].index < answer)) {
            best = d;
            answer = e[i].index;
        }
    };
    // Walk outwards from the pixel's key in both directions. The key's share
    // alone bounds an entry's distance from below and only grows along the
    // walk, so a side stops once it exceeds the best distance (an equal one
    // may still tie with a lower index).
    int up = (int)(std::lower_bound(e, e + n, key, [axis](const SearchEntry& x, Sample k) {
                       return component(x, axis) < k;
                   }) -
                   e);
    int down = up - 1;
    bool upOpen = up < n, downOpen = down >= 0;
    while (upOpen || downOpen) {
        const uint32_t upTerm = upOpen ? componentTerm(key, component(e[up], axis), coarse) : UINT32_MAX;
        const uint32_t downTerm = downOpen ? componentTerm(key, component(e[down], axis), coarse) : UINT32_MAX;
        if (upOpen && upTerm <= downTerm) {
            if (upTerm > best) {
                upOpen = false;
                continue;
            }
            consider(up);
            upOpen = ++up < n;
        } else {
            if (downTerm > best) {
                downOpen = false;
                continue;
            }
            consider(down);
            downOpen = --down >= 0;
        }
    }
    return answer;
}

}  // namespace

uint32_t colorDistance(const Pixel& a, const Pixel& b, Sample maxval) {
    const bool coarse = maxval > 255;
    return componentTerm(a.r, b.r, coarse) + componentTerm(a.g, b.g, coarse) + componentTerm(a.b, b.b, coarse);
}

int scanNearestColor(const ColorHistEntry* map, int mapSize, const Pixel& pixel, Sample maxval) {
    uint32_t best = UINT32_MAX;
    int answer = 0;
    for (int i = 0; i < mapSize; ++i) {
        const uint32_t d = colorDistance(pixel, map[i].color, maxval);
        if (d < best) {
            best = d;
            answer = i;
        }
    }
    return answer;
}

ColorSearch buildColorSearch(const ColorHistEntry* map, int mapSize, Sample maxval) {
    ColorSearch search;
    search.maxval = maxval;
    std::unordered_set<uint64_t> seen;
    for (int i = 0; i < mapSize; ++i) {
        const Pixel& c = map[i].color;
        if (seen.insert(colorKey(c)).second) search.distinct.push_back(SearchEntry{c.r, c.g, c.b, i});
    }
    search.useGrid = (int)search.distinct.size() <= GRID_SEARCH_MAX_COLORS;
    search.cellsPerAxis = (int)std::min<Sample>(MAX_CELLS_PER_AXIS, maxval + 1);
    search.keyAxis = 0;
    if (search.useGrid) {
        const size_t cells = (size_t)search.cellsPerAxis * search.cellsPerAxis * search.cellsPerAxis;
        search.cellStart.assign(cells, -1);
        search.cellCount.assign(cells, 0);
        return search;
    }
    // The widest axis lets the walk stop soonest.
    Sample lo[3] = {UINT32_MAX, UINT32_MAX, UINT32_MAX}, hi[3] = {0, 0, 0};
    for (const SearchEntry& e : search.distinct)
        for (int axis = 0; axis < 3; ++axis) {
            lo[axis] = std::min(lo[axis], component(e, axis));
            hi[axis] = std::max(hi[axis], component(e, axis));
        }
    for (int axis = 1; axis < 3; ++axis)
        if (hi[axis] - lo[axis] > hi[search.keyAxis] - lo[search.keyAxis]) search.keyAxis = axis;
    search.sorted = search.distinct;
    const int axis = search.keyAxis;
    std::stable_sort(search.sorted.begin(), search.sorted.end(), [axis](const SearchEntry& x, const SearchEntry& y) {
        return component(x, axis) < component(y, axis);
    });
    return search;
}

int searchNearestColor(ColorSearch& search, const Pixel& pixel) {
    return search.useGrid ? searchGrid(search, pixel) : searchSorted(search, pixel);
}
