// Building a palette (colour type 3) from the raster: the colour histogram,
// the attempt with its refusals, and the colour/alpha or ordered palette.
#ifndef RASTERPACK_PALETTEBUILD_H
#define RASTERPACK_PALETTEBUILD_H

#include "paletteplacement.h"
#include "raster.h"

#include <cstdint>

namespace rasterpack {

// The colour histogram, computed at most once per conversion. hist is null
// when the image has more than MAX_PALETTE_COLORS colours. It is given back
// with the cache however the run ends.
struct HistogramCache {
    bool computed = false;
    ColorHist hist = nullptr;
    int count = 0;

    HistogramCache() = default;
    HistogramCache(const HistogramCache&) = delete;
    HistogramCache& operator=(const HistogramCache&) = delete;
    ~HistogramCache();
};

// What the palette attempt found: the colour count, then a palette to build
// the image on (entries in their settled order, before the transparent and
// background colours are placed), or why there is none. Whether the form
// uses the palette is the form's decision.
enum PaletteOutcome {
    PALETTE_NOT_TRIED,        // the colours were not counted
    PALETTE_COUNTED,          // at most 256 colours; no palette built
    PALETTE_BUILT,
    PALETTE_TOO_MANY_COLORS,  // more than 256
    PALETTE_TOO_MANY_PAIRS    // more than 256 colour/alpha pairs
};

struct PaletteAttempt {
    PaletteOutcome outcome = PALETTE_NOT_TRIED;
    int colorCount = 0;  // distinct colours, once counted and at most 256
    Colormap base;       // PALETTE_BUILT: the palette with transSize non-opaque entries first
};

// What the attempt reads.
struct PaletteRequest {
    const RasterSource* raster = nullptr;
    const AlphaMask* mask = nullptr;  // null unless a mask is in force
    FILE* paletteFile = nullptr;      // ordered palette, or null
    bool verbose = false;
    bool announceCount = true;  // the colour count line; off for -optimize's own counts
};

// The histogram, read once: seeks to the raster, reports the colour count
// when announce is set.
void findHistogram(const RasterSource* raster, bool verbose, HistogramCache* cache, bool announce = true);

// The colours of an image on which a palette is tried: the histogram and its
// count, or more than 256 colours, which -palette cannot take (the run ends).
void countPaletteColors(const PaletteRequest* request, HistogramCache* cache, PaletteAttempt* attempt);

// The palette over the counted colours: one entry per colour/alpha pair with
// a mask in force (or more than 256 pairs), else the colours in the
// histogram's order or the -palette file's. Fatal cases end the run.
void buildPalette(const PaletteRequest* request, const HistogramCache* cache, PaletteAttempt* attempt);

// Gives the histogram back early; the cache may be filled again.
void releaseHistogram(HistogramCache* cache);

// hIST values: each entry's colour count from the histogram (0 for a colour
// it lacks, such as an added background colour).
void histogramCounts(const HistogramCache* cache, const Colormap* colormap, uint16_t* entries);

}  // namespace rasterpack

#endif
