// rasterunpack end to end: PNGs built chunk by chunk go in, the exact PNM
// bytes and report lines come out.
#include "pngbuilder.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <zlib.h>

using namespace testkit;

namespace {

RunResult run(const std::vector<std::string>& args, const std::string& png) {
    return runProgram(rasterunpackPath(), args, png);
}

std::string bytes8(std::initializer_list<unsigned> values) {
    std::string s;
    for (unsigned v : values) s += char(v);
    return s;
}

PngChunk plte(std::initializer_list<unsigned> rgb) { return {"PLTE", bytes8(rgb)}; }
PngChunk plte(const std::vector<uint32_t>& rgb) {
    std::string s;
    for (uint32_t v : rgb) s += char(v);
    return {"PLTE", s};
}
PngChunk trns8(std::initializer_list<unsigned> alphas) { return {"tRNS", bytes8(alphas)}; }
PngChunk trns16(std::initializer_list<unsigned> values) { return {"tRNS", bytes16(values)}; }
PngChunk sbit(std::initializer_list<unsigned> counts) { return {"sBIT", bytes8(counts)}; }
PngChunk gama(uint32_t scaled) { return {"gAMA", bytes32({scaled})}; }
PngChunk phys(uint32_t x, uint32_t y) { return {"pHYs", bytes32({x, y}) + '\1'}; }

PngRecipe image(uint32_t width, uint32_t height, int depth, int colorType, std::vector<uint32_t> samples,
              std::vector<PngChunk> chunks = {}, bool interlace = false) {
    PngRecipe s;
    s.width = width;
    s.height = height;
    s.depth = depth;
    s.colorType = colorType;
    s.samples = std::move(samples);
    s.beforeData = std::move(chunks);
    s.interlace = interlace;
    return s;
}

// Stands for a warning of libpng's own.
const std::string LIBPNG_WARNING = "*";

struct OutputCase {
    const char* name;
    PngRecipe png;
    std::vector<std::string> args;
    std::string pnm;
    std::string errLine;  // a line standard error must hold; empty: stderr must be empty
};

class Output : public testing::TestWithParam<OutputCase> {};

TEST_P(Output, ExactPnm) {
    const OutputCase& c = GetParam();
    RunResult r = run(c.args, buildPng(c.png));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, c.pnm);
    if (c.errLine.empty())
        EXPECT_EQ(r.err, "");
    else if (c.errLine == LIBPNG_WARNING)
        EXPECT_NE(r.err, "");  // the text is libpng's
    else
        EXPECT_NE(r.err.find("rasterunpack: " + c.errLine + "\n"), std::string::npos) << r.err;
}

// 0 is black in the PNG, 1 in the PBM: the pattern flips.
std::vector<uint32_t> pattern(size_t count, uint32_t modulus) {
    std::vector<uint32_t> v;
    for (size_t i = 0; i < count; ++i) v.push_back(uint32_t((i * 7 + i / 5) % modulus));
    return v;
}
const std::vector<uint32_t> BITS_11X9_PNG = pattern(99, 2);
const std::vector<uint32_t> BITS_11X9 = [] {
    std::vector<uint32_t> v;
    for (uint32_t b : BITS_11X9_PNG) v.push_back(1 - b);
    return v;
}();
const std::vector<uint32_t> INDEXES_7X5 = pattern(35, 16);
const std::vector<uint32_t> GREY_RAMP = [] {
    std::vector<uint32_t> v;
    for (uint32_t i = 0; i < 16; ++i) v.insert(v.end(), {i * 17, i * 17, i * 17});
    return v;
}();
const std::vector<Sample> RAMP_7X5 = [] {
    std::vector<Sample> v;
    for (uint32_t i : INDEXES_7X5) v.push_back(i * 17);
    return v;
}();
const std::vector<uint32_t> THREE_COLOURS = {10, 100, 200, 50, 60, 70, 255, 0, 128};
const std::vector<uint32_t> RGBA_PIXELS = {200, 10, 0, 128, 200, 10, 0, 255, 200, 10, 0, 0};

INSTANTIATE_TEST_SUITE_P(
    Pngs, Output,
    testing::Values(
        // 0 is black: a PBM 1 bit
        OutputCase{"Grey1", image(3, 2, 1, 0, {0, 1, 0, 1, 1, 0}), {}, makePbm(3, 2, {1, 0, 1, 0, 0, 1}), ""},
        OutputCase{"Grey2", image(5, 1, 2, 0, {0, 1, 2, 3, 1}), {}, makePgm(5, 1, 3, {0, 1, 2, 3, 1}), ""},
        OutputCase{"Grey4", image(3, 1, 4, 0, {0, 9, 15}), {}, makePgm(3, 1, 15, {0, 9, 15}), ""},
        OutputCase{"Grey8", image(2, 1, 8, 0, {7, 250}), {}, makePgm(2, 1, 255, {7, 250}), ""},
        OutputCase{"Grey16", image(2, 1, 16, 0, {258, 65535}), {}, makePgm(2, 1, 65535, {258, 65535}), ""},
        OutputCase{"Rgb8", image(2, 1, 8, 2, {1, 2, 3, 4, 5, 6}), {}, makePpm(2, 1, 255, {1, 2, 3, 4, 5, 6}), ""},
        OutputCase{"Rgb16", image(1, 1, 16, 2, {1, 300, 65535}), {}, makePpm(1, 1, 65535, {1, 300, 65535}), ""},
        OutputCase{"PaletteGrey4Bit", image(3, 1, 4, 3, {1, 0, 1}, {plte({0, 0, 0, 90, 90, 90})}), {},
                   makePgm(3, 1, 255, {90, 0, 90}), ""},
        OutputCase{"PaletteColour2Bit", image(3, 1, 2, 3, {1, 0, 2}, {plte({0, 0, 0, 90, 90, 90, 1, 2, 3})}), {},
                   makePpm(3, 1, 255, {90, 90, 90, 0, 0, 0, 1, 2, 3}), ""},
        // An index past the palette reads as black.
        OutputCase{"PaletteIndexBeyondPalette", image(2, 1, 8, 3, {1, 7}, {plte({0, 0, 0, 9, 8, 7})}), {},
                   makePpm(2, 1, 255, {9, 8, 7, 0, 0, 0}), ""},
        OutputCase{"GreyAlphaDropsAlpha", image(2, 1, 8, 4, {7, 0, 8, 255}), {}, makePgm(2, 1, 255, {7, 8}), ""},
        OutputCase{"GreyAlphaAlpha", image(2, 1, 8, 4, {7, 0, 8, 200}), {"-alpha"}, makePgm(2, 1, 255, {0, 200}),
                   ""},
        OutputCase{"Rgba16Alpha", image(1, 1, 16, 6, {1, 2, 3, 4660}), {"-alpha"}, makePgm(1, 1, 65535, {4660}), ""},
        OutputCase{"RgbaMixOnWhite", image(3, 1, 8, 6, RGBA_PIXELS), {"-mix"},
                   makePpm(3, 1, 255, {227, 132, 127, 200, 10, 0, 255, 255, 255}), ""},
        OutputCase{"RgbaMixOnBkgd", image(3, 1, 8, 6, RGBA_PIXELS, {{"bKGD", bytes16({50, 0, 250})}}), {"-mix"},
                   makePpm(3, 1, 255, {125, 5, 124, 200, 10, 0, 50, 0, 250}), ""},
        OutputCase{"RgbaMixOnGivenBackground", image(3, 1, 8, 6, RGBA_PIXELS, {{"bKGD", bytes16({50, 0, 250})}}),
                   {"-mix", "-background", "#000000"}, makePpm(3, 1, 255, {100, 5, 0, 200, 10, 0, 0, 0, 0}), ""},
        OutputCase{"GreyTrnsAlphaIsBitmap", image(3, 1, 8, 0, {5, 6, 5}, {trns16({5})}), {"-alpha"},
                   makePbm(3, 1, {1, 0, 1}), ""},
        OutputCase{"GreyTrnsMix", image(2, 1, 8, 0, {5, 6}, {trns16({5})}), {"-mix", "-background", "#404040"},
                   makePgm(2, 1, 255, {64, 6}), ""},
        OutputCase{"RgbTrnsMix", image(2, 1, 16, 2, {1, 2, 3, 1, 2, 4}, {trns16({1, 2, 3})}),
                   {"-mix", "-background", "#ffff00000000"}, makePpm(2, 1, 65535, {65535, 0, 0, 1, 2, 4}), ""},
        OutputCase{"PaletteTwoLevelAlpha", image(3, 1, 8, 3, {0, 1, 2}, {plte({1, 1, 1, 2, 2, 2, 3, 3, 3}),
                                                                            trns8({0, 255})}),
                   {"-alpha"}, makePbm(3, 1, {1, 0, 0}), ""},
        OutputCase{"PalettePartialAlpha", image(3, 1, 8, 3, {0, 1, 2}, {plte({1, 1, 1, 2, 2, 2, 3, 3, 3}),
                                                                           trns8({0, 128})}),
                   {"-alpha"}, makePgm(3, 1, 255, {0, 128, 255}), ""},
        OutputCase{"RgbSbit555", image(1, 1, 8, 2, {0xff, 0x80, 0x08}, {sbit({5, 5, 5})}), {},
                   makePpm(1, 1, 31, {31, 16, 1}), ""},
        OutputCase{"RgbSbit565", image(1, 1, 8, 2, {0xff, 0x80, 0x08}, {sbit({5, 6, 5})}), {},
                   makePpm(1, 1, 255, {0xff, 0x80, 0x08}), "writing file with 8 bit resolution"},
        OutputCase{"RgbSbit565MixStaysWithinMaxval", image(1, 1, 8, 2, {0xff, 0xff, 0x08}, {sbit({5, 6, 5})}),
                   {"-mix"}, makePpm(1, 1, 31, {31, 31, 1}), ""},
        OutputCase{"Grey4Sbit2", image(3, 1, 4, 0, {15, 4, 3}, {sbit({2})}), {}, makePgm(3, 1, 3, {3, 1, 0}), ""},
        OutputCase{"PaletteSbit4", image(2, 1, 8, 3, {0, 1}, {sbit({4, 4, 4}), plte({0xff, 0x80, 0x10, 0, 0, 0})}),
                   {}, makePpm(2, 1, 15, {15, 8, 1, 0, 0, 0}), ""},
        // Under -mix the palette alpha comes to the lowered scale with the colours.
        OutputCase{"PaletteSbit4Mix", image(2, 1, 8, 3, {0, 1}, {sbit({4, 4, 4}), plte({0xff, 0x80, 0x10, 0, 0, 0}),
                                                                 trns8({255, 0})}),
                   {"-mix", "-background", "#ff0000"}, makePpm(2, 1, 15, {15, 8, 1, 15, 0, 0}), ""},
        OutputCase{"GreySbitAndTrnsMix", image(2, 1, 8, 0, {0xf3, 0x53}, {sbit({4}), trns16({0xf3})}),
                   {"-mix", "-background", "#000000"}, makePgm(2, 1, 15, {0, 5}), ""},
        OutputCase{"AlphaSbit1", image(2, 1, 8, 4, {9, 0, 9, 255}, {sbit({8, 1})}), {"-alpha"},
                   makePbm(2, 1, {1, 0}), ""},
        // libpng drops an sBIT with a zero count; nothing is shifted.
        OutputCase{"SbitZeroIgnored", image(1, 1, 8, 0, {200}, {sbit({0})}), {}, makePgm(1, 1, 255, {200}), "*"},
        OutputCase{"GammaWinsOverSbit", image(2, 1, 8, 0, {128, 64}, {sbit({4})}), {"-gamma", "2.2"},
                   makePgm(2, 1, 255, {186, 136}), ""},
        OutputCase{"GammaPalette", image(2, 1, 8, 3, {0, 1}, {plte({128, 64, 255, 0, 0, 0})}), {"-gamma", "2.2"},
                   makePpm(2, 1, 255, {186, 136, 255, 0, 0, 0}), ""},
        // Samples and palette entries take one gamma, read as the number
        // given: libpng read 128 as fixed point and left 1.02 undone.
        OutputCase{"Gamma128Truecolour", image(3, 1, 8, 2, THREE_COLOURS, {gama(45455)}), {"-gamma", "128"},
                   makePpm(3, 1, 255, {241, 251, 254, 248, 249, 249, 255, 0, 252}), ""},
        OutputCase{"Gamma128Palette", image(3, 1, 8, 3, {0, 1, 2}, {gama(45455), plte(THREE_COLOURS)}),
                   {"-gamma", "128"}, makePpm(3, 1, 255, {241, 251, 254, 248, 249, 249, 255, 0, 252}), ""},
        OutputCase{"Gamma102Truecolour", image(3, 1, 8, 2, THREE_COLOURS), {"-gamma", "1.02"},
                   makePpm(3, 1, 255, {11, 102, 201, 52, 62, 72, 255, 0, 130}), ""},
        OutputCase{"Gamma102Palette", image(3, 1, 8, 3, {0, 1, 2}, {plte(THREE_COLOURS)}), {"-gamma", "1.02"},
                   makePpm(3, 1, 255, {11, 102, 201, 52, 62, 72, 255, 0, 130}), ""},
        // The tRNS grey is compared with the samples as stored: 253 is not
        // transparent although the correction takes it where 252 goes.
        OutputCase{"GammaTrnsGrey", image(4, 1, 8, 0, {250, 251, 252, 253}, {trns16({252})}),
                   {"-gamma", "2.2", "-alpha"}, makePbm(4, 1, {0, 0, 1, 0}), ""},
        // 17 differs from the tRNS colour only in bits sBIT marks
        // insignificant: it stays opaque under -mix as under -alpha.
        OutputCase{"SbitTrnsMix", image(3, 1, 8, 2, {16, 16, 16, 17, 17, 17, 200, 200, 200},
                                        {sbit({4, 4, 4}), trns16({16, 16, 16})}),
                   {"-mix"}, makePpm(3, 1, 15, {15, 15, 15, 1, 1, 1, 12, 12, 12}), ""},
        OutputCase{"SbitTrnsAlpha", image(3, 1, 8, 2, {16, 16, 16, 17, 17, 17, 200, 200, 200},
                                          {sbit({4, 4, 4}), trns16({16, 16, 16})}),
                   {"-alpha"}, makePbm(3, 1, {1, 0, 0}), ""},
        OutputCase{"GammaEqualToFile", image(1, 1, 8, 0, {128}, {gama(50000)}), {"-gamma", "0.5"},
                   makePgm(1, 1, 255, {128}), ""},
        OutputCase{"GammaZeroWithoutGama", image(1, 1, 8, 0, {128}), {"-gamma", "0"}, makePgm(1, 1, 255, {128}), ""},
        OutputCase{"PhysWide", image(1, 1, 8, 0, {1}, {phys(2, 1)}), {}, makePgm(1, 1, 255, {1}),
                   "warning - non-square pixels; to fix do a 'rasterresize -yscale 2'"},
        OutputCase{"PhysTall", image(1, 1, 8, 0, {1}, {phys(3, 6)}), {}, makePgm(1, 1, 255, {1}),
                   "warning - non-square pixels; to fix do a 'rasterresize -xscale 2'"},
        OutputCase{"PhysZeroDensityDown", image(1, 1, 8, 0, {1}, {phys(5, 0)}), {}, makePgm(1, 1, 255, {1}), ""},
        OutputCase{"PhysZeroDensityAcross", image(1, 1, 8, 0, {1}, {phys(0, 5)}), {}, makePgm(1, 1, 255, {1}), ""},
        OutputCase{"PhysSquare", image(1, 1, 8, 0, {1}, {phys(7, 7)}), {}, makePgm(1, 1, 255, {1}), ""},
        OutputCase{"InterlacedGrey2", image(9, 9, 2, 0, std::vector<uint32_t>(81, 2), {}, true), {},
                   makePgm(9, 9, 3, std::vector<Sample>(81, 2)), ""},
        // Packed rows: each pass merges its pixels into bytes an earlier one wrote.
        OutputCase{"InterlacedGrey1", image(11, 9, 1, 0, BITS_11X9_PNG, {}, true), {},
                   makePbm(11, 9, std::vector<int>(BITS_11X9.begin(), BITS_11X9.end())), ""},
        OutputCase{"InterlacedPalette4", image(7, 5, 4, 3, INDEXES_7X5, {plte(GREY_RAMP)}, true), {},
                   makePgm(7, 5, 255, RAMP_7X5), ""},
        OutputCase{"InterlacedNarrow", image(1, 5, 16, 4, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, {}, true), {"-alpha"},
                   makePgm(1, 5, 65535, {2, 4, 6, 8, 10}), ""}),
    [](const testing::TestParamInfo<OutputCase>& info) { return info.param.name; });

TEST(Reports, VerboseLinesInOrder) {
    PngRecipe s = image(2, 1, 8, 0, {128, 64}, {gama(45455), {"bKGD", bytes16({77})}}, true);
    s.afterData.push_back({"tIME", bytes16({2003}) + bytes8({12, 5, 14, 3, 9})});
    s.beforeData.push_back(phys(2, 1));
    RunResult r = run({"-verbose", "-gamma", "2.2", "-time"}, buildPng(s));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err,
              "rasterunpack: reading a 2w x 1h image, 8 bits gray, image gamma = 0.45, Adam7 interlaced\n"
              "rasterunpack: background {index, gray, red, green, blue} = {0, 77, 77, 77, 77}\n"
              "rasterunpack: image gamma is 0.45, converted for display gamma of 2.20\n"
              "rasterunpack: modification time: 05 December 2003 14:03:09\n"
              "rasterunpack: warning - non-square pixels; to fix do a 'rasterresize -yscale 2'\n"
              "rasterunpack: writing a PGM file (maxval=255)\n");
}

TEST(Reports, SignificantBitsLine) {
    RunResult r = run({"-verbose"}, buildPng(image(1, 1, 8, 2, {8, 8, 8}, {sbit({5, 5, 5})})));
    EXPECT_NE(r.err.find("rasterunpack: image has fewer significant bits, writing file with 5 bits per channel\n"),
              std::string::npos)
        << r.err;
}

TEST(Reports, TimeOnlyWhenAskedAndPresent) {
    PngRecipe s = image(1, 1, 8, 0, {1});
    RunResult without = run({"-time"}, buildPng(s));
    EXPECT_EQ(without.err, "");
    s.beforeData.push_back({"tIME", bytes16({1999}) + bytes8({1, 31, 0, 0, 60})});
    EXPECT_EQ(run({}, buildPng(s)).err, "");
    EXPECT_EQ(run({"-time"}, buildPng(s)).err, "rasterunpack: modification time: 31 January 1999 00:00:60\n");
}

std::string zTxt(const std::string& key, const std::string& text) {
    uLongf size = compressBound(uLong(text.size()));
    std::string z(size, '\0');
    compress2(reinterpret_cast<Bytef*>(&z[0]), &size, reinterpret_cast<const Bytef*>(text.data()), uLong(text.size()),
              1);
    z.resize(size);
    return key + std::string("\0\0", 2) + z;
}

TEST(Reports, TextFromBothSidesOfTheImageDataInFileOrder) {
    std::string dir = scratchDir();
    PngRecipe s = image(1, 1, 8, 0, {1}, {{"tEXt", std::string("Title\0Sunset", 12)}});
    s.beforeData.push_back({"iTXt", std::string("Author\0\1\0en\0Autor\0", 18) + zTxt("", "Ann").substr(2)});
    s.afterData.push_back({"zTXt", zTxt("Comment", "first\nsecond")});
    s.afterData.push_back({"tEXt", std::string("Creation Time\0" "2003", 18)});
    RunResult r = run({"-text", dir + "/dump.txt"}, buildPng(s));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readFile(dir + "/dump.txt"),
              "Title           Sunset\n"
              "Author          Ann\n"
              "Comment         first\n"
              "                second\n"
              "\"Creation Time\" 2003\n");
}

// A chunk of text is what it holds: a damaged one is not dumped.
TEST(Reports, TextChunkWithAWrongCrcIsLeftOut) {
    std::string dir = scratchDir();
    std::string png = buildPng(image(1, 1, 8, 0, {1}, {{"tEXt", std::string("Bad\0crc", 7)},
                                                        {"tEXt", std::string("Good\0crc", 8)}}));
    png[png.find("Bad") + 7] ^= 1;  // the first byte of its CRC
    RunResult r = run({"-text", dir + "/dump.txt"}, png);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readFile(dir + "/dump.txt"), "Good            crc\n");
}

// Text chunks together hold at most 64 MiB of text and number at most
// 1000; a chunk beyond is skipped with a warning and the run goes on.
TEST(Reports, TextBeyondTheBudgetIsSkipped) {
    std::string dir = scratchDir();
    std::string forty(40 << 20, 'A');
    std::string z = zTxt("", forty).substr(2);
    PngRecipe s = image(1, 1, 8, 0, {1}, {{"zTXt", std::string("First\0\0", 7) + z},
                                         {"zTXt", std::string("Second\0\0", 8) + z}});
    s.afterData.push_back({"tEXt", std::string("After\0fits", 10)});
    RunResult r = run({"-text", dir + "/dump.txt"}, buildPng(s));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, makePgm(1, 1, 255, {1}));
    EXPECT_EQ(r.err, "rasterunpack: warning - zTXt chunk skipped: the text chunks would hold more than 64 MiB\n");
    EXPECT_EQ(readFile(dir + "/dump.txt"), "First           " + forty + "\nAfter           fits\n");
}

TEST(Reports, TextChunksBeyondTheThousandthAreSkipped) {
    std::string dir = scratchDir();
    PngRecipe s = image(1, 1, 8, 0, {1});
    s.afterData.assign(1001, PngChunk{"tEXt", std::string("K\0v", 3)});
    RunResult r = run({"-text", dir + "/dump.txt"}, buildPng(s));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "rasterunpack: warning - text chunks after the first 1000 skipped\n");
    EXPECT_EQ(countLines(readFile(dir + "/dump.txt")), 1000);
}

// A valid tEXt chunk over 64 MiB is skipped with libpng's warning, like a
// zTXt or unknown chunk of that size, and the chunks after it are read.
TEST(Reports, TextChunkOverTheAllocationLimitIsSkipped) {
    std::string dir = scratchDir();
    PngRecipe s = image(1, 1, 8, 0, {7}, {{"tEXt", "Big" + std::string(1, '\0') + std::string((64 << 20) + 1, 'x')},
                                         {"tEXt", std::string("After\0fine", 10)}});
    std::string path = dir + "/big.png";
    writeFile(path, buildPng(s));
    for (bool text : {false, true}) {
        std::vector<std::string> args{path};
        if (text) args.insert(args.begin(), {"-text", dir + "/dump.txt"});
        RunResult r = run(args, "");
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, makePgm(1, 1, 255, {7}));
        EXPECT_NE(r.err.find("libpng warning: tEXt: chunk data is too large\n"), std::string::npos) << r.err;
        if (text) {
            EXPECT_EQ(readFile(dir + "/dump.txt"), "After           fine\n");
        }
    }
}

TEST(Reports, TextDumpReadsBackThroughRasterpack) {
    std::string dir = scratchDir();
    std::string text = "line one\nindented\n";
    PngRecipe s = image(1, 1, 8, 0, {1}, {{"tEXt", std::string("Title\0Sunset", 12)},
                                        {"tEXt", "Two words" + std::string(1, '\0') + "x  "},
                                        {"tEXt", "Long" + std::string(1, '\0') + text}});
    ASSERT_EQ(run({"-text", dir + "/first.txt"}, buildPng(s)).status, 0);
    RunResult packed = runProgram(rasterpackPath(), {"-text", dir + "/first.txt"}, makePgm(1, 1, 255, {1}));
    ASSERT_EQ(packed.status, 0) << packed.err;
    std::vector<PngChunk> chunks = pngChunks(packed.out);
    std::vector<std::string> texts;
    for (const PngChunk& c : chunks)
        if (c.type == "tEXt") texts.push_back(c.data);
    // The reader drops leading blanks of each line; everything else survives.
    EXPECT_EQ(texts, (std::vector<std::string>{std::string("Title\0Sunset", 12), std::string("Two words\0x  ", 13),
                                               std::string("Long\0line one\nindented\n", 23)}));
    ASSERT_EQ(run({"-text", dir + "/second.txt"}, packed.out).status, 0);
    EXPECT_EQ(readFile(dir + "/second.txt"), readFile(dir + "/first.txt"));
}

}  // namespace
