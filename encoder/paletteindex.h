// The pixel-to-index table of a palette image, for the row encoder.
#ifndef RASTERPACK_PALETTEINDEX_H
#define RASTERPACK_PALETTEINDEX_H

#include "paletteplacement.h"

namespace rasterpack {

struct ColorAlphaHash;
// Its tables are given back with it however the run ends.
struct PaletteLookup {
    ColorHash plain = nullptr;          // no mask in force
    ColorAlphaHash* withAlpha = nullptr;  // a mask in force
    // the last pixel looked up: neighbouring pixels are mostly alike
    Pixel lastColor = {0, 0, 0};
    Sample lastAlpha = 0;
    int lastIndex = -1;

    PaletteLookup() = default;
    PaletteLookup(const PaletteLookup&) = delete;
    PaletteLookup& operator=(const PaletteLookup&) = delete;
    ~PaletteLookup();
};

// Fills an empty lookup.
void buildIndexLookup(const Colormap* colormap, bool maskInForce, PaletteLookup* lookup);
// The index of one pixel (raw samples, grey in all three) with its mask value.
int lookupPaletteIndex(PaletteLookup* lookup, const Pixel* pixel, Sample maskValue);

}  // namespace rasterpack

#endif
