// Palette entry orders: each a permutation within the non-opaque and the
// opaque entries, and remapping under it keeps every pixel's colour.
#include "paletteorders.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

using namespace rasterpack;

namespace {

// Five entries, the first two non-opaque: dark grey, white (both
// translucent), red, near-black, pink (near red).
std::vector<PaletteColour> colours() {
    return {{60, 60, 60, 100}, {255, 255, 255, 0}, {250, 0, 0, 255}, {5, 5, 5, 255}, {255, 40, 40, 255}};
}

// Index rows: entry 3 most frequent, then 4, 2; entry 0 more frequent than
// 1, but 1 seen first.
std::vector<uint8_t> indexRows() { return {1, 3, 3, 4, 0, 3, 2, 4, 3, 4, 3, 2, 0}; }

struct OrderCase {
    const char* name;
    PaletteOrder (*make)(const std::vector<PaletteColour>&, const IndexUse&, size_t);
    PaletteOrder expected;
};

std::vector<OrderCase> orderCases() {
    return {
        // 0 and 1 occur twice and once; 3 five times, 4 three, 2 twice.
        {"Frequency", [](const std::vector<PaletteColour>&, const IndexUse& u, size_t n) { return orderByFrequency(u, n); },
         {0, 1, 3, 4, 2}},
        {"FirstAppearance",
         [](const std::vector<PaletteColour>&, const IndexUse& u, size_t n) { return orderByFirstAppearance(u, n); },
         {1, 0, 3, 4, 2}},
        // White is brighter than dark grey; near-black, red, pink.
        {"Luminance", [](const std::vector<PaletteColour>& c, const IndexUse&, size_t n) { return orderByLuminance(c, n); },
         {0, 1, 3, 2, 4}},
        // From 3 (most used): red is nearer to black than pink is, then pink.
        {"NearestWalk",
         [](const std::vector<PaletteColour>& c, const IndexUse& u, size_t n) { return orderByNearestWalk(c, u, n); },
         {0, 1, 3, 2, 4}},
    };
}

class PaletteOrders : public testing::TestWithParam<OrderCase> {};

TEST_P(PaletteOrders, OrderWithinTheGroupsAndKeepThePixels) {
    const OrderCase& c = GetParam();
    std::vector<uint8_t> rows = indexRows();
    IndexUse use = countIndexUse(rows.data(), rows.size(), colours().size());
    PaletteOrder order = c.make(colours(), use, 2);
    EXPECT_EQ(order, c.expected);
    // A permutation that keeps entries 0 and 1 in front.
    PaletteOrder sorted = order;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, PaletteOrder({0, 1, 2, 3, 4}));
    EXPECT_LT(order[0], 2);
    EXPECT_LT(order[1], 2);
    // Each pixel keeps its colour: the new palette's entry i is the old order[i].
    std::vector<uint8_t> remapped = rows;
    remapIndexes(order, remapped.data(), remapped.size());
    for (size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(order[remapped[i]], rows[i]) << i;
}

INSTANTIATE_TEST_SUITE_P(Orders, PaletteOrders, testing::ValuesIn(orderCases()),
                         [](const testing::TestParamInfo<OrderCase>& info) { return info.param.name; });

TEST(PaletteOrders, CountsAndCandidates) {
    std::vector<uint8_t> rows = indexRows();
    IndexUse use = countIndexUse(rows.data(), rows.size(), 6);
    EXPECT_EQ(use.counts, std::vector<uint64_t>({2, 1, 2, 5, 3, 0}));
    EXPECT_EQ(use.firstSeen[5], UINT64_MAX);
    EXPECT_EQ(use.firstSeen[4], 3u);
    // The given order first; the walk equals the luminance order here, so
    // it is left out; no order repeats.
    std::vector<NamedPaletteOrder> orders =
        candidatePaletteOrders(colours(), countIndexUse(rows.data(), rows.size(), 5), 2);
    ASSERT_EQ(orders.size(), 4u);
    EXPECT_EQ(orders[0].order, PaletteOrder({0, 1, 2, 3, 4}));
    EXPECT_STREQ(orders[0].name, "as built");
    for (size_t i = 0; i < orders.size(); ++i)
        for (size_t j = i + 1; j < orders.size(); ++j) EXPECT_NE(orders[i].order, orders[j].order);
    // No non-opaque entries: one group.
    EXPECT_EQ(orderByFrequency(countIndexUse(rows.data(), rows.size(), 5), 0), PaletteOrder({3, 4, 0, 2, 1}));
}

}  // namespace
