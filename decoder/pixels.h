// rasterunpack's per-pixel conversion: one decoded PNG row, its samples as
// the PNG stores them (packed below 8 bits), into one row of Xels.
#ifndef RASTERUNPACK_PIXELS_H
#define RASTERUNPACK_PIXELS_H

#include "decisions.h"

#include <orrim.h>

#include <cstddef>
#include <cstdint>

namespace rasterunpack {

// What every pixel of one image is converted with.
struct PixelConversion {
    int colorType = 0;
    int bitDepth = 8;  // 1, 2 and 4 packed, 16 two bytes a sample, high first
    bool hasTrns = false;
    uint16_t maxval = 255;
    AlphaMode alphaMode = ALPHA_NONE;
    Rgb16 background = {0, 0, 0};
    const PaletteEntry* palette = nullptr;   // 256 entries
    const uint16_t* paletteAlpha = nullptr;  // 256 entries
    // Each grey, red, green or blue sample as stored to its output value:
    // sampleMapSize entries. Not used for palette images.
    const uint16_t* sampleMap = nullptr;
    int alphaShift = 0;
    uint16_t trnsGrey = 0;  // as stored, compared before any mapping
    Rgb16 trnsColor = {0, 0, 0};
};

// Entries of the sample map for samples of bitDepth bits.
size_t sampleMapSize(int bitDepth);
// Fills the map with the plan's gamma correction, or its shift to the
// significant bits, or the samples unchanged.
void fillSampleMap(const DecodePlan& plan, int bitDepth, uint16_t* map);

// sampleMap: filled by fillSampleMap, or null for a palette image.
PixelConversion pixelConversionFor(const HeaderFacts& facts, const DecodePlan& plan, AlphaMode mode,
                                   const uint16_t* sampleMap);

// Stores one output pixel: the colour, the alpha alone, or the colour
// composited against the background, as the alpha mode asks.
void storeXel(const PixelConversion& c, Xel* out, uint16_t red, uint16_t green, uint16_t blue, uint16_t alpha);

// Converts width pixels of row into out. False for a colour type or bit
// depth the PNG format does not have.
bool convertRow(const PixelConversion& c, const uint8_t* row, uint32_t width, Xel* out);

}  // namespace rasterunpack

#endif
