// End-to-end runs of the built huecut.
#include "colorsearch.h"
#include "quanttest.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>

using namespace testkit;


namespace {

const std::string HUECUT = HUECUT_PATH;

RunResult runHuecut(const std::vector<std::string>& args, const std::string& input = "") {
    return runProgram(HUECUT, args, input);
}

std::string messageLine(const std::string& text) { return "huecut: " + text + "\n"; }

bool hasLine(const std::string& err, const std::string& text) {
    return err.find(messageLine(text)) != std::string::npos;
}

TestImage solid(int cols, int rows, Sample maxval, Pixel color) {
    TestImage image;
    image.cols = cols, image.rows = rows, image.maxval = maxval;
    image.pixels.assign((size_t)cols * rows, color);
    return image;
}

// A map image whose raster lists the given colours once each, in order.
std::string mapImage(const std::vector<Pixel>& colors, Sample maxval) {
    TestImage image;
    image.cols = (int)colors.size(), image.rows = 1, image.maxval = maxval;
    image.pixels = colors;
    return toPpm(image);
}

}  // namespace

// ---------------------------------------------------------------------------
// Argument errors

struct ArgumentCase {
    std::vector<std::string> args;
    std::string message;
};

static void PrintTo(const ArgumentCase& c, std::ostream* os) {
    *os << "huecut";
    for (const std::string& a : c.args) *os << " '" << a << "'";
}

class ArgumentErrors : public testing::TestWithParam<ArgumentCase> {};

TEST_P(ArgumentErrors, FailWithTheirMessage) {
    const ArgumentCase& c = GetParam();
    std::string dir = scratchDir();
    writeFile(dir + "/in.ppm", toPpm(solid(2, 2, 255, Pixel{1, 2, 3})));
    writeFile(dir + "/map.ppm", mapImage({{0, 0, 0}, {9, 9, 9}}, 255));
    writeFile(dir + "/empty.ppm", makePpm(0, 0, 255, {}));
    // A map file whose name holds an escape and a bell.
    writeFile(dir + "/odd\x1b\x07.ppm", makePpm(0, 0, 255, {}));
    std::vector<std::string> args;
    for (const std::string& a : c.args)
        args.push_back(a == "IN"      ? dir + "/in.ppm"
                       : a == "MAP"   ? dir + "/map.ppm"
                       : a == "EMPTY" ? dir + "/empty.ppm"
                       : a == "ODD"   ? dir + "/odd\x1b\x07.ppm"
                                      : a);
    std::string message = c.message;
    if (message.find("EMPTY") != std::string::npos) message.replace(message.find("EMPTY"), 5, dir + "/empty.ppm");
    if (message.find("ODD") != std::string::npos) message.replace(message.find("ODD"), 3, dir + "/odd");
    RunResult r = runHuecut(args, toPpm(solid(2, 2, 255, Pixel{1, 2, 3})));
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find(messageLine(message)), std::string::npos) << r.err;
    // No byte of an argument reaches the terminal as a control byte.
    EXPECT_EQ(countLines(r.err), 1) << r.err;
    for (char ch : r.err) EXPECT_TRUE(ch == '\n' || static_cast<unsigned char>(ch) >= 0x20) << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ArgumentErrors,
    testing::Values(
        ArgumentCase{{"-floyd", "-nofs", "4", "IN"}, "You cannot specify both -floyd and -nofloyd options."},
        ArgumentCase{{"-fs", "-nofloyd", "-mapfile", "MAP"}, "You cannot specify both -floyd and -nofloyd options."},
        ArgumentCase{{"-mapfile", "MAP", "4", "IN"},
                     "When you specify the -mapfile option, the only argument allowed is the "
                     "input file specification.  You specified 2 arguments."},
        ArgumentCase{{"4", "IN", "IN"},
                     "Program takes at most two arguments: number of colors and input file specification.  You "
                     "specified 3 arguments."},
        ArgumentCase{{}, "You must specify the number of colors in the output as an argument, or specify the "
                         "-mapfile option."},
        ArgumentCase{{"-floyd"}, "You must specify the number of colors in the output as an argument, or specify "
                                 "the -mapfile option."},
        ArgumentCase{{"12x", "IN"}, "The number of colors argument '12x' is not a number."},
        ArgumentCase{{"0"}, "The number of colors must be positive"},
        ArgumentCase{{""}, "The number of colors must be positive"},
        ArgumentCase{{" -3", "IN"}, "The number of colors must be positive"},
        ArgumentCase{{"1", "IN"}, "The number of colors must be greater than 1."},
        ArgumentCase{{"99999999999999999999"}, "The number of colors '99999999999999999999' is too large."},
        ArgumentCase{{"-randomseed", "abc", "4", "IN"}, "The -randomseed value 'abc' is not a number."},
        ArgumentCase{{"-randomseed", "12y", "4", "IN"}, "The -randomseed value '12y' is not a number."},
        ArgumentCase{{"-randomseed", "4294967296", "4", "IN"},
                     "The -randomseed value '4294967296' is out of range (0 to 4294967295)."},
        ArgumentCase{{"-mapfile", "EMPTY", "IN"}, "colormap in file 'EMPTY' contains no pixels"},
        ArgumentCase{{"-refine", "x", "4", "IN"}, "The -refine value 'x' is not a number."},
        ArgumentCase{{"-refine", "", "4", "IN"}, "The -refine value '' is not a number."},
        ArgumentCase{{"-refine", "1001", "4", "IN"}, "The -refine value '1001' is out of range (0 to 1000)."},
        ArgumentCase{{"-refine=-1", "4", "IN"}, "The -refine value '-1' is out of range (0 to 1000)."},
        ArgumentCase{{"-refine", "99999999999999999999", "4"},
                     "The -refine value '99999999999999999999' is out of range (0 to 1000)."},
        ArgumentCase{{"-refine", "3", "-mapfile", "MAP"}, "You cannot specify both -refine and -mapfile options."},
        ArgumentCase{{"-refine", "0", "-mapfile", "MAP", "IN"}, "You cannot specify both -refine and -mapfile options."},
        // Control bytes in arguments and file names come out escaped.
        ArgumentCase{{"12\x1b[31mx", "IN"}, "The number of colors argument '12\\x1b[31mx' is not a number."},
        ArgumentCase{{"-randomseed", "\x07", "4", "IN"}, "The -randomseed value '\\x07' is not a number."},
        ArgumentCase{{"-randomseed", "99999999999\r", "4"}, "The -randomseed value '99999999999\\x0d' is not a number."},
        ArgumentCase{{"-refine", "1\r", "4", "IN"}, "The -refine value '1\\x0d' is not a number."},
        ArgumentCase{{"-refine", "\xc3\xa9\xc3", "4", "IN"}, "The -refine value '\xc3\xa9\\xc3' is not a number."},
        ArgumentCase{{"-mapfile", "ODD", "IN"}, "colormap in file 'ODD\\x1b\\x07.ppm' contains no pixels"}));

TEST(HuecutArguments, CountAloneReadsStandardInputAndCountWithNameReadsTheFile) {
    std::string dir = scratchDir();
    TestImage image = makeNoiseImage(9, 7, 255, 4, 11);
    writeFile(dir + "/in.ppm", toPpm(image));
    RunResult fromPipe = runHuecut({"5"}, toPpm(image));
    RunResult fromFile = runHuecut({"5", dir + "/in.ppm"});
    RunResult fromDash = runHuecut({"5", "-"}, toPpm(image));
    ASSERT_EQ(fromPipe.status, 0) << fromPipe.err;
    ASSERT_EQ(fromFile.status, 0) << fromFile.err;
    EXPECT_EQ(fromPipe.out, fromFile.out);
    EXPECT_EQ(fromDash.out, fromFile.out);
    // Options may be abbreviated and given with two hyphens.
    RunResult floyd = runHuecut({"--fl", "-randomseed=3", "5", dir + "/in.ppm"});
    RunResult fs = runHuecut({"-fs", "-randomseed", "3", "5"}, toPpm(image));
    ASSERT_EQ(floyd.status, 0) << floyd.err;
    EXPECT_EQ(floyd.out, fs.out);
}

// An option the parser does not know, or one given wrongly, is followed by
// the usage line; the status stays that of any other error.
TEST(HuecutArguments, OptionErrorsAndHelpEndWithTheUsageLine) {
    const std::string usage =
        "usage: huecut [-floyd|-fs|-nofloyd|-nofs] [-randomseed n] {[-refine passes] ncolors | -mapfile mapfile} "
        "[ppmfile]\n";
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--help"}, "unrecognized option '--help'"},
        {{"-x", "4"}, "unrecognized option '-x'"},
        {{"-r", "4"}, "ambiguous option '-r': it could be -randomseed, -refine"},
        {{"-floyd=1", "4"}, "option -floyd does not take a value"},
        {{"4", "-mapfile"}, "option -mapfile requires a value"},
    };
    for (const auto& c : cases) {
        RunResult r = runHuecut(c.first, toPpm(solid(1, 1, 255, Pixel{1, 2, 3})));
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, messageLine(c.second) + usage);
    }
}

TEST(HuecutArguments, InputMaxvalAbove65535IsRefused) {
    RunResult r = runHuecut({"4"}, "P3\n1 1\n70000\n1 2 3\n");
    EXPECT_NE(r.status, 0);
    EXPECT_TRUE(hasLine(r.err, "input image has maxval 70000; at most 65535 is supported")) << r.err;
}

// ---------------------------------------------------------------------------
// Median cut runs

TEST(HuecutMedianCut, ThreeColoursAskedForMoreComeOutUnchanged) {
    TestImage image = solid(4, 3, 255, Pixel{10, 20, 30});
    for (int i = 0; i < 4; ++i) image.pixels[i] = Pixel{200, 0, 0};
    image.pixels[5] = Pixel{0, 0, 255};
    RunResult r = runHuecut({"256"}, toPpm(image));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, toPpm(image));
    EXPECT_EQ(r.err, messageLine("making histogram...") + messageLine("3 colors found") +
                         messageLine("choosing 256 colors...") + messageLine("mapping image to new colors..."));
}

TEST(HuecutMedianCut, NearColoursStayApartAtEveryMaxval) {
    // Both colours get a box of their own, and each is nearest to itself,
    // however close they are.
    for (Sample maxval : {Sample(255), Sample(65535)}) {
        TestImage image = solid(4, 1, maxval, Pixel{100, 50, 7});
        image.pixels[3] = Pixel{102, 47, 7};
        RunResult r = runHuecut({"256"}, toPpm(image));
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(hasLine(r.err, "2 colors found"));
        EXPECT_EQ(r.out, toPpm(image)) << "maxval " << maxval;
    }
}

TEST(HuecutMedianCut, TooManyColoursHalveTheMaxvalWithTheirMessages) {
    TestImage image = makeNoiseImage(256, 256, 255, 256, 99);
    RunResult r = runHuecut({"16"}, toPpm(image));
    ASSERT_EQ(r.status, 0) << r.err;
    // 65536 random colours still exceed the limit at 127 and 63; at 31 fewer
    // than 32768 remain.
    std::string expected = messageLine("making histogram...") + messageLine("too many colors!") +
                           messageLine("scaling colors from maxval=255 to maxval=127 to improve clustering...") +
                           messageLine("making histogram...") + messageLine("too many colors!") +
                           messageLine("scaling colors from maxval=127 to maxval=63 to improve clustering...") +
                           messageLine("making histogram...") + messageLine("too many colors!") +
                           messageLine("scaling colors from maxval=63 to maxval=31 to improve clustering...") +
                           messageLine("making histogram...");
    EXPECT_EQ(r.err.substr(0, expected.size()), expected);
    TestImage out = parsePpm(r.out);
    EXPECT_EQ(out.maxval, 31u);
    EXPECT_EQ(out.cols, 256);
    EXPECT_LE(distinctColors(out).size(), 16u);
}

TEST(HuecutMedianCut, OneHalvingForAGradientJustAboveTheLimit) {
    TestImage image;
    image.cols = 256, image.rows = 130;
    for (int y = 0; y < image.rows; ++y)
        for (int x = 0; x < image.cols; ++x) image.pixels.push_back(Pixel{(Sample)x, (Sample)y, 0});
    RunResult r = runHuecut({"300"}, toPpm(image));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(hasLine(r.err, "scaling colors from maxval=255 to maxval=127 to improve clustering..."));
    EXPECT_EQ(r.err.find("maxval=63"), std::string::npos);
    EXPECT_EQ(parsePpm(r.out).maxval, 127u);
}

TEST(HuecutMedianCut, EmptyImageGivesAnEmptyImage) {
    RunResult r = runHuecut({"4"}, makePpm(0, 0, 255, {}));
    ASSERT_EQ(r.status, 0) << r.err;
    TestImage out = parsePpm(r.out);
    EXPECT_EQ(out.cols, 0);
    EXPECT_EQ(out.rows, 0);
}

// ---------------------------------------------------------------------------
// PAM input

namespace {

std::string pam(int cols, int rows, int depth, Sample maxval, const std::string& tupleType,
                const std::string& raster) {
    return "P7\nWIDTH " + std::to_string(cols) + "\nHEIGHT " + std::to_string(rows) + "\nDEPTH " +
           std::to_string(depth) + "\nMAXVAL " + std::to_string(maxval) + "\nTUPLTYPE " + tupleType + "\nENDHDR\n" +
           raster;
}

}  // namespace

TEST(HuecutPam, WithoutAlphaItIsQuantizedAsItsPpmAndServesAsAMap) {
    TestImage image = makeNoiseImage(9, 7, 255, 5, 3);
    std::string ppm = toPpm(image);
    std::string raster = ppm.substr(ppm.size() - 9 * 7 * 3);
    std::string asPam = pam(9, 7, 3, 255, "RGB", raster);
    for (const std::vector<std::string>& args : {std::vector<std::string>{"6"}, {"-refine", "2", "6"}}) {
        RunResult fromPpm = runHuecut(args, ppm), fromPam = runHuecut(args, asPam);
        ASSERT_EQ(fromPam.status, 0) << fromPam.err;
        EXPECT_EQ(fromPam.out, fromPpm.out);
        EXPECT_EQ(fromPam.err, fromPpm.err);
    }
    std::string dir = scratchDir();
    writeFile(dir + "/map.pam", pam(2, 1, 1, 255, "GRAYSCALE", "\x10\xf0"));
    writeFile(dir + "/map.pgm", makePgm(2, 1, 255, {16, 240}));
    RunResult byPam = runHuecut({"-mapfile", dir + "/map.pam"}, ppm), byPgm = runHuecut({"-mapfile", dir + "/map.pgm"}, ppm);
    ASSERT_EQ(byPam.status, 0) << byPam.err;
    EXPECT_EQ(byPam.out, byPgm.out);
}

TEST(HuecutPam, WithAlphaIsRefusedNamingItsTupleType) {
    const std::vector<std::pair<std::string, std::string>> images = {
        {"RGB_ALPHA", pam(1, 1, 4, 255, "RGB_ALPHA", "abcd")},
        {"GRAYSCALE_ALPHA", pam(1, 1, 2, 255, "GRAYSCALE_ALPHA", "ab")},
        {"BLACKANDWHITE_ALPHA", pam(1, 1, 2, 1, "BLACKANDWHITE_ALPHA", std::string("\x01\x00", 2))}};
    for (const auto& image : images) {
        RunResult r = runHuecut({"4"}, image.second);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, messageLine("the input is a PAM image with alpha (tuple type " + image.first +
                                     "); quantizing transparency is not supported"));
    }
    std::string dir = scratchDir();
    writeFile(dir + "/map.pam", images[0].second);
    RunResult r = runHuecut({"-mapfile", dir + "/map.pam"}, toPpm(solid(1, 1, 255, Pixel{1, 2, 3})));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, messageLine("colormap in file '" + dir +
                                 "/map.pam' is a PAM image with alpha (tuple type RGB_ALPHA); quantizing "
                                 "transparency is not supported"));
}

// ---------------------------------------------------------------------------
// Map files

TEST(HuecutMapFile, OnePixelMapPaintsEveryPixel) {
    std::string dir = scratchDir();
    writeFile(dir + "/map.ppm", mapImage({{7, 8, 9}}, 255));
    TestImage image = makeNoiseImage(10, 6, 255, 200, 5);
    RunResult r = runHuecut({"-mapfile", dir + "/map.ppm"}, toPpm(image));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, toPpm(solid(10, 6, 255, Pixel{7, 8, 9})));
    EXPECT_TRUE(hasLine(r.err, "1 colors found in colormap"));
    EXPECT_EQ(r.err.find("rescaling"), std::string::npos);
}

TEST(HuecutMapFile, InputIsRescaledToTheMapMaxval) {
    // Every colour at maxval 15 is in the map, so the output is exactly the
    // rescaled input: (s * 15 + 127) / 255.
    std::vector<Pixel> all;
    for (Sample r = 0; r < 16; ++r)
        for (Sample g = 0; g < 16; ++g)
            for (Sample b = 0; b < 16; ++b) all.push_back(Pixel{r, g, b});
    std::string dir = scratchDir();
    writeFile(dir + "/map.ppm", mapImage(all, 15));
    TestImage image = makeNoiseImage(30, 20, 255, 256, 8);
    image.pixels[0] = Pixel{255, 8, 9};
    RunResult r = runHuecut({"-mapfile", dir + "/map.ppm"}, toPpm(image));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(hasLine(r.err, "rescaling input image to match colormap maxval"));
    EXPECT_TRUE(hasLine(r.err, "4096 colors found in colormap"));
    TestImage out = parsePpm(r.out);
    EXPECT_EQ(out.maxval, 15u);
    EXPECT_EQ(out.pixels[0], (Pixel{15, 0, 1}));
    for (size_t i = 0; i < image.pixels.size(); ++i) {
        const Pixel& p = image.pixels[i];
        ASSERT_EQ(out.pixels[i], (Pixel{(p.r * 15 + 127) / 255, (p.g * 15 + 127) / 255, (p.b * 15 + 127) / 255}));
    }
}

TEST(HuecutMapFile, SixteenBitMapGivesSixteenBitOutput) {
    std::string dir = scratchDir();
    writeFile(dir + "/map.ppm", mapImage({{0, 0, 0}, {65535, 65535, 65535}, {65535, 0, 0}}, 65535));
    RunResult r = runHuecut({"-mapfile", dir + "/map.ppm"}, toPpm(solid(3, 2, 255, Pixel{250, 20, 10})));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, toPpm(solid(3, 2, 65535, Pixel{65535, 0, 0})));
}

TEST(HuecutMapFile, TooManyColoursInTheMapIsFatal) {
    std::string dir = scratchDir();
    writeFile(dir + "/map.ppm", toPpm(makeGradientImage(256, 200, 255)));
    RunResult r = runHuecut({"-mapfile", dir + "/map.ppm"}, toPpm(solid(1, 1, 255, Pixel{0, 0, 0})));
    EXPECT_NE(r.status, 0);
    EXPECT_TRUE(hasLine(r.err, "too many colors in colormap!")) << r.err;
}

TEST(HuecutMapFile, MapMaxvalAbove65535IsRefused) {
    std::string dir = scratchDir();
    writeFile(dir + "/map.ppm", "P3\n1 1\n100000\n1 2 3\n");
    RunResult r = runHuecut({"-mapfile", dir + "/map.ppm"}, toPpm(solid(1, 1, 255, Pixel{0, 0, 0})));
    EXPECT_NE(r.status, 0);
    EXPECT_TRUE(hasLine(r.err, "colormap in file '" + dir + "/map.ppm' has maxval 100000; at most 65535 is supported"))
        << r.err;
}

// ---------------------------------------------------------------------------
// Properties over several images

class HuecutProperties : public testing::TestWithParam<int> {
  protected:
    static TestImage image(int which) {
        switch (which) {
        case 0: return makeGradientImage(64, 48, 255);
        case 1: return makeNoiseImage(50, 40, 255, 256, 1);
        case 2: return makeNoiseImage(33, 17, 65535, 65536, 2);
        case 3: return makeNoiseImage(20, 20, 255, 3, 3);
        case 4: return makeGradientImage(1, 70, 1000);
        default: return makeNoiseImage(70, 1, 7, 8, 4);
        }
    }
};

TEST_P(HuecutProperties, MapFileOutputIsEachPixelsNearestMapColour) {
    TestImage in = image(GetParam());
    std::vector<Pixel> colors;
    for (int i = 0; i < 24; ++i) colors.push_back(in.pixels[(size_t)i * 7919 % in.pixels.size()]);
    colors.push_back(Pixel{0, 0, 0});
    colors.push_back(Pixel{in.maxval, in.maxval, in.maxval});
    std::string dir = scratchDir();
    writeFile(dir + "/map.ppm", mapImage(colors, in.maxval));
    // The map's colours in raster order, as the library lists them.
    TestImage mapRead = parsePpm(mapImage(colors, in.maxval));
    std::vector<ColorHistEntry> map;
    std::set<Rgb> seen;
    for (const Pixel& c : mapRead.pixels)
        if (seen.insert(Rgb(c.r, c.g, c.b)).second) map.push_back(ColorHistEntry{c, 0});

    RunResult r = runHuecut({"-mapfile", dir + "/map.ppm"}, toPpm(in));
    ASSERT_EQ(r.status, 0) << r.err;
    TestImage out = parsePpm(r.out);
    ASSERT_EQ(out.pixels.size(), in.pixels.size());
    EXPECT_EQ(out.maxval, in.maxval);
    for (size_t i = 0; i < in.pixels.size(); ++i) {
        const int nearest = huecut::scanNearestColor(map.data(), (int)map.size(), in.pixels[i]);
        ASSERT_EQ(out.pixels[i], map[nearest].color) << "pixel " << i;
    }

    RunResult dithered = runHuecut({"-mapfile", dir + "/map.ppm", "-floyd"}, toPpm(in));
    ASSERT_EQ(dithered.status, 0) << dithered.err;
    for (const Rgb& c : distinctColors(parsePpm(dithered.out))) EXPECT_TRUE(seen.count(c));
}

TEST_P(HuecutProperties, MedianCutIsDeterministicAndKeepsTheColourCount) {
    TestImage in = image(GetParam());
    for (int colors : {2, 7, 256}) {
        RunResult a = runHuecut({std::to_string(colors)}, toPpm(in));
        RunResult b = runHuecut({std::to_string(colors)}, toPpm(in, true));
        ASSERT_EQ(a.status, 0) << a.err;
        EXPECT_EQ(a.out, b.out);
        TestImage out = parsePpm(a.out);
        EXPECT_EQ(out.cols, in.cols);
        EXPECT_EQ(out.rows, in.rows);
        EXPECT_LE(distinctColors(out).size(), (size_t)colors);
        if (distinctColors(in).size() < (size_t)colors) {
            EXPECT_EQ(a.out, toPpm(in));
        }
        // Dithered output still uses map colours only: no more than asked for.
        RunResult d = runHuecut({"-fs", std::to_string(colors)}, toPpm(in));
        ASSERT_EQ(d.status, 0) << d.err;
        EXPECT_LE(distinctColors(parsePpm(d.out)).size(), (size_t)colors);
    }
}

TEST_P(HuecutProperties, RandomSeedMakesDitheringRepeatable) {
    TestImage in = image(GetParam());
    RunResult a = runHuecut({"-floyd", "-randomseed", "77", "5"}, toPpm(in));
    RunResult b = runHuecut({"-floyd", "-randomseed", "77", "5"}, toPpm(in));
    ASSERT_EQ(a.status, 0) << a.err;
    EXPECT_EQ(a.out, b.out);
}

INSTANTIATE_TEST_SUITE_P(Images, HuecutProperties, testing::Range(0, 6));

TEST(HuecutDithering, DifferentSeedsGiveDifferentOutput) {
    TestImage in = makeGradientImage(64, 64, 255);
    RunResult a = runHuecut({"-floyd", "-randomseed", "1", "4"}, toPpm(in));
    RunResult b = runHuecut({"-floyd", "-randomseed", "2", "4"}, toPpm(in));
    ASSERT_EQ(a.status, 0);
    EXPECT_NE(a.out, b.out);
    RunResult plain = runHuecut({"4"}, toPpm(in));
    EXPECT_NE(plain.out, a.out);
}

TEST(HuecutDithering, OneColumnImageMixesTheMapColours) {
    std::string dir = scratchDir();
    writeFile(dir + "/map.ppm", mapImage({{0, 0, 0}, {255, 255, 255}}, 255));
    RunResult r = runHuecut({"-mapfile", dir + "/map.ppm", "-floyd", "-randomseed", "9"},
                         toPpm(solid(1, 200, 255, Pixel{128, 128, 128})));
    ASSERT_EQ(r.status, 0) << r.err;
    TestImage out = parsePpm(r.out);
    ASSERT_EQ(out.rows, 200);
    int white = 0;
    for (const Pixel& p : out.pixels) {
        ASSERT_TRUE(p == (Pixel{0, 0, 0}) || p == (Pixel{255, 255, 255}));
        white += p.r == 255;
    }
    EXPECT_GT(white, 20);
    EXPECT_LT(white, 180);
}

// ---------------------------------------------------------------------------
// Refinement

namespace {

double sumSquaredError(const TestImage& a, const TestImage& b) {
    double total = 0;
    for (size_t i = 0; i < a.pixels.size(); ++i) {
        const double dr = double(a.pixels[i].r) - b.pixels[i].r, dg = double(a.pixels[i].g) - b.pixels[i].g,
                     db = double(a.pixels[i].b) - b.pixels[i].b;
        total += dr * dr + dg * dg + db * db;
    }
    return total;
}

uint64_t plainDistance(const Pixel& a, const Pixel& b) {
    const int64_t dr = int64_t(a.r) - b.r, dg = int64_t(a.g) - b.g, db = int64_t(a.b) - b.b;
    return uint64_t(dr * dr + dg * dg + db * db);
}

// The two numbers of "mean squared error per sample A after N passes (B before)".
bool readErrorLine(const std::string& err, double* after, int* passes, double* before) {
    const size_t at = err.find("huecut: mean squared error per sample ");
    return at != std::string::npos &&
           sscanf(err.c_str() + at, "huecut: mean squared error per sample %lf after %d passes (%lf before)", after,
                  passes, before) == 3;
}

}  // namespace

TEST_P(HuecutProperties, RefineZeroIsByteForByteNoRefinement) {
    TestImage in = image(GetParam());
    for (std::vector<std::string> args : {std::vector<std::string>{"9"}, {"-floyd", "-randomseed", "4", "9"}}) {
        RunResult plain = runHuecut(args, toPpm(in));
        args.insert(args.begin(), {"-refine", "0"});
        RunResult zero = runHuecut(args, toPpm(in));
        ASSERT_EQ(plain.status, 0) << plain.err;
        EXPECT_EQ(zero.out, plain.out);
        EXPECT_EQ(zero.err, plain.err);
    }
}

// Refined output keeps the input's size and maxval, uses the colours asked
// for (or the image's own, when it has fewer), maps every pixel to its
// nearest output colour, and its error is the one reported, no more than
// before the refinement.
TEST_P(HuecutProperties, RefinedOutputIsTheNearestOfAtMostTheColoursAsked) {
    TestImage in = image(GetParam());
    for (int colors : {2, 12, 300}) {
        RunResult r = runHuecut({"-refine", "20", std::to_string(colors)}, toPpm(in));
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(hasLine(r.err, "refining colors..."));
        TestImage out = parsePpm(r.out);
        ASSERT_EQ(out.pixels.size(), in.pixels.size());
        EXPECT_EQ(out.maxval, in.maxval);
        const std::set<Rgb> used = distinctColors(out);
        // Every entry is some colour's nearest: all of them are used.
        EXPECT_EQ(used.size(), std::min(size_t(colors), distinctColors(in).size()));
        for (size_t i = 0; i < in.pixels.size(); ++i) {
            const uint64_t chosen = plainDistance(in.pixels[i], out.pixels[i]);
            for (const Rgb& c : used) {
                const Pixel other = {std::get<0>(c), std::get<1>(c), std::get<2>(c)};
                ASSERT_LE(chosen, plainDistance(in.pixels[i], other)) << "pixel " << i;
            }
        }
        double after = 0, before = 0;
        int passes = 0;
        ASSERT_TRUE(readErrorLine(r.err, &after, &passes, &before)) << r.err;
        EXPECT_LE(after, before);
        EXPECT_LE(passes, 20);
        const double samples = 3.0 * in.pixels.size();
        // The report has four decimals, of a number that may reach 65535^2.
        EXPECT_NEAR(after, sumSquaredError(in, out) / samples, std::max(1e-4, after * 1e-9));
        if (distinctColors(in).size() <= size_t(colors)) {
            EXPECT_EQ(r.out, toPpm(in));
            EXPECT_EQ(passes, 0);
        }
        RunResult dithered = runHuecut({"-refine", "20", "-fs", std::to_string(colors)}, toPpm(in));
        ASSERT_EQ(dithered.status, 0) << dithered.err;
        EXPECT_LE(distinctColors(parsePpm(dithered.out)).size(), size_t(colors));
    }
}

// Above maxval 255 near colours are told apart: a colour of the map comes
// out as itself, whichever way the map was made, and the error -refine
// reports is the output's.
TEST(HuecutSixteenBit, AColourOfTheMapMapsToItself) {
    TestImage in;
    in.cols = 4, in.rows = 1, in.maxval = 65535;
    in.pixels = {{1000, 1000, 1000}, {1003, 1003, 1003}, {1000, 1000, 1001}, {60000, 2, 1003}};
    std::string dir = scratchDir();
    writeFile(dir + "/map.ppm", mapImage({{1000, 1000, 1000}, {1003, 1003, 1003}, {60000, 2, 1003}}, 65535));
    const std::vector<std::vector<std::string>> runs = {
        {"4"}, {"-refine", "1", "4"}, {"-refine", "10", "4"}, {"-fs", "-randomseed", "1", "4"}, {"-mapfile", "MAP"}};
    for (std::vector<std::string> args : runs) {
        if (args[0] == "-mapfile") args[1] = dir + "/map.ppm";
        RunResult r = runHuecut(args, toPpm(in, true));
        ASSERT_EQ(r.status, 0) << r.err;
        TestImage out = parsePpm(r.out);
        ASSERT_EQ(out.pixels.size(), 4u);
        EXPECT_EQ(out.pixels[0], (Pixel{1000, 1000, 1000})) << args[0];
        EXPECT_EQ(out.pixels[1], (Pixel{1003, 1003, 1003})) << args[0];
        EXPECT_EQ(out.pixels[3], (Pixel{60000, 2, 1003})) << args[0];
        if (args[0] != "-mapfile") {
            EXPECT_EQ(out.pixels[2], (Pixel{1000, 1000, 1001})) << args[0];
        }
    }
    // Three colours into two: the pair of near ones shares an entry, and the
    // reported error is what the output holds.
    in.pixels.pop_back();
    in.cols = 3;
    for (const char* passes : {"1", "10"}) {
        RunResult r = runHuecut({"-refine", passes, "2"}, toPpm(in));
        ASSERT_EQ(r.status, 0) << r.err;
        double after = 0, before = 0;
        int done = 0;
        ASSERT_TRUE(readErrorLine(r.err, &after, &done, &before)) << r.err;
        EXPECT_NEAR(after, sumSquaredError(in, parsePpm(r.out)) / 9.0, 1e-4) << r.err;
    }
}

TEST(HuecutRefine, BeatsThePlainMedianCutAndQuietSilencesIt) {
    TestImage in = makeGradientImage(120, 90, 255);
    RunResult cut = runHuecut({"16"}, toPpm(in));
    RunResult refined = runHuecut({"-refine", "10", "16"}, toPpm(in));
    ASSERT_EQ(refined.status, 0) << refined.err;
    EXPECT_LT(sumSquaredError(in, parsePpm(refined.out)), sumSquaredError(in, parsePpm(cut.out)));
    EXPECT_EQ(refined.err.substr(0, refined.err.find("refining")),
              cut.err.substr(0, cut.err.find("mapping")));
    RunResult quiet = runHuecut({"-quiet", "-refine", "10", "16"}, toPpm(in));
    EXPECT_EQ(quiet.err, "");
    EXPECT_EQ(quiet.out, refined.out);
}

// ---------------------------------------------------------------------------
// Memory bounded by what the image needs

struct BoundedCase {
    std::string name;
    std::vector<std::string> args;  // MAP: the map file below
    std::string input;
    std::string map;
    int status;
    std::string message;  // a line of standard error, when not empty
};

static void PrintTo(const BoundedCase& c, std::ostream* os) { *os << c.name; }

class BoundedMemory : public testing::TestWithParam<BoundedCase> {};

// Each of these once allocated gigabytes for a few bytes of input. The run
// gets 512 MiB of address space; the address sanitizer cannot start in so
// little, so its build leaves the limit out.
static bool hasNoPixels(const std::string& pnm) {
    int cols = 0, rows = 0;
    return sscanf(pnm.c_str(), "P%*d %d %d", &cols, &rows) == 2 && (cols == 0 || rows == 0);
}

TEST_P(BoundedMemory, SmallInputsNeedLittleMemory) {
    const BoundedCase& c = GetParam();
    std::string dir = scratchDir();
    writeFile(dir + "/map.ppm", c.map);
    std::string limit = "ulimit -v 524288 && ";
#if defined(__SANITIZE_ADDRESS__)
    limit = "";
#endif
    std::vector<std::string> args = {"-c", limit + "exec \"$0\" \"$@\"", HUECUT};
    for (const std::string& a : c.args) args.push_back(a == "MAP" ? dir + "/map.ppm" : a);
    RunResult r = runProgram("/bin/sh", args, c.input);
    ASSERT_EQ(r.status, c.status) << r.err;
    std::string message = c.message;
    if (message.find("MAP") != std::string::npos) message.replace(message.find("MAP"), 3, dir + "/map.ppm");
    if (!message.empty()) {
        EXPECT_TRUE(hasLine(r.err, message)) << r.err;
    }
    EXPECT_EQ(r.err.find("out of memory"), std::string::npos) << r.err;
    if (c.status == 0 && hasNoPixels(c.input)) {
        // An image without pixels comes back as its header alone (reading it
        // whole would cost the test a row pointer for each of its rows).
        EXPECT_EQ(r.out, c.input);
    } else if (c.status == 0) {
        TestImage in = parsePpm(c.input), out = parsePpm(r.out);
        EXPECT_EQ(out.cols, in.cols);
        EXPECT_EQ(out.rows, in.rows);
        EXPECT_EQ(out.pixels, in.pixels);
    } else {
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(countLines(r.err), 1) << r.err;
    }
}

const std::string ONE_PIXEL = "P6\n1 1\n255\nabc";

INSTANTIATE_TEST_SUITE_P(
    Cases, BoundedMemory,
    testing::Values(
        BoundedCase{"WideImageWithoutRowsDithered", {"-floyd", "2"}, "P6\n134217727 0\n255\n", "", 0, ""},
        BoundedCase{"WideImageWithoutRowsRefined", {"-refine", "3", "-fs", "2"}, "P6\n134217727 0\n255\n", "", 0, ""},
        BoundedCase{"HugeCountOnePixel", {"100000000"}, ONE_PIXEL, "", 0, ""},
        BoundedCase{"LargestCountOnePixelDithered", {"-fs", "2147483647"}, ONE_PIXEL, "", 0, ""},
        BoundedCase{"LargestCountOnePixelRefined", {"-refine", "9", "2147483647"}, ONE_PIXEL, "", 0, ""},
        BoundedCase{"MapHeaderPromisesAGigapixel", {"-mapfile", "MAP"}, ONE_PIXEL, "P6\n30000 30000\n255\n0123456789", 1,
                    ""},
        BoundedCase{"MapMaxvalCheckedBeforeItsRaster", {"-mapfile", "MAP"}, ONE_PIXEL, "P3\n100000 100000\n100000\n",
                    1, "colormap in file 'MAP' has maxval 100000; at most 65535 is supported"},
        BoundedCase{"MapWithoutRowsCheckedBeforeItsRaster", {"-mapfile", "MAP"}, ONE_PIXEL, "P6\n100000000 0\n255\n",
                    1, "colormap in file 'MAP' contains no pixels"},
        // An image without pixels needs no rows, however many it names.
        BoundedCase{"TallImageWithoutColumns", {"2"}, "P6\n0 134217727\n255\n", "", 0, ""},
        BoundedCase{"TallImageWithoutColumnsRefinedAndDithered", {"-refine", "3", "-fs", "2"},
                    "P6\n0 134217727\n255\n", "", 0, ""},
        BoundedCase{"TallImageWithoutColumnsMapped", {"-mapfile", "MAP"}, "P6\n0 134217727\n255\n", ONE_PIXEL, 0,
                    ""}));

TEST(HuecutMapFile, TooManyColoursAreRefusedBeforeTheRestOfTheMapIsRead) {
    // 40000 distinct colours, then a raster that ends long before the header
    // says: the colour count is the fault reported.
    TestImage many = makeGradientImage(200, 200, 255);
    std::string bytes = toPpm(many);
    bytes.replace(bytes.find("200 200"), 7, "200 9000");
    std::string dir = scratchDir();
    writeFile(dir + "/map.ppm", bytes);
    RunResult r = runHuecut({"-mapfile", dir + "/map.ppm"}, toPpm(solid(1, 1, 15, Pixel{0, 0, 0})));
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(r.err, messageLine("rescaling input image to match colormap maxval") +
                         messageLine("too many colors in colormap!"));
}

// Every run that completes releases all it allocated: the image, the colour
// map, the error rows, the search and the hashes. Only the sanitized build
// can tell; it runs huecut here with leak detection on, whatever the test
// command set.
TEST(HuecutResources, CompletedRunsLeakNothing) {
#if !defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "needs the address sanitizer";
#endif
    std::string dir = scratchDir();
    writeFile(dir + "/map.ppm", mapImage({{0, 0, 0}, {255, 255, 255}, {255, 0, 0}}, 255));
    const std::string image = toPpm(makeGradientImage(60, 40, 255));
    const std::vector<std::vector<std::string>> runs = {
        {"16"}, {"-floyd", "16"}, {"-refine", "4", "16"}, {"-refine", "4", "-fs", "16"},
        {"-mapfile", dir + "/map.ppm"}, {"-fs", "-mapfile", dir + "/map.ppm"}};
    for (const std::vector<std::string>& run : runs) {
        std::vector<std::string> args = {"-c", "ASAN_OPTIONS=detect_leaks=1:halt_on_error=1 exec \"$0\" \"$@\"", HUECUT};
        args.insert(args.end(), run.begin(), run.end());
        RunResult r = runProgram("/bin/sh", args, image);
        EXPECT_EQ(r.status, 0) << run[0] << ": " << r.err;
        EXPECT_EQ(r.err.find("LeakSanitizer"), std::string::npos) << r.err;
    }
    RunResult noRows = runProgram("/bin/sh", {"-c", "ASAN_OPTIONS=detect_leaks=1 exec \"$0\" \"$@\"", HUECUT, "-fs", "4"},
                                  "P6\n9 0\n255\n");
    EXPECT_EQ(noRows.status, 0) << noRows.err;
}
