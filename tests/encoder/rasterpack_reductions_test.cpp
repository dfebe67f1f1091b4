// -optimize's lossless reductions and palette orders end to end: each is
// taken where every sample survives it and declined where one would not,
// and the file always decodes to the input's samples and alpha.
#include "pngtestkit.h"
#include "programs.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <set>

using namespace testkit;

namespace {

const int W = 11, H = 9, N = W * H;

std::vector<Sample> noise(int n, Sample maxval, uint32_t seed) {
    std::vector<Sample> v;
    for (int i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        v.push_back(Sample((seed >> 16) % (uint64_t(maxval) + 1)));
    }
    return v;
}

// 8-bit values as 16-bit repeated bytes.
std::vector<Sample> repeatedBytes(std::vector<Sample> v) {
    for (Sample& s : v) s *= 257;
    return v;
}

std::vector<Sample> withOneChanged(std::vector<Sample> v, size_t at, Sample to) {
    v[at] = to;
    return v;
}

// Pixels of a few colours (RGB triples) at the given scale.
std::vector<Sample> fewColours(int colours, Sample scale) {
    std::vector<Sample> v;
    for (int i = 0; i < N; ++i) {
        int c = (i / 4 + i % 3) % colours;
        v.insert(v.end(), {Sample(c * 51 % 256 * scale), Sample(c * 87 % 256 * scale), Sample((c * 29 + 3) % 256 * scale)});
    }
    return v;
}

std::vector<Sample> all(Sample v) { return std::vector<Sample>(N, v); }

struct Input {
    int channels;  // 1 or 3
    Sample maxval;
    std::vector<Sample> samples;
    Sample maskMaxval = 0;  // 0: no -alpha
    std::vector<Sample> mask;
    std::vector<Sample> transparent;  // -transparent, at the image's maxval; empty: none
    std::vector<Sample> background;   // -background, likewise
};

Input unmasked(int channels, Sample maxval, std::vector<Sample> samples) {
    Input in;
    in.channels = channels;
    in.maxval = maxval;
    in.samples = std::move(samples);
    return in;
}

Input masked(int channels, Sample maxval, std::vector<Sample> samples, Sample maskMaxval, std::vector<Sample> mask) {
    Input in = unmasked(channels, maxval, std::move(samples));
    in.maskMaxval = maskMaxval;
    in.mask = std::move(mask);
    return in;
}

Input keyed(Input in, std::vector<Sample> transparent) {
    in.transparent = std::move(transparent);
    return in;
}

Input onBackground(Input in, std::vector<Sample> background) {
    in.background = std::move(background);
    return in;
}

std::string colourText(const std::vector<Sample>& c);

std::string hex16(Sample v) {
    char text[8];
    snprintf(text, sizeof text, "%04x", unsigned(v));
    return text;
}

std::string colourText(const std::vector<Sample>& c) {
    return "rgb:" + hex16(c[0]) + "/" + hex16(c[1]) + "/" + hex16(c[2]);
}

std::vector<std::string> argsFor(const Input& in, std::vector<std::string> args) {
    if (in.maskMaxval > 0) {
        std::string path = scratchDir() + "/reduction-mask.pgm";
        writeFile(path, makePgm(W, H, in.maskMaxval, in.mask));
        args.insert(args.end(), {"-alpha", path});
    }
    // Colours are given at 16 bits; the inputs with them are 16-bit.
    if (!in.transparent.empty()) args.insert(args.end(), {"-transparent", colourText(in.transparent)});
    if (!in.background.empty()) args.insert(args.end(), {"-background", colourText(in.background)});
    return args;
}

std::string image(const Input& in) {
    return in.channels == 1 ? makePgm(W, H, in.maxval, in.samples) : makePpm(W, H, in.maxval, in.samples);
}

// The input as 16-bit RGBA, as a decoder scales it.
std::vector<uint32_t> expectedRgba(const Input& in) {
    std::vector<uint32_t> out;
    auto at16 = [](Sample v, Sample maxval) { return uint32_t((uint64_t(v) * 65535 + maxval / 2) / maxval); };
    for (int i = 0; i < N; ++i) {
        std::vector<Sample> px;
        for (int c = 0; c < 3; ++c) px.push_back(in.samples[size_t(i * in.channels + (in.channels == 3 ? c : 0))]);
        for (Sample s : px) out.push_back(at16(s, in.maxval));
        uint32_t alpha = 65535;
        if (in.maskMaxval > 0) alpha = at16(in.mask[size_t(i)], in.maskMaxval);
        if (!in.transparent.empty() && px == in.transparent) alpha = 0;
        out.push_back(alpha);
    }
    return out;
}

struct Outcome {
    int colorType = -1;  // -1: any
    bool sixteenBits = false;
    bool alpha = false;  // an alpha channel or tRNS
};

struct ReductionCase {
    const char* name;
    Input input;
    Outcome outcome;
    const char* said;  // a -verbose line part that must appear; null: none
};

const char* const DROPPED = "opaque everywhere";
const char* const EIGHT_BITS = "repeated byte";

std::vector<ReductionCase> reductionCases() {
    const std::vector<Sample> grey16 = repeatedBytes(noise(N, 255, 3));
    const std::vector<Sample> mask16 = repeatedBytes(noise(N, 255, 4));
    const std::vector<Sample> colours16 = fewColours(5, 257);
    return {
        {"OpaqueMaskDropped", masked(3, 255, noise(3 * N, 255, 1), 255, all(255)), {-1, false, false}, DROPPED},
        {"OpaqueSixteenBitMaskDropped", masked(1, 255, noise(N, 255, 2), 65535, all(65535)), {-1, false, false}, DROPPED},
        {"OneTranslucentPixelKeepsTheMask",
         masked(3, 255, noise(3 * N, 255, 1), 255, withOneChanged(all(255), 40, 254)),
         {-1, false, true},
         nullptr},
        {"MaskedGreyOfRepeatedBytes", masked(1, 65535, grey16, 65535, mask16), {4, false, true}, EIGHT_BITS},
        {"MaskedGreyWithOneFullSample",
         masked(1, 65535, withOneChanged(grey16, 7, grey16[7] ^ 1), 65535, mask16),
         {4, true, true},
         nullptr},
        {"MaskWithOneFullValue",
         masked(1, 65535, grey16, 65535, withOneChanged(mask16, 9, mask16[9] ^ 0x100)),
         {4, true, true},
         nullptr},
        {"OpaqueMaskOverRepeatedBytes", masked(1, 65535, grey16, 65535, all(65535)), {0, false, false}, DROPPED},
        {"FewSixteenBitColoursTakeAPalette", unmasked(3, 65535, colours16), {3, false, false}, EIGHT_BITS},
        {"FewColoursWithOneFullSample",
         unmasked(3, 65535, withOneChanged(colours16, 11, colours16[11] ^ 1)),
         {2, true, false},
         nullptr},
        {"OpaqueMaskAndFewColours", masked(3, 65535, colours16, 65535, all(65535)), {3, false, false}, EIGHT_BITS},
        // A -background colour that needs 16 bits would lose them at 8.
        {"BackgroundNeedsSixteenBits",
         onBackground(masked(1, 65535, grey16, 65535, mask16), {0x1234, 0x1234, 0x1234}),
         {4, true, true},
         nullptr},
        {"BackgroundOfRepeatedBytes",
         onBackground(masked(1, 65535, grey16, 65535, mask16), {0x1212, 0x1212, 0x1212}),
         {4, false, true},
         EIGHT_BITS},
        {"TransparentColourOfRepeatedBytes",
         keyed(unmasked(3, 65535, colours16), {colours16[3], colours16[4], colours16[5]}),
         {3, false, true},
         EIGHT_BITS},
    };
}

class FormReductions : public testing::TestWithParam<ReductionCase> {};

TEST_P(FormReductions, TakenOnlyWhereEverySampleSurvives) {
    const ReductionCase& c = GetParam();
    RunResult plain = runInProcess(RASTERPACK, argsFor(c.input, {}), image(c.input));
    RunResult optimized = runInProcess(RASTERPACK, argsFor(c.input, {"-optimize", "-verbose"}), image(c.input));
    ASSERT_EQ(plain.status, 0) << plain.err;
    ASSERT_EQ(optimized.status, 0) << optimized.err;
    const std::vector<uint32_t> expected = expectedRgba(c.input);
    EXPECT_EQ(decodePngAsRgba16(plain.out).samples, expected);
    EXPECT_EQ(decodePngAsRgba16(optimized.out).samples, expected);
    EXPECT_LE(optimized.out.size(), plain.out.size());

    std::vector<PngChunk> chunks = pngChunks(optimized.out);
    PngHeader h = pngHeader(optimized.out);
    if (c.outcome.colorType >= 0) {
        EXPECT_EQ(h.colorType, c.outcome.colorType);
    }
    EXPECT_EQ(h.depth == 16, c.outcome.sixteenBits) << "depth " << int(h.depth);
    EXPECT_EQ((h.colorType & 4) != 0 || countChunks(chunks, "tRNS") > 0, c.outcome.alpha);
    // A direct form at a depth below the input's says how many bits it holds.
    if (h.colorType != 3 && c.input.maxval == 65535 && h.depth == 8) {
        EXPECT_EQ(countChunks(chunks, "sBIT"), 1);
    }
    if (!c.input.background.empty()) {
        // bKGD at the depth written: a grey image's one sample.
        Sample b = c.input.background[0];
        EXPECT_EQ(chunkData(chunks, "bKGD"), bytes16({h.depth == 16 ? unsigned(b) : unsigned(b / 257)}));
    }
    for (const char* line : {DROPPED, EIGHT_BITS}) {
        bool expectedLine = c.said && std::string(c.said) == line;
        if (line == DROPPED && c.said == EIGHT_BITS) continue;  // may come with it
        if (line == EIGHT_BITS && c.said == DROPPED) continue;
        EXPECT_EQ(optimized.err.find(line) != std::string::npos, expectedLine) << line << "\n" << optimized.err;
    }
}

INSTANTIATE_TEST_SUITE_P(Images, FormReductions, testing::ValuesIn(reductionCases()),
                         [](const testing::TestParamInfo<ReductionCase>& info) { return info.param.name; });

// --- palette orders ---------------------------------------------------------------

struct OrderCase {
    const char* name;
    Input input;
    std::vector<std::string> args;
};

// Colours whose first appearance, frequency and brightness disagree, so
// the orders differ from the one the palette is built in.
std::vector<Sample> skewedColours(int colours) {
    std::vector<Sample> v;
    for (int i = 0; i < N; ++i) {
        int c = (i * i / 5 + i / 9) % colours;
        v.insert(v.end(), {Sample(255 - c * 37 % 256), Sample(c * 71 % 256), Sample(c * 13 % 256)});
    }
    return v;
}

std::vector<OrderCase> orderCases() {
    std::vector<Sample> mask;
    for (Sample v : noise(N, 2, 9)) mask.push_back(v == 0 ? 0 : 255);
    return {
        {"TwoColours", unmasked(3, 255, skewedColours(2)), {}},
        {"FourColours", unmasked(3, 255, skewedColours(4)), {}},
        {"ElevenColoursInterlaced", unmasked(3, 255, skewedColours(11)), {"-interlace"}},
        {"FortyColours", unmasked(3, 255, skewedColours(40)), {}},
        {"FortyColoursInterlaced", unmasked(3, 255, skewedColours(40)), {"-interlace"}},
        {"WithTransparentEntries", masked(3, 255, skewedColours(9), 255, mask), {}},
        {"WithBackgroundAndHistogram", unmasked(3, 255, skewedColours(7)), {"-background", "#123456", "-hist"}},
    };
}

class OptimizedPaletteOrders : public testing::TestWithParam<OrderCase> {};

TEST_P(OptimizedPaletteOrders, KeepEveryPixelAndTheChunksEntries) {
    const OrderCase& c = GetParam();
    RunResult plain = runInProcess(RASTERPACK, argsFor(c.input, c.args), image(c.input));
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"-optimize", "-verbose"});
    RunResult optimized = runInProcess(RASTERPACK, argsFor(c.input, args), image(c.input));
    ASSERT_EQ(plain.status, 0) << plain.err;
    ASSERT_EQ(optimized.status, 0) << optimized.err;
    EXPECT_EQ(decodePngAsRgba16(optimized.out).samples, expectedRgba(c.input));
    EXPECT_LE(optimized.out.size(), plain.out.size());
    EXPECT_NE(optimized.err.find("palette entries in order"), std::string::npos) << optimized.err;
    std::vector<PngChunk> a = pngChunks(plain.out), b = pngChunks(optimized.out);
    if (pngHeader(optimized.out).colorType != 3) return;
    // The same entries in any order: the colours, with their tRNS alpha and hIST counts.
    auto entries = [](const std::vector<PngChunk>& chunks) {
        std::string plte = chunkData(chunks, "PLTE"), trns = chunkData(chunks, "tRNS"), hist = chunkData(chunks, "hIST");
        std::multiset<std::string> out;
        for (size_t i = 0; i * 3 < plte.size(); ++i) {
            std::string e = plte.substr(i * 3, 3);
            e += i < trns.size() && trns != "<absent>" ? trns[i] : '\xff';
            if (hist != "<absent>") e += hist.substr(i * 2, 2);
            out.insert(e);
        }
        return out;
    };
    if (pngHeader(plain.out).colorType == 3) {
        EXPECT_EQ(entries(a), entries(b));
    }
    // bKGD names the entry of the same colour.
    std::string bkgd = chunkData(b, "bKGD");
    if (bkgd != "<absent>") {
        ASSERT_EQ(bkgd.size(), 1u);
        std::string plte = chunkData(b, "PLTE");
        EXPECT_EQ(plte.substr(size_t(uint8_t(bkgd[0])) * 3, 3), std::string("\x12\x34\x56"));
    }
}

INSTANTIATE_TEST_SUITE_P(Images, OptimizedPaletteOrders, testing::ValuesIn(orderCases()),
                         [](const testing::TestParamInfo<OrderCase>& info) { return info.param.name; });

}  // namespace
