#include "pixels.h"

#include <cstdint>

namespace rasterunpack {

namespace {

const int PNG_GREY = 0, PNG_TRUECOLOR = 2, PNG_GREY_ALPHA = 4, PNG_TRUECOLOR_ALPHA = 6;

// The samples of a row as stored, one at a time: below 8 bits packed, the
// first in the high bits of a byte; at 16 bits two bytes, the high first.
template <int DEPTH>
struct StoredSamples {
    const uint8_t* p;
    unsigned bit;  // bits of *p already taken, below 8 bits a sample

    inline uint16_t next() {
        if (DEPTH == 16) {
            uint16_t v = static_cast<uint16_t>(p[0] << 8 | p[1]);
            p += 2;
            return v;
        }
        if (DEPTH == 8) return *p++;
        uint16_t v = static_cast<uint16_t>((*p >> (8 - DEPTH - bit)) & ((1u << DEPTH) - 1));
        bit += DEPTH;
        if (bit == 8) {
            bit = 0;
            ++p;
        }
        return v;
    }
};

// (p x alpha + b x (maxval - alpha)) / maxval, truncated, in integers: a
// whole result stays whole (white over white is white at any alpha). 64 bits
// hold the sum at maxval 65535.
uint16_t composite(uint16_t sample, uint16_t background, uint16_t alpha, uint16_t maxval) {
    if (alpha >= maxval) return sample;
    uint64_t mixed = uint64_t(sample) * alpha + uint64_t(background) * (maxval - alpha);
    return static_cast<uint16_t>(mixed / maxval);
}

// storeXel for one alpha mode, so that the per-pixel loops carry no test of
// it; under ALPHA_KEEP the alpha goes to alphaOut[x].
template <AlphaMode MODE>
inline void store(const PixelConversion& c, Xel* out, Sample* alphaOut, uint32_t x, uint16_t red, uint16_t green,
                  uint16_t blue, uint16_t alpha) {
    if (MODE == ALPHA_ONLY) {
        out[x] = Xel{0, 0, alpha};
    } else if (MODE == ALPHA_MIX && alpha != c.maxval) {
        out[x] = Xel{composite(red, c.background.red, alpha, c.maxval),
                     composite(green, c.background.green, alpha, c.maxval),
                     composite(blue, c.background.blue, alpha, c.maxval)};
    } else {
        out[x] = Xel{red, green, blue};
    }
    if (MODE == ALPHA_KEEP) alphaOut[x] = alpha;
}

// The transparency of a grey or truecolour pixel is decided on its samples
// as stored, before the gamma correction or the shift to the significant
// bits, either of which can make different samples equal.
template <int DEPTH, AlphaMode MODE>
void convertPixels(const PixelConversion& c, const uint8_t* row, uint32_t width, Xel* out, Sample* alphaOut) {
    StoredSamples<DEPTH> s{row, 0};
    const uint16_t m = c.maxval;
    const uint16_t* map = c.sampleMap;
    switch (c.colorType) {
        case 0:
            for (uint32_t x = 0; x < width; ++x) {
                uint16_t v = s.next();
                uint16_t a = c.hasTrns && v == c.trnsGrey ? 0 : m;
                store<MODE>(c, out, alphaOut, x, map[v], map[v], map[v], a);
            }
            break;
        case 2:
            for (uint32_t x = 0; x < width; ++x) {
                uint16_t r = s.next();
                uint16_t g = s.next();
                uint16_t b = s.next();
                bool transparent =
                    c.hasTrns && r == c.trnsColor.red && g == c.trnsColor.green && b == c.trnsColor.blue;
                store<MODE>(c, out, alphaOut, x, map[r], map[g], map[b], transparent ? 0 : m);
            }
            break;
        case 3:
            // The tables have 256 entries: an index beyond the palette reads
            // as black, beyond the tRNS count as opaque.
            for (uint32_t x = 0; x < width; ++x) {
                uint8_t i = static_cast<uint8_t>(s.next());
                const PaletteEntry& e = c.palette[i];
                store<MODE>(c, out, alphaOut, x, e.red, e.green, e.blue, c.paletteAlpha[i]);
            }
            break;
        case 4:
            for (uint32_t x = 0; x < width; ++x) {
                uint16_t v = s.next();
                uint16_t a = static_cast<uint16_t>(s.next() >> c.alphaShift);
                store<MODE>(c, out, alphaOut, x, map[v], map[v], map[v], a);
            }
            break;
        case 6:
            for (uint32_t x = 0; x < width; ++x) {
                uint16_t r = s.next();
                uint16_t g = s.next();
                uint16_t b = s.next();
                uint16_t a = static_cast<uint16_t>(s.next() >> c.alphaShift);
                store<MODE>(c, out, alphaOut, x, map[r], map[g], map[b], a);
            }
            break;
    }
}

template <int DEPTH>
void convertPixelsIn(const PixelConversion& c, const uint8_t* row, uint32_t width, Xel* out, Sample* alphaOut) {
    switch (c.alphaMode) {
        case ALPHA_NONE: convertPixels<DEPTH, ALPHA_NONE>(c, row, width, out, alphaOut); break;
        case ALPHA_ONLY: convertPixels<DEPTH, ALPHA_ONLY>(c, row, width, out, alphaOut); break;
        case ALPHA_MIX: convertPixels<DEPTH, ALPHA_MIX>(c, row, width, out, alphaOut); break;
        case ALPHA_KEEP: convertPixels<DEPTH, ALPHA_KEEP>(c, row, width, out, alphaOut); break;
    }
}

// Each stored sample of an 8- or 16-bit grey or truecolour row through the
// sample map, straight into the output's raw bytes: one a sample up to
// maxval 255, else two, the high first.
template <bool WIDE_IN, bool WIDE_OUT>
void mapSamples(const uint16_t* map, const uint8_t* in, size_t count, uint8_t* out) {
    for (size_t i = 0; i < count; ++i) {
        uint16_t v = WIDE_IN ? map[in[2 * i] << 8 | in[2 * i + 1]] : map[in[i]];
        if (WIDE_OUT) {
            out[2 * i] = static_cast<uint8_t>(v >> 8);
            out[2 * i + 1] = static_cast<uint8_t>(v);
        } else {
            out[i] = static_cast<uint8_t>(v);
        }
    }
}

bool wholeByteSamples(int bitDepth) { return bitDepth == 8 || bitDepth == 16; }

// Whether the output's raw row holds the stored samples in their order: the
// colour samples alone, or with -pam the alpha after them too.
bool storedLayoutIsOutputLayout(const HeaderFacts& f, AlphaMode mode) {
    bool withoutAlpha = f.colorType == PNG_GREY || f.colorType == PNG_TRUECOLOR;
    if (mode == ALPHA_NONE) return withoutAlpha;
    if (mode == ALPHA_KEEP) return withoutAlpha ? !f.hasTrns : f.colorType == PNG_GREY_ALPHA || f.colorType == PNG_TRUECOLOR_ALPHA;
    return false;
}

}  // namespace

size_t sampleMapSize(int bitDepth) { return size_t(1) << bitDepth; }

void fillSampleMap(const DecodePlan& plan, int bitDepth, uint16_t* map) {
    size_t size = sampleMapSize(bitDepth);
    for (size_t v = 0; v < size; ++v) {
        uint16_t sample = static_cast<uint16_t>(v);
        map[v] = plan.gamma ? correctGamma(sample, plan.maxval, plan.totalGamma)
                            : static_cast<uint16_t>(sample >> plan.colourShift);
    }
}

PixelConversion pixelConversionFor(const HeaderFacts& facts, const DecodePlan& plan, AlphaMode mode,
                                   const uint16_t* sampleMap) {
    PixelConversion c;
    c.colorType = facts.colorType;
    c.bitDepth = facts.bitDepth;
    c.hasTrns = facts.hasTrns;
    c.maxval = plan.maxval;
    c.alphaMode = mode;
    c.background = plan.background;
    c.palette = plan.palette;
    c.paletteAlpha = plan.paletteAlpha;
    c.sampleMap = sampleMap;
    c.alphaShift = plan.alphaShift;
    c.trnsGrey = facts.trnsGrey;
    c.trnsColor = facts.trnsColor;
    return c;
}

void storeXel(const PixelConversion& c, Xel* out, uint16_t red, uint16_t green, uint16_t blue, uint16_t alpha) {
    switch (c.alphaMode) {
        case ALPHA_NONE: store<ALPHA_NONE>(c, out, nullptr, 0, red, green, blue, alpha); break;
        case ALPHA_ONLY: store<ALPHA_ONLY>(c, out, nullptr, 0, red, green, blue, alpha); break;
        case ALPHA_MIX: store<ALPHA_MIX>(c, out, nullptr, 0, red, green, blue, alpha); break;
        case ALPHA_KEEP: store<ALPHA_NONE>(c, out, nullptr, 0, red, green, blue, alpha); break;
    }
}

bool convertRow(const PixelConversion& c, const uint8_t* row, uint32_t width, Xel* out, Sample* alpha) {
    bool known = c.colorType == 0 || c.colorType == 2 || c.colorType == 3 || c.colorType == 4 || c.colorType == 6;
    if (!known || (c.alphaMode == ALPHA_KEEP && !alpha)) return false;
    switch (c.bitDepth) {
        case 1: convertPixelsIn<1>(c, row, width, out, alpha); break;
        case 2: convertPixelsIn<2>(c, row, width, out, alpha); break;
        case 4: convertPixelsIn<4>(c, row, width, out, alpha); break;
        case 8: convertPixelsIn<8>(c, row, width, out, alpha); break;
        case 16: convertPixelsIn<16>(c, row, width, out, alpha); break;
        default: return false;
    }
    return true;
}

RowPath chooseRowPath(const HeaderFacts& f, const DecodePlan& plan, AlphaMode mode, bool plainOutput) {
    if (plainOutput || !wholeByteSamples(f.bitDepth) || !storedLayoutIsOutputLayout(f, mode))
        return ROWS_CONVERTED;
    if (!plan.gamma && plan.colourShift == 0 && plan.alphaShift == 0) return ROWS_AS_STORED;
    bool withoutAlpha = f.colorType == PNG_GREY || f.colorType == PNG_TRUECOLOR;
    return withoutAlpha ? ROWS_MAPPED : ROWS_CONVERTED;
}

size_t samplesPerRow(const HeaderFacts& f) {
    size_t channels = f.colorType == PNG_TRUECOLOR_ALPHA ? 4
                      : f.colorType == PNG_TRUECOLOR    ? 3
                      : f.colorType == PNG_GREY_ALPHA   ? 2
                                                        : 1;
    return size_t(f.width) * channels;
}

void mapRow(const PixelConversion& c, const uint8_t* row, size_t samples, uint8_t* out) {
    bool wideIn = c.bitDepth == 16, wideOut = c.maxval > 255;
    if (wideIn && wideOut)
        mapSamples<true, true>(c.sampleMap, row, samples, out);
    else if (wideIn)
        mapSamples<true, false>(c.sampleMap, row, samples, out);
    else if (wideOut)
        mapSamples<false, true>(c.sampleMap, row, samples, out);
    else
        mapSamples<false, false>(c.sampleMap, row, samples, out);
}

}  // namespace rasterunpack
