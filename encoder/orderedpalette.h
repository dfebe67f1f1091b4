// The -palette file: a PPM listing the image's colours in the order the
// palette is to have.
#ifndef RASTERPACK_ORDEREDPALETTE_H
#define RASTERPACK_ORDEREDPALETTE_H

#include "paletteplacement.h"

#include <cstdio>

namespace rasterpack {

struct OrderedPalette {
    Pixel entries[MAX_PALETTE_COLORS];  // the file's samples, unchanged
    int count = 0;
};

// Reads the whole file; a file that is not a PPM or holds more than 256
// pixels ends the run.
void readOrderedPalette(FILE* stream, bool verbose, OrderedPalette* ordered);

// The palette in the file's order, after checking that the file holds
// exactly the image's colours; a mismatch ends the run.
void orderPalette(const ColorHist hist, int count, const OrderedPalette* ordered, Colormap* colormap);

}  // namespace rasterpack

#endif
