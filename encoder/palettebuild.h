// Building a palette (colour type 3) from the raster: the colour histogram,
// the attempt with its refusals, and the colour/alpha or ordered palette.
#ifndef RASTERPACK_PALETTEBUILD_H
#define RASTERPACK_PALETTEBUILD_H

#include "paletteplacement.h"
#include "raster.h"

#include <cstdint>

// The colour histogram, computed at most once per conversion. hist is null
// when the image has more than MAX_PALETTE_COLORS colours.
struct HistogramCache {
    bool computed = false;
    ColorHist hist = nullptr;
    int count = 0;
};

// What the palette attempt found: a palette to build the image on (entries
// in their settled order, before the transparent and background colours are
// placed), or why there is none.
enum PaletteOutcome {
    PALETTE_NOT_TRIED,      // -force, a bit image or maxval above 255
    PALETTE_BUILT,
    PALETTE_TOO_MANY_COLORS,
    PALETTE_GREY_INDEX_TOO_WIDE,
    PALETTE_TOO_MANY_PAIRS  // colour/alpha pairs
};

struct PaletteAttempt {
    PaletteOutcome outcome = PALETTE_NOT_TRIED;
    Colormap base;  // PALETTE_BUILT: the palette with transSize non-opaque entries first
};

// What the attempt reads and asks.
struct PaletteRequest {
    const RasterSource* raster = nullptr;
    int imageKind = KIND_UNKNOWN;     // after the grey scan
    const AlphaMask* mask = nullptr;  // null unless a mask is in force
    FILE* paletteFile = nullptr;      // ordered palette, or null
    bool verbose = false;
};

// The histogram, read once: seeks to the raster, reports the colour count.
void findHistogram(const RasterSource* raster, bool verbose, HistogramCache* cache);

// The palette decision for an image on which a palette is tried (-force off,
// not PBM, maxval at most 255): histogram, refusals and their messages, the
// colour/alpha or ordered palette. Fatal cases end the run.
void attemptColormap(const PaletteRequest* request, HistogramCache* cache, PaletteAttempt* attempt);

// hIST values: each entry's colour count from the histogram (0 for a colour
// it lacks, such as an added background colour).
void histogramCounts(const HistogramCache* cache, const Colormap* colormap, uint16_t* entries);

void releaseHistogram(HistogramCache* cache);

#endif
