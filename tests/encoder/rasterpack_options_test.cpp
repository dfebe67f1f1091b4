// rasterpack's command line, run end to end.
#include "pngtestkit.h"
#include "programs.h"
#include "testsupport.h"

#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <ostream>

using namespace testkit;

namespace {

const char* const USAGE =
    "usage: rasterpack [-verbose] [-downscale] [-interlace] [-force] [-alpha file] ...\n"
    "             ... [-transparent color] [-background color] [-gamma value] ...\n"
    "             ... [-hist] [-chroma wx wy rx ry gx gy bx by] [-phys x y unit] ...\n"
    "             ... [-text file] [-ztxt file] [-time [yy]yy-mm-dd hh:mm:ss] ...\n"
    "             ... [-palette file] [-filter 0..4] [-compression 0..9] ...\n"
    "             ... [-threads n] [-optimize | -optimizemax] [pnmfile]\n";

std::string versionReport() {
    return std::string("rasterpack version 2.37.6 (21 July 2001) +orrim.\n") + "   Compiled with libpng " +
           PNG_LIBPNG_VER_STRING + ".\n" + "   Compiled with zlib " + ZLIB_VERSION + "; using zlib " + zlibVersion() +
           ".\n" + "   Compiled with 16-bit orrim support (PPM_OVERALLMAXVAL = 65535).\n" + "\n";
}

// 16-bit samples: no palette is tried, so no colour count is reported.
std::string greyImage() { return makePgm(3, 2, 65535, {0, 10, 20, 30, 40, 50}); }
std::string colorImage() { return makePpm(2, 2, 255, {255, 0, 0, 0, 255, 0, 0, 0, 255, 9, 9, 9}); }
// 17 grey levels: too many for a grey palette.
std::string greyLookingColorImage() {
    std::vector<Sample> rgb;
    for (Sample v = 0; v < 17; ++v) rgb.insert(rgb.end(), {v * 15, v * 15, v * 15});
    return makePpm(17, 1, 255, rgb);
}

RunResult run(const std::vector<std::string>& args, const std::string& input) {
    return runInProcess(RASTERPACK, args, input);
}

// --- unknown options ---------------------------------------------------------

class UnknownOption : public testing::TestWithParam<const char*> {};

TEST_P(UnknownOption, ReportsVersionAndStillConverts) {
    RunResult r = run({GetParam()}, greyImage());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, versionReport());
    DecodedPng png = decodePng(r.out);
    ASSERT_TRUE(png.ok);
    EXPECT_EQ(png.samples, (std::vector<uint32_t>{0, 10, 20, 30, 40, 50}));
}

// Abbreviations shorter than every matching keyword's minimum, and strangers.
INSTANTIATE_TEST_SUITE_P(TooShortOrUnknown, UnknownOption,
                         testing::Values("-c", "-f", "-p", "-t", "-x", "-verbosely", "-gammas"));

TEST(Options, UnknownOptionBeforeFileNameKeepsScanning) {
    std::string dir = scratchDir();
    writeFile(dir + "/in.pgm", greyImage());
    RunResult r = run({"-zz", "-in", dir + "/in.pgm"}, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, versionReport());
    EXPECT_EQ(pngHeader(r.out).interlace, 1);
}

// --- abbreviations -------------------------------------------------------------

struct AbbreviationCase {
    std::vector<std::string> args;
    std::string chunk;  // a chunk the option makes appear
};

void PrintTo(const AbbreviationCase& c, std::ostream* os) {
    for (const std::string& a : c.args) *os << a << ' ';
}

class Abbreviation : public testing::TestWithParam<AbbreviationCase> {};

TEST_P(Abbreviation, MatchesAtItsMinimumLength) {
    RunResult r = run(GetParam().args, colorImage());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find("version"), std::string::npos) << r.err;
    EXPECT_EQ(countChunks(pngChunks(r.out), GetParam().chunk), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Keywords, Abbreviation,
    testing::Values(AbbreviationCase{{"-g", "1"}, "gAMA"}, AbbreviationCase{{"-gamma", "1"}, "gAMA"},
                    AbbreviationCase{{"-ch", "0.3127", "0.329", "0.64", "0.33", "0.3", "0.6", "0.15", "0.06"}, "cHRM"},
                    AbbreviationCase{{"-ph", "1", "1", "0"}, "pHYs"},
                    AbbreviationCase{{"-tr", "#ff0000"}, "tRNS"}, AbbreviationCase{{"-b", "#ff0000"}, "bKGD"},
                    AbbreviationCase{{"-ti", "2003-01-02", "03:04:05"}, "tIME"},
                    AbbreviationCase{{"-time", "2003-01-02", "03:04:05"}, "tIME"},
                    AbbreviationCase{{"-fi", "0", "-co", "9"}, "IDAT"},
                    AbbreviationCase{{"-th", "2", "-op"}, "IDAT"}, AbbreviationCase{{"-o"}, "IDAT"}));

TEST(Options, ShortestInterlaceAndVerbose) {
    RunResult r = run({"-v", "-i"}, greyImage());
    ASSERT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("rasterpack: reading a PGM file (maxval=65535)\n"), std::string::npos) << r.err;
    EXPECT_EQ(pngHeader(r.out).interlace, 1);
}

TEST(Options, ForceKeepsAGreyColourImageInRgb) {
    EXPECT_EQ(pngHeader(run({}, greyLookingColorImage()).out).colorType, 0);
    EXPECT_EQ(pngHeader(run({"-fo"}, greyLookingColorImage()).out).colorType, 2);
}

TEST(Options, PaletteAndTextOptionsOpenTheirFiles) {
    for (const char* option : {"-pa", "-te", "-z", "-a"}) {
        RunResult r = run({option, "/nonexistent/side-file"}, greyImage());
        EXPECT_NE(r.status, 0) << option;
        EXPECT_NE(r.err.find("/nonexistent/side-file"), std::string::npos) << option << ": " << r.err;
        EXPECT_TRUE(r.out.empty());
    }
}

TEST(Options, RepeatedOptionKeepsTheLastValue) {
    RunResult r = run({"-gamma", "2", "-gamma", "1"}, greyImage());
    EXPECT_EQ(chunkData(pngChunks(r.out), "gAMA"), bytes32({100000}));
}

// --- file names -------------------------------------------------------------------

TEST(Options, LoneDashIsStandardInput) {
    RunResult r = run({"-"}, greyImage());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(decodePng(r.out).ok);
    r = run({"-v", "-"}, greyImage());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err.find("version"), std::string::npos);
}

TEST(Options, StrayArgumentGivesUsage) {
    std::string dir = scratchDir();
    writeFile(dir + "/in.pgm", greyImage());
    RunResult r = run({dir + "/in.pgm", "extra"}, "");
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(r.err, USAGE);
    EXPECT_TRUE(r.out.empty());
}

// Options end at the file name: one after it is a stray argument.
TEST(Options, OptionAfterTheFileNameGivesUsage) {
    std::string dir = scratchDir();
    writeFile(dir + "/in.pgm", greyImage());
    for (auto args : {std::vector<std::string>{dir + "/in.pgm", "-verbose"}, std::vector<std::string>{"-", "-i"}}) {
        RunResult r = run(args, greyImage());
        EXPECT_NE(r.status, 0);
        EXPECT_EQ(r.err, USAGE);
        EXPECT_TRUE(r.out.empty());
    }
}

TEST(Options, InputIsOpenedBeforeTheStrayArgumentTest) {
    RunResult r = run({"/nonexistent/in.pgm", "extra"}, "");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("/nonexistent/in.pgm"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("usage"), std::string::npos);
}

class MissingValue : public testing::TestWithParam<std::vector<std::string>> {};

TEST_P(MissingValue, GivesUsage) {
    RunResult r = run(GetParam(), greyImage());
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(r.err, USAGE);
    EXPECT_TRUE(r.out.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Options, MissingValue,
    testing::Values(std::vector<std::string>{"-alpha"}, std::vector<std::string>{"-transparent"},
                    std::vector<std::string>{"-background"}, std::vector<std::string>{"-gamma"},
                    std::vector<std::string>{"-chroma", "1", "2", "3", "4", "5", "6", "7"},
                    std::vector<std::string>{"-phys", "1", "2"}, std::vector<std::string>{"-text"},
                    std::vector<std::string>{"-ztxt"}, std::vector<std::string>{"-time", "2003-01-02"},
                    std::vector<std::string>{"-palette"}, std::vector<std::string>{"-filter"},
                    std::vector<std::string>{"-compression"}, std::vector<std::string>{"-threads"}));

// --- -alpha with -transparent ------------------------------------------------------

TEST(Options, AlphaAndTransparentExcludeEachOtherInEitherOrder) {
    std::string dir = scratchDir();
    writeFile(dir + "/mask.pgm", makePgm(3, 2, 255, {0, 0, 0, 255, 255, 255}));
    // The clash is found at the second option, before its value is looked for.
    for (auto args : {std::vector<std::string>{"-alpha", dir + "/mask.pgm", "-transparent", "red"},
                      std::vector<std::string>{"-transparent", "red", "-alpha", dir + "/mask.pgm"},
                      std::vector<std::string>{"-alpha", dir + "/mask.pgm", "-tr"},
                      std::vector<std::string>{"-transparent", "red", "-a"}}) {
        RunResult r = run(args, greyImage());
        EXPECT_NE(r.status, 0);
        EXPECT_EQ(r.err, "rasterpack: -alpha and -transparent are mutually exclusive\n");
        EXPECT_TRUE(r.out.empty());
    }
}

// --- -filter and -compression ranges --------------------------------------------------

struct RangeCase {
    const char* option;
    const char* value;
    bool accepted;
    const char* message = nullptr;  // null: the option's range message
};

const char* const NOT_WHOLE = "not a whole number";

void PrintTo(const RangeCase& c, std::ostream* os) { *os << c.option << ' ' << c.value; }

class OptionRange : public testing::TestWithParam<RangeCase> {};

TEST_P(OptionRange, AcceptsOnlyItsRange) {
    const RangeCase& c = GetParam();
    RunResult r = run({c.option, c.value}, greyImage());
    if (c.accepted) {
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(decodePng(r.out).ok);
        return;
    }
    std::string option = c.option;
    std::string message =
        c.message                  ? "rasterpack: " + option + ": '" + c.value + "' is " + c.message + "\n"
        : option == "-filter"      ? "rasterpack: filter must be 0 (none), 1 (sub), 2 (up), 3 (avg) or 4 (paeth)\n"
        : option == "-compression" ? "rasterpack: zlib compression must be between 0 (none) and 9 (max)\n"
                                   : "rasterpack: threads must be between 1 and 256, or 0 for one per available core\n";
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(r.err, message + USAGE);
    EXPECT_TRUE(r.out.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Values, OptionRange,
    testing::Values(RangeCase{"-filter", "-1", false}, RangeCase{"-filter", "5", false},
                    RangeCase{"-filter", "none", false}, RangeCase{"-filter", "0", true},
                    // beyond int: must not wrap around into the range
                    RangeCase{"-filter", "4294967296", false}, RangeCase{"-filter", "-4294967295", false},
                    RangeCase{"-compression", "4294967305", false},
                    RangeCase{"-compression", "99999999999999999999", false},
                    RangeCase{"-filter", "4", true}, RangeCase{"-compression", "-1", false},
                    RangeCase{"-compression", "10", false}, RangeCase{"-compression", "max", false},
                    RangeCase{"-compression", "0", true}, RangeCase{"-compression", "9", true},
                    RangeCase{"-threads", "-1", false}, RangeCase{"-threads", "257", false},
                    RangeCase{"-threads", "4294967298", false}, RangeCase{"-threads", "0", true},
                    RangeCase{"-threads", "1", true}, RangeCase{"-threads", "+2", true},
                    RangeCase{"-threads", "256", true}, RangeCase{"-thr", "3", true},
                    // -threads takes a whole number and nothing else
                    RangeCase{"-threads", "two", false, NOT_WHOLE}, RangeCase{"-threads", "2x", false, NOT_WHOLE},
                    RangeCase{"-threads", "1.5", false, NOT_WHOLE}, RangeCase{"-threads", "1e3", false, NOT_WHOLE},
                    RangeCase{"-threads", " 2", false, NOT_WHOLE}, RangeCase{"-threads", "", false, NOT_WHOLE},
                    RangeCase{"-threads", "-", false, NOT_WHOLE}, RangeCase{"-threads", "3 ", false, NOT_WHOLE}));

class FilterChoice : public testing::TestWithParam<int> {};

// Every row carries the one filter type asked for.
TEST_P(FilterChoice, EveryRowUsesIt) {
    std::vector<Sample> rgb;
    for (int i = 0; i < 8 * 6 * 3; ++i) rgb.push_back(Sample((i * 37) % 256));
    // -force: a palette would take these 48 colours
    RunResult r = run({"-force", "-filter", std::to_string(GetParam())}, makePpm(8, 6, 255, rgb));
    ASSERT_EQ(r.status, 0);
    std::string raw = inflatedImageData(r.out);
    const size_t stride = 1 + 8 * 3;
    ASSERT_EQ(raw.size(), stride * 6);
    for (size_t y = 0; y < 6; ++y) EXPECT_EQ(int(raw[y * stride]), GetParam()) << "row " << y;
    DecodedPng png = decodePng(r.out);
    ASSERT_TRUE(png.ok);
    EXPECT_EQ(png.samples, std::vector<uint32_t>(rgb.begin(), rgb.end()));
}

INSTANTIATE_TEST_SUITE_P(Types, FilterChoice, testing::Values(0, 1, 2, 3, 4));

// The zlib header's level field: 0 for levels 0-1, 1 for 2-5, 2 for 6, 3 for 7-9.
int zlibLevelField(const std::string& png) {
    for (const PngChunk& c : pngChunks(png))
        if (c.type == "IDAT") return (uint8_t(c.data[1]) >> 6) & 3;
    return -1;
}

TEST(Options, CompressionLevelReachesZlib) {
    EXPECT_EQ(zlibLevelField(run({"-compression", "0"}, greyImage()).out), 0);
    EXPECT_EQ(zlibLevelField(run({"-compression", "3"}, greyImage()).out), 1);
    EXPECT_EQ(zlibLevelField(run({"-compression", "9"}, greyImage()).out), 3);
    EXPECT_EQ(zlibLevelField(run({}, greyImage()).out), 2);  // libpng's default, level 6
}

}  // namespace
