// The palette as PNG stores it, and the pure steps that settle it once its
// colours are known: placing the transparent and background colours, the
// index width and the hIST values.
#ifndef RASTERPACK_PALETTEPLACEMENT_H
#define RASTERPACK_PALETTEPLACEMENT_H

#include <orrim.h>

#include <cstdint>

namespace rasterpack {

const int MAX_PALETTE_COLORS = 256;
const int MAX_HIST_ENTRY = 65535;

struct Colormap {
    Pixel palette[MAX_PALETTE_COLORS];          // image sample units
    unsigned paletteAlpha[MAX_PALETTE_COLORS];  // alpha mask units
    int paletteSize = 0;
    int transSize = 0;        // entries 0..transSize-1 are non-opaque and go into tRNS
    int backgroundIndex = 0;  // set only when a background colour is given
    int indexBits = 8;
};

// Index of the entry nearest to target among the first n (squared distance,
// ties to the lowest index), and that distance.
int closestPaletteEntry(const Colormap* colormap, int n, Pixel target, uint32_t* distance);

enum TransparentPlacement { TRANSPARENT_NONE, TRANSPARENT_MADE, TRANSPARENT_NOT_PRESENT };
// Moves the entry nearest the transparent colour to index 0 and makes it
// the one non-opaque entry, unless exact is set and the colour is absent.
TransparentPlacement makePaletteColorTransparent(Colormap* colormap, Pixel transparent, bool exact);

enum BackgroundPlacement { BACKGROUND_NONE, BACKGROUND_PRESENT, BACKGROUND_ADDED, BACKGROUND_CLOSEST };
// Sets backgroundIndex: the last entry of that colour, else a new entry,
// else (256 entries) the nearest one.
BackgroundPlacement placeBackgroundInPalette(Pixel background, Colormap* colormap);

int chooseIndexBits(int paletteSize);

// A pixel count as a 16-bit hIST entry: counts are scaled by largest so that
// the largest becomes 65535 when it exceeds that, and a colour that occurs
// keeps a non-zero entry.
uint16_t histogramEntry(long count, long largest);

}  // namespace rasterpack

#endif
