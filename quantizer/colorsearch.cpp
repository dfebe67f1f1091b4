#include "colorsearch.h"

#include <algorithm>
#include <unordered_set>

namespace {

// One component's share of the distance. Truncating each square on its own
// keeps every share a lower bound of the whole distance, which is what makes
// the early exit of the search exact under the coarse rule as well.
inline uint32_t componentTerm(Sample x, Sample y, bool coarse) {
    const uint32_t d = x > y ? x - y : y - x;
    const uint32_t sq = d * d;
    return coarse ? sq / 16 : sq;
}

inline Sample component(const Pixel& p, int axis) { return axis == 0 ? p.r : axis == 1 ? p.g : p.b; }

uint64_t colorKey(const Pixel& p) { return (uint64_t)p.r << 32 ^ (uint64_t)p.g << 16 ^ p.b; }

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
    Sample lo[3] = {UINT32_MAX, UINT32_MAX, UINT32_MAX}, hi[3] = {0, 0, 0};
    std::vector<int> distinct;
    std::unordered_set<uint64_t> seen;
    for (int i = 0; i < mapSize; ++i) {
        const Pixel& c = map[i].color;
        if (!seen.insert(colorKey(c)).second) continue;
        distinct.push_back(i);
        for (int axis = 0; axis < 3; ++axis) {
            lo[axis] = std::min(lo[axis], component(c, axis));
            hi[axis] = std::max(hi[axis], component(c, axis));
        }
    }
    // The widest axis lets the early exit cut the most.
    int axis = 0;
    for (int k = 1; k < 3; ++k)
        if (!distinct.empty() && hi[k] - lo[k] > hi[axis] - lo[axis]) axis = k;
    search.keyAxis = axis;
    search.entries.reserve(distinct.size());
    for (int i : distinct) {
        const Pixel& c = map[i].color;
        search.entries.push_back(
            SearchEntry{component(c, axis), component(c, (axis + 1) % 3), component(c, (axis + 2) % 3), i});
    }
    std::stable_sort(search.entries.begin(), search.entries.end(),
                     [](const SearchEntry& x, const SearchEntry& y) { return x.key < y.key; });
    return search;
}

int searchNearestColor(const ColorSearch& search, const Pixel& pixel) {
    const bool coarse = search.maxval > 255;
    const int axis = search.keyAxis;
    const Sample key = component(pixel, axis);
    const Sample pa = component(pixel, (axis + 1) % 3);
    const Sample pb = component(pixel, (axis + 2) % 3);
    const SearchEntry* e = search.entries.data();
    const int n = (int)search.entries.size();

    uint32_t best = UINT32_MAX;
    int answer = 0;
    // Considers entry i; an equal distance wins only with a lower map index,
    // as it would in a scan in map order.
    auto consider = [&](int i, uint32_t keyTerm) {
        uint32_t d = keyTerm + componentTerm(pa, e[i].a, coarse);
        if (d > best) return;
        d += componentTerm(pb, e[i].b, coarse);
        if (d < best || (d == best && e[i].index < answer)) {
            best = d;
            answer = e[i].index;
        }
    };

    // Walk outwards from the pixel's key in both directions. The key term
    // alone bounds an entry's distance from below and only grows with the
    // walk, so a side stops once it exceeds the best distance (equal may
    // still tie with a lower index).
    int up = (int)(std::lower_bound(e, e + n, key, [](const SearchEntry& x, Sample k) { return x.key < k; }) - e);
    int down = up - 1;
    bool upOpen = up < n, downOpen = down >= 0;
    while (upOpen || downOpen) {
        uint32_t upTerm = upOpen ? componentTerm(key, e[up].key, coarse) : UINT32_MAX;
        uint32_t downTerm = downOpen ? componentTerm(key, e[down].key, coarse) : UINT32_MAX;
        if (upOpen && upTerm <= downTerm) {
            if (upTerm > best) {
                upOpen = false;
                continue;
            }
            consider(up, upTerm);
            upOpen = ++up < n;
        } else {
            if (downTerm > best) {
                downOpen = false;
                continue;
            }
            consider(down, downTerm);
            downOpen = --down >= 0;
        }
    }
    return answer;
}
