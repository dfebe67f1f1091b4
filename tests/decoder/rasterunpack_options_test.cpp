// rasterunpack's command line and its failures, end to end: every failure is
// one clear line, a non-zero status and nothing on standard output.
#include "pngbuilder.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <png.h>
#include <zlib.h>

#include <sys/stat.h>

#include <random>

using namespace testkit;

namespace {

RunResult run(const std::vector<std::string>& args, const std::string& input = "") {
    return runProgram(rasterunpackPath(), args, input);
}

const char* const USAGE =
    "usage: rasterunpack [-verbose] [-alpha | -mix] [-background color] ...\n"
    "             ... [-gamma value] [-text file] [-time] [pngfile]\n";

std::string versionLine() {
    return std::string("rasterunpack version 2.37.4 (5 December 1999) +orrim, compiled with libpng version ") +
           PNG_LIBPNG_VER_STRING + "\n";
}

// One pixel of each alpha: the alpha mode shows in the output.
std::string rgbaPng() {
    PngRecipe s;
    s.width = 2;
    s.colorType = 6;
    s.samples = {200, 10, 0, 128, 1, 2, 3, 255};
    return buildPng(s);
}

struct ArgsCase {
    const char* name;
    std::vector<std::string> args;
    std::string pnm;  // expected output of rgbaPng()
};

class Accepted : public testing::TestWithParam<ArgsCase> {};

TEST_P(Accepted, Runs) {
    const ArgsCase& c = GetParam();
    std::vector<std::string> args = c.args;
    for (std::string& a : args)
        if (a == "FILE") a = scratchDir() + "/text.out";
    RunResult r = run(args, rgbaPng());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, c.pnm);
}

const std::string COLOUR = makePpm(2, 1, 255, {200, 10, 0, 1, 2, 3});
const std::string ALPHA = makePgm(2, 1, 255, {128, 255});
const std::string MIXED_WHITE = makePpm(2, 1, 255, {227, 132, 127, 1, 2, 3});
const std::string MIXED_RED = makePpm(2, 1, 255, {227, 5, 0, 1, 2, 3});

INSTANTIATE_TEST_SUITE_P(
    Abbreviations, Accepted,
    testing::Values(ArgsCase{"None", {}, COLOUR}, ArgsCase{"V", {"-v"}, COLOUR}, ArgsCase{"A", {"-a"}, ALPHA},
                    ArgsCase{"M", {"-m"}, MIXED_WHITE}, ArgsCase{"MixB", {"-m", "-b", "red"}, MIXED_RED},
                    ArgsCase{"BackgroundAlone", {"-background", "red"}, COLOUR},
                    ArgsCase{"G", {"-g", "1"}, COLOUR}, ArgsCase{"Te", {"-te", "FILE"}, COLOUR},
                    ArgsCase{"Ti", {"-ti"}, COLOUR}, ArgsCase{"AlphaThenMix", {"-alpha", "-mix"}, MIXED_WHITE},
                    ArgsCase{"MixThenAlpha", {"-mix", "-alpha"}, ALPHA},
                    ArgsCase{"DoubleHyphen", {"--alpha"}, ALPHA},
                    ArgsCase{"GammaNotANumber", {"-gamma", "x"}, COLOUR},
                    ArgsCase{"GammaMinusOne", {"-gamma", "-1"}, COLOUR},
                    ArgsCase{"LoneHyphenIsStdin", {"-"}, COLOUR}),
    [](const testing::TestParamInfo<ArgsCase>& info) { return info.param.name; });

TEST(CommandLine, GammaThatIsNotANumberSaysNothing) {
    RunResult r = run({"-gamma", "x"}, rgbaPng());
    EXPECT_EQ(r.err, "");
}

struct UsageCase {
    const char* name;
    std::vector<std::string> args;
    bool version;  // the version line comes first
};

class Usage : public testing::TestWithParam<UsageCase> {};

TEST_P(Usage, EndsWithTheSynopsis) {
    const UsageCase& c = GetParam();
    RunResult r = run(c.args, rgbaPng());
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, (c.version ? versionLine() : "") + USAGE);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, Usage,
    testing::Values(UsageCase{"TMatchesNeitherTextNorTime", {"-t"}, true}, UsageCase{"Unknown", {"-x"}, true},
                    UsageCase{"TooLong", {"-verbosely"}, true}, UsageCase{"GammaLast", {"-gamma"}, false},
                    UsageCase{"BackgroundLast", {"-background"}, false}, UsageCase{"TextLast", {"-text"}, false},
                    UsageCase{"ArgumentAfterLoneHyphen", {"-", "extra"}, false},
                    UsageCase{"TwoFiles", {"/dev/null", "/dev/null"}, false}),
    [](const testing::TestParamInfo<UsageCase>& info) { return info.param.name; });

// A display gamma that is not a finite positive number (-1, the same as no
// -gamma, and 0 aside) has no meaning: libpng used to read some of them as
// its presets or as fixed point.
class RefusedGamma : public testing::TestWithParam<const char*> {};

TEST_P(RefusedGamma, OneLineBeforeAnyOutput) {
    std::string value = GetParam();
    RunResult r = run({"-mix", "-gamma", value}, rgbaPng());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "rasterunpack: -gamma value '" + value + "' is not a finite positive number\n");
}

INSTANTIATE_TEST_SUITE_P(Values, RefusedGamma,
                         testing::Values("-1.5", "-2", "-3", "-0.5", "nan", "inf", "-inf", "1e39"));

TEST(CommandLine, FileByNameAndPipeGiveTheSameBytes) {
    std::string path = scratchDir() + "/in.png";
    writeFile(path, rgbaPng());
    RunResult byName = run({"-mix", path});
    RunResult redirected = runProgram(rasterunpackPath(), {"-mix"}, "", path);
    RunResult piped = run({"-mix"}, rgbaPng());
    EXPECT_EQ(byName.out, MIXED_WHITE);
    EXPECT_EQ(redirected.out, MIXED_WHITE);
    EXPECT_EQ(piped.out, MIXED_WHITE);
}

TEST(CommandLine, MissingFileIsReportedBeforeSurplusArguments) {
    RunResult r = run({"/nonexistent/x.png", "extra"});
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("/nonexistent/x.png"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("usage:"), std::string::npos) << r.err;
}

// --- failures ------------------------------------------------------------------

TEST(Failure, FullOutputIsAFailure) {
    RunResult r = runProgram("/bin/sh", {"-c", "exec \"$0\" > /dev/full", rasterunpackPath()}, rgbaPng());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(countLines(r.err), 1) << r.err;
}

// The text dump is complete before the PNM: a text file that cannot be
// written ends the run with nothing on standard output, naming that file.
TEST(Failure, UnwritableTextFileLeavesStandardOutputEmpty) {
    for (size_t textBytes : {size_t(5), size_t(100000)}) {
        PngRecipe s;
        s.samples = {7};
        s.beforeData = {{"tEXt", "Title" + std::string(1, '\0') + std::string(textBytes, 'x')}};
        RunResult r = run({"-text", "/dev/full"}, buildPng(s));
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "rasterunpack: error writing the text file '/dev/full': No space left on device\n");
    }
}

std::string validPng() {
    PngRecipe s;
    s.width = 3;
    s.height = 2;
    s.colorType = 2;
    s.samples.assign(18, 7);
    return buildPng(s);
}

// Offset of a chunk's type in png.
size_t chunkAt(const std::string& png, const std::string& type) { return png.find(type); }

std::string flipped(std::string png, size_t at) {
    png[at] = char(png[at] ^ 0x40);
    return png;
}

// IHDR claiming a large image, with a few rows' worth of data.
std::string hugeClaim(uint32_t width, uint32_t height) {
    PngRecipe rows;
    rows.width = width;
    rows.height = 2;
    rows.depth = 16;
    rows.colorType = 6;
    rows.samples.assign(size_t(width) * 2 * 4, 0);
    return assemblePng({{"IHDR", ihdrData(width, height, 16, 6, false)}, {"IDAT", imageData(rows)}, {"IEND", ""}});
}

struct FailureCase {
    const char* name;
    std::string input;
    std::vector<std::string> args;
    std::string lastLine;
    bool fromLibpng;  // libpng's own line comes first
};

class Failure : public testing::TestWithParam<FailureCase> {};

TEST_P(Failure, OneLineNothingWritten) {
    const FailureCase& c = GetParam();
    std::string textFile = scratchDir() + "/text.out";
    std::vector<std::string> args = c.args;
    args.push_back("-text");
    args.push_back(textFile);
    RunResult r = run(args, c.input);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    std::string last = "rasterunpack: " + c.lastLine + "\n";
    ASSERT_GE(r.err.size(), last.size()) << r.err;
    EXPECT_EQ(r.err.substr(r.err.size() - last.size()), last) << r.err;
    if (c.fromLibpng) {
        EXPECT_EQ(r.err.rfind("rasterunpack:  fatal libpng error: ", 0), 0u) << r.err;
    }
    // The text file is created before the PNG is read, failure or not.
    struct stat st;
    EXPECT_EQ(stat(textFile.c_str(), &st), 0);
}

const std::string PNG = validPng();

std::string withGama(const std::string& png) {
    std::vector<PngChunk> chunks = pngChunks(png);
    chunks.insert(chunks.begin() + 1, PngChunk{"gAMA", bytes32({45455})});
    return assemblePng(chunks);
}
const char* const SETJMP = "setjmp returns error condition";

INSTANTIATE_TEST_SUITE_P(
    Inputs, Failure,
    testing::Values(
        FailureCase{"Empty", "", {}, "input file is empty or too short", false},
        FailureCase{"ThreeBytes", PNG.substr(0, 3), {}, "input file is empty or too short", false},
        FailureCase{"Gif", "GIF89a\1\0\1\0", {}, "input file is not a PNG file", false},
        FailureCase{"Text", "P6\n1 1\n255\n", {}, "input file is not a PNG file", false},
        FailureCase{"DamagedSignatureByte6", flipped(PNG, 5), {}, SETJMP, true},
        FailureCase{"SignatureOnly", PNG.substr(0, 8), {}, SETJMP, true},
        FailureCase{"BadHeaderCrc", flipped(PNG, chunkAt(PNG, "IHDR") + 6), {}, SETJMP, true},
        FailureCase{"BadDataCrc", flipped(PNG, chunkAt(PNG, "IDAT") + 6), {}, SETJMP, true},
        FailureCase{"TruncatedData", PNG.substr(0, chunkAt(PNG, "IDAT") + 10), {}, SETJMP, true},
        // The image is whole but the end is missing: still no output.
        FailureCase{"NoEnd", PNG.substr(0, chunkAt(PNG, "IEND") - 4), {}, SETJMP, true},
        FailureCase{"HugeClaimLittleData", hugeClaim(100000, 100000), {}, SETJMP, true},
        FailureCase{"BadBackgroundWithoutMix", PNG, {"-background", "nocolour"},
                    "invalid color 'nocolour': unknown color name", false},
        FailureCase{"GammaZeroWithGama", withGama(PNG), {"-gamma", "0"},
                    "-gamma 0 applies only to a PNG without gAMA; this one has an image gamma of 0.45455", false}),
    [](const testing::TestParamInfo<FailureCase>& info) { return info.param.name; });

// Property: a PNG with any one byte of a chunk changed (its CRC made right
// again, so that the change reaches the decoder) or cut short anywhere is
// decoded or refused cleanly: status 0 with a PNM, or status 1 with nothing
// on standard output and the decoder's own last line.
TEST(Failure, DamagedPngsAreDecodedOrRefusedCleanly) {
    PngRecipe palette;
    palette.width = 5;
    palette.height = 3;
    palette.depth = 4;
    palette.colorType = 3;
    palette.interlace = true;
    palette.samples = {0, 1, 2, 3, 1, 2, 0, 1, 2, 3, 3, 2, 1, 0, 1};
    palette.beforeData = {{"gAMA", bytes32({45455})},     {"sBIT", "\3\3\3"},
                          {"PLTE", std::string(12, '\x40')}, {"tRNS", "\0\x80"},
                          {"bKGD", std::string(1, '\2')},    {"pHYs", bytes32({2, 1}) + '\1'},
                          {"tEXt", std::string("Title\0x", 7)}};
    palette.afterData = {{"tIME", bytes16({2003}) + "\1\2\3\4\5"}};
    PngRecipe rgba;
    rgba.width = 3;
    rgba.height = 2;
    rgba.depth = 16;
    rgba.colorType = 6;
    rgba.samples.assign(24, 0x8123);
    rgba.beforeData = {{"sBIT", "\5\5\5\1"}, {"bKGD", bytes16({1, 2, 3})}};
    const std::vector<std::vector<std::string>> argSets = {{}, {"-mix"}, {"-alpha"}, {"-gamma", "2.2", "-mix"}};
    std::mt19937 rng(7);
    for (const std::string& base : {buildPng(palette), buildPng(rgba)}) {
        std::vector<PngChunk> chunks = pngChunks(base);
        for (int trial = 0; trial < 80; ++trial) {
            std::string damaged;
            if (trial % 4 == 3) {
                damaged = base.substr(0, 8 + rng() % (base.size() - 8));
            } else {
                std::vector<PngChunk> changed = chunks;
                PngChunk& c = changed[rng() % changed.size()];
                if (c.data.empty()) continue;
                c.data[rng() % c.data.size()] = char(rng());
                damaged = assemblePng(changed);
            }
            RunResult r = run(argSets[size_t(trial) % argSets.size()], damaged);
            SCOPED_TRACE("trial " + std::to_string(trial) + ": " + r.err);
            if (r.status == 0) {
                EXPECT_EQ(r.out.compare(0, 1, "P"), 0);
            } else {
                EXPECT_EQ(r.status, 1);
                EXPECT_EQ(r.out, "");
                EXPECT_NE(r.err.find("rasterunpack: "), std::string::npos);
            }
        }
    }
}

#if defined(__SANITIZE_ADDRESS__)
#define UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define UNDER_ASAN 1
#endif
#endif

#ifndef UNDER_ASAN
// count copies of block as one zlib stream, deflated a copy at a time.
std::string deflatedCopies(const std::string& block, uint32_t count) {
    std::string in = block;
    std::string data;
    z_stream z{};
    EXPECT_EQ(deflateInit(&z, 1), Z_OK);
    std::string out(1 << 20, '\0');
    for (uint32_t i = 0; i < count; ++i) {
        z.next_in = reinterpret_cast<Bytef*>(&in[0]);
        z.avail_in = uInt(in.size());
        int flush = i + 1 == count ? Z_FINISH : Z_NO_FLUSH;
        do {
            z.next_out = reinterpret_cast<Bytef*>(&out[0]);
            z.avail_out = uInt(out.size());
            deflate(&z, flush);
            data.append(out, 0, out.size() - z.avail_out);
        } while (z.avail_out == 0);
    }
    deflateEnd(&z);
    return data;
}

// The image data of height all-zero rows of rowBytes bytes (filter byte included).
std::string zeroRowsData(size_t rowBytes, uint32_t height) {
    return deflatedCopies(std::string(rowBytes, '\0'), height);
}

// Runs rasterunpack on the PNG under an address-space limit of limitKb.
RunResult runLimited(const std::string& png, int limitKb) {
    std::string path = scratchDir() + "/limited.png";
    writeFile(path, png);
    return runProgram("/bin/sh", {"-c", "ulimit -v " + std::to_string(limitKb) + "; exec \"$0\" \"$1\"",
                                  rasterunpackPath(), path});
}
#endif

TEST(Memory, ImageBeyondTheAddressSpaceLimitEndsWithTheMessage) {
#ifdef UNDER_ASAN
    GTEST_SKIP() << "the sanitizer needs more address space than the limit leaves";
#else
    // Rows of 8 MB under a 100 MB limit: the rows run out of room.
    const uint32_t width = 1000000, height = 20;
    std::string data = zeroRowsData(size_t(width) * 8 + 1, height);
    RunResult r = runLimited(
        assemblePng({{"IHDR", ihdrData(width, height, 16, 6, false)}, {"IDAT", data}, {"IEND", ""}}), 100000);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "rasterunpack: couldn't allocate space for image\n");
#endif
}

// A 1-bit image is held as its bits: 100 rows of a million pixels cost
// 12.5 MB, not 100 MB.
TEST(Memory, BitImageIsHeldPacked) {
#ifdef UNDER_ASAN
    GTEST_SKIP() << "the sanitizer needs more address space than the limit leaves";
#else
    const uint32_t width = 1000000, height = 100;
    std::string data = zeroRowsData(width / 8 + 1, height);
    RunResult r = runLimited(
        assemblePng({{"IHDR", ihdrData(width, height, 1, 0, false)}, {"IDAT", data}, {"IEND", ""}}), 60000);
    EXPECT_EQ(r.status, 0) << r.err;
    size_t header = r.out.find('\n', 3) + 1;  // "P4\n1000000 100\n"
    EXPECT_EQ(r.out.size() - header, size_t(height) * width / 8);
#endif
}

// 20 zTXt chunks of 30 MiB text each in 700 KB: without -text none is
// inflated, and 600 MiB of text do not fit a 200 MB address space.
TEST(Memory, TextChunksAreNotInflatedWithoutText) {
#ifdef UNDER_ASAN
    GTEST_SKIP() << "the sanitizer needs more address space than the limit leaves";
#else
    PngChunk ztxt{"zTXt", std::string("Comment\0\0", 9) + deflatedCopies(std::string(1 << 20, 'A'), 30)};
    std::vector<PngChunk> chunks{{"IHDR", ihdrData(1, 1, 8, 0, false)}};
    chunks.insert(chunks.end(), 20, ztxt);
    chunks.push_back({"IDAT", deflatedCopies(std::string(2, '\0'), 1)});
    chunks.push_back({"IEND", ""});
    RunResult r = runLimited(assemblePng(chunks), 200000);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, makePgm(1, 1, 255, {0}));
#endif
}

}  // namespace

namespace {

// A chunk that claims 2 GiB over a few bytes is refused by its length, not
// allocated and then found short.
TEST(Memory, ChunkClaimingGigabytesIsRefusedBeforeItsAllocation) {
    std::string png = assemblePng({{"IHDR", ihdrData(1, 1, 8, 0, false)}});
    png += std::string("\x7f\xff\xff\xf0tEXtTitle\0short", 19);
    RunResult r = runProgram(rasterunpackPath(), {}, png);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("libpng warning: tEXt: chunk data is too large\n"), std::string::npos) << r.err;
}

}  // namespace
