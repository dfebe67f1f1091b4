// The image's colour list, the histogram made from it, and Lloyd refinement
// against brute force.
#include "histogram.h"
#include "mediancut.h"
#include "quanttest.h"
#include "refine.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

std::vector<ColorCount> colorsOf(TestImage image) {
    RowView rows(image);
    return countImageColors(rows.data(), image.cols, image.rows, image.maxval);
}

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

// One pass by brute force: every entry that gets colours moves to their
// rounded mean.
std::vector<Pixel> bruteForcePass(const std::vector<ColorCount>& colors, std::vector<Pixel> palette) {
    std::vector<uint64_t> sums(palette.size() * 4, 0);
    for (const ColorCount& c : colors) {
        uint64_t* s = &sums[size_t(scanNearest(palette, c)) * 4];
        s[0] += uint64_t(c.r) * c.count, s[1] += uint64_t(c.g) * c.count, s[2] += uint64_t(c.b) * c.count;
        s[3] += c.count;
    }
    for (size_t i = 0; i < palette.size(); ++i) {
        const uint64_t* s = &sums[i * 4];
        if (s[3] == 0) continue;
        auto mean = [&](uint64_t sum) { return Sample((2 * sum + s[3]) / (2 * s[3])); };
        palette[i] = Pixel{mean(s[0]), mean(s[1]), mean(s[2])};
    }
    return palette;
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
    int requested;  // median cut size
};

static void PrintTo(const RefineCase& c, std::ostream* os) { *os << "image " << c.which << ", " << c.requested << " colours"; }

class RefineAgainstBruteForce : public testing::TestWithParam<RefineCase> {
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

// Property: from the median cut's palette, each pass equals a brute-force
// Lloyd pass (nearest by plain scan, lowest index on ties, rounded means,
// unused entries kept), the reported errors are those of the palettes, and
// they never grow.
TEST_P(RefineAgainstBruteForce, EveryPassIsTheBruteForcePass) {
    const RefineCase& c = GetParam();
    TestImage in = image(c.which);
    const std::vector<ColorCount> colors = colorsOf(in);
    Sample cutMaxval = 0;
    std::vector<ColorHistEntry> hist = histogramFromColors(colors, in.maxval, &cutMaxval);
    int boxes = 0, mapSize = 0;
    QuantColormap cut = medianCut(hist.data(), int(hist.size()), int64_t(in.cols) * in.rows, cutMaxval, c.requested,
                                  &boxes, &mapSize);
    std::vector<ColorHistEntry> palette(cut, cut + mapSize);
    free(cut);
    for (ColorHistEntry& e : palette)
        e.color = Pixel{pm_rescalesample(e.color.r, cutMaxval, in.maxval),
                        pm_rescalesample(e.color.g, cutMaxval, in.maxval),
                        pm_rescalesample(e.color.b, cutMaxval, in.maxval)};

    std::vector<Pixel> expected = colorsOfMap(palette);
    std::vector<double> expectedErrors = {totalError(colors, expected)};
    for (int pass = 1; pass <= 12; ++pass) {
        std::vector<Pixel> next = bruteForcePass(colors, expected);
        if (next == expected) break;
        expected = next;
        expectedErrors.push_back(totalError(colors, expected));
    }

    RefineResult result = refinePalette(colors, palette.data(), int(palette.size()), 12);
    EXPECT_EQ(colorsOfMap(palette), expected);
    EXPECT_EQ(result.errors, expectedErrors);
    EXPECT_EQ(result.passes + 1, int(result.errors.size()));
    for (size_t i = 1; i < result.errors.size(); ++i) EXPECT_LE(result.errors[i], result.errors[i - 1]);
    EXPECT_GT(result.passes, 0);
}

INSTANTIATE_TEST_SUITE_P(Images, RefineAgainstBruteForce,
                         testing::Values(RefineCase{0, 2}, RefineCase{0, 16}, RefineCase{0, 256}, RefineCase{1, 7},
                                         RefineCase{1, 60}, RefineCase{2, 32}, RefineCase{3, 50}, RefineCase{4, 9}));

TEST(RefinePalette, AnEntryThatGetsNoColourStaysAndPassesStopWhenNothingMoves) {
    // Two clusters and a far entry that is nearest to none of them.
    std::vector<ColorCount> colors = {{10, 10, 10, 3}, {12, 10, 10, 1}, {200, 200, 200, 2}, {202, 204, 200, 2}};
    std::vector<ColorHistEntry> palette = {{{0, 0, 0}, 0}, {{180, 180, 180}, 0}, {{0, 255, 0}, 0}};
    RefineResult result = refinePalette(colors, palette.data(), 3, 1000);
    EXPECT_EQ(colorsOfMap(palette), (std::vector<Pixel>{{11, 10, 10}, {201, 202, 200}, {0, 255, 0}}));
    EXPECT_EQ(result.passes, 1);
    // (1 + 9) * ... : 3 * 1 + 1 * 1 for the dark pair, 2 * (1 + 4) + 2 * (1 + 4) for the light one.
    EXPECT_EQ(result.errors.back(), 3.0 * 1 + 1.0 * 1 + 2.0 * 5 + 2.0 * 5);
    // A pass limit of 0 leaves the palette alone.
    std::vector<ColorHistEntry> untouched = {{{0, 0, 0}, 0}, {{180, 180, 180}, 0}};
    result = refinePalette(colors, untouched.data(), 2, 0);
    EXPECT_EQ(result.passes, 0);
    EXPECT_EQ(untouched[1].color, (Pixel{180, 180, 180}));
}
