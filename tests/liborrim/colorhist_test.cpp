// Colour histograms: order, counts, limits, and the streamed variant against
// the in-memory one.
#include <orrim.h>

#include <gtest/gtest.h>

#include "../../liborrim/src/colorhash_internal.h"
#include "testsupport.h"

#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

using namespace testkit;

namespace {

struct Image {
    int cols, rows;
    std::vector<Pixel> px;  // row-major
    std::vector<Pixel*> rowPtrs;
};

Image makeImage(int cols, int rows, const std::vector<Pixel>& px) {
    Image img{cols, rows, px, {}};
    for (int y = 0; y < rows; ++y) img.rowPtrs.push_back(img.px.data() + size_t(y) * cols);
    return img;
}

std::vector<ColorHistEntry> takeHist(ColorHist hist, int colors) {
    std::vector<ColorHistEntry> v(hist, hist + colors);
    ppm_freecolorhist(hist);
    return v;
}

void expectSameHist(const std::vector<ColorHistEntry>& a, const std::vector<ColorHistEntry>& b) {
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i].color, b[i].color) << "entry " << i;
        EXPECT_EQ(a[i].value, b[i].value) << "entry " << i;
    }
}

FILE* streamOf(const std::string& bytes) {
    FILE* f = tmpfile();
    if (!f) return nullptr;
    fwrite(bytes.data(), 1, bytes.size(), f);
    rewind(f);
    return f;
}

const Pixel A{1, 2, 3}, B{3, 2, 1}, C{0, 0, 0}, D{255, 255, 255}, E{1, 2, 4};

TEST(ColorHist, ListsColoursInFirstOccurrenceOrderWithCounts) {
    Image img = makeImage(4, 3, {B, B, A, B,
                                 C, A, A, B,
                                 D, C, E, E});
    int colors = -1;
    ColorHist h = ppm_computecolorhist(img.rowPtrs.data(), 4, 3, 100, &colors);
    ASSERT_NE(h, nullptr);
    expectSameHist(takeHist(h, colors), {{B, 4}, {A, 3}, {C, 2}, {D, 1}, {E, 2}});
}

TEST(ColorHist, LimitIsInclusive) {
    Image img = makeImage(3, 2, {A, B, C, D, E, A});
    int colors = -1;
    ColorHist h = ppm_computecolorhist(img.rowPtrs.data(), 3, 2, 5, &colors);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(colors, 5);
    ppm_freecolorhist(h);
    EXPECT_EQ(ppm_computecolorhist(img.rowPtrs.data(), 3, 2, 4, &colors), nullptr);
    EXPECT_EQ(ppm_computecolorhist(img.rowPtrs.data(), 3, 2, 0, &colors), nullptr);
}

TEST(ColorHist, EmptyImageGivesAnEmptyHistogramNotNull) {
    int colors = -1;
    ColorHist h = ppm_computecolorhist(nullptr, 0, 0, 0, &colors);
    ASSERT_NE(h, nullptr);  // null would read as "too many colours"
    EXPECT_EQ(colors, 0);
    ppm_freecolorhist(h);
}

TEST(ColorHist, KeepsTheAllOnesColourOfThirtyTwoBitSamples) {
    // All bits set is the table's empty marker; it must still count as a colour.
    const Pixel FULL{4294967295u, 4294967295u, 4294967295u};
    Image img = makeImage(3, 2, {C, FULL, C, FULL, A, FULL});
    int colors = -1;
    ColorHist h = ppm_computecolorhist(img.rowPtrs.data(), 3, 2, 3, &colors);
    ASSERT_NE(h, nullptr);
    expectSameHist(takeHist(h, colors), {{C, 2}, {FULL, 3}, {A, 1}});
}

TEST(ColorHist, CountsSurviveTheThirtyTwoBitWrapAround) {
    // Start each count just below 2^32 so that a few pixels wrap it, as 2^32
    // pixels of one colour would.
    const Pixel FULL{4294967295u, 4294967295u, 4294967295u};
    Image img = makeImage(4, 2, {A, B, A, FULL, A, FULL, B, A});
    for (uint32_t start : {1u, 4294967294u, 4294967295u}) {
        colorHistSetFirstCount(start);
        int colors = -1;
        ColorHist h = ppm_computecolorhist(img.rowPtrs.data(), 4, 2, 3, &colors);
        colorHistSetFirstCount(1);
        ASSERT_NE(h, nullptr);
        expectSameHist(takeHist(h, colors), {{A, 4}, {B, 2}, {FULL, 2}});
    }
}

TEST(ColorHist, MillionsOfColoursKeepRasterOrder) {
    const int cols = 2048, rows = 1024;
    std::vector<Pixel> px;
    px.reserve(size_t(cols) * rows);
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < cols; ++x) px.push_back(Pixel{Sample(x), Sample(y), Sample((x * 7) ^ y)});
    Image img = makeImage(cols, rows, px);
    const int total = cols * rows;
    int colors = -1;
    EXPECT_EQ(ppm_computecolorhist(img.rowPtrs.data(), cols, rows, total - 1, &colors), nullptr);
    ColorHist h = ppm_computecolorhist(img.rowPtrs.data(), cols, rows, total, &colors);
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(colors, total);
    int wrong = 0;
    for (int i = 0; i < total; ++i)
        if (h[i].color != img.px[size_t(i)] || h[i].value != 1) ++wrong;
    EXPECT_EQ(wrong, 0);
    ppm_freecolorhist(h);
}

TEST(ColorHistDeath, TableThatCannotGrowEndsTheRunNamingIt) {
    std::vector<Pixel> px;
    for (int i = 0; i < 5000; ++i) px.push_back(Pixel{Sample(i), 0, 0});
    Image img = makeImage(5000, 1, px);
    EXPECT_EXIT(
        {
            colorTableSetSlotLimit(4096);
            int colors;
            ppm_computecolorhist(img.rowPtrs.data(), 5000, 1, 100000, &colors);
        },
        testing::ExitedWithCode(1), "out of memory allocating the colour histogram");
}

// Streamed histograms must equal the in-memory histogram of the same image as
// read whole (grey promoted to equal red, green and blue).
struct StreamCase {
    const char* name;
    std::string bytes;
};

std::vector<StreamCase> streamCases() {
    std::vector<Sample> rgb8, rgb16, grey8, grey16;
    for (int i = 0; i < 7 * 5; ++i) {
        rgb8.insert(rgb8.end(), {Sample(i % 3 * 100), Sample(i % 4 * 60), Sample(i % 2 * 255)});
        rgb16.insert(rgb16.end(), {Sample(i % 5 * 16000), Sample(i % 4 * 257), Sample(65535 - i % 3)});
        grey8.push_back(Sample(i * i % 11 * 23));
        grey16.push_back(Sample(i % 6 * 13000 + 7));
    }
    std::vector<int> bits;
    for (int i = 0; i < 7 * 5; ++i) bits.push_back((i / 3 + i) % 2);
    std::vector<int> wideBits;
    for (int i = 0; i < 2 * 10001; ++i) wideBits.push_back(i > 4096 && i < 8200 ? i % 3 == 0 : 0);
    std::vector<Sample> wideRgb;
    for (int i = 0; i < 3 * 9000; ++i) wideRgb.push_back(Sample(i / 4000 * 41 + i % 3));
    return {
        {"RawPpm8", makePpm(7, 5, 255, rgb8)},
        {"PlainPpm8", makePpm(7, 5, 255, rgb8, true)},
        {"RawPpm16", makePpm(7, 5, 65535, rgb16)},
        {"PlainPpm16", makePpm(7, 5, 65535, rgb16, true)},
        {"RawPgm8", makePgm(7, 5, 255, grey8)},
        {"PlainPgm8", makePgm(7, 5, 255, grey8, true)},
        {"RawPgm16", makePgm(7, 5, 65535, grey16)},
        {"RawPbm", makePbm(7, 5, bits)},
        {"PlainPbm", makePbm(7, 5, bits, true)},
        // Rows wider than the piece the stream is read in.
        {"WideRawPbm", makePbm(10001, 2, wideBits)},
        {"WideRawPpm", makePpm(9000, 1, 65535, wideRgb)},
        {"WidePlainPgm", makePgm(9000, 1, 300, std::vector<Sample>(wideRgb.begin(), wideRgb.begin() + 9000), true)},
    };
}

void PrintTo(const StreamCase& c, std::ostream* os) { *os << c.name; }

class ColorHistStream : public testing::TestWithParam<StreamCase> {};

TEST_P(ColorHistStream, EqualsTheInMemoryHistogram) {
    FILE* f = streamOf(GetParam().bytes);
    ASSERT_NE(f, nullptr);
    int cols, rows, format, colors = -1;
    Sample maxval;
    pnm_readpnminit(f, &cols, &rows, &maxval, &format);
    ColorHist streamed = ppm_computecolorhist2(f, cols, rows, maxval, format, 1000, &colors);
    ASSERT_NE(streamed, nullptr);
    auto fromStream = takeHist(streamed, colors);

    rewind(f);
    Sample maxval2;
    int cols2, rows2;
    Pixel** image = ppm_readppm(f, &cols2, &rows2, &maxval2);
    fclose(f);
    ColorHist whole = ppm_computecolorhist(image, cols2, rows2, 1000, &colors);
    pm_freearray(image, rows2);
    ASSERT_NE(whole, nullptr);
    auto fromMemory = takeHist(whole, colors);
    EXPECT_GT(fromMemory.size(), 1u);
    expectSameHist(fromStream, fromMemory);
    if (pnm_formattype(format) != PPM_FORMAT) {
        for (const ColorHistEntry& e : fromStream) {
            EXPECT_EQ(e.color.r, e.color.b);
            EXPECT_EQ(e.color.g, e.color.b);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, ColorHistStream, testing::ValuesIn(streamCases()),
                         [](const testing::TestParamInfo<StreamCase>& info) { return std::string(info.param.name); });

TEST(ColorHistStreamLimit, StopsReadingInTheRowThatPassesTheLimit) {
    // Rows: {A A A}, {A B C}, {D D D}. Limit 2 is passed in the second row.
    std::vector<Sample> rgb;
    for (const Pixel& p : {A, A, A, A, B, C, D, D, D}) rgb.insert(rgb.end(), {p.r, p.g, p.b});
    std::string bytes = makePpm(3, 3, 255, rgb);
    std::string header = bytes.substr(0, bytes.size() - 27);
    // The last row is cut off: reading it would end the run.
    FILE* f = streamOf(bytes.substr(0, bytes.size() - 9));
    ASSERT_NE(f, nullptr);
    int cols, rows, format, colors;
    Sample maxval;
    pnm_readpnminit(f, &cols, &rows, &maxval, &format);
    EXPECT_EQ(ppm_computecolorhist2(f, cols, rows, maxval, format, 2, &colors), nullptr);
    EXPECT_EQ(ftell(f), long(header.size() + 18));
    fclose(f);
}

TEST(ColorHistStreamLimit, ExactlyTheLimitReadsEverything) {
    std::vector<Sample> grey = {0, 1, 2, 2, 1, 0};
    FILE* f = streamOf(makePgm(3, 2, 2, grey));
    ASSERT_NE(f, nullptr);
    int cols, rows, format, colors;
    Sample maxval;
    pnm_readpnminit(f, &cols, &rows, &maxval, &format);
    ColorHist h = ppm_computecolorhist2(f, cols, rows, maxval, format, 3, &colors);
    ASSERT_NE(h, nullptr);
    expectSameHist(takeHist(h, colors), {{{0, 0, 0}, 2}, {{1, 1, 1}, 2}, {{2, 2, 2}, 2}});
    EXPECT_EQ(fgetc(f), EOF);
    fclose(f);
}

}  // namespace
