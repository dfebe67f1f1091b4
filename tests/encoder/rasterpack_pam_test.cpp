// rasterpack on a PAM with alpha: the image and its mask in one stream give
// byte for byte the PNG of the same image with -alpha and a separate mask,
// whatever form the mask leads to; a second source of alpha is refused.
#include "pngtestkit.h"
#include "programs.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using namespace testkit;

namespace {

// The colour samples (channels a pixel) and the alpha samples of one image.
struct ImageWithAlpha {
    int cols = 0, rows = 0, channels = 1;
    Sample maxval = 255;
    std::vector<Sample> colour, alpha;
};

void appendSample(std::string* out, Sample v, Sample maxval) {
    if (maxval > 255) out->push_back(char(v >> 8));
    out->push_back(char(v & 0xff));
}

std::string makePamWithAlpha(const ImageWithAlpha& im, const char* tupleType) {
    std::string out = "P7\nWIDTH " + std::to_string(im.cols) + "\nHEIGHT " + std::to_string(im.rows) + "\nDEPTH " +
                      std::to_string(im.channels + 1) + "\nMAXVAL " + std::to_string(im.maxval) + "\nTUPLTYPE " +
                      tupleType + "\nENDHDR\n";
    for (size_t i = 0; i < im.alpha.size(); ++i) {
        for (int c = 0; c < im.channels; ++c) appendSample(&out, im.colour[i * size_t(im.channels) + size_t(c)], im.maxval);
        appendSample(&out, im.alpha[i], im.maxval);
    }
    return out;
}

// The same colour samples as a PBM (BLACKANDWHITE: 0 is black), PGM or PPM.
std::string colourAsPnm(const ImageWithAlpha& im, bool bilevel) {
    if (bilevel) {
        std::vector<int> bits;
        for (Sample v : im.colour) bits.push_back(v == 0 ? 1 : 0);
        return makePbm(im.cols, im.rows, bits);
    }
    return im.channels == 1 ? makePgm(im.cols, im.rows, im.maxval, im.colour)
                            : makePpm(im.cols, im.rows, im.maxval, im.colour);
}

// How the alpha relates to the colours: each leads rasterpack to another
// form (one transparent colour, palette alpha, an alpha channel, no alpha).
enum class AlphaPattern { OneColourTransparent, FewLevels, Random, Opaque };

ImageWithAlpha makeImage(int channels, Sample maxval, int distinctColours, AlphaPattern pattern, unsigned seed) {
    std::mt19937 rng(seed);
    ImageWithAlpha im;
    im.cols = 7;
    im.rows = 5;
    im.channels = channels;
    im.maxval = maxval;
    std::vector<Sample> palette;
    for (int i = 0; i < distinctColours * channels; ++i) palette.push_back(Sample(rng() % (maxval + 1)));
    for (int i = 0; i < im.cols * im.rows; ++i) {
        int index = int(rng() % unsigned(distinctColours));
        for (int c = 0; c < channels; ++c) im.colour.push_back(palette[size_t(index * channels + c)]);
        Sample a = maxval;
        switch (pattern) {
        case AlphaPattern::OneColourTransparent: a = index == 0 ? 0 : maxval; break;
        case AlphaPattern::FewLevels: a = Sample(index % 3 == 0 ? 0 : index % 3 == 1 ? maxval / 2 : maxval); break;
        case AlphaPattern::Random: a = Sample(rng() % (maxval + 1)); break;
        case AlphaPattern::Opaque: break;
        }
        im.alpha.push_back(a);
    }
    return im;
}

struct PamCase {
    const char* name;
    const char* tupleType;
    int channels;
    Sample maxval;
    int distinctColours;
    AlphaPattern pattern;
};

std::string caseName(const testing::TestParamInfo<PamCase>& info) { return info.param.name; }

class PamWithAlpha : public testing::TestWithParam<PamCase> {};

TEST_P(PamWithAlpha, WritesThePngOfTheImageWithItsMask) {
    const PamCase& c = GetParam();
    const bool bilevel = c.maxval == 1 && c.channels == 1;
    const ImageWithAlpha im = makeImage(c.channels, c.maxval, c.distinctColours, c.pattern, 77u + c.maxval);
    const std::string dir = scratchDir();
    writeFile(dir + "/mask.pgm", makePgm(im.cols, im.rows, im.maxval, im.alpha));
    const std::string pam = makePamWithAlpha(im, c.tupleType), pnm = colourAsPnm(im, bilevel);
    for (const std::vector<std::string>& options :
         {std::vector<std::string>{}, {"-interlace"}, {"-force"}, {"-background", "red"}}) {
        std::vector<std::string> withMask = options;
        withMask.insert(withMask.end(), {"-alpha", dir + "/mask.pgm"});
        RunResult fromPam = runInProcess(RASTERPACK, options, pam);
        RunResult fromMask = runInProcess(RASTERPACK, withMask, pnm);
        SCOPED_TRACE(options.empty() ? "no options" : options[0]);
        ASSERT_EQ(fromMask.status, 0) << fromMask.err;
        ASSERT_EQ(fromPam.status, 0) << fromPam.err;
        EXPECT_TRUE(fromPam.out == fromMask.out) << "the PNGs differ";
        EXPECT_EQ(fromPam.err, fromMask.err);
        // Both runs could drop the mask alike: a transparent image must keep it.
        PngHeader h = pngHeader(fromPam.out);
        bool transparency = h.colorType == 4 || h.colorType == 6 || countChunks(pngChunks(fromPam.out), "tRNS") > 0;
        EXPECT_TRUE(transparency || c.pattern == AlphaPattern::Opaque);
    }
}

INSTANTIATE_TEST_SUITE_P(
    TupleTypesAndMasks, PamWithAlpha,
    testing::Values(PamCase{"BitOneTransparent", "BLACKANDWHITE_ALPHA", 1, 1, 2, AlphaPattern::OneColourTransparent},
                    PamCase{"BitRandom", "BLACKANDWHITE_ALPHA", 1, 1, 2, AlphaPattern::Random},
                    PamCase{"BitOpaque", "BLACKANDWHITE_ALPHA", 1, 1, 2, AlphaPattern::Opaque},
                    PamCase{"Grey15OneTransparent", "GRAYSCALE_ALPHA", 1, 15, 3, AlphaPattern::OneColourTransparent},
                    PamCase{"Grey255FewLevels", "GRAYSCALE_ALPHA", 1, 255, 4, AlphaPattern::FewLevels},
                    PamCase{"Grey255Random", "GRAYSCALE_ALPHA", 1, 255, 30, AlphaPattern::Random},
                    PamCase{"Grey1000Random", "GRAYSCALE_ALPHA", 1, 1000, 30, AlphaPattern::Random},
                    PamCase{"Grey65535Opaque", "GRAYSCALE_ALPHA", 1, 65535, 5, AlphaPattern::Opaque},
                    PamCase{"Rgb255OneTransparent", "RGB_ALPHA", 3, 255, 4, AlphaPattern::OneColourTransparent},
                    PamCase{"Rgb255FewLevels", "RGB_ALPHA", 3, 255, 5, AlphaPattern::FewLevels},
                    PamCase{"Rgb255Random", "RGB_ALPHA", 3, 255, 35, AlphaPattern::Random},
                    PamCase{"Rgb100FewLevels", "RGB_ALPHA", 3, 100, 6, AlphaPattern::FewLevels},
                    PamCase{"Rgb65535Random", "RGB_ALPHA", 3, 65535, 35, AlphaPattern::Random},
                    PamCase{"Rgb65535OneTransparent", "RGB_ALPHA", 3, 65535, 3, AlphaPattern::OneColourTransparent}),
    caseName);

struct Refusal {
    const char* name;
    std::vector<std::string> args;  // "MASK" stands for a mask file's path
    std::string pam;
    const char* message;
};

std::string twoPixelRgbAlpha(unsigned char lastAlpha, int maxval) {
    return "P7\nWIDTH 2\nHEIGHT 1\nDEPTH 4\nMAXVAL " + std::to_string(maxval) +
           "\nTUPLTYPE RGB_ALPHA\nENDHDR\n" + std::string("\x01\x02\x03\x04\x05\x06\x07", 7) + char(lastAlpha);
}

std::string refusalName(const testing::TestParamInfo<Refusal>& info) { return info.param.name; }

class PamRefusal : public testing::TestWithParam<Refusal> {};

// Refused with one line and nothing on standard output.
TEST_P(PamRefusal, OneLineAndNoOutput) {
    const Refusal& c = GetParam();
    const std::string dir = scratchDir();
    writeFile(dir + "/mask.pgm", makePgm(2, 1, 255, {0, 255}));
    std::vector<std::string> args;
    for (const std::string& a : c.args) args.push_back(a == "MASK" ? dir + "/mask.pgm" : a);
    RunResult r = runInProcess(RASTERPACK, args, c.pam);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, std::string("rasterpack: ") + c.message + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    SecondAlphaOrBadSamples, PamRefusal,
    testing::Values(
        Refusal{"MaskFileAsWell", {"-alpha", "MASK"}, twoPixelRgbAlpha(9, 255),
                "-alpha cannot be used with a PAM image that has alpha (tuple type RGB_ALPHA)"},
        Refusal{"TransparentColour", {"-transparent", "red"}, twoPixelRgbAlpha(9, 255),
                "-transparent cannot be used with a PAM image that has alpha (tuple type RGB_ALPHA)"},
        Refusal{"AlphaAboveMaxval", {}, twoPixelRgbAlpha(101, 100), "sample value 101 is above maxval 100"},
        Refusal{"AlphaAboveMaxvalForced", {"-force"}, twoPixelRgbAlpha(101, 100), "sample value 101 is above maxval 100"},
        // Without alpha nothing reads the raster whole before the PNG starts
        // unless the samples are checked first.
        Refusal{"ColourAboveMaxvalForced", {"-force"},
                "P7\nWIDTH 2\nHEIGHT 1\nDEPTH 3\nMAXVAL 100\nTUPLTYPE RGB\nENDHDR\n\x01\x02\x03\x04\x05\x66",
                "sample value 102 is above maxval 100"}),
    refusalName);

}  // namespace
