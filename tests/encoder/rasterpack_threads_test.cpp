// -threads and -optimize end to end: the same pixels and chunks as the
// default output, for every form the encoder writes.
#include "pngtestkit.h"
#include "programs.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <set>

using namespace testkit;

namespace {

RunResult run(const std::vector<std::string>& args, const std::string& input) {
    return runInProcess(RASTERPACK, args, input);
}

std::vector<Sample> ramp(int n, Sample maxval, uint32_t stride) {
    std::vector<Sample> v;
    for (int i = 0; i < n; ++i) v.push_back(Sample((uint64_t(i) * stride + uint64_t(i) * i / 7) % (uint64_t(maxval) + 1)));
    return v;
}

std::vector<int> bits(int n) {
    std::vector<int> v;
    for (int i = 0; i < n; ++i) v.push_back((i * 7 / 3 + i / 11) % 2);
    return v;
}

// A few colours over the image: a palette image.
std::vector<Sample> fewColours(int pixels, int colours) {
    std::vector<Sample> v;
    for (int i = 0; i < pixels; ++i) {
        int c = (i / 3 + i % 5) % colours;
        v.insert(v.end(), {Sample(c * 40 % 256), Sample(c * 90 % 256), Sample(c * 13 % 256)});
    }
    return v;
}

struct FormCase {
    const char* name;
    std::string image;
    std::string mask;  // empty: no -alpha
};

std::vector<FormCase> formCases() {
    return {
        {"Pbm", makePbm(37, 23, bits(37 * 23)), ""},
        {"Grey2Bit", makePgm(29, 13, 3, ramp(29 * 13, 3, 1)), ""},
        {"Grey4Bit", makePgm(31, 9, 15, ramp(31 * 9, 15, 3)), ""},
        {"Grey8Bit", makePgm(40, 30, 255, ramp(1200, 255, 7)), ""},
        {"Grey16Bit", makePgm(33, 17, 65535, ramp(33 * 17, 65535, 4099)), ""},
        {"Rgb8Bit", makePpm(60, 40, 255, ramp(7200, 255, 37)), ""},
        {"Rgb16Bit", makePpm(21, 19, 65535, ramp(21 * 19 * 3, 65535, 5003)), ""},
        {"GreyAlpha8Bit", makePgm(25, 14, 255, ramp(350, 255, 11)), makePgm(25, 14, 255, ramp(350, 255, 29))},
        {"GreyAlpha16Bit", makePgm(19, 11, 65535, ramp(209, 65535, 999)), makePgm(19, 11, 65535, ramp(209, 65535, 77))},
        {"RgbAlpha8Bit", makePpm(27, 15, 255, ramp(27 * 15 * 3, 255, 13)), makePgm(27, 15, 255, ramp(405, 255, 3))},
        {"RgbAlpha16Bit", makePpm(18, 12, 65535, ramp(18 * 12 * 3, 65535, 3001)),
         makePgm(18, 12, 65535, ramp(216, 65535, 1234))},
        {"Palette1Bit", makePpm(17, 12, 255, fewColours(17 * 12, 2)), ""},
        {"Palette2Bit", makePpm(35, 21, 255, fewColours(35 * 21, 4)), ""},
        {"Palette4Bit", makePpm(23, 16, 255, fewColours(23 * 16, 13)), ""},
        {"Palette8Bit", makePpm(41, 33, 255, fewColours(41 * 33, 200)), ""},
        {"PaletteWithAlpha", makePpm(26, 18, 255, fewColours(26 * 18, 6)), makePgm(26, 18, 255, ramp(468, 3, 1))},
        // libpng drops the filter types that cannot help a single column or row.
        {"Rgb8BitOneColumn", makePpm(1, 300, 255, ramp(900, 255, 37)), ""},
        {"Grey16BitOneRow", makePgm(300, 1, 65535, ramp(300, 65535, 4099)), ""},
        // Bigger than one band (256 KB of rows): band edges inside the image.
        {"Rgb16BitManyBands", makePpm(230, 220, 65535, ramp(230 * 220 * 3, 65535, 7919)), ""},
    };
}

struct ThreadCase {
    FormCase form;
    bool interlace;
};

std::vector<ThreadCase> threadCases() {
    std::vector<ThreadCase> cases;
    for (const FormCase& f : formCases())
        for (bool interlace : {false, true}) cases.push_back({f, interlace});
    return cases;
}

std::string threadCaseName(const testing::TestParamInfo<ThreadCase>& info) {
    return std::string(info.param.form.name) + (info.param.interlace ? "Interlaced" : "");
}

std::vector<std::string> argsFor(const ThreadCase& c, std::vector<std::string> args) {
    if (c.interlace) args.push_back("-interlace");
    if (!c.form.mask.empty()) {
        std::string path = scratchDir() + "/mask.pgm";
        writeFile(path, c.form.mask);
        args.push_back("-alpha");
        args.push_back(path);
    }
    return args;
}

std::vector<PngChunk> chunksBesideImageData(const std::string& png) {
    std::vector<PngChunk> kept;
    for (const PngChunk& c : pngChunks(png))
        if (c.type != "IDAT") kept.push_back(c);
    return kept;
}

// The chunks no form reduction or palette order may change: all but the
// image data and those that describe the form.
std::vector<PngChunk> chunksBesideTheForm(const std::string& png) {
    static const std::set<std::string> FORM = {"IHDR", "PLTE", "tRNS", "bKGD", "hIST", "sBIT", "IDAT"};
    std::vector<PngChunk> kept;
    for (const PngChunk& c : pngChunks(png))
        if (!FORM.count(c.type)) kept.push_back(c);
    return kept;
}

void expectSameChunks(const std::vector<PngChunk>& a, const std::vector<PngChunk>& b, const std::string& label) {
    ASSERT_EQ(a.size(), b.size()) << label;
    for (size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i].type, b[i].type) << label;
        EXPECT_EQ(a[i].data, b[i].data) << label << " " << a[i].type;
    }
}

class ImageDataWriters : public testing::TestWithParam<ThreadCase> {};

TEST_P(ImageDataWriters, GiveTheDefaultsPixelsAndChunks) {
    const ThreadCase& c = GetParam();
    RunResult plain = run(argsFor(c, {}), c.form.image);
    ASSERT_EQ(plain.status, 0) << plain.err;
    DecodedPng expected = decodePng(plain.out);
    ASSERT_TRUE(expected.ok);
    const std::vector<uint32_t> expectedRgba = decodePngAsRgba16(plain.out).samples;
    const std::vector<std::vector<std::string>> variants = {
        {"-threads", "2"}, {"-threads", "7"}, {"-threads", "0"}, {"-optimize"}, {"-optimize", "-threads", "3"}};
    for (const std::vector<std::string>& v : variants) {
        std::string label = v.size() == 1 ? v[0] : v[0] + " " + v.back();
        RunResult r = run(argsFor(c, v), c.form.image);
        ASSERT_EQ(r.status, 0) << label << ": " << r.err;
        EXPECT_EQ(r.err, plain.err) << label;
        DecodedPng got = decodePng(r.out);
        ASSERT_TRUE(got.ok) << label;
        if (v[0] == "-threads") {
            // The band writer filters every row as libpng does, palettes and
            // low depths unfiltered included: only the compression differs.
            EXPECT_EQ(got.samples, expected.samples) << label;
            EXPECT_EQ(inflatedImageData(r.out), inflatedImageData(plain.out)) << label;
            expectSameChunks(chunksBesideImageData(plain.out), chunksBesideImageData(r.out), label);
        } else {
            // -optimize may write another form of the same pixels, never a larger file.
            EXPECT_EQ(decodePngAsRgba16(r.out).samples, expectedRgba) << label;
            EXPECT_LE(r.out.size(), plain.out.size()) << label;
            expectSameChunks(chunksBesideTheForm(plain.out), chunksBesideTheForm(r.out), label);
        }
        // The image data sits in one run of chunks between the header chunks and IEND.
        std::vector<PngChunk> all = pngChunks(r.out);
        ASSERT_FALSE(all.empty());
        EXPECT_EQ(all.back().type, "IEND") << label;
        size_t first = 0;
        while (first < all.size() && all[first].type != "IDAT") ++first;
        for (size_t i = first; i + 1 < all.size(); ++i) EXPECT_EQ(all[i].type, "IDAT") << label;
    }
}

TEST_P(ImageDataWriters, OneThreadIsTheDefaultByteForByte) {
    const ThreadCase& c = GetParam();
    RunResult plain = run(argsFor(c, {}), c.form.image);
    RunResult one = run(argsFor(c, {"-threads", "1"}), c.form.image);
    ASSERT_EQ(plain.status, 0) << plain.err;
    EXPECT_EQ(one.status, 0);
    EXPECT_EQ(one.out, plain.out);
}

INSTANTIATE_TEST_SUITE_P(Forms, ImageDataWriters, testing::ValuesIn(threadCases()), threadCaseName);

// An explicit filter on an image one pixel wide or one row high: the band
// writer filters as libpng's row writer does, which drops the types that
// cannot help there.
class ThinImageFilter : public testing::TestWithParam<const char*> {};

TEST_P(ThinImageFilter, BandsFilterAsLibpngDoes) {
    const std::string images[] = {makePpm(1, 300, 255, ramp(900, 255, 37)), makePgm(300, 1, 65535, ramp(300, 65535, 4099)),
                                  makePpm(1, 1, 255, {1, 2, 3})};
    for (const std::string& image : images) {
        for (bool interlace : {false, true}) {
            std::vector<std::string> args = {"-filter", GetParam()};
            if (interlace) args.push_back("-interlace");
            RunResult plain = run(args, image);
            args.insert(args.end(), {"-threads", "2"});
            RunResult bands = run(args, image);
            ASSERT_EQ(plain.status, 0) << plain.err;
            ASSERT_EQ(bands.status, 0) << bands.err;
            PngHeader h = pngHeader(plain.out);
            EXPECT_EQ(inflatedImageData(bands.out), inflatedImageData(plain.out))
                << h.width << " x " << h.height << (interlace ? " interlaced" : "");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Filters, ThinImageFilter, testing::Values("0", "1", "2", "3", "4"));

// The table above reaches every colour type and depth the encoder writes.
TEST(ImageDataWriters, CasesCoverEveryColourTypeAndDepth) {
    std::set<std::pair<int, int>> seen;
    for (const FormCase& f : formCases()) {
        std::vector<std::string> args;
        if (!f.mask.empty()) {
            std::string path = scratchDir() + "/mask.pgm";
            writeFile(path, f.mask);
            args = {"-alpha", path};
        }
        PngHeader h = pngHeader(run(args, f.image).out);
        seen.insert({h.colorType, h.depth});
    }
    std::set<std::pair<int, int>> wanted = {{0, 1}, {0, 2}, {0, 4}, {0, 8}, {0, 16}, {2, 8}, {2, 16}, {3, 1},
                                            {3, 2}, {3, 4}, {3, 8}, {4, 8}, {4, 16}, {6, 8}, {6, 16}};
    for (const auto& form : wanted)
        EXPECT_TRUE(seen.count(form)) << "colour type " << form.first << " depth " << form.second;
}

// --- -optimize ------------------------------------------------------------------------

std::string photoLike() { return makePpm(64, 48, 255, ramp(64 * 48 * 3, 255, 3)); }

// Small images of every form, in shapes where the default's own zlib level
// can beat the trials' (a tall 1-pixel column of noise, a single row): the
// default's settings are one of the candidates, so -optimize never loses.
struct SmallShape {
    int cols, rows;
};

uint32_t nextNoise(uint32_t* seed) { return (*seed = *seed * 1103515245u + 12345u) >> 16; }

std::vector<Sample> noise(int n, Sample maxval, uint32_t seed) {
    std::vector<Sample> v;
    for (int i = 0; i < n; ++i) v.push_back(Sample(nextNoise(&seed) % (uint64_t(maxval) + 1)));
    return v;
}

// The image and mask of one form at one size, with content from seed.
FormCase smallForm(int form, SmallShape s, uint32_t seed) {
    const int n = s.cols * s.rows;
    std::vector<int> bitNoise;
    for (Sample v : noise(n, 1, seed)) bitNoise.push_back(int(v));
    std::vector<Sample> palette;
    for (Sample v : noise(n, 5, seed)) palette.insert(palette.end(), {Sample(v * 40), Sample(v * 90 % 256), Sample(7)});
    switch (form) {
    case 0: return {"Pbm", makePbm(s.cols, s.rows, bitNoise), ""};
    case 1: return {"Grey2Bit", makePgm(s.cols, s.rows, 3, noise(n, 3, seed)), ""};
    case 2: return {"Grey8Bit", makePgm(s.cols, s.rows, 255, noise(n, 255, seed)), ""};
    case 3: return {"Grey16Bit", makePgm(s.cols, s.rows, 65535, noise(n, 65535, seed)), ""};
    case 4: return {"Rgb8Bit", makePpm(s.cols, s.rows, 255, noise(3 * n, 255, seed)), ""};
    case 5: return {"Rgb16Bit", makePpm(s.cols, s.rows, 65535, noise(3 * n, 65535, seed)), ""};
    case 6: return {"Palette", makePpm(s.cols, s.rows, 255, palette), ""};
    case 7:
        return {"GreyAlpha", makePgm(s.cols, s.rows, 255, noise(n, 255, seed)),
                makePgm(s.cols, s.rows, 255, noise(n, 255, seed + 1))};
    case 8:
        return {"RgbAlpha", makePpm(s.cols, s.rows, 255, noise(3 * n, 255, seed)),
                makePgm(s.cols, s.rows, 255, noise(n, 255, seed + 1))};
    default:
        return {"PaletteAlpha", makePpm(s.cols, s.rows, 255, palette), makePgm(s.cols, s.rows, 1, noise(n, 1, seed))};
    }
}

TEST(Optimize, IsNeverLargerThanTheDefaultAndKeepsThePixels) {
    const SmallShape shapes[] = {{1, 300}, {300, 1}, {1, 1}, {3, 70}, {13, 11}, {64, 5}};
    const std::vector<std::vector<std::string>> settings = {{}, {"-interlace"}, {"-compression", "1"}};
    uint32_t seed = 1;
    for (int form = 0; form < 10; ++form) {
        for (SmallShape shape : shapes) {
            for (const std::vector<std::string>& extra : settings) {
                ThreadCase c{smallForm(form, shape, seed++), false};
                std::string label = std::string(c.form.name) + " " + std::to_string(shape.cols) + "x" +
                                    std::to_string(shape.rows) + (extra.empty() ? "" : " " + extra[0]);
                RunResult plain = run(argsFor(c, extra), c.form.image);
                std::vector<std::string> optimizeArgs = extra;
                optimizeArgs.push_back("-optimize");
                RunResult optimized = run(argsFor(c, optimizeArgs), c.form.image);
                ASSERT_EQ(plain.status, 0) << label << ": " << plain.err;
                ASSERT_EQ(optimized.status, 0) << label << ": " << optimized.err;
                EXPECT_LE(optimized.out.size(), plain.out.size()) << label;
                EXPECT_EQ(decodePngAsRgba16(optimized.out).samples, decodePngAsRgba16(plain.out).samples) << label;
            }
        }
    }
}

// The slowest level (abbreviated here) keeps -optimize's result unless its
// own is smaller, with the same pixels and chunks.
TEST(Optimize, SlowestLevelNeverLosesAndKeepsThePixels) {
    for (const std::string& image : {photoLike(), makePpm(40, 40, 255, fewColours(1600, 9)), makePbm(50, 20, bits(1000)),
                                     makePbm(1, 300, bits(300)), makePgm(30, 20, 65535, ramp(600, 65535, 4099))}) {
        RunResult plain = run({}, image), optimized = run({"-optimize"}, image), slowest = run({"-optimizem"}, image);
        ASSERT_EQ(optimized.status, 0) << optimized.err;
        ASSERT_EQ(slowest.status, 0) << slowest.err;
        EXPECT_LE(optimized.out.size(), plain.out.size());
        EXPECT_LE(slowest.out.size(), optimized.out.size());
        EXPECT_EQ(decodePngAsRgba16(slowest.out).samples, decodePngAsRgba16(plain.out).samples);
        expectSameChunks(chunksBesideTheForm(plain.out), chunksBesideTheForm(slowest.out), "-optimizemax");
    }
}

struct KeptFilterCase {
    std::vector<std::string> args;
    int filter;
};

class OptimizeKeepsTheFilter : public testing::TestWithParam<KeptFilterCase> {};

TEST_P(OptimizeKeepsTheFilter, OnEveryRow) {
    RunResult r = run(GetParam().args, photoLike());
    ASSERT_EQ(r.status, 0) << r.err;
    std::string data = inflatedImageData(r.out);
    const size_t stride = 64 * 3 + 1;
    ASSERT_EQ(data.size(), stride * 48);
    for (size_t at = 0; at < data.size(); at += stride) EXPECT_EQ(data[at], char(GetParam().filter)) << at / stride;
}

INSTANTIATE_TEST_SUITE_P(Filters, OptimizeKeepsTheFilter,
                         testing::Values(KeptFilterCase{{"-optimize", "-filter", "0"}, 0},
                                         KeptFilterCase{{"-optimize", "-filter", "3", "-threads", "2"}, 3},
                                         KeptFilterCase{{"-filter", "4", "-optimize", "-compression", "1"}, 4},
                                         KeptFilterCase{{"-threads", "4", "-filter", "2"}, 2}));

TEST(Optimize, CompressionZeroStoresTheData) {
    RunResult r = run({"-optimize", "-compression", "0"}, photoLike());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_GT(chunkData(pngChunks(r.out), "IDAT").size(), size_t(64 * 3 * 48));
}

TEST(Optimize, VerboseReportsTheWinner) {
    RunResult r = run({"-optimize", "-verbose"}, photoLike());
    ASSERT_EQ(r.status, 0);
    size_t at = r.err.find("rasterpack: -optimize: ");
    ASSERT_NE(at, std::string::npos) << r.err;
    std::string line = r.err.substr(at, r.err.find('\n', at) - at);
    EXPECT_NE(line.find("best: filter "), std::string::npos) << line;
    EXPECT_NE(line.find(" level "), std::string::npos) << line;
    size_t idat = 0;
    for (const PngChunk& c : pngChunks(r.out))
        if (c.type == "IDAT") idat += c.data.size();
    EXPECT_NE(line.find(": " + std::to_string(idat) + " bytes of image data"), std::string::npos) << line;
}

// --- failures ---------------------------------------------------------------------------

class WriteFailure : public testing::TestWithParam<std::vector<std::string>> {};

TEST_P(WriteFailure, EndsWithTheTwoLines) {
    std::string command = "exec \"$0\"";
    for (const std::string& a : GetParam()) command += " " + a;
    command += " > /dev/full";
    // Noise: the output outgrows the output buffer while the image data goes out.
    std::vector<Sample> rgb;
    uint32_t seed = 1;
    for (int i = 0; i < 200 * 200 * 3; ++i) rgb.push_back(Sample((seed = seed * 1103515245u + 12345u) >> 24));
    RunResult r = runProgram("/bin/sh", {"-c", command, rasterpackPath()}, makePpm(200, 200, 255, rgb));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "rasterpack:  fatal libpng error: Write Error\n"
              "rasterpack: setjmp returns error condition (2)\n");
}

INSTANTIATE_TEST_SUITE_P(Writers, WriteFailure,
                         testing::Values(std::vector<std::string>{"-threads", "2"},
                                         std::vector<std::string>{"-threads", "3", "-interlace"},
                                         std::vector<std::string>{"-optimize"}));

}  // namespace
