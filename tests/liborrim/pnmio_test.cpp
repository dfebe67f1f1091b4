// Reading and writing PNM: round trips of every format and sample width,
// header syntax, zero dimensions, every class of malformed input, whole
// images and promotion.
#include <orrim.h>

#include <gtest/gtest.h>

#include "../../liborrim/src/internal.h"
#include "testsupport.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace testkit;

namespace {

struct Image {
    int cols = 0, rows = 0;
    Sample maxval = 0;
    int format = 0;
    std::vector<Xel> px;  // row-major
};

// A real (temporary) file holding bytes, positioned at its start.
FILE* streamOf(const std::string& bytes) {
    FILE* f = tmpfile();
    if (!f) abort();
    if (!bytes.empty() && fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) abort();
    rewind(f);
    return f;
}

Image readImage(const std::string& bytes) {
    FILE* f = streamOf(bytes);
    Image img;
    pnm_readpnminit(f, &img.cols, &img.rows, &img.maxval, &img.format);
    img.px.resize(size_t(img.cols) * img.rows);
    for (int y = 0; y < img.rows; ++y)
        pnm_readpnmrow(f, img.px.data() + size_t(y) * img.cols, img.cols, img.maxval, img.format);
    fclose(f);
    return img;
}

std::string writeImage(const Image& img, int format, bool plain) {
    char* data = nullptr;
    size_t size = 0;
    FILE* f = open_memstream(&data, &size);
    pnm_writepnminit(f, img.cols, img.rows, img.maxval, format, plain);
    for (int y = 0; y < img.rows; ++y)
        pnm_writepnmrow(f, img.px.data() + size_t(y) * img.cols, img.cols, img.maxval, format, plain);
    fclose(f);
    std::string out(data, size);
    free(data);
    return out;
}

Xel grey(Sample v) { return Xel{v, v, v}; }

// A string literal with any NUL bytes it holds.
template <size_t N>
std::string bytesOf(const char (&literal)[N]) {
    return std::string(literal, N - 1);
}

// A test pattern touching 0, maxval and values in between.
std::vector<Sample> patternSamples(size_t count, Sample maxval) {
    std::vector<Sample> s(count);
    for (size_t i = 0; i < count; ++i) s[i] = Sample((uint64_t(i) * 2654435761u) % (uint64_t(maxval) + 1));
    if (count > 0) s[0] = maxval;
    if (count > 1) s[1] = 0;
    return s;
}

// --------------------------------------------------------------------------
// Round trips: fixture bytes -> reader -> expected values; writer -> reader.

struct RoundTripCase {
    int family;
    bool plain;
    Sample maxval;
};

class RoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(RoundTrip, ReadsFixtureAndSurvivesWriteRead) {
    const RoundTripCase c = GetParam();
    const int cols = 11, rows = 3;  // 11 columns: PBM rows end in a partial byte
    Image expected;
    expected.cols = cols;
    expected.rows = rows;
    std::string fixture;
    if (c.family == PBM_FORMAT) {
        std::vector<int> bits(cols * rows);
        for (size_t i = 0; i < bits.size(); ++i) bits[i] = (i * 7 + i / 3) % 3 == 0;
        fixture = makePbm(cols, rows, bits, c.plain);
        expected.maxval = 1;
        for (int b : bits) expected.px.push_back(grey(b ? 0 : 1));  // 1 (black) reads as 0
    } else if (c.family == PGM_FORMAT) {
        std::vector<Sample> s = patternSamples(cols * rows, c.maxval);
        fixture = makePgm(cols, rows, c.maxval, s, c.plain);
        expected.maxval = c.maxval;
        for (Sample v : s) expected.px.push_back(grey(v));
    } else {
        std::vector<Sample> s = patternSamples(3 * cols * rows, c.maxval);
        fixture = makePpm(cols, rows, c.maxval, s, c.plain);
        expected.maxval = c.maxval;
        for (size_t i = 0; i < s.size(); i += 3) expected.px.push_back(Xel{s[i], s[i + 1], s[i + 2]});
    }
    Image got = readImage(fixture);
    EXPECT_EQ(got.cols, cols);
    EXPECT_EQ(got.rows, rows);
    EXPECT_EQ(got.maxval, expected.maxval);
    EXPECT_EQ(got.format, c.plain ? c.family : c.family + 3);
    EXPECT_EQ(got.px, expected.px);

    std::string written = writeImage(got, c.family, c.plain);
    if (!c.plain) {
        EXPECT_EQ(written, fixture);  // raw bytes are fully determined
    }
    Image again = readImage(written);
    EXPECT_EQ(again.format, got.format);
    EXPECT_EQ(again.maxval, got.maxval);
    EXPECT_EQ(again.px, got.px);
}

std::vector<RoundTripCase> roundTripCases() {
    std::vector<RoundTripCase> cases;
    for (bool plain : {false, true}) {
        cases.push_back({PBM_FORMAT, plain, 1});
        for (int family : {PGM_FORMAT, PPM_FORMAT})
            for (Sample maxval : {1u, 255u, 256u, 65535u}) cases.push_back({family, plain, maxval});
    }
    cases.push_back({PGM_FORMAT, true, 65536});
    cases.push_back({PPM_FORMAT, true, 4294967295u});
    return cases;
}

std::string roundTripName(const ::testing::TestParamInfo<RoundTripCase>& info) {
    const char* family = info.param.family == PBM_FORMAT ? "Pbm" : info.param.family == PGM_FORMAT ? "Pgm" : "Ppm";
    return std::string(info.param.plain ? "Plain" : "Raw") + family + "Maxval" + std::to_string(info.param.maxval);
}

INSTANTIATE_TEST_SUITE_P(AllFormats, RoundTrip, ::testing::ValuesIn(roundTripCases()), roundTripName);

TEST(Write, PlainLinesStayWithinSeventyCharacters) {
    Image img;
    img.cols = 100;
    img.rows = 2;
    img.maxval = 65535;
    for (int i = 0; i < 200; ++i) img.px.push_back(Xel{65535, Sample(i), 12345});
    for (int family : {PBM_FORMAT, PGM_FORMAT, PPM_FORMAT}) {
        std::string text = writeImage(img, family, true);
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find('\n', start);
            ASSERT_NE(end, std::string::npos) << "plain output ends without a newline";
            EXPECT_LE(end - start, 70u) << text.substr(start, end - start);
            start = end + 1;
        }
        EXPECT_EQ(readImage(text).px.size(), 200u);
    }
}

TEST(Write, RawPbmPacksEightPixelsAByteMostSignificantFirst) {
    Image img;
    img.cols = 10;
    img.rows = 1;
    img.maxval = 1;
    for (int x = 0; x < 10; ++x) img.px.push_back(grey(x == 0 || x == 9 ? 0 : 1));
    EXPECT_EQ(writeImage(img, RPBM_FORMAT, false), bytesOf("P4\n10 1\n\x80\x40"));
}

TEST(Write, TwoByteSamplesAboveMaxval255AreBigEndian) {
    Image img;
    img.cols = 1;
    img.rows = 1;
    img.maxval = 300;
    img.px.push_back(grey(0x0102));
    EXPECT_EQ(writeImage(img, PGM_FORMAT, false), bytesOf("P5\n1 1\n300\n\x01\x02"));
}

// --------------------------------------------------------------------------
// Header syntax

struct HeaderCase {
    const char* name;
    std::string bytes;
    int cols, rows;
    Sample maxval;
    std::vector<Xel> px;
};

class HeaderSyntax : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(HeaderSyntax, Reads) {
    const HeaderCase& c = GetParam();
    Image img = readImage(c.bytes);
    EXPECT_EQ(img.cols, c.cols);
    EXPECT_EQ(img.rows, c.rows);
    EXPECT_EQ(img.maxval, c.maxval);
    EXPECT_EQ(img.px, c.px);
}

INSTANTIATE_TEST_SUITE_P(
    Variants, HeaderSyntax,
    ::testing::Values(
        HeaderCase{"CommentsEverywhere", "P2#a\n#b\n2#c\n#d\n1 # e\n9#f\n3 # g\n4\n", 2, 1, 9, {grey(3), grey(4)}},
        HeaderCase{"AnyWhiteSpace", "P3\t1\r\n1\v\f7\n1\t2\r3", 1, 1, 7, {Xel{1, 2, 3}}},
        HeaderCase{"RawCommentAfterMaxval", bytesOf("P5 2 1 255# c\n\x05\x06"), 2, 1, 255, {grey(5), grey(6)}},
        HeaderCase{"RawSingleSpaceThenSpaceByte", bytesOf("P5 1 1 255\n "), 1, 1, 255, {grey(32)}},
        HeaderCase{"PlainPbmWithoutSeparators", "P1 3 2 010110", 3, 2, 1,
                   {grey(1), grey(0), grey(1), grey(0), grey(0), grey(1)}},
        HeaderCase{"PlainPbmWithSeparators", "P1\n3 1\n0 1\n\t1", 3, 1, 1, {grey(1), grey(0), grey(0)}},
        HeaderCase{"ZeroByZero", "P6 0 0 255\n", 0, 0, 255, {}},
        HeaderCase{"ZeroColumns", "P5 0 4 255\n", 0, 4, 255, {}},
        HeaderCase{"ZeroRowsPlainPbm", "P1 5 0\n", 5, 0, 1, {}},
        HeaderCase{"PlainSampleBeyond16Bits", "P2 1 1 4294967295 4294967295", 1, 1, 4294967295u,
                   {grey(4294967295u)}},
        // The longest separator and number accepted: 1048576 bytes of white
        // space and comment (the '#' not counted), 1000 digits.
        HeaderCase{"LongestComment", "P2 #" + std::string(1048574, 'x') + "\n1 1 9 4", 1, 1, 9, {grey(4)}},
        HeaderCase{"LongestNumber", "P2 " + std::string(999, '0') + "1 1 9 " + std::string(999, '0') + "4", 1, 1, 9,
                   {grey(4)}}),
    [](const ::testing::TestParamInfo<HeaderCase>& info) { return std::string(info.param.name); });

// --------------------------------------------------------------------------
// Malformed input: one line naming the fault, exit status 1.

struct BadInputCase {
    const char* name;
    std::string bytes;
    const char* message;  // regular expression for the line on standard error
};

class BadInput : public ::testing::TestWithParam<BadInputCase> {};

TEST_P(BadInput, EndsTheRunWithOneLine) {
    const BadInputCase& c = GetParam();
    EXPECT_EXIT(readImage(c.bytes), ::testing::ExitedWithCode(1), std::string("^orrim: ") + c.message + "\n$");
}

const std::string RAW_8 = "P6 2 1 255\n";

INSTANTIATE_TEST_SUITE_P(
    Classes, BadInput,
    ::testing::Values(
        BadInputCase{"EmptyInput", "", "empty input: there is no PNM header"},
        BadInputCase{"BadMagicLetter", "Q6 1 1 255\nabc", "bad magic number - not a PBM, PGM, PPM or PAM file"},
        BadInputCase{"BadMagicDigit", "P8 1 1 255\nabc", "bad magic number - not a PBM, PGM, PPM or PAM file"},
        BadInputCase{"OneByte", "P", "bad magic number - not a PBM, PGM, PPM or PAM file"},
        BadInputCase{"NonNumericWidth", "P6 x 1 255\n", "bad header: the width is not a number \\(found 'x'\\)"},
        BadInputCase{"NegativeHeight", "P6 1 -1 255\n", "bad header: the height is not a number \\(found '-'\\)"},
        BadInputCase{"JunkAfterNumber", "P6 12a 1 255\n", "bad header: the width is followed by 'a'"},
        BadInputCase{"MissingHeight", "P6 1", "premature end of file reading the height of the header"},
        BadInputCase{"MissingMaxval", "P3 1 1 # only a comment\n", "premature end of file reading the maxval of the header"},
        BadInputCase{"WidthBeyondInt", "P6 99999999999999999999 1 255\n", "bad header: the width is too large \\(at most 134217727\\)"},
        BadInputCase{"HeightJustTooLarge", "P5 1 134217728 255\n", "bad header: the height is too large \\(at most 134217727\\)"},
        BadInputCase{"MaxvalZero", "P5 1 1 0\n", "bad header: the maxval is 0 \\(it must be at least 1\\)"},
        BadInputCase{"RawMaxvalAbove16Bits", "P6 1 1 65536\n", "bad header: maxval 65536 is too large for a raw image \\(at most 65535\\)"},
        BadInputCase{"PlainMaxvalAbove32Bits", "P2 1 1 4294967296\n0", "bad header: the maxval is too large \\(at most 4294967295\\)"},
        BadInputCase{"RawByteAboveMaxval", bytesOf("P5 3 1 100\n\x01\xc8\x02"), "sample value 200 is above maxval 100"},
        BadInputCase{"RawWordAboveMaxval", bytesOf("P6 1 1 1000\n\x00\x01\x03\xe9\x00\x00"), "sample value 1001 is above maxval 1000"},
        BadInputCase{"PlainSampleAboveMaxval", "P2 2 1 15 3 16", "sample value 16 is above maxval 15"},
        BadInputCase{"PlainSampleBeyond32Bits", "P2 1 1 4294967295 4294967296", "sample value above maxval 4294967295 \\(too large\\)"},
        BadInputCase{"RawPremature", RAW_8 + "abcde", "premature end of file in the raster"},
        BadInputCase{"RawPbmPremature", "P4 9 2\n\x01\x02\x03", "premature end of file in the raster"},
        BadInputCase{"RawWordsPremature", "P5 2 1 65535\n\x01\x02\x03", "premature end of file in the raster"},
        BadInputCase{"PlainPremature", "P3 1 2 255 1 2 3 4 5", "premature end of file in the raster"},
        BadInputCase{"PlainPbmPremature", "P1 4 1 010", "premature end of file in the raster"},
        BadInputCase{"PlainStrayLetter", "P2 3 1 9 1 x 2", "stray character 'x' in the plain raster"},
        BadInputCase{"PlainStrayAfterDigits", "P3 1 1 9 1 2 3x", "stray character 'x' in the plain raster"},
        BadInputCase{"PlainNegativeSample", "P2 2 1 9 1 -2", "stray character '-' in the plain raster"},
        BadInputCase{"PlainPbmDigitTwo", "P1 2 1 02", "stray character '2' in the plain raster"},
        BadInputCase{"PlainStrayControlByte", "P2 2 1 9 1 \x01", "stray byte 0x01 in the plain raster"},
        BadInputCase{"CommentOneByteTooLong", "P2 #" + std::string(1048575, 'x') + "\n1 1 9 4",
                     "bad header: more than 1048576 bytes of comments and white space before the width"},
        BadInputCase{"WhiteSpaceTooLong", "P5 1" + std::string(1048578, '\n') + "1 255\n",
                     "bad header: more than 1048576 bytes of comments and white space before the height"},
        BadInputCase{"CommentAfterNumberTooLong", "P5 1 1 255#" + std::string(1048577, 'x'),
                     "bad header: more than 1048576 bytes of comments and white space after the maxval"},
        BadInputCase{"NumberOneDigitTooLong", "P2 1 " + std::string(1000, '0') + "1 9 4",
                     "bad header: the height has more than 1000 digits"},
        BadInputCase{"PlainRasterSeparatorTooLong", "P1 2 1 0" + std::string(1048577, ' ') + "1",
                     "more than 1048576 bytes of comments and white space in the plain raster"},
        BadInputCase{"PlainRasterCommentTooLong", "P3 1 1 9 1 2 #" + std::string(1048577, 'x') + "\n3",
                     "more than 1048576 bytes of comments and white space in the plain raster"},
        BadInputCase{"PlainSampleOneDigitTooLong", "P2 1 1 9 " + std::string(1000, '0') + "4",
                     "a sample in the plain raster has more than 1000 digits"}),
    [](const ::testing::TestParamInfo<BadInputCase>& info) { return std::string(info.param.name); });

TEST(BadInput, TruncatedFileIsRejectedBeforeTheImageIsAllocated) {
    // 100000 x 100000 raw PPM would need 120 GB of Xels; the file holds 3 bytes.
    FILE* f = streamOf("P6 100000 100000 255\nabc");
    int cols, rows, format;
    Sample maxval;
    EXPECT_EXIT(pnm_readpnm(f, &cols, &rows, &maxval, &format), ::testing::ExitedWithCode(1),
                "premature end of file in the raster \\(the header promises 100000 x 100000 pixels\\)");
    fclose(f);
}

TEST(BadOutput, RawMaxvalAbove16BitsIsRefused) {
    Image img;
    img.maxval = 65536;
    EXPECT_EXIT(writeImage(img, PPM_FORMAT, false), ::testing::ExitedWithCode(1),
                "maxval 65536 is too large for a raw image \\(at most 65535\\); use plain output");
}

TEST(BadOutput, SampleAboveMaxvalIsRefusedNotTruncated) {
    Image img;
    img.cols = img.rows = 1;
    img.maxval = 255;
    img.px.push_back(Xel{1, 256, 3});
    EXPECT_EXIT(writeImage(img, PPM_FORMAT, false), ::testing::ExitedWithCode(1),
                "cannot write sample value 256: it is above maxval 255");
}

// --------------------------------------------------------------------------
// Whole images

TEST(WholeImage, ReadPnmGivesRowArray) {
    FILE* f = streamOf(makePpm(2, 2, 9, {1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 1, 2}));
    int cols, rows, format;
    Sample maxval;
    Xel** image = pnm_readpnm(f, &cols, &rows, &maxval, &format);
    fclose(f);
    ASSERT_EQ(cols, 2);
    ASSERT_EQ(rows, 2);
    EXPECT_EQ(format, RPPM_FORMAT);
    EXPECT_EQ(maxval, 9u);
    EXPECT_EQ(image[0][1], (Xel{4, 5, 6}));
    EXPECT_EQ(image[1][0], (Xel{7, 8, 9}));
    EXPECT_EQ(image[1][1], (Xel{0, 1, 2}));
    pm_freearray(image, rows);
}

TEST(WholeImage, ReadPpmTurnsGreyIntoGreyPixels) {
    FILE* f = streamOf(makePgm(3, 1, 300, {0, 150, 300}, true));
    int cols, rows;
    Sample maxval;
    Pixel** image = ppm_readppm(f, &cols, &rows, &maxval);
    fclose(f);
    EXPECT_EQ(maxval, 300u);
    EXPECT_EQ(image[0][1], (Pixel{150, 150, 150}));
    EXPECT_EQ(image[0][2], (Pixel{300, 300, 300}));
    pm_freearray(image, rows);
}

TEST(WholeImage, ReadPgmTakesBitmapsAsZeroOne) {
    FILE* f = streamOf(makePbm(3, 1, {1, 0, 1}));
    int cols, rows;
    Sample maxval;
    Sample** image = pgm_readpgm(f, &cols, &rows, &maxval);
    fclose(f);
    EXPECT_EQ(maxval, 1u);
    EXPECT_EQ(image[0][0], 0u);
    EXPECT_EQ(image[0][1], 1u);
    EXPECT_EQ(image[0][2], 0u);
    pm_freearray(image, rows);
}

TEST(WholeImage, ReadPgmRefusesColour) {
    FILE* f = streamOf(makePpm(1, 1, 255, {1, 2, 3}));
    int cols, rows;
    Sample maxval;
    EXPECT_EXIT(pgm_readpgm(f, &cols, &rows, &maxval), ::testing::ExitedWithCode(1),
                "the input is a PPM image; a PBM or PGM image is needed");
    fclose(f);
}

// Whole images from every kind of stream: a regular file (judged by its
// size), a rewindable pipe (pulled into its kept copy), a plain pipe (the
// image grows as rows arrive).

enum StreamKind { REGULAR_FILE, REWINDABLE_PIPE, PLAIN_PIPE };
const StreamKind ALL_STREAM_KINDS[] = {REGULAR_FILE, REWINDABLE_PIPE, PLAIN_PIPE};

FILE* openAs(StreamKind kind, const std::string& bytes) {
    if (kind == REGULAR_FILE) return streamOf(bytes);
    FILE* pipe = pipeStreamOf(bytes);
    return kind == PLAIN_PIPE ? pipe : pm_openLazySeekable(pipe, "the test pipe");
}

const char* kindName(StreamKind kind) {
    return kind == REGULAR_FILE ? "file" : kind == REWINDABLE_PIPE ? "rewindable pipe" : "plain pipe";
}

// Peak resident memory of this process, in MiB.
long peakMemoryMiB() {
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

// In a death test's child: caps the address space 256 MiB above what is in
// use. AddressSanitizer needs vast address space, so there it stays off.
void capAddressSpace() {
#ifndef __SANITIZE_ADDRESS__
    unsigned long pages = 0;
    if (FILE* statm = fopen("/proc/self/statm", "r")) {
        if (fscanf(statm, "%lu", &pages) != 1) pages = 0;
        fclose(statm);
    }
    if (pages == 0) return;
    rlim_t limit = rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE)) + (rlim_t(256) << 20);
    rlimit r{limit, limit};
    setrlimit(RLIMIT_AS, &r);
#endif
}

TEST(WholeImage, EveryStreamKindGivesTheSameImage) {
    // Tall images make the growing array double many times; the PBM and PGM
    // are wider than the piece a grey row is read in.
    const int tall = 20000, wide = 10001;
    std::vector<Sample> rgb = patternSamples(size_t(3) * 3 * tall, 65535);
    std::vector<int> bits(size_t(wide) * 3);
    for (size_t i = 0; i < bits.size(); ++i) bits[i] = (i * 7 / 3) % 2;
    std::vector<Sample> greys = patternSamples(size_t(wide) * 3, 1000);
    struct Case {
        std::string bytes;
        bool grey;
    } cases[] = {{makePpm(3, tall, 65535, rgb), false}, {makePpm(3, 500, 9, patternSamples(4500, 9), true), false},
                 {makePbm(wide, 3, bits), true}, {makePgm(wide, 3, 1000, greys), true},
                 {makePgm(wide, 3, 1000, greys, true), true}};
    for (const Case& c : cases) {
        Image expected = readImage(c.bytes);
        for (StreamKind kind : ALL_STREAM_KINDS) {
            SCOPED_TRACE(c.bytes.substr(0, 2) + " from a " + kindName(kind));
            FILE* f = openAs(kind, c.bytes);
            int cols, rows;
            Sample maxval;
            std::vector<Xel> got;
            if (c.grey) {
                Sample** image = pgm_readpgm(f, &cols, &rows, &maxval);
                for (int y = 0; y < rows; ++y)
                    for (int x = 0; x < cols; ++x) got.push_back(grey(image[y][x]));
                pm_freearray(image, rows);
            } else {
                Pixel** image = ppm_readppm(f, &cols, &rows, &maxval);
                for (int y = 0; y < rows; ++y) got.insert(got.end(), image[y], image[y] + cols);
                pm_freearray(image, rows);
            }
            fclose(f);
            EXPECT_EQ(cols, expected.cols);
            EXPECT_EQ(rows, expected.rows);
            EXPECT_EQ(maxval, expected.maxval);
            EXPECT_TRUE(got == expected.px);
        }
    }
}

TEST(WholeImage, ZeroWidthTakesNoMemoryForItsRows) {
    const long before = peakMemoryMiB();
    for (StreamKind kind : ALL_STREAM_KINDS) {
        for (const char* header : {"P4 0 134217727\n", "P5 0 134217727 255\n"}) {
            SCOPED_TRACE(std::string(header) + " from a " + kindName(kind));
            FILE* f = openAs(kind, header);
            int cols, rows;
            Sample maxval;
            if (header[1] == '4') {
                Pixel** image = ppm_readppm(f, &cols, &rows, &maxval);
                EXPECT_EQ(image[0], nullptr);
                EXPECT_EQ(image[rows - 1], nullptr);
                pm_freearray(image, rows);
            } else {
                Sample** image = pgm_readpgm(f, &cols, &rows, &maxval);
                EXPECT_EQ(image[rows / 2], nullptr);
                pm_freearray(image, rows);
            }
            fclose(f);
            EXPECT_EQ(cols, 0);
            EXPECT_EQ(rows, 134217727);
        }
    }
    // 1 GiB of row pointers would show; a few pages of them may be touched.
    EXPECT_LT(peakMemoryMiB() - before, 64);
}

TEST(WholeImage, ShortRasterFailsBeforeTheImageIsAllocated) {
    // Each header promises far more than memory holds; the input has a few
    // bytes. Files and rewindable pipes are measured first; from a plain
    // pipe the rows run out first.
    const char* headers[] = {"P6 100000 100000 255\n", "P5 134217727 134217727 65535\n", "P4 134217727 1000\n",
                             "P3 60000 60000 255\n"};
    for (const char* header : headers) {
        for (StreamKind kind : ALL_STREAM_KINDS) {
            SCOPED_TRACE(std::string(header) + " from a " + kindName(kind));
            FILE* f = openAs(kind, std::string(header) + "12 34 56 ");
            int cols, rows;
            Sample maxval;
            const char* expected = kind == PLAIN_PIPE ? "^orrim: premature end of file in the raster\n$"
                                                      : "^orrim: premature end of file in the raster \\(the header "
                                                        "promises [0-9]+ x [0-9]+ pixels\\)\n$";
            // A reader that took memory for pixels before they arrived would
            // fail on the cap with "out of memory" instead.
            auto readCapped = [&] {
                capAddressSpace();
                if (header[1] == '5' || header[1] == '4')
                    pgm_readpgm(f, &cols, &rows, &maxval);
                else
                    ppm_readppm(f, &cols, &rows, &maxval);
            };
            EXPECT_EXIT(readCapped(), ::testing::ExitedWithCode(1), expected);
            fclose(f);
        }
    }
}

// --------------------------------------------------------------------------
// Promotion

TEST(Promote, BitmapToColourAtLargerMaxval) {
    Xel row[2] = {grey(0), grey(1)};
    row[1].r = row[1].g = 0;  // only blue carries a bit value
    pnm_promoteformatrow(row, 2, 1, RPBM_FORMAT, 255, PPM_FORMAT);
    EXPECT_EQ(row[0], (Xel{0, 0, 0}));
    EXPECT_EQ(row[1], (Xel{255, 255, 255}));
}

TEST(Promote, GreyToColourKeepsMaxvalAndFillsRedGreen) {
    Xel row[1] = {Xel{0, 0, 77}};
    pnm_promoteformatrow(row, 1, 100, PGM_FORMAT, 100, RPPM_FORMAT);
    EXPECT_EQ(row[0], (Xel{77, 77, 77}));
}

TEST(Promote, RescalesWithRoundingByHalfTheOldMaxval) {
    // (v * new + old / 2) / old
    Xel row[3] = {Xel{1, 2, 3}, Xel{127, 128, 255}, Xel{0, 254, 100}};
    pnm_promoteformatrow(row, 3, 255, RPPM_FORMAT, 65535, RPPM_FORMAT);
    EXPECT_EQ(row[0], (Xel{257, 514, 771}));
    EXPECT_EQ(row[1], (Xel{32639, 32896, 65535}));
    EXPECT_EQ(row[2], (Xel{0, 65278, 25700}));
    Xel down[1] = {Xel{65535, 32767, 128}};
    pnm_promoteformatrow(down, 1, 65535, PPM_FORMAT, 255, PPM_FORMAT);
    EXPECT_EQ(down[0], (Xel{255, 127, 0}));
    Xel big[1] = {grey(4294967295u)};
    pnm_promoteformatrow(big, 1, 4294967295u, PGM_FORMAT, 65535, PGM_FORMAT);
    EXPECT_EQ(big[0], grey(65535));
}

TEST(Promote, DemotionIsRefused) {
    Xel row[1] = {Xel{1, 2, 3}};
    EXPECT_EXIT(pnm_promoteformatrow(row, 1, 255, PPM_FORMAT, 255, PGM_FORMAT), ::testing::ExitedWithCode(1),
                "cannot convert a row to a format of fewer channels");
}

TEST(FormatType, FamiliesAndUnknownCodes) {
    EXPECT_EQ(pnm_formattype(RPBM_FORMAT), PBM_FORMAT);
    EXPECT_EQ(pnm_formattype(PGM_FORMAT), PGM_FORMAT);
    EXPECT_EQ(pnm_formattype(RPGM_FORMAT), PGM_FORMAT);
    EXPECT_EQ(pnm_formattype(RPPM_FORMAT), PPM_FORMAT);
    EXPECT_EQ(pnm_formattype(0x5037), -1);
    EXPECT_EQ(pnm_formattype(0), -1);
}

}  // namespace
