// Palette (colour type 3) decision and construction for rasterpack.
#ifndef RASTERPACK_PALETTE_H
#define RASTERPACK_PALETTE_H

#include "raster.h"

#include <png.h>

const int MAX_PALETTE_COLORS = 256;

// The colour histogram, computed at most once per conversion and shared by
// the palette decision and hIST. hist is null when the image has more than
// MAX_PALETTE_COLORS colours.
struct HistogramCache {
    bool computed = false;
    ColorHist hist = nullptr;
    int count = 0;
};

struct Colormap {
    bool colormapped = false;
    Pixel palette[MAX_PALETTE_COLORS];          // image sample units
    unsigned paletteAlpha[MAX_PALETTE_COLORS];  // alpha mask units
    int paletteSize = 0;
    int transSize = 0;        // entries 0..transSize-1 are non-opaque and go into tRNS
    int backgroundIndex = 0;  // set only when a background colour is given
    int indexBits = 8;
    ColorHash plainLookup = nullptr;  // colour -> index, when no mask is in force
};

// What the palette attempt needs from the conversion.
struct PaletteRequest {
    const RasterSource* raster = nullptr;
    int imageKind = KIND_UNKNOWN;
    const AlphaMask* mask = nullptr;  // null unless a mask is in force
    Sample maskMaxval = 255;
    FILE* paletteFile = nullptr;      // ordered palette, or null
    bool hasTransparent = false;
    Pixel transparent = {0, 0, 0};    // image units
    bool exactTransparent = false;
    bool hasBackground = false;
    Pixel background = {0, 0, 0};     // image units
    bool hist = false;
    bool verbose = false;
};

// Decides whether the image is written with a palette and, if so, builds the
// palette, its lookup and indexBits. Called only when -force is off, the
// image is not PBM and maxval is at most 255.
void attemptColormap(const PaletteRequest* request, HistogramCache* cache, Colormap* colormap);

// PLTE, tRNS (when transSize is not 0) and, with -hist, hIST of a palette image.
void setPaletteChunks(png_structp png, png_infop info, const PaletteRequest* request, HistogramCache* cache,
                      const Colormap* colormap);

// The palette index of one pixel of a row as read (grey in all three samples).
int lookupPaletteIndex(const Colormap* colormap, const Pixel* pixel, Sample maskValue);

void releaseHistogram(HistogramCache* cache);
void freeColormap(Colormap* colormap);

#endif
