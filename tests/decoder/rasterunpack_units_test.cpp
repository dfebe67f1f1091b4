// rasterunpack's pure parts in-process: the plan for each kind of header,
// the gamma correction, compositing, the row conversion and the reports.
#include "decisions.h"
#include "pixels.h"
#include "reports.h"
#include "textchunks.h"

#include <pngrecovery.h>

#include <gtest/gtest.h>

#include <zlib.h>

#include <cstdio>
#include <string>

using namespace rasterunpack;

namespace {

// --- the plan --------------------------------------------------------------------

HeaderFacts facts(int colorType, int depth) {
    HeaderFacts f;
    f.width = f.height = 1;
    f.colorType = colorType;
    f.bitDepth = depth;
    return f;
}

HeaderFacts withSbit(HeaderFacts f, SignificantBitCounts bits) {
    f.hasSbit = true;
    f.sbit = bits;
    return f;
}

HeaderFacts greyPalette(int depth, int entries) {
    HeaderFacts f = facts(3, depth);
    f.paletteCount = entries;
    for (int i = 0; i < entries; ++i) f.palette[i] = {uint8_t(i * 16), uint8_t(i * 16), uint8_t(i * 16)};
    return f;
}

HeaderFacts withPaletteAlpha(HeaderFacts f, std::initializer_list<uint8_t> alphas) {
    f.hasTrns = true;
    for (uint8_t a : alphas) f.trnsAlpha[f.trnsCount++] = a;
    return f;
}

DecoderSettings settings(AlphaMode mode = ALPHA_NONE, float gamma = -1.0f) {
    DecoderSettings s;
    s.alphaMode = mode;
    s.displayGamma = gamma;
    return s;
}

struct PlanCase {
    const char* name;
    HeaderFacts facts;
    DecoderSettings settings;
    int maxval;
    int format;
    bool shift;
    bool gamma;
    std::vector<std::string> alwaysNotes;  // shown without -verbose
};

class Plan : public testing::TestWithParam<PlanCase> {};

TEST_P(Plan, MaxvalFormatAndTransformations) {
    const PlanCase& c = GetParam();
    DecodePlan plan = planConversion(c.facts, c.settings);
    EXPECT_EQ(plan.maxval, c.maxval);
    EXPECT_EQ(chooseOutputFormat(c.facts, plan, c.settings.alphaMode), c.format);
    EXPECT_EQ(plan.shift, c.shift);
    EXPECT_EQ(plan.gamma, c.gamma);
    std::vector<std::string> always;
    for (int i = 0; i < plan.noteCount; ++i)
        if (plan.notes[i].always) always.push_back(plan.notes[i].text);
    EXPECT_EQ(always, c.alwaysNotes);
}

HeaderFacts gammaFile(HeaderFacts f, float gamma) {
    f.hasGama = true;
    f.imageGamma = gamma;
    return f;
}

const std::vector<std::string> UNEQUAL_NOTES = {"different bit depths for color channels not supported",
                                                "writing file with 8 bit resolution"};

INSTANTIATE_TEST_SUITE_P(
    Headers, Plan,
    testing::Values(
        PlanCase{"RgbSbit565", withSbit(facts(2, 8), {5, 6, 5, 0, 0}), settings(), 255, PPM_FORMAT, false, false,
                 UNEQUAL_NOTES},
        PlanCase{"GreySbitFull", withSbit(facts(0, 8), {0, 0, 0, 8, 0}), settings(), 255, PGM_FORMAT, false, false,
                 {}},
        PlanCase{"GammaMinusOneIsNone", gammaFile(facts(0, 8), 0.5f), settings(ALPHA_NONE, -1.0f), 255, PGM_FORMAT,
                 false, false, {}},
        PlanCase{"AlphaOfGrey", facts(0, 16), settings(ALPHA_ONLY), 65535, PBM_FORMAT, false, false, {}},
        PlanCase{"AlphaOfRgb", facts(2, 8), settings(ALPHA_ONLY), 255, PBM_FORMAT, false, false, {}},
        PlanCase{"MixIgnoresSbitOfAlphaTypes", withSbit(facts(6, 8), {4, 4, 4, 0, 4}), settings(ALPHA_MIX), 255,
                 PPM_FORMAT, false, false, {}},
        PlanCase{"MixIgnoresSbitOfPartialPalette",
                 withSbit(withPaletteAlpha(greyPalette(8, 4), {7}), {4, 4, 4, 0, 0}), settings(ALPHA_MIX), 255,
                 PGM_FORMAT, false, false, {}},
        PlanCase{"SbitZeroIgnored", withSbit(facts(0, 8), {0, 0, 0, 0, 0}), settings(), 255, PGM_FORMAT, false,
                 false, {}},
        PlanCase{"SbitBeyondDepthIgnored", withSbit(facts(0, 4), {0, 0, 0, 6, 0}), settings(), 15, PGM_FORMAT,
                 false, false, {}},
        PlanCase{"PaletteSbit9Ignored", withSbit(greyPalette(8, 4), {9, 9, 9, 0, 0}), settings(), 255, PGM_FORMAT,
                 false, false, {}},
        PlanCase{"AlphaCountZeroIgnored", withSbit(facts(6, 8), {8, 8, 8, 0, 0}), settings(ALPHA_ONLY), 255,
                 PGM_FORMAT, false, false, {}},
        PlanCase{"UnequalZeroIgnored", withSbit(facts(2, 8), {5, 0, 5, 0, 0}), settings(), 255, PPM_FORMAT, false,
                 false, {}}),
    [](const testing::TestParamInfo<PlanCase>& info) { return info.param.name; });

TEST(PlanDetail, GreyShiftBringsTheBackgroundToTheLoweredMaxval) {
    HeaderFacts f = withSbit(facts(0, 16), {0, 0, 0, 4, 0});
    f.hasBkgd = true;
    f.bkgdGrey = 0x8000;
    DecodePlan plan = planConversion(f, settings(ALPHA_MIX));
    EXPECT_EQ(plan.maxval, 15);
    EXPECT_EQ(plan.colourShift, 12);
    EXPECT_EQ(plan.background.blue, 8);
}

struct BackgroundCase {
    const char* name;
    HeaderFacts facts;
    float gamma;
    Rgb16 expected;
};

HeaderFacts withBkgd(HeaderFacts f, uint8_t index, uint16_t grey, Rgb16 colour) {
    f.hasBkgd = true;
    f.bkgdIndex = index;
    f.bkgdGrey = grey;
    f.bkgdColor = colour;
    return f;
}

class Background : public testing::TestWithParam<BackgroundCase> {};

TEST_P(Background, FromTheFile) {
    const BackgroundCase& c = GetParam();
    DecodePlan plan = planConversion(c.facts, settings(ALPHA_MIX, c.gamma));
    EXPECT_EQ(plan.background.red, c.expected.red);
    EXPECT_EQ(plan.background.green, c.expected.green);
    EXPECT_EQ(plan.background.blue, c.expected.blue);
}

INSTANTIATE_TEST_SUITE_P(
    Chunks, Background,
    testing::Values(BackgroundCase{"NoBkgdIsWhite", facts(2, 16), -1.0f, {65535, 65535, 65535}},
                    BackgroundCase{"Grey", withBkgd(facts(4, 8), 0, 7, {1, 2, 3}), -1.0f, {7, 7, 7}},
                    BackgroundCase{"Colour", withBkgd(facts(2, 8), 0, 7, {1, 2, 3}), -1.0f, {1, 2, 3}},
                    BackgroundCase{"PaletteEntry", withBkgd(greyPalette(8, 4), 3, 0, {}), -1.0f, {48, 48, 48}},
                    // An index beyond the palette reads as black, never past it.
                    BackgroundCase{"PaletteIndexBeyond", withBkgd(greyPalette(8, 4), 200, 0, {}), -1.0f, {0, 0, 0}},
                    BackgroundCase{"GammaCorrected", withBkgd(facts(2, 8), 0, 0, {64, 128, 255}), 2.2f,
                                   {136, 186, 255}}),
    [](const testing::TestParamInfo<BackgroundCase>& info) { return info.param.name; });

// --- gamma and compositing ---------------------------------------------------------

TEST(CorrectGamma, WorkedValues) {
    const struct {
        uint16_t v, maxval;
        float gamma;
        uint16_t expected;
    } cases[] = {{0, 255, 2.2f, 0},   {64, 255, 2.2f, 136}, {128, 255, 2.2f, 186},
                 {255, 255, 2.2f, 255}, {100, 255, 1.0f, 100}, {32768, 65535, 0.5f, 16384}};
    for (const auto& c : cases) EXPECT_EQ(correctGamma(c.v, c.maxval, c.gamma), c.expected) << c.v;
}

PixelConversion conversion(int colorType, AlphaMode mode, uint16_t maxval = 255, Rgb16 bg = {0, 0, 0}) {
    PixelConversion c;
    c.colorType = colorType;
    c.alphaMode = mode;
    c.maxval = maxval;
    c.background = bg;
    return c;
}

// The composite is (p x alpha + b x (M - alpha)) / M truncated: a whole
// result stays whole.
TEST(StoreXel, CompositingWorkedValues) {
    const struct {
        uint16_t maxval, colour, background, alpha, expected;
    } cases[] = {{255, 200, 50, 128, 125},       {255, 200, 0, 100, 78},         {255, 10, 250, 200, 61},
                 {255, 10, 250, 0, 250},         {255, 10, 250, 255, 10},        {255, 255, 255, 122, 255},
                 {255, 51, 0, 5, 1},             {65535, 65535, 65535, 30001, 65535},
                 {65535, 65535, 0, 65534, 65534}, {65535, 40000, 20000, 32768, 30000},
                 {15, 15, 15, 7, 15},            {1, 1, 0, 0, 0}};
    for (const auto& c : cases) {
        PixelConversion pc = conversion(2, ALPHA_MIX, c.maxval, {c.background, c.background, c.background});
        Xel out{9, 9, 9};
        storeXel(pc, &out, c.colour, c.colour, c.colour, c.alpha);
        EXPECT_EQ(out, (Xel{c.expected, c.expected, c.expected})) << c.colour << " over " << c.background << " at "
                                                                  << c.alpha << "/" << c.maxval;
    }
}

TEST(StoreXel, Modes) {
    Xel out{};
    storeXel(conversion(2, ALPHA_ONLY), &out, 1, 2, 3, 77);
    EXPECT_EQ(out, (Xel{0, 0, 77}));
    storeXel(conversion(2, ALPHA_NONE), &out, 1, 2, 3, 0);
    EXPECT_EQ(out, (Xel{1, 2, 3}));
}

// --- rows as stored to output pixels ---------------------------------------------

// The row bytes as libpng delivers them, through the plan and the sample map.
std::vector<Xel> convertStored(const HeaderFacts& f, const DecoderSettings& s, const std::vector<uint8_t>& row) {
    DecodePlan plan = planConversion(f, s);
    std::vector<uint16_t> map(sampleMapSize(f.bitDepth));
    fillSampleMap(plan, f.bitDepth, map.data());
    PixelConversion c = pixelConversionFor(f, plan, s.alphaMode, f.colorType == 3 ? nullptr : map.data());
    std::vector<Xel> out(f.width);
    EXPECT_TRUE(convertRow(c, row.data(), f.width, out.data()));
    return out;
}

HeaderFacts wide(HeaderFacts f, uint32_t width) {
    f.width = width;
    return f;
}

HeaderFacts withTrnsGrey(HeaderFacts f, uint16_t grey) {
    f.hasTrns = true;
    f.trnsGrey = grey;
    return f;
}

HeaderFacts withTrnsColour(HeaderFacts f, Rgb16 colour) {
    f.hasTrns = true;
    f.trnsColor = colour;
    return f;
}

Xel grey(Sample v) { return Xel{v, v, v}; }
Xel alpha(Sample a) { return Xel{0, 0, a}; }

struct StoredCase {
    const char* name;
    HeaderFacts facts;
    DecoderSettings settings;
    std::vector<uint8_t> row;
    std::vector<Xel> expected;
};

class StoredSamples : public testing::TestWithParam<StoredCase> {};

TEST_P(StoredSamples, TransparencyIsDecidedBeforeTheSamplesAreMapped) {
    const StoredCase& c = GetParam();
    EXPECT_EQ(convertStored(c.facts, c.settings, c.row), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, StoredSamples,
    testing::Values(
        // 17 differs from the tRNS colour 16 only in bits sBIT marks
        // insignificant: it stays opaque, under -mix as under -alpha.
        StoredCase{"SbitMix", withTrnsColour(withSbit(wide(facts(2, 8), 3), {4, 4, 4, 0, 0}), {16, 16, 16}),
                   settings(ALPHA_MIX), {16, 16, 16, 17, 17, 17, 200, 200, 200}, {grey(15), grey(1), grey(12)}},
        StoredCase{"SbitAlpha", withTrnsColour(withSbit(wide(facts(2, 8), 3), {4, 4, 4, 0, 0}), {16, 16, 16}),
                   settings(ALPHA_ONLY), {16, 16, 16, 17, 17, 17, 200, 200, 200}, {alpha(0), alpha(255), alpha(255)}},
        StoredCase{"SbitGreyMix", withTrnsGrey(withSbit(wide(facts(0, 8), 2), {0, 0, 0, 4, 0}), 0xf3),
                   settings(ALPHA_MIX), {0xf3, 0xf4}, {grey(15), grey(15)}},
        // Gamma 2.2 takes 252 and 253 to the same value: only 252 is the
        // tRNS grey.
        StoredCase{"GammaGrey8", withTrnsGrey(wide(facts(0, 8), 4), 252), settings(ALPHA_ONLY, 2.2f),
                   {250, 251, 252, 253}, {alpha(255), alpha(255), alpha(0), alpha(255)}},
        StoredCase{"GammaGrey16", withTrnsGrey(wide(facts(0, 16), 2), 1000), settings(ALPHA_ONLY, 2.2f),
                   {0x03, 0xe8, 0x03, 0xe9}, {alpha(0), alpha(65535)}},
        StoredCase{"GammaRgbMix", withTrnsColour(wide(facts(2, 8), 2), {253, 253, 253}),
                   settings(ALPHA_MIX, 2.2f), {252, 252, 252, 253, 253, 253}, {grey(254), grey(255)}},
        // Below 8 bits the samples come packed, the first in the high bits.
        StoredCase{"Grey1Packed", wide(facts(0, 1), 10), settings(), {0xb0, 0x40},
                   {grey(1), grey(0), grey(1), grey(1), grey(0), grey(0), grey(0), grey(0), grey(0), grey(1)}},
        StoredCase{"Grey2PackedTrns", withTrnsGrey(wide(facts(0, 2), 5), 2), settings(ALPHA_ONLY), {0x1b, 0x80},
                   {alpha(3), alpha(3), alpha(0), alpha(3), alpha(0)}},
        StoredCase{"Grey4PackedSbit", withSbit(wide(facts(0, 4), 3), {0, 0, 0, 2, 0}), settings(), {0xf4, 0x30},
                   {grey(3), grey(1), grey(0)}},
        // Index 15 is beyond the palette: black.
        StoredCase{"Palette4Packed", wide(greyPalette(4, 3), 3), settings(), {0x1f, 0x20},
                   {grey(16), grey(0), grey(32)}},
        StoredCase{"Palette1Packed", wide(greyPalette(1, 2), 9), settings(), {0x81, 0x80},
                   {grey(16), grey(0), grey(0), grey(0), grey(0), grey(0), grey(0), grey(16), grey(16)}},
        // An alpha channel loses the bits sBIT marks insignificant under -alpha.
        StoredCase{"AlphaSbit", withSbit(wide(facts(4, 16), 2), {0, 0, 0, 16, 4}), settings(ALPHA_ONLY),
                   {1, 2, 0xff, 0xff, 1, 2, 0x7f, 0xff}, {alpha(15), alpha(7)}}),
    [](const testing::TestParamInfo<StoredCase>& info) { return info.param.name; });

// Samples, palette entries and the background all take the same gamma, one
// that is read as the number given.
TEST(Gamma, SamplesPaletteAndBackgroundAgree) {
    for (float display : {128.0f, 1.02f, 2.2f, 0.3f, 0.001f}) {
        for (uint8_t v : {0, 1, 17, 100, 200, 254, 255}) {
            HeaderFacts truecolour = withBkgd(gammaFile(facts(2, 8), 0.45455f), 0, 0, {v, v, v});
            HeaderFacts palette = withBkgd(gammaFile(facts(3, 8), 0.45455f), 0, 0, {});
            palette.paletteCount = 1;
            palette.palette[0] = {v, v, v};
            Xel sample = convertStored(truecolour, settings(ALPHA_NONE, display), {v, v, v})[0];
            Xel entry = convertStored(palette, settings(ALPHA_NONE, display), {0})[0];
            DecodePlan plan = planConversion(truecolour, settings(ALPHA_MIX, display));
            uint16_t expected = correctGamma(v, 255, display * 0.45455f);
            EXPECT_EQ(sample, grey(expected)) << display << " " << int(v);
            EXPECT_EQ(entry, grey(expected)) << display << " " << int(v);
            EXPECT_EQ(plan.background.red, expected) << display << " " << int(v);
        }
    }
}

TEST(Gamma, ZeroIsRefusedOnlyForAPngWithGama) {
    EXPECT_FALSE(displayGammaRefused(facts(0, 8), settings(ALPHA_NONE, 0.0f)));
    EXPECT_TRUE(displayGammaRefused(gammaFile(facts(0, 8), 0.45455f), settings(ALPHA_NONE, 0.0f)));
    EXPECT_FALSE(displayGammaRefused(gammaFile(facts(0, 8), 0.45455f), settings(ALPHA_NONE, 2.2f)));
}

// --- text chunks ------------------------------------------------------------------

std::string zlibOf(const std::string& text) {
    uLongf size = compressBound(uLong(text.size()));
    std::string z(size, '\0');
    compress2(reinterpret_cast<Bytef*>(&z[0]), &size, reinterpret_cast<const Bytef*>(text.data()), uLong(text.size()),
              9);
    z.resize(size);
    return z;
}

std::string nul(const char* text) { return std::string(text) + '\0'; }

struct TextChunkCase {
    const char* name;
    const char* type;
    std::string data;
    size_t budget;
    TextChunkOutcome outcome;
    // Kept: keyword and text, and for iTXt language and translated keyword.
    std::vector<std::string> kept;
};

class TextChunk : public testing::TestWithParam<TextChunkCase> {};

TEST_P(TextChunk, Decoded) {
    const TextChunkCase& c = GetParam();
    DecodedText out;
    TextChunkOutcome outcome =
        decodeTextChunk(c.type, reinterpret_cast<const uint8_t*>(c.data.data()), c.data.size(), c.budget, &out);
    EXPECT_EQ(outcome, c.outcome) << textOutcomeReason(outcome);
    if (outcome != TEXT_KEPT) {
        EXPECT_EQ(out.buffer, nullptr);
        return;
    }
    bool international = std::string(c.type) == "iTXt";
    std::vector<std::string> kept = {out.entry.key, out.entry.text};
    if (international) kept.insert(kept.end(), {out.entry.lang, out.entry.lang_key});
    EXPECT_EQ(kept, c.kept);
    EXPECT_EQ(international ? out.entry.itxt_length : out.entry.text_length, c.kept[1].size());
    free(out.buffer);
}

const std::string LONG_KEYWORD(80, 'k');
const std::string MEBIBYTE_OF_A(1 << 20, 'A');

INSTANTIATE_TEST_SUITE_P(
    Chunks, TextChunk,
    testing::Values(
        TextChunkCase{"Plain", "tEXt", nul("Title") + "Sunset", 100, TEXT_KEPT, {"Title", "Sunset"}},
        TextChunkCase{"PlainWithoutNul", "tEXt", "Keyword", 100, TEXT_KEPT, {"Keyword", ""}},
        // tEXt keywords are not checked, as libpng does not check them.
        TextChunkCase{"PlainLongKeyword", "tEXt", nul(LONG_KEYWORD.c_str()) + "x", 100, TEXT_KEPT,
                      {LONG_KEYWORD, "x"}},
        TextChunkCase{"PlainFillsTheBudget", "tEXt", nul("K") + "abcdef", 6, TEXT_KEPT, {"K", "abcdef"}},
        TextChunkCase{"PlainOverTheBudget", "tEXt", nul("K") + "abcdef", 5, TEXT_OVER_BUDGET, {}},
        TextChunkCase{"Compressed", "zTXt", nul("Comment") + '\0' + zlibOf("first\nsecond"), 100, TEXT_KEPT,
                      {"Comment", "first\nsecond"}},
        TextChunkCase{"CompressedEmpty", "zTXt", nul("K") + '\0' + zlibOf(""), 0, TEXT_KEPT, {"K", ""}},
        // A bomb is inflated only as far as the budget.
        TextChunkCase{"CompressedOverTheBudget", "zTXt", nul("K") + '\0' + zlibOf(MEBIBYTE_OF_A), 1000,
                      TEXT_OVER_BUDGET, {}},
        TextChunkCase{"CompressedMethod1", "zTXt", nul("K") + '\1' + zlibOf("x"), 100, TEXT_UNKNOWN_COMPRESSION, {}},
        TextChunkCase{"CompressedNoStream", "zTXt", nul("K") + '\0', 100, TEXT_TRUNCATED, {}},
        TextChunkCase{"CompressedGarbage", "zTXt", nul("K") + '\0' + "not zlib", 100, TEXT_DAMAGED, {}},
        TextChunkCase{"CompressedCutShort", "zTXt", nul("K") + '\0' + zlibOf("first\nsecond").substr(0, 8), 100,
                      TEXT_DAMAGED, {}},
        TextChunkCase{"CompressedEmptyKeyword", "zTXt", nul("") + '\0' + zlibOf("x"), 100, TEXT_BAD_KEYWORD, {}},
        TextChunkCase{"CompressedLongKeyword", "zTXt", nul(LONG_KEYWORD.c_str()) + '\0' + zlibOf("x"), 100,
                      TEXT_BAD_KEYWORD, {}},
        TextChunkCase{"International", "iTXt", nul("Title") + std::string(2, '\0') + nul("de") + nul("Titel") + "Ja",
                      100, TEXT_KEPT, {"Title", "Ja", "de", "Titel"}},
        TextChunkCase{"InternationalCompressed", "iTXt",
                      nul("Title") + '\1' + '\0' + nul("") + nul("") + zlibOf("inflated"), 100, TEXT_KEPT,
                      {"Title", "inflated", "", ""}},
        TextChunkCase{"InternationalEmptyText", "iTXt", nul("T") + std::string(2, '\0') + nul("") + nul(""), 100,
                      TEXT_KEPT, {"T", "", "", ""}},
        TextChunkCase{"InternationalOverTheBudget", "iTXt",
                      nul("T") + '\1' + '\0' + nul("") + nul("") + zlibOf(MEBIBYTE_OF_A), 1 << 19,
                      TEXT_OVER_BUDGET, {}},
        TextChunkCase{"InternationalMethod1", "iTXt", nul("T") + '\1' + '\1' + nul("") + nul("") + zlibOf("x"), 100,
                      TEXT_UNKNOWN_COMPRESSION, {}},
        TextChunkCase{"InternationalFlag2", "iTXt", nul("T") + '\2' + '\0' + nul("") + nul("") + "x", 100,
                      TEXT_UNKNOWN_COMPRESSION, {}},
        TextChunkCase{"InternationalNoTranslatedKeyword", "iTXt", nul("T") + std::string(2, '\0') + nul("en") + "x",
                      100, TEXT_TRUNCATED, {}},
        TextChunkCase{"InternationalCompressedNoStream", "iTXt", nul("T") + '\1' + '\0' + nul("") + nul(""), 100,
                      TEXT_TRUNCATED, {}},
        TextChunkCase{"InternationalShort", "iTXt", nul("T") + '\0', 100, TEXT_TRUNCATED, {}}),
    [](const testing::TestParamInfo<TextChunkCase>& info) { return info.param.name; });

// --- reports ----------------------------------------------------------------------------

std::string dump(std::vector<png_text> texts) {
    char* buffer = nullptr;
    size_t size = 0;
    FILE* f = open_memstream(&buffer, &size);
    dumpTextChunks(texts.data(), int(texts.size()), f);
    fclose(f);
    std::string out(buffer, size);
    free(buffer);
    return out;
}

png_text text(const char* key, const std::string& value) {
    png_text t{};
    t.compression = PNG_TEXT_COMPRESSION_NONE;
    t.key = const_cast<char*>(key);
    t.text = const_cast<char*>(value.data());
    t.text_length = value.size();
    return t;
}

TEST(TextDump, Layout) {
    const std::string hello = "Hello", nul = std::string("x\0y", 3), none;
    EXPECT_EQ(dump({text("KeywordOfTwentyBytes", hello)}), "KeywordOfTwentyBytes Hello\n");
    EXPECT_EQ(dump({text("\"A long quoted\"", hello)}), "\"\"A long quoted\"\" Hello\n");
    EXPECT_EQ(dump({text("Raw", nul), text("Empty", none)}), "Raw             " + nul + "\nEmpty           \n");
}

TEST(TimeReport, MonthNames) {
    EXPECT_STREQ(monthName(0), "");
    EXPECT_STREQ(monthName(1), "January");
    EXPECT_STREQ(monthName(12), "December");
    EXPECT_STREQ(monthName(13), "");
    png_time t{2003, 0, 5, 14, 3, 9};
    testing::internal::CaptureStderr();
    reportModTime(t);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("modification time: 05  2003 14:03:09\n"), std::string::npos) << err;
}

}  // namespace

namespace {

// libpng's warnings may quote a keyword or chunk name: its wording is kept,
// control bytes are escaped.
TEST(LibpngWarning, KeepsTheWordingAndEscapesControlBytes) {
    testing::internal::CaptureStderr();
    reportLibpngWarning(nullptr, "tEXt: keyword \x1b[2J\a");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "libpng warning: tEXt: keyword \\x1b[2J\\x07\n");
}

}  // namespace
