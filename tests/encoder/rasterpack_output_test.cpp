// rasterpack's choice of PNG form and the samples it writes, end to end.
#include "pngtestkit.h"
#include "testsupport.h"

#include <gtest/gtest.h>

using namespace testkit;

namespace {

RunResult run(const std::vector<std::string>& args, const std::string& input) {
    return runProgram(rasterpackPath(), args, input);
}

// Writes the mask into a scratch file and returns the -alpha arguments.
std::vector<std::string> withMask(const std::string& mask, std::vector<std::string> args = {}) {
    std::string path = scratchDir() + "/mask.pgm";
    writeFile(path, mask);
    args.push_back("-alpha");
    args.push_back(path);
    return args;
}

// --- colour type, depth and samples --------------------------------------------

// n grey levels 0, 15, 30, ...: more than 16 decline a grey palette.
std::vector<uint32_t> greyLevels(int n) {
    std::vector<uint32_t> v;
    for (int i = 0; i < n; ++i) v.push_back(uint32_t(i * 15));
    return v;
}
std::string greyRgb(int n) {
    std::vector<Sample> rgb;
    for (uint32_t v : greyLevels(n)) rgb.insert(rgb.end(), {v, v, v});
    return makePpm(n, 1, 255, rgb);
}

struct FormCase {
    const char* name;
    std::string image;
    std::string mask;  // empty: no -alpha
    std::vector<std::string> args;
    int colorType;
    int depth;
    std::vector<uint32_t> samples;  // as stored in the PNG, channel by channel
};

class OutputForm : public testing::TestWithParam<FormCase> {};

TEST_P(OutputForm, ColourTypeDepthAndSamples) {
    const FormCase& c = GetParam();
    std::vector<std::string> args = c.mask.empty() ? c.args : withMask(c.mask, c.args);
    RunResult r = run(args, c.image);
    ASSERT_EQ(r.status, 0) << r.err;
    PngHeader h = pngHeader(r.out);
    EXPECT_EQ(h.colorType, c.colorType);
    EXPECT_EQ(h.depth, c.depth);
    DecodedPng png = decodePng(r.out);
    ASSERT_TRUE(png.ok);
    EXPECT_EQ(png.samples, c.samples);
}

std::string formName(const testing::TestParamInfo<FormCase>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(
    Images, OutputForm,
    testing::Values(
        // PBM: 1 is black, stored as grey 0
        FormCase{"Pbm", makePbm(3, 2, {1, 0, 1, 0, 0, 1}), "", {}, 0, 1, {0, 1, 0, 1, 1, 0}},
        FormCase{"PlainPbm", makePbm(9, 1, {1, 0, 0, 0, 0, 0, 0, 0, 1}, true), "", {}, 0, 1,
                 {0, 1, 1, 1, 1, 1, 1, 1, 0}},
        FormCase{"PgmMaxval1", makePgm(2, 1, 1, {0, 1}), "", {}, 0, 1, {0, 1}},
        FormCase{"PgmMaxval2", makePgm(3, 1, 2, {0, 1, 2}), "", {}, 0, 2, {0, 2, 3}},
        FormCase{"PgmMaxval3", makePgm(2, 2, 3, {0, 1, 2, 3}), "", {}, 0, 2, {0, 1, 2, 3}},
        FormCase{"PgmMaxval15", makePgm(5, 1, 15, {0, 1, 7, 14, 15}), "", {}, 0, 4, {0, 1, 7, 14, 15}},
        FormCase{"PgmMaxval100", makePgm(3, 1, 100, {0, 50, 100}), "", {"-force"}, 0, 8, {0, 128, 255}},
        FormCase{"PgmMaxval255", makePgm(3, 1, 255, {0, 17, 255}), "", {"-force"}, 0, 8, {0, 17, 255}},
        FormCase{"PgmMaxval1000", makePgm(3, 1, 1000, {0, 500, 1000}), "", {}, 0, 16, {0, 32768, 65535}},
        FormCase{"PgmMaxval65535", makePgm(3, 1, 65535, {258, 0, 65535}), "", {}, 0, 16, {258, 0, 65535}},
        FormCase{"PlainPgm", makePgm(2, 1, 255, {3, 250}, true), "", {"-force"}, 0, 8, {3, 250}},
        FormCase{"PpmColour", makePpm(2, 1, 255, {1, 2, 3, 4, 5, 6}), "", {"-force"}, 2, 8, {1, 2, 3, 4, 5, 6}},
        FormCase{"PpmMaxval31", makePpm(1, 1, 31, {0, 16, 31}), "", {"-force"}, 2, 8, {0, 132, 255}},
        FormCase{"PpmMaxval65535", makePpm(1, 1, 65535, {258, 1, 65535}), "", {}, 2, 16, {258, 1, 65535}},
        FormCase{"PpmAllGrey", greyRgb(17), "", {}, 0, 8, greyLevels(17)},
        FormCase{"PpmAllGreyForced", makePpm(2, 1, 255, {9, 9, 9, 80, 80, 80}), "", {"-force"}, 2, 8,
                 {9, 9, 9, 80, 80, 80}},
        FormCase{"PpmWithMask", makePpm(2, 1, 255, {1, 2, 3, 4, 5, 6}), makePgm(2, 1, 255, {0, 200}), {"-force"}, 6, 8,
                 {1, 2, 3, 0, 4, 5, 6, 200}},
        FormCase{"PgmWithMask", makePgm(2, 1, 255, {10, 20}), makePgm(2, 1, 255, {255, 7}), {"-force"}, 4, 8,
                 {10, 255, 20, 7}},
        FormCase{"PbmWithMaskMaxval1", makePbm(2, 1, {1, 0}), makePbm(2, 1, {0, 1}), {"-force"}, 4, 8, {0, 255, 255, 0}},
        FormCase{"MaskMaxval3", makePgm(4, 1, 255, {1, 2, 3, 4}), makePgm(4, 1, 3, {0, 1, 2, 3}), {"-force"}, 4, 8,
                 {1, 0, 2, 85, 3, 170, 4, 255}},
        FormCase{"Mask16BitUnder16BitImage", makePgm(1, 1, 65535, {258}), makePgm(1, 1, 255, {128}), {}, 4, 16,
                 {258, 32896}},
        FormCase{"OpaqueMaskStaysAlpha", makePpm(1, 1, 255, {5, 6, 7}), makePgm(1, 1, 255, {255}), {"-force"}, 6, 8,
                 {5, 6, 7, 255}},
        FormCase{"Downscale", makePgm(4, 1, 100000, {0, 50000, 99999, 100000}, true), "", {"-downscale"}, 0, 16,
                 {0, 32768, 65534, 65535}},
        FormCase{"DownscaleFullWidth", makePpm(1, 1, 4294967295u, {4294967295u, 2147483648u, 1}, true), "",
                 {"-downscale"}, 2, 16, {65535, 32768, 0}}),
    formName);

TEST(Output, ZeroRowColourImageCountsAsGrey) {
    // A 0-row image has no colour pixel; libpng then refuses the empty header.
    RunResult r = run({"-verbose"}, "P6\n3 0\n255\n");
    EXPECT_NE(r.err.find("writing an 8-bit gray file"), std::string::npos) << r.err;
}

TEST(Output, WideMaxvalNeedsDownscale) {
    RunResult r = run({}, makePgm(1, 1, 70000, {1}, true));
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(r.err, "rasterpack: can only handle files up to 16-bit (use -downscale to override\n");
    EXPECT_TRUE(r.out.empty());
}

TEST(Output, TruncatedRasterEndsWithOneLine) {
    for (const std::string& image : {std::string("P5\n4 4\n255\nab"), std::string("P6\n2 2\n255\n\1\2\3")}) {
        RunResult r = run({}, image);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(countLines(r.err), 1) << r.err;
        EXPECT_EQ(r.err.rfind("rasterpack: ", 0), 0u) << r.err;
    }
}

// Wider than libpng's default cap for reading, which does not apply to writing.
TEST(Output, ImageWiderThanAMillionColumns) {
    const int cols = 1000001;
    RunResult r = run({}, "P4\n" + std::to_string(cols) + " 1\n" + std::string((cols + 7) / 8, '\0'));
    ASSERT_EQ(r.status, 0) << r.err;
    PngHeader h = pngHeader(r.out);
    EXPECT_EQ(h.width, uint32_t(cols));
    EXPECT_EQ(h.depth, 1);
    std::string raw = inflatedImageData(r.out);
    ASSERT_EQ(raw.size(), 1 + size_t(cols + 7) / 8);
    // all white: every packed bit set, the last byte's padding included or not
    EXPECT_EQ(uint8_t(raw[1]), 0xff);
    EXPECT_EQ(uint8_t(raw[raw.size() - 1]) & 0x80, 0x80);
}

TEST(Output, MaskOfAnotherSizeIsRejected) {
    RunResult r = run(withMask(makePgm(2, 2, 255, {0, 0, 0, 0})), makePgm(3, 2, 255, {1, 2, 3, 4, 5, 6}));
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(r.err, "rasterpack: dimensions for image and alpha mask do not agree\n");
    EXPECT_TRUE(r.out.empty());
}

// --- interlacing and input streams ------------------------------------------------

struct StreamCase {
    const char* name;
    std::string image;
    std::string mask;
};

std::vector<Sample> rampSamples(int n, Sample maxval, int stride) {
    std::vector<Sample> v;
    for (int i = 0; i < n; ++i) v.push_back(Sample((uint64_t(i) * stride) % (uint64_t(maxval) + 1)));
    return v;
}

std::vector<int> rampBits(int n) {
    std::vector<int> v;
    for (int i = 0; i < n; ++i) v.push_back((i * 7 / 3) % 2);
    return v;
}

class Streams : public testing::TestWithParam<StreamCase> {};

TEST_P(Streams, InterlacedDecodesToTheSamePixels) {
    const StreamCase& c = GetParam();
    std::vector<std::string> plainArgs = c.mask.empty() ? std::vector<std::string>{} : withMask(c.mask);
    std::vector<std::string> interlacedArgs = plainArgs;
    interlacedArgs.push_back("-interlace");
    RunResult plain = run(plainArgs, c.image);
    RunResult interlaced = run(interlacedArgs, c.image);
    ASSERT_EQ(plain.status, 0) << plain.err;
    ASSERT_EQ(interlaced.status, 0) << interlaced.err;
    EXPECT_EQ(pngHeader(plain.out).interlace, 0);
    EXPECT_EQ(pngHeader(interlaced.out).interlace, 1);
    DecodedPng a = decodePng(plain.out), b = decodePng(interlaced.out);
    ASSERT_TRUE(a.ok && b.ok);
    EXPECT_EQ(a.samples, b.samples);
    EXPECT_NE(plain.out, interlaced.out);
}

// Standard input through a pipe, standard input from a file and a named file
// give the same bytes, also when every pass rewinds the input.
TEST_P(Streams, PipeFileAndNameGiveTheSameBytes) {
    const StreamCase& c = GetParam();
    std::string dir = scratchDir();
    writeFile(dir + "/in.pnm", c.image);
    std::vector<std::string> args = c.mask.empty() ? std::vector<std::string>{} : withMask(c.mask);
    args.push_back("-interlace");
    RunResult piped = runProgram(rasterpackPath(), args, c.image);
    RunResult redirected = runProgram(rasterpackPath(), args, "", dir + "/in.pnm");
    std::vector<std::string> named = args;
    named.push_back(dir + "/in.pnm");
    RunResult byName = runProgram(rasterpackPath(), named, "");
    ASSERT_EQ(piped.status, 0) << piped.err;
    EXPECT_TRUE(decodePng(piped.out).ok);
    EXPECT_EQ(piped.out, redirected.out);
    EXPECT_EQ(piped.out, byName.out);
}

std::string streamName(const testing::TestParamInfo<StreamCase>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(
    Images, Streams,
    testing::Values(StreamCase{"Pbm", makePbm(13, 11, rampBits(13 * 11)), ""},
                    StreamCase{"Pgm4Bit", makePgm(9, 7, 15, rampSamples(63, 15, 5)), ""},
                    StreamCase{"Pgm100", makePgm(17, 10, 100, rampSamples(170, 100, 3)), ""},
                    StreamCase{"Ppm16Bit", makePpm(10, 9, 65535, rampSamples(270, 65535, 4099)), ""},
                    StreamCase{"PpmWithMask", makePpm(12, 5, 255, rampSamples(180, 255, 11)),
                               makePgm(12, 5, 255, rampSamples(60, 255, 29))},
                    StreamCase{"OnePixel", makePgm(1, 1, 255, {42}), ""}),
    streamName);

// --- the libpng failure path ---------------------------------------------------------

class LibpngFailure : public testing::TestWithParam<std::string> {};

TEST_P(LibpngFailure, EndsWithTheTwoLines) {
    RunResult r = run({}, GetParam());
    EXPECT_EQ(r.status, 1);
    size_t handler = r.err.find("rasterpack:  fatal libpng error: ");
    ASSERT_NE(handler, std::string::npos) << r.err;
    size_t lineEnd = r.err.find('\n', handler);
    ASSERT_NE(lineEnd, std::string::npos);
    // libpng's own warnings may come first; the conversion's line closes the run.
    EXPECT_EQ(r.err.substr(lineEnd + 1), "rasterpack: setjmp returns error condition (2)\n") << r.err;
}

// A full disk fails libpng's writes while the rows go out: the jump comes
// back from inside the row loop and the structures are released once.
TEST(LibpngFailure, WriteErrorDuringTheRowsEndsWithTheTwoLines) {
    std::vector<Sample> rgb;
    for (int i = 0; i < 200 * 200 * 3; ++i) rgb.push_back(Sample((i * 2654435761u) >> 24));
    RunResult r = runProgram("/bin/sh", {"-c", "exec \"$0\" -interlace > /dev/full", rasterpackPath()},
                             makePpm(200, 200, 255, rgb));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "rasterpack:  fatal libpng error: Write Error\n"
              "rasterpack: setjmp returns error condition (2)\n");
}

INSTANTIATE_TEST_SUITE_P(EmptyImages, LibpngFailure,
                         testing::Values("P6\n0 4\n255\n", "P5\n0 0\n255\n", "P4\n5 0\n", "P5\n3 0\n255\n"));

// --- verbose messages ------------------------------------------------------------------

struct VerboseCase {
    const char* name;
    std::string image;
    std::vector<std::string> args;
    std::string messages;
};

class Verbose : public testing::TestWithParam<VerboseCase> {};

TEST_P(Verbose, ReportsEachDecision) {
    std::vector<std::string> args = {"-verbose"};
    args.insert(args.end(), GetParam().args.begin(), GetParam().args.end());
    RunResult r = run(args, GetParam().image);
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.err, GetParam().messages);
}

std::string verboseName(const testing::TestParamInfo<VerboseCase>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(
    Runs, Verbose,
    testing::Values(VerboseCase{"Grey", makePgm(2, 1, 255, {1, 2}), {"-force", "-gamma", "1"},
                                "rasterpack: reading a PGM file (maxval=255)\n"
                                "rasterpack: Writing 8 bits per component per pixel\n"
                                "rasterpack: writing an 8-bit gray file\n"
                                "rasterpack: No transparent color\n"},
                    VerboseCase{"Bitmap", makePbm(2, 1, {1, 0}), {"-interlace"},
                                "rasterpack: reading a PBM file (maxval=1)\n"
                                "rasterpack: Writing 1 bits per component per pixel\n"
                                "rasterpack: writing a 1-bit gray file (interlaced)\n"
                                "rasterpack: No transparent color\n"},
                    VerboseCase{"Rgb16", makePpm(1, 1, 1000, {1, 2, 3}), {"-transparent", "#ff0000"},
                                "rasterpack: reading a PPM file (maxval=1000)\n"
                                "rasterpack: Writing 16 bits per component per pixel\n"
                                "rasterpack: writing a 48-bit RGB file\n"
                                "rasterpack: Transparent color {gray, red, green, blue} = {0, 65535, 0, 0}\n"
                                "rasterpack: Writing sBIT chunk with sbitval = 10\n"},
                    VerboseCase{"GreyBackground", makePgm(1, 1, 15, {3}), {"-force", "-background", "#ffffff"},
                                "rasterpack: reading a PGM file (maxval=15)\n"
                                "rasterpack: Writing 4 bits per component per pixel\n"
                                "rasterpack: writing a 4-bit gray file\n"
                                "rasterpack: No transparent color\n"
                                "rasterpack: Writing bKGD chunk with background color  {gray, red, green, blue} = "
                                "{15, 15, 15, 15}\n"}),
    verboseName);

TEST(Verbose, AlphaImageMessages) {
    RunResult r = run(withMask(makePgm(1, 1, 255, {9}), {"-verbose", "-force"}), makePpm(1, 1, 255, {1, 2, 3}));
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.err,
              "rasterpack: reading a PPM file (maxval=255)\n"
              "rasterpack: reading alpha-channel image...\n"
              "rasterpack: Writing 8 bits per component per pixel\n"
              "rasterpack: writing a 32-bit RGB+alpha file\n"
              "rasterpack: No transparent color\n");
}

}  // namespace

namespace {

// A raw raster one byte short, from a file or a pipe, with or without the
// passes that read it ahead: refused before any byte of PNG is written.
TEST(ShortRaster, IsRefusedBeforeAnyOutput) {
    const std::string images[] = {makePbm(9, 2, std::vector<int>(18, 1)), makePgm(2, 2, 255, {1, 2, 3, 4}),
                                  makePgm(2, 2, 65535, {1, 2, 3, 4}), makePpm(1, 2, 255, {1, 2, 3, 4, 5, 6})};
    const std::string dims[] = {"9 x 2", "2 x 2", "2 x 2", "1 x 2"};
    const std::string path = scratchDir() + "/short.pnm";
    for (int i = 0; i < 4; ++i) {
        std::string image = images[i].substr(0, images[i].size() - 1);
        writeFile(path, image);
        for (const std::vector<std::string>& args : {std::vector<std::string>{}, std::vector<std::string>{"-force"}}) {
            for (bool fromFile : {false, true}) {
                RunResult r = runProgram(rasterpackPath(), args, image, fromFile ? path : "");
                SCOPED_TRACE(dims[i] + (fromFile ? " file" : " pipe"));
                EXPECT_EQ(r.status, 1);
                EXPECT_EQ(r.err, "rasterpack: premature end of file in the raster (the header promises " + dims[i] +
                                     " pixels)\n");
                EXPECT_TRUE(r.out.empty());
            }
        }
    }
}

// A raster whose bytes are all there but that the row reader refuses part
// way: a plain one that ends early or holds a stray character, a sample
// above maxval. Refused before any output, in every mode, whether or not an
// analysis would have read that far.
struct BadRasterCase {
    const char* name;
    std::string image;
    const char* message;
};

TEST(BadRaster, IsRefusedBeforeAnyOutputInEveryMode) {
    const BadRasterCase cases[] = {
        {"plain PBM ending early", "P1\n5 3\n1 1 0 1 0\n0 0 0", "premature end of file in the raster"},
        {"plain PBM with a stray character", "P1\n3 2\n1 0 1\n0 x 1", "stray character 'x' in the plain raster"},
        {"plain 16-bit PGM ending early", "P2\n2 2\n300\n1   2   3", "premature end of file in the raster"},
        {"plain 16-bit PPM with a stray character", "P3\n2 1\n300\n1 2 3 4 5 ;",
         "stray character ';' in the plain raster"},
        {"plain PGM above maxval", "P2\n2 1\n100\n50 200\n", "sample value 200 is above maxval 100"},
        {"raw PGM above maxval", std::string("P5\n2 1\n100\n\x32\xc8", 14), "sample value 200 is above maxval 100"},
        {"raw 16-bit PPM above maxval", std::string("P6\n2 1\n300\n\0\1\0\1\0\1\1\0\2\0\3\0", 24),
         "sample value 512 is above maxval 300"},
    };
    const std::vector<std::vector<std::string>> modes = {{}, {"-force"}, {"-interlace"}, {"-threads", "2"},
                                                         {"-optimize"}, {"-optimize", "-force"}};
    const std::string path = scratchDir() + "/bad.pnm";
    for (const BadRasterCase& c : cases) {
        writeFile(path, c.image);
        for (const std::vector<std::string>& args : modes) {
            for (bool fromFile : {false, true}) {
                RunResult r = runProgram(rasterpackPath(), args, c.image, fromFile ? path : "");
                SCOPED_TRACE(std::string(c.name) + (args.empty() ? "" : " " + args[0]) + (fromFile ? " file" : " pipe"));
                EXPECT_EQ(r.status, 1);
                EXPECT_EQ(r.err, std::string("rasterpack: ") + c.message + "\n");
                EXPECT_TRUE(r.out.empty()) << r.out.size() << " bytes";
            }
        }
    }
}

}  // namespace
