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

// Converts width pixels of row into out and, under ALPHA_KEEP, their alpha
// into alpha (0 transparent, maxval opaque). False for a colour type or bit
// depth the PNG format does not have, or for ALPHA_KEEP without alpha.
bool convertRow(const PixelConversion& c, const uint8_t* row, uint32_t width, Xel* out, Sample* alpha = nullptr);

// How the rows reach the output; each way writes the same bytes.
enum RowPath {
    // The stored row is the raw output row: 8- or 16-bit grey or truecolour
    // (with -pam also grey or truecolour with alpha), samples unchanged, no
    // alpha to add or drop.
    ROWS_AS_STORED,
    // Such a row whose samples the sample map changes (gamma, a shift to the
    // significant bits): mapped sample by sample into the raw output row.
    ROWS_MAPPED,
    // Through Xels (and alpha) and the library's row writers: every other
    // image, and all plain output.
    ROWS_CONVERTED
};
RowPath chooseRowPath(const HeaderFacts& facts, const DecodePlan& plan, AlphaMode mode, bool plainOutput);

// Samples in one stored row, every channel counted.
size_t samplesPerRow(const HeaderFacts& facts);
// ROWS_MAPPED: samples stored samples of row through the sample map into
// out, 1 byte a sample up to maxval 255, else 2 (the high first).
void mapRow(const PixelConversion& c, const uint8_t* row, size_t samples, uint8_t* out);

}  // namespace rasterunpack

#endif
