// The image's colour list, the histogram made from it, and the refinement
// against brute force.
#include "histogram.h"
#include "quanttest.h"
#include "refine.h"
#include "variancecut.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <set>

using namespace testkit;

using namespace huecut;

namespace {

uint64_t squaredDistance(const ColorCount& c, const Pixel& p) {
    const int64_t dr = int64_t(c.r) - p.r, dg = int64_t(c.g) - p.g, db = int64_t(c.b) - p.b;
    return uint64_t(dr * dr + dg * dg + db * db);
}

// Nearest entry by a plain scan, lowest index on ties.
int scanNearest(const std::vector<Pixel>& palette, const ColorCount& c) {
    int best = 0;
    for (size_t i = 1; i < palette.size(); ++i)
        if (squaredDistance(c, palette[i]) < squaredDistance(c, palette[best])) best = int(i);
    return best;
}

double totalError(const std::vector<ColorCount>& colors, const std::vector<Pixel>& palette) {
    double total = 0;
    for (const ColorCount& c : colors) total += double(squaredDistance(c, palette[scanNearest(palette, c)])) * c.count;
    return total;
}

std::vector<Pixel> colorsOfMap(const std::vector<ColorHistEntry>& map) {
    std::vector<Pixel> out;
    for (const ColorHistEntry& e : map) out.push_back(e.color);
    return out;
}

}  // namespace

// ---------------------------------------------------------------------------
// The colour list and the histogram made from it

// Both ways of counting give the same list, and each pixel's position in it
// names its colour; the list's order is checked against the library below.
TEST(CountImageColors, BitmapAndHashAgreeOnEveryPixel) {
    for (int levels : {2, 40, 256}) {
        TestImage image = makeNoiseImage(150, 120, 255, levels, levels);
        RowView rows(image);
        std::vector<uint32_t> viaBitmap, viaHash;
        std::vector<ColorCount> a = countImageColors(rows.data(), image.cols, image.rows, 255, &viaBitmap);
        std::vector<ColorCount> b = countImageColors(rows.data(), image.cols, image.rows, 65535, &viaHash);
        ASSERT_EQ(a.size(), b.size());
        for (size_t i = 0; i < a.size(); ++i) {
            ASSERT_EQ(Pixel({a[i].r, a[i].g, a[i].b}), Pixel({b[i].r, b[i].g, b[i].b}));
            ASSERT_EQ(a[i].count, b[i].count);
        }
        EXPECT_EQ(viaBitmap, viaHash);
        for (size_t i = 0; i < image.pixels.size(); ++i) {
            const ColorCount& c = a[viaBitmap[i]];
            ASSERT_EQ(image.pixels[i], Pixel({c.r, c.g, c.b}));
        }
    }
}

class HistogramFromColors : public testing::TestWithParam<int> {};

// Both ways of making the histogram (from the image, halving it in place,
// and from its colour list) must give what the library counts in the image
// at the final maxval, entry for entry in the same order: the median cut over
// them then chooses the same colours.
TEST_P(HistogramFromColors, MatchesTheLibrarysCountOfTheRescaledImage) {
    TestImage image;
    switch (GetParam()) {
    case 0: image = makeNoiseImage(40, 30, 255, 12, 1); break;         // fits at once
    case 1: image = makeNoiseImage(256, 160, 255, 256, 2); break;      // several halvings, direct counts
    case 2: image = makeNoiseImage(200, 200, 65535, 65536, 3); break;  // 16-bit samples
    case 3: image = makeNoiseImage(90, 90, 63, 64, 4); break;          // direct counts from the start
    default: image = makeGradientImage(256, 140, 255); break;          // one halving
    }
    const std::vector<ColorCount> colors = colorsOf(image);
    Sample fromColorsMaxval = 0, fromImageMaxval = 0;
    testing::internal::CaptureStderr();
    const std::vector<ColorHistEntry> fromColors = histogramFromColors(colors, image.maxval, &fromColorsMaxval);
    const std::string fromColorsMessages = testing::internal::GetCapturedStderr();
    RowView rows(image);
    int count = 0;
    testing::internal::CaptureStderr();
    const std::vector<ColorHistEntry> fromImage =
        computeHistogram(rows.data(), image.cols, image.rows, image.maxval, &count, &fromImageMaxval);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), fromColorsMessages);
    EXPECT_EQ(fromColorsMaxval, fromImageMaxval);
    int libraryCount = 0;
    ColorHist library = ppm_computecolorhist(rows.data(), image.cols, image.rows, MAX_HIST_COLORS, &libraryCount);
    ASSERT_NE(library, nullptr);
    ASSERT_EQ(fromColors.size(), size_t(libraryCount));
    ASSERT_EQ(fromImage.size(), size_t(libraryCount));
    EXPECT_EQ(count, libraryCount);
    for (int i = 0; i < libraryCount; ++i) {
        ASSERT_EQ(fromColors[i].color, library[i].color) << "entry " << i;
        ASSERT_EQ(fromColors[i].value, library[i].value) << "entry " << i;
        ASSERT_EQ(fromImage[i].color, library[i].color) << "entry " << i;
        ASSERT_EQ(fromImage[i].value, library[i].value) << "entry " << i;
    }
    ppm_freecolorhist(library);
}

INSTANTIATE_TEST_SUITE_P(Images, HistogramFromColors, testing::Range(0, 5));

// ---------------------------------------------------------------------------
// Refinement

struct RefineCase {
    int which;      // image
    int requested;  // palette size
};

static void PrintTo(const RefineCase& c, std::ostream* os) { *os << "image " << c.which << ", " << c.requested << " colours"; }

class RefineProperties : public testing::TestWithParam<RefineCase> {
  protected:
    static TestImage image(int which) {
        switch (which) {
        case 0: return makeNoiseImage(60, 50, 255, 256, 11);
        case 1: return makeNoiseImage(50, 40, 255, 5, 12);  // few levels: many exact ties
        case 2: return makeGradientImage(64, 48, 255);
        case 3: return makeNoiseImage(40, 40, 65535, 65536, 13);
        default: return makeNoiseImage(30, 30, 15, 16, 14);
        }
    }
};

// Property, from a good start and from the worst (every entry black): the
// palette returned keeps its size, each colour's reported entry is its
// nearest by a plain scan (lowest index on ties), the reported error is that
// palette's, the errors never grow, and with at least as many colours as
// entries every entry is some colour's nearest.
TEST_P(RefineProperties, ReturnsTheNearestEntriesTheirErrorAndNoUnusedEntry) {
    const RefineCase& c = GetParam();
    const TestImage in = image(c.which);
    const std::vector<ColorCount> colors = colorsOf(in);
    const std::vector<ColorHistEntry> good = varianceCutPalette(colors, c.requested);
    const std::vector<ColorHistEntry> black(size_t(c.requested), ColorHistEntry{Pixel{0, 0, 0}, 0});
    for (std::vector<ColorHistEntry> palette : {good, black}) {
        std::vector<int> nearest;
        const RefineResult result = refinePalette(colors, palette.data(), int(palette.size()), 10, &nearest);
        const std::vector<Pixel> refined = colorsOfMap(palette);
        ASSERT_EQ(nearest.size(), colors.size());
        std::set<int> used;
        for (size_t i = 0; i < colors.size(); ++i) {
            ASSERT_EQ(nearest[i], scanNearest(refined, colors[i])) << "colour " << i;
            used.insert(nearest[i]);
        }
        for (const Pixel& p : refined) ASSERT_LE(std::max({p.r, p.g, p.b}), in.maxval);
        EXPECT_EQ(result.outputError, totalError(colors, refined));
        EXPECT_EQ(result.passes + 1, int(result.errors.size()));
        EXPECT_LE(result.passes, 10);
        for (size_t i = 1; i < result.errors.size(); ++i) EXPECT_LE(result.errors[i], result.errors[i - 1]);
        EXPECT_LE(result.outputError, result.errors.front());
        if (colors.size() >= palette.size()) {
            EXPECT_EQ(used.size(), palette.size());
        } else {
            EXPECT_EQ(result.outputError, 0.0);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Images, RefineProperties,
                         testing::Values(RefineCase{0, 2}, RefineCase{0, 16}, RefineCase{0, 256}, RefineCase{0, 1100},
                                         RefineCase{1, 7}, RefineCase{1, 60}, RefineCase{1, 200}, RefineCase{2, 32},
                                         RefineCase{3, 50}, RefineCase{4, 9}));

// One pass: the dark pair's entry moves to their mean (10.5 10 10, rounded up
// at the end), the light pair's to theirs, and the entry nearest to no colour
// goes to the colour of largest error, the far blue.
TEST(RefinePalette, AnEntryWithoutColoursTakesTheColourOfLargestError) {
    std::vector<ColorCount> colors = {
        {10, 10, 10, 3}, {12, 10, 10, 1}, {200, 200, 200, 2}, {202, 204, 200, 2}, {0, 0, 250, 1}};
    std::vector<ColorHistEntry> palette = {{{0, 0, 0}, 0}, {{180, 180, 180}, 0}, {{0, 255, 0}, 0}};
    RefineResult result = refinePalette(colors, palette.data(), 3, 1000);
    EXPECT_EQ(colorsOfMap(palette), (std::vector<Pixel>{{11, 10, 10}, {201, 202, 200}, {0, 0, 250}}));
    EXPECT_EQ(result.passes, 1);
    EXPECT_EQ(result.outputError, 3.0 * 1 + 1.0 * 1 + 2.0 * 5 + 2.0 * 5);
    // A pass limit of 0 leaves the palette alone, unused entry and all.
    std::vector<ColorHistEntry> untouched = {{{0, 0, 0}, 0}, {{180, 180, 180}, 0}, {{0, 255, 0}, 0}};
    std::vector<int> nearest;
    result = refinePalette(colors, untouched.data(), 3, 0, &nearest);
    EXPECT_EQ(result.passes, 0);
    EXPECT_EQ(colorsOfMap(untouched), (std::vector<Pixel>{{0, 0, 0}, {180, 180, 180}, {0, 255, 0}}));
    EXPECT_EQ(nearest, (std::vector<int>{0, 0, 1, 1, 0}));
    EXPECT_EQ(result.outputError, result.errors.front());
}

// Two entries share one tight pair of colours while a third sits between two
// far-apart groups: no pass of means alone can leave that. The pair's first
// entry hands its colour to the second (which moves to 201) and takes the
// upper group, its neighbour the lower one.
TEST(RefinePalette, AnEntryCrowdingAnotherMovesWhereItGainsMore) {
    std::vector<ColorCount> colors = {{0, 0, 0, 100}, {100, 0, 0, 100}, {200, 0, 0, 50}, {202, 0, 0, 50}};
    std::vector<ColorHistEntry> palette = {{{50, 0, 0}, 0}, {{200, 0, 0}, 0}, {{202, 0, 0}, 0}};
    RefineResult result = refinePalette(colors, palette.data(), 3, 10);
    EXPECT_EQ(colorsOfMap(palette), (std::vector<Pixel>{{0, 0, 0}, {100, 0, 0}, {201, 0, 0}}));
    EXPECT_EQ(result.errors, (std::vector<double>{200.0 * 50 * 50, 100.0}));
    EXPECT_EQ(result.outputError, 100.0);
}

// Of several starts, each refined, the one that ends with the least error
// wins (the first of equal ones); an empty start takes no part.
TEST(RefineBestPalette, KeepsTheRefinedStartOfLeastError) {
    const std::vector<ColorCount> colors = colorsOf(makeNoiseImage(40, 30, 255, 6, 31));
    const std::vector<ColorHistEntry> good = varianceCutPalette(colors, 12);
    std::vector<std::vector<ColorHistEntry>> starts = {
        {}, std::vector<ColorHistEntry>(12, ColorHistEntry{Pixel{255, 0, 0}, 0}), good, {}, good};
    std::vector<double> errors;
    for (std::vector<ColorHistEntry> start : starts) {
        std::vector<ColorHistEntry> copy = start;
        errors.push_back(start.empty() ? 1e300 : refinePalette(colors, copy.data(), int(copy.size()), 4).outputError);
    }
    ASSERT_LT(errors[2], errors[1]);
    std::vector<int> nearest;
    const RefinedChoice choice = refineBestPalette(colors, starts, 4, &nearest);
    EXPECT_EQ(choice.chosen, 2);
    EXPECT_EQ(choice.result.outputError, errors[2]);
    EXPECT_EQ(choice.result.outputError, totalError(colors, colorsOfMap(starts[2])));
    ASSERT_EQ(nearest.size(), colors.size());
    for (size_t i = 0; i < colors.size(); ++i) EXPECT_EQ(nearest[i], scanNearest(colorsOfMap(starts[2]), colors[i]));
    // Refined in place: the losing start too.
    EXPECT_NE(colorsOfMap(starts[1]), std::vector<Pixel>(12, Pixel{255, 0, 0}));
    EXPECT_TRUE(starts[0].empty());
}
