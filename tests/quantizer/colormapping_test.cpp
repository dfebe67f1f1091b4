// Row mapping through the hash, error diffusion and the dithering start.
#include "colormapping.h"
#include "quanttest.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace testkit;

using namespace huecut;

namespace {

std::vector<ColorHistEntry> makeMap(const std::vector<Pixel>& colors) {
    std::vector<ColorHistEntry> map;
    for (const Pixel& c : colors) map.push_back(ColorHistEntry{c, 0});
    return map;
}

std::vector<int32_t> row(const int32_t* values, int width) { return std::vector<int32_t>(values, values + width); }

DitherState zeroDither(int cols) {
    DitherState d;
    initDitherState(&d, cols, 1);
    for (int x = 0; x < cols + 2; ++x) d.thisRed[x] = d.thisGreen[x] = d.thisBlue[x] = 0;
    for (int x = 0; x < cols + 2; ++x) d.nextRed[x] = d.nextGreen[x] = d.nextBlue[x] = 0;
    return d;
}

}  // namespace

TEST(DiffuseError, SpreadsSevenThreeFiveOneSixteenthsAlongThePath) {
    DitherState d = zeroDither(4);
    // Red error +10 steps, green -3 steps, blue none, at column 1.
    diffuseError(&d, 1, Pixel{20, 0, 7}, Pixel{10, 3, 7});
    EXPECT_EQ(row(d.thisRed.get(), 6), (std::vector<int32_t>{0, 0, 0, 4480, 0, 0}));
    EXPECT_EQ(row(d.nextRed.get(), 6), (std::vector<int32_t>{0, 1920, 3200, 640, 0, 0}));
    EXPECT_EQ(row(d.thisGreen.get(), 6), (std::vector<int32_t>{0, 0, 0, -1344, 0, 0}));
    EXPECT_EQ(row(d.nextGreen.get(), 6), (std::vector<int32_t>{0, -576, -960, -192, 0, 0}));
    EXPECT_EQ(row(d.nextBlue.get(), 6), (std::vector<int32_t>(6, 0)));

    d = zeroDither(4);
    d.leftToRight = false;
    diffuseError(&d, 1, Pixel{20, 0, 0}, Pixel{10, 0, 0});
    EXPECT_EQ(row(d.thisRed.get(), 6), (std::vector<int32_t>{0, 4480, 0, 0, 0, 0}));
    EXPECT_EQ(row(d.nextRed.get(), 6), (std::vector<int32_t>{0, 640, 3200, 1920, 0, 0}));
}

TEST(DitherState, StartsWithSeededErrorsBelowOneStep) {
    const int cols = 50;
    DitherState a, b;
    initDitherState(&a, cols, 1234);
    initDitherState(&b, cols, 1234);
    EXPECT_TRUE(a.leftToRight);
    bool anyNonZero = false;
    for (int x = 0; x < cols + 2; ++x) {
        for (int32_t v : {a.thisRed[x], a.thisGreen[x], a.thisBlue[x]}) {
            EXPECT_GE(v, -DITHER_SCALE);
            EXPECT_LT(v, DITHER_SCALE);
            anyNonZero |= v != 0;
        }
        EXPECT_EQ(a.thisRed[x], b.thisRed[x]);
        EXPECT_EQ(a.thisGreen[x], b.thisGreen[x]);
        EXPECT_EQ(a.thisBlue[x], b.thisBlue[x]);
    }
    EXPECT_TRUE(anyNonZero);
    // Three draws per column, red first.
    srandom(1234);
    EXPECT_EQ(a.thisRed[0], random() % 2048 - 1024);
    EXPECT_EQ(a.thisGreen[0], random() % 2048 - 1024);
    EXPECT_EQ(a.thisBlue[0], random() % 2048 - 1024);
    EXPECT_EQ(a.thisRed[1], random() % 2048 - 1024);
}

// Up to maxval 255 answers live in a table with a slot per colour; above it
// in the colour hash, which these two tests look at.
TEST(MapRow, WithoutDitheringEachPixelTakesItsNearestEarliestEntry) {
    std::vector<ColorHistEntry> map = makeMap({{0, 0, 0}, {100, 100, 100}, {200, 0, 0}, {100, 100, 100}});
    ColorMapping mapping;
    initColorMapping(&mapping, map.data(), 4, 4, 1000);
    EXPECT_EQ(mapping.direct, nullptr);
    std::vector<Pixel> pixels = {{100, 100, 100}, {190, 10, 0}, {40, 40, 40}, {60, 60, 60}, {100, 100, 100}};
    mapRow(pixels.data(), 5, &mapping, 0, nullptr);
    std::vector<Pixel> expected = {{100, 100, 100}, {200, 0, 0}, {0, 0, 0}, {100, 100, 100}, {100, 100, 100}};
    EXPECT_TRUE(pixels == expected);
    // The answers were remembered under the original colours.
    const Pixel remembered = {190, 10, 0};
    EXPECT_EQ(ppm_lookupcolor(mapping.hash.get(), &remembered), 2);
    const Pixel grey = {100, 100, 100};
    EXPECT_EQ(ppm_lookupcolor(mapping.hash.get(), &grey), 1);
}

TEST(MapRow, DitheringAlternatesDirectionAndClampsAdjustedSamples) {
    std::vector<ColorHistEntry> map = makeMap({{0, 0, 0}, {255, 255, 255}});
    ColorMapping mapping;
    initColorMapping(&mapping, map.data(), 2, 2, 255);
    DitherState d = zeroDither(3);
    // A large pending error must clamp, not wrap: 250 + 40 steps stays white.
    d.thisRed[1] = 40 * DITHER_SCALE;
    std::vector<Pixel> pixels = {{250, 250, 250}, {10, 10, 10}, {120, 120, 120}};
    mapRow(pixels.data(), 3, &mapping, 1, &d);
    EXPECT_FALSE(d.leftToRight);
    EXPECT_EQ(pixels[0], (Pixel{255, 255, 255}));
    EXPECT_EQ(pixels[1], (Pixel{0, 0, 0}));
    // Below column 1 wait 1/16 of column 0's green error (250 - 255), 5/16 of
    // column 1's (10 lowered to 8 by column 0's 7/16) and 3/16 of column 2's
    // (120 raised to 123 by column 1's 7/16).
    EXPECT_EQ(d.thisGreen[2], (-5 * DITHER_SCALE) / 16 + (8 * DITHER_SCALE) * 5 / 16 + (123 * DITHER_SCALE) * 3 / 16);
}

TEST(MapRow, DitheringOneColumnPushesTheSameRowShareIntoTheMargin) {
    std::vector<ColorHistEntry> map = makeMap({{0, 0, 0}, {255, 255, 255}});
    ColorMapping mapping;
    initColorMapping(&mapping, map.data(), 2, 2, 255);
    DitherState d = zeroDither(1);
    int white = 0;
    for (int y = 0; y < 64; ++y) {
        Pixel p = {128, 128, 128};
        mapRow(&p, 1, &mapping, 1, &d);
        ASSERT_TRUE(p == map[0].color || p == map[1].color);
        white += p.r == 255;
        EXPECT_EQ(d.leftToRight, y % 2 == 1);
    }
    // Only 5/16 of each error reaches the pixel below, but a mid grey still
    // must come out as a mix of both colours.
    EXPECT_GT(white, 0);
    EXPECT_LT(white, 64);
}

// The library's test hook that caps how far a colour table may grow.
void colorTableSetSlotLimit(size_t maxSlots);

TEST(MapRow, HashThatCannotGrowIsReportedOnceAndChangesNothing) {
    std::vector<ColorHistEntry> map = makeMap({{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {200, 200, 200}});
    TestImage image = makeNoiseImage(300, 20, 1000, 256, 17);
    TestImage limited = image;

    ColorMapping mapping;
    initColorMapping(&mapping, map.data(), 5, 5, 1000);
    for (int y = 0; y < image.rows; ++y) mapRow(&image.pixels[(size_t)y * image.cols], image.cols, &mapping, 0, nullptr);

    colorTableSetSlotLimit(1024);
    testing::internal::CaptureStderr();
    initColorMapping(&mapping, map.data(), 5, 5, 1000);
    for (int y = 0; y < limited.rows; ++y)
        mapRow(&limited.pixels[(size_t)y * limited.cols], limited.cols, &mapping, 0, nullptr);
    const bool stillHashing = mapping.useHash;
    std::string err = testing::internal::GetCapturedStderr();
    colorTableSetSlotLimit(0);

    EXPECT_FALSE(stillHashing);
    const std::string message = "out of memory adding to hash table; proceeding without it\n";
    ASSERT_NE(err.find(message), std::string::npos) << err;
    EXPECT_EQ(err.find(message), err.rfind(message));
    EXPECT_TRUE(image.pixels == limited.pixels);
}
