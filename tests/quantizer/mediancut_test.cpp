// Histogram coarsening and median cut.
#include "mediancut.h"
#include "quanttest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>

using namespace testkit;

using namespace huecut;

namespace {

struct CutResult {
    std::vector<Pixel> map;
    int boxCount = 0;
};

CutResult cut(std::vector<ColorHistEntry> hist, Sample maxval, int requested) {
    int64_t total = 0;
    for (const ColorHistEntry& e : hist) total += e.value;
    CutResult result;
    const std::vector<ColorHistEntry> map =
        medianCut(hist.data(), (int)hist.size(), total, maxval, requested, &result.boxCount);
    EXPECT_EQ(map.size(), size_t(std::min(requested, result.boxCount + 1)));
    for (const ColorHistEntry& e : map) result.map.push_back(e.color);
    return result;
}

ColorHistEntry entry(Sample r, Sample g, Sample b, long count) { return ColorHistEntry{Pixel{r, g, b}, count}; }

const Pixel BLACK = {0, 0, 0};

}  // namespace

TEST(MedianCut, FewerColoursThanAskedGivesEachColourLargestFirstThenBlack) {
    CutResult r = cut({entry(10, 20, 30, 5), entry(200, 100, 0, 9), entry(7, 7, 250, 2)}, 255, 256);
    EXPECT_EQ(r.boxCount, 3);
    // One black entry stands for all the others a full map would repeat.
    ASSERT_EQ(r.map.size(), 4u);
    EXPECT_EQ(r.map[0], (Pixel{200, 100, 0}));
    EXPECT_EQ(r.map[1], (Pixel{10, 20, 30}));
    EXPECT_EQ(r.map[2], (Pixel{7, 7, 250}));
    EXPECT_EQ(r.map[3], BLACK);
}

TEST(MedianCut, TwoColourBoxAlwaysSplitsIntoBothColours) {
    for (long small : {1L, 999L}) {
        CutResult r = cut({entry(0, 0, 0, small), entry(255, 255, 255, 1000)}, 255, 2);
        EXPECT_EQ(r.boxCount, 2);
        EXPECT_EQ(r.map[0], (Pixel{255, 255, 255}));
        EXPECT_EQ(r.map[1], BLACK);
    }
    CutResult r = cut({entry(0, 0, 0, 1000), entry(255, 255, 255, 1)}, 255, 2);
    EXPECT_EQ(r.map[0], BLACK);
    EXPECT_EQ(r.map[1], (Pixel{255, 255, 255}));
}

TEST(MedianCut, FirstEntryHoldingHalfTheBoxIsSplitOffAlone) {
    // Listed out of order: the box is sorted by red before the split.
    CutResult r = cut({entry(40, 0, 0, 2), entry(10, 0, 0, 10), entry(30, 0, 0, 2), entry(20, 0, 0, 2)}, 255, 2);
    EXPECT_EQ(r.map[0], (Pixel{10, 0, 0}));
    EXPECT_EQ(r.map[1], (Pixel{30, 0, 0}));  // (20*2 + 30*2 + 40*2) / 6
}

TEST(MedianCut, MedianLeavesAtLeastOneEntryInTheUpperBox) {
    // Half is 8: the running count passes it only after the third entry, and
    // the last entry must stay on its own.
    CutResult r = cut({entry(10, 0, 0, 3), entry(20, 0, 0, 3), entry(30, 0, 0, 3), entry(40, 0, 0, 7)}, 255, 2);
    EXPECT_EQ(r.map[0], (Pixel{20, 0, 0}));
    EXPECT_EQ(r.map[1], (Pixel{40, 0, 0}));
}

TEST(MedianCut, SplitsAlongTheWidestWeightedAxis) {
    // Green spans 100 (58.66 weighted), red 150 (44.8): the cut is by green,
    // pairing each dark green with its neighbour.
    CutResult r = cut({entry(0, 0, 0, 1), entry(150, 5, 0, 1), entry(0, 100, 0, 1), entry(150, 95, 0, 1)}, 255, 2);
    EXPECT_EQ(r.map[0], (Pixel{75, 2, 0}));
    EXPECT_EQ(r.map[1], (Pixel{75, 97, 0}));
}

TEST(MedianCut, RepresentativeIsTheTruncatedWeightedMeanWithoutOverflow) {
    // Sample times count goes far beyond 32 bits here.
    CutResult r = cut({entry(0, 0, 0, 1), entry(65533, 0, 0, 3000000000L), entry(65535, 100, 0, 3000000000L)},
                      65535, 2);
    EXPECT_EQ(r.map[0], (Pixel{65532, 0, 0}));  // 65533 * 3e9 / (3e9 + 1)
    EXPECT_EQ(r.map[1], (Pixel{65535, 100, 0}));
}

TEST(MedianCut, EmptyHistogramGivesABlackMap) {
    int boxes = 0;
    const std::vector<ColorHistEntry> map = medianCut(nullptr, 0, 0, 255, 4, &boxes);
    EXPECT_EQ(boxes, 1);
    ASSERT_EQ(map.size(), 2u);
    for (const ColorHistEntry& e : map) EXPECT_EQ(e.color, BLACK);
}

TEST(MedianCut, HugeRequestsMakeOnlyWhatTheColoursCanFill) {
    // A map of 2^31 - 1 entries would take 48 GiB; one colour needs two.
    ColorHistEntry one = entry(1, 2, 3, 1);
    int boxes = 0;
    const std::vector<ColorHistEntry> map = medianCut(&one, 1, 1, 255, 2147483647, &boxes);
    EXPECT_EQ(boxes, 1);
    ASSERT_EQ(map.size(), 2u);
    EXPECT_EQ(map[0].color, (Pixel{1, 2, 3}));
    EXPECT_EQ(map[1].color, BLACK);
    // A histogram too large for the tables is still refused before allocating.
    EXPECT_EXIT(medianCut(&one, 300000000, 300000000, 255, 300000000, &boxes),
                testing::ExitedWithCode(1), "out of memory");
}

struct AxisCase {
    Sample red, green, blue;
    int axis;
};

static void PrintTo(const AxisCase& c, std::ostream* os) {
    *os << "spans " << c.red << "/" << c.green << "/" << c.blue << " -> axis " << c.axis;
}

class SplitAxis : public testing::TestWithParam<AxisCase> {};

TEST_P(SplitAxis, WeighsSpansByLuminanceInSinglePrecision) {
    const AxisCase& c = GetParam();
    EXPECT_EQ(chooseSplitAxis(c.red, c.green, c.blue), c.axis);
}

INSTANTIATE_TEST_SUITE_P(Cases, SplitAxis,
                         testing::Values(AxisCase{0, 0, 0, 0},          // all equal: red
                                         AxisCase{0, 5, 0, 1}, AxisCase{0, 0, 5, 2}, AxisCase{10, 10, 10, 1},
                                         AxisCase{20, 10, 0, 0},        // 5.978 against 5.866
                                         AxisCase{0, 10, 52, 2},        // 5.866 against 5.954
                                         // Equal only once rounded to single precision: in double
                                         // the second axis would be larger.
                                         AxisCase{838, 427, 0, 0}, AxisCase{0, 5725, 29330, 1}));

TEST(ReorderBoxes, MatchesAStableSortByDescendingSum) {
    std::mt19937 gen(7);
    for (int round = 0; round < 2000; ++round) {
        const int count = 1 + (int)(gen() % 12);
        std::vector<ColorBox> boxes;
        for (int i = 0; i < count; ++i) boxes.push_back(ColorBox{i, 1, 2 + (int64_t)(gen() % 6)});
        std::stable_sort(boxes.begin(), boxes.end(), [](const ColorBox& a, const ColorBox& b) { return a.sum > b.sum; });
        const int split = (int)(gen() % count);
        const int64_t old = boxes[split].sum;
        boxes[split].sum = 1 + (int64_t)(gen() % (old - 1));
        boxes.push_back(ColorBox{count, 1, 1 + (int64_t)(gen() % 7)});
        std::vector<ColorBox> expected = boxes;
        std::stable_sort(expected.begin(), expected.end(),
                         [](const ColorBox& a, const ColorBox& b) { return a.sum > b.sum; });
        reorderBoxesAfterSplit(boxes.data(), (int)boxes.size(), split);
        for (size_t i = 0; i < boxes.size(); ++i) {
            ASSERT_EQ(boxes[i].index, expected[i].index) << "round " << round << " position " << i;
            ASSERT_EQ(boxes[i].sum, expected[i].sum);
        }
    }
}

TEST(ComputeHistogram, HalvesTheMaxvalUntilTheColoursFit) {
    // 256 x 160 distinct colours at maxval 255; at 127 they merge to 128 x 80.
    TestImage image;
    image.cols = 256, image.rows = 160;
    for (int y = 0; y < 160; ++y)
        for (int x = 0; x < 256; ++x) image.pixels.push_back(Pixel{(Sample)x, (Sample)y, 9});
    TestImage original = image;
    RowView rows(image);
    int colors = 0;
    Sample newMaxval = 0;
    testing::internal::CaptureStderr();
    std::vector<ColorHistEntry> hist = computeHistogram(rows.data(), image.cols, image.rows, 255, &colors, &newMaxval);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(newMaxval, 127u);
    image.maxval = 127;
    EXPECT_EQ(colors, (int)distinctColors(image).size());
    EXPECT_EQ(colors, 128 * 80);
    for (size_t i = 0; i < image.pixels.size(); ++i) {
        const Pixel& o = original.pixels[i];
        ASSERT_EQ(image.pixels[i], (Pixel{(o.r * 127 + 127) / 255, (o.g * 127 + 127) / 255, (9 * 127 + 127) / 255}));
    }
    EXPECT_NE(err.find("making histogram...\n"), std::string::npos);
    EXPECT_NE(err.find("too many colors!\n"), std::string::npos);
    EXPECT_NE(err.find("scaling colors from maxval=255 to maxval=127 to improve clustering...\n"), std::string::npos);
    EXPECT_NE(err.find("10240 colors found\n"), std::string::npos);
}

TEST(ComputeHistogram, KeepsTheImageWhenTheColoursFit) {
    TestImage image = makeNoiseImage(40, 30, 65535, 8, 3);
    TestImage original = image;
    RowView rows(image);
    int colors = 0;
    Sample newMaxval = 0;
    testing::internal::CaptureStderr();
    std::vector<ColorHistEntry> hist = computeHistogram(rows.data(), image.cols, image.rows, 65535, &colors, &newMaxval);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(newMaxval, 65535u);
    EXPECT_EQ(colors, (int)distinctColors(original).size());
    EXPECT_TRUE(image.pixels == original.pixels);
    EXPECT_EQ(hist.size(), size_t(colors));
}
