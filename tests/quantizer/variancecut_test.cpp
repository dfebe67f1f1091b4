// The variance cut against a brute-force evaluation of its split rule.
#include "histogram.h"
#include "quanttest.h"
#include "variancecut.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <random>

using namespace testkit;

using namespace huecut;

namespace {

Sample sampleOf(const ColorCount& c, int axis) { return axis == 0 ? c.r : axis == 1 ? c.g : c.b; }

// Sum of squared errors about the mean, from the definition.
long double bruteError(const std::vector<ColorCount>& set) {
    long double n = 0, mean[3] = {0, 0, 0};
    for (const ColorCount& c : set) {
        n += c.count;
        for (int a = 0; a < 3; ++a) mean[a] += (long double)sampleOf(c, a) * c.count;
    }
    long double error = 0;
    for (const ColorCount& c : set)
        for (int a = 0; a < 3; ++a) {
            const long double d = sampleOf(c, a) - mean[a] / n;
            error += d * d * c.count;
        }
    return error;
}

typedef std::tuple<int, int, int> Key;
std::vector<Key> keysOf(const std::vector<ColorCount>& set) {
    std::vector<Key> keys;
    for (const ColorCount& c : set) keys.emplace_back(c.r, c.g, c.b);
    std::sort(keys.begin(), keys.end());
    return keys;
}

// Every cut of the set along every axis, tried by brute force.
struct BruteSplit {
    long double least;
    std::vector<Key> lower;  // of the cut of least error
    bool unique;             // no other cut comes within a millionth of it
};

BruteSplit bruteSplit(const std::vector<ColorCount>& set) {
    BruteSplit best = {std::numeric_limits<long double>::max(), {}, true};
    long double second = std::numeric_limits<long double>::max();
    for (int axis = 0; axis < 3; ++axis) {
        std::vector<Sample> values;
        for (const ColorCount& c : set) values.push_back(sampleOf(c, axis));
        std::sort(values.begin(), values.end());
        values.erase(std::unique(values.begin(), values.end()), values.end());
        for (size_t k = 0; k + 1 < values.size(); ++k) {
            std::vector<ColorCount> lower, upper;
            for (const ColorCount& c : set) (sampleOf(c, axis) <= values[k] ? lower : upper).push_back(c);
            const long double error = bruteError(lower) + bruteError(upper);
            if (error < best.least) {
                second = best.least;
                best.least = error;
                best.lower = keysOf(lower);
            } else {
                second = std::min(second, error);
            }
        }
    }
    best.unique = second > best.least * (1 + 1e-6L) + 1e-6L;
    return best;
}

std::vector<ColorCount> runOf(const VarianceCut& cut, const VarianceBox& box) {
    return std::vector<ColorCount>(cut.colors.begin() + box.begin, cut.colors.begin() + box.end);
}

TestImage narrowSixteenBitImage() {
    // 16-bit samples in a narrow band: the boxes are cut through slots of
    // their own span, where wide ones are sorted.
    TestImage image;
    image.cols = 14, image.rows = 9, image.maxval = 65535;
    std::mt19937 gen(5);
    for (int i = 0; i < image.cols * image.rows; ++i)
        image.pixels.push_back(
            Pixel{Sample(1000 + gen() % 90), Sample(30000 + gen() % 40), Sample(65535 - gen() % 70)});
    return image;
}

}  // namespace

class VarianceCutSteps : public testing::TestWithParam<int> {
  protected:
    static TestImage image(int which) {
        switch (which) {
        case 0: return makeNoiseImage(12, 10, 255, 256, 21);
        case 1: return makeNoiseImage(20, 20, 255, 4, 22);  // few levels: repeated colours, equal cuts
        case 2: return makeGradientImage(16, 12, 255);
        case 3: return makeNoiseImage(10, 10, 65535, 65536, 23);  // wide 16-bit boxes: sorted
        case 4: return narrowSixteenBitImage();
        default: return makeNoiseImage(9, 9, 3, 4, 24);
        }
    }
};

// Every step splits a box of largest error into the two halves of least
// total error among all cuts along the three axes, as brute force finds
// them; the halves' records agree with their colours.
TEST_P(VarianceCutSteps, EachSplitIsTheBruteForceChoice) {
    const std::vector<ColorCount> colors = colorsOf(image(GetParam()));
    VarianceCut cut = startVarianceCut(colors);
    ASSERT_EQ(cut.boxes.size(), 1u);
    for (int step = 0; step < 40; ++step) {
        const VarianceCut before = cut;
        const int which = splitWorstBox(cut);
        if (which < 0) {
            for (const VarianceBox& box : cut.boxes) EXPECT_EQ(box.end - box.begin, 1);
            EXPECT_EQ(cut.boxes.size(), colors.size());
            break;
        }
        ASSERT_EQ(cut.boxes.size(), before.boxes.size() + 1);
        const std::vector<ColorCount> whole = runOf(before, before.boxes[which]);
        for (const VarianceBox& box : before.boxes)
            if (box.end - box.begin > 1) {
                EXPECT_LE(bruteError(runOf(before, box)), bruteError(whole) * (1 + 1e-12L)) << "step " << step;
            }
        const std::vector<ColorCount> lower = runOf(cut, cut.boxes[which]);
        const std::vector<ColorCount> upper = runOf(cut, cut.boxes.back());
        ASSERT_FALSE(lower.empty());
        ASSERT_FALSE(upper.empty());
        std::vector<ColorCount> both = lower;
        both.insert(both.end(), upper.begin(), upper.end());
        EXPECT_EQ(keysOf(both), keysOf(whole));

        const BruteSplit brute = bruteSplit(whole);
        const long double error = bruteError(lower) + bruteError(upper);
        EXPECT_LE(error, brute.least * (1 + 1e-12L) + 1e-9L) << "step " << step;
        if (brute.unique) {
            EXPECT_EQ(keysOf(lower), brute.lower) << "step " << step;
        }

        for (const VarianceBox* box : {&cut.boxes[which], &cut.boxes.back()}) {
            const std::vector<ColorCount> run = runOf(cut, *box);
            uint64_t pixels = 0, sum[3] = {0, 0, 0};
            for (const ColorCount& c : run) {
                pixels += c.count;
                for (int a = 0; a < 3; ++a) sum[a] += uint64_t(sampleOf(c, a)) * c.count;
            }
            EXPECT_EQ(box->pixels, pixels);
            for (int a = 0; a < 3; ++a) EXPECT_EQ(box->sum[a], sum[a]);
            EXPECT_NEAR(box->error, (double)bruteError(run), 1e-9 * (1 + (double)bruteError(run)));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Images, VarianceCutSteps, testing::Range(0, 6));

// The palette is the greedy split carried to the size asked for: the boxes'
// rounded means, most pixels first.
TEST(VarianceCutPalette, IsTheRoundedMeanOfEachBoxMostPixelsFirst) {
    const std::vector<ColorCount> colors = colorsOf(makeGradientImage(40, 30, 255));
    for (int requested : {1, 2, 5, 64}) {
        VarianceCut cut = startVarianceCut(colors);
        while ((int)cut.boxes.size() < requested && splitWorstBox(cut) >= 0) {
        }
        std::vector<std::pair<uint64_t, Pixel>> expected;
        for (const VarianceBox& box : cut.boxes) {
            auto mean = [&](uint64_t sum) { return Sample((2 * sum + box.pixels) / (2 * box.pixels)); };
            expected.emplace_back(box.pixels, Pixel{mean(box.sum[0]), mean(box.sum[1]), mean(box.sum[2])});
        }
        std::stable_sort(expected.begin(), expected.end(),
                         [](const std::pair<uint64_t, Pixel>& a, const std::pair<uint64_t, Pixel>& b) {
                             return a.first > b.first;
                         });
        const std::vector<ColorHistEntry> palette = varianceCutPalette(colors, requested);
        ASSERT_EQ(palette.size(), expected.size()) << requested;
        for (size_t i = 0; i < palette.size(); ++i) {
            EXPECT_EQ(palette[i].color, expected[i].second) << requested << " entry " << i;
            EXPECT_EQ(uint64_t(palette[i].value), expected[i].first);
        }
    }
}

// Fewer colours than asked: each is an entry of its own, exactly; none give
// one black entry; the size never passes the histogram's limit.
TEST(VarianceCutPalette, FewColoursComeOutExactlyAndTheSizeIsBounded) {
    const std::vector<ColorCount> few = {{5, 6, 7, 2}, {200, 1, 1, 9}, {5, 6, 8, 4}};
    const std::vector<ColorHistEntry> palette = varianceCutPalette(few, 256);
    ASSERT_EQ(palette.size(), 3u);
    EXPECT_EQ(palette[0].color, (Pixel{200, 1, 1}));
    EXPECT_EQ(palette[1].color, (Pixel{5, 6, 8}));
    EXPECT_EQ(palette[2].color, (Pixel{5, 6, 7}));
    const std::vector<ColorHistEntry> none = varianceCutPalette({}, 16);
    ASSERT_EQ(none.size(), 1u);
    EXPECT_EQ(none[0].color, (Pixel{0, 0, 0}));
    const std::vector<ColorCount> many = colorsOf(makeNoiseImage(200, 200, 65535, 65536, 25));
    ASSERT_GT(many.size(), size_t(MAX_HIST_COLORS));
    EXPECT_EQ(varianceCutPalette(many, MAX_HIST_COLORS + 100).size(), size_t(MAX_HIST_COLORS));
}

// Equal errors: the box made first is split first, red is cut before green,
// and a lower value before a higher one.
TEST(VarianceCutPalette, TiesGoToTheFirstBoxToRedAndToTheLowerValue) {
    struct TieCase {
        std::vector<ColorCount> colors;
        int requested;
        std::vector<Pixel> expected;
    };
    const TieCase cases[] = {
        // Two boxes of equal error after the first cut: the lower one is split.
        {{{0, 0, 0, 1}, {1, 0, 0, 1}, {100, 0, 0, 1}, {101, 0, 0, 1}}, 3, {{101, 0, 0}, {0, 0, 0}, {1, 0, 0}}},
        // The corners of a square: a cut on red or on green is as good.
        {{{0, 0, 0, 1}, {10, 0, 0, 1}, {0, 10, 0, 1}, {10, 10, 0, 1}}, 2, {{0, 5, 0}, {10, 5, 0}}},
        // 0 | 10 20 or 0 10 | 20 along red.
        {{{0, 0, 0, 1}, {10, 0, 0, 1}, {20, 0, 0, 1}}, 2, {{15, 0, 0}, {0, 0, 0}}},
    };
    for (const TieCase& c : cases) {
        std::vector<Pixel> palette;
        for (const ColorHistEntry& e : varianceCutPalette(c.colors, c.requested)) palette.push_back(e.color);
        EXPECT_EQ(palette, c.expected) << c.colors.size() << " colours into " << c.requested;
    }
}
