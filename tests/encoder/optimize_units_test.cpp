// The optimising writer's parts: the whole-buffer coders' zlib streams, the
// per-row filter choices, and whole images through the writer, whose
// streams must inflate with exactly the window they declare.
#include "optimize.h"
#include "rowfilter.h"
#include "rowplans.h"
#include "wholedeflate.h"
#include "zlibcheck.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

using namespace rasterpack;
using namespace rasterpack::zlibcheck;

namespace {

TEST(WholeDeflate, StreamsInflateWithTheDeclaredWindowAtEverySize) {
    for (size_t size : {size_t(0), size_t(1), size_t(2), size_t(250), size_t(513), size_t(32768), size_t(32769),
                        size_t(300000)})
        for (int level : {1, 6, WHOLE_DEFLATE_BEST_LEVEL}) {
            std::vector<uint8_t> data = mixedBytes(size, uint32_t(size)), stream;
            WholeDeflater deflater(level);
            deflater.zlibStream(data.data(), data.size(), smallestWindowBits(size), &stream);
            Inflated back = inflateStream(stream);
            EXPECT_EQ(back.failure, "") << size << " bytes, level " << level;
            EXPECT_EQ(back.windowBits, smallestWindowBits(size)) << size;
            EXPECT_TRUE(back.data == data) << size << " bytes, level " << level;
            // The raw size is the stream less its header and trailer.
            EXPECT_EQ(deflater.deflatedSize(data.data(), data.size()) + 6, stream.size()) << size;
        }
}

TEST(WholeDeflate, ZopfliStreamsInflateWithTheDeclaredWindow) {
    for (size_t size : {size_t(1), size_t(700), size_t(40000)}) {
        std::vector<uint8_t> data = mixedBytes(size, 3), stream;
        zopfliZlibStream(data.data(), data.size(), smallestWindowBits(size), 1, &stream);
        Inflated back = inflateStream(stream);
        EXPECT_EQ(back.failure, "") << size;
        EXPECT_EQ(back.windowBits, smallestWindowBits(size));
        EXPECT_TRUE(back.data == data) << size;
    }
}

TEST(WholeDeflate, DeclaredWindowKeepsTheLevelHint) {
    struct Case {
        uint8_t cmf, flg;
        int windowBits;
        uint8_t wantCmf, wantFlg;
    } cases[] = {{0x78, 0xda, 15, 0x78, 0xda}, {0x78, 0xda, 9, 0x18, 0xd3}, {0x78, 0x01, 10, 0x28, 0x15},
                 {0x78, 0x5e, 12, 0x48, 0x4b}, {0x78, 0x9c, 14, 0x68, 0x81}};
    for (const Case& c : cases) {
        uint8_t header[2] = {c.cmf, c.flg};
        declareZlibWindow(header, c.windowBits);
        EXPECT_EQ(header[0], c.wantCmf) << c.windowBits;
        EXPECT_EQ(header[1], c.wantFlg) << c.windowBits;
        EXPECT_EQ((header[0] * 256 + header[1]) % 31, 0);
        EXPECT_EQ(header[1] & 0xc0, c.flg & 0xc0);
    }
}

// --- row choices -------------------------------------------------------------------

TEST(RowPlans, HistogramBits) {
    uint32_t counts[256] = {};
    EXPECT_EQ(histogramBits(counts, 0), 0);
    counts[7] = 100;
    EXPECT_EQ(histogramBits(counts, 100), 0);
    counts[9] = 100;
    EXPECT_DOUBLE_EQ(histogramBits(counts, 200), 200);
    for (uint32_t& c : counts) c = 1;
    EXPECT_DOUBLE_EQ(histogramBits(counts, 256), 256 * 8);
}

struct RowChoiceCase {
    const char* name;
    std::vector<uint8_t> row, above;  // above empty: the first row of a pass
    size_t stride;
    int entropyType, trialType;
};

std::vector<uint8_t> ramp(size_t n, int step) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = uint8_t(i * step);
    return v;
}

std::vector<uint8_t> plus(std::vector<uint8_t> v, int k) {
    for (uint8_t& b : v) b = uint8_t(b + k);
    return v;
}

std::vector<RowChoiceCase> rowChoiceCases() {
    std::vector<uint8_t> noisy = mixedBytes(300, 11);
    return {
        // Every type leaves a constant row constant but the first byte: none wins the tie.
        {"ConstantRow", std::vector<uint8_t>(200, 7), {}, 1, 0, 0},
        // Sub turns a ramp into one repeated step; with nothing above, average
        // and Paeth do worse or the same, so the lower type wins.
        {"RampWithoutAbove", ramp(300, 3), {}, 1, 1, 1},
        // The row above plus a constant: up leaves one repeated byte.
        {"AboveShifted", plus(noisy, 5), noisy, 1, 2, 2},
        // Three-byte pixels: sub works a pixel back.
        {"RgbRamp", [] {
             std::vector<uint8_t> v;
             for (int i = 0; i < 100; ++i) v.insert(v.end(), {uint8_t(i), uint8_t(2 * i), uint8_t(90 - i)});
             return v;
         }(),
         {}, 3, 1, 1},
    };
}

class RowChoices : public testing::TestWithParam<RowChoiceCase> {};

TEST_P(RowChoices, EntropyAndTrialPickTheObviousType) {
    const RowChoiceCase& c = GetParam();
    const uint8_t* above = c.above.empty() ? nullptr : c.above.data();
    std::vector<uint8_t> scratch;
    EXPECT_EQ(chooseEntropyFilter(c.row.data(), above, c.row.size(), c.stride, &scratch), c.entropyType);
    TrialRowPlanner planner(3);
    EXPECT_EQ(planner.choose(c.row.data(), above, c.row.size(), c.stride), c.trialType);
}

INSTANTIATE_TEST_SUITE_P(Rows, RowChoices, testing::ValuesIn(rowChoiceCases()),
                         [](const testing::TestParamInfo<RowChoiceCase>& info) { return info.param.name; });

// --- whole images through the writer ----------------------------------------------------

struct ImageCase {
    const char* name;
    uint32_t width, height;
    int depth, channels;
    bool interlaced;
    int filter;  // -1: every plan
    int threads;
};

// Rows as png_write_row takes them: one sample a byte below depth 8.
std::vector<uint8_t> imageRows(const ImageDataLayout& layout) {
    size_t rowBytes = size_t(inputRowBytes(&layout));
    std::vector<uint8_t> rows = mixedBytes(rowBytes * layout.height, layout.width * 31 + layout.height);
    if (layout.depth < 8)
        for (uint8_t& b : rows) b &= uint8_t((1 << layout.depth) - 1);
    return rows;
}

// The filtered image data a decoder would see, from the pass rows.
std::vector<uint8_t> expectedRows(const ImageDataLayout& layout, const std::vector<uint8_t>& rows) {
    std::vector<uint8_t> out;
    size_t rowBytes = size_t(inputRowBytes(&layout));
    for (int p = 0; p < passCount(&layout); ++p) {
        PassGeometry g = passGeometry(&layout, p);
        for (uint32_t y = 0; y < layout.height; ++y) {
            if (!passTakesRow(&g, y)) continue;
            std::vector<uint8_t> packed(size_t(g.rowBytes));
            extractPassRow(&layout, &g, rows.data() + y * rowBytes, packed.data());
            out.insert(out.end(), packed.begin(), packed.end());
        }
    }
    return out;
}

// Undoes the filters of inflated image data, pass row by pass row; types
// gets each row's filter type.
std::vector<uint8_t> unfilterAll(const ImageDataLayout& layout, const std::vector<uint8_t>& data, bool* ok,
                                 std::vector<int>* types) {
    std::vector<uint8_t> out;
    size_t at = 0, stride = filterStride(&layout);
    *ok = true;
    for (int p = 0; p < passCount(&layout); ++p) {
        PassGeometry g = passGeometry(&layout, p);
        std::vector<uint8_t> above;
        for (uint32_t y = 0; y < g.height; ++y) {
            size_t n = size_t(g.rowBytes);
            if (at + n + 1 > data.size() || data[at] > 4) return *ok = false, out;
            types->push_back(data[at]);
            std::vector<uint8_t> row(n);
            for (size_t i = 0; i < n; ++i) {
                int a = i >= stride ? row[i - stride] : 0, b = above.empty() ? 0 : above[i],
                    c = !above.empty() && i >= stride ? above[i - stride] : 0;
                int pp = a + b - c, pa = abs(pp - a), pb = abs(pp - b), pc = abs(pp - c);
                int predicted = data[at] == 1   ? a
                                : data[at] == 2 ? b
                                : data[at] == 3 ? (a + b) / 2
                                : data[at] == 4 ? (pa <= pb && pa <= pc ? a : pb <= pc ? b : c)
                                                : 0;
                row[i] = uint8_t(data[at + 1 + i] + predicted);
            }
            out.insert(out.end(), row.begin(), row.end());
            above = row;
            at += n + 1;
        }
    }
    *ok = at == data.size();
    return out;
}

// Runs the writer; the stream, or an empty one on failure.
std::vector<uint8_t> optimizeImage(const ImageDataLayout& layout, const std::vector<uint8_t>& rows,
                                   const OptimizeSettings& settings, OptimizeResult* result) {
    const char* error = "";
    OptimizeWriter* w = startOptimizeWriter(&layout, &settings, &error);
    EXPECT_NE(w, nullptr) << error;
    if (!w) return {};
    size_t rowBytes = size_t(inputRowBytes(&layout));
    bool ok = true;
    for (int p = 0; ok && p < passCount(&layout); ++p)
        for (uint32_t y = 0; ok && y < layout.height; ++y) ok = addOptimizeRow(w, rows.data() + y * rowBytes);
    std::vector<uint8_t> stream;
    ok = ok && finishOptimizeWriter(w, result, &stream);
    EXPECT_TRUE(ok) << optimizeWriterError(w);
    destroyOptimizeWriter(w);
    if (!ok) stream.clear();
    return stream;
}

class OptimizedImages : public testing::TestWithParam<ImageCase> {};

TEST_P(OptimizedImages, InflateToTheImageWithTheDeclaredWindow) {
    const ImageCase& c = GetParam();
    ImageDataLayout layout;
    layout.width = c.width;
    layout.height = c.height;
    layout.depth = c.depth;
    layout.channels = c.channels;
    layout.interlaced = c.interlaced;
    std::vector<uint8_t> rows = imageRows(layout);
    OptimizeSettings s;
    s.threads = c.threads;
    s.filter = c.filter;
    if (c.filter >= 0) s.defaultFilterTypes = 1u << c.filter;  // as the default path would
    OptimizeResult result;
    std::vector<uint8_t> stream = optimizeImage(layout, rows, s, &result);
    ASSERT_FALSE(stream.empty());
    EXPECT_EQ(result.size, stream.size());
    Inflated back = inflateStream(stream);
    ASSERT_EQ(back.failure, "");
    EXPECT_EQ(back.windowBits, smallestWindowBits(filteredDataSize(&layout)));
    bool ok = false;
    std::vector<int> types;
    EXPECT_TRUE(unfilterAll(layout, back.data, &ok, &types) == expectedRows(layout, rows));
    EXPECT_TRUE(ok);
    if (c.filter >= 0) {
        EXPECT_EQ(result.filter, c.filter);
        EXPECT_EQ(types, std::vector<int>(types.size(), c.filter));
    }
    // Threads change who runs a trial, never which trial wins.
    OptimizeSettings one = s;
    one.threads = 1;
    OptimizeResult again;
    EXPECT_TRUE(optimizeImage(layout, rows, one, &again) == stream);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, OptimizedImages,
    testing::Values(ImageCase{"OnePixel", 1, 1, 8, 1, false, -1, 1}, ImageCase{"OnePixelInterlaced", 1, 1, 8, 3, true, -1, 2},
                    ImageCase{"TallBitColumn", 1, 300, 1, 1, false, -1, 2},
                    ImageCase{"FourBitInterlaced", 37, 21, 4, 1, true, -1, 3},
                    ImageCase{"RgbKeptFilter", 40, 30, 8, 3, false, 4, 2},
                    ImageCase{"GreyAlpha16", 61, 47, 16, 2, true, -1, 2},
                    // More than one band of the threaded writer, and sampled one block in two.
                    ImageCase{"RgbaLargerThanABand", 700, 400, 8, 4, false, -1, 2}),
    [](const testing::TestParamInfo<ImageCase>& info) { return info.param.name; });

// A palette image with its indexes rewritten under an order (here the
// reverse one) compresses to exactly the rewritten indexes, packed indexes
// below 8 bits and interlaced pass rows included; the counts are of the
// image as given.
TEST(OptimizedImages, ReorderedPaletteImagesHoldTheRewrittenIndexes) {
    for (int depth : {1, 2, 4, 8})
        for (bool interlaced : {false, true}) {
            ImageDataLayout layout;
            layout.width = 13;
            layout.height = 7;
            layout.depth = depth;
            layout.interlaced = interlaced;
            const std::vector<uint8_t> rows = imageRows(layout);
            const size_t entries = size_t(1) << depth;
            PaletteOrder order(entries);
            for (size_t i = 0; i < entries; ++i) order[i] = uint8_t(entries - 1 - i);
            OptimizeSettings s;
            s.palette = true;
            const char* error = "";
            OptimizeWriter* w = startOptimizeWriter(&layout, &s, &error);
            ASSERT_NE(w, nullptr) << error;
            size_t rowBytes = size_t(inputRowBytes(&layout));
            bool ok = true;
            for (int p = 0; ok && p < passCount(&layout); ++p)
                for (uint32_t y = 0; ok && y < layout.height; ++y) ok = addOptimizeRow(w, rows.data() + y * rowBytes);
            ASSERT_TRUE(ok);
            IndexUse use = paletteIndexUse(w, entries);
            std::vector<uint64_t> counts(entries, 0);
            for (uint8_t v : rows) ++counts[v];
            EXPECT_EQ(use.counts, counts) << "depth " << depth;
            OptimizeWriter* reordered = reorderedOptimizeWriter(w, order, &error);
            destroyOptimizeWriter(w);
            ASSERT_NE(reordered, nullptr) << error;
            OptimizeResult result;
            std::vector<uint8_t> stream;
            ok = finishOptimizeWriter(reordered, &result, &stream);
            destroyOptimizeWriter(reordered);
            ASSERT_TRUE(ok);
            std::vector<uint8_t> remapped = rows;
            for (uint8_t& v : remapped) v = uint8_t(entries - 1 - v);
            Inflated back = inflateStream(stream);
            ASSERT_EQ(back.failure, "");
            std::vector<int> types;
            EXPECT_TRUE(unfilterAll(layout, back.data, &ok, &types) == expectedRows(layout, remapped))
                << "depth " << depth << (interlaced ? " interlaced" : "");
            EXPECT_TRUE(ok);
        }
}

// The default's settings stay a candidate: whatever the other trials find,
// the result is never larger than what they give.
TEST(OptimizedImages, NeverLargerThanTheDefaultSettings) {
    ImageDataLayout layout;
    layout.width = 1;
    layout.height = 300;
    layout.depth = 1;
    std::vector<uint8_t> rows = imageRows(layout);
    OptimizeSettings s;
    s.defaultFilterTypes = 1;
    s.defaultDeflate.level = Z_DEFAULT_COMPRESSION;
    s.defaultDeflate.windowBits = windowBitsFor(filteredDataSize(&layout));
    OptimizeResult result;
    std::vector<uint8_t> stream = optimizeImage(layout, rows, s, &result);
    // The same filtered data through zlib with those settings.
    std::vector<uint8_t> data;
    for (uint8_t v : expectedRows(layout, rows)) data.insert(data.end(), {0, v});
    z_stream z = {};
    ASSERT_EQ(deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, s.defaultDeflate.windowBits, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::vector<uint8_t> zlibOut(deflateBound(&z, uLong(data.size())));
    z.next_in = data.data();
    z.avail_in = uInt(data.size());
    z.next_out = zlibOut.data();
    z.avail_out = uInt(zlibOut.size());
    ASSERT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    EXPECT_LE(stream.size(), zlibOut.size() - z.avail_out);
    deflateEnd(&z);
}

void collectLine(void* context, const char* line) { static_cast<std::vector<std::string>*>(context)->push_back(line); }

TEST(OptimizedImages, ProgressOnlyAfterTheDelay) {
    ImageDataLayout layout;
    layout.width = 200;
    layout.height = 100;
    layout.channels = 3;
    std::vector<uint8_t> rows = imageRows(layout);
    for (double delay : {0.0, 1000.0}) {
        std::vector<std::string> lines;
        OptimizeSettings s;
        s.threads = 2;
        s.progress = collectLine;
        s.progressContext = &lines;
        s.progressDelay = delay;
        OptimizeResult result;
        auto start = std::chrono::steady_clock::now();
        optimizeImage(layout, rows, s, &result);
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (delay > 0) {
            EXPECT_TRUE(lines.empty());
            continue;
        }
        // The first line at once, then at most one a second.
        ASSERT_FALSE(lines.empty());
        EXPECT_LE(double(lines.size()), seconds + 1) << lines.back();
        for (const std::string& line : lines) {
            EXPECT_EQ(line.rfind("-optimize: ", 0), 0u) << line;
            EXPECT_NE(line.find(" done after "), std::string::npos) << line;
        }
    }
}

TEST(OptimizedImages, ExhaustivePassNeverLoses) {
    ImageDataLayout layout;
    layout.width = 90;
    layout.height = 60;
    layout.channels = 3;
    std::vector<uint8_t> rows = imageRows(layout);
    OptimizeSettings s;
    OptimizeResult plain, exhaustive;
    std::vector<uint8_t> a = optimizeImage(layout, rows, s, &plain);
    s.exhaustive = true;
    std::vector<uint8_t> b = optimizeImage(layout, rows, s, &exhaustive);
    EXPECT_LE(b.size(), a.size());
    EXPECT_GT(exhaustive.trials, plain.trials);  // its passes come on top
    Inflated back = inflateStream(b);
    EXPECT_EQ(back.failure, "");
    EXPECT_NE(describeCoder(&exhaustive), "");
}

}  // namespace
