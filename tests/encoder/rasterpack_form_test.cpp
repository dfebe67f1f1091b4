// rasterpack's decisions in-process: the analyses over a raster held in a
// temporary file, the palette steps, and the form that facts and the request
// give.
#include "alphapalette.h"
#include "analyses.h"
#include "form.h"
#include "palettebuild.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <ostream>

using namespace testkit;

using namespace rasterpack;

namespace {

// A PNM image in a temporary file, positioned as the driver leaves it.
struct RasterFile {
    RasterSource raster;
    explicit RasterFile(const std::string& pnm) {
        raster.input = tmpfile();
        fwrite(pnm.data(), 1, pnm.size(), raster.input);
        rewind(raster.input);
        pnm_readpnminit(raster.input, &raster.cols, &raster.rows, &raster.maxval, &raster.format);
        pm_tell2(raster.input, &raster.rasterPosition, sizeof raster.rasterPosition);
    }
    ~RasterFile() { fclose(raster.input); }
};

// A mask held as the driver holds it.
struct MaskRows {
    std::vector<std::vector<Sample>> values;
    std::vector<Sample*> pointers;
    AlphaMask mask;
    MaskRows(int cols, int rows, Sample maxval, const std::vector<Sample>& v) {
        for (int y = 0; y < rows; ++y) values.emplace_back(v.begin() + y * cols, v.begin() + (y + 1) * cols);
        for (auto& row : values) pointers.push_back(row.data());
        mask.rows = pointers.data();
        mask.cols = cols;
        mask.rowCount = rows;
        mask.maxval = maxval;
    }
};

// --- significant bits ------------------------------------------------------------

struct SigBitsCase {
    const char* name;
    std::string image;
    int bits;
};

class SignificantBitsAnalysis : public testing::TestWithParam<SigBitsCase> {};

TEST_P(SignificantBitsAnalysis, FindsTheNarrowestExactWidth) {
    RasterFile f(GetParam().image);
    bool colour = pnm_formattype(f.raster.format) == PPM_FORMAT;
    EXPECT_EQ(colour ? findColorSigBits(&f.raster) : findGraySigBits(&f.raster), GetParam().bits);
}

std::string sigName(const testing::TestParamInfo<SigBitsCase>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(
    Images, SignificantBitsAnalysis,
    testing::Values(SigBitsCase{"Grey16ByteCopies", makePgm(3, 1, 65535, {257, 0x4242, 65535}), 8},
                    SigBitsCase{"Grey16OneSampleDiffers", makePgm(3, 1, 65535, {257, 0x4243, 65535}), 16},
                    SigBitsCase{"Grey8MultiplesOf17", makePgm(3, 1, 255, {0, 17, 255}), 4},
                    // 85 is no copy of two bits (0x55 != 1 * 5): the 2-bit test fails
                    SigBitsCase{"Grey8TwoBitLevels", makePgm(4, 1, 255, {0, 85, 170, 255}), 4},
                    SigBitsCase{"Grey15TwoBitCopies", makePgm(4, 1, 15, {0, 5, 10, 15}), 2},
                    SigBitsCase{"Grey3OneBitCopies", makePgm(2, 1, 3, {0, 3}), 1},
                    SigBitsCase{"Grey3NotCopies", makePgm(2, 1, 3, {0, 2}), 2},
                    // later tests look at the raw 16-bit values: only zeros pass them
                    SigBitsCase{"Grey16AllZero", makePgm(2, 1, 65535, {0, 0}), 1},
                    SigBitsCase{"Grey16Nibbles", makePgm(2, 1, 65535, {17 * 257, 0}), 8},
                    SigBitsCase{"Grey100NotAnalysed", makePgm(2, 1, 100, {0, 0}), 7},
                    SigBitsCase{"Grey8Plain", makePgm(2, 1, 255, {34, 51}, true), 4},
                    SigBitsCase{"Colour16ByteCopies", makePpm(1, 1, 65535, {257, 0, 0xffff}), 8},
                    SigBitsCase{"Colour16GreenDiffers", makePpm(1, 1, 65535, {257, 1, 0xffff}), 16},
                    SigBitsCase{"Colour8AlwaysKeeps8", makePpm(1, 1, 255, {0, 17, 255}), 8}),
    sigName);

// --- mask reduction ---------------------------------------------------------------

struct MaskCase {
    const char* name;
    std::string image;
    Sample maskMaxval;
    std::vector<Sample> mask;
    bool reducible;
    Pixel color;
};

class MaskReduction : public testing::TestWithParam<MaskCase> {};

TEST_P(MaskReduction, ToOneTransparentColourOnlyWhenExact) {
    const MaskCase& c = GetParam();
    RasterFile f(c.image);
    MaskRows m(f.raster.cols, f.raster.rows, c.maskMaxval, c.mask);
    MaskColorResult r = findMaskTransparentColor(&f.raster, &m.mask);
    EXPECT_EQ(r.maskIsOneColor, c.reducible);
    if (c.reducible) {
        EXPECT_EQ(r.maskColor, c.color);
    }
}

std::string maskName(const testing::TestParamInfo<MaskCase>& info) { return info.param.name; }

const std::vector<Sample> RED = {255, 0, 0}, BLUE = {0, 0, 255}, GREEN = {0, 255, 0};
std::string rgbRow(std::initializer_list<std::vector<Sample>> pixels) {
    std::vector<Sample> v;
    for (const auto& p : pixels) v.insert(v.end(), p.begin(), p.end());
    return makePpm(int(pixels.size()), 1, 255, v);
}

INSTANTIATE_TEST_SUITE_P(
    Masks, MaskReduction,
    testing::Values(
        MaskCase{"AllTransparentOneColour", rgbRow({RED, RED}), 255, {0, 0}, true, {255, 0, 0}},
        MaskCase{"TransparentRedOpaqueOthers", rgbRow({BLUE, RED, GREEN, RED}), 255, {255, 0, 255, 0}, true,
                 {255, 0, 0}},
        MaskCase{"OpaqueRedToo", rgbRow({RED, RED, GREEN}), 255, {0, 255, 255}, false, {}},
        MaskCase{"TransparentBlueToo", rgbRow({RED, BLUE, GREEN}), 255, {0, 0, 255}, false, {}},
        MaskCase{"PartialValue", rgbRow({RED, GREEN}), 255, {0, 128}, false, {}},
        MaskCase{"AllOpaque", rgbRow({RED, GREEN}), 255, {255, 255}, false, {}},
        MaskCase{"MaskMaxval1", rgbRow({RED, GREEN}), 1, {0, 1}, true, {255, 0, 0}},
        // grey files compare the grey value: the colour comes in all three samples
        MaskCase{"GreyImage", makePgm(3, 1, 255, {9, 80, 9}), 15, {0, 15, 0}, true, {9, 9, 9}},
        MaskCase{"GreyOpaqueSameValue", makePgm(2, 1, 255, {9, 9}), 15, {0, 15}, false, {}},
        MaskCase{"BitImage", makePbm(2, 1, {1, 0}), 255, {0, 255}, true, {0, 0, 0}}),
    maskName);

// --- palette steps ------------------------------------------------------------------

Colormap paletteOf(std::initializer_list<Pixel> colours) {
    Colormap cm;
    for (const Pixel& p : colours) cm.palette[cm.paletteSize++] = p;
    return cm;
}

TEST(ClosestPaletteEntry, TieGoesToTheLowerIndex) {
    Colormap cm = paletteOf({{0, 0, 0}, {9, 9, 9}, {50, 0, 0}, {10, 0, 0}, {200, 0, 0}, {0, 9, 0}, {7, 7, 7},
                             {30, 0, 0}});
    uint32_t d = 0;
    // entries 3 and 7 are both 10 away
    EXPECT_EQ(closestPaletteEntry(&cm, cm.paletteSize, Pixel{20, 0, 0}, &d), 3);
    EXPECT_EQ(d, 100u);
    EXPECT_EQ(closestPaletteEntry(&cm, cm.paletteSize, Pixel{200, 0, 0}, &d), 4);
    EXPECT_EQ(d, 0u);
}

TEST(IndexBits, AtEverySizeBoundary) {
    const int sizes[][2] = {{1, 1}, {2, 1}, {3, 2}, {4, 2}, {5, 4}, {16, 4}, {17, 8}, {256, 8}};
    for (const auto& s : sizes) EXPECT_EQ(chooseIndexBits(s[0]), s[1]) << s[0];
}

TEST(HistogramEntry, ScalesDownOnlyAboveSixteenBitsAndKeepsOccurringColours) {
    EXPECT_EQ(histogramEntry(0, 10), 0);
    EXPECT_EQ(histogramEntry(7, 65535), 7);
    EXPECT_EQ(histogramEntry(65535, 65535), 65535);
    EXPECT_EQ(histogramEntry(131072, 131072), 65535);
    EXPECT_EQ(histogramEntry(65536, 131072), 32768);
    EXPECT_EQ(histogramEntry(1, 16777216), 1);  // would round to 0
    EXPECT_EQ(histogramEntry(16777216, 16777216), 65535);
}

// The worked colour/alpha example: pixels (white, 255), (white, 128),
// (black, 0), (grey, 255) give PLTE white, black, grey, white and tRNS 128, 0.
TEST(AlphaPalette, NonOpaqueFirstOpaqueFromTheEnd) {
    RasterFile f(rgbRow({{255, 255, 255}, {255, 255, 255}, {0, 0, 0}, {128, 128, 128}}));
    MaskRows m(4, 1, 255, {255, 128, 0, 255});
    HistogramCache cache;
    findHistogram(&f.raster, false, &cache);
    ASSERT_EQ(cache.count, 3);
    Colormap cm;
    ASSERT_TRUE(buildAlphaPalette(&f.raster, &m.mask, cache.hist, cache.count, &cm));
    ASSERT_EQ(cm.paletteSize, 4);
    EXPECT_EQ(cm.transSize, 2);
    const Pixel expected[] = {{255, 255, 255}, {0, 0, 0}, {128, 128, 128}, {255, 255, 255}};
    const unsigned alphas[] = {128, 0, 255, 255};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(cm.palette[i], expected[i]) << i;
        EXPECT_EQ(cm.paletteAlpha[i], alphas[i]) << i;
    }
    EXPECT_EQ(placeBackgroundInPalette(Pixel{255, 255, 255}, &cm), BACKGROUND_PRESENT);
    EXPECT_EQ(cm.backgroundIndex, 3);
    // every pair finds its entry; the added background colour's node is never reached
    ColorAlphaHash* table = buildColorAlphaHash(&cm);
    EXPECT_EQ(lookupColorAlpha(table, 255, 255, 255, 128), 0);
    EXPECT_EQ(lookupColorAlpha(table, 0, 0, 0, 0), 1);
    EXPECT_EQ(lookupColorAlpha(table, 128, 128, 128, 255), 2);
    EXPECT_EQ(lookupColorAlpha(table, 255, 255, 255, 255), 3);
    EXPECT_EQ(lookupColorAlpha(table, 255, 255, 255, 0), -1);
    freeColorAlphaHash(table);
    releaseHistogram(&cache);
}

TEST(AlphaPalette, MoreThan256PairsAreRefused) {
    // two colours with 129 and 128 distinct mask values: 257 pairs
    std::vector<Sample> rgb, mask;
    for (int i = 0; i < 257; ++i) {
        Sample v = i < 129 ? 10 : 20;
        rgb.insert(rgb.end(), {v, v, v});
        mask.push_back(Sample(i < 129 ? i : i - 129));
    }
    RasterFile f(makePpm(257, 1, 255, rgb));
    MaskRows m(257, 1, 255, mask);
    HistogramCache cache;
    findHistogram(&f.raster, false, &cache);
    Colormap cm;
    EXPECT_FALSE(buildAlphaPalette(&f.raster, &m.mask, cache.hist, cache.count, &cm));
    // one pair fewer fits exactly
    m.values[0][256] = 0;
    EXPECT_TRUE(buildAlphaPalette(&f.raster, &m.mask, cache.hist, cache.count, &cm));
    EXPECT_EQ(cm.paletteSize, 256);
    releaseHistogram(&cache);
}

TEST(ColorAlphaHash, BucketOfTheColourAlone) {
    EXPECT_EQ(colorAlphaHashValue(Pixel{0, 0, 0}), 0u);
    EXPECT_EQ(colorAlphaHashValue(Pixel{1, 0, 0}), 33023u % 20023u);
    EXPECT_EQ(colorAlphaHashValue(Pixel{255, 255, 255}), (255u * 33023 + 255u * 30013 + 255u * 27011) % 20023u);
}

// --- the form --------------------------------------------------------------------

ImageFacts factsFor(int imageKind, Sample maxval, int significantBits) {
    ImageFacts f;
    f.cols = 4;
    f.rows = 2;
    f.maxval = maxval;
    f.format = imageKind == KIND_PPM ? RPPM_FORMAT : imageKind == KIND_PGM ? RPGM_FORMAT : RPBM_FORMAT;
    f.imageKind = imageKind;
    f.significantBits = significantBits;
    return f;
}

ImageFacts withPalette(ImageFacts f, int size, int transSize = 0) {
    f.palette.outcome = PALETTE_BUILT;
    f.palette.colorCount = size;
    Colormap& cm = f.palette.base;
    for (int i = 0; i < size; ++i) {
        cm.palette[i] = Pixel{Sample(i), Sample(i / 2), 7};
        cm.paletteAlpha[i] = i < transSize ? Sample(i * 10) : 255;
    }
    cm.paletteSize = size;
    cm.transSize = transSize;
    return f;
}

struct FormCase {
    const char* name;
    ImageFacts facts;
    FormRequest request;
    int colorType, depth;
    int sbitGray = -1, sbitColour = -1, sbitAlpha = -1;  // -1: no sBIT
};

FormRequest ask(std::initializer_list<const char*> flags) {
    FormRequest r;
    for (std::string f : flags) {
        if (f == "alpha") r.alpha = true;
        if (f == "force") r.force = true;
        if (f == "transparent") r.transparent = true;
        if (f == "background") r.background = true;
        if (f == "hist") r.hist = true;
        if (f == "palette") r.orderedPalette = true;
    }
    return r;
}

ImageFacts tooManyColours(ImageFacts f) {
    f.palette.outcome = PALETTE_TOO_MANY_COLORS;
    return f;
}

// A colour file whose grey scan found grey pixels only.
ImageFacts allGrey(ImageFacts f) {
    f.allGrey = true;
    return f;
}

// Colours counted, but no palette built (the driver skips the pass when the
// rules already refuse one).
ImageFacts countedOnly(ImageFacts f, int count) {
    f.palette.outcome = PALETTE_COUNTED;
    f.palette.colorCount = count;
    return f;
}

ImageFacts maskOf(ImageFacts f, Sample maskMaxval, bool oneColor = false) {
    f.maskMaxval = maskMaxval;
    f.maskIsOneColor = oneColor;
    return f;
}

class FormDecision : public testing::TestWithParam<FormCase> {};

TEST_P(FormDecision, ColourTypeDepthAndSignificantBits) {
    const FormCase& c = GetParam();
    PngForm form = decidePngForm(&c.facts, &c.request);
    EXPECT_EQ(form.colorType, c.colorType);
    EXPECT_EQ(form.depth, c.depth);
    EXPECT_EQ(form.pngMaxval, pm_bitstomaxval(c.depth));
    EXPECT_EQ(form.colormapped, c.colorType == 3);
    EXPECT_EQ(form.hasSignificantBits, c.sbitGray >= 0 || c.sbitColour >= 0);
    if (c.sbitGray >= 0) {
        EXPECT_EQ(form.significantBits.gray, c.sbitGray);
    }
    if (c.sbitColour >= 0) {
        EXPECT_EQ(form.significantBits.red, c.sbitColour);
    }
    if (c.sbitAlpha >= 0) {
        EXPECT_EQ(form.significantBits.alpha, c.sbitAlpha);
    }
}

std::string formName(const testing::TestParamInfo<FormCase>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(
    Facts, FormDecision,
    testing::Values(
        FormCase{"Bit", factsFor(KIND_PBM, 1, 1), {}, 0, 1},
        FormCase{"Grey2Bits", factsFor(KIND_PGM, 3, 2), {}, 0, 2},
        FormCase{"Grey15", factsFor(KIND_PGM, 15, 4), {}, 0, 4},
        FormCase{"Grey255FoundFourBits", factsFor(KIND_PGM, 255, 4), {}, 0, 4, 4},
        FormCase{"Grey255FoundOneBit", factsFor(KIND_PGM, 255, 1), {}, 0, 1, 1},
        FormCase{"Grey100", factsFor(KIND_PGM, 100, 7), {}, 0, 8, 7},
        FormCase{"Grey16FoundEight", factsFor(KIND_PGM, 65535, 8), {}, 0, 8, 8},
        FormCase{"Grey1000", factsFor(KIND_PGM, 1000, 10), {}, 0, 16, 10},
        FormCase{"Colour16FoundEight", factsFor(KIND_PPM, 65535, 8), {}, 2, 8, -1, 8},
        FormCase{"Colour31", factsFor(KIND_PPM, 31, 5), {}, 2, 8, -1, 5},
        FormCase{"Colour255", factsFor(KIND_PPM, 255, 8), {}, 2, 8},
        FormCase{"GreyWithMask", maskOf(factsFor(KIND_PGM, 15, 4), 15), ask({"alpha"}), 4, 8, 4, -1, 4},
        FormCase{"ColourWithMask", maskOf(factsFor(KIND_PPM, 255, 8), 1), ask({"alpha"}), 6, 8, -1, 8, 1},
        FormCase{"ColourWithWideMask", maskOf(factsFor(KIND_PPM, 255, 8), 65535), ask({"alpha"}), 6, 8, -1, 8, 8},
        FormCase{"ReducedMaskDropsTheChannel", maskOf(factsFor(KIND_PPM, 255, 8), 255, true), ask({"alpha"}), 2, 8},
        FormCase{"ForceKeepsAReducibleMask", maskOf(factsFor(KIND_PPM, 255, 8), 255, true),
                 ask({"alpha", "force"}), 6, 8},
        FormCase{"PaletteOf2", withPalette(factsFor(KIND_PPM, 255, 8), 2), {}, 3, 1},
        FormCase{"PaletteOf3", withPalette(factsFor(KIND_PPM, 255, 8), 3), {}, 3, 2},
        FormCase{"PaletteOf5", withPalette(factsFor(KIND_PPM, 255, 8), 5), {}, 3, 4},
        FormCase{"PaletteOf16", withPalette(factsFor(KIND_PPM, 255, 8), 16), {}, 3, 4},
        FormCase{"PaletteOf17", withPalette(factsFor(KIND_PPM, 255, 8), 17), {}, 3, 8},
        FormCase{"PaletteOf256", withPalette(factsFor(KIND_PPM, 255, 8), 256), {}, 3, 8},
        // an added background entry counts
        FormCase{"PaletteOf16PlusBackground", withPalette(factsFor(KIND_PPM, 255, 8), 16), ask({"background"}), 3, 8},
        FormCase{"PaletteWithMaskHasNoAlphaChannel", maskOf(withPalette(factsFor(KIND_PPM, 255, 8), 3, 2), 255),
                 ask({"alpha"}), 3, 2},
        // a palette built earlier is never used under -force or for a bit image
        FormCase{"ForceIgnoresThePalette", withPalette(factsFor(KIND_PPM, 255, 8), 3), ask({"force"}), 2, 8},
        FormCase{"NoPaletteAbove255", withPalette(factsFor(KIND_PPM, 1000, 10), 3), {}, 2, 16, -1, 10},
        // a colour file of grey pixels is written grey, unless -force keeps its form
        FormCase{"AllGreyColourWrittenGrey", allGrey(factsFor(KIND_PPM, 1000, 10)), {}, 0, 16, 10},
        FormCase{"ForceKeepsAnAllGreyColourFileRgb", allGrey(factsFor(KIND_PPM, 1000, 10)), ask({"force"}), 2, 16,
                 -1, 10},
        // grey: a palette only when its indexes take at most half the sample bits
        FormCase{"GreyIndexOf16LevelsFits", withPalette(factsFor(KIND_PGM, 255, 8), 16), {}, 3, 4},
        FormCase{"GreyIndexOf17LevelsTooWide", withPalette(factsFor(KIND_PGM, 255, 8), 17), {}, 0, 8},
        FormCase{"GreyIndexTooWideBeforeBuilding", countedOnly(factsFor(KIND_PGM, 255, 8), 17), {}, 0, 8},
        FormCase{"GreyMaxval15IndexOf4LevelsFits", withPalette(factsFor(KIND_PGM, 15, 4), 4), {}, 3, 2},
        FormCase{"GreyMaxval15IndexOf5LevelsTooWide", withPalette(factsFor(KIND_PGM, 15, 4), 5), {}, 0, 4},
        FormCase{"GreyOfNoColoursTooWide", withPalette(factsFor(KIND_PGM, 255, 8), 0), {}, 0, 8},
        FormCase{"GreyLookingColourTakesTheGreyRule", withPalette(allGrey(factsFor(KIND_PPM, 255, 8)), 17), {}, 0,
                 8},
        FormCase{"GreyLookingColourOf16Levels", withPalette(allGrey(factsFor(KIND_PPM, 255, 8)), 16), {}, 3, 4},
        FormCase{"ColourOf17IsNoGreyIndex", withPalette(factsFor(KIND_PPM, 255, 8), 17), {}, 3, 8},
        FormCase{"OrderedPaletteOverridesTheGreyRule", withPalette(factsFor(KIND_PGM, 255, 8), 17),
                 ask({"palette"}), 3, 8}),
    formName);

// Why a palette that was considered is not used; the verbose report says so.
TEST(FormDecision, PaletteVerdictNamesTheRefusal) {
    FormRequest none;
    ImageFacts tooMany = tooManyColours(factsFor(KIND_PPM, 255, 8));
    EXPECT_EQ(decidePngForm(&tooMany, &none).paletteVerdict, PALETTE_REFUSED_TOO_MANY_COLORS);
    ImageFacts grey = countedOnly(factsFor(KIND_PGM, 255, 8), 17);
    EXPECT_EQ(decidePngForm(&grey, &none).paletteVerdict, PALETTE_REFUSED_GREY_INDEX_TOO_WIDE);
    ImageFacts pairs = maskOf(countedOnly(factsFor(KIND_PPM, 255, 8), 3), 255);
    pairs.palette.outcome = PALETTE_TOO_MANY_PAIRS;
    FormRequest alpha = ask({"alpha"});
    EXPECT_EQ(decidePngForm(&pairs, &alpha).paletteVerdict, PALETTE_REFUSED_TOO_MANY_PAIRS);
    EXPECT_EQ(decidePngForm(&pairs, &alpha).colorType, 6);
    ImageFacts built = withPalette(factsFor(KIND_PPM, 255, 8), 3);
    EXPECT_EQ(decidePngForm(&built, &none).paletteVerdict, PALETTE_USED);
    FormRequest force = ask({"force"});
    EXPECT_EQ(decidePngForm(&built, &force).paletteVerdict, PALETTE_NOT_CONSIDERED);
}

// Which passes over the raster the rules still want: -force skips them all,
// the family of the file (not the grey scan) picks the significant-bit test,
// and a palette is built only when the form could take it.
struct PassCase {
    const char* name;
    ImageFacts facts;
    FormRequest request;
    bool greyScan;
    SignificantBitsScan sbitScan;
    bool paletteTried, paletteBuilt;
};

class PassesWorthMaking : public testing::TestWithParam<PassCase> {};

TEST_P(PassesWorthMaking, ForTheFactsSoFar) {
    const PassCase& c = GetParam();
    EXPECT_EQ(greyScanWanted(&c.facts, &c.request), c.greyScan);
    EXPECT_EQ(significantBitsScan(&c.facts, &c.request), c.sbitScan);
    EXPECT_EQ(paletteTried(&c.facts, &c.request), c.paletteTried);
    EXPECT_EQ(paletteWorthBuilding(&c.facts, &c.request), c.paletteBuilt);
}

std::string passName(const testing::TestParamInfo<PassCase>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(
    Facts, PassesWorthMaking,
    testing::Values(
        PassCase{"Colour", countedOnly(factsFor(KIND_PPM, 255, 8), 17), {}, true, SBIT_SCAN_COLOR, true, true},
        PassCase{"ColourForced", countedOnly(factsFor(KIND_PPM, 255, 8), 17), ask({"force"}), false, SBIT_SCAN_NONE,
                 false, false},
        PassCase{"AllGreyColour", countedOnly(allGrey(factsFor(KIND_PPM, 255, 8)), 17), {}, true, SBIT_SCAN_COLOR,
                 true, false},
        PassCase{"Grey16Levels", countedOnly(factsFor(KIND_PGM, 255, 8), 16), {}, false, SBIT_SCAN_GREY, true, true},
        PassCase{"Grey17Levels", countedOnly(factsFor(KIND_PGM, 255, 8), 17), {}, false, SBIT_SCAN_GREY, true, false},
        PassCase{"Grey17LevelsOrdered", countedOnly(factsFor(KIND_PGM, 255, 8), 17), ask({"palette"}), false,
                 SBIT_SCAN_GREY, true, true},
        PassCase{"GreyWithMask", countedOnly(factsFor(KIND_PGM, 255, 8), 3), ask({"alpha"}), false, SBIT_SCAN_NONE,
                 true, true},
        PassCase{"TooManyColours", tooManyColours(factsFor(KIND_PPM, 255, 8)), {}, true, SBIT_SCAN_COLOR, true, false},
        PassCase{"Bits", factsFor(KIND_PBM, 1, 1), {}, false, SBIT_SCAN_NONE, false, false},
        PassCase{"Maxval256", countedOnly(factsFor(KIND_PPM, 256, 9), 3), {}, true, SBIT_SCAN_COLOR, false, false}),
    passName);

TEST(FormDecision, TransparentColourGoesToIndexZeroOnlyWhenPresentOrInexact) {
    ImageFacts f = withPalette(factsFor(KIND_PPM, 255, 8), 8);
    f.transparentColor = Pixel{6, 3, 7};  // entry 6
    FormRequest s = ask({"transparent"});
    PngForm form = decidePngForm(&f, &s);
    EXPECT_EQ(form.transparentPlacement, TRANSPARENT_MADE);
    EXPECT_EQ(form.colormap.transSize, 1);
    EXPECT_EQ(form.trns[0], 0);
    EXPECT_EQ(form.colormap.palette[0], (Pixel{6, 3, 7}));
    EXPECT_EQ(form.colormap.palette[6], (Pixel{0, 0, 7}));  // the former entry 0 takes its place

    f.transparentColor = Pixel{6, 3, 9};  // absent: the nearest is entry 6
    form = decidePngForm(&f, &s);
    EXPECT_EQ(form.transparentPlacement, TRANSPARENT_MADE);
    EXPECT_EQ(form.colormap.palette[0], (Pixel{6, 3, 7}));

    f.exactTransparent = true;  // "=": absent means ignored
    form = decidePngForm(&f, &s);
    EXPECT_EQ(form.transparentPlacement, TRANSPARENT_NOT_PRESENT);
    EXPECT_EQ(form.colormap.transSize, 0);
    EXPECT_EQ(form.colormap.palette[0], (Pixel{0, 0, 7}));

    f.transparentColor = Pixel{6, 3, 7};  // "=" and present
    form = decidePngForm(&f, &s);
    EXPECT_EQ(form.transparentPlacement, TRANSPARENT_MADE);
}

TEST(FormDecision, ReducedMaskColourIsTheTransparentOne) {
    ImageFacts f = maskOf(withPalette(factsFor(KIND_PPM, 255, 8), 4), 255, true);
    f.maskColor = Pixel{3, 1, 7};
    FormRequest s = ask({"alpha"});
    PngForm form = decidePngForm(&f, &s);
    EXPECT_EQ(form.colorType, 3);
    EXPECT_EQ(form.colormap.palette[0], (Pixel{3, 1, 7}));
    EXPECT_EQ(form.colormap.transSize, 1);

    ImageFacts direct = maskOf(factsFor(KIND_PPM, 100, 7), 255, true);
    direct.maskColor = Pixel{100, 50, 0};
    form = decidePngForm(&direct, &s);
    EXPECT_EQ(form.colorType, 2);
    ASSERT_TRUE(form.hasTransparentColor);
    EXPECT_EQ(form.transparentColor.red, 255);
    EXPECT_EQ(form.transparentColor.green, 128);
    EXPECT_EQ(form.transparentColor.gray, 0);
}

TEST(FormDecision, BackgroundPresentAddedOrClosest) {
    ImageFacts f = withPalette(factsFor(KIND_PPM, 255, 8), 4);
    FormRequest s = ask({"background"});
    f.backgroundColor = Pixel{2, 1, 7};
    PngForm form = decidePngForm(&f, &s);
    EXPECT_EQ(form.backgroundPlacement, BACKGROUND_PRESENT);
    EXPECT_EQ(form.backgroundIndex, 2);
    EXPECT_EQ(form.colormap.paletteSize, 4);

    f.backgroundColor = Pixel{200, 0, 0};
    form = decidePngForm(&f, &s);
    EXPECT_EQ(form.backgroundPlacement, BACKGROUND_ADDED);
    EXPECT_EQ(form.backgroundIndex, 4);
    EXPECT_EQ(form.colormap.paletteSize, 5);
    EXPECT_EQ(form.plte[4][0], 200);

    ImageFacts full = withPalette(factsFor(KIND_PPM, 255, 8), 256);
    full.backgroundColor = Pixel{250, 126, 8};  // nearest: entry 250 (250, 125, 7), 2 away
    form = decidePngForm(&full, &s);
    EXPECT_EQ(form.backgroundPlacement, BACKGROUND_CLOSEST);
    EXPECT_EQ(form.backgroundIndex, 250);
    EXPECT_EQ(form.colormap.paletteSize, 256);
}

TEST(FormDecision, PaletteBytesAtEightBits) {
    ImageFacts f = maskOf(withPalette(factsFor(KIND_PPM, 15, 4), 3, 2), 15);
    f.palette.base.palette[0] = Pixel{15, 8, 1};
    f.palette.base.paletteAlpha[0] = 8;
    FormRequest s = ask({"alpha"});
    PngForm form = decidePngForm(&f, &s);
    EXPECT_EQ(form.plte[0][0], 255);
    EXPECT_EQ(form.plte[0][1], 136);  // (8 * 255 + 7) / 15
    EXPECT_EQ(form.plte[0][2], 17);
    EXPECT_EQ(form.trns[0], 136);
    EXPECT_EQ(form.trns[1], 170);  // alpha 10 of 15
}

}  // namespace
