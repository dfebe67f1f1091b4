// Palette (colour type 3) for rasterpack: the colour histogram, the palette
// attempt with its refusals, the placing of the transparent and background
// colours, the index width, the hIST counts and the pixel-to-index lookup.
#ifndef RASTERPACK_PALETTE_H
#define RASTERPACK_PALETTE_H

#include "raster.h"

#include <cstdint>

const int MAX_PALETTE_COLORS = 256;
const int MAX_HIST_ENTRY = 65535;

// The colour histogram, computed at most once per conversion. hist is null
// when the image has more than MAX_PALETTE_COLORS colours.
struct HistogramCache {
    bool computed = false;
    ColorHist hist = nullptr;
    int count = 0;
};

struct Colormap {
    Pixel palette[MAX_PALETTE_COLORS];          // image sample units
    unsigned paletteAlpha[MAX_PALETTE_COLORS];  // alpha mask units
    int paletteSize = 0;
    int transSize = 0;        // entries 0..transSize-1 are non-opaque and go into tRNS
    int backgroundIndex = 0;  // set only when a background colour is given
    int indexBits = 8;
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

// hIST values: each entry's colour count from the histogram (0 for a colour
// it lacks, such as an added background colour).
void histogramCounts(const HistogramCache* cache, const Colormap* colormap, uint16_t* entries);

// The pixel-to-index table of a palette image.
struct ColorAlphaHash;
struct PaletteLookup {
    ColorHash plain = nullptr;          // no mask in force
    ColorAlphaHash* withAlpha = nullptr;  // a mask in force
    // the last pixel looked up: neighbouring pixels are mostly alike
    Pixel lastColor = {0, 0, 0};
    Sample lastAlpha = 0;
    int lastIndex = -1;
};

void buildIndexLookup(const Colormap* colormap, bool maskInForce, PaletteLookup* lookup);
// The index of one pixel (raw samples, grey in all three) with its mask value.
int lookupPaletteIndex(PaletteLookup* lookup, const Pixel* pixel, Sample maskValue);
void freeIndexLookup(PaletteLookup* lookup);

void releaseHistogram(HistogramCache* cache);

#endif
