// The image data writers in-process: row filters, stream pieces, and band
// edges at every row count for narrow 1-bit images.
#include "bandcompress.h"
#include "imagedata.h"
#include "optimize.h"
#include "pngtestkit.h"
#include "rowfilter.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <ostream>
#include <vector>

using namespace testkit;

using namespace rasterpack;

namespace {

// The decoder's side of each filter type.
std::vector<uint8_t> unfilterRow(const uint8_t* in, const uint8_t* previous, size_t length, size_t stride) {
    std::vector<uint8_t> row(length);
    int type = in[0];
    for (size_t i = 0; i < length; ++i) {
        int a = i >= stride ? row[i - stride] : 0, b = previous ? previous[i] : 0,
            c = previous && i >= stride ? previous[i - stride] : 0;
        int p = a + b - c, pa = abs(p - a), pb = abs(p - b), pc = abs(p - c);
        int predicted = type == 1   ? a
                        : type == 2 ? b
                        : type == 3 ? (a + b) / 2
                        : type == 4 ? (pa <= pb && pa <= pc ? a : pb <= pc ? b : c)
                                    : 0;
        row[i] = uint8_t(in[i + 1] + predicted);
    }
    return row;
}

uint64_t magnitude(const std::vector<uint8_t>& filtered) {
    uint64_t sum = 0;
    for (size_t i = 1; i < filtered.size(); ++i) sum += filtered[i] < 128 ? filtered[i] : 256 - filtered[i];
    return sum;
}

std::vector<uint8_t> noise(size_t n, uint32_t seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        // Smooth runs with noise on top, so every filter wins somewhere.
        v[i] = uint8_t((i * (seed >> 28)) / 3 + (seed >> 29));
    }
    return v;
}

TEST(RowFilter, EveryTypeUndoesAndAdaptiveTakesTheLeastSum) {
    for (size_t stride : {1, 2, 3, 4, 6, 8})
        for (size_t length : {1, 5, 24, 97}) {
            std::vector<uint8_t> row = noise(length, uint32_t(stride * 31 + length)), above = noise(length, 7);
            for (const uint8_t* previous : {static_cast<const uint8_t*>(nullptr), static_cast<const uint8_t*>(above.data())}) {
                uint64_t least = UINT64_MAX;
                std::vector<uint64_t> sums;
                for (int type = 0; type < ROW_FILTER_TYPES; ++type) {
                    std::vector<uint8_t> out(length + 1);
                    filterRow(type, row.data(), previous, length, stride, out.data());
                    EXPECT_EQ(out[0], type);
                    EXPECT_EQ(unfilterRow(out.data(), previous, length, stride), row)
                        << "type " << type << " stride " << stride << " length " << length;
                    sums.push_back(magnitude(out));
                    least = std::min(least, sums.back());
                }
                int chosen = chooseAdaptiveFilter(row.data(), previous, length, stride);
                EXPECT_EQ(sums[chosen], least);
                for (int type = 0; type < chosen; ++type) EXPECT_GT(sums[type], least) << "ties go to the lower type";
            }
        }
}

TEST(ZlibStream, HeaderChecksAndWindow) {
    struct Case {
        int level, strategy, windowBits;
        uint8_t cmf, flg;
    } cases[] = {{6, Z_FILTERED, 15, 0x78, 0x9c}, {9, Z_DEFAULT_STRATEGY, 15, 0x78, 0xda},
                 {1, Z_DEFAULT_STRATEGY, 15, 0x78, 0x01}, {Z_DEFAULT_COMPRESSION, Z_FILTERED, 15, 0x78, 0x9c},
                 {9, Z_RLE, 15, 0x78, 0x01}, {4, Z_DEFAULT_STRATEGY, 9, 0x18, 0x57}};
    for (const Case& c : cases) {
        DeflateChoice d;
        d.level = c.level;
        d.strategy = c.strategy;
        d.windowBits = c.windowBits;
        uint8_t header[2];
        zlibStreamHeader(&d, header);
        EXPECT_EQ(header[0], c.cmf) << c.level;
        EXPECT_EQ(header[1], c.flg) << c.level;
        EXPECT_EQ((header[0] * 256 + header[1]) % 31, 0);
    }
    // The window holds the data and deflate's 262 bytes of look-ahead.
    EXPECT_EQ(windowBitsFor(0), 9);
    EXPECT_EQ(windowBitsFor(250), 9);
    EXPECT_EQ(windowBitsFor(251), 10);
    EXPECT_EQ(windowBitsFor(16122), 14);
    EXPECT_EQ(windowBitsFor(16123), 15);
    EXPECT_EQ(windowBitsFor(32768), 15);
    EXPECT_EQ(windowBitsFor(uint64_t(1) << 40), 15);
}

TEST(ImageLayout, PassesAddUpToTheImage) {
    for (uint32_t w = 1; w <= 17; ++w)
        for (uint32_t h = 1; h <= 17; ++h) {
            ImageDataLayout layout;
            layout.width = w;
            layout.height = h;
            layout.interlaced = true;
            uint64_t pixels = 0;
            for (int p = 0; p < passCount(&layout); ++p) {
                PassGeometry g = passGeometry(&layout, p);
                pixels += uint64_t(g.width) * g.height;
                EXPECT_EQ(g.width == 0, g.height == 0);
            }
            EXPECT_EQ(pixels, uint64_t(w) * h);
        }
    EXPECT_EQ(resolveThreadCount(5), 5);
    EXPECT_GE(resolveThreadCount(0), 1);
}

// --- writing whole streams --------------------------------------------------------

struct Collected {
    std::vector<std::string> chunks;
};

bool collectChunk(void* context, const uint8_t* data, size_t size) {
    static_cast<Collected*>(context)->chunks.emplace_back(reinterpret_cast<const char*>(data), size);
    return true;
}

ImageDataSink collectingSink(Collected* out) {
    ImageDataSink sink;
    sink.writeChunk = collectChunk;
    sink.context = out;
    return sink;
}

ImageDataLayout bitLayout(uint32_t width, uint32_t height, bool interlaced) {
    ImageDataLayout layout;
    layout.width = width;
    layout.height = height;
    layout.depth = 1;
    layout.interlaced = interlaced;
    return layout;
}

void appendChunk(std::string* png, const char* type, const std::string& data) {
    png->append(bytes32({uint32_t(data.size())}));
    std::string body = std::string(type, 4) + data;
    png->append(body);
    png->append(bytes32({uint32_t(crc32(0, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size())))}));
}

// A grey PNG around the collected image data chunks.
std::string greyPng(const ImageDataLayout& layout, const Collected& data) {
    std::string png = "\x89PNG\r\n\x1a\n";
    std::string ihdr = bytes32({layout.width, layout.height});
    ihdr += {char(layout.depth), 0, 0, 0, char(layout.interlaced ? 1 : 0)};
    appendChunk(&png, "IHDR", ihdr);
    for (const std::string& c : data.chunks) appendChunk(&png, "IDAT", c);
    appendChunk(&png, "IEND", "");
    return png;
}

// Every row of every pass, as png_write_row would get them.
template <typename AddRow>
bool feedRows(const ImageDataLayout& layout, const std::vector<uint8_t>& pixels, AddRow addRow) {
    for (int p = 0; p < passCount(&layout); ++p)
        for (uint32_t y = 0; y < layout.height; ++y)
            if (!addRow(pixels.data() + size_t(y) * layout.width)) return false;
    return true;
}

std::vector<uint8_t> bitPixels(const ImageDataLayout& layout) {
    std::vector<uint8_t> pixels = noise(size_t(layout.width) * layout.height, layout.width * 41 + layout.height);
    for (uint8_t& p : pixels) p = (p >> 3) & 1;
    return pixels;
}

struct BandEdgeCase {
    const char* name;
    uint64_t bandBytes;
    int filter;
    int threads;
};

void PrintTo(const BandEdgeCase& c, std::ostream* os) { *os << c.name; }

class BandEdges : public testing::TestWithParam<BandEdgeCase> {};

// Band edges after every row (and every few rows), with filters that look at
// the row above across the edge, for widths 1 to 9 and 1 to 40 rows.
TEST_P(BandEdges, EveryRowCountAndWidthDecodes) {
    const BandEdgeCase& c = GetParam();
    for (bool interlaced : {false, true})
        for (uint32_t width = 1; width <= 9; ++width)
            for (uint32_t height = 1; height <= 40; ++height) {
                ImageDataLayout layout = bitLayout(width, height, interlaced);
                std::vector<uint8_t> pixels = bitPixels(layout);
                BandSettings s;
                s.threads = c.threads;
                s.filterTypes = c.filter == FILTER_ADAPTIVE ? ALL_FILTER_TYPES : 1u << c.filter;
                s.bandBytes = c.bandBytes;
                s.deflate.windowBits = windowBitsFor(filteredDataSize(&layout));
                Collected out;
                ImageDataSink sink = collectingSink(&out);
                const char* error = "";
                BandWriter* w = startBandWriter(&layout, &s, sink, &error);
                ASSERT_NE(w, nullptr) << error;
                bool ok = feedRows(layout, pixels, [&](const uint8_t* row) { return addBandRow(w, row); }) &&
                          finishBandWriter(w);
                EXPECT_TRUE(ok) << bandWriterError(w);
                destroyBandWriter(w);
                DecodedPng png = decodePng(greyPng(layout, out));
                ASSERT_TRUE(png.ok) << width << " x " << height << (interlaced ? " interlaced" : "");
                EXPECT_EQ(png.samples, std::vector<uint32_t>(pixels.begin(), pixels.end()))
                    << width << " x " << height << (interlaced ? " interlaced" : "");
            }
}

INSTANTIATE_TEST_SUITE_P(Settings, BandEdges,
                         testing::Values(BandEdgeCase{"EveryRowUp", 1, 2, 3}, BandEdgeCase{"ThreeBytesPaeth", 3, 4, 2},
                                         BandEdgeCase{"FiveBytesAdaptive", 5, FILTER_ADAPTIVE, 4},
                                         BandEdgeCase{"OneBandNone", 1 << 20, 0, 2}),
                         [](const testing::TestParamInfo<BandEdgeCase>& info) { return info.param.name; });

TEST(Optimizer, SmallBitImagesDecode) {
    for (bool interlaced : {false, true})
        for (uint32_t width = 1; width <= 9; width += 4)
            for (uint32_t height = 1; height <= 12; ++height) {
                ImageDataLayout layout = bitLayout(width, height, interlaced);
                std::vector<uint8_t> pixels = bitPixels(layout);
                OptimizeSettings s;
                s.threads = 2;
                const char* error = "";
                OptimizeWriter* w = startOptimizeWriter(&layout, &s, &error);
                ASSERT_NE(w, nullptr) << error;
                OptimizeResult result;
                std::vector<uint8_t> stream;
                bool ok = feedRows(layout, pixels, [&](const uint8_t* row) { return addOptimizeRow(w, row); }) &&
                          finishOptimizeWriter(w, &result, &stream);
                EXPECT_TRUE(ok) << optimizeWriterError(w);
                destroyOptimizeWriter(w);
                EXPECT_EQ(result.size, stream.size());
                Collected out;
                out.chunks.emplace_back(stream.begin(), stream.end());
                DecodedPng png = decodePng(greyPng(layout, out));
                ASSERT_TRUE(png.ok) << width << " x " << height;
                EXPECT_EQ(png.samples, std::vector<uint32_t>(pixels.begin(), pixels.end())) << width << " x " << height;
            }
}

bool refuseChunk(void*, const uint8_t*, size_t) { return false; }

// A sink that fails stops the writer with the sink's message, workers and all.
TEST(BandWriterFailure, SinkFailureIsReported) {
    ImageDataLayout layout;
    layout.width = 300;
    layout.height = 300;
    layout.channels = 3;
    BandSettings s;
    s.threads = 3;
    s.bandBytes = 4096;
    ImageDataSink sink;
    sink.writeChunk = refuseChunk;
    sink.failureMessage = "the sink refused";
    const char* error = "";
    BandWriter* w = startBandWriter(&layout, &s, sink, &error);
    ASSERT_NE(w, nullptr);
    std::vector<uint8_t> row = noise(900, 3);
    bool ok = true;
    for (int y = 0; y < 300 && ok; ++y) ok = addBandRow(w, row.data());
    if (ok) ok = finishBandWriter(w);
    EXPECT_FALSE(ok);
    EXPECT_STREQ(bandWriterError(w), "the sink refused");
    destroyBandWriter(w);
}

TEST(BandWriterFailure, TooManyOrTooFewRows) {
    ImageDataLayout layout;
    layout.width = 4;
    layout.height = 2;
    layout.depth = 8;
    BandSettings s;
    Collected out;
    ImageDataSink sink = collectingSink(&out);
    const char* error = "";
    uint8_t row[4] = {1, 2, 3, 4};
    BandWriter* w = startBandWriter(&layout, &s, sink, &error);
    EXPECT_TRUE(addBandRow(w, row));
    EXPECT_FALSE(finishBandWriter(w));
    EXPECT_STREQ(bandWriterError(w), "fewer image rows than the image has");
    destroyBandWriter(w);
    w = startBandWriter(&layout, &s, sink, &error);
    EXPECT_TRUE(addBandRow(w, row));
    EXPECT_TRUE(addBandRow(w, row));
    EXPECT_FALSE(addBandRow(w, row));
    EXPECT_STREQ(bandWriterError(w), "more image rows than the image has");
    destroyBandWriter(w);
}

}  // namespace
