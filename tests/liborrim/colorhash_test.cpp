// Colour hashes: insert, look-up, replace, absent colours, growth to
// millions of entries, and growth failure that keeps what is stored.
#include <orrim.h>

#include <gtest/gtest.h>

#include "../../liborrim/src/colorhash_internal.h"

#include <vector>

namespace {

class ColorHashTest : public testing::Test {
protected:
    void TearDown() override { colorTableSetSlotLimit(0); }
};

TEST_F(ColorHashTest, InsertLookupReplaceAndAbsent) {
    ColorHash hash = ppm_alloccolorhash();
    const Pixel red{255, 0, 0}, green{0, 255, 0}, black{0, 0, 0}, nearRed{255, 0, 1};
    EXPECT_EQ(ppm_lookupcolor(hash, &red), -1);
    EXPECT_EQ(ppm_addtocolorhash(hash, &red, 7), 0);
    EXPECT_EQ(ppm_addtocolorhash(hash, &green, 0), 0);
    EXPECT_EQ(ppm_addtocolorhash(hash, &black, 123456), 0);
    EXPECT_EQ(ppm_lookupcolor(hash, &red), 7);
    EXPECT_EQ(ppm_lookupcolor(hash, &green), 0);
    EXPECT_EQ(ppm_lookupcolor(hash, &black), 123456);
    EXPECT_EQ(ppm_lookupcolor(hash, &nearRed), -1);
    EXPECT_EQ(ppm_addtocolorhash(hash, &red, 9), 0);
    EXPECT_EQ(ppm_lookupcolor(hash, &red), 9);
    EXPECT_EQ(ppm_lookupcolor(hash, &green), 0);
    ppm_freecolorhash(hash);
}

TEST_F(ColorHashTest, ExtremeSamplesAreOrdinaryKeys) {
    const Sample M = 4294967295u;
    const Pixel keys[] = {{M, M, M}, {M, M, 0}, {0, M, M}, {M, 0, M}, {0, 0, 0}, {M, M, M - 1}};
    ColorHash hash = ppm_alloccolorhash();
    EXPECT_EQ(ppm_lookupcolor(hash, &keys[0]), -1);
    for (int i = 0; i < 6; ++i) ASSERT_EQ(ppm_addtocolorhash(hash, &keys[i], i * 10), 0);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(ppm_lookupcolor(hash, &keys[i]), i * 10) << i;
    EXPECT_EQ(ppm_addtocolorhash(hash, &keys[0], 99), 0);
    EXPECT_EQ(ppm_lookupcolor(hash, &keys[0]), 99);
    ppm_freecolorhash(hash);
}

TEST_F(ColorHashTest, HistogramMapsColoursToTheirIndexes) {
    ColorHistEntry hist[] = {{{10, 20, 30}, 5}, {{30, 20, 10}, 1}, {{10, 20, 30}, 2}, {{0, 0, 0}, 9}};
    ColorHash hash = ppm_colorhisttocolorhash(hist, 4);
    EXPECT_EQ(ppm_lookupcolor(hash, &hist[0].color), 0);  // a repeated colour keeps its first index
    EXPECT_EQ(ppm_lookupcolor(hash, &hist[1].color), 1);
    EXPECT_EQ(ppm_lookupcolor(hash, &hist[3].color), 3);
    Pixel absent{10, 20, 31};
    EXPECT_EQ(ppm_lookupcolor(hash, &absent), -1);
    ppm_freecolorhash(hash);
}

// Colours that differ in one low bit of one sample, the worst case for a
// weak hash, on a grid dense in every channel.
Pixel gridColor(int i) { return Pixel{Sample(i & 255), Sample((i >> 8) & 255), Sample(i >> 16)}; }

TEST_F(ColorHashTest, GrowsToMillionsOfEntries) {
    const int N = 3000000;
    ColorHash hash = ppm_alloccolorhash();
    for (int i = 0; i < N; ++i) {
        Pixel p = gridColor(i);
        ASSERT_EQ(ppm_addtocolorhash(hash, &p, i), 0) << i;
    }
    int wrong = 0;
    for (int i = 0; i < N; ++i) {
        Pixel p = gridColor(i);
        if (ppm_lookupcolor(hash, &p) != i) ++wrong;
    }
    EXPECT_EQ(wrong, 0);
    for (int i = N; i < N + 1000; ++i) {
        Pixel p = gridColor(i);
        EXPECT_EQ(ppm_lookupcolor(hash, &p), -1);
    }
    ppm_freecolorhash(hash);
}

TEST_F(ColorHashTest, GrowthFailureReturnsMinusOneAndKeepsEntries) {
    colorTableSetSlotLimit(1024);
    ColorHash hash = ppm_alloccolorhash();
    int added = 0;
    while (added < 5000) {
        Pixel p = gridColor(added);
        if (ppm_addtocolorhash(hash, &p, added * 2) != 0) break;
        ++added;
    }
    ASSERT_LT(added, 1024);  // the limit must have been hit
    ASSERT_GT(added, 100);   // after some growth
    Pixel refused = gridColor(added);
    EXPECT_EQ(ppm_lookupcolor(hash, &refused), -1);
    EXPECT_EQ(ppm_addtocolorhash(hash, &refused, 1), -1);
    for (int i = 0; i < added; ++i) {
        Pixel p = gridColor(i);
        ASSERT_EQ(ppm_lookupcolor(hash, &p), i * 2) << i;
    }
    // Replacing needs no room and still works.
    Pixel first = gridColor(0);
    EXPECT_EQ(ppm_addtocolorhash(hash, &first, -5), 0);
    EXPECT_EQ(ppm_lookupcolor(hash, &first), -5);
    // Once memory is there again the table grows as usual.
    colorTableSetSlotLimit(0);
    EXPECT_EQ(ppm_addtocolorhash(hash, &refused, 1), 0);
    EXPECT_EQ(ppm_lookupcolor(hash, &refused), 1);
    Pixel last = gridColor(added - 1);
    EXPECT_EQ(ppm_lookupcolor(hash, &last), (added - 1) * 2);
    ppm_freecolorhash(hash);
}

TEST_F(ColorHashTest, AllocationBeyondTheLimitEndsTheRunNamingIt) {
    ColorHistEntry hist[200];
    for (int i = 0; i < 200; ++i) hist[i] = ColorHistEntry{gridColor(i), 0};
    EXPECT_EXIT(
        {
            colorTableSetSlotLimit(64);
            ppm_colorhisttocolorhash(hist, 200);
        },
        testing::ExitedWithCode(1), "out of memory allocating a colour hash");
}

}  // namespace
