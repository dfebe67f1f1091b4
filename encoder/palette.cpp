#include "palette.h"

#include "alphapalette.h"
#include "orderedpalette.h"

#include <cstdint>
#include <cstdlib>

void findHistogram(const RasterSource* raster, bool verbose, HistogramCache* cache) {
    if (cache->computed) return;
    if (verbose) pm_message("Finding colors in input image...");
    rewindRaster(raster);
    cache->hist = ppm_computecolorhist2(raster->input, raster->cols, raster->rows, raster->maxval, raster->format,
                                        MAX_PALETTE_COLORS, &cache->count);
    if (cache->hist) pm_message("%d colors found", cache->count);
    cache->computed = true;
}

namespace {

// A grey image whose palette indexes would need more than half the bits of
// its samples is smaller written as grey.
bool greyIndexTooWide(int count, Sample maxval) {
    if (count == 0) return true;
    return pm_maxvaltobits(Sample(count - 1)) > pm_maxvaltobits(maxval) / 2;
}

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

void attemptColormap(const PaletteRequest* request, HistogramCache* cache, PaletteAttempt* attempt) {
    const bool verbose = request->verbose;
    findHistogram(request->raster, verbose, cache);
    if (!cache->hist) {
        if (request->paletteFile)
            pm_error("You specified -palette, but there are more than %d colors in the image -- too many for a "
                     "colormapped PNG",
                     MAX_PALETTE_COLORS);
        if (verbose) pm_message("More than %d colors found -- too many for a colormapped PNG", MAX_PALETTE_COLORS);
        attempt->outcome = PALETTE_TOO_MANY_COLORS;
        return;
    }
    if (!request->paletteFile && request->imageKind == KIND_PGM &&
        greyIndexTooWide(cache->count, request->raster->maxval)) {
        if (verbose) pm_message("palette index would be larger than the indexed value, so not doing colormap");
        attempt->outcome = PALETTE_GREY_INDEX_TOO_WIDE;
        return;
    }
    if (request->mask) {
        if (request->paletteFile)
            pm_error("This program is not capable of generating a PNG with transparency when you specify the "
                     "palette with -palette.");
        if (!buildAlphaPalette(request->raster, request->mask, cache->hist, cache->count, &attempt->base)) {
            if (verbose) pm_message("too many color/transparency pairs, writing a non-mapped file");
            attempt->outcome = PALETTE_TOO_MANY_PAIRS;
            return;
        }
    } else {
        buildPlainPalette(cache, request->paletteFile, verbose, &attempt->base);
    }
    attempt->outcome = PALETTE_BUILT;
}

int closestPaletteEntry(const Colormap* colormap, int n, Pixel target, uint32_t* distance) {
    int best = 0;
    uint32_t bestDistance = UINT32_MAX;
    for (int i = 0; i < n; ++i) {
        const Pixel& e = colormap->palette[i];
        // samples are at most 255 here: the sum fits 32 bits
        int64_t dr = int64_t(e.r) - target.r, dg = int64_t(e.g) - target.g, db = int64_t(e.b) - target.b;
        uint32_t d = uint32_t(dr * dr + dg * dg + db * db);
        if (d < bestDistance) {
            bestDistance = d;
            best = i;
        }
    }
    *distance = bestDistance;
    return best;
}

TransparentPlacement makePaletteColorTransparent(Colormap* colormap, Pixel transparent, bool exact) {
    if (colormap->paletteSize == 0) return TRANSPARENT_NONE;
    uint32_t distance = 0;
    int chosen = closestPaletteEntry(colormap, colormap->paletteSize, transparent, &distance);
    if (distance != 0 && exact) return TRANSPARENT_NOT_PRESENT;
    Pixel first = colormap->palette[0];
    colormap->palette[0] = colormap->palette[chosen];
    colormap->palette[chosen] = first;
    colormap->paletteAlpha[0] = 0;
    colormap->transSize = 1;
    return TRANSPARENT_MADE;
}

BackgroundPlacement placeBackgroundInPalette(Pixel background, Colormap* colormap) {
    int found = -1;
    for (int i = 0; i < colormap->paletteSize; ++i)
        if (colormap->palette[i] == background) found = i;
    if (found >= 0) {
        colormap->backgroundIndex = found;
        return BACKGROUND_PRESENT;
    }
    if (colormap->paletteSize < MAX_PALETTE_COLORS) {
        int at = colormap->paletteSize++;
        colormap->palette[at] = background;
        // beyond the tRNS entries, so opaque; no pixel has this colour
        colormap->paletteAlpha[at] = 0;
        colormap->backgroundIndex = at;
        return BACKGROUND_ADDED;
    }
    uint32_t distance = 0;
    colormap->backgroundIndex = closestPaletteEntry(colormap, colormap->paletteSize, background, &distance);
    return BACKGROUND_CLOSEST;
}

int chooseIndexBits(int paletteSize) {
    if (paletteSize <= 2) return 1;
    if (paletteSize <= 4) return 2;
    if (paletteSize <= 16) return 4;
    return 8;
}

uint16_t histogramEntry(long count, long largest) {
    if (count <= 0) return 0;
    if (largest <= MAX_HIST_ENTRY) return uint16_t(count);
    uint64_t scaled = (uint64_t(count) * MAX_HIST_ENTRY + uint64_t(largest) / 2) / uint64_t(largest);
    return uint16_t(scaled == 0 ? 1 : scaled);
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

void buildIndexLookup(const Colormap* colormap, bool maskInForce, PaletteLookup* lookup) {
    *lookup = PaletteLookup();
    if (maskInForce) {
        lookup->withAlpha = buildColorAlphaHash(colormap);
        return;
    }
    lookup->plain = ppm_alloccolorhash();
    for (int i = 0; i < colormap->paletteSize; ++i) ppm_addtocolorhash(lookup->plain, &colormap->palette[i], i);
}

int lookupPaletteIndex(PaletteLookup* lookup, const Pixel* pixel, Sample maskValue) {
    if (lookup->lastIndex >= 0 && *pixel == lookup->lastColor && maskValue == lookup->lastAlpha)
        return lookup->lastIndex;
    int index = lookup->withAlpha ? lookupColorAlpha(lookup->withAlpha, pixel->r, pixel->g, pixel->b, maskValue)
                                  : ppm_lookupcolor(lookup->plain, pixel);
    // Every pixel is in the palette by construction; the check guards the
    // row encoder against a broken table rather than the input.
    if (index < 0) pm_error("internal error: colour (%u, %u, %u) missing from the palette", pixel->r, pixel->g,
                            pixel->b);
    lookup->lastColor = *pixel;
    lookup->lastAlpha = maskValue;
    lookup->lastIndex = index;
    return index;
}

void freeIndexLookup(PaletteLookup* lookup) {
    if (lookup->plain) ppm_freecolorhash(lookup->plain);
    freeColorAlphaHash(lookup->withAlpha);
    *lookup = PaletteLookup();
}

void releaseHistogram(HistogramCache* cache) {
    if (cache->hist) ppm_freecolorhist(cache->hist);
    cache->hist = nullptr;
    cache->computed = false;
}
