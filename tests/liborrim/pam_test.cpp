// PAM: header syntax and its hostile forms, a PAM without alpha read as the
// PBM, PGM or PPM of the same samples (by the library and by the programs),
// the writer and the reader over every tuple type and sample width, and a
// truncated raster refused before anything is allocated for it.
#include <orrim.h>

#include <gtest/gtest.h>

#include "testsupport.h"

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

using namespace testkit;

namespace {

// A real (temporary) file holding bytes, positioned at its start.
FILE* streamOf(const std::string& bytes) {
    FILE* f = tmpfile();
    if (!f) abort();
    if (!bytes.empty() && fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) abort();
    rewind(f);
    return f;
}

template <size_t N>
std::string bytesOf(const char (&literal)[N]) {
    return std::string(literal, N - 1);
}

std::string pamHeader(int cols, int rows, int depth, Sample maxval, const std::string& tupleType) {
    return "P7\nWIDTH " + std::to_string(cols) + "\nHEIGHT " + std::to_string(rows) + "\nDEPTH " +
           std::to_string(depth) + "\nMAXVAL " + std::to_string(maxval) + "\nTUPLTYPE " + tupleType + "\nENDHDR\n";
}

struct Image {
    int cols = 0, rows = 0;
    Sample maxval = 0;
    int format = 0;
    std::vector<Xel> px;        // row-major
    std::vector<Sample> alpha;  // one a pixel
};

Xel grey(Sample v) { return Xel{v, v, v}; }

// Header and rows through pnm_readpaminit and pnm_readpamrow.
Image readPam(const std::string& bytes) {
    FILE* f = streamOf(bytes);
    Image img;
    pnm_readpaminit(f, &img.cols, &img.rows, &img.maxval, &img.format);
    img.px.resize(size_t(img.cols) * img.rows);
    img.alpha.resize(img.px.size());
    for (int y = 0; y < img.rows; ++y) {
        const size_t at = size_t(y) * img.cols;
        pnm_readpamrow(f, img.px.data() + at, img.alpha.data() + at, img.cols, img.maxval, img.format);
    }
    fclose(f);
    return img;
}

// Header and rows through the PNM reader: pnm_readpnminit, pnm_readpnmrow.
Image readPnm(const std::string& bytes) {
    FILE* f = streamOf(bytes);
    Image img;
    pnm_readpnminit(f, &img.cols, &img.rows, &img.maxval, &img.format);
    img.px.resize(size_t(img.cols) * img.rows);
    for (int y = 0; y < img.rows; ++y)
        pnm_readpnmrow(f, img.px.data() + size_t(y) * img.cols, img.cols, img.maxval, img.format);
    fclose(f);
    return img;
}

// The whole image through pnm_readpaminit and pnm_readpnmraster.
std::vector<Xel> wholeRaster(const std::string& bytes) {
    FILE* f = streamOf(bytes);
    int cols, rows, format;
    Sample maxval;
    pnm_readpaminit(f, &cols, &rows, &maxval, &format);
    Xel** image = pnm_readpnmraster(f, cols, rows, maxval, format);
    std::vector<Xel> all;
    for (int y = 0; y < rows; ++y) all.insert(all.end(), image[y], image[y] + cols);
    pm_freearray(image, rows);
    fclose(f);
    return all;
}

std::string writtenBy(const std::function<void(FILE*)>& write) {
    char* data = nullptr;
    size_t size = 0;
    FILE* f = open_memstream(&data, &size);
    write(f);
    fclose(f);
    std::string out(data, size);
    free(data);
    return out;
}

std::string writePam(const Image& img) {
    return writtenBy([&](FILE* f) {
        pnm_writepaminit(f, img.cols, img.rows, img.maxval, img.format);
        for (int y = 0; y < img.rows; ++y) {
            const size_t at = size_t(y) * img.cols;
            pnm_writepamrow(f, img.px.data() + at, img.alpha.empty() ? nullptr : img.alpha.data() + at, img.cols,
                            img.maxval, img.format);
        }
    });
}

std::string writePnm(const Image& img) {
    return writtenBy([&](FILE* f) {
        pnm_writepnminit(f, img.cols, img.rows, img.maxval, img.format, 0);
        for (int y = 0; y < img.rows; ++y)
            pnm_writepnmrow(f, img.px.data() + size_t(y) * img.cols, img.cols, img.maxval, img.format, 0);
    });
}

// A reproducible image of the format's family: every sample in 0..maxval,
// 0 and maxval among them; alpha too when asked.
Image patternImage(int cols, int rows, Sample maxval, int format, bool withAlpha) {
    Image img;
    img.cols = cols, img.rows = rows, img.maxval = maxval, img.format = format;
    const bool colour = pnm_formattype(format) == PPM_FORMAT;
    uint64_t state = 88172645463325252u + maxval;
    auto next = [&] {
        state ^= state << 13, state ^= state >> 7, state ^= state << 17;
        return Sample(state % (uint64_t(maxval) + 1));
    };
    for (int i = 0; i < cols * rows; ++i) {
        Sample v = i == 0 ? maxval : i == 1 ? 0 : next();
        img.px.push_back(colour ? Xel{next(), v, next()} : grey(v));
        if (withAlpha) img.alpha.push_back(i == 2 ? 0 : next());
    }
    return img;
}

const int ALL_PAM_FORMATS[] = {PAM_BLACKANDWHITE_FORMAT,       PAM_GRAYSCALE_FORMAT,       PAM_RGB_FORMAT,
                               PAM_BLACKANDWHITE_ALPHA_FORMAT, PAM_GRAYSCALE_ALPHA_FORMAT, PAM_RGB_ALPHA_FORMAT};

std::vector<Sample> maxvalsFor(int format) {
    if (pnm_formattype(format) == PBM_FORMAT) return {1};
    return {1, 255, 256, 65535};
}

int depthOf(int format) { return (pnm_formattype(format) == PPM_FORMAT ? 3 : 1) + (pnm_formathasalpha(format) ? 1 : 0); }

// --------------------------------------------------------------------------
// Header syntax: good headers

struct GoodCase {
    const char* name;
    std::string bytes;
    int cols, rows;
    Sample maxval;
    int format;
    std::vector<Xel> px;
    std::vector<Sample> alpha;
};

class GoodHeader : public ::testing::TestWithParam<GoodCase> {};

TEST_P(GoodHeader, Reads) {
    const GoodCase& c = GetParam();
    Image img = readPam(c.bytes);
    EXPECT_EQ(img.cols, c.cols);
    EXPECT_EQ(img.rows, c.rows);
    EXPECT_EQ(img.maxval, c.maxval);
    EXPECT_EQ(img.format, c.format);
    EXPECT_EQ(img.px, c.px);
    EXPECT_EQ(img.alpha, c.alpha);
}

INSTANTIATE_TEST_SUITE_P(
    Variants, GoodHeader,
    ::testing::Values(
        GoodCase{"Grey", pamHeader(2, 1, 1, 255, "GRAYSCALE") + "\x05\x06", 2, 1, 255, PAM_GRAYSCALE_FORMAT,
                 {grey(5), grey(6)}, {255, 255}},
        // Lines in any order, comments, blank lines, white space around
        // keywords and values, CR LF, leading zeros, 2-byte samples.
        GoodCase{"AnyOrderCommentsBlanksAndSpaces",
                 bytesOf("P7 \r\n# by hand\n\n  TUPLTYPE\tRGB_ALPHA  \r\nMAXVAL 0300\n#\nDEPTH 4\nHEIGHT 1\n\n"
                         "WIDTH 1\nENDHDR\n\x00\x01\x01\x2c\x00\x00\x00\x96"),
                 1, 1, 300, PAM_RGB_ALPHA_FORMAT, {Xel{1, 300, 0}}, {150}},
        GoodCase{"BlackAndWhiteAlpha", pamHeader(2, 1, 2, 1, "BLACKANDWHITE_ALPHA") + bytesOf("\x00\x01\x01\x00"), 2,
                 1, 1, PAM_BLACKANDWHITE_ALPHA_FORMAT, {grey(0), grey(1)}, {1, 0}},
        GoodCase{"BlackAndWhiteIsZeroBlackOneWhite", pamHeader(3, 1, 1, 1, "BLACKANDWHITE") + bytesOf("\x01\x00\x01"),
                 3, 1, 1, PAM_BLACKANDWHITE_FORMAT, {grey(1), grey(0), grey(1)}, {1, 1, 1}},
        GoodCase{"ZeroWidth", pamHeader(0, 5, 3, 255, "RGB"), 0, 5, 255, PAM_RGB_FORMAT, {}, {}},
        // The longest header line (256 bytes) and the most comment bytes.
        GoodCase{"LongestLine",
                 "P7\nWIDTH " + std::string(249, '0') + "1\nHEIGHT 1\nDEPTH 1\nMAXVAL 9\nTUPLTYPE GRAYSCALE\nENDHDR\n\x07",
                 1, 1, 9, PAM_GRAYSCALE_FORMAT, {grey(7)}, {9}},
        GoodCase{"LongestComment",
                 "P7\n#" + std::string(1048575, 'x') + "\nWIDTH 1\nHEIGHT 1\nDEPTH 1\nMAXVAL 9\nTUPLTYPE GRAYSCALE\n"
                 "ENDHDR\n\x07",
                 1, 1, 9, PAM_GRAYSCALE_FORMAT, {grey(7)}, {9}}),
    [](const ::testing::TestParamInfo<GoodCase>& info) { return std::string(info.param.name); });

// --------------------------------------------------------------------------
// Header syntax: hostile headers and rasters, one line each, status 1

struct BadCase {
    const char* name;
    std::string bytes;
    const char* message;  // regular expression for the line after "orrim: "
};

class BadPam : public ::testing::TestWithParam<BadCase> {};

TEST_P(BadPam, EndsTheRunWithOneLine) {
    const BadCase& c = GetParam();
    EXPECT_EXIT(readPam(c.bytes), ::testing::ExitedWithCode(1), std::string("^orrim: ") + c.message + "\n$");
}

const std::string W = "WIDTH 2\n", H = "HEIGHT 1\n", D = "DEPTH 1\n", M = "MAXVAL 255\n", T = "TUPLTYPE GRAYSCALE\n",
                  END = "ENDHDR\n";

std::string pamWith(const std::string& lines) { return "P7\n" + lines + END; }

INSTANTIATE_TEST_SUITE_P(
    Classes, BadPam,
    ::testing::Values(
        BadCase{"NoWidth", pamWith(H + D + M + T), "bad PAM header: no WIDTH line before ENDHDR"},
        BadCase{"NoTupleType", pamWith(W + H + D + M), "bad PAM header: no TUPLTYPE line before ENDHDR"},
        BadCase{"TwoMaxvals", pamWith(W + H + D + M + M + T), "bad PAM header: more than one MAXVAL line"},
        BadCase{"DepthTooSmallForRgb", pamWith(W + H + D + M + "TUPLTYPE RGB\n"),
                "bad PAM header: DEPTH 1 does not match tuple type RGB \\(which takes DEPTH 3\\)"},
        BadCase{"DepthWithAlphaForGrey", pamWith(W + H + "DEPTH 2\n" + M + T),
                "bad PAM header: DEPTH 2 does not match tuple type GRAYSCALE \\(which takes DEPTH 1\\)"},
        BadCase{"DepthZero", pamWith(W + H + "DEPTH 0\n" + M + T), "bad PAM header: DEPTH 0 is out of range \\(1 to 4\\)"},
        BadCase{"UnknownTupleType", pamWith(W + H + D + M + "TUPLTYPE CMYK\n"),
                "bad PAM header: tuple type 'CMYK' is not supported \\(BLACKANDWHITE, GRAYSCALE or RGB, each with or "
                "without _ALPHA\\)"},
        BadCase{"LowerCaseTupleType", pamWith(W + H + D + M + "TUPLTYPE grayscale\n"),
                "bad PAM header: tuple type 'grayscale' is not supported .*"},
        BadCase{"TupleTypeBytesEscaped", pamWith(W + H + D + M + "TUPLTYPE RGB\xff\n"),
                "bad PAM header: tuple type 'RGB\\\\xff' is not supported .*"},
        BadCase{"ControlByteInALine", pamWith(W + H + D + M + "TUPLTYPE \x1b[31m\n"),
                "bad PAM header: stray byte 0x1b in a header line"},
        BadCase{"MaxvalZero", pamWith(W + H + D + "MAXVAL 0\n" + T),
                "bad PAM header: MAXVAL 0 is out of range \\(1 to 65535\\)"},
        BadCase{"Maxval65536", pamWith(W + H + D + "MAXVAL 65536\n" + T),
                "bad PAM header: MAXVAL 65536 is out of range \\(1 to 65535\\)"},
        BadCase{"BlackAndWhiteAbove1", pamWith(W + H + D + M + "TUPLTYPE BLACKANDWHITE\n"),
                "bad PAM header: MAXVAL 255 does not fit tuple type BLACKANDWHITE \\(which takes MAXVAL 1\\)"},
        BadCase{"WidthTooLarge", pamWith("WIDTH 134217728\n" + H + D + M + T),
                "bad PAM header: WIDTH 134217728 is out of range \\(0 to 134217727\\)"},
        BadCase{"HeightBeyond64Bits", pamWith(W + "HEIGHT 99999999999999999999999\n" + D + M + T),
                "bad PAM header: HEIGHT 99999999999999999999999 is out of range \\(0 to 134217727\\)"},
        BadCase{"NegativeWidth", pamWith("WIDTH -1\n" + H + D + M + T),
                "bad PAM header: the WIDTH value '-1' is not a number"},
        BadCase{"TwoNumbers", pamWith("WIDTH 2 3\n" + H + D + M + T),
                "bad PAM header: the WIDTH value '2 3' is not a number"},
        BadCase{"NoValue", pamWith("WIDTH \n" + H + D + M + T), "bad PAM header: the WIDTH line has no value"},
        BadCase{"UnknownKeyword", pamWith(W + H + D + M + T + "ALPHA yes\n"),
                "bad PAM header: unknown header line 'ALPHA yes'"},
        BadCase{"EndhdrWithValue", "P7\n" + W + H + D + M + T + "ENDHDR x\n", "bad PAM header: ENDHDR is followed by 'x'"},
        BadCase{"MagicNotAlone", "P7 332\n" + W + H + D + M + T + END,
                "bad PAM header: the magic number P7 must stand alone on its line"},
        BadCase{"NoEndhdr", "P7\n" + W + H + D + M + T,
                "premature end of file in the PAM header \\(before its ENDHDR line\\)"},
        BadCase{"MagicAlone", "P7", "premature end of file in the PAM header \\(before its ENDHDR line\\)"},
        BadCase{"LineTooLong", "P7\nWIDTH " + std::string(250, '0') + "1\n",
                "bad PAM header: a header line is longer than 256 bytes"},
        BadCase{"CommentsTooLong", "P7\n#" + std::string(1048576, 'x') + "\n" + W,
                "bad PAM header: more than 1048576 bytes of comments and blank lines"},
        BadCase{"BlankLinesTooLong", "P7\n" + std::string(1048577, '\n') + W,
                "bad PAM header: more than 1048576 bytes of comments and blank lines"},
        // The raster
        BadCase{"TruncatedRaster", pamHeader(2, 1, 2, 255, "GRAYSCALE_ALPHA") + "abc",
                "premature end of file in the raster"},
        BadCase{"SampleAboveMaxval", pamHeader(2, 1, 1, 100, "GRAYSCALE") + bytesOf("\x05\xc8"),
                "sample value 200 is above maxval 100"},
        BadCase{"AlphaAboveMaxval", pamHeader(1, 1, 4, 1000, "RGB_ALPHA") + bytesOf("\0\0\0\0\0\0\x03\xe9"),
                "sample value 1001 is above maxval 1000"},
        BadCase{"BitAboveOne", pamHeader(2, 1, 1, 1, "BLACKANDWHITE") + bytesOf("\x01\x02"),
                "sample value 2 is above maxval 1"}),
    [](const ::testing::TestParamInfo<BadCase>& info) { return std::string(info.param.name); });

TEST(BadPam, PnmReadersRefuseAlphaNamingTheTupleType) {
    for (const char* type : {"BLACKANDWHITE_ALPHA", "GRAYSCALE_ALPHA", "RGB_ALPHA"}) {
        SCOPED_TRACE(type);
        const std::string bytes =
            pamHeader(1, 1, type[0] == 'R' ? 4 : 2, type[0] == 'B' ? 1 : 255, type) + "\x01\x01\x01\x01";
        const std::string message = std::string("^orrim: the input is a PAM image with alpha \\(tuple type ") + type +
                                    "\\), which this program does not read\n$";
        EXPECT_EXIT(readPnm(bytes), ::testing::ExitedWithCode(1), message);
        FILE* f = streamOf(bytes);
        int cols, rows;
        Sample mv;
        EXPECT_EXIT(ppm_readppm(f, &cols, &rows, &mv), ::testing::ExitedWithCode(1), message);
        fclose(f);
        EXPECT_EQ(readPam(bytes).alpha, std::vector<Sample>{1});  // what the alpha reader is for
    }
}

// The least raster size counts every sample, alpha included: the exact
// raster is present, one byte less is not; and a header promising far more
// than the file holds fails before the image is allocated.
TEST(BadPam, TruncatedRasterIsSeenBeforeAnythingIsRead) {
    for (int format : ALL_PAM_FORMATS) {
        for (Sample maxval : maxvalsFor(format)) {
            SCOPED_TRACE(std::string(pnm_tupletype(format)) + " maxval " + std::to_string(maxval));
            const std::string image = writePam(patternImage(5, 3, maxval, format, true));
            for (size_t cut : {size_t(0), size_t(1)}) {
                FILE* f = streamOf(image.substr(0, image.size() - cut));
                int cols, rows, fmt;
                Sample mv;
                pnm_readpaminit(f, &cols, &rows, &mv, &fmt);
                EXPECT_EQ(pnm_rasterpresent(f, cols, rows, mv, fmt), cut == 0);
                fclose(f);
            }
        }
    }
    FILE* f = streamOf(pamHeader(100000, 100000, 3, 65535, "RGB") + "abc");
    int cols, rows, format;
    Sample maxval;
    EXPECT_EXIT(pnm_readpnm(f, &cols, &rows, &maxval, &format), ::testing::ExitedWithCode(1),
                "premature end of file in the raster \\(the header promises 100000 x 100000 pixels\\)");
    fclose(f);
}

// --------------------------------------------------------------------------
// A PAM without alpha is its PBM, PGM or PPM to every reader

TEST(PamWithoutAlpha, EveryReaderGivesWhatThePnmOfTheSameSamplesGives) {
    const int pnmFormats[] = {RPBM_FORMAT, RPGM_FORMAT, RPPM_FORMAT};
    for (int pnmFormat : pnmFormats) {
        for (Sample maxval : maxvalsFor(pnmFormat)) {
            const int pamFormat = pnm_pamformat(pnmFormat, false);
            SCOPED_TRACE(std::string(pnm_tupletype(pamFormat)) + " maxval " + std::to_string(maxval));
            Image image = patternImage(13, 4, maxval, pnmFormat, false);
            const std::string pnm = writePnm(image);
            image.format = pamFormat;
            const std::string pam = writePam(image);

            Image fromPnm = readPnm(pnm), fromPam = readPnm(pam);
            EXPECT_EQ(fromPam.format, pamFormat);
            EXPECT_EQ(pnm_formattype(fromPam.format), pnm_formattype(fromPnm.format));
            EXPECT_EQ(fromPam.cols, fromPnm.cols);
            EXPECT_EQ(fromPam.rows, fromPnm.rows);
            EXPECT_EQ(fromPam.maxval, fromPnm.maxval);
            EXPECT_TRUE(fromPam.px == fromPnm.px);
            EXPECT_TRUE(readPam(pam).alpha == readPam(pnm).alpha);

            // Promotion, whole images and the histogram.
            std::vector<Xel> promotedPnm = fromPnm.px, promotedPam = fromPam.px;
            pnm_promoteformatrow(promotedPnm.data(), 52, maxval, fromPnm.format, 65535, RPPM_FORMAT);
            pnm_promoteformatrow(promotedPam.data(), 52, maxval, fromPam.format, 65535, RPPM_FORMAT);
            EXPECT_TRUE(promotedPam == promotedPnm);
            auto wholeImage = [](const std::string& bytes) {
                FILE* f = streamOf(bytes);
                int cols, rows;
                Sample mv;
                Pixel** pixels = ppm_readppm(f, &cols, &rows, &mv);
                std::vector<Pixel> all;
                for (int y = 0; y < rows; ++y) all.insert(all.end(), pixels[y], pixels[y] + cols);
                pm_freearray(pixels, rows);
                fclose(f);
                return all;
            };
            EXPECT_TRUE(wholeImage(pam) == wholeImage(pnm));
            auto histogram = [](const std::string& bytes) {
                FILE* f = streamOf(bytes);
                int cols, rows, format, colors = 0;
                Sample mv;
                pnm_readpnminit(f, &cols, &rows, &mv, &format);
                ColorHist hist = ppm_computecolorhist2(f, cols, rows, mv, format, 1000, &colors);
                std::vector<std::pair<Pixel, long>> entries;
                for (int i = 0; i < colors; ++i) entries.push_back({hist[i].color, hist[i].value});
                ppm_freecolorhist(hist);
                fclose(f);
                return entries;
            };
            EXPECT_TRUE(histogram(pam) == histogram(pnm));
        }
    }
}

#if defined(RASTERPACK_PATH) && defined(HUECUT_PATH)
TEST(PamWithoutAlpha, ProgramsGiveWhatThePnmGives) {
    const int pnmFormats[] = {RPBM_FORMAT, RPGM_FORMAT, RPPM_FORMAT};
    for (int pnmFormat : pnmFormats) {
        for (Sample maxval : maxvalsFor(pnmFormat)) {
            SCOPED_TRACE(std::string(pnm_tupletype(pnmFormat)) + " maxval " + std::to_string(maxval));
            Image image = patternImage(7, 5, maxval, pnmFormat, false);
            const std::string pnm = writePnm(image);
            image.format = pnm_pamformat(pnmFormat, false);
            const std::string pam = writePam(image);
            for (const std::vector<std::string>& run :
                 {std::vector<std::string>{RASTERPACK_PATH, "-verbose"}, {HUECUT_PATH, "4"}}) {
                const std::vector<std::string> args(run.begin() + 1, run.end());
                RunResult fromPnm = runProgram(run[0], args, pnm), fromPam = runProgram(run[0], args, pam);
                EXPECT_EQ(fromPnm.status, 0) << fromPnm.err;
                EXPECT_EQ(fromPam.status, 0) << fromPam.err;
                EXPECT_TRUE(fromPam.out == fromPnm.out) << run[0];
                EXPECT_EQ(fromPam.err, fromPnm.err);
            }
        }
    }
}
#endif

// --------------------------------------------------------------------------
// Writer and reader

TEST(PamRoundTrip, EveryTupleTypeAndSampleWidth) {
    for (int format : ALL_PAM_FORMATS) {
        for (Sample maxval : maxvalsFor(format)) {
            SCOPED_TRACE(std::string(pnm_tupletype(format)) + " maxval " + std::to_string(maxval));
            const bool withAlpha = pnm_formathasalpha(format);
            Image image = patternImage(11, 3, maxval, format, withAlpha);
            const std::string bytes = writePam(image);
            const std::string header = pamHeader(11, 3, depthOf(format), maxval, pnm_tupletype(format));
            EXPECT_EQ(bytes.substr(0, header.size()), header);
            EXPECT_EQ(bytes.size(), header.size() + size_t(33 * depthOf(format)) * (maxval > 255 ? 2 : 1));
            Image back = readPam(bytes);
            EXPECT_EQ(back.format, format);
            EXPECT_EQ(back.maxval, maxval);
            EXPECT_TRUE(back.px == image.px);
            EXPECT_TRUE(back.alpha == (withAlpha ? image.alpha : std::vector<Sample>(33, maxval)));
            // The whole-image reader skips the alpha samples.
            EXPECT_TRUE(wholeRaster(bytes) == image.px);
            // Without an alpha row every pixel is written opaque.
            if (withAlpha) {
                image.alpha.clear();
                EXPECT_TRUE(readPam(writePam(image)).alpha == std::vector<Sample>(33, maxval));
            }
        }
    }
}

struct BadWriteCase {
    const char* name;
    int format;
    Sample maxval;
    Xel pixel;
    Sample alpha;
    const char* message;
};

class BadPamWrite : public ::testing::TestWithParam<BadWriteCase> {};

TEST_P(BadPamWrite, IsRefusedWithOneLine) {
    const BadWriteCase& c = GetParam();
    Image image;
    image.cols = image.rows = 1;
    image.maxval = c.maxval;
    image.format = c.format;
    image.px = {c.pixel};
    image.alpha = {c.alpha};
    EXPECT_EXIT(writePam(image), ::testing::ExitedWithCode(1), std::string("^orrim: ") + c.message + "\n$");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BadPamWrite,
    ::testing::Values(
        BadWriteCase{"BlackAndWhiteAtMaxval255", PAM_BLACKANDWHITE_FORMAT, 255, grey(0), 0,
                     "cannot write a BLACKANDWHITE PAM with maxval 255: it takes maxval 1"},
        BadWriteCase{"AlphaAboveMaxval", PAM_GRAYSCALE_ALPHA_FORMAT, 255, grey(1), 256,
                     "cannot write sample value 256: it is above maxval 255"},
        BadWriteCase{"BitAboveOne", PAM_BLACKANDWHITE_FORMAT, 1, grey(2), 0,
                     "cannot write sample value 2: it is above maxval 1"},
        BadWriteCase{"MaxvalAbove16Bits", PAM_RGB_FORMAT, 65536, grey(1), 0,
                     "cannot write a PAM with maxval 65536: it must be 1 to 65535"},
        BadWriteCase{"NotAPamCode", RPPM_FORMAT, 255, grey(1), 0,
                     "cannot write a PAM: format code 0x5036 is not a PAM code"}),
    [](const ::testing::TestParamInfo<BadWriteCase>& info) { return std::string(info.param.name); });

TEST(PamFormats, FamiliesTupleTypesAndCodes) {
    const int families[] = {PBM_FORMAT, PGM_FORMAT, PPM_FORMAT, PBM_FORMAT, PGM_FORMAT, PPM_FORMAT};
    for (int i = 0; i < 6; ++i) {
        const int format = ALL_PAM_FORMATS[i];
        EXPECT_EQ(pnm_formattype(format), families[i]);
        EXPECT_EQ(pnm_formathasalpha(format), i >= 3);
        EXPECT_EQ(pnm_pamformat(families[i] + 3, i >= 3), format);  // from the raw PNM code
        EXPECT_EQ(pnm_pamformat(format, i >= 3), format);
    }
    EXPECT_STREQ(pnm_tupletype(PAM_GRAYSCALE_ALPHA_FORMAT), "GRAYSCALE_ALPHA");
    EXPECT_STREQ(pnm_tupletype(PBM_FORMAT), "BLACKANDWHITE");
    EXPECT_STREQ(pnm_tupletype(RPPM_FORMAT), "RGB");
    EXPECT_EQ(pnm_tupletype(0x5037), nullptr);
    EXPECT_FALSE(pnm_formathasalpha(RPPM_FORMAT));
    EXPECT_EXIT(pnm_pamformat(0x5037, false), ::testing::ExitedWithCode(1), "unknown PNM format code 0x5037");
}

}  // namespace
