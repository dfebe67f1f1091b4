// rasterunpack -pam, in process: every colour type and depth, with and
// without transparency, comes out as a PAM of the PNG's colour and alpha,
// and through rasterpack back as the same samples and alpha. And the rows
// written straight from libpng's buffer (or mapped byte by byte) hold what
// the converting path writes.
#include "commandline.h"
#include "decisions.h"
#include "pixels.h"
#include "pngbuilder.h"
#include "pngtestkit.h"
#include "programs.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

using namespace testkit;

namespace {

// Red, green, blue and alpha of every pixel on the scale 0..65535, which
// every maxval of a whole number of bits below 16 divides.
struct Rgba16 {
    int cols = 0, rows = 0;
    std::vector<uint32_t> samples;
};

uint32_t to16(uint32_t v, uint32_t maxval) { return v * (65535 / maxval); }

std::string bytesOf(std::initializer_list<int> values) {
    std::string s;
    for (int v : values) s.push_back(char(v));
    return s;
}

const PngChunk* findChunk(const std::vector<PngChunk>& chunks, const std::string& type) {
    for (const PngChunk& c : chunks)
        if (c.type == type) return &c;
    return nullptr;
}

uint32_t bigEndian16(const std::string& s, size_t at) { return uint32_t(uint8_t(s[at])) << 8 | uint8_t(s[at + 1]); }

// What a viewer shows of a PNG: the palette and tRNS applied.
Rgba16 pngAsRgba(const std::string& png) {
    DecodedPng d = decodePng(png);
    EXPECT_TRUE(d.ok);
    std::vector<PngChunk> chunks = pngChunks(png);
    const PngChunk* plte = findChunk(chunks, "PLTE");
    const PngChunk* trns = findChunk(chunks, "tRNS");
    const uint32_t maxval = (1u << pngHeader(png).depth) - 1;  // d.depth counts unpacked bytes
    Rgba16 out{int(d.width), int(d.height), {}};
    for (size_t i = 0; i + size_t(d.channels) <= d.samples.size(); i += size_t(d.channels)) {
        const uint32_t* s = &d.samples[i];
        uint32_t r = s[0], g = s[0], b = s[0], a = maxval;
        if (d.colorType == 3) {
            r = uint8_t(plte->data[3 * s[0]]) * 257u;
            g = uint8_t(plte->data[3 * s[0] + 1]) * 257u;
            b = uint8_t(plte->data[3 * s[0] + 2]) * 257u;
            a = trns && s[0] < trns->data.size() ? uint8_t(trns->data[s[0]]) * 257u : 65535u;
            out.samples.insert(out.samples.end(), {r, g, b, a});
            continue;
        }
        if (d.colorType == 2 || d.colorType == 6) g = s[1], b = s[2];
        if (d.colorType == 4) a = s[1];
        if (d.colorType == 6) a = s[3];
        if (trns && d.colorType == 0 && s[0] == bigEndian16(trns->data, 0)) a = 0;
        if (trns && d.colorType == 2 && s[0] == bigEndian16(trns->data, 0) && s[1] == bigEndian16(trns->data, 2) &&
            s[2] == bigEndian16(trns->data, 4))
            a = 0;
        out.samples.insert(out.samples.end(), {to16(r, maxval), to16(g, maxval), to16(b, maxval), to16(a, maxval)});
    }
    return out;
}

struct ParsedPam {
    int format = 0;
    Rgba16 image;
};

ParsedPam parsePam(const std::string& bytes) {
    ParsedPam p;
    FILE* f = fmemopen(const_cast<char*>(bytes.data()), bytes.size(), "rb");
    Sample maxval = 0;
    pnm_readpaminit(f, &p.image.cols, &p.image.rows, &maxval, &p.format);
    std::vector<Xel> row(size_t(p.image.cols) + 1);
    std::vector<Sample> alpha(size_t(p.image.cols) + 1);
    for (int y = 0; y < p.image.rows; ++y) {
        pnm_readpamrow(f, row.data(), alpha.data(), p.image.cols, maxval, p.format);
        for (int x = 0; x < p.image.cols; ++x)
            p.image.samples.insert(p.image.samples.end(), {to16(row[size_t(x)].r, maxval), to16(row[size_t(x)].g, maxval),
                                                           to16(row[size_t(x)].b, maxval),
                                                           to16(alpha[size_t(x)], maxval)});
    }
    fclose(f);
    return p;
}

// A PNG of random samples drawn from a few values, so that a tRNS colour
// occurs, and for a palette image PLTE (and tRNS) chunks.
enum class Transparency { None, Binary, Partial };

struct PamCase {
    const char* name;
    int colorType;
    int depth;
    Transparency trns;  // a tRNS chunk (binary: only 0 and 255 for a palette)
    bool interlace;
};

PngRecipe recipeFor(const PamCase& c, unsigned seed) {
    std::mt19937 rng(seed);
    PngRecipe r;
    r.width = 9;
    r.height = 6;
    r.depth = c.depth;
    r.colorType = c.colorType;
    r.interlace = c.interlace;
    const uint32_t maxval = (1u << c.depth) - 1;
    const int channels = pngChannels(c.colorType);
    std::vector<uint32_t> values;
    for (int i = 0; i < 4 * channels; ++i) values.push_back(uint32_t(rng() % (maxval + 1)));
    const int entries = c.colorType == 3 ? int(maxval < 7 ? maxval + 1 : 7) : 4;
    for (uint32_t i = 0; i < r.width * r.height; ++i) {
        unsigned pick = rng() % unsigned(entries);
        for (int ch = 0; ch < channels; ++ch)
            r.samples.push_back(c.colorType == 3                              ? pick
                                : (c.colorType == 4 || c.colorType == 6) && ch == channels - 1
                                    ? uint32_t(rng() % (maxval + 1))
                                    : values[pick * unsigned(channels) + unsigned(ch)]);
    }
    if (c.colorType == 3) {
        std::string plte;
        for (int i = 0; i < entries * 3; ++i) plte.push_back(char(rng() % 256));
        r.beforeData.push_back({"PLTE", plte});
        if (c.trns == Transparency::Binary) r.beforeData.push_back({"tRNS", bytesOf({255, 0})});
        if (c.trns == Transparency::Partial) r.beforeData.push_back({"tRNS", bytesOf({0, 128, 255, 7})});
    } else if (c.trns != Transparency::None) {
        std::string trns;
        for (int ch = 0; ch < channels; ++ch) trns += bytes16({values[size_t(ch)]});
        r.beforeData.push_back({"tRNS", trns});
    }
    return r;
}

std::string pamCaseName(const testing::TestParamInfo<PamCase>& info) { return info.param.name; }

class PamRoundTrip : public testing::TestWithParam<PamCase> {};

TEST_P(PamRoundTrip, SameSamplesAndAlphaThroughRasterpack) {
    const PamCase& c = GetParam();
    const std::string png = buildPng(recipeFor(c, 900u + unsigned(c.colorType * 20 + c.depth)));
    const Rgba16 original = pngAsRgba(png);

    RunResult pam = runInProcess(RASTERUNPACK, {"-pam"}, png);
    ASSERT_EQ(pam.status, 0) << pam.err;
    EXPECT_EQ(pam.err, "");
    ParsedPam parsed = parsePam(pam.out);
    const bool transparent = c.colorType == 4 || c.colorType == 6 || c.trns != Transparency::None;
    EXPECT_EQ(pnm_formathasalpha(parsed.format), transparent) << pnm_tupletype(parsed.format);
    EXPECT_EQ(pnm_formattype(parsed.format), c.colorType == 0 ? (c.depth == 1 ? PBM_FORMAT : PGM_FORMAT)
                                             : c.colorType == 4 ? PGM_FORMAT
                                                                : PPM_FORMAT);
    EXPECT_EQ(parsed.image.cols, original.cols);
    EXPECT_TRUE(parsed.image.samples == original.samples) << "the PAM differs from the PNG";

    RunResult back = runInProcess(RASTERPACK, {}, pam.out);
    ASSERT_EQ(back.status, 0) << back.err;
    EXPECT_TRUE(pngAsRgba(back.out).samples == original.samples) << "the round trip changed the image";
}

INSTANTIATE_TEST_SUITE_P(
    ColourTypesAndDepths, PamRoundTrip,
    testing::Values(PamCase{"Grey1", 0, 1, Transparency::None, false},
                    PamCase{"Grey1Trns", 0, 1, Transparency::Binary, false},
                    PamCase{"Grey2Trns", 0, 2, Transparency::Binary, true},
                    PamCase{"Grey4", 0, 4, Transparency::None, false},
                    PamCase{"Grey4Trns", 0, 4, Transparency::Binary, false},
                    PamCase{"Grey8", 0, 8, Transparency::None, false},
                    PamCase{"Grey8Trns", 0, 8, Transparency::Binary, true},
                    PamCase{"Grey16", 0, 16, Transparency::None, true},
                    PamCase{"Grey16Trns", 0, 16, Transparency::Binary, false},
                    PamCase{"Rgb8", 2, 8, Transparency::None, false},
                    PamCase{"Rgb8Trns", 2, 8, Transparency::Binary, false},
                    PamCase{"Rgb16", 2, 16, Transparency::None, false},
                    PamCase{"Rgb16Trns", 2, 16, Transparency::Binary, true},
                    PamCase{"Palette1", 3, 1, Transparency::None, false},
                    PamCase{"Palette2Binary", 3, 2, Transparency::Binary, false},
                    PamCase{"Palette4Partial", 3, 4, Transparency::Partial, true},
                    PamCase{"Palette8", 3, 8, Transparency::None, false},
                    PamCase{"Palette8Binary", 3, 8, Transparency::Binary, false},
                    PamCase{"Palette8Partial", 3, 8, Transparency::Partial, false},
                    PamCase{"GreyAlpha8", 4, 8, Transparency::None, false},
                    PamCase{"GreyAlpha16", 4, 16, Transparency::None, true},
                    PamCase{"RgbAlpha8", 6, 8, Transparency::None, true},
                    PamCase{"RgbAlpha16", 6, 16, Transparency::None, false}),
    pamCaseName);

class PamRefused : public testing::TestWithParam<std::vector<std::string>> {};

TEST_P(PamRefused, WithAlphaOrMix) {
    const std::vector<std::string>& args = GetParam();
    RunResult r = runInProcess(RASTERUNPACK, args, buildPng(PngRecipe{1, 1, 8, 0, false, {0}, {}, {}}));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    const std::string other = args[0] == "-pam" || args[0] == "-pa" ? args[1] : args[0];
    EXPECT_EQ(r.err, "rasterunpack: -pam and " + other + " are mutually exclusive\n");
}

INSTANTIATE_TEST_SUITE_P(EitherOrder, PamRefused,
                         testing::Values(std::vector<std::string>{"-pam", "-alpha"},
                                         std::vector<std::string>{"-alpha", "-pam"},
                                         std::vector<std::string>{"-pa", "-mix"},
                                         std::vector<std::string>{"-mix", "-pam"}));

// --- the direct row paths against the converting one ---------------------------

struct DirectCase {
    const char* name;
    int colorType;  // 0 or 2
    int depth;      // 8 or 16
    std::vector<PngChunk> chunks;
    std::vector<std::string> options;
    rasterunpack::RowPath path;
};

rasterunpack::HeaderFacts factsOf(const DirectCase& c) {
    rasterunpack::HeaderFacts f;
    f.width = 9;
    f.height = 6;
    f.bitDepth = c.depth;
    f.colorType = c.colorType;
    for (const PngChunk& chunk : c.chunks) {
        if (chunk.type == "tRNS") f.hasTrns = true;
        if (chunk.type == "gAMA") f.hasGama = true, f.imageGamma = float(bigEndian16(chunk.data, 2)) / 100000.0f;
        if (chunk.type == "sBIT") {
            f.hasSbit = true;
            uint8_t bits = uint8_t(chunk.data[0]);
            f.sbit = {bits, bits, bits, bits, 0};
        }
    }
    return f;
}

rasterunpack::DecoderSettings settingsOf(const DirectCase& c) {
    rasterunpack::DecoderSettings s;
    for (size_t i = 0; i < c.options.size(); ++i)
        if (c.options[i] == "-gamma") s.displayGamma = std::stof(c.options[i + 1]);
    return s;
}

std::string directCaseName(const testing::TestParamInfo<DirectCase>& info) { return info.param.name; }

class DirectRows : public testing::TestWithParam<DirectCase> {};

// -plain output always goes through Xels and the library's row writer: the
// raw output must hold the same header values and samples.
TEST_P(DirectRows, HoldWhatTheConvertingPathWrites) {
    const DirectCase& c = GetParam();
    rasterunpack::HeaderFacts facts = factsOf(c);
    rasterunpack::DecoderSettings settings = settingsOf(c);
    ASSERT_EQ(rasterunpack::chooseRowPath(facts, rasterunpack::planConversion(facts, settings),
                                             rasterunpack::ALPHA_NONE, false),
              c.path);

    PamCase shape{c.name, c.colorType, c.depth, Transparency::None, false};
    PngRecipe recipe = recipeFor(shape, 31u + unsigned(c.depth));
    recipe.beforeData = c.chunks;
    const std::string png = buildPng(recipe);
    RunResult direct = runInProcess(RASTERUNPACK, c.options, png);
    std::vector<std::string> plainOptions = c.options;
    plainOptions.push_back("-plain");
    RunResult converted = runInProcess(RASTERUNPACK, plainOptions, png);
    ASSERT_EQ(direct.status, 0) << direct.err;
    ASSERT_EQ(converted.status, 0) << converted.err;
    EXPECT_EQ(direct.out.substr(0, 2), c.colorType == 0 ? "P5" : "P6");

    FILE* a = fmemopen(const_cast<char*>(direct.out.data()), direct.out.size(), "rb");
    FILE* b = fmemopen(const_cast<char*>(converted.out.data()), converted.out.size(), "rb");
    int colsA = 0, rowsA = 0, formatA = 0, colsB = 0, rowsB = 0, formatB = 0;
    Sample maxvalA = 0, maxvalB = 0;
    Xel** imageA = pnm_readpnm(a, &colsA, &rowsA, &maxvalA, &formatA);
    Xel** imageB = pnm_readpnm(b, &colsB, &rowsB, &maxvalB, &formatB);
    EXPECT_EQ(maxvalA, maxvalB);
    EXPECT_EQ(pnm_formattype(formatA), pnm_formattype(formatB));
    ASSERT_EQ(colsA, colsB);
    ASSERT_EQ(rowsA, rowsB);
    int differing = 0;
    for (int y = 0; y < rowsA; ++y)
        for (int x = 0; x < colsA; ++x)
            differing += !(imageA[y][x].r == imageB[y][x].r && imageA[y][x].g == imageB[y][x].g &&
                           imageA[y][x].b == imageB[y][x].b);
    EXPECT_EQ(differing, 0);
    EXPECT_EQ(fgetc(a), EOF) << "bytes after the raster";
    pm_freearray(imageA, rowsA);
    pm_freearray(imageB, rowsB);
    fclose(a);
    fclose(b);
}

const PngChunk GAMMA_045{"gAMA", bytes32({45455})};

INSTANTIATE_TEST_SUITE_P(
    StoredMappedAndConverted, DirectRows,
    testing::Values(
        DirectCase{"Grey8Stored", 0, 8, {}, {}, rasterunpack::ROWS_AS_STORED},
        DirectCase{"Grey16Stored", 0, 16, {}, {}, rasterunpack::ROWS_AS_STORED},
        DirectCase{"Rgb8Stored", 2, 8, {}, {}, rasterunpack::ROWS_AS_STORED},
        DirectCase{"Rgb16Stored", 2, 16, {}, {}, rasterunpack::ROWS_AS_STORED},
        DirectCase{"Grey8TrnsDropped", 0, 8, {{"tRNS", bytes16({7})}}, {}, rasterunpack::ROWS_AS_STORED},
        DirectCase{"Grey8Gamma", 0, 8, {GAMMA_045}, {"-gamma", "2.2"}, rasterunpack::ROWS_MAPPED},
        DirectCase{"Rgb16Gamma", 2, 16, {GAMMA_045}, {"-gamma", "1.7"}, rasterunpack::ROWS_MAPPED},
        DirectCase{"Grey8Sbit5", 0, 8, {{"sBIT", bytesOf({5})}}, {}, rasterunpack::ROWS_MAPPED},
        DirectCase{"Grey16Sbit12", 0, 16, {{"sBIT", bytesOf({12})}}, {}, rasterunpack::ROWS_MAPPED},
        DirectCase{"Grey16Sbit8", 0, 16, {{"sBIT", bytesOf({8})}}, {}, rasterunpack::ROWS_MAPPED},
        DirectCase{"Rgb8Sbit3", 2, 8, {{"sBIT", bytesOf({3, 3, 3})}}, {}, rasterunpack::ROWS_MAPPED},
        DirectCase{"Rgb16Sbit9", 2, 16, {{"sBIT", bytesOf({9, 9, 9})}}, {}, rasterunpack::ROWS_MAPPED}),
    directCaseName);

}  // namespace
