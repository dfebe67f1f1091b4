#include "palettebuild.h"

#include "alphapalette.h"
#include "orderedpalette.h"

#include <cstdint>
#include <cstdlib>

namespace rasterpack {

void findHistogram(const RasterSource* raster, bool verbose, HistogramCache* cache, bool announce) {
    if (cache->computed) return;
    if (verbose) pm_message("Finding colors in input image...");
    rewindRaster(raster);
    cache->hist = ppm_computecolorhist2(raster->input, raster->cols, raster->rows, raster->maxval, raster->format,
                                        MAX_PALETTE_COLORS, &cache->count);
    if (cache->hist && announce) pm_message("%d colors found", cache->count);
    cache->computed = true;
}

namespace {

// The histogram's colours in its order, or in the order of the -palette file.
void buildPlainPalette(const HistogramCache* cache, FILE* paletteFile, bool verbose, Colormap* colormap) {
    if (paletteFile) {
        // a file of 256 colours is large; it lives only while it is checked
        struct Held {
            OrderedPalette* p;
            ~Held() { free(p); }
        } held{static_cast<OrderedPalette*>(malloc(sizeof(OrderedPalette)))};
        OrderedPalette* ordered = held.p;
        if (!ordered) pm_error("out of memory reading the ordered palette");
        readOrderedPalette(paletteFile, verbose, ordered);
        orderPalette(cache->hist, cache->count, ordered, colormap);
    } else {
        for (int i = 0; i < cache->count; ++i) colormap->palette[i] = cache->hist[i].color;
        colormap->paletteSize = cache->count;
        colormap->transSize = 0;
    }
}

}  // namespace

void countPaletteColors(const PaletteRequest* request, HistogramCache* cache, PaletteAttempt* attempt) {
    findHistogram(request->raster, request->verbose, cache, request->announceCount || request->verbose);
    if (!cache->hist) {
        if (request->paletteFile)
            pm_error("You specified -palette, but there are more than %d colors in the image -- too many for a "
                     "colormapped PNG",
                     MAX_PALETTE_COLORS);
        attempt->outcome = PALETTE_TOO_MANY_COLORS;
        return;
    }
    attempt->colorCount = cache->count;
    attempt->outcome = PALETTE_COUNTED;
}

void buildPalette(const PaletteRequest* request, const HistogramCache* cache, PaletteAttempt* attempt) {
    if (request->mask) {
        if (request->paletteFile)
            pm_error("This program is not capable of generating a PNG with transparency when you specify the "
                     "palette with -palette.");
        bool fits = buildAlphaPalette(request->raster, request->mask, cache->hist, cache->count, &attempt->base);
        attempt->outcome = fits ? PALETTE_BUILT : PALETTE_TOO_MANY_PAIRS;
        return;
    }
    buildPlainPalette(cache, request->paletteFile, request->verbose, &attempt->base);
    attempt->outcome = PALETTE_BUILT;
}

void histogramCounts(const HistogramCache* cache, const Colormap* colormap, uint16_t* entries) {
    for (int i = 0; i < colormap->paletteSize; ++i) entries[i] = 0;
    if (!cache->hist) return;
    long largest = 0;
    for (int c = 0; c < cache->count; ++c)
        if (cache->hist[c].value > largest) largest = cache->hist[c].value;
    ColorHash counts = ppm_colorhisttocolorhash(cache->hist, cache->count);
    for (int i = 0; i < colormap->paletteSize; ++i) {
        int at = ppm_lookupcolor(counts, &colormap->palette[i]);
        if (at >= 0) entries[i] = histogramEntry(cache->hist[at].value, largest);
    }
    ppm_freecolorhash(counts);
}

HistogramCache::~HistogramCache() { releaseHistogram(this); }

void releaseHistogram(HistogramCache* cache) {
    if (cache->hist) ppm_freecolorhist(cache->hist);
    cache->hist = nullptr;
    cache->computed = false;
}

}  // namespace rasterpack
