#include "palette.h"

void attemptColormap(const PaletteRequest*, HistogramCache*, Colormap* colormap) {
    // Palette images are not written yet: every image goes out as grey or
    // truecolour, which represents it exactly.
    colormap->colormapped = false;
}

namespace {

// A palette colour sample or tRNS alpha at 8 bits.
png_byte paletteSampleByte(Sample s, Sample maxval) {
    return static_cast<png_byte>(pm_rescalesample(s, maxval, 255));
}

// hIST entries are 16 bits: a larger count is capped, and a colour that
// occurs keeps a non-zero entry.
png_uint_16 histogramEntry(long count) {
    if (count > 65535) return 65535;
    return static_cast<png_uint_16>(count);
}

}  // namespace

void setPaletteChunks(png_structp png, png_infop info, const PaletteRequest* request, HistogramCache* cache,
                      const Colormap* colormap) {
    Sample maxval = request->raster->maxval;
    png_color plte[MAX_PALETTE_COLORS];
    for (int i = 0; i < colormap->paletteSize; ++i) {
        plte[i].red = paletteSampleByte(colormap->palette[i].r, maxval);
        plte[i].green = paletteSampleByte(colormap->palette[i].g, maxval);
        plte[i].blue = paletteSampleByte(colormap->palette[i].b, maxval);
    }
    png_set_PLTE(png, info, plte, colormap->paletteSize);

    if (colormap->transSize > 0) {
        png_byte trans[MAX_PALETTE_COLORS];
        Sample m = request->maskMaxval;
        for (int i = 0; i < colormap->transSize; ++i)
            trans[i] = paletteSampleByte(colormap->paletteAlpha[i], m);
        png_set_tRNS(png, info, trans, colormap->transSize, nullptr);
    }

    if (request->hist && cache->computed && cache->hist) {
        ColorHash counts = ppm_colorhisttocolorhash(cache->hist, cache->count);
        png_uint_16 entries[MAX_PALETTE_COLORS];
        for (int i = 0; i < colormap->paletteSize; ++i) {
            int at = ppm_lookupcolor(counts, &colormap->palette[i]);
            entries[i] = at < 0 ? 0 : histogramEntry(cache->hist[at].value);
        }
        ppm_freecolorhash(counts);
        png_set_hIST(png, info, entries);
        if (request->verbose) pm_message("histogram created");
    }
}

int lookupPaletteIndex(const Colormap* colormap, const Pixel* pixel, Sample) {
    return ppm_lookupcolor(colormap->plainLookup, pixel);
}

void releaseHistogram(HistogramCache* cache) {
    if (cache->hist) ppm_freecolorhist(cache->hist);
    cache->hist = nullptr;
    cache->computed = false;
}

void freeColormap(Colormap* colormap) {
    if (colormap->plainLookup) ppm_freecolorhash(colormap->plainLookup);
    colormap->plainLookup = nullptr;
}
