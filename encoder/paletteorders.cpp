#include "paletteorders.h"

#include <algorithm>
#include <numeric>

namespace rasterpack {

namespace {

// The identity, to be sorted within its two groups by less(a, b) on old
// indexes; equal entries keep their order.
template <typename Less>
PaletteOrder sortedWithinGroups(size_t entries, size_t nonOpaque, Less less) {
    PaletteOrder order(entries);
    std::iota(order.begin(), order.end(), uint8_t(0));
    size_t split = std::min(nonOpaque, entries);
    std::stable_sort(order.begin(), order.begin() + split, less);
    std::stable_sort(order.begin() + split, order.end(), less);
    return order;
}

uint64_t squaredDistance(const PaletteColour& a, const PaletteColour& b) {
    auto d = [](unsigned x, unsigned y) { return uint64_t(x > y ? x - y : y - x); };
    return d(a.r, b.r) * d(a.r, b.r) + d(a.g, b.g) * d(a.g, b.g) + d(a.b, b.b) * d(a.b, b.b) +
           d(a.alpha, b.alpha) * d(a.alpha, b.alpha);
}

// The walk within one group of old indexes [first, end).
void walkGroup(const std::vector<PaletteColour>& colours, const IndexUse& use, size_t first, size_t end,
               PaletteOrder* order) {
    if (first >= end) return;
    std::vector<bool> taken(end - first, false);
    size_t at = first;
    for (size_t i = first; i < end; ++i)
        if (use.counts[i] > use.counts[at]) at = i;
    for (size_t step = first; step < end; ++step) {
        order->push_back(uint8_t(at));
        taken[at - first] = true;
        size_t next = end;
        uint64_t nearest = UINT64_MAX;
        for (size_t i = first; i < end; ++i) {
            if (taken[i - first]) continue;
            uint64_t d = squaredDistance(colours[at], colours[i]);
            if (d < nearest) nearest = d, next = i;
        }
        at = next;
    }
}

}  // namespace

IndexUse countIndexUse(const uint8_t* indexes, size_t count, size_t entries) {
    IndexUse use;
    use.counts.assign(entries, 0);
    use.firstSeen.assign(entries, UINT64_MAX);
    for (size_t i = 0; i < count; ++i) {
        uint8_t v = indexes[i];
        if (v >= entries) continue;  // beyond the palette: no entry to count
        if (use.counts[v]++ == 0) use.firstSeen[v] = i;
    }
    return use;
}

PaletteOrder orderByFrequency(const IndexUse& use, size_t nonOpaque) {
    return sortedWithinGroups(use.counts.size(), nonOpaque,
                              [&](uint8_t a, uint8_t b) { return use.counts[a] > use.counts[b]; });
}

PaletteOrder orderByFirstAppearance(const IndexUse& use, size_t nonOpaque) {
    return sortedWithinGroups(use.firstSeen.size(), nonOpaque,
                              [&](uint8_t a, uint8_t b) { return use.firstSeen[a] < use.firstSeen[b]; });
}

PaletteOrder orderByLuminance(const std::vector<PaletteColour>& colours, size_t nonOpaque) {
    auto luma = [&](uint8_t i) { return uint64_t(colours[i].r) * 299 + uint64_t(colours[i].g) * 587 + uint64_t(colours[i].b) * 114; };
    return sortedWithinGroups(colours.size(), nonOpaque, [&](uint8_t a, uint8_t b) { return luma(a) < luma(b); });
}

PaletteOrder orderByNearestWalk(const std::vector<PaletteColour>& colours, const IndexUse& use, size_t nonOpaque) {
    PaletteOrder order;
    size_t split = std::min(nonOpaque, colours.size());
    walkGroup(colours, use, 0, split, &order);
    walkGroup(colours, use, split, colours.size(), &order);
    return order;
}

std::vector<NamedPaletteOrder> candidatePaletteOrders(const std::vector<PaletteColour>& colours, const IndexUse& use,
                                                      size_t nonOpaque) {
    PaletteOrder given(colours.size());
    std::iota(given.begin(), given.end(), uint8_t(0));
    std::vector<NamedPaletteOrder> orders = {{"as built", given}};
    const NamedPaletteOrder more[] = {{"by frequency", orderByFrequency(use, nonOpaque)},
                                      {"by luminance", orderByLuminance(colours, nonOpaque)},
                                      {"by a nearest-colour walk", orderByNearestWalk(colours, use, nonOpaque)},
                                      {"by first appearance", orderByFirstAppearance(use, nonOpaque)}};
    for (const NamedPaletteOrder& o : more) {
        bool seen = false;
        for (const NamedPaletteOrder& had : orders) seen = seen || had.order == o.order;
        if (!seen) orders.push_back(o);
    }
    return orders;
}

void remapIndexes(const PaletteOrder& order, uint8_t* indexes, size_t count) {
    uint8_t place[256];
    std::iota(place, place + 256, uint8_t(0));
    for (size_t i = 0; i < order.size(); ++i) place[order[i]] = uint8_t(i);
    for (size_t i = 0; i < count; ++i) indexes[i] = place[indexes[i]];
}

}  // namespace rasterpack
