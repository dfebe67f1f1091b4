// rasterpack's palette images end to end: index widths, transparent and
// background entries, hIST, colour/alpha palettes, ordered palettes and the
// analyses that narrow the form. Pixels are checked by decoding the PNG and
// looking each index up in PLTE.
#include "pngtestkit.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <array>
#include <ostream>

using namespace testkit;

namespace {

typedef std::array<uint32_t, 3> Rgb;

RunResult run(const std::vector<std::string>& args, const std::string& input) {
    return runProgram(rasterpackPath(), args, input);
}

std::string sideFile(const std::string& name, const std::string& bytes) {
    std::string path = scratchDir() + "/" + name;
    writeFile(path, bytes);
    return path;
}

// Every pixel's colour through PLTE, and its alpha through tRNS (255 beyond it).
struct PalettePixels {
    bool ok = false;
    std::vector<Rgb> colours;
    std::vector<uint32_t> alphas;
};

PalettePixels palettePixels(const std::string& png) {
    PalettePixels p;
    std::vector<PngChunk> chunks = pngChunks(png);
    std::string plte = chunkData(chunks, "PLTE"), trns = chunkData(chunks, "tRNS");
    if (trns == "<absent>") trns.clear();
    DecodedPng d = decodePng(png);
    if (!d.ok || d.colorType != 3) return p;
    for (uint32_t index : d.samples) {
        if (3 * index + 2 >= plte.size()) return p;
        p.colours.push_back({uint8_t(plte[3 * index]), uint8_t(plte[3 * index + 1]), uint8_t(plte[3 * index + 2])});
        p.alphas.push_back(index < trns.size() ? uint8_t(trns[index]) : 255);
    }
    p.ok = true;
    return p;
}

// n distinct colours in one row, each at 8 bits.
std::vector<Rgb> distinctColours(int n) {
    std::vector<Rgb> v;
    for (int i = 0; i < n; ++i) v.push_back({uint32_t(i * 7 % 256), uint32_t(i / 37 * 40), uint32_t(255 - i % 256)});
    return v;
}

std::string ppmOf(const std::vector<Rgb>& pixels, int cols = 0) {
    std::vector<Sample> s;
    for (const Rgb& p : pixels) s.insert(s.end(), p.begin(), p.end());
    if (cols == 0) cols = int(pixels.size());
    return makePpm(cols, int(pixels.size()) / cols, 255, s);
}

std::vector<Sample> greyRamp(int levels, int step) {
    std::vector<Sample> v;
    for (int i = 0; i < levels; ++i) v.push_back(Sample(i * step));
    return v;
}

std::string bytes(std::initializer_list<unsigned> values) {
    std::string s;
    for (unsigned v : values) s += char(v);
    return s;
}

// --- which form, at which width -----------------------------------------------------

struct WidthCase {
    const char* name;
    std::string image;
    std::vector<std::string> args;
    int colorType, depth;
};

class IndexWidth : public testing::TestWithParam<WidthCase> {};

TEST_P(IndexWidth, SmallestThatHoldsThePaletteAndPixelsSurvive) {
    const WidthCase& c = GetParam();
    RunResult r = run(c.args, c.image);
    ASSERT_EQ(r.status, 0) << r.err;
    PngHeader h = pngHeader(r.out);
    EXPECT_EQ(h.colorType, c.colorType);
    EXPECT_EQ(h.depth, c.depth);
    if (c.colorType != 3) return;
    // the input's own pixels, read back through a direct conversion
    RunResult direct = run({"-force"}, c.image);
    DecodedPng expected = decodePng(direct.out);
    PalettePixels got = palettePixels(r.out);
    ASSERT_TRUE(got.ok && expected.ok);
    ASSERT_EQ(got.colours.size() * size_t(expected.channels), expected.samples.size());
    // the direct form's samples at 8 bits, where PLTE has them
    const uint32_t scale = 255 / ((1u << pngHeader(direct.out).depth) - 1);
    for (size_t i = 0; i < got.colours.size(); ++i) {
        const uint32_t* s = &expected.samples[i * expected.channels];
        Rgb want = expected.channels == 1 ? Rgb{s[0] * scale, s[0] * scale, s[0] * scale}
                                          : Rgb{s[0] * scale, s[1] * scale, s[2] * scale};
        ASSERT_EQ(got.colours[i], want) << "pixel " << i;
    }
}

std::string widthName(const testing::TestParamInfo<WidthCase>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(
    Colours, IndexWidth,
    testing::Values(WidthCase{"Colours2", ppmOf(distinctColours(2)), {}, 3, 1},
                    WidthCase{"Colours3", ppmOf(distinctColours(3)), {}, 3, 2},
                    WidthCase{"Colours4", ppmOf(distinctColours(4)), {}, 3, 2},
                    WidthCase{"Colours5", ppmOf(distinctColours(5)), {}, 3, 4},
                    WidthCase{"Colours16", ppmOf(distinctColours(16)), {}, 3, 4},
                    WidthCase{"Colours17", ppmOf(distinctColours(17)), {}, 3, 8},
                    WidthCase{"Colours256", ppmOf(distinctColours(256), 16), {}, 3, 8},
                    WidthCase{"Colours257", ppmOf(distinctColours(257)), {}, 2, 8},
                    WidthCase{"Colours16PlusBackground", ppmOf(distinctColours(16)), {"-background", "#010203"}, 3, 8},
                    WidthCase{"ForcedStaysRgb", ppmOf(distinctColours(3)), {"-force"}, 2, 8},
                    // grey palettes keep their pixels (the index-width rule is a row of the form table)
                    WidthCase{"Grey16Levels", makePgm(16, 1, 255, greyRamp(16, 13)), {}, 3, 4},
                    WidthCase{"GreyMaxval15With4Levels", makePgm(4, 1, 15, {0, 3, 7, 15}), {}, 3, 2},
                    WidthCase{"GreyLookingColour", ppmOf({{9, 9, 9}, {80, 80, 80}}), {}, 3, 1},
                    WidthCase{"Maxval100", makePpm(2, 1, 100, {100, 50, 0, 1, 2, 3}), {}, 3, 1},
                    WidthCase{"BitImageNeverPalette", makePbm(3, 1, {1, 0, 1}), {}, 0, 1},
                    WidthCase{"Maxval1000NeverPalette", makePpm(1, 1, 1000, {1, 2, 3}), {}, 2, 16}),
    widthName);

TEST(PaletteImage, InterlacedGivesTheSamePixels) {
    std::vector<Rgb> pixels;
    for (int i = 0; i < 13 * 11; ++i) pixels.push_back(distinctColours(6)[(i * 7 / 5) % 6]);
    std::string image = ppmOf(pixels, 13);
    PalettePixels plain = palettePixels(run({}, image).out);
    PalettePixels interlaced = palettePixels(run({"-interlace"}, image).out);
    ASSERT_TRUE(plain.ok && interlaced.ok);
    EXPECT_EQ(plain.colours, interlaced.colours);
}

TEST(PaletteImage, ColourCountIsReportedWithoutVerbose) {
    RunResult r = run({}, ppmOf(distinctColours(3)));
    EXPECT_EQ(r.err, "rasterpack: 3 colors found\n");
    r = run({}, ppmOf(distinctColours(257)));
    EXPECT_EQ(r.err, "");
    // so is an exact transparent colour the image lacks; the run still succeeds
    r = run({"-transparent", "=#000020"}, ppmOf(distinctColours(3)));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err,
              "rasterpack: 3 colors found\n"
              "rasterpack: specified transparent color not present in palette; ignoring -transparent\n");
}

// --- messages ----------------------------------------------------------------------------

struct MessageCase {
    const char* name;
    std::string image;
    std::vector<std::string> args;
    std::string messages;
};

class PaletteMessages : public testing::TestWithParam<MessageCase> {};

TEST_P(PaletteMessages, ReportEachDecisionInOrder) {
    std::vector<std::string> args = {"-verbose"};
    args.insert(args.end(), GetParam().args.begin(), GetParam().args.end());
    RunResult r = run(args, GetParam().image);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, GetParam().messages);
}

std::string messageName(const testing::TestParamInfo<MessageCase>& info) { return info.param.name; }

const std::string HEAD8 = "rasterpack: reading a PPM file (maxval=255)\nrasterpack: Finding colors in input image...\n";

INSTANTIATE_TEST_SUITE_P(
    Runs, PaletteMessages,
    testing::Values(
        MessageCase{"TransparentAndBackground",
                    ppmOf({{10, 0, 0}, {0, 20, 0}, {0, 0, 30}}),
                    {"-transparent", "rgb:00/00/1f", "-background", "#0a0000", "-hist"},
                    HEAD8 + "rasterpack: 3 colors found\n"
                            "rasterpack: Making all occurences of color (0, 0, 30) transparent.\n"
                            "rasterpack: background color (10, 0, 0) appears in image.\n"
                            "rasterpack: PNG palette has 3 entries, 1 of them non-opaque\n"
                            "rasterpack: Writing 2-bit color indexes\n"
                            "rasterpack: writing a 2-bit palette file\n"
                            "rasterpack: histogram created\n"},
        MessageCase{"ExactTransparentAbsentAndBackgroundAdded",
                    ppmOf({{10, 0, 0}, {0, 20, 0}}),
                    {"-transparent", "=#000020", "-background", "white", "-interlace"},
                    HEAD8 + "rasterpack: 2 colors found\n"
                            "rasterpack: specified transparent color not present in palette; ignoring -transparent\n"
                            "rasterpack: added background color (255, 255, 255) to palette.\n"
                            "rasterpack: PNG palette has 3 entries, 0 of them non-opaque\n"
                            "rasterpack: Writing 2-bit color indexes\n"
                            "rasterpack: writing a 2-bit palette file (interlaced)\n"},
        MessageCase{"FullPaletteBackground",
                    ppmOf(distinctColours(256), 16),
                    {"-background", "#0700fd"},
                    HEAD8 + "rasterpack: 256 colors found\n"
                            "rasterpack: no room in palette for background color; using closest match (7, 0, 254) "
                            "instead\n"
                            "rasterpack: PNG palette has 256 entries, 0 of them non-opaque\n"
                            "rasterpack: Writing 8-bit color indexes\n"
                            "rasterpack: writing an 8-bit palette file\n"},
        MessageCase{"TooManyColours",
                    ppmOf(distinctColours(257)),
                    {},
                    HEAD8 + "rasterpack: More than 256 colors found -- too many for a colormapped PNG\n"
                            "rasterpack: Writing 8 bits per component per pixel\n"
                            "rasterpack: writing a 24-bit RGB file\n"
                            "rasterpack: No transparent color\n"},
        MessageCase{"GreyIndexTooWide",
                    makePgm(17, 1, 255, greyRamp(17, 13)),
                    {},
                    "rasterpack: reading a PGM file (maxval=255)\n"
                    "rasterpack: Finding colors in input image...\n"
                    "rasterpack: 17 colors found\n"
                    "rasterpack: palette index would be larger than the indexed value, so not doing colormap\n"
                    "rasterpack: Writing 8 bits per component per pixel\n"
                    "rasterpack: writing an 8-bit gray file\n"
                    "rasterpack: No transparent color\n"},
        MessageCase{"SixteenBitByteCopies",
                    makePpm(2, 1, 65535, {257, 514, 771, 0, 65535, 257}),
                    {},
                    "rasterpack: reading a PPM file (maxval=65535)\n"
                    "rasterpack: Using only 8 rightmost bits of input samples.  The rest are just copies of those.\n"
                    "rasterpack: Writing 8 bits per component per pixel\n"
                    "rasterpack: writing a 24-bit RGB file\n"
                    "rasterpack: No transparent color\n"
                    "rasterpack: Writing sBIT chunk with sbitval = 8\n"}),
    messageName);

// --- chunks of palette images ------------------------------------------------------------

struct PaletteChunkCase {
    const char* name;
    std::string image;
    std::vector<std::string> args;
    std::string plte, trns, bkgd, hist;  // "<absent>" when not written
};

class PaletteChunks : public testing::TestWithParam<PaletteChunkCase> {};

TEST_P(PaletteChunks, AreExactly) {
    const PaletteChunkCase& c = GetParam();
    RunResult r = run(c.args, c.image);
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<PngChunk> chunks = pngChunks(r.out);
    EXPECT_EQ(pngHeader(r.out).colorType, 3);
    EXPECT_EQ(chunkData(chunks, "PLTE"), c.plte);
    EXPECT_EQ(chunkData(chunks, "tRNS"), c.trns);
    EXPECT_EQ(chunkData(chunks, "bKGD"), c.bkgd);
    EXPECT_EQ(chunkData(chunks, "hIST"), c.hist);
    EXPECT_EQ(chunkData(chunks, "sBIT"), "<absent>");
    EXPECT_TRUE(palettePixels(r.out).ok);
}

std::string paletteChunkName(const testing::TestParamInfo<PaletteChunkCase>& info) { return info.param.name; }

const std::string A = "<absent>";
// red, green, blue, green: histogram order red, green, blue
std::string rgbg() { return ppmOf({{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {0, 255, 0}}); }
std::string plteRgb() { return bytes({255, 0, 0, 0, 255, 0, 0, 0, 255}); }

INSTANTIATE_TEST_SUITE_P(
    Options, PaletteChunks,
    testing::Values(
        PaletteChunkCase{"Plain", rgbg(), {}, plteRgb(), A, A, A},
        PaletteChunkCase{"TransparentPresentMovesToZero", rgbg(), {"-transparent", "blue"},
                         bytes({0, 0, 255, 0, 255, 0, 255, 0, 0}), bytes({0}), A, A},
        PaletteChunkCase{"TransparentNearestWithoutEquals", rgbg(), {"-transparent", "#00e000"},
                         bytes({0, 255, 0, 255, 0, 0, 0, 0, 255}), bytes({0}), A, A},
        PaletteChunkCase{"TransparentAbsentWithEquals", rgbg(), {"-transparent", "=#00e000"}, plteRgb(), A, A, A},
        // yellow is as near to red as to green: the lower index wins
        PaletteChunkCase{"TransparentTieGoesToLowerIndex", rgbg(), {"-transparent", "yellow"},
                         plteRgb(), bytes({0}), A, A},
        PaletteChunkCase{"BackgroundPresent", rgbg(), {"-background", "lime"}, plteRgb(), A, bytes({1}), A},
        PaletteChunkCase{"BackgroundAdded", rgbg(), {"-background", "white"},
                         plteRgb() + bytes({255, 255, 255}), A, bytes({3}), A},
        PaletteChunkCase{"HistCounts", rgbg(), {"-hist"}, plteRgb(), A, A, bytes16({1, 2, 1})},
        PaletteChunkCase{"HistAddedBackgroundCountsZero", rgbg(), {"-hist", "-background", "white"},
                         plteRgb() + bytes({255, 255, 255}), A, bytes({3}), bytes16({1, 2, 1, 0})},
        PaletteChunkCase{"HistFollowsTheTransparentSwap", rgbg(), {"-hist", "-transparent", "blue"},
                         bytes({0, 0, 255, 0, 255, 0, 255, 0, 0}), bytes({0}), A, bytes16({1, 2, 1})},
        PaletteChunkCase{"Maxval100Scaled", makePpm(2, 1, 100, {100, 50, 0, 1, 2, 3}), {},
                         bytes({255, 128, 0, 3, 5, 8}), A, A, A}),
    paletteChunkName);

// A count above 65535 is scaled, and a colour of one pixel keeps a non-zero entry.
TEST(PaletteChunks, HistScalesLargeCountsDown) {
    std::vector<Sample> grey(131072, 10);
    grey[5] = 200;
    RunResult r = run({"-hist"}, makePgm(512, 256, 255, grey));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(chunkData(pngChunks(r.out), "hIST"), bytes16({65535, 1}));
}

// --- colour/alpha palettes -----------------------------------------------------------------

struct MaskPaletteCase {
    const char* name;
    std::string image;
    std::string mask;
    std::vector<std::string> args;
    int colorType;
    std::string plte, trns;
};

class MaskPalette : public testing::TestWithParam<MaskPaletteCase> {};

TEST_P(MaskPalette, GivesThisPaletteAndEveryPixelItsAlpha) {
    const MaskPaletteCase& c = GetParam();
    std::vector<std::string> args = c.args;
    args.push_back("-alpha");
    args.push_back(sideFile("mask.pgm", c.mask));
    RunResult r = run(args, c.image);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(pngHeader(r.out).colorType, c.colorType);
    std::vector<PngChunk> chunks = pngChunks(r.out);
    EXPECT_EQ(chunkData(chunks, "PLTE"), c.plte);
    EXPECT_EQ(chunkData(chunks, "tRNS"), c.trns);
    if (c.colorType != 3) return;
    // each pixel's alpha through tRNS is its mask value rescaled to 8 bits
    RunResult direct = run({"-force", "-alpha", args.back()}, c.image);
    DecodedPng expected = decodePng(direct.out);
    PalettePixels got = palettePixels(r.out);
    ASSERT_TRUE(got.ok && expected.ok);
    int channels = expected.channels;
    for (size_t i = 0; i < got.alphas.size(); ++i) {
        ASSERT_EQ(got.alphas[i], expected.samples[(i + 1) * channels - 1]) << "pixel " << i;
        ASSERT_EQ(got.colours[i][2], expected.samples[(i + 1) * channels - 2]) << "pixel " << i;
    }
}

std::string maskPaletteName(const testing::TestParamInfo<MaskPaletteCase>& info) { return info.param.name; }

std::string tenColours() {
    std::vector<Rgb> v;
    for (uint32_t i = 0; i < 10; ++i) v.push_back({i, 0, 0});
    return ppmOf(v);
}

INSTANTIATE_TEST_SUITE_P(
    Masks, MaskPalette,
    testing::Values(
        MaskPaletteCase{"WorkedExample", ppmOf({{255, 255, 255}, {255, 255, 255}, {0, 0, 0}, {128, 128, 128}}),
                        makePgm(4, 1, 255, {255, 128, 0, 255}), {"-background", "white"}, 3,
                        bytes({255, 255, 255, 0, 0, 0, 128, 128, 128, 255, 255, 255}), bytes({128, 0})},
        MaskPaletteCase{"OpaqueMaskOverTenColours", tenColours(), makePgm(10, 1, 255, std::vector<Sample>(10, 255)),
                        {}, 3, bytes({9, 0, 0, 8, 0, 0, 7, 0, 0, 6, 0, 0, 5, 0, 0, 4, 0, 0, 3, 0, 0, 2, 0, 0, 1, 0, 0,
                                      0, 0, 0}),
                        A},
        MaskPaletteCase{"MaskMaxval1", ppmOf({{1, 2, 3}, {1, 2, 3}, {4, 5, 6}}), makePbm(3, 1, {0, 1, 1}), {}, 3,
                        // PBM 1 is black, read as 0: transparent; 0 is white, read as 1: opaque
                        bytes({1, 2, 3, 4, 5, 6, 1, 2, 3}), bytes({0, 0})},
        MaskPaletteCase{"MaskMaxval15", ppmOf({{1, 2, 3}, {1, 2, 3}}), makePgm(2, 1, 15, {8, 15}), {}, 3,
                        bytes({1, 2, 3, 1, 2, 3}), bytes({136})},
        MaskPaletteCase{"OneColourTransparentAndOpaque", ppmOf({{7, 7, 9}, {7, 7, 9}}), makePgm(2, 1, 255, {0, 255}),
                        {}, 3, bytes({7, 7, 9, 7, 7, 9}), bytes({0})},
        MaskPaletteCase{"GreyImage", makePgm(3, 1, 255, {40, 40, 90}), makePgm(3, 1, 255, {10, 20, 255}), {}, 3,
                        bytes({40, 40, 40, 40, 40, 40, 90, 90, 90}), bytes({10, 20})},
        // reduced to one transparent colour: a plain palette with it at index 0
        MaskPaletteCase{"ReducedMask", ppmOf({{1, 1, 2}, {3, 3, 4}, {5, 5, 6}}), makePgm(3, 1, 255, {255, 255, 0}),
                        {}, 3, bytes({5, 5, 6, 3, 3, 4, 1, 1, 2}), bytes({0})},
        MaskPaletteCase{"ReducedMaskOnGreyDirect", makePgm(17, 1, 255, greyRamp(17, 13)),
                        makePgm(17, 1, 255, [] {
                            std::vector<Sample> m(17, 255);
                            m[3] = 0;
                            return m;
                        }()),
                        {}, 0, A, bytes16({39})},
        MaskPaletteCase{"PairsOver256KeepTheChannel",
                        [] {
                            std::vector<Rgb> v;
                            for (int i = 0; i < 257; ++i) v.push_back(i < 129 ? Rgb{10, 0, 0} : Rgb{20, 0, 0});
                            return ppmOf(v);
                        }(),
                        [] {
                            std::vector<Sample> m;
                            for (int i = 0; i < 257; ++i) m.push_back(Sample(i < 129 ? i : i - 129));
                            return makePgm(257, 1, 255, m);
                        }(),
                        {}, 6, A, A},
        MaskPaletteCase{"ForceKeepsTheChannel", ppmOf({{7, 7, 9}, {7, 7, 9}}), makePgm(2, 1, 255, {0, 255}),
                        {"-force"}, 6, A, A}),
    maskPaletteName);

TEST(MaskPalette, VerboseReportsTheTransparencyPalette) {
    RunResult r = run({"-verbose", "-alpha", sideFile("m.pgm", makePgm(2, 1, 255, {0, 128}))},
                      ppmOf({{1, 2, 3}, {4, 5, 6}}));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, HEAD8.substr(0, HEAD8.find('\n') + 1) +
                         "rasterpack: reading alpha-channel image...\n"
                         "rasterpack: Finding colors in input image...\n"
                         "rasterpack: 2 colors found\n"
                         "rasterpack: PNG palette has 2 entries, 2 of them non-opaque\n"
                         "rasterpack: Writing 1-bit color indexes\n"
                         "rasterpack: writing a 1-bit palette+transparency file\n");
}

TEST(MaskPalette, TooManyPairsIsReportedWithVerbose) {
    std::vector<Sample> m;
    for (int i = 0; i < 257; ++i) m.push_back(Sample(i % 256));
    std::vector<Rgb> v;
    for (int i = 0; i < 257; ++i) v.push_back(i < 256 ? Rgb{1, 1, 1} : Rgb{2, 2, 2});
    RunResult r = run({"-verbose", "-alpha", sideFile("m.pgm", makePgm(257, 1, 255, m))}, ppmOf(v));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("rasterpack: too many color/transparency pairs, writing a non-mapped file\n"
                         "rasterpack: Writing 8 bits per component per pixel\n"
                         "rasterpack: writing a 16-bit gray+alpha file\n"),
              std::string::npos)
        << r.err;
}

// The header is compared with the image before any row is read: a mask
// whose raster is missing still gets the size message.
TEST(MaskPalette, MaskOfAnotherSizeIsRefusedBeforeItsRows) {
    RunResult r = run({"-alpha", sideFile("m.pgm", "P5\n3 2\n255\n")}, ppmOf({{1, 2, 3}, {4, 5, 6}}));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "rasterpack: dimensions for image and alpha mask do not agree\n");
    r = runProgram("/bin/sh", {"-c", "printf 'P5\\n2000000 2000000\\n255\\n' | \"$0\" -alpha - " +
                                         sideFile("in.ppm", ppmOf({{1, 2, 3}})), rasterpackPath()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "rasterpack: dimensions for image and alpha mask do not agree\n");
}

// --- ordered palettes ----------------------------------------------------------------------

struct OrderedCase {
    const char* name;
    std::string image;
    std::string palette;
    std::vector<std::string> args;
    std::string outcome;  // the error line, or the PLTE bytes when it succeeds
    std::string mask = "";  // given with -alpha when not empty
};

class OrderedPalette : public testing::TestWithParam<OrderedCase> {};

TEST_P(OrderedPalette, FollowsTheFileOrRefusesIt) {
    const OrderedCase& c = GetParam();
    std::vector<std::string> args = c.args;
    args.push_back("-palette");
    args.push_back(sideFile("palette.ppm", c.palette));
    if (!c.mask.empty()) {
        args.push_back("-alpha");
        args.push_back(sideFile("mask.pgm", c.mask));
    }
    RunResult r = run(args, c.image);
    if (c.outcome.rfind("rasterpack: ", 0) == 0) {
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err.substr(r.err.find('\n') + 1 == r.err.size() ? 0 : r.err.rfind('\n', r.err.size() - 2) + 1),
                  c.outcome);
        EXPECT_TRUE(r.out.empty());
        return;
    }
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(chunkData(pngChunks(r.out), "PLTE"), c.outcome);
    // indexes follow the file's order
    PalettePixels got = palettePixels(r.out);
    ASSERT_TRUE(got.ok);
}

std::string orderedName(const testing::TestParamInfo<OrderedCase>& info) { return info.param.name; }

std::string sixteenColours() { return ppmOf(distinctColours(16), 4); }
std::string reversedSixteen(int cols) {
    std::vector<Rgb> v = distinctColours(16);
    return ppmOf(std::vector<Rgb>(v.rbegin(), v.rend()), cols);
}
std::string plteOf(std::vector<Rgb> v) {
    std::string s;
    for (const Rgb& p : v) s += bytes({p[0], p[1], p[2]});
    return s;
}
std::string reversedPlte() {
    std::vector<Rgb> v = distinctColours(16);
    return plteOf(std::vector<Rgb>(v.rbegin(), v.rend()));
}

INSTANTIATE_TEST_SUITE_P(
    Files, OrderedPalette,
    testing::Values(
        OrderedCase{"RowOf16", sixteenColours(), reversedSixteen(16), {}, reversedPlte()},
        OrderedCase{"Square4x4", sixteenColours(), reversedSixteen(4), {}, reversedPlte()},
        OrderedCase{"TransparentStillSwapsToZero", ppmOf({{1, 1, 1}, {2, 2, 2}, {3, 3, 3}}),
                    ppmOf({{3, 3, 3}, {1, 1, 1}, {2, 2, 2}}), {"-transparent", "#020202"},
                    bytes({2, 2, 2, 1, 1, 1, 3, 3, 3})},
        OrderedCase{"BackgroundAppendedAfterTheFile", ppmOf({{1, 1, 1}, {2, 2, 2}}), ppmOf({{2, 2, 2}, {1, 1, 1}}),
                    {"-background", "white"}, bytes({2, 2, 2, 1, 1, 1, 255, 255, 255})},
        OrderedCase{"ReducedMaskIsAccepted", ppmOf({{1, 1, 1}, {2, 2, 2}}), ppmOf({{2, 2, 2}, {1, 1, 1}}),
                    {}, bytes({1, 1, 1, 2, 2, 2}), makePgm(2, 1, 255, {0, 255})},
        // the grey index-width test is skipped: 17 grey levels take the file's palette
        OrderedCase{"GreyWithoutTheWidthTest", makePgm(17, 1, 255, greyRamp(17, 13)),
                    [] {
                        std::vector<Rgb> v;
                        for (int i = 16; i >= 0; --i) v.push_back({uint32_t(i * 13), uint32_t(i * 13), uint32_t(i * 13)});
                        return ppmOf(v);
                    }(),
                    {},
                    [] {
                        std::string s;
                        for (int i = 16; i >= 0; --i) s += bytes({unsigned(i * 13), unsigned(i * 13), unsigned(i * 13)});
                        return s;
                    }()},
        OrderedCase{"NotPpm", sixteenColours(), makePgm(16, 1, 255, greyRamp(16, 1)), {},
                    "rasterpack: ordered palette must be a PPM file, not type 20533\n"},
        OrderedCase{"PlainPbm", sixteenColours(), makePbm(16, 1, std::vector<int>(16, 0), true), {},
                    "rasterpack: ordered palette must be a PPM file, not type 20529\n"},
        OrderedCase{"TooManyPixels", sixteenColours(), makePpm(17, 16, 255, std::vector<Sample>(17 * 16 * 3, 0)), {},
                    "rasterpack: ordered-palette image contains 272 pixels.  Maximum is 256\n"},
        // the header alone is enough to refuse a large file
        OrderedCase{"TooManyPixelsWithoutRaster", sixteenColours(), "P6\n100000 100000\n255\n", {},
                    "rasterpack: ordered-palette image contains 10000000000 pixels.  Maximum is 256\n"},
        OrderedCase{"OneColourFewer", sixteenColours(), ppmOf(distinctColours(15)), {},
                    "rasterpack: sizes of ordered palette (15) and existing palette (16) differ\n"},
        OrderedCase{"OneColourMore", sixteenColours(), ppmOf(distinctColours(17)), {},
                    "rasterpack: sizes of ordered palette (17) and existing palette (16) differ\n"},
        OrderedCase{"RepeatedColour", ppmOf({{1, 1, 1}, {2, 2, 2}, {3, 3, 3}}),
                    ppmOf({{3, 3, 3}, {1, 1, 1}, {3, 3, 3}}), {},
                    "rasterpack: failed to find color (2, 2, 2), which is in the input image, in the ordered "
                    "palette\n"},
        OrderedCase{"OtherMaxvalScale", makePpm(2, 1, 15, {15, 0, 0, 0, 15, 0}),
                    ppmOf({{255, 0, 0}, {0, 255, 0}}), {},
                    "rasterpack: failed to find color (15, 0, 0), which is in the input image, in the ordered "
                    "palette\n"},
        OrderedCase{"TooManyImageColours", ppmOf(distinctColours(257)), ppmOf(distinctColours(3)), {},
                    "rasterpack: You specified -palette, but there are more than 256 colors in the image -- too "
                    "many for a colormapped PNG\n"},
        OrderedCase{"MaskInForce", ppmOf({{1, 1, 1}, {2, 2, 2}}), ppmOf({{2, 2, 2}, {1, 1, 1}}),
                    {},
                    "rasterpack: This program is not capable of generating a PNG with transparency when you "
                    "specify the palette with -palette.\n",
                    makePgm(2, 1, 255, {0, 128})}),
    orderedName);

TEST(OrderedPalette, IgnoredWherePalettesAreNotTried) {
    std::string bad = sideFile("bad.ppm", "not an image at all");
    for (const auto& c : {std::make_pair(std::vector<std::string>{}, makePbm(2, 1, {1, 0})),
                          std::make_pair(std::vector<std::string>{}, makePpm(1, 1, 1000, {1, 2, 3})),
                          std::make_pair(std::vector<std::string>{"-force"}, ppmOf(distinctColours(3)))}) {
        std::vector<std::string> args = c.first;
        args.insert(args.end(), {"-palette", bad});
        RunResult r = run(args, c.second);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
    }
}

TEST(OrderedPalette, VerboseReadsTheFile) {
    RunResult r = run({"-verbose", "-palette", sideFile("p.ppm", ppmOf({{2, 2, 2}, {1, 1, 1}}))},
                      ppmOf({{1, 1, 1}, {2, 2, 2}}));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("rasterpack: 2 colors found\n"
                         "rasterpack: reading ordered palette (colormap)...\n"
                         "rasterpack: 2 colors found\n"
                         "rasterpack: PNG palette has 2 entries, 0 of them non-opaque\n"),
              std::string::npos)
        << r.err;
}

// --- significant bits end to end ---------------------------------------------------------

struct NarrowCase {
    const char* name;
    std::string image;
    std::vector<std::string> args;
    int colorType, depth;
    std::string sbit;
    std::vector<uint32_t> samples;
    std::string mask = "";  // given with -alpha when not empty
};

class NarrowDepth : public testing::TestWithParam<NarrowCase> {};

TEST_P(NarrowDepth, WritesFewerBitsLosslessly) {
    const NarrowCase& c = GetParam();
    std::vector<std::string> args = c.args;
    if (!c.mask.empty()) {
        args.push_back("-alpha");
        args.push_back(sideFile("mask.pgm", c.mask));
    }
    RunResult r = run(args, c.image);
    ASSERT_EQ(r.status, 0) << r.err;
    PngHeader h = pngHeader(r.out);
    EXPECT_EQ(h.colorType, c.colorType);
    EXPECT_EQ(h.depth, c.depth);
    EXPECT_EQ(chunkData(pngChunks(r.out), "sBIT"), c.sbit);
    EXPECT_EQ(decodePng(r.out).samples, c.samples);
}

std::string narrowName(const testing::TestParamInfo<NarrowCase>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(
    Images, NarrowDepth,
    testing::Values(
        NarrowCase{"Colour16ByteCopies", makePpm(2, 1, 65535, {257, 514, 771, 0, 65535, 257}), {}, 2, 8,
                   bytes({8, 8, 8}), {1, 2, 3, 0, 255, 1}},
        NarrowCase{"Colour16OneSampleDiffers", makePpm(2, 1, 65535, {257, 514, 771, 0, 65535, 258}), {}, 2, 16, A,
                   {257, 514, 771, 0, 65535, 258}},
        NarrowCase{"Grey16ByteCopies", makePgm(2, 1, 65535, {257 * 9, 257 * 200}), {}, 0, 8, bytes({8}), {9, 200}},
        NarrowCase{"Grey16AllZero", makePgm(2, 1, 65535, {0, 0}), {}, 0, 1, bytes({1}), {0, 0}},
        NarrowCase{"Grey16WithMaskNotAnalysed", makePgm(2, 1, 65535, {257 * 9, 257 * 200}),
                   {}, 4, 16, bytes({16, 8}), {257 * 9, 32896, 257 * 200, 65535}, makePgm(2, 1, 255, {128, 255})},
        NarrowCase{"Colour16WithMaskAnalysed", makePpm(1, 1, 65535, {257, 514, 771}),
                   {}, 6, 8, bytes({8, 8, 8, 8}), {1, 2, 3, 128}, makePgm(1, 1, 255, {128})},
        NarrowCase{"ForcedKeeps16", makePpm(1, 1, 65535, {257, 514, 771}), {"-force"}, 2, 16, A, {257, 514, 771}}),
    narrowName);

}  // namespace
