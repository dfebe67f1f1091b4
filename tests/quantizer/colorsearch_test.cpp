// The nearest-colour rule and the accelerated search against the plain scan.
#include "colorsearch_internal.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>

using namespace huecut;

namespace {

std::vector<ColorHistEntry> makeMap(const std::vector<Pixel>& colors) {
    std::vector<ColorHistEntry> map;
    for (const Pixel& c : colors) map.push_back(ColorHistEntry{c, 0});
    return map;
}

}  // namespace

struct DistanceCase {
    Pixel a, b;
    uint64_t expected;
};

// Exact at every maxval: three squares of 16-bit differences pass 32 bits,
// and small differences count however large the samples are.
TEST(ColorDistance, IsTheExactSumOfSquares) {
    const DistanceCase cases[] = {
        {{0, 0, 0}, {255, 255, 255}, 3u * 255 * 255},
        {{10, 20, 30}, {13, 16, 30}, 9u + 16u},
        {{1, 0, 0}, {0, 0, 0}, 1u},
        {{0, 0, 0}, {65535, 65535, 65535}, 3ull * 65535 * 65535},
        {{100, 100, 100}, {103, 97, 103}, 27u},
        {{1000, 1000, 1000}, {1003, 1003, 1003}, 27u},
        {{65535, 0, 65535}, {0, 65535, 65534}, 2ull * 65535 * 65535 + 1},
    };
    for (const DistanceCase& c : cases) {
        EXPECT_EQ(colorDistance(c.a, c.b), c.expected) << c.a.r << "," << c.a.g << "," << c.a.b;
        EXPECT_EQ(colorDistance(c.b, c.a), c.expected);
    }
}

TEST(ScanNearestColor, TakesTheLowestIndexAmongEquallyNearEntries) {
    std::vector<ColorHistEntry> map = makeMap({{50, 0, 0}, {10, 0, 0}, {30, 0, 0}, {10, 0, 0}, {20, 0, 0}});
    EXPECT_EQ(scanNearestColor(map.data(), 5, Pixel{10, 0, 0}), 1);  // not the later duplicate
    EXPECT_EQ(scanNearestColor(map.data(), 5, Pixel{15, 0, 0}), 1);  // 10 and 20 tie
    EXPECT_EQ(scanNearestColor(map.data(), 5, Pixel{25, 0, 0}), 2);  // 20 and 30 tie
    // Near 16-bit colours are told apart: each map colour is nearest to itself.
    map = makeMap({{1000, 1000, 1003}, {1000, 1000, 1000}, {999, 1001, 1000}});
    EXPECT_EQ(scanNearestColor(map.data(), 3, Pixel{1000, 1000, 1000}), 1);
    EXPECT_EQ(scanNearestColor(map.data(), 3, Pixel{1000, 1000, 1003}), 0);
    EXPECT_EQ(scanNearestColor(map.data(), 3, Pixel{999, 1001, 1001}), 2);
}

struct SearchCase {
    Sample maxval;
    int mapSize;
    int levels;       // distinct values per component the map and pixels use
    int spread;       // pixels lie up to this far from a level
};

static void PrintTo(const SearchCase& c, std::ostream* os) {
    *os << "maxval " << c.maxval << ", " << c.mapSize << " entries, " << c.levels << " levels, spread " << c.spread;
}

class SearchAgainstScan : public testing::TestWithParam<SearchCase> {};

// Coarse levels make duplicate map colours and exact ties common; at maxval
// 65535 small offsets around far-apart levels test that near 16-bit colours
// are told apart.
TEST_P(SearchAgainstScan, ReturnsTheSameIndexAsThePlainScan) {
    const SearchCase& c = GetParam();
    std::mt19937 gen(c.maxval * 31u + c.mapSize * 7u + c.levels);
    auto level = [&] { return (Sample)((uint64_t)(gen() % c.levels) * c.maxval / (c.levels - 1)); };
    auto near = [&](Sample v) {
        int64_t s = (int64_t)v + (int64_t)(gen() % (2 * c.spread + 1)) - c.spread;
        return (Sample)std::min<int64_t>(std::max<int64_t>(s, 0), c.maxval);
    };
    const int rounds = c.mapSize > 1000 ? 3 : 40;
    for (int round = 0; round < rounds; ++round) {
        std::vector<Pixel> colors;
        for (int i = 0; i < c.mapSize; ++i) colors.push_back(Pixel{near(level()), near(level()), near(level())});
        std::vector<ColorHistEntry> map = makeMap(colors);
        OwnedColorSearch owned = buildColorSearch(map.data(), c.mapSize, c.maxval);
        ColorSearch& search = *owned;
        ASSERT_EQ(search.useGrid, c.mapSize <= GRID_SEARCH_MAX_COLORS);
        for (int k = 0; k < 500; ++k) {
            Pixel p;
            if (k % 5 == 0) {
                p = colors[gen() % colors.size()];  // exactly a map colour
            } else if (k % 5 == 1) {
                // Halfway between two map colours: exact ties.
                const Pixel& a = colors[gen() % colors.size()];
                const Pixel& b = colors[gen() % colors.size()];
                p = Pixel{(a.r + b.r) / 2, (a.g + b.g) / 2, (a.b + b.b) / 2};
            } else if (k % 5 == 2) {
                p = Pixel{(Sample)(gen() % (c.maxval + 1)), (Sample)(gen() % (c.maxval + 1)),
                          (Sample)(gen() % (c.maxval + 1))};
            } else {
                p = Pixel{near(level()), near(level()), near(level())};
            }
            ASSERT_EQ(searchNearestColor(&search, p), scanNearestColor(map.data(), c.mapSize, p))
                << "maxval " << c.maxval << " pixel " << p.r << "," << p.g << "," << p.b << " round " << round;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Maps, SearchAgainstScan,
                         testing::Values(SearchCase{255, 1, 4, 0}, SearchCase{255, 2, 2, 0},
                                         SearchCase{255, 16, 3, 0}, SearchCase{255, 256, 6, 2},
                                         SearchCase{255, 256, 256, 0}, SearchCase{15, 40, 16, 0},
                                         SearchCase{1, 8, 2, 0}, SearchCase{65535, 16, 3, 3},
                                         SearchCase{65535, 256, 5, 7}, SearchCase{65535, 256, 65536, 0},
                                         SearchCase{300, 64, 10, 4},
                                         // Beyond the grid's size limit: the k-d tree.
                                         SearchCase{255, GRID_SEARCH_MAX_COLORS + 500, 40, 1},
                                         SearchCase{65535, GRID_SEARCH_MAX_COLORS + 500, 30, 5}));

TEST(ColorSearch, KeepsOnlyTheFirstOfDuplicateColours) {
    std::vector<ColorHistEntry> map = makeMap({{0, 0, 0}, {9, 9, 9}, {0, 0, 0}, {9, 9, 9}, {0, 0, 0}});
    OwnedColorSearch owned = buildColorSearch(map.data(), 5, 255);
    ColorSearch& search = *owned;
    EXPECT_EQ(search.distinct.size(), 2u);
    EXPECT_EQ(searchNearestColor(&search, Pixel{1, 1, 1}), 0);
    EXPECT_EQ(searchNearestColor(&search, Pixel{8, 9, 9}), 1);
}

// A map crowded into one corner of colour space makes every entry a candidate
// for most cells; such cells fall back to the k-d tree, so the grid's
// memory stays bounded and the answers stay those of the plain scan.
TEST(ColorSearch, CrowdedMapKeepsTheGridSmallAndExact) {
    for (Sample maxval : {Sample(255), Sample(65535)}) {
        std::vector<Pixel> colors;
        for (Sample r = 0; r < 16; ++r)
            for (Sample g = 0; g < 16; ++g)
                for (Sample b = 0; b < 16; ++b) colors.push_back(Pixel{r, g, b});
        std::vector<ColorHistEntry> map = makeMap(colors);
        const int mapSize = (int)map.size();
        OwnedColorSearch owned = buildColorSearch(map.data(), mapSize, maxval);
        ColorSearch& search = *owned;
        ASSERT_TRUE(search.useGrid);
        std::mt19937 gen(maxval);
        for (int k = 0; k < 3000; ++k) {
            Pixel p{(Sample)(gen() % (maxval + 1)), (Sample)(gen() % (maxval + 1)), (Sample)(gen() % 32)};
            ASSERT_EQ(searchNearestColor(&search, p), scanNearestColor(map.data(), mapSize, p))
                << "maxval " << maxval << " pixel " << p.r << "," << p.g << "," << p.b;
        }
        EXPECT_LE(search.candidates.size(), search.cellStart.size() * GRID_CELL_MAX_CANDIDATES);
        EXPECT_LT(search.candidates.size(), (size_t)mapSize * 64);
    }
}
