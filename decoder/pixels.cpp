#include "pixels.h"

#include <cstdint>

namespace rasterunpack {

namespace {

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

// storeXel for one alpha mode, so that the per-pixel loops carry no test of it.
template <AlphaMode MODE>
inline void store(const PixelConversion& c, Xel* out, uint16_t red, uint16_t green, uint16_t blue, uint16_t alpha) {
    if (MODE == ALPHA_ONLY) {
        *out = Xel{0, 0, alpha};
    } else if (MODE == ALPHA_MIX && alpha != c.maxval) {
        *out = Xel{composite(red, c.background.red, alpha, c.maxval),
                   composite(green, c.background.green, alpha, c.maxval),
                   composite(blue, c.background.blue, alpha, c.maxval)};
    } else {
        *out = Xel{red, green, blue};
    }
}

// The transparency of a grey or truecolour pixel is decided on its samples
// as stored, before the gamma correction or the shift to the significant
// bits, either of which can make different samples equal.
template <int DEPTH, AlphaMode MODE>
void convertPixels(const PixelConversion& c, const uint8_t* row, uint32_t width, Xel* out) {
    StoredSamples<DEPTH> s{row, 0};
    const uint16_t m = c.maxval;
    const uint16_t* map = c.sampleMap;
    switch (c.colorType) {
        case 0:
            for (uint32_t x = 0; x < width; ++x) {
                uint16_t v = s.next();
                uint16_t a = c.hasTrns && v == c.trnsGrey ? 0 : m;
                store<MODE>(c, &out[x], map[v], map[v], map[v], a);
            }
            break;
        case 2:
            for (uint32_t x = 0; x < width; ++x) {
                uint16_t r = s.next();
                uint16_t g = s.next();
                uint16_t b = s.next();
                bool transparent =
                    c.hasTrns && r == c.trnsColor.red && g == c.trnsColor.green && b == c.trnsColor.blue;
                store<MODE>(c, &out[x], map[r], map[g], map[b], transparent ? 0 : m);
            }
            break;
        case 3:
            // The tables have 256 entries: an index beyond the palette reads
            // as black, beyond the tRNS count as opaque.
            for (uint32_t x = 0; x < width; ++x) {
                uint8_t i = static_cast<uint8_t>(s.next());
                const PaletteEntry& e = c.palette[i];
                store<MODE>(c, &out[x], e.red, e.green, e.blue, c.paletteAlpha[i]);
            }
            break;
        case 4:
            for (uint32_t x = 0; x < width; ++x) {
                uint16_t v = s.next();
                uint16_t a = static_cast<uint16_t>(s.next() >> c.alphaShift);
                store<MODE>(c, &out[x], map[v], map[v], map[v], a);
            }
            break;
        case 6:
            for (uint32_t x = 0; x < width; ++x) {
                uint16_t r = s.next();
                uint16_t g = s.next();
                uint16_t b = s.next();
                uint16_t a = static_cast<uint16_t>(s.next() >> c.alphaShift);
                store<MODE>(c, &out[x], map[r], map[g], map[b], a);
            }
            break;
    }
}

template <int DEPTH>
void convertPixelsIn(const PixelConversion& c, const uint8_t* row, uint32_t width, Xel* out) {
    switch (c.alphaMode) {
        case ALPHA_NONE: convertPixels<DEPTH, ALPHA_NONE>(c, row, width, out); break;
        case ALPHA_ONLY: convertPixels<DEPTH, ALPHA_ONLY>(c, row, width, out); break;
        case ALPHA_MIX: convertPixels<DEPTH, ALPHA_MIX>(c, row, width, out); break;
    }
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
        case ALPHA_NONE: store<ALPHA_NONE>(c, out, red, green, blue, alpha); break;
        case ALPHA_ONLY: store<ALPHA_ONLY>(c, out, red, green, blue, alpha); break;
        case ALPHA_MIX: store<ALPHA_MIX>(c, out, red, green, blue, alpha); break;
    }
}

bool convertRow(const PixelConversion& c, const uint8_t* row, uint32_t width, Xel* out) {
    bool known = c.colorType == 0 || c.colorType == 2 || c.colorType == 3 || c.colorType == 4 || c.colorType == 6;
    if (!known) return false;
    switch (c.bitDepth) {
        case 1: convertPixelsIn<1>(c, row, width, out); break;
        case 2: convertPixelsIn<2>(c, row, width, out); break;
        case 4: convertPixelsIn<4>(c, row, width, out); break;
        case 8: convertPixelsIn<8>(c, row, width, out); break;
        case 16: convertPixelsIn<16>(c, row, width, out); break;
        default: return false;
    }
    return true;
}

}  // namespace rasterunpack
