// The optimising writer's parts: the whole-buffer coders' zlib streams and
// the per-row filter choices.
#include "rowfilter.h"
#include "rowplans.h"
#include "wholedeflate.h"
#include "zlibstream.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

namespace {

// Runs of repeated and slowly changing bytes with some noise: compressible,
// with matches near and far.
std::vector<uint8_t> mixedBytes(size_t n, uint32_t seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        v[i] = (seed >> 27) < 4 ? uint8_t(seed >> 16) : uint8_t(i / 7 + (i % 1000 < 500 ? 0 : i / 97));
    }
    return v;
}

struct Inflated {
    std::string failure;  // empty when the stream is valid
    int windowBits = 0;
    std::vector<uint8_t> data;
};

// Checks the header, then inflates with exactly the declared window (zlib
// refuses a distance beyond it) and checks the adler32 trailer and that
// nothing follows it.
Inflated inflateStream(const std::vector<uint8_t>& stream) {
    Inflated r;
    if (stream.size() < 6) return r.failure = "shorter than a header and a trailer", r;
    unsigned cmf = stream[0], flg = stream[1];
    if ((cmf & 0x0f) != 8 || (cmf >> 4) > 7) return r.failure = "not deflate with a window up to 32 KB", r;
    if ((cmf * 256 + flg) % 31 != 0) return r.failure = "header check bits wrong", r;
    if (flg & 0x20) return r.failure = "preset dictionary flag set", r;
    r.windowBits = int(cmf >> 4) + 8;
    z_stream z = {};
    if (inflateInit2(&z, r.windowBits) != Z_OK) return r.failure = "inflateInit2", r;
    z.next_in = const_cast<Bytef*>(stream.data());
    z.avail_in = uInt(stream.size());
    int status = Z_OK;
    uint8_t buffer[16384];
    while (status == Z_OK) {
        z.next_out = buffer;
        z.avail_out = sizeof buffer;
        status = inflate(&z, Z_NO_FLUSH);
        r.data.insert(r.data.end(), buffer, buffer + (sizeof buffer - z.avail_out));
    }
    if (status != Z_STREAM_END) r.failure = std::string("inflate: ") + (z.msg ? z.msg : "stream cut short");
    else if (z.avail_in != 0) r.failure = "bytes after the trailer";
    inflateEnd(&z);
    return r;
}

TEST(WholeDeflate, StreamsInflateWithTheDeclaredWindowAtEverySize) {
    for (size_t size : {size_t(0), size_t(1), size_t(2), size_t(250), size_t(513), size_t(32768), size_t(32769),
                        size_t(300000)})
        for (int level : {1, 6, WHOLE_DEFLATE_BEST_LEVEL}) {
            std::vector<uint8_t> data = mixedBytes(size, uint32_t(size)), stream;
            WholeDeflater deflater(level);
            deflater.zlibStream(data.data(), data.size(), windowBitsFor(size), &stream);
            Inflated back = inflateStream(stream);
            EXPECT_EQ(back.failure, "") << size << " bytes, level " << level;
            EXPECT_EQ(back.windowBits, windowBitsFor(size)) << size;
            EXPECT_TRUE(back.data == data) << size << " bytes, level " << level;
            // The raw size is the stream less its header and trailer.
            EXPECT_EQ(deflater.deflatedSize(data.data(), data.size()) + 6, stream.size()) << size;
        }
}

TEST(WholeDeflate, ZopfliStreamsInflateWithTheDeclaredWindow) {
    for (size_t size : {size_t(1), size_t(700), size_t(40000)}) {
        std::vector<uint8_t> data = mixedBytes(size, 3), stream;
        zopfliZlibStream(data.data(), data.size(), windowBitsFor(size), 1, &stream);
        Inflated back = inflateStream(stream);
        EXPECT_EQ(back.failure, "") << size;
        EXPECT_EQ(back.windowBits, windowBitsFor(size));
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

}  // namespace
